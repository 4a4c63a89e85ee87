// A handle loaded over an in-memory host through the C interface, as a host
// drives it. Every answer is checked against what a host may be given, the
// library's stdout lines are kept out of the test output, and every host
// handle must be closed once the handle is destroyed. Also the bytes tests
// compare: written as hex, or read from a record.
#ifndef MKV_TESTS_SUPPORT_LOADEDFILE_H
#define MKV_TESTS_SUPPORT_LOADEDFILE_H

#include <memory>
#include <string>
#include <vector>

#include "MemoryReader.h"

using Bytes = std::vector<uint8_t>;

struct Sample {
    uint32_t status = 0;
    int64_t start = 0;
    int64_t end = 0;
    uint32_t sync = 0;
    std::vector<uint8_t> bytes;
};

class LoadedFile {
public:
    explicit LoadedFile(MemoryReader reader);
    explicit LoadedFile(std::vector<uint8_t> bytes) : LoadedFile(MemoryReader(std::move(bytes))) {}
    ~LoadedFile();

    int32_t Tracks() const { return API_ZOLVDMX_GetNumTracks(handle); }
    int32_t Type(int32_t track) const { return API_ZOLVDMX_GetTrackType(handle, track); }
    ZOLVDMX_MEDIA_FORMAT_T Format(int32_t track) const;
    // One request into a buffer of exactly `size` bytes (the track's
    // maxSampleSize by default), so that the sanitizer sees a write past it.
    Sample Next(int32_t track, size_t size = 0);
    // Every sample until a request answers neither 0 nor a failure.
    std::vector<Sample> All(int32_t track);
    uint32_t Seek(int32_t track, int64_t time, int64_t& result);

    MemoryReader host; // its call log off
    ZOLVDMX_HANDLE_T* handle = nullptr;
    uint32_t loadStatus = 0;

private:
    std::unique_ptr<uint8_t[]> buffer;
    size_t bufferSize = 0;
};

// Bytes from hex digits; spaces only separate fields for the reader.
inline Bytes Hex(const std::string& text)
{
    Bytes bytes;
    for (size_t i = 0; i < text.size(); i += text[i] == ' ' ? 1 : 2) {
        if (text[i] != ' ') {
            bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        }
    }
    return bytes;
}

// `count` bytes at p (none for a null pointer).
inline Bytes At(const void* p, int64_t count)
{
    const auto* bytes = static_cast<const uint8_t*>(p);
    return bytes == nullptr ? Bytes{} : Bytes(bytes, bytes + count);
}

#endif
