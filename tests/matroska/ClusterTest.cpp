// Listing a cluster's block groups from headers only.
#include <gtest/gtest.h>

#include "MatroskaBuilder.h"
#include "MemoryReader.h"
#include "matroska/EBMLCluster.h"
#include "stream/NoCachingFileStreamParser.h"

using namespace ebml;

namespace {

// A host over the bytes and a cluster positioned on the Cluster element at
// the start of them, as the Segment walk records it.
struct ClusterFixture {
    explicit ClusterFixture(const Bytes& bytes, size_t headerLength = 0) : host(bytes)
    {
        callbacks = host.Callbacks();
        bool ok = false;
        stream = std::make_unique<NoCachingFileStreamParser>(host.Name(), ok, &callbacks);
        cluster.dataPosition = static_cast<int64_t>(headerLength);
        cluster.dataSize = bytes.size() - headerLength;
        cluster.sizeKnown = true;
        host.ClearLog();
    }
    MemoryReader host;
    _ZOLVDMX_READER_CALLBACK_T callbacks{};
    std::unique_ptr<NoCachingFileStreamParser> stream;
    EBMLCluster cluster;
};

Bytes Frame(size_t n)
{
    return Bytes(n, 0x11);
}

} // namespace

TEST(Cluster, ListsSimpleBlocksWithRunningMaximumAndReadsOnce)
{
    // SimpleBlock data sizes 100, 50 and 300: 4 header bytes plus the frame.
    Bytes body = Cat({UInt(mkv::kTimecode, 0x0100000002ull, 5), SimpleBlock(1, 0, 0x80, Frame(96)),
                      SimpleBlock(2, 0, 0x80, Frame(46)), SimpleBlock(1, 0, 0x00, Frame(296))});
    ClusterFixture f(body);
    f.cluster.ParseBlockData(f.stream.get());

    EXPECT_EQ(f.cluster.timecode, 2u); // five-byte payload 01 00 00 00 02: low 32 bits
    ASSERT_EQ(f.cluster.blockGroups.size(), 3u);
    std::vector<int32_t> groupMax;
    std::vector<uint32_t> tracks;
    for (const auto& group : f.cluster.blockGroups) {
        ASSERT_EQ(group->blocks.size(), 1u);
        EXPECT_TRUE(group->IsKeyGroup());
        EXPECT_TRUE(group->blocks[0]->simple);
        groupMax.push_back(group->maxBlockSize);
        tracks.push_back(group->blocks[0]->trackNumber);
    }
    EXPECT_EQ(groupMax, (std::vector<int32_t>{100, 100, 300}));
    EXPECT_EQ(tracks, (std::vector<uint32_t>{1, 2, 1}));
    EXPECT_EQ(f.cluster.maxBlockSize, 300);
    // Block positions point at their payloads: Timecode (1+1+5) + SimpleBlock header (1+1).
    EXPECT_EQ(f.cluster.blockGroups[0]->blocks[0]->dataPosition, 9);

    f.host.ClearLog();
    f.cluster.ParseBlockData(f.stream.get());
    EXPECT_TRUE(f.host.log.empty()) << "a listed cluster is not read again";
}

TEST(Cluster, BlockGroupKeepsReferencesAndItsLargestBlock)
{
    Bytes group = Master(mkv::kBlockGroup, {Element(mkv::kBlock, BlockPayload(1, 0, 0, Frame(36))),
                                            Element(mkv::kBlock, BlockPayload(1, 0, 0, Frame(66))),
                                            Element(mkv::kReferenceBlock, {0xFF, 0xFE})});
    ClusterFixture f(Cat({UInt(mkv::kTimecode, 7), group}));
    f.cluster.ParseBlockData(f.stream.get());

    ASSERT_EQ(f.cluster.blockGroups.size(), 1u);
    const EBMLBlockGroup& g = *f.cluster.blockGroups[0];
    EXPECT_EQ(g.blocks.size(), 2u);
    EXPECT_EQ(g.maxBlockSize, 70);
    EXPECT_EQ(g.references, (std::vector<int32_t>{65534}));
    EXPECT_FALSE(g.IsKeyGroup());
}

TEST(Cluster, EndsAtTheNextClusterLeavingItUnread)
{
    Bytes first = Cat({UInt(mkv::kTimecode, 0), SimpleBlock(1, 0, 0x80, Frame(4))});
    Bytes next = mkv::Cluster(40, {SimpleBlock(1, 0, 0x80, Frame(4))});
    ClusterFixture f(Cat({first, next}));
    // The cluster's size covers only its own body.
    f.cluster.dataSize = first.size();
    f.cluster.ParseBlockData(f.stream.get());

    EXPECT_EQ(f.cluster.blockGroups.size(), 1u);
    EXPECT_EQ(f.stream->Tell(), static_cast<int64_t>(first.size()));
}

TEST(Cluster, ElementsItDoesNotKnowInsideItLoseNothing)
{
    // DiscardPadding (75 A2) inside a BlockGroup, and an unknown element
    // between blocks: every block of the cluster is still listed.
    Bytes group = Master(mkv::kBlockGroup, {Element(mkv::kBlock, BlockPayload(1, 0, 0, Frame(8))),
                                            Element(0x75A2, {0x01, 0x00})});
    Bytes body = Cat({UInt(mkv::kTimecode, 0), group, Element(0x6E01, Frame(3)), SimpleBlock(1, 10, 0x80, Frame(8)),
                      BlockGroup(2, 20, Frame(8))});
    ClusterFixture f(body);
    f.cluster.ParseBlockData(f.stream.get());

    ASSERT_EQ(f.cluster.blockGroups.size(), 3u);
    EXPECT_EQ(f.cluster.blockGroups[2]->blocks[0]->trackNumber, 2u);
}

TEST(Cluster, ABlockClaimingMoreThanTheSourceHoldsIsNotListed)
{
    // A SimpleBlock whose size says 1 MB in a source of a few bytes.
    Bytes body = Cat({UInt(mkv::kTimecode, 0), SimpleBlock(1, 0, 0x80, Frame(4)),
                      Id(mkv::kSimpleBlock), Size(1 << 20, 4), BlockPayload(1, 0, 0x80, Frame(4))});
    ClusterFixture f(body);
    f.cluster.ParseBlockData(f.stream.get());

    ASSERT_EQ(f.cluster.blockGroups.size(), 1u);
    EXPECT_EQ(f.cluster.maxBlockSize, 8);
}

TEST(Cluster, TimecodeCanBeReadWithoutListingBlocks)
{
    ClusterFixture f(Cat({Element(mkv::kVoid, Frame(2)), UInt(mkv::kTimecode, 1234),
                          SimpleBlock(1, 0, 0x80, Frame(100))}));
    f.cluster.ReadTimecode(f.stream.get());
    EXPECT_EQ(f.cluster.timecode, 1234u);
    EXPECT_FALSE(f.cluster.IsParsed());
    for (const std::string& call : f.host.log) {
        EXPECT_NE(call, "read h1 104") << "no block payload is read";
    }
}

TEST(Cluster, ReleasedBlocksAreListedAgainOnDemand)
{
    ClusterFixture f(Cat({UInt(mkv::kTimecode, 3), SimpleBlock(1, 0, 0x80, Frame(4)),
                          SimpleBlock(1, 0, 0x80, Frame(4))}));
    f.cluster.ParseBlockData(f.stream.get());
    f.cluster.ReleaseBlocks();
    EXPECT_TRUE(f.cluster.blockGroups.empty());
    f.cluster.ParseBlockData(f.stream.get());
    EXPECT_EQ(f.cluster.blockGroups.size(), 2u);
}
