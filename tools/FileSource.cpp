// Reader callbacks over a read-only memory mapping, or a stdio stream. The
// library issues many small reads (element headers of a few bytes), so
// each must be a memory copy, not a system call.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64 // 64-bit offsets on the 32-bit device too
#endif

#include "FileSource.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A stdio stream reads ahead this much per system call.
constexpr size_t kStdioBufferBytes = 1 << 20;

// What the library holds as its host handle.
struct OpenFile {
    // Mapped form.
    const unsigned char* data = nullptr;
    int64_t size = 0;
    int64_t position = 0;
    bool mapped = false;
    // Stdio form.
    FILE* stream = nullptr;
    char* streamBuffer = nullptr;
};

bool MapWhole(int fd, int64_t size, OpenFile& file)
{
    if (size == 0) {
        file.mapped = true; // nothing to map; every read delivers 0 bytes
        return true;
    }
    if (static_cast<uint64_t>(size) > std::numeric_limits<size_t>::max()) {
        return false;
    }
    void* base = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (base == MAP_FAILED) {
        return false;
    }
    file.data = static_cast<const unsigned char*>(base);
    file.mapped = true;
    return true;
}

bool OpenStream(const char* path, OpenFile& file)
{
    file.stream = std::fopen(path, "rb");
    if (file.stream == nullptr) {
        return false;
    }
    file.streamBuffer = static_cast<char*>(std::malloc(kStdioBufferBytes));
    if (file.streamBuffer != nullptr) {
        std::setvbuf(file.stream, file.streamBuffer, _IOFBF, kStdioBufferBytes);
    }
    return true;
}

void* SourceOpen(unsigned char* name)
{
    const char* path = reinterpret_cast<const char*>(name);
    if (path == nullptr) {
        return nullptr;
    }
    auto* file = new (std::nothrow) OpenFile;
    if (file == nullptr) {
        return nullptr;
    }
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        delete file;
        return nullptr;
    }
    struct stat info;
    bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (regular) {
        file->size = static_cast<int64_t>(info.st_size);
        MapWhole(fd, file->size, *file);
    }
    close(fd); // a mapping outlives its descriptor
    if (!regular || (!file->mapped && !OpenStream(path, *file))) {
        delete file;
        return nullptr;
    }
    return file;
}

int32_t SourceClose(void* handle)
{
    auto* file = static_cast<OpenFile*>(handle);
    if (file == nullptr) {
        return -1;
    }
    int32_t result = 0;
    if (file->data != nullptr) {
        result = munmap(const_cast<unsigned char*>(file->data), static_cast<size_t>(file->size));
    }
    if (file->stream != nullptr) {
        result = std::fclose(file->stream);
    }
    std::free(file->streamBuffer);
    delete file;
    return result;
}

int64_t SourceLength(void* handle)
{
    return static_cast<OpenFile*>(handle)->size;
}

int32_t SourceRead(void* handle, int32_t count, unsigned char* dest)
{
    auto* file = static_cast<OpenFile*>(handle);
    if (count <= 0 || dest == nullptr) {
        return 0;
    }
    if (!file->mapped) {
        return static_cast<int32_t>(std::fread(dest, 1, static_cast<size_t>(count), file->stream));
    }
    if (file->position >= file->size) {
        return 0;
    }
    int64_t available = file->size - file->position;
    int32_t n = available < count ? static_cast<int32_t>(available) : count;
    std::memcpy(dest, file->data + file->position, static_cast<size_t>(n));
    file->position += n;
    return n;
}

int64_t SourceTell(void* handle)
{
    auto* file = static_cast<OpenFile*>(handle);
    return file->mapped ? file->position : static_cast<int64_t>(ftello(file->stream));
}

// As lseek: a position past the end is allowed (reads there deliver
// nothing), one before the start is refused and changes nothing.
int32_t SourceSeek(void* handle, int64_t offset, int32_t whence)
{
    auto* file = static_cast<OpenFile*>(handle);
    if (!file->mapped) {
        int origin = whence == ZOLVDMX_SEEK_SET ? SEEK_SET : whence == ZOLVDMX_SEEK_CUR ? SEEK_CUR : SEEK_END;
        return fseeko(file->stream, static_cast<off_t>(offset), origin);
    }
    int64_t base = whence == ZOLVDMX_SEEK_SET ? 0 : whence == ZOLVDMX_SEEK_CUR ? file->position : file->size;
    if ((offset < 0 && base < -offset) || (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset)) {
        return -1;
    }
    file->position = base + offset;
    return 0;
}

} // namespace

_ZOLVDMX_READER_CALLBACK_T FileSourceCallbacks()
{
    _ZOLVDMX_READER_CALLBACK_T callbacks{};
    callbacks.open = SourceOpen;
    callbacks.close = SourceClose;
    callbacks.length = SourceLength;
    callbacks.read = SourceRead;
    callbacks.spare = nullptr; // never called
    callbacks.tell = SourceTell;
    callbacks.seek = SourceSeek;
    return callbacks;
}

std::string CheckReadableFile(const std::string& path, long long* size)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat info;
    std::string problem;
    if (fstat(fd, &info) != 0) {
        problem = std::strerror(errno);
    } else if (S_ISDIR(info.st_mode)) {
        problem = "is a directory";
    } else if (!S_ISREG(info.st_mode)) {
        problem = "not a regular file";
    } else {
        // Some files open but cannot be read (an I/O error, say).
        unsigned char probe;
        if (read(fd, &probe, 1) < 0) {
            problem = std::strerror(errno);
        }
        if (size != nullptr) {
            *size = static_cast<long long>(info.st_size);
        }
    }
    close(fd);
    return problem;
}

namespace {

// Element IDs as stored, length marker included.
constexpr uint32_t kIdEbmlHeader = 0x1A45DFA3;
constexpr uint32_t kIdSegment = 0x18538067;
// Top-level elements looked at before the Segment: the EBML header and a
// few Void elements at most.
constexpr int kLeadingElements = 8;
constexpr uint64_t kUnknownSize = UINT64_MAX;

// One EBML variable-length integer: its length is the count of leading zero
// bits of the first byte plus one. An ID keeps its marker bit; a size drops
// it, and a size whose value bits are all ones is unknown (kUnknownSize).
bool ReadVint(FILE* stream, bool keepMarker, uint64_t& value)
{
    int first = std::fgetc(stream);
    if (first <= 0) {
        return false; // end of file, or no marker in eight bits
    }
    int length = 1;
    while ((first & (0x80 >> (length - 1))) == 0) {
        ++length;
    }
    unsigned marker = 0x80u >> (length - 1);
    value = keepMarker ? static_cast<uint64_t>(first) : static_cast<uint64_t>(first & (marker - 1));
    bool allOnes = (first & (marker - 1)) == marker - 1;
    for (int i = 1; i < length; ++i) {
        int next = std::fgetc(stream);
        if (next < 0) {
            return false;
        }
        value = value << 8 | static_cast<uint64_t>(next);
        allOnes = allOnes && next == 0xFF;
    }
    if (!keepMarker && allOnes) {
        value = kUnknownSize;
    }
    return true;
}

} // namespace

long long SegmentShortfall(const std::string& path, long long fileSize)
{
    FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        return 0;
    }
    long long shortfall = 0;
    for (int element = 0; element < kLeadingElements; ++element) {
        uint64_t id = 0;
        uint64_t size = 0;
        if (!ReadVint(stream, true, id) || (element == 0 && id != kIdEbmlHeader) || !ReadVint(stream, false, size) ||
            size == kUnknownSize) {
            break;
        }
        long long dataStart = static_cast<long long>(ftello(stream));
        if (dataStart < 0) {
            break;
        }
        // A size too large for a 64-bit offset ends past the file all the same.
        long long end = size > static_cast<uint64_t>(INT64_MAX - dataStart) ? INT64_MAX
                                                                            : dataStart + static_cast<long long>(size);
        if (id == kIdSegment) {
            shortfall = end > fileSize ? end - fileSize : 0;
            break;
        }
        if (end > fileSize || fseeko(stream, static_cast<off_t>(end), SEEK_SET) != 0) {
            break;
        }
    }
    std::fclose(stream);
    return shortfall;
}
