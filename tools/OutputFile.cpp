// The output of extract, with a large stdio buffer.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64 // outputs past 2 GB on the 32-bit device too
#endif
#include "OutputFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

#include "ToolError.h"

OutputFile::OutputFile(const std::string& path) : path(path)
{
    if (path == "-") {
        stream = stdout;
        return;
    }
    stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr) {
        throw ToolError(kExitFailure, path + ": cannot write: " + std::strerror(errno));
    }
    struct stat status;
    seekable = fstat(fileno(stream), &status) == 0 && S_ISREG(status.st_mode);
    buffer = static_cast<char*>(std::malloc(kBufferBytes));
    if (buffer != nullptr) {
        std::setvbuf(stream, buffer, _IOFBF, kBufferBytes);
    }
}

OutputFile::~OutputFile()
{
    if (stream != nullptr && stream != stdout) {
        std::fclose(stream);
        std::remove(path.c_str());
    }
    std::free(buffer);
}

void OutputFile::Write(const unsigned char* data, size_t size)
{
    if (size > 0 && std::fwrite(data, 1, size, stream) != size) {
        Fail();
    }
    written += size;
}

void OutputFile::Overwrite(uint64_t offset, const unsigned char* data, size_t size)
{
    if (!seekable || offset + size > written) {
        return;
    }
    if (fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0 || std::fwrite(data, 1, size, stream) != size ||
        fseeko(stream, 0, SEEK_END) != 0) {
        Fail();
    }
}

void OutputFile::Commit()
{
    bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
    if (stream != stdout) {
        ok = std::fclose(stream) == 0 && ok;
        stream = nullptr;
        if (!ok) {
            std::remove(path.c_str());
        }
    }
    if (!ok) {
        Fail();
    }
}

void OutputFile::Fail()
{
    throw ToolError(kExitFailure, (path == "-" ? std::string("standard output") : path) +
                                      ": cannot write: " + std::strerror(errno));
}
