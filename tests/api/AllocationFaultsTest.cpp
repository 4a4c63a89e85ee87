// The n-th allocation of a load, a full playback and seeks of real files fails, for every n up to the number
// made: every entry point answers a documented status and Destroy releases everything (the sanitizer build
// adds leaks and bad accesses).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "TestData.h"
#include "stream/Allocation.h"
#include "zolvdmx.h"

// Every operator new of this program counts as an allocation and fails when the test mode says so.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return AllocationFaults::Fail() ? nullptr : std::malloc(size > 0 ? size : 1);
}
void* operator new(std::size_t size)
{
    void* p = operator new(size, std::nothrow);
    return p != nullptr ? p : throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept { return operator new(size, nothrow); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

// A host that allocates nothing, so that only the library's allocations count: eight handles over the
// source bytes, each its position.
const std::vector<uint8_t>* source = nullptr;
int64_t positions[8];
bool open[8];

void* HostOpen(unsigned char*)
{
    bool* free = std::find(std::begin(open), std::end(open), false);
    if (free == std::end(open)) {
        return nullptr;
    }
    *free = true;
    positions[free - open] = 0;
    return &positions[free - open];
}
int32_t HostClose(void* handle) { return open[static_cast<int64_t*>(handle) - positions] = false; }
int64_t HostLength(void*) { return static_cast<int64_t>(source->size()); }
int64_t HostTell(void* handle) { return *static_cast<int64_t*>(handle); }

int32_t HostRead(void* handle, int32_t count, unsigned char* dest)
{
    int64_t& position = *static_cast<int64_t*>(handle);
    const int64_t n = std::min<int64_t>(count, HostLength(handle) - position);
    if (n <= 0) {
        return 0;
    }
    std::memcpy(dest, source->data() + position, static_cast<size_t>(n));
    position += n;
    return static_cast<int32_t>(n);
}

int32_t HostSeek(void* handle, int64_t offset, int32_t whence)
{
    int64_t& position = *static_cast<int64_t*>(handle);
    int64_t base = whence == ZOLVDMX_SEEK_SET ? 0 : whence == ZOLVDMX_SEEK_CUR ? position : HostLength(handle);
    position = std::max<int64_t>(0, base + offset);
    return 0;
}

// One run over the source: the first answer against the contract, if any, kept in fixed-size storage.
struct Outcome {
    int problems = 0;
    char first[64] = {};

    uint32_t Check(const char* what, uint32_t status, std::initializer_list<uint32_t> allowed)
    {
        if (std::find(allowed.begin(), allowed.end(), status) == allowed.end() && problems++ == 0) {
            std::snprintf(first, sizeof first, "%s answered 0x%08x", what, status);
        }
        return status;
    }
};

uint8_t sampleBuffer[4 << 20];

Outcome Drive()
{
    Outcome run;
    ZOLVDMX_HANDLE_T* handle = nullptr;
    const uint32_t created = API_ZOLVDMX_Create(&handle, {HostOpen, HostClose, HostLength, HostRead, nullptr, HostTell,
                                                          HostSeek});
    if (run.Check("Create", created, {ZOLVDMX_OK, ZOLVDMX_E_FAIL}) != ZOLVDMX_OK) {
        run.Check("Create, a handle left", handle == nullptr ? ZOLVDMX_OK : ZOLVDMX_E_FAIL, {ZOLVDMX_OK});
        return run;
    }
    unsigned char name[] = "file";
    run.Check("Load", API_ZOLVDMX_Load(handle, name), {ZOLVDMX_OK, ZOLVDMX_E_FAIL});
    for (int32_t track = 0; track < API_ZOLVDMX_GetNumTracks(handle); ++track) {
        ZOLVDMX_MEDIA_FORMAT_T format;
        run.Check("GetMediaFormat", API_ZOLVDMX_GetMediaFormat(handle, track, &format), {ZOLVDMX_OK, ZOLVDMX_E_FAIL});
        auto next = [&]() {
            ZOLVDMX_MEDIA_SAMPLE_T sample;
            std::memset(&sample, 0, sizeof sample);
            sample.buffer = sampleBuffer;
            uint32_t status = run.Check("GetNextMediaSample", API_ZOLVDMX_GetNextMediaSample(handle, track, &sample),
                                        {ZOLVDMX_OK, ZOLVDMX_END_OF_TRACK, ZOLVDMX_E_FAIL, ZOLVDMX_E_UNSUPPORTED});
            bool inside = sample.size >= 0 && sample.size <= static_cast<int32_t>(sizeof sampleBuffer);
            run.Check("GetNextMediaSample, its size", status != ZOLVDMX_OK || inside, {1});
            return status == ZOLVDMX_OK || status == ZOLVDMX_E_FAIL;
        };
        for (int requests = 0; requests < 20000 && next(); ++requests) {
        }
        for (int64_t time : {int64_t{15000000}, int64_t{0}, int64_t{5000000000}}) {
            int64_t result = 0;
            run.Check("Seek", API_ZOLVDMX_Seek(handle, track, time, &result), {ZOLVDMX_OK, ZOLVDMX_E_FAIL});
            next();
        }
    }
    run.Check("Destroy", API_ZOLVDMX_Destroy(handle), {ZOLVDMX_OK});
    return run;
}

} // namespace

TEST(AllocationFaults, EveryEntryPointAnswersADocumentedStatusAndReleasesEverything)
{
    // The library's own lines would flood the output.
    testing::internal::CaptureStdout();
    for (const char* name : {"h264_aac.mkv", "mpeg4_mp3.mkv", "theora_vorbis.mkv", "ac3_only.mkv",
                             "header_stripped.mkv", "hevc_opus.mkv", "vp9_opus.webm"}) {
        const std::vector<uint8_t> bytes = ReadTestFile(name);
        source = &bytes;
        AllocationFaults::FailAt(-1); // counting only
        const Outcome clean = Drive();
        const int64_t total = AllocationFaults::Count();
        AllocationFaults::FailAt(0);
        EXPECT_EQ(clean.problems, 0) << name << ": " << clean.first;
        EXPECT_GT(total, 50) << name << ": allocations counted";
        for (int64_t n = 1; n <= total; ++n) {
            AllocationFaults::FailAt(n);
            const Outcome run = Drive();
            AllocationFaults::FailAt(0);
            EXPECT_EQ(run.problems, 0) << name << ", allocation " << n << " failing: " << run.first;
            EXPECT_EQ(std::count(std::begin(open), std::end(open), true), 0) << name << ", allocation " << n
                                                                              << " failing: host handles left open";
        }
    }
    testing::internal::GetCapturedStdout();
}
