// The Segment walk: early stop and on-demand continuation, resynchronisation,
// elements it does not know, late Cues, unknown-size clusters.
#include <gtest/gtest.h>

#include "MatroskaBuilder.h"
#include "MemoryReader.h"
#include "matroska/Matroska.h"

using namespace ebml;

namespace {

struct Parsed {
    explicit Parsed(Bytes bytes) : host(std::move(bytes))
    {
        callbacks = host.Callbacks();
        EXPECT_EQ(file->Parse(host.Name(), &callbacks), 0u);
    }
    ~Parsed()
    {
        testing::internal::CaptureStdout(); // the file object's destruction line
        file.reset();
        testing::internal::GetCapturedStdout();
    }
    EBMLSegment& Segment() { return *file->segments.at(0); }
    std::vector<int64_t> ClusterPositions()
    {
        std::vector<int64_t> positions;
        for (const auto& cluster : Segment().clusters) {
            positions.push_back(cluster->elementPosition);
        }
        return positions;
    }

    MemoryReader host;
    _ZOLVDMX_READER_CALLBACK_T callbacks{};
    std::unique_ptr<Matroska> file = std::make_unique<Matroska>();
};

Bytes AudioVideoTracks()
{
    return mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/AVC"), mkv::AudioTrack(2, "A_AAC")});
}

std::vector<Bytes> Clusters(int count)
{
    std::vector<Bytes> clusters;
    for (int i = 0; i < count; ++i) {
        clusters.push_back(mkv::Cluster(static_cast<uint64_t>(i) * 40,
                                        {SimpleBlock(1, 0, 0x80, Bytes(8, 1)), SimpleBlock(2, 0, 0x80, Bytes(8, 2))}));
    }
    return clusters;
}

std::vector<Bytes> Join(std::vector<Bytes> head, const std::vector<Bytes>& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

} // namespace

TEST(SegmentWalk, StopsEarlyAtTheFirstClusterAndContinuesOnDemand)
{
    Parsed p(mkv::File(Join({mkv::Info(), AudioVideoTracks()}, Clusters(100))));
    EBMLSegment& segment = p.Segment();
    EXPECT_FALSE(p.file->IsParsing());
    EXPECT_EQ(segment.clusters.size(), 1u);
    EXPECT_EQ(segment.audioTrackCount, 1);
    EXPECT_EQ(segment.videoTrackCount, 1);
    EXPECT_FALSE(segment.IsWalkComplete());
    std::vector<int64_t> atLoad = p.ClusterPositions();

    EXPECT_TRUE(segment.ContinueParsing(31));
    EXPECT_EQ(segment.clusters.size(), 31u);
    EXPECT_TRUE(segment.ContinueParsing(1000));
    ASSERT_EQ(segment.clusters.size(), 100u);
    EXPECT_TRUE(segment.IsWalkComplete());
    EXPECT_FALSE(segment.ContinueParsing(1000));

    // Continuing recorded each later cluster once, in order, after those known.
    std::vector<int64_t> all = p.ClusterPositions();
    EXPECT_TRUE(std::equal(atLoad.begin(), atLoad.end(), all.begin()));
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(segment.clusters[i]->index, static_cast<int32_t>(i));
        if (i > 0) {
            EXPECT_GT(all[i], all[i - 1]);
        }
    }
    EXPECT_EQ(segment.clusterMap.size(), 100u);
}

TEST(SegmentWalk, WithoutASeekHeadTheCuesAfterTheClustersAreReadWhenTheWalkReachesThem)
{
    // A video-only file stops early too.
    Bytes videoOnly = mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/AVC")});
    Parsed p(mkv::File(Join(Join({mkv::Info(), videoOnly}, Clusters(100)), {mkv::Cues({{0, 1, 0}, {40, 1, 50}})})));
    EXPECT_EQ(p.Segment().clusters.size(), 1u);
    EXPECT_TRUE(p.Segment().cueList.empty());
    p.Segment().ContinueParsing(SIZE_MAX);
    EXPECT_EQ(p.Segment().clusters.size(), 100u);
    ASSERT_EQ(p.Segment().cueList.size(), 1u);
    EXPECT_EQ(p.Segment().cueList[0]->cuePoints.size(), 2u);
}

TEST(SegmentWalk, FindsCuesAfterTheClustersThroughTheSeekHeadWhenStoppingEarly)
{
    // The SeekHead's position field has a fixed width: laying out once gives the Cues' offset.
    std::vector<Bytes> body = Join({mkv::Info(), AudioVideoTracks()}, Clusters(40));
    Bytes cues = mkv::Cues({{0, 1, 0}});
    Bytes seekHead = mkv::SeekHeadFor(mkv::kCues, 0);
    uint64_t cuesAt = seekHead.size() + Cat(body).size();
    Parsed p(mkv::File(Join(Join({mkv::SeekHeadFor(mkv::kCues, cuesAt)}, body), {cues})));

    EXPECT_EQ(p.Segment().clusters.size(), 1u);
    EXPECT_EQ(p.Segment().cueList.size(), 1u);
    EXPECT_TRUE(p.Segment().seekAble);
    EXPECT_TRUE(p.file->seekAble);
}

TEST(SegmentWalk, UnknownSizeClusterEndsAtItsFirstNonClusterChild)
{
    Bytes live = UnknownSizeElement(mkv::kCluster, Cat({UInt(mkv::kTimecode, 0), SimpleBlock(1, 0, 0x80, Bytes(5, 1)),
                                                        SimpleBlock(1, 20, 0x80, Bytes(5, 1))}));
    Bytes after = mkv::Cluster(40, {SimpleBlock(1, 0, 0x80, Bytes(5, 1))});
    Parsed p(mkv::File({mkv::Info(), live, after, after}));

    ASSERT_EQ(p.Segment().clusters.size(), 3u);
    const EBMLCluster& first = *p.Segment().clusters[0];
    EXPECT_EQ(first.dataSize, live.size() - 4 - 8);
    EXPECT_EQ(p.Segment().clusters[1]->elementPosition, first.elementPosition + static_cast<int64_t>(live.size()));
}

TEST(SegmentWalk, ResynchronisesOnTheNextClusterAfterGarbage)
{
    struct Case {
        const char* what;
        size_t garbage;
        size_t trailing; // bytes after the cluster, so the source continues past the search window
    };
    const Case cases[] = {
        {"50 bytes, long source", 50, 150000},
        {"50 bytes, short source", 50, 0},
        {"ID across the window boundary", 99998, 1000},
    };
    for (const Case& c : cases) {
        Bytes cluster = mkv::Cluster(0, {SimpleBlock(1, 0, 0x80, Bytes(5, 1))});
        Bytes tail = mkv::Cluster(80, {SimpleBlock(1, 0, 0x80, Bytes(c.trailing, 1))});
        Bytes garbage(c.garbage, 0x00);
        Parsed p(mkv::File({mkv::Info(), garbage, cluster, tail}));
        size_t clusterAt = mkv::SegmentDataOffset() + mkv::Info().size() + c.garbage;
        ASSERT_EQ(p.Segment().clusters.size(), 2u) << c.what;
        EXPECT_EQ(p.Segment().clusters[0]->elementPosition, static_cast<int64_t>(clusterAt)) << c.what;
    }
}

TEST(SegmentWalk, GoesOnAtTheNextSoundClusterAfterADamagedClusterHeader)
{
    // Three clusters with 8-byte size fields; the middle one is damaged in
    // its header or its first child. The walk records the first and the
    // last, at their positions.
    auto cluster = [](uint64_t time, uint8_t fill) {
        return Master(mkv::kCluster, {UInt(mkv::kTimecode, time), SimpleBlock(1, 0, 0x80, Bytes(40, fill))}, 8);
    };
    Bytes first = cluster(0, 1);
    Bytes middle = cluster(10, 2);
    Bytes last = cluster(20, 3);
    struct Case {
        const char* what;
        size_t at;    // offset of the damage in the middle cluster
        Bytes bytes;  // what overwrites it
        size_t found; // clusters recorded
    };
    const Case cases[] = {
        {"ID zeroed", 0, {0, 0, 0, 0}, 2},
        {"ID turned into an unknown element with a size past the end", 0, {0x1F, 0x43, 0xB6, 0x76, 0x10}, 2},
        {"size past the end of the file", 4, {0x01, 0x40, 0, 0, 0, 0, 0, 0}, 3},
        {"first child garbage", 12, {0x00, 0x00}, 2},
    };
    for (const Case& c : cases) {
        Bytes damaged = middle;
        std::copy(c.bytes.begin(), c.bytes.end(), damaged.begin() + static_cast<std::ptrdiff_t>(c.at));
        Parsed p(mkv::File({mkv::Info(), first, damaged, last}));
        std::vector<int64_t> positions = p.ClusterPositions();
        ASSERT_EQ(positions.size(), c.found) << c.what;
        size_t lastAt = mkv::SegmentDataOffset() + mkv::Info().size() + first.size() + middle.size();
        EXPECT_EQ(positions.back(), static_cast<int64_t>(lastAt)) << c.what;
        if (c.found == 3) {
            // A size past the end: the cluster ends where the next one starts.
            EXPECT_EQ(p.Segment().clusters[1]->DeclaredEnd(), static_cast<int64_t>(lastAt)) << c.what;
        }
    }
}

TEST(SegmentWalk, AClusterPastTheSegmentsEndWithASizePastTheSourceEndsTheWalk)
{
    // Found by fuzzing: a Segment that ends after Info and Tracks, then a
    // cluster whose size runs past the source. Ending it at the Segment's end
    // would send the walk back to it for ever.
    Bytes cluster = Master(mkv::kCluster, {UInt(mkv::kTimecode, 0), SimpleBlock(1, 0, 0x80, Bytes(40, 1))}, 8);
    cluster[11] = 0x7F; // the low byte of the 8-byte size: far past the end
    Bytes file = Cat({mkv::File({mkv::Info(), AudioVideoTracks()}), cluster});
    Parsed p(file);
    p.Segment().ContinueParsing(SIZE_MAX);
    EXPECT_TRUE(p.Segment().IsWalkComplete());
    ASSERT_EQ(p.Segment().clusters.size(), 1u);
    EXPECT_EQ(p.Segment().clusters[0]->DeclaredEnd(), static_cast<int64_t>(file.size()));
}

TEST(SegmentWalk, PassesOverElementsItDoesNotKnowInsideTheSegment)
{
    // An unknown element, a SignatureSlot, Tags and Void between clusters.
    Parsed p(mkv::File({mkv::Info(), mkv::Cluster(0, {}), Element(0x3E1234, Bytes(12, 7)), mkv::Cluster(1, {}),
                        Element(0x1B538667, Bytes(3, 0)), Element(mkv::kTags, Bytes(4, 0)),
                        Element(mkv::kVoid, Bytes(2, 0)), mkv::Cluster(2, {})}));
    EXPECT_EQ(p.Segment().clusters.size(), 3u);
}

TEST(SegmentWalk, AnEntryHoldingANewerElementDoesNotLoseTheClusters)
{
    // LanguageBCP47 (22 B5 9D) is newer than this parser.
    Bytes entry = Master(mkv::kTrackEntry, {UInt(mkv::kTrackNumber, 1), Str(0x22B59D, "en-US"),
                                            UInt(mkv::kTrackType, 1), Str(mkv::kCodecId, "V_VP8")});
    Parsed p(mkv::File({mkv::Info(), Master(mkv::kTracks, {entry, mkv::AudioTrack(2, "A_VORBIS")}),
                        mkv::Cluster(0, {}), mkv::Cluster(40, {})}));
    ASSERT_EQ(p.Segment().trackLists.size(), 1u);
    const auto& entries = p.Segment().trackLists[0]->entries;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]->trackType.value, 1u);
    p.Segment().ContinueParsing(SIZE_MAX);
    EXPECT_EQ(p.Segment().clusters.size(), 2u);
}

TEST(SegmentWalk, KeepsTheFirstTracksAndEveryInfo)
{
    Parsed p(mkv::File({mkv::Info(500000), mkv::Tracks({mkv::VideoTrack(1, "V_VP8")}), mkv::Info(1000000),
                        mkv::Tracks({mkv::AudioTrack(2, "A_VORBIS")})}));
    EXPECT_EQ(p.Segment().infoList.size(), 2u);
    ASSERT_EQ(p.Segment().trackLists.size(), 1u);
    EXPECT_EQ(p.Segment().videoTrackCount, 1);
    EXPECT_EQ(p.Segment().audioTrackCount, 0);
    // The first Info's scale converts timecodes.
    EXPECT_EQ(p.Segment().GetRefTime(1000), 5000000);
}

TEST(Segment, RefTimeScalesTicksTo100Nanoseconds)
{
    EBMLSegment segment(nullptr);
    EXPECT_EQ(segment.GetRefTime(1000), 10000000); // the default scale without Info
    EXPECT_EQ(segment.GetRefTime(-5), -50000);
    segment.infoList.push_back(std::make_unique<EBMLInfo>());
    segment.infoList[0]->timecodeScale.value = 20832;
    EXPECT_EQ(segment.GetRefTime(3379), 703913); // 3379 x 20832 ns, truncated to 100 ns
}

TEST(Segment, MasterTrackIsFirstVideoElseFirstAudioElseLastEntry)
{
    struct Case {
        const char* what;
        std::vector<uint64_t> types;
        int master; // index of the expected entry, -1 for none
    };
    const Case cases[] = {
        {"audio, subtitle, video", {2, 17, 1}, 2},
        {"audio A, audio B", {2, 2}, 0},
        {"subtitle, other", {17, 3}, 1},
        {"no entries", {}, -1},
    };
    for (const Case& c : cases) {
        EBMLSegment segment(nullptr);
        segment.trackLists.push_back(std::make_unique<EBMLTrack>());
        for (uint64_t type : c.types) {
            segment.trackLists[0]->entries.push_back(std::make_unique<EBMLTrackEntry>());
            segment.trackLists[0]->entries.back()->trackType.value = type;
        }
        EBMLTrackEntry* expected =
            c.master < 0 ? nullptr : segment.trackLists[0]->entries[static_cast<size_t>(c.master)].get();
        EXPECT_EQ(segment.GetMasterTrack(), expected) << c.what;
    }
    EBMLSegment noTracks(nullptr);
    EXPECT_EQ(noTracks.GetMasterTrack(), nullptr);
}
