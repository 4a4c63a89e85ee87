// Loading: the track table's admission and order, the load-time line, the file duration, and files the
// cursors must still be able to read from.
#include <gtest/gtest.h>

#include <regex>

#include "DemuxInternals.h"
#include "LoadedFile.h"
#include "MatroskaBuilder.h"
#include "api/ZolvdmxHandle.h"

using namespace ebml;

TEST(Load, TrackTableKeepsFileOrderAndLeavesOutTracksThatCannotBeDelivered)
{
    // Audio tracks with one ContentEncoding (6D80, 6240) of the given children: Scope 5032, Type 5033,
    // ContentCompression 5034 with ContentCompAlgo 4254 and ContentCompSettings 4255.
    auto encoded = [](uint64_t number, std::vector<Bytes> encoding) {
        return mkv::TrackEntry(number, 2, "A_AC3", {Master(0x6D80, {Master(0x6240, encoding)})});
    };
    const Bytes stripping = Master(0x5034, {UInt(0x4254, 3), Bin(0x4255, {0x0B, 0x77})});
    const Bytes tracks = mkv::Tracks({
        mkv::AudioTrack(1, "A_AC3"),
        encoded(2, {UInt(0x5032, 2), UInt(0x5033, 1)}), // encrypted CodecPrivate
        mkv::SubtitleTrack(3),
        encoded(4, {UInt(0x5032, 1), UInt(0x5033, 1)}), // encrypted frames
        mkv::TrackEntry(5, 3, "B_OTHER", {}),
        mkv::VideoTrack(6, "V_VP8"),
        encoded(7, {stripping}),                                         // header stripping of frames
        encoded(8, {Master(0x5034, {})}),                                // zlib: algorithm and scope absent
        encoded(9, {UInt(0x5032, 4), Master(0x5034, {})}),               // the next encoding only
    });
    LoadedFile file(mkv::File({mkv::Info(), tracks}));
    std::vector<uint32_t> numbers;
    std::vector<int32_t> types;
    for (const auto& track : DemuxInternals::Tracks(*file.handle->demux)) {
        numbers.push_back(track.trackEntry->trackNumber);
        types.push_back(file.Type(static_cast<int32_t>(types.size())));
    }
    EXPECT_EQ(numbers, (std::vector<uint32_t>{1, 3, 5, 6, 7, 9}));
    EXPECT_EQ(file.handle->demux->Load(file.host.Name(), &file.handle->reader), ZOLVDMX_E_FAIL) << "loaded once";
    EXPECT_EQ(types, (std::vector<int32_t>{0, 2, -1, 1, 0, 0}));
    // TrackType 3 is described by nothing; the stripped bytes count in the buffer a frame needs.
    EXPECT_EQ(file.Format(2).maxSampleSize, 0u);
    EXPECT_EQ(file.Format(4).maxSampleSize, 409602u);
    EXPECT_EQ(file.Format(5).maxSampleSize, 409600u);
}

TEST(Load, PrintsOneLoadTimeLineOnlyWhenASegmentWasFound)
{
    for (bool segment : {true, false}) {
        MemoryReader host(segment ? mkv::File({mkv::Info()}) : EbmlHeader());
        ZOLVDMX_HANDLE_T* handle = nullptr;
        ASSERT_EQ(API_ZOLVDMX_Create(&handle, host.Callbacks()), ZOLVDMX_OK);
        testing::internal::CaptureStdout();
        EXPECT_EQ(API_ZOLVDMX_Load(handle, host.Name()), segment ? ZOLVDMX_OK : ZOLVDMX_E_FAIL);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(std::regex_match(printed, std::regex("MKV loding time: \\d+ second, \\d+ micro_second\n")), segment)
            << printed;
        EXPECT_EQ(printed.empty(), !segment);
        testing::internal::CaptureStdout();
        API_ZOLVDMX_Destroy(handle);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "~Matroska\r\n");
    }
}

TEST(Load, FilesWithoutDurationOrReadableBlocksLoadAndEndCleanly)
{
    const Bytes tracks = mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 8, 8), mkv::AudioTrack(2, "A_AC3")});
    const struct {
        Bytes info;
        std::vector<Bytes> clusters;
        size_t videoFrames;
        int64_t duration; // Duration times TimecodeScale in 100 ns, truncated
    } cases[] = {
        {{}, {}, 0, 0},
        {mkv::Info(20832, 96774.0), {mkv::Cluster(0, {}), mkv::Cluster(10, {SimpleBlock(1, 0, 0x80, {7})})}, 1,
         20159959},
        {mkv::Info(1000000, 1e300), {mkv::Cluster(0, {}), mkv::Cluster(10, {})}, 0, 0}, // beyond the field: unknown
    };
    for (const auto& c : cases) {
        std::vector<Bytes> children{c.info, tracks};
        children.insert(children.end(), c.clusters.begin(), c.clusters.end());
        LoadedFile file(mkv::File(children));
        ASSERT_EQ(file.loadStatus, ZOLVDMX_OK) << c.videoFrames;
        EXPECT_EQ(file.Format(0).duration, c.duration);
        EXPECT_EQ(file.All(0).size(), c.videoFrames);
        EXPECT_EQ(file.Next(1).status, ZOLVDMX_END_OF_TRACK);
        int64_t result = 0;
        EXPECT_EQ(file.Seek(0, 1000, result), ZOLVDMX_OK);
        EXPECT_EQ(file.Seek(0, -1, result), ZOLVDMX_OK);
        EXPECT_EQ(file.All(0).size(), c.videoFrames) << "after seeking to the start";
    }
}
