// Host-callback stream. A closed stream (or one without callbacks) answers
// every operation as an empty source and never calls the host. Every read
// is whole: it asks the host again until the count has arrived.
#include "NoCachingFileStreamParser.h"

NoCachingFileStreamParser::NoCachingFileStreamParser() = default;

NoCachingFileStreamParser::NoCachingFileStreamParser(unsigned char* name, bool& ok,
                                                     _ZOLVDMX_READER_CALLBACK_T* callbacks)
    : reader(callbacks)
{
    ok = Load(name);
}

NoCachingFileStreamParser::~NoCachingFileStreamParser()
{
    if (IsOpen()) {
        reader->close(handle);
    }
}

bool NoCachingFileStreamParser::Load(unsigned char* name)
{
    if (reader == nullptr) {
        return false;
    }
    if (handle != nullptr) {
        reader->close(handle);
        handle = nullptr;
    }
    // The old source's length goes with its handle, so that a failed reopen
    // leaves an empty source rather than one that never reaches its end.
    fileLength = 0;
    handle = reader->open(name);
    if (handle == nullptr) {
        return false;
    }
    reader->seek(handle, 0, ZOLVDMX_SEEK_END);
    fileLength = reader->length(handle);
    reader->seek(handle, 0, ZOLVDMX_SEEK_SET);
    return true;
}

int64_t NoCachingFileStreamParser::GetFileLength()
{
    return fileLength;
}

void NoCachingFileStreamParser::RefreshLength()
{
    if (IsOpen()) {
        reader->seek(handle, 0, ZOLVDMX_SEEK_END);
        fileLength = reader->length(handle);
    }
}

int32_t NoCachingFileStreamParser::isEof(void* hostHandle)
{
    if (reader == nullptr || hostHandle == nullptr) {
        return -1;
    }
    return reader->tell(hostHandle) == fileLength ? -1 : 0;
}

int32_t NoCachingFileStreamParser::Read(int32_t count, uint8_t* dest)
{
    if (!IsOpen() || count < 0 || dest == nullptr) {
        return 0;
    }
    // Network, pipe and flash readers may answer part of a request; asking
    // again until the count arrives keeps a short answer from passing for
    // the end. Only an answer of 0 or less (end of source, error) stops early.
    int32_t total = 0;
    do {
        int32_t wanted = count - total;
        int32_t n = reader->read(handle, wanted, dest + total);
        if (n <= 0) {
            break;
        }
        total += n > wanted ? wanted : n;
    } while (total < count);
    return total;
}

int32_t NoCachingFileStreamParser::GetBytes(int32_t count, uint8_t* dest)
{
    return Read(count, dest);
}

int32_t NoCachingFileStreamParser::GetByte()
{
    uint8_t b = 0;
    Read(1, &b);
    return b;
}

int32_t NoCachingFileStreamParser::Peek(uint8_t* dest, int32_t count)
{
    if (!IsOpen() || isEof(handle)) {
        return 0;
    }
    int32_t n = Read(count, dest);
    reader->seek(handle, -static_cast<int64_t>(n), ZOLVDMX_SEEK_CUR);
    return n;
}

int32_t NoCachingFileStreamParser::Shift(int32_t count)
{
    if (IsOpen()) {
        reader->seek(handle, static_cast<int64_t>(count), ZOLVDMX_SEEK_CUR);
    }
    return 1;
}

int32_t NoCachingFileStreamParser::SkipBytes(int32_t count)
{
    return Shift(count);
}

int32_t NoCachingFileStreamParser::Seek(int64_t offset, int32_t whence)
{
    if (IsOpen()) {
        reader->seek(handle, offset, whence);
    }
    return 1;
}

int64_t NoCachingFileStreamParser::Tell()
{
    return IsOpen() ? reader->tell(handle) : 0;
}

bool NoCachingFileStreamParser::IsEnd()
{
    return Tell() >= fileLength;
}
