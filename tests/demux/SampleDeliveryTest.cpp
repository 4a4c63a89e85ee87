// Sample delivery through the C interface on files built element by element:
// times and durations, key flags, the shared cursors, the H.264 path and
// the limits that keep the host's buffer and the file's damage contained.
#include <gtest/gtest.h>

#include "LoadedFile.h"
#include "MatroskaBuilder.h"
#include "DemuxInternals.h"
#include "api/ZolvdmxHandle.h"
#include "matroska/EBMLSegment.h"

using namespace ebml;

namespace {

constexpr uint8_t kKey = 0x80;
constexpr uint8_t kFixedLacing = 0x04;

Bytes AudioOnly(const std::vector<Bytes>& clusters)
{
    std::vector<Bytes> children{mkv::Info(), mkv::Tracks({mkv::AudioTrack(1, "A_MPEG/L3")})};
    children.insert(children.end(), clusters.begin(), clusters.end());
    return mkv::File(children);
}

// avcC with 4-byte NAL lengths, one 3-byte SPS and one 2-byte PPS.
const Bytes kAvcC = {0x01, 0x42, 0x00, 0x1E, 0xFF, 0xE1, 0x00, 0x03, 0x67, 0x42, 0x00, 0x01, 0x00, 0x02, 0x68, 0xCE};

} // namespace

TEST(SampleDelivery, FrameDurationsComeFromBlockDurationDefaultDurationOrTheNextFrame)
{
    // Four fixed-size laced frames at 100 ms, an unlaced block at 140 ms, a
    // BlockGroup at 150 ms with two laced frames lasting 20 ms together, and
    // a last laced block of two frames at 170 ms.
    Bytes blocks = Cat({SimpleBlock(1, 100, kKey | kFixedLacing, Cat({{0x03}, Bytes(8, 0xAA)})),
                        SimpleBlock(1, 140, kKey, {0x01}),
                        Master(0xA0, {Element(0xA1, BlockPayload(1, 150, kFixedLacing, {0x01, 0xB1, 0xB2})),
                                      UInt(mkv::kBlockDuration, 20)}),
                        SimpleBlock(1, 170, kKey | kFixedLacing, Cat({{0x01}, Bytes(4, 0xCC)}))});
    struct Case {
        const char* what;
        std::vector<Bytes> trackExtras;
        std::vector<int64_t> startsMs10; // tenths of a millisecond
        std::vector<int64_t> durationsMs10;
    };
    const Case cases[] = {
        // Without DefaultDuration: laced frames share the gap to the next
        // block; the last block's frames take the duration of the frame before.
        {"gaps", {}, {1000, 1100, 1200, 1300, 1400, 1500, 1600, 1700, 1800}, {100, 100, 100, 100, 100, 100, 100, 100, 100}},
        // DefaultDuration 5 ms: every frame lasts that long, laced ones follow
        // each other by it, the last block's included; BlockDuration wins.
        {"default duration",
         {UInt(mkv::kDefaultDuration, 5000000)},
         {1000, 1050, 1100, 1150, 1400, 1500, 1600, 1700, 1750},
         {50, 50, 50, 50, 50, 100, 100, 50, 50}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Bytes> extras{Master(mkv::kAudio, {Float64(mkv::kSamplingFrequency, 48000.0)})};
        extras.insert(extras.end(), c.trackExtras.begin(), c.trackExtras.end());
        LoadedFile file(mkv::File({mkv::Info(), Master(mkv::kTracks, {mkv::TrackEntry(1, 2, "A_MPEG/L3", extras)}),
                                   Master(mkv::kCluster, {UInt(mkv::kTimecode, 0), blocks})}));
        std::vector<Sample> samples = file.All(0);
        ASSERT_EQ(samples.size(), 9u);
        std::vector<int64_t> starts;
        std::vector<int64_t> durations;
        for (const Sample& sample : samples) {
            starts.push_back(sample.start / 1000);
            durations.push_back((sample.end - sample.start) / 1000);
            EXPECT_EQ(sample.sync, 1u) << "audio is always a sync point";
        }
        EXPECT_EQ(starts, c.startsMs10);
        EXPECT_EQ(durations, c.durationsMs10);
        EXPECT_EQ(samples[0].bytes, Bytes(2, 0xAA));

        // Past the end: 1, every time, with the record's reserved field still cleared.
        for (int i = 0; i < 2; ++i) {
            Sample end = file.Next(0);
            EXPECT_EQ(end.status, ZOLVDMX_END_OF_TRACK);
            EXPECT_EQ(end.reserved2, 0u);
        }
    }
}

TEST(SampleDelivery, VideoFramesLastUntilTheNextInPresentationOrderAndKeyFlagsAreTruthful)
{
    // B-frame order without DefaultDuration: 0, 120, 40, 80, 240, 160, 200 ms.
    // A SimpleBlock not flagged key, a BlockGroup with and without
    // ReferenceBlock, and a second cluster at 205 ms with a negative relative
    // timecode.
    Bytes video = mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 16, 16)});
    LoadedFile file(mkv::File(
        {mkv::Info(), video,
         mkv::Cluster(0, {SimpleBlock(1, 0, kKey, {1}), SimpleBlock(1, 120, 0x00, {2}), SimpleBlock(1, 40, 0x00, {3}),
                          BlockGroup(1, 80, {4}, {-40}), BlockGroup(1, 240, {5})}),
         mkv::Cluster(205, {SimpleBlock(1, -45, 0x00, {6}), SimpleBlock(1, -5, 0x00, {7})})}));
    std::vector<Sample> samples = file.All(0);
    ASSERT_EQ(samples.size(), 7u);
    std::vector<int64_t> startsMs;
    std::vector<int64_t> durationsMs;
    std::vector<uint32_t> sync;
    for (const Sample& s : samples) {
        startsMs.push_back(s.start / 10000);
        durationsMs.push_back((s.end - s.start) / 10000);
        sync.push_back(s.sync);
    }
    EXPECT_EQ(startsMs, (std::vector<int64_t>{0, 120, 40, 80, 240, 160, 200}));
    // Each frame lasts until the next one shown, whether decoded before or
    // after it; the last shown (240 ms) takes the duration of the frame before.
    EXPECT_EQ(durationsMs, (std::vector<int64_t>{40, 40, 40, 40, 40, 40, 40}));
    EXPECT_EQ(sync, (std::vector<uint32_t>{1, 0, 0, 0, 1, 0, 0}));
}

TEST(SampleDelivery, TwoTracksOfOneTypeNeverGetEachOthersFrames)
{
    Bytes tracks = mkv::Tracks({mkv::AudioTrack(1, "A_AC3"), mkv::AudioTrack(2, "A_AC3")});
    LoadedFile file(mkv::File(
        {mkv::Info(), tracks,
         mkv::Cluster(0, {SimpleBlock(1, 0, kKey | kFixedLacing, {0x01, 0x11, 0x12}), SimpleBlock(2, 0, kKey, {0x21}),
                          SimpleBlock(1, 10, kKey, {0x13}), SimpleBlock(2, 10, kKey, {0x22})})}));
    // Track 1 takes the first frame of its laced block; track 2 then finds the
    // cursor on track 1's block: that block is dropped, track 2's frames follow.
    EXPECT_EQ(file.Next(0).bytes, Bytes{0x11});
    Sample second = file.Next(1);
    EXPECT_EQ(second.bytes, Bytes{0x21});
    EXPECT_EQ(file.Next(1).bytes, Bytes{0x22});
    EXPECT_EQ(file.Next(1).status, ZOLVDMX_END_OF_TRACK);
}

TEST(SampleDelivery, EachH264TrackGetsItsConfigurationOnceThenFramesInItsOwnStartCodeForm)
{
    // Track 1 with 4-byte NAL lengths, track 2 with 2-byte ones, track 3
    // without avcC.
    Bytes avcC2 = kAvcC;
    avcC2[4] = 0xFD;
    Bytes frame4 = {0x00, 0x00, 0x00, 0x02, 0x65, 0x88, 0x00, 0x00, 0x00, 0x01, 0x06};
    Bytes frame2 = {0x00, 0x02, 0x65, 0x88, 0x00, 0x01, 0x06};
    Bytes tracks = mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/AVC", 64, 64, kAvcC),
                                mkv::VideoTrack(2, "V_MPEG4/ISO/AVC", 64, 64, avcC2),
                                mkv::VideoTrack(3, "V_MPEG4/ISO/AVC", 64, 64)});
    Bytes bytes = mkv::File({mkv::Info(), tracks,
                             mkv::Cluster(0, {SimpleBlock(1, 0, kKey, frame4), SimpleBlock(2, 0, kKey, frame2),
                                              SimpleBlock(3, 0, kKey, frame4), SimpleBlock(1, 40, kKey, frame4),
                                              SimpleBlock(2, 40, kKey, frame2)})});
    const Bytes config = {0, 0, 0, 1, 0x67, 0x42, 0x00, 0, 0, 0, 1, 0x68, 0xCE};
    const Bytes rewritten = {0, 0, 0, 1, 0x65, 0x88, 0, 0, 0, 1, 0x06};
    for (int32_t track : {0, 1}) {
        SCOPED_TRACE(track);
        LoadedFile file(bytes); // the tracks share the video position: a handle each
        Sample first = file.Next(track);
        EXPECT_EQ(first.status, ZOLVDMX_OK);
        EXPECT_EQ(first.bytes, config);
        EXPECT_EQ(first.start, 0);
        EXPECT_EQ(first.end, 0);
        EXPECT_EQ(first.sync, 1u);
        EXPECT_EQ(file.Next(track).bytes, rewritten);
        // Not again after a seek.
        int64_t result = 0;
        ASSERT_EQ(file.Seek(track, 0, result), ZOLVDMX_OK);
        EXPECT_EQ(file.Next(track).bytes, rewritten);
        EXPECT_EQ(file.Next(track).start, 400000);
    }
    LoadedFile file(bytes);
    EXPECT_EQ(file.Format(2).configSize, 0);
    EXPECT_EQ(file.Next(2).bytes, Bytes{}) << "no length size: the frame cannot be rewritten";
}

TEST(SampleDelivery, StrippedHeadersArePutBackInFrontOfEveryFrame)
{
    // An AC-3 track stripped of 0B 77, with laced frames; an H.264 track
    // stripped of the first three bytes of its 4-byte NAL lengths.
    auto encodings = [](const Bytes& stripped) {
        return Master(0x6D80, {Master(0x6240, {UInt(0x5032, 1), Master(0x5034, {UInt(0x4254, 3), Bin(0x4255, stripped)})})});
    };
    Bytes audio = mkv::TrackEntry(1, 2, "A_AC3", {Master(mkv::kAudio, {Float64(mkv::kSamplingFrequency, 48000.0)}),
                                                  encodings({0x0B, 0x77})});
    Bytes video = mkv::TrackEntry(2, 1, "V_MPEG4/ISO/AVC",
                                  {Master(mkv::kVideo, {UInt(mkv::kPixelWidth, 4), UInt(mkv::kPixelHeight, 4)}),
                                   Bin(mkv::kCodecPrivate, kAvcC), encodings({0x00, 0x00, 0x00})});
    LoadedFile file(mkv::File(
        {mkv::Info(), Master(mkv::kTracks, {audio, video}),
         mkv::Cluster(0, {SimpleBlock(1, 0, kKey | kFixedLacing, {0x01, 0xA1, 0xA2, 0xB1, 0xB2}),
                          SimpleBlock(2, 0, kKey, {0x02, 0x65, 0x88})})}));
    EXPECT_EQ(file.Next(0).bytes, (Bytes{0x0B, 0x77, 0xA1, 0xA2}));
    EXPECT_EQ(file.Next(0).bytes, (Bytes{0x0B, 0x77, 0xB1, 0xB2}));
    // 4x4 pictures ask for 32 + 3 bytes.
    ASSERT_EQ(file.Format(1).maxSampleSize, 35u);
    file.Next(1); // the configuration
    EXPECT_EQ(file.Next(1, 35).bytes, (Bytes{0, 0, 0, 1, 0x65, 0x88}));
}

TEST(SampleDelivery, AFrameThatCannotBeDeliveredIsReportedOnceAndPassedOver)
{
    // A 4x4 picture asks for 32-byte buffers: a 40-byte frame cannot be copied.
    Bytes tracks = mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 4, 4)});
    LoadedFile file(mkv::File({mkv::Info(), tracks,
                               mkv::Cluster(0, {SimpleBlock(1, 0, kKey, Bytes(10, 1)), SimpleBlock(1, 40, kKey, Bytes(40, 2)),
                                                SimpleBlock(1, 80, kKey, Bytes(12, 3))})}));
    ASSERT_EQ(file.Format(0).maxSampleSize, 32u);
    EXPECT_EQ(file.Next(0, 32).bytes, Bytes(10, 1));
    EXPECT_EQ(file.Next(0, 32).status, ZOLVDMX_E_FAIL);
    Sample after = file.Next(0, 32);
    EXPECT_EQ(after.status, ZOLVDMX_OK);
    EXPECT_EQ(after.bytes, Bytes(12, 3));
}

TEST(SampleDelivery, H264FrameThatCannotBeRewrittenIsReportedOnce)
{
    // The first NAL unit claims 9 bytes where 2 remain.
    Bytes broken = {0x00, 0x00, 0x00, 0x09, 0x65, 0x88};
    Bytes good = {0x00, 0x00, 0x00, 0x01, 0x41};
    Bytes tracks = mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/AVC", 64, 64, kAvcC)});
    LoadedFile file(mkv::File(
        {mkv::Info(), tracks, mkv::Cluster(0, {SimpleBlock(1, 0, kKey, broken), SimpleBlock(1, 40, 0x00, good)})}));
    EXPECT_EQ(file.Next(0).status, ZOLVDMX_OK); // the configuration
    EXPECT_EQ(file.Next(0).status, ZOLVDMX_E_FAIL);
    Sample next = file.Next(0);
    EXPECT_EQ(next.status, ZOLVDMX_OK);
    EXPECT_EQ(next.bytes, (Bytes{0, 0, 0, 1, 0x41}));
}

TEST(SampleDelivery, WholeFilesPlayWithBoundedMemory)
{
    // Audio and video, 500 clusters: far beyond the clusters indexed at load.
    std::vector<Bytes> children{mkv::Info(), mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 16, 16),
                                                          mkv::AudioTrack(2, "A_AC3")})};
    for (int c = 0; c < 500; ++c) {
        children.push_back(mkv::Cluster(static_cast<uint64_t>(c) * 100,
                                        {SimpleBlock(1, 0, kKey, Bytes(20, 1)), SimpleBlock(2, 0, kKey, Bytes(6, 2)),
                                         SimpleBlock(1, 50, 0x00, Bytes(20, 1)), SimpleBlock(2, 50, kKey, Bytes(6, 2))}));
    }
    LoadedFile file(mkv::File(children));
    EBMLSegment& segment = *DemuxInternals::File(*file.handle->demux).segments[0];
    EXPECT_EQ(segment.clusters.size(), 1u);

    // Alternate the two tracks as a player does.
    size_t video = 0;
    size_t audio = 0;
    int64_t lastVideo = -1;
    for (bool more = true; more;) {
        Sample v = file.Next(0);
        Sample a = file.Next(1);
        more = v.status == ZOLVDMX_OK || a.status == ZOLVDMX_OK;
        if (v.status == ZOLVDMX_OK) {
            EXPECT_GT(v.start, lastVideo);
            lastVideo = v.start;
            ++video;
        }
        audio += a.status == ZOLVDMX_OK ? 1 : 0;
    }
    EXPECT_EQ(video, 1000u);
    EXPECT_EQ(audio, 1000u);
    EXPECT_EQ(lastVideo, 499 * 1000000 + 500000);
    ASSERT_EQ(segment.clusters.size(), 500u);
    size_t listed = 0;
    for (const auto& cluster : segment.clusters) {
        listed += cluster->blockGroups.empty() ? 0 : 1;
    }
    EXPECT_LE(listed, 4u) << "clusters behind both cursors are released";
}

TEST(SampleDelivery, DamagedAndEmptyClustersArePassedOver)
{
    // An empty cluster, then a cluster whose last block lies past the point
    // where the host stops delivering bytes. That block is larger than the
    // read-ahead window, so its tail cannot already be in memory from the load:
    // its frame cannot be read, which is reported once, then the track ends.
    Bytes first = mkv::Cluster(0, {SimpleBlock(1, 0, kKey, Bytes(5, 1))});
    Bytes empty = mkv::Cluster(10, {});
    Bytes third = mkv::Cluster(20, {SimpleBlock(1, 0, kKey, Bytes(5, 3)), SimpleBlock(1, 5, kKey, Bytes(100000, 4))});
    Bytes bytes = AudioOnly({first, empty, third});
    LoadedFile file(bytes);
    file.host.failReadsFrom = static_cast<int64_t>(bytes.size()) - 100;

    std::vector<Sample> samples = file.All(0);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[0].bytes, Bytes(5, 1));
    EXPECT_EQ(samples[1].bytes, Bytes(5, 3));
    EXPECT_EQ(samples[2].status, ZOLVDMX_E_FAIL);
}
