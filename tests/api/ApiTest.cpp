// The eight entry points as a host drives them: creation with the host's
// callbacks, one load per handle, and arguments the library must refuse
// rather than crash on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "EbmlWriter.h"
#include "MemoryReader.h"
#include "TestData.h"
#include "zolvdmx.h"

namespace {

constexpr uint32_t kFail = 0x80004005u;

// A handle over `host`, created through the entry point.
ZOLVDMX_HANDLE_T* CreateOver(MemoryReader& host)
{
    ZOLVDMX_HANDLE_T* handle = nullptr;
    EXPECT_EQ(API_ZOLVDMX_Create(&handle, host.Callbacks()), 0u);
    EXPECT_NE(handle, nullptr);
    return handle;
}

} // namespace

TEST(ApiCreate, RefusesANullOutPointerOrMissingCallbacksAndOpensNothing)
{
    MemoryReader host;
    EXPECT_EQ(API_ZOLVDMX_Create(nullptr, host.Callbacks()), kFail);

    using Entry = void (*)(_ZOLVDMX_READER_CALLBACK_T&);
    struct Case {
        const char* missing;
        Entry clear;
    };
    const Case cases[] = {
        {"open", [](auto& r) { r.open = nullptr; }},
        {"close", [](auto& r) { r.close = nullptr; }},
        {"length", [](auto& r) { r.length = nullptr; }},
        {"read", [](auto& r) { r.read = nullptr; }},
        {"tell", [](auto& r) { r.tell = nullptr; }},
        {"seek", [](auto& r) { r.seek = nullptr; }},
    };
    for (const Case& c : cases) {
        _ZOLVDMX_READER_CALLBACK_T callbacks = host.Callbacks();
        c.clear(callbacks);
        auto* sentinel = reinterpret_cast<ZOLVDMX_HANDLE_T*>(&host);
        ZOLVDMX_HANDLE_T* handle = sentinel;
        EXPECT_EQ(API_ZOLVDMX_Create(&handle, callbacks), kFail) << c.missing;
        EXPECT_EQ(handle, sentinel) << c.missing;
    }
    // The spare entry is not needed, and nothing is opened before Load.
    ASSERT_EQ(host.Callbacks().spare, nullptr);
    ZOLVDMX_HANDLE_T* handle = CreateOver(host);
    EXPECT_EQ(API_ZOLVDMX_GetNumTracks(handle), 0);
    EXPECT_EQ(API_ZOLVDMX_Destroy(handle), 0u);
    EXPECT_TRUE(host.log.empty());
}

TEST(ApiNullHandle, EveryEntryPointRefusesIt)
{
    uint8_t buffer[16] = {};
    ZOLVDMX_MEDIA_SAMPLE_T sample{};
    sample.buffer = buffer;
    ZOLVDMX_MEDIA_FORMAT_T format{};
    int64_t resultTime = 0;
    MemoryReader host;

    EXPECT_EQ(API_ZOLVDMX_Destroy(nullptr), kFail);
    EXPECT_EQ(API_ZOLVDMX_Load(nullptr, host.Name()), kFail);
    EXPECT_EQ(API_ZOLVDMX_GetNumTracks(nullptr), 0);
    EXPECT_EQ(API_ZOLVDMX_GetTrackType(nullptr, 0), -1);
    EXPECT_EQ(API_ZOLVDMX_GetMediaFormat(nullptr, 0, &format), kFail);
    EXPECT_EQ(API_ZOLVDMX_GetNextMediaSample(nullptr, 0, &sample), kFail);
    EXPECT_EQ(API_ZOLVDMX_Seek(nullptr, 0, 12345678, &resultTime), kFail);
    EXPECT_EQ(resultTime, 12345678);
    EXPECT_TRUE(host.log.empty());
}

TEST(ApiLoad, SourcesWithoutASegmentFailAndLeaveNoTracksOrOpenHandles)
{
    struct Case {
        const char* what;
        Bytes bytes;
        bool failOpen;
    };
    const Case cases[] = {
        {"cannot be opened", ReadTestFile("h264_aac.mkv"), true},
        {"empty", {}, false},
        {"EBML header and Void", ebml::Cat({ebml::EbmlHeader(), ebml::Element(0xEC, ebml::Filler(20))}), false},
        {"EBML header then a Cluster", ebml::Cat({ebml::EbmlHeader(), ebml::Master(0x1F43B675, {ebml::UInt(0xE7, 0)})}),
         false},
    };
    for (const Case& c : cases) {
        MemoryReader host(c.bytes);
        host.failOpen = c.failOpen;
        ZOLVDMX_HANDLE_T* handle = CreateOver(host);
        EXPECT_EQ(API_ZOLVDMX_Load(handle, host.Name()), kFail) << c.what;
        EXPECT_EQ(API_ZOLVDMX_GetNumTracks(handle), 0) << c.what;
        EXPECT_EQ(API_ZOLVDMX_GetTrackType(handle, 0), -1) << c.what;
        int64_t resultTime = 0;
        EXPECT_EQ(API_ZOLVDMX_Seek(handle, 0, 5000, &resultTime), kFail) << c.what;
        EXPECT_EQ(resultTime, 5000) << c.what;
        EXPECT_EQ(API_ZOLVDMX_Destroy(handle), 0u) << c.what;
        EXPECT_EQ(host.openHandles, 0) << c.what;
    }
}

TEST(ApiLoad, ASecondLoadOnOneHandleIsRefusedWithoutTouchingTheSource)
{
    MemoryReader host(ReadTestFile("h264_aac.mkv"));
    ASSERT_FALSE(host.bytes.empty());
    ZOLVDMX_HANDLE_T* handle = CreateOver(host);
    ASSERT_EQ(API_ZOLVDMX_Load(handle, host.Name()), 0u);
    EXPECT_EQ(API_ZOLVDMX_GetNumTracks(handle), 3);
    host.ClearLog();
    EXPECT_EQ(API_ZOLVDMX_Load(handle, host.Name()), kFail);
    EXPECT_TRUE(host.log.empty());
    EXPECT_EQ(API_ZOLVDMX_GetNumTracks(handle), 3);
    EXPECT_EQ(API_ZOLVDMX_Destroy(handle), 0u);
    EXPECT_EQ(host.openHandles, 0);

    // Also after a first load that failed.
    MemoryReader broken(ReadTestFile("h264_aac.mkv"));
    broken.failOpen = true;
    handle = CreateOver(broken);
    EXPECT_EQ(API_ZOLVDMX_Load(handle, broken.Name()), kFail);
    broken.failOpen = false;
    EXPECT_EQ(API_ZOLVDMX_Load(handle, broken.Name()), kFail);
    EXPECT_EQ(API_ZOLVDMX_GetNumTracks(handle), 0);
    EXPECT_EQ(broken.openHandles, 0);
    API_ZOLVDMX_Destroy(handle);
}

TEST(ApiLoad, EveryHostHandleIsClosedWhicheverOpenFails)
{
    // Loading opens the source several times (the file object twice, then
    // one stream per read cursor); refusing any one of them must not leak
    // the others.
    for (int failing = 1; failing <= 6; ++failing) {
        MemoryReader host(ReadTestFile("h264_aac.mkv"));
        host.failOpenOnCall = failing;
        ZOLVDMX_HANDLE_T* handle = CreateOver(host);
        uint32_t result = API_ZOLVDMX_Load(handle, host.Name());
        if (failing <= 2) {
            EXPECT_EQ(result, kFail) << failing;
            EXPECT_EQ(API_ZOLVDMX_GetNumTracks(handle), 0) << failing;
        }
        EXPECT_EQ(API_ZOLVDMX_Destroy(handle), 0u) << failing;
        EXPECT_EQ(host.openHandles, 0) << failing;
    }
}

TEST(ApiTrackIndex, OutsideTheTableOrWithNullPointersIsRefused)
{
    MemoryReader host(ReadTestFile("h264_aac.mkv"));
    ZOLVDMX_HANDLE_T* handle = CreateOver(host);
    ASSERT_EQ(API_ZOLVDMX_Load(handle, host.Name()), 0u);
    ASSERT_EQ(API_ZOLVDMX_GetNumTracks(handle), 3);
    // Video, audio, subtitle, in file order.
    EXPECT_EQ(API_ZOLVDMX_GetTrackType(handle, 0), 1);
    EXPECT_EQ(API_ZOLVDMX_GetTrackType(handle, 1), 0);
    EXPECT_EQ(API_ZOLVDMX_GetTrackType(handle, 2), 2);

    std::vector<uint8_t> buffer(0x100000);
    for (int32_t track : {3, -1}) {
        EXPECT_EQ(API_ZOLVDMX_GetTrackType(handle, track), -1) << track;

        ZOLVDMX_MEDIA_FORMAT_T format;
        std::memset(&format, 0xAB, sizeof format);
        EXPECT_EQ(API_ZOLVDMX_GetMediaFormat(handle, track, &format), kFail) << track;
        EXPECT_EQ(format.codec, 0xABABABABu) << track;

        ZOLVDMX_MEDIA_SAMPLE_T sample{};
        sample.buffer = buffer.data();
        sample.size = -7;
        EXPECT_EQ(API_ZOLVDMX_GetNextMediaSample(handle, track, &sample), kFail) << track;
        EXPECT_EQ(sample.size, -7) << track;

        int64_t resultTime = 0;
        EXPECT_EQ(API_ZOLVDMX_Seek(handle, track, 20000000, &resultTime), kFail) << track;
        EXPECT_EQ(resultTime, 20000000) << track;
    }

    EXPECT_EQ(API_ZOLVDMX_GetMediaFormat(handle, 0, nullptr), kFail);
    EXPECT_EQ(API_ZOLVDMX_GetNextMediaSample(handle, 0, nullptr), kFail);
    ZOLVDMX_MEDIA_SAMPLE_T noBuffer{};
    EXPECT_EQ(API_ZOLVDMX_GetNextMediaSample(handle, 1, &noBuffer), kFail);
    EXPECT_EQ(API_ZOLVDMX_Seek(handle, 0, 0, nullptr), kFail);

    EXPECT_EQ(API_ZOLVDMX_Destroy(handle), 0u);
    EXPECT_EQ(host.openHandles, 0);
}
