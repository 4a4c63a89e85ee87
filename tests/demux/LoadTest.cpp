// Loading: the track table's admission and order, the load-time line, the
// file duration, and files the cursors must still be able to read from.
#include <gtest/gtest.h>

#include <regex>

#include "LoadedFile.h"
#include "MatroskaBuilder.h"
#include "DemuxInternals.h"
#include "api/ZolvdmxHandle.h"

using namespace ebml;

namespace {

// An audio track entry with one ContentEncoding made of the given children
// (ContentEncodingOrder 5031, Scope 5032, Type 5033, ContentCompression 5034
// with ContentCompAlgo 4254 and ContentCompSettings 4255).
Bytes EncodedAudioTrack(uint64_t number, std::vector<Bytes> encoding)
{
    return Master(mkv::kTrackEntry, {UInt(mkv::kTrackNumber, number), UInt(mkv::kTrackType, 2),
                                     Str(mkv::kCodecId, "A_AC3"), Master(0x6D80, {Master(0x6240, encoding)})});
}

Bytes EncryptedAudioTrack(uint64_t number, uint64_t scope)
{
    return EncodedAudioTrack(number, {UInt(0x5031, 0), UInt(0x5032, scope), UInt(0x5033, 1)});
}

} // namespace

TEST(Load, TrackTableKeepsEntriesInFileOrderAndLeavesOutEncryptedCodecPrivate)
{
    Bytes tracks = mkv::Tracks({mkv::AudioTrack(1, "A_AC3"), EncryptedAudioTrack(2, 2), mkv::SubtitleTrack(3),
                                EncryptedAudioTrack(4, 1), Master(mkv::kTrackEntry, {UInt(mkv::kTrackNumber, 5),
                                                                                    UInt(mkv::kTrackType, 3)}),
                                mkv::VideoTrack(6, "V_VP8")});
    // A second Segment is never read: the file object stops at the first.
    Bytes second = Element(mkv::kSegment, mkv::Tracks({mkv::VideoTrack(9, "V_VP9")}), 8);
    LoadedFile file(Cat({mkv::File({mkv::Info(), tracks}), second}));
    ASSERT_EQ(file.loadStatus, ZOLVDMX_OK);

    std::vector<uint32_t> numbers;
    std::vector<int32_t> types;
    for (int32_t i = 0; i < file.Tracks(); ++i) {
        numbers.push_back(DemuxInternals::Tracks(*file.handle->demux)[static_cast<size_t>(i)].trackEntry->trackNumber);
        types.push_back(API_ZOLVDMX_GetTrackType(file.handle, i));
    }
    // Tracks 2 and 4 (encrypted CodecPrivate, encrypted frames) are left out.
    EXPECT_EQ(numbers, (std::vector<uint32_t>{1, 3, 5, 6}));
    EXPECT_EQ(types, (std::vector<int32_t>{0, 2, -1, 1}));
    // TrackType 3 is described by nothing: its record stays all zero.
    ZOLVDMX_MEDIA_FORMAT_T other = file.Format(2);
    EXPECT_EQ(other.mediaType, 0u);
    EXPECT_EQ(other.header, nullptr);
    EXPECT_EQ(other.maxSampleSize, 0u);
}

TEST(Load, OnlyHeaderStrippingOfFramesIsAdmittedAmongCompressedTracks)
{
    const Bytes stripped = {0x0B, 0x77};
    Bytes compression = Master(0x5034, {UInt(0x4254, 3), Bin(0x4255, stripped)});
    Bytes tracks = mkv::Tracks({
        EncodedAudioTrack(1, {compression}),                                     // header stripping of frames
        EncodedAudioTrack(2, {Master(0x5034, {})}),                              // zlib: algorithm and scope absent
        EncodedAudioTrack(3, {UInt(0x5032, 1), Master(0x5034, {UInt(0x4254, 1)})}), // bzlib
        EncodedAudioTrack(4, {UInt(0x5032, 2), compression}),                    // header stripping of CodecPrivate
        EncodedAudioTrack(5, {UInt(0x5032, 4), Master(0x5034, {})}),             // the next encoding only
    });
    LoadedFile file(mkv::File({mkv::Info(), tracks}));
    ASSERT_EQ(file.Tracks(), 2);
    EXPECT_EQ(DemuxInternals::Tracks(*file.handle->demux)[0].trackEntry->trackNumber, 1u);
    EXPECT_EQ(DemuxInternals::Tracks(*file.handle->demux)[1].trackEntry->trackNumber, 5u);
    // The buffer a frame needs grows by the bytes put back.
    EXPECT_EQ(file.Format(0).maxSampleSize, 409602u);
    EXPECT_EQ(file.Format(1).maxSampleSize, 409600u);
}

TEST(Load, PrintsOneLoadTimeLineOnlyWhenASegmentWasFound)
{
    MemoryReader host(mkv::File({mkv::Info()}));
    ZOLVDMX_HANDLE_T* handle = nullptr;
    ASSERT_EQ(API_ZOLVDMX_Create(&handle, host.Callbacks()), ZOLVDMX_OK);
    testing::internal::CaptureStdout();
    EXPECT_EQ(API_ZOLVDMX_Load(handle, host.Name()), ZOLVDMX_OK);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::regex_match(printed, std::regex("MKV loding time: \\d+ second, \\d+ micro_second\n"))) << printed;
    testing::internal::CaptureStdout();
    API_ZOLVDMX_Destroy(handle);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "~Matroska\r\n");

    MemoryReader noSegment(EbmlHeader());
    ASSERT_EQ(API_ZOLVDMX_Create(&handle, noSegment.Callbacks()), ZOLVDMX_OK);
    testing::internal::CaptureStdout();
    EXPECT_EQ(API_ZOLVDMX_Load(handle, noSegment.Name()), ZOLVDMX_E_FAIL);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    testing::internal::CaptureStdout();
    API_ZOLVDMX_Destroy(handle);
    testing::internal::GetCapturedStdout();
}

TEST(Load, ElapsedTimeBorrowsAcrossTheSecond)
{
    struct Case {
        timeval start;
        timeval end;
        int32_t result;
        timeval elapsed;
    };
    const Case cases[] = {
        {{5, 900000}, {7, 100000}, 0, {1, 200000}},
        {{2, 300000}, {4, 600000}, 0, {2, 300000}},
        {{7, 100000}, {5, 900000}, -1, {99, 99}},
        {{3, 500000}, {3, 400000}, -1, {99, 99}},
    };
    for (const Case& c : cases) {
        timeval elapsed{99, 99};
        EXPECT_EQ(tim_subtract(&elapsed, &c.start, &c.end), c.result);
        EXPECT_EQ(elapsed.tv_sec, c.elapsed.tv_sec);
        EXPECT_EQ(elapsed.tv_usec, c.elapsed.tv_usec);
    }
}

TEST(Load, FileDurationIsDurationTimesScaleIn100Nanoseconds)
{
    LoadedFile withInfo(mkv::File({mkv::Info(1000000, 5000.0), mkv::Tracks({mkv::AudioTrack(1, "A_AC3")})}));
    EXPECT_EQ(withInfo.handle->demux->GetFileDuration(), 50000000.0);
    EXPECT_EQ(withInfo.Format(0).duration, 50000000);

    LoadedFile scaled(mkv::File({mkv::Info(20832, 96774.0)}));
    EXPECT_EQ(static_cast<int64_t>(scaled.handle->demux->GetFileDuration()), 20159959); // 96774 x 20832 / 100

    LoadedFile noInfo(mkv::File({mkv::Tracks({mkv::AudioTrack(1, "A_AC3")})}));
    EXPECT_EQ(noInfo.handle->demux->GetFileDuration(), 0.0);
}

TEST(Load, FilesWithoutReadableBlocksLoadAndEndCleanly)
{
    const Bytes tracks = mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 8, 8), mkv::AudioTrack(2, "A_AC3")});
    struct Case {
        const char* what;
        std::vector<Bytes> clusters;
        size_t videoFrames;
    };
    const Case cases[] = {
        {"no clusters", {}, 0},
        {"first cluster without blocks", {mkv::Cluster(0, {}), mkv::Cluster(10, {SimpleBlock(1, 0, 0x80, {7})})}, 1},
        {"only empty clusters", {mkv::Cluster(0, {}), mkv::Cluster(10, {})}, 0},
    };
    for (const Case& c : cases) {
        std::vector<Bytes> children{mkv::Info(), tracks};
        children.insert(children.end(), c.clusters.begin(), c.clusters.end());
        LoadedFile file(mkv::File(children));
        ASSERT_EQ(file.loadStatus, ZOLVDMX_OK) << c.what;
        EXPECT_EQ(file.All(0).size(), c.videoFrames) << c.what;
        EXPECT_EQ(file.Next(1).status, ZOLVDMX_END_OF_TRACK) << c.what;
        int64_t result = 0;
        EXPECT_EQ(file.Seek(0, 1000, result), ZOLVDMX_OK) << c.what;
        EXPECT_EQ(file.Seek(0, -1, result), ZOLVDMX_OK) << c.what;
        EXPECT_EQ(file.All(0).size(), c.videoFrames) << c.what << " after seeking to the start";
    }
}
