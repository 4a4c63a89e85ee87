// The eight entry points as a host drives them: creation with the host's callbacks, one load per handle,
// and arguments the library must refuse rather than crash on.
#include <gtest/gtest.h>

#include <cstddef>

#include "EbmlWriter.h"
#include "LoadedFile.h"
#include "TestData.h"

TEST(Api, CreateRefusesANullOutPointerOrMissingCallbacksAndOpensNothing)
{
    MemoryReader host;
    EXPECT_EQ(API_ZOLVDMX_Create(nullptr, host.Callbacks()), ZOLVDMX_E_FAIL);
    using Reader = _ZOLVDMX_READER_CALLBACK_T;
    // The spare entry is never called: every test host leaves it out.
    for (size_t missing : {offsetof(Reader, open), offsetof(Reader, close), offsetof(Reader, length),
                           offsetof(Reader, read), offsetof(Reader, tell), offsetof(Reader, seek)}) {
        Reader callbacks = host.Callbacks();
        std::memset(reinterpret_cast<char*>(&callbacks) + missing, 0, sizeof callbacks.open);
        auto* const untouched = reinterpret_cast<ZOLVDMX_HANDLE_T*>(&host);
        ZOLVDMX_HANDLE_T* handle = untouched;
        EXPECT_EQ(API_ZOLVDMX_Create(&handle, callbacks), ZOLVDMX_E_FAIL) << missing;
        EXPECT_EQ(handle, untouched) << missing;
    }
    EXPECT_TRUE(host.log.empty()) << "nothing is opened before Load";
}

TEST(Api, NullHandlesUnloadedSourcesAndSecondLoadsAreRefused)
{
    uint8_t buffer[16] = {};
    ZOLVDMX_MEDIA_SAMPLE_T sample{};
    sample.buffer = buffer;
    ZOLVDMX_MEDIA_FORMAT_T format{};
    int64_t resultTime = 0;
    MemoryReader unused;
    EXPECT_EQ(API_ZOLVDMX_Destroy(nullptr), ZOLVDMX_E_FAIL);
    EXPECT_EQ(API_ZOLVDMX_Load(nullptr, unused.Name()), ZOLVDMX_E_FAIL);
    EXPECT_EQ(API_ZOLVDMX_GetNumTracks(nullptr), 0);
    EXPECT_EQ(API_ZOLVDMX_GetTrackType(nullptr, 0), -1);
    EXPECT_EQ(API_ZOLVDMX_GetMediaFormat(nullptr, 0, &format), ZOLVDMX_E_FAIL);
    EXPECT_EQ(API_ZOLVDMX_GetNextMediaSample(nullptr, 0, &sample), ZOLVDMX_E_FAIL);
    EXPECT_EQ(API_ZOLVDMX_Seek(nullptr, 0, 12345678, &resultTime), ZOLVDMX_E_FAIL);
    EXPECT_EQ(resultTime, 12345678);
    EXPECT_TRUE(unused.log.empty());

    // Cannot be opened, empty, an EBML header then a Cluster; a real file.
    std::vector<MemoryReader> hosts;
    hosts.emplace_back(ReadTestFile("h264_aac.mkv")).failOpen = true;
    hosts.emplace_back();
    hosts.emplace_back(ebml::Cat({ebml::EbmlHeader(), ebml::Master(0x1F43B675, {ebml::UInt(0xE7, 0)})}));
    hosts.emplace_back(ReadTestFile("h264_aac.mkv"));
    for (size_t k = 0; k < hosts.size(); ++k) {
        LoadedFile file(std::move(hosts[k]));
        if (k < 3) {
            EXPECT_EQ(file.loadStatus, ZOLVDMX_E_FAIL) << k;
            EXPECT_EQ(file.Tracks(), 0) << k;
            EXPECT_EQ(file.Type(0), -1) << k;
            EXPECT_EQ(file.Seek(0, 5000, resultTime), ZOLVDMX_E_FAIL) << k;
            EXPECT_EQ(resultTime, 5000) << k;
        }
        // A second load is refused without touching the source, whatever the first did.
        file.host.failOpen = false;
        file.host.ClearLog();
        const int32_t tracks = file.Tracks();
        EXPECT_EQ(API_ZOLVDMX_Load(file.handle, file.host.Name()), ZOLVDMX_E_FAIL) << k;
        EXPECT_TRUE(file.host.log.empty()) << k;
        EXPECT_EQ(file.Tracks(), tracks) << k;
    }
}

TEST(Api, TrackIndexesOutsideTheTableAndNullPointersAreRefused)
{
    LoadedFile file(ReadTestFile("h264_aac.mkv"));
    ASSERT_EQ(file.Tracks(), 3); // video, audio, subtitle
    std::vector<uint8_t> buffer(0x100000);
    for (int32_t track : {3, -1}) {
        EXPECT_EQ(file.Type(track), -1) << track;
        ZOLVDMX_MEDIA_FORMAT_T format;
        std::memset(&format, 0xAB, sizeof format);
        EXPECT_EQ(API_ZOLVDMX_GetMediaFormat(file.handle, track, &format), ZOLVDMX_E_FAIL) << track;
        EXPECT_EQ(format.codec, 0xABABABABu) << track;
        ZOLVDMX_MEDIA_SAMPLE_T sample{};
        sample.buffer = buffer.data();
        sample.size = -7;
        EXPECT_EQ(API_ZOLVDMX_GetNextMediaSample(file.handle, track, &sample), ZOLVDMX_E_FAIL) << track;
        EXPECT_EQ(sample.size, -7) << track;
    }
    // Only audio and video tracks seek; a refused seek reports the time asked for.
    for (int32_t track : {3, -1, 2}) {
        int64_t resultTime = 0;
        EXPECT_EQ(file.Seek(track, 20000000, resultTime), ZOLVDMX_E_FAIL) << track;
        EXPECT_EQ(resultTime, 20000000) << track;
    }
    EXPECT_EQ(API_ZOLVDMX_GetMediaFormat(file.handle, 0, nullptr), ZOLVDMX_E_FAIL);
    EXPECT_EQ(API_ZOLVDMX_GetNextMediaSample(file.handle, 0, nullptr), ZOLVDMX_E_FAIL);
    ZOLVDMX_MEDIA_SAMPLE_T noBuffer{};
    EXPECT_EQ(API_ZOLVDMX_GetNextMediaSample(file.handle, 1, &noBuffer), ZOLVDMX_E_FAIL);
    EXPECT_EQ(API_ZOLVDMX_Seek(file.handle, 0, 0, nullptr), ZOLVDMX_E_FAIL);
}
