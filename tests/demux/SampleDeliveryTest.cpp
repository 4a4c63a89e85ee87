// Sample delivery on files built element by element: times and durations, key flags, the shared cursors,
// stripped headers, the H.264 rewrite and the limits that keep the host's buffer and damage contained.
#include <gtest/gtest.h>

#include <algorithm>

#include "DemuxInternals.h"
#include "LoadedFile.h"
#include "MatroskaBuilder.h"
#include "api/ZolvdmxHandle.h"
#include "matroska/EBMLSegment.h"

using namespace ebml;

namespace {

constexpr uint8_t kKey = 0x80;
constexpr uint8_t kFixedLacing = 0x04;

// avcC with 4-byte NAL lengths, one 3-byte SPS and one 2-byte PPS.
const Bytes kAvcC = Hex("0142001E FF E1 0003 674200 01 0002 68CE");

Bytes OneCluster(std::initializer_list<Bytes> tracks, const std::vector<Bytes>& blocks)
{
    return mkv::File({mkv::Info(), Master(mkv::kTracks, std::vector<Bytes>(tracks)), mkv::Cluster(0, blocks)});
}

// Start times and durations of the samples in `unit`s of 100 ns; key flags.
std::vector<std::vector<int64_t>> Times(const std::vector<Sample>& samples, int64_t unit)
{
    std::vector<std::vector<int64_t>> times(3);
    for (const Sample& sample : samples) {
        times[0].push_back(sample.start / unit);
        times[1].push_back((sample.end - sample.start) / unit);
        times[2].push_back(sample.sync);
    }
    return times;
}

} // namespace

TEST(SampleDelivery, FrameDurationsComeFromBlockDurationDefaultDurationOrTheNextFrame)
{
    // Four fixed-size laced frames at 100 ms, an unlaced block at 140 ms, a BlockGroup at 150 ms with two laced
    // frames lasting 20 ms together, and a last laced block of two frames at 170 ms.
    const std::vector<Bytes> blocks = {
        SimpleBlock(1, 100, kKey | kFixedLacing, Cat({{0x03}, Bytes(8, 0xAA)})), SimpleBlock(1, 140, kKey, {0x01}),
        Master(mkv::kBlockGroup, {Element(mkv::kBlock, BlockPayload(1, 150, kFixedLacing, {0x01, 0xB1, 0xB2})),
                                  UInt(mkv::kBlockDuration, 20)}),
        SimpleBlock(1, 170, kKey | kFixedLacing, Cat({{0x01}, Bytes(4, 0xCC)}))};
    const Bytes audio = Master(mkv::kAudio, {Float64(mkv::kSamplingFrequency, 48000.0)});
    // In 0.1 ms; audio is always a sync point. Without DefaultDuration laced frames share the gap to the next
    // block, the last block's frames take the duration of the frame before. With it (5 ms) every frame lasts
    // that long and laced ones follow each other by it; BlockDuration wins over both.
    const std::vector<int64_t> ones(9, 1);
    EXPECT_EQ(Times(LoadedFile(OneCluster({mkv::TrackEntry(1, 2, "A_MPEG/L3", {audio})}, blocks)).All(0), 1000),
              (std::vector<std::vector<int64_t>>{{1000, 1100, 1200, 1300, 1400, 1500, 1600, 1700, 1800},
                                                 std::vector<int64_t>(9, 100), ones}));
    LoadedFile file(OneCluster({mkv::TrackEntry(1, 2, "A_MPEG/L3", {audio, UInt(mkv::kDefaultDuration, 5000000)})},
                               blocks));
    EXPECT_EQ(Times(file.All(0), 1000), (std::vector<std::vector<int64_t>>{
                                            {1000, 1050, 1100, 1150, 1400, 1500, 1600, 1700, 1750},
                                            {50, 50, 50, 50, 50, 100, 100, 50, 50}, ones}));
    EXPECT_EQ(file.Next(0).status, ZOLVDMX_END_OF_TRACK);
    EXPECT_EQ(file.Next(0).status, ZOLVDMX_END_OF_TRACK);
}

TEST(SampleDelivery, VideoFramesLastUntilTheNextInPresentationOrderAndKeyFlagsAreTruthful)
{
    // B-frame order without DefaultDuration, a SimpleBlock not flagged key, BlockGroups with and without
    // ReferenceBlock, a second cluster with negative relative timecodes. Each frame lasts until the next one
    // shown; the last shown (240 ms) takes the duration of the frame before.
    LoadedFile file(mkv::File(
        {mkv::Info(), mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 16, 16)}),
         mkv::Cluster(0, {SimpleBlock(1, 0, kKey, {1}), SimpleBlock(1, 120, 0x00, {2}), SimpleBlock(1, 40, 0x00, {3}),
                          BlockGroup(1, 80, {4}, {-40}), BlockGroup(1, 240, {5})}),
         mkv::Cluster(205, {SimpleBlock(1, -45, 0x00, {6}), SimpleBlock(1, -5, 0x00, {7})})}));
    EXPECT_EQ(Times(file.All(0), 10000), (std::vector<std::vector<int64_t>>{{0, 120, 40, 80, 240, 160, 200},
                                                                            std::vector<int64_t>(7, 40),
                                                                            {1, 0, 0, 0, 1, 0, 0}}));
}

TEST(SampleDelivery, AFramesLookAheadPassesAFewHundredBlocksOfOtherTracksAtMost)
{
    // A video frame without a duration, then 30 clusters of 100 audio blocks before the next video frame, all
    // within 30 s: timing the first frame by the next would walk 3000 blocks, and in a file of such runs
    // every frame would walk them all.
    std::vector<Bytes> children{mkv::Info(), mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 16, 16),
                                                          mkv::AudioTrack(2, "A_AC3")}),
                                mkv::Cluster(0, {SimpleBlock(1, 0, kKey, {1})})};
    for (int c = 1; c <= 30; ++c) {
        std::vector<Bytes> audio;
        for (int k = 0; k < 100; ++k) {
            audio.push_back(SimpleBlock(2, static_cast<int16_t>(k), kKey, {2}));
        }
        children.push_back(mkv::Cluster(static_cast<uint64_t>(c) * 100, audio));
    }
    children.push_back(mkv::Cluster(3100, {SimpleBlock(1, 0, kKey, {3})}));
    LoadedFile file(mkv::File(children));
    EBMLSegment& segment = *DemuxInternals::File(*file.handle->demux).segments[0];
    EXPECT_EQ(file.Next(0).start, 0);
    EXPECT_LE(segment.clusters.size(), 14u) << "the look-ahead went on past the blocks it may pass";
    EXPECT_EQ(file.Next(0).start, 3100 * 10000);
    EXPECT_EQ(segment.clusters.size(), 32u);
}

TEST(SampleDelivery, TwoTracksOfOneTypeNeverGetEachOthersFrames)
{
    LoadedFile file(OneCluster({mkv::AudioTrack(1, "A_AC3"), mkv::AudioTrack(2, "A_AC3")},
                               {SimpleBlock(1, 0, kKey | kFixedLacing, {0x01, 0x11, 0x12}),
                                SimpleBlock(2, 0, kKey, {0x21}), SimpleBlock(1, 10, kKey, {0x13}),
                                SimpleBlock(2, 10, kKey, {0x22})}));
    // Track 2 finds the cursor on track 1's laced block, half read: that block is dropped.
    EXPECT_EQ(file.Next(0).bytes, Bytes{0x11});
    EXPECT_EQ(file.Next(1).bytes, Bytes{0x21});
    EXPECT_EQ(file.Next(1).bytes, Bytes{0x22});
    EXPECT_EQ(file.Next(1).status, ZOLVDMX_END_OF_TRACK);
}

TEST(SampleDelivery, StrippedHeadersArePutBackInFrontOfEveryFrameBeforeTheH264Rewrite)
{
    // (Laced stripped audio is played in the real files.) An H.264 track stripped of the first three bytes of
    // its 4-byte NAL lengths (ContentEncoding 6D80 6240, scope 5032, compression 5034 with algorithm 4254 and
    // settings 4255); an H.264 track without avcC, whose frames cannot be rewritten.
    const Bytes stripped = Master(0x6D80, {Master(0x6240, {UInt(0x5032, 1), Master(0x5034, {UInt(0x4254, 3),
                                                                                           Bin(0x4255, {0, 0, 0})})})});
    const Bytes video = Master(mkv::kVideo, {UInt(mkv::kPixelWidth, 4), UInt(mkv::kPixelHeight, 4)});
    const Bytes bytes = OneCluster(
        {mkv::TrackEntry(1, 1, "V_MPEG4/ISO/AVC", {video, Bin(mkv::kCodecPrivate, kAvcC), stripped}),
         mkv::VideoTrack(2, "V_MPEG4/ISO/AVC", 4, 4)},
        {SimpleBlock(1, 0, kKey, {0x02, 0x65, 0x88}), SimpleBlock(2, 0, kKey, {0x00, 0x00, 0x00, 0x01, 0x41})});
    LoadedFile file(bytes);
    // 4x4 pictures ask for 32 + 8192 + 3 bytes; the parameter sets come first, at 0.
    ASSERT_EQ(file.Format(0).maxSampleSize, 8227u);
    const Sample config = file.Next(0);
    EXPECT_EQ(config.bytes, Hex("00000001 674200 00000001 68CE"));
    EXPECT_EQ(config.start + config.end, 0);
    EXPECT_EQ(config.sync, 1u);
    EXPECT_EQ(file.Next(0).bytes, Hex("00000001 6588"));

    LoadedFile withoutAvcC(bytes); // the video tracks share one position: a handle of its own
    EXPECT_EQ(withoutAvcC.Format(1).configSize, 0);
    EXPECT_EQ(withoutAvcC.Next(1).status, ZOLVDMX_E_FAIL);
    EXPECT_EQ(withoutAvcC.Next(1).status, ZOLVDMX_END_OF_TRACK);
}

TEST(SampleDelivery, AFrameThatCannotBeDeliveredIsReportedOnceAndPassedOver)
{
    // A 4x4 picture asks for buffers of 32 + 8192 bytes: a frame one byte larger cannot be copied; an H.264 NAL
    // unit claiming 9 bytes where 2 remain cannot be rewritten (after the parameter sets).
    const Bytes good = Hex("00000001 41");
    for (const auto& [track, bad] :
         {std::pair{mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 4, 4), Bytes(8225, 2)},
          std::pair{mkv::VideoTrack(1, "V_MPEG4/ISO/AVC", 64, 64, kAvcC), Hex("00000009 6588")}}) {
        LoadedFile file(OneCluster({track}, {SimpleBlock(1, 0, kKey, good), SimpleBlock(1, 40, kKey, bad),
                                             SimpleBlock(1, 80, 0x00, good)}));
        std::vector<Sample> samples = file.All(0);
        ASSERT_GE(samples.size(), 3u);
        samples.erase(samples.begin(), samples.end() - 3);
        EXPECT_EQ(samples[0].status, ZOLVDMX_OK);
        EXPECT_EQ(samples[1].status, ZOLVDMX_E_FAIL);
        EXPECT_EQ(samples[2].status, ZOLVDMX_OK);
        EXPECT_EQ(samples[2].start, 800000);
    }
    // An empty cluster, then one whose last block, larger than the read-ahead window, lies past where the host
    // stops delivering: its frame cannot be read, which is reported once, then the track ends.
    const Bytes bytes = mkv::File(
        {mkv::Info(), mkv::Tracks({mkv::AudioTrack(1, "A_MPEG/L3")}), mkv::Cluster(0, {SimpleBlock(1, 0, kKey, {1})}),
         mkv::Cluster(10, {}),
         mkv::Cluster(20, {SimpleBlock(1, 0, kKey, {3}), SimpleBlock(1, 5, kKey, Bytes(100000, 4))})});
    LoadedFile file(bytes);
    file.host.failReadsFrom = static_cast<int64_t>(bytes.size()) - 100;
    const std::vector<Sample> samples = file.All(0);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[0].bytes, Bytes{1});
    EXPECT_EQ(samples[1].bytes, Bytes{3});
    EXPECT_EQ(samples[2].status, ZOLVDMX_E_FAIL);
}

TEST(SampleDelivery, WholeFilesPlayWithBoundedMemory)
{
    // Audio and video, 300 clusters: far beyond the clusters indexed at load.
    std::vector<Bytes> children{mkv::Info(), mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 16, 16),
                                                          mkv::AudioTrack(2, "A_AC3")})};
    for (int c = 0; c < 300; ++c) {
        children.push_back(mkv::Cluster(static_cast<uint64_t>(c) * 100,
                                        {SimpleBlock(1, 0, kKey, Bytes(20, 1)), SimpleBlock(2, 0, kKey, Bytes(6, 2)),
                                         SimpleBlock(1, 50, 0, Bytes(20, 1)), SimpleBlock(2, 50, kKey, Bytes(6, 2))}));
    }
    LoadedFile file(mkv::File(children));
    EBMLSegment& segment = *DemuxInternals::File(*file.handle->demux).segments[0];
    EXPECT_EQ(segment.clusters.size(), 1u);
    // Alternate the two tracks as a player does: every frame comes, in order.
    std::vector<int64_t> video, audio;
    for (bool more = true; more;) {
        const Sample v = file.Next(0), a = file.Next(1);
        more = v.status == ZOLVDMX_OK || a.status == ZOLVDMX_OK;
        video.insert(video.end(), v.status == ZOLVDMX_OK ? 1 : 0, v.start);
        audio.insert(audio.end(), a.status == ZOLVDMX_OK ? 1 : 0, a.start);
        if (video.size() == 100) {
            // A video frame is timed by the next 16 blocks of its track: the small clusters that look-ahead
            // listed stay listed for the next frame's, rather than being listed again for every frame.
            ASSERT_GT(segment.clusters.size(), 57u);
            for (size_t c = 50; c < 57; ++c) {
                EXPECT_FALSE(segment.clusters[c]->blockGroups.empty()) << "cluster " << c;
            }
        }
    }
    ASSERT_EQ(video.size(), 600u);
    EXPECT_TRUE(std::is_sorted(video.begin(), video.end()));
    EXPECT_EQ(video.back(), 299 * 1000000 + 500000);
    EXPECT_EQ(audio.size(), 600u);
    ASSERT_EQ(segment.clusters.size(), 300u);
    // Each cursor stands on, reads next from and looks ahead into at most three clusters; others
    // listed last are kept while they hold few groups (four each here).
    EXPECT_LE(std::count_if(segment.clusters.begin(), segment.clusters.end(),
                            [](const auto& cluster) { return !cluster->blockGroups.empty(); }),
              static_cast<std::ptrdiff_t>(std::max(kIdleListings, kIdleGroups / 4) + 6))
        << "clusters behind both cursors are released";
}

TEST(H264Reconstruction, RewritesEveryUnitBehindAStartCode)
{
    const struct {
        const char* what;
        const char* frame;
        int32_t lengthSizeMinusOne;
        int32_t capacity;
        const char* output; // null: refused
    } cases[] = {
        {"4-byte lengths, in place", "00000002 AABB 00000001 CC", 3, 11, "00000001 AABB 00000001 CC"},
        {"2-byte lengths grow by 2 a unit", "0003 AABBCC 0001 DD", 1, 64, "00000001 AABBCC 00000001 DD"},
        {"1-byte lengths, exactly the room needed", "02 AABB 01 CC 01 DD", 0, 16,
         "00000001 AABB 00000001 CC 00000001 DD"},
        {"one byte short of the room needed", "02 AABB 01 CC 01 DD", 0, 15, nullptr},
        {"a unit claims more than the frame holds", "05 AABB", 0, 16, nullptr},
        {"trailing bytes too short for a unit are dropped", "00000001 AA 000000", 3, 8, "00000001 AA"},
        {"an empty unit gives a bare start code", "00000000 00000001 AA", 3, 9, "00000001 00000001 AA"},
        {"3-byte lengths grow although dropped trailing bytes leave the output shorter than the frame",
         "000001 AA 000001 BB 01101E", 2, 11, "00000001 AA 00000001 BB"},
        {"no length size known", "00000001 AA", -1, 5, nullptr},
    };
    for (const auto& c : cases) {
        // The frame at the start of a buffer of exactly `capacity` bytes, as delivery reads it; past the frame
        // and the output nothing changes.
        const Bytes frame = Hex(c.frame);
        Bytes buffer(static_cast<size_t>(c.capacity), 0xEE);
        std::copy(frame.begin(), frame.end(), buffer.begin());
        int32_t size = -1;
        KelmMKVDemux demux;
        EXPECT_EQ(demux.ReconstructH264Sample(size, buffer.data(), c.capacity, static_cast<int32_t>(frame.size()),
                                              c.lengthSizeMinusOne),
                  c.output != nullptr)
            << c.what;
        if (c.output != nullptr) {
            EXPECT_EQ(At(buffer.data(), size), Hex(c.output)) << c.what;
            const int32_t used = std::max(size, static_cast<int32_t>(frame.size()));
            EXPECT_EQ(std::count(buffer.begin() + used, buffer.end(), 0xEE), c.capacity - used) << c.what;
        }
    }
}
