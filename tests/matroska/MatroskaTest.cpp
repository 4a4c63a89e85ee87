// The file object and its Segment walk: EBML header, file recognition, late Cues,
// resynchronisation after damage, elements it does not know, unknown sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "MatroskaBuilder.h"
#include "MemoryReader.h"
#include "matroska/Matroska.h"

using namespace ebml;

namespace {

struct Parsed {
    explicit Parsed(Bytes bytes) : host(std::move(bytes)) { EXPECT_EQ(file->Parse(host.Name(), &callbacks), 0u); }
    ~Parsed() { testing::internal::CaptureStdout(); file.reset(); testing::internal::GetCapturedStdout(); } // quiet
    EBMLSegment& Segment() { return *file->segments.at(0); }
    MemoryReader host;
    _ZOLVDMX_READER_CALLBACK_T callbacks = host.Callbacks();
    std::unique_ptr<Matroska> file = std::make_unique<Matroska>();
};

const size_t kSegmentData = EbmlHeader().size() + 4 + 8; // after the Segment's ID and 8-byte size field
const Bytes kTracks = mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/AVC"), mkv::AudioTrack(2, "A_AAC")});

// A cluster with an 8-byte size field and one frame.
Bytes Cluster8(uint64_t time, size_t frame = 40)
{
    return Master(mkv::kCluster, {UInt(mkv::kTimecode, time), SimpleBlock(1, 0, 0x80, Bytes(frame, 1))}, 8);
}

} // namespace

TEST(MatroskaFile, ReadsHeaderSkipsVoidParsesOnlyTheFirstSegmentAndSaysGoodbye)
{
    // Void, then an EBML header of unknown size: its last child, DocTypeReadVersion (42 85), is reached.
    Bytes header = Cat({Element(mkv::kVoid, Bytes(3, 0)),
                        UnknownSizeElement(0x1A45DFA3, Cat({UInt(0x4286, 1), UInt(0x42F7, 1), UInt(0x42F2, 4),
                                                            UInt(0x42F3, 8), Element(0xBF, {0, 0, 0, 0}),
                                                            Str(0x4282, "webm"), UInt(0x4287, 4), UInt(0x4285, 2)}))});
    Parsed p(Cat({header, Element(mkv::kSegment, mkv::Info(), 8), Element(mkv::kSegment, mkv::Info(), 8)}));
    Matroska& file = *p.file;
    ASSERT_EQ(file.headers.size(), 1u);
    // The DocType is held exactly, without a terminator, and not examined.
    EXPECT_EQ(file.headers[0]->docTypeLength, 4);
    EXPECT_EQ(std::memcmp(file.headers[0]->docType.get(), "webm", 4), 0);
    EXPECT_EQ(file.headers[0]->docTypeReadVersion, 2u);
    ASSERT_EQ(file.segments.size(), 1u);
    EXPECT_EQ(file.segments[0]->elementPosition, static_cast<int64_t>(header.size()));
    EXPECT_EQ(file.segments[0]->dataPosition, static_cast<int64_t>(header.size() + 12));
    EXPECT_EQ(file.segments[0]->infoList.size(), 1u);
    testing::internal::CaptureStdout();
    p.file.reset();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "~Matroska\r\n");
    EXPECT_EQ(p.host.openHandles, 0);
}

TEST(MatroskaFile, RecognisesMatroskaByDocType)
{
    const std::pair<Bytes, bool> cases[] = {
        {mkv::File({mkv::Info()}, "matroska"), true},
        {mkv::File({mkv::Info()}, "matroska2"), true}, // begins with the 8 bytes
        {mkv::File({mkv::Info()}, "webm"), false},
        {Cat({Element(mkv::kVoid, Bytes(2, 0)), EbmlHeader("matroska")}), true},
        {Master(0x1A45DFA3, {UInt(0x4286, 1)}), false}, // no DocType
        {Bytes{0x00, 0x01, 0x02, 0x03, 0x04}, false},
    };
    for (const auto& [bytes, matroska] : cases) {
        MemoryReader host(bytes);
        auto callbacks = host.Callbacks();
        EXPECT_EQ(Matroska::IsMKVFile(host.Name(), &callbacks), matroska);
        EXPECT_EQ(host.openHandles, 0); // the probe closes what it opened
    }
}

TEST(SegmentWalk, FindsCuesAfterTheClustersThroughTheSeekHeadWhenStoppingEarly)
{
    // CuePoint: CueTime, CueTrackPositions of unknown size (... CueBlockNumber, CueReference, a 2^32 position).
    Bytes cues = Master(mkv::kCues, {Master(0xBB, {UInt(0xB3, 10),
                                                   UnknownSizeElement(0xB7, Cat({UInt(0xF7, 2), UInt(0xF1, 0x1234),
                                                                                 UInt(0x5378, 3), Master(0xDB, {}),
                                                                                 Bin(0xF1, {1, 0, 0, 0, 0})})),
                                                   Master(0xB7, {UInt(0xF7, 1)})}),
                                     Master(0xBB, {UInt(0xB3, 2000)})});
    // The SeekHead's position field has a fixed width: one layout gives the Cues' offset.
    std::vector<Bytes> body{mkv::Info(), kTracks, Cluster8(0), Cluster8(40)};
    uint64_t cuesAt = mkv::SeekHeadFor(mkv::kCues, 0).size() + Cat(body).size();
    body.insert(body.begin(), mkv::SeekHeadFor(mkv::kCues, cuesAt));
    body.push_back(cues);
    Parsed p(mkv::File(body));
    EXPECT_EQ(p.Segment().clusters.size(), 1u);
    EXPECT_TRUE(p.file->seekAble);
    ASSERT_EQ(p.Segment().cueList.size(), 1u);
    const auto& points = p.Segment().cueList[0]->cuePoints;
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1]->cueTime.value, 2000u);
    ASSERT_EQ(points[0]->trackPositions.size(), 2u);
    const auto& positions = points[0]->trackPositions[0]->clusterPositions;
    ASSERT_EQ(positions.size(), 2u);
    EXPECT_EQ(positions[1]->value, 0x100000000u);
}

TEST(SegmentWalk, PassesOverWhatItDoesNotKnowInsideTheSegmentButNotPastItsEnd)
{
    // A cluster of unknown size ends at its first child that is no cluster child. Inside the Segment an
    // unknown element, a SignatureSlot, Tags and Void are passed over; after its end, an unknown one ends the walk.
    Bytes live = UnknownSizeElement(mkv::kCluster, Cat({Element(mkv::kVoid, {0}), UInt(mkv::kTimecode, 7),
                                                        SimpleBlock(1, 0, 0x80, {1}), SimpleBlock(1, 20, 0x80, {1})}));
    Bytes file = Cat({mkv::File({mkv::Info(), live, mkv::Cluster(1, {}), Element(0x3E1234, Bytes(12, 7)),
                                 Element(0x1B538667, {0}), Element(mkv::kTags, {0}), Element(mkv::kVoid, {0}),
                                 mkv::Cluster(2, {})}),
                      Element(0x3E1234, Bytes(12, 7)), mkv::Cluster(3, {})});
    Parsed p(file);
    const auto& clusters = p.Segment().clusters;
    ASSERT_EQ(clusters.size(), 3u);
    EXPECT_TRUE(p.Segment().IsWalkComplete());
    EXPECT_EQ(clusters[0]->timecode, 7u);
    EXPECT_EQ(clusters[0]->dataSize, live.size() - 4 - 8);
    EXPECT_EQ(clusters[1]->elementPosition, clusters[0]->elementPosition + static_cast<int64_t>(live.size()));
    EXPECT_EQ(clusters[2]->timecode, 2u);
}

TEST(SegmentWalk, GoesOnAtTheNextSoundClusterAfterADamagedClusterHeader)
{
    // Three clusters; the middle one is damaged, or garbage. The walk records the first and the last.
    Bytes first = Cluster8(0);
    Bytes middle = Cluster8(10);
    auto damage = [&](size_t at, const Bytes& bytes) {
        Bytes damaged = middle;
        std::copy(bytes.begin(), bytes.end(), damaged.begin() + static_cast<ptrdiff_t>(at));
        return damaged;
    };
    // What, the middle cluster, clusters recorded, the last one's frame size (the source past the search window?).
    const std::tuple<const char*, Bytes, size_t, size_t> cases[] = {
        {"ID zeroed", damage(0, {0, 0, 0, 0}), 2, 40},
        {"ID turned into an unknown element with a size past the end", damage(0, {0x1F, 0x43, 0xB6, 0x76, 0x10}), 2, 40},
        {"size past the end of the file", damage(4, {0x01, 0x40, 0, 0, 0, 0, 0, 0}), 3, 40},
        {"first child garbage", damage(12, {0x00, 0x00}), 2, 40},
        {"50 bytes of garbage, long source", Bytes(50, 0), 2, 150000},
        {"garbage ending across the window boundary", Bytes(99998, 0), 2, 1000},
    };
    for (const auto& [what, damaged, found, lastFrame] : cases) {
        Parsed p(mkv::File({mkv::Info(), first, damaged, Cluster8(20, lastFrame)}));
        const auto& clusters = p.Segment().clusters;
        ASSERT_EQ(clusters.size(), found) << what;
        int64_t lastAt = static_cast<int64_t>(kSegmentData + Cat({mkv::Info(), first, damaged}).size());
        EXPECT_EQ(clusters.back()->elementPosition, lastAt) << what;
        // The cluster before the last ends where the damage starts or, when its size runs past, at the last.
        int64_t damageAt = found == 3 ? lastAt : lastAt - static_cast<int64_t>(damaged.size());
        EXPECT_EQ(clusters[found - 2]->DeclaredEnd(), damageAt) << what;
    }
}

TEST(SegmentWalk, AClusterPastTheSegmentsEndWithASizePastTheSourceEndsTheWalk)
{
    // Found by fuzzing: after a Segment that ends after Tracks, a cluster whose size runs past the source.
    // Ending it at the Segment's end would send the walk back to it for ever.
    Bytes cluster = Cluster8(0);
    cluster[11] = 0x7F; // the low byte of the 8-byte size: far past the end
    Bytes file = Cat({mkv::File({mkv::Info(), kTracks}), cluster});
    Parsed p(file);
    p.Segment().ContinueParsing(SIZE_MAX);
    EXPECT_TRUE(p.Segment().IsWalkComplete());
    ASSERT_EQ(p.Segment().clusters.size(), 1u);
    EXPECT_EQ(p.Segment().clusters[0]->DeclaredEnd(), static_cast<int64_t>(file.size()));
}

TEST(Segment, KeepsEveryInfoButOnlyTheFirstTracksAndScalesTimesByTheFirstInfo)
{
    // A second Info with a 4-byte Duration (44 89) and no TimecodeScale, and a second Tracks.
    Bytes second = Master(mkv::kInfo, {Bin(mkv::kDuration, {0x45, 0xFA, 0x00, 0x00})});
    Parsed p(mkv::File({mkv::Info(500000, 10000.0), mkv::Tracks({mkv::VideoTrack(1, "V_VP8")}), second,
                        mkv::Tracks({mkv::AudioTrack(2, "A_VORBIS")})}));
    EBMLSegment& segment = p.Segment();
    ASSERT_EQ(segment.infoList.size(), 2u);
    EXPECT_EQ(segment.infoList[0]->duration, 10000.0);
    EXPECT_EQ(segment.infoList[1]->duration, 8000.0);
    EXPECT_EQ(segment.infoList[1]->timecodeScale.value, 1000000u); // by default
    EXPECT_EQ(segment.trackLists.size(), 1u);
    EXPECT_EQ(segment.GetRefTime(-5), -25000);
    // 3379 x 20832 ns and -3 x 20832 ns, truncated toward zero to 100 ns.
    segment.infoList[0]->timecodeScale.value = 20832;
    EXPECT_EQ(segment.GetRefTime(3379), 703913);
    EXPECT_EQ(segment.GetRefTime(-3), -624);
    // Products past 64 bits: exact while the time fits, else held at the limit.
    EXPECT_EQ(segment.GetRefTime(1000000000000000), 208320000000000000);
    EXPECT_EQ(segment.GetRefTime(INT64_MAX), INT64_MAX);
    EXPECT_EQ(segment.GetRefTime(INT64_MIN), INT64_MIN);
    EXPECT_EQ(EBMLSegment(nullptr).GetRefTime(1000), 10000000); // the default scale without Info
}

TEST(Segment, MasterTrackIsFirstVideoElseFirstAudioElseLastEntry)
{
    // Track types, and the index of the entry expected (-1: none).
    const std::pair<std::vector<uint64_t>, int> cases[] = {{{2, 17, 1}, 2}, {{2, 2}, 0}, {{17, 3}, 1}, {{}, -1}};
    EXPECT_EQ(EBMLSegment(nullptr).GetMasterTrack(), nullptr); // no Tracks at all
    for (const auto& [types, master] : cases) {
        EBMLSegment segment(nullptr);
        auto& entries = segment.trackLists.emplace_back(std::make_unique<EBMLTrack>())->entries;
        for (uint64_t type : types) {
            entries.emplace_back(std::make_unique<EBMLTrackEntry>())->trackType.value = type;
        }
        EXPECT_EQ(segment.GetMasterTrack(), master < 0 ? nullptr : entries[static_cast<size_t>(master)].get());
    }
}
