// A handle loaded over an in-memory host through the C interface, as a
// host would drive it, with the library's own stdout lines kept out of the
// test output.
#ifndef MKV_TESTS_SUPPORT_LOADEDFILE_H
#define MKV_TESTS_SUPPORT_LOADEDFILE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Md5.h"
#include "MemoryReader.h"
#include "zolvdmx.h"

struct Sample {
    uint32_t status = 0;
    int64_t start = 0;
    int64_t end = 0;
    uint32_t sync = 0;
    std::vector<uint8_t> bytes;
    uint32_t reserved2 = 0;
};

class LoadedFile {
public:
    // logCalls false: the host keeps no call log (long runs).
    explicit LoadedFile(std::vector<uint8_t> bytes, bool logCalls = true);
    ~LoadedFile();
    LoadedFile(const LoadedFile&) = delete;
    LoadedFile& operator=(const LoadedFile&) = delete;

    uint32_t loadStatus = 0;
    int32_t Tracks() const;
    ZOLVDMX_MEDIA_FORMAT_T Format(int32_t track) const;
    // One sample request into a buffer of the track's maxSampleSize (at
    // least 1 MB for tracks that ask for less than a frame may need).
    Sample Next(int32_t track, size_t bufferSize = 0);
    // Every sample until the request answers something other than 0
    // (failures included, up to `limit` requests).
    std::vector<Sample> All(int32_t track, size_t limit = 100000);
    uint32_t Seek(int32_t track, int64_t time, int64_t& result);

    MemoryReader host;
    ZOLVDMX_HANDLE_T* handle = nullptr;

private:
    std::unique_ptr<uint8_t[]> sampleBuffer;
    size_t sampleBufferSize = 0;
};

inline std::string Md5Hex(const std::vector<uint8_t>& bytes)
{
    return Md5Hex(bytes.data(), bytes.size());
}

#endif
