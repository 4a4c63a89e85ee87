// Fuzz target: any input is loaded as a file, every track read to its end,
// and seeked; only documented results may come back (anything else aborts,
// so the fuzzer reports it like a crash). Run with the real test files as
// the seed corpus: fuzz_demux -max_len=200000 corpus/ tests/data/
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "MemoryReader.h"
#include "zolvdmx.h"

namespace {

void Require(bool documented, const char* what, uint32_t value)
{
    if (!documented) {
        std::fprintf(stderr, "undocumented result from %s: 0x%08x\n", what, value);
        std::abort();
    }
}

bool IsSampleStatus(uint32_t status)
{
    return status == ZOLVDMX_OK || status == ZOLVDMX_END_OF_TRACK || status == ZOLVDMX_E_FAIL ||
           status == ZOLVDMX_E_UNSUPPORTED;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The library's load and destruction lines would flood the fuzzer's output.
    std::freopen("/dev/null", "w", stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MemoryReader host(std::vector<uint8_t>(data, data + size));
    host.logging = false;
    ZOLVDMX_HANDLE_T* handle = nullptr;
    if (API_ZOLVDMX_Create(&handle, host.Callbacks()) != ZOLVDMX_OK) {
        return 0;
    }
    uint32_t loaded = API_ZOLVDMX_Load(handle, host.Name());
    Require(loaded == ZOLVDMX_OK || loaded == ZOLVDMX_E_FAIL, "Load", loaded);
    int32_t tracks = API_ZOLVDMX_GetNumTracks(handle);
    for (int32_t track = 0; track < tracks; ++track) {
        int32_t type = API_ZOLVDMX_GetTrackType(handle, track);
        Require(type >= -1 && type <= 2, "GetTrackType", static_cast<uint32_t>(type));
        ZOLVDMX_MEDIA_FORMAT_T format;
        API_ZOLVDMX_GetMediaFormat(handle, track, &format);
        // The size the host is told to provide, but no more than any frame of
        // this input can need (a rewritten H.264 frame grows at most fourfold),
        // since damaged picture sizes ask for gigabytes.
        size_t capacity = format.maxSampleSize > 0 ? format.maxSampleSize : 1;
        if (capacity > 4 * size + 64) {
            capacity = 4 * size + 64;
        }
        if (format.configSize > 0 && static_cast<size_t>(format.configSize) > capacity) {
            capacity = static_cast<size_t>(format.configSize);
        }
        std::vector<uint8_t> buffer(capacity);
        int64_t lastStart = 0;
        // A block of a few bytes can lace 256 frames of nothing.
        const size_t mostFrames = 64 * size + 16;
        for (size_t requests = 0; requests <= mostFrames; ++requests) {
            ZOLVDMX_MEDIA_SAMPLE_T sample;
            std::memset(&sample, 0, sizeof sample);
            sample.buffer = buffer.data();
            uint32_t status = API_ZOLVDMX_GetNextMediaSample(handle, track, &sample);
            Require(IsSampleStatus(status), "GetNextMediaSample", status);
            Require(status != ZOLVDMX_OK || (sample.size >= 0 && static_cast<size_t>(sample.size) <= capacity),
                    "sample size", static_cast<uint32_t>(sample.size));
            Require(status != ZOLVDMX_OK || sample.endTime >= sample.startTime, "end before start",
                    static_cast<uint32_t>(sample.startTime - sample.endTime));
            if (status == ZOLVDMX_OK && sample.startTime > lastStart) {
                lastStart = sample.startTime;
            }
            if (status != ZOLVDMX_OK && status != ZOLVDMX_E_FAIL) {
                break;
            }
            Require(requests < mostFrames, "sample delivery that never ends", 0);
        }
        for (int64_t time : {int64_t{0}, int64_t{15000000}, lastStart / 2, lastStart + 1, int64_t{-3}}) {
            int64_t result = 0;
            uint32_t status = API_ZOLVDMX_Seek(handle, track, time, &result);
            Require(status == ZOLVDMX_OK || status == ZOLVDMX_E_FAIL, "Seek", status);
            ZOLVDMX_MEDIA_SAMPLE_T sample;
            std::memset(&sample, 0, sizeof sample);
            sample.buffer = buffer.data();
            status = API_ZOLVDMX_GetNextMediaSample(handle, track, &sample);
            Require(IsSampleStatus(status), "GetNextMediaSample after a seek", status);
        }
    }
    API_ZOLVDMX_Destroy(handle);
    return 0;
}
