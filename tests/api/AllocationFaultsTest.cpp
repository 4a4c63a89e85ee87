// Allocations that fail: for a load, a full playback and seeks on real
// files, the n-th allocation made (an object or a byte buffer) fails, for
// every n up to the number made. Every entry point must answer a documented
// status, later calls must not crash, and Destroy must release everything
// (the sanitizer build adds leaks and bad accesses).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "TestData.h"
#include "stream/Allocation.h"
#include "zolvdmx.h"

// Every operator new of this program counts as an allocation and fails
// when the test mode says so; outside the test mode none fails. They take
// their memory from malloc, so the deletes give it back with free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size)
{
    if (AllocationFaults::Fail()) {
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size > 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return AllocationFaults::Fail() ? nullptr : std::malloc(size > 0 ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept
{
    return operator new(size, nothrow);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

// A host that allocates nothing, so that only the library's allocations
// are counted: the source bytes and a few fixed handles over them.
struct FixedHost {
    static constexpr int kHandles = 8;
    const std::vector<uint8_t>* bytes = nullptr;
    int64_t positions[kHandles] = {};
    bool open[kHandles] = {};
};
FixedHost fixedHost;

void* HostOpen(unsigned char*)
{
    for (int k = 0; k < FixedHost::kHandles; ++k) {
        if (!fixedHost.open[k]) {
            fixedHost.open[k] = true;
            fixedHost.positions[k] = 0;
            return &fixedHost.positions[k];
        }
    }
    return nullptr;
}

int32_t HostClose(void* handle)
{
    fixedHost.open[static_cast<int64_t*>(handle) - fixedHost.positions] = false;
    return 0;
}

int64_t HostLength(void*)
{
    return static_cast<int64_t>(fixedHost.bytes->size());
}

int32_t HostRead(void* handle, int32_t count, unsigned char* dest)
{
    int64_t& position = *static_cast<int64_t*>(handle);
    int64_t size = static_cast<int64_t>(fixedHost.bytes->size());
    int64_t n = position < size ? std::min<int64_t>(count, size - position) : 0;
    if (n > 0) {
        std::memcpy(dest, fixedHost.bytes->data() + position, static_cast<size_t>(n));
        position += n;
    }
    return static_cast<int32_t>(n);
}

int64_t HostTell(void* handle)
{
    return *static_cast<int64_t*>(handle);
}

int32_t HostSeek(void* handle, int64_t offset, int32_t whence)
{
    int64_t& position = *static_cast<int64_t*>(handle);
    int64_t base = whence == ZOLVDMX_SEEK_SET ? 0 : whence == ZOLVDMX_SEEK_CUR ? position : HostLength(handle);
    position = std::max<int64_t>(0, base + offset);
    return 0;
}

const _ZOLVDMX_READER_CALLBACK_T kCallbacks = {HostOpen, HostClose, HostLength, HostRead, nullptr, HostTell, HostSeek};

// One run over a file: what went against the contract, if anything. Only
// fixed-size storage is touched while allocations may fail.
struct Outcome {
    int problems = 0;
    char first[160] = {};

    void Problem(const char* what, uint32_t status)
    {
        if (problems++ == 0) {
            std::snprintf(first, sizeof first, "%s answered 0x%08x", what, status);
        }
    }
};

uint8_t sampleBuffer[4 << 20];

Outcome Drive()
{
    Outcome run;
    ZOLVDMX_HANDLE_T* handle = nullptr;
    uint32_t status = API_ZOLVDMX_Create(&handle, kCallbacks);
    if (status != ZOLVDMX_OK) {
        if (status != ZOLVDMX_E_FAIL || handle != nullptr) {
            run.Problem("Create", status);
        }
        return run;
    }
    unsigned char name[] = "file";
    status = API_ZOLVDMX_Load(handle, name);
    if (status != ZOLVDMX_OK && status != ZOLVDMX_E_FAIL) {
        run.Problem("Load", status);
    }
    int32_t tracks = API_ZOLVDMX_GetNumTracks(handle);
    for (int32_t track = 0; track < tracks; ++track) {
        ZOLVDMX_MEDIA_FORMAT_T format;
        status = API_ZOLVDMX_GetMediaFormat(handle, track, &format);
        if (status != ZOLVDMX_OK && status != ZOLVDMX_E_FAIL) {
            run.Problem("GetMediaFormat", status);
        }
        auto next = [&]() {
            ZOLVDMX_MEDIA_SAMPLE_T sample;
            std::memset(&sample, 0, sizeof sample);
            sample.buffer = sampleBuffer;
            uint32_t result = API_ZOLVDMX_GetNextMediaSample(handle, track, &sample);
            if (result != ZOLVDMX_OK && result != ZOLVDMX_END_OF_TRACK && result != ZOLVDMX_E_FAIL &&
                result != ZOLVDMX_E_UNSUPPORTED) {
                run.Problem("GetNextMediaSample", result);
            }
            if (result == ZOLVDMX_OK && (sample.size < 0 || sample.size > static_cast<int32_t>(sizeof sampleBuffer))) {
                run.Problem("GetNextMediaSample size", static_cast<uint32_t>(sample.size));
            }
            return result;
        };
        for (int requests = 0; requests < 20000; ++requests) {
            uint32_t result = next();
            if (result != ZOLVDMX_OK && result != ZOLVDMX_E_FAIL) {
                break;
            }
        }
        for (int64_t time : {int64_t{15000000}, int64_t{0}, int64_t{5000000000}}) {
            int64_t result = 0;
            status = API_ZOLVDMX_Seek(handle, track, time, &result);
            if (status != ZOLVDMX_OK && status != ZOLVDMX_E_FAIL) {
                run.Problem("Seek", status);
            }
            next();
        }
    }
    status = API_ZOLVDMX_Destroy(handle);
    if (status != ZOLVDMX_OK) {
        run.Problem("Destroy", status);
    }
    return run;
}

} // namespace

TEST(AllocationFaults, EveryEntryPointAnswersADocumentedStatusAndReleasesEverything)
{
    // The library's own lines would flood the output: stdout goes away while
    // the runs go on.
    testing::internal::CaptureStdout();
    for (const char* name : {"h264_aac.mkv", "mpeg4_mp3.mkv", "theora_vorbis.mkv", "ac3_only.mkv",
                             "header_stripped.mkv", "hevc_opus.mkv", "vp9_opus.webm"}) {
        std::vector<uint8_t> bytes = ReadTestFile(name);
        ASSERT_FALSE(bytes.empty()) << name;
        fixedHost.bytes = &bytes;

        AllocationFaults::FailAt(-1); // counting only
        Outcome clean = Drive();
        int64_t total = AllocationFaults::Count();
        AllocationFaults::FailAt(0);
        EXPECT_EQ(clean.problems, 0) << name << ": " << clean.first;
        EXPECT_GT(total, 50) << name << ": allocations counted";

        for (int64_t n = 1; n <= total; ++n) {
            AllocationFaults::FailAt(n);
            Outcome run = Drive();
            AllocationFaults::FailAt(0);
            EXPECT_EQ(run.problems, 0) << name << ", allocation " << n << " failing: " << run.first;
            for (bool open : fixedHost.open) {
                EXPECT_FALSE(open) << name << ", allocation " << n << " failing: a host handle left open";
            }
        }
    }
    testing::internal::GetCapturedStdout();
}
