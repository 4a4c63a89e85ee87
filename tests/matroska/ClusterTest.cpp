// Listing a cluster's block groups from element and block headers only.
#include <gtest/gtest.h>

#include <tuple>

#include "MatroskaBuilder.h"
#include "matroska/EBMLCluster.h"

using namespace ebml;

namespace {

// A cluster over `size` bytes at `position`, as the Segment walk records it.
void Place(EBMLCluster& cluster, size_t position, size_t size)
{
    cluster.dataPosition = static_cast<int64_t>(position);
    cluster.dataSize = size;
    cluster.sizeKnown = true;
}

} // namespace

TEST(Cluster, ListsBlocksAsFarAsAskedFromTheirHeaders)
{
    Bytes body = Cat({UInt(mkv::kTimecode, 0x0100000002ull, 5), // low 32 bits: 2
                      SimpleBlock(1, 0, 0x80, Bytes(96, 1)),      // payloads: 4 header bytes and the frame
                      Element(0x6E01, {0x00}),                    // unknown here
                      Master(mkv::kBlockGroup, {Element(mkv::kBlock, BlockPayload(1, 0, 0, Bytes(36, 1))),
                                                Element(mkv::kBlock, BlockPayload(1, 0, 0, Bytes(66, 1))),
                                                Element(mkv::kReferenceBlock, {0xFF, 0xFE}),
                                                UInt(mkv::kBlockDuration, 40)}),
                      SimpleBlock(2, 0, 0x00, Bytes(296, 1)), SimpleBlock(2, 0, 0x80, Bytes(46, 1)),
                      // Claims 1 MB in a source of a few hundred bytes: not listed.
                      Id(mkv::kSimpleBlock), Size(1 << 20, 4), BlockPayload(1, 0, 0x80, Bytes(4, 1))});
    CBitStreamParser stream(body.data(), static_cast<int32_t>(body.size()));
    EBMLCluster cluster;
    Place(cluster, 0, body.size());
    cluster.ListBlocks(&stream, 1);
    EXPECT_EQ(cluster.blockGroups.size(), 1u);
    cluster.ListBlocks(&stream, 2); // resumes after the first
    EXPECT_FALSE(cluster.IsParsed());
    cluster.ParseBlockData(&stream);
    EXPECT_TRUE(cluster.IsParsed());
    stream.Seek(3, ZOLVDMX_SEEK_SET);
    cluster.ParseBlockData(&stream);
    EXPECT_EQ(stream.Tell(), 3) << "a listed cluster is not read again";

    EXPECT_EQ(cluster.timecode, 2u);
    EXPECT_EQ(cluster.blockGroups.at(0)->blocks.at(0)->dataPosition, 9); // after Timecode (7 bytes), ID and size
    // Per group: blocks, first track, from a SimpleBlock, references, duration, largest
    // block (for a SimpleBlock, the largest of the cluster so far).
    using Group = std::tuple<size_t, uint32_t, bool, std::vector<int32_t>, uint64_t, int32_t>;
    std::vector<Group> groups;
    for (const auto& g : cluster.blockGroups) {
        groups.emplace_back(g->blocks.size(), g->blocks[0]->trackNumber, g->blocks[0]->simple, g->references,
                            g->hasBlockDuration ? g->blockDuration : 0, g->maxBlockSize);
    }
    EXPECT_EQ(groups, (std::vector<Group>{{1, 1, true, {}, 0, 100},
                                          {2, 1, false, {65534}, 40, 70},
                                          {1, 2, true, {}, 0, 300},
                                          {1, 2, true, {}, 0, 300}}));
}

TEST(Cluster, ReleasedGroupsAndBlocksAreReusedCleared)
{
    Bytes grouped = Cat({UInt(mkv::kTimecode, 0), Master(mkv::kBlockGroup, {Element(mkv::kBlock, BlockPayload(1, 0, 0, {})),
                                                                            UInt(mkv::kReferenceBlock, 1),
                                                                            UInt(mkv::kBlockDuration, 40)})});
    Bytes simple = Cat({UInt(mkv::kTimecode, 40), SimpleBlock(1, 0, 0x80, {})});
    Bytes bytes = Cat({grouped, Filler(4), simple}); // zero bytes: no ID, the end of the first
    CBitStreamParser stream(bytes.data(), static_cast<int32_t>(bytes.size()));
    EBMLBlockPool pool;
    EBMLCluster a, b;
    Place(a, 0, grouped.size());
    Place(b, grouped.size() + 4, simple.size());
    a.pool = b.pool = &pool;
    a.ParseBlockData(&stream);
    const EBMLBlockGroup* group = a.blockGroups.at(0).get();
    const EBMLBlock* block = group->blocks.at(0).get();
    a.ReleaseBlocks();
    EXPECT_TRUE(a.blockGroups.empty());

    b.ParseBlockData(&stream);
    ASSERT_EQ(b.blockGroups.size(), 1u);
    EXPECT_EQ(b.blockGroups[0].get(), group);
    EXPECT_EQ(b.blockGroups[0]->blocks.at(0).get(), block);
    EXPECT_TRUE(group->references.empty());
    EXPECT_FALSE(group->hasBlockDuration);
    EXPECT_TRUE(block->simple);
    b.ReleaseBlocks();
    a.ParseBlockData(&stream); // listed again on demand
    ASSERT_EQ(a.blockGroups.size(), 1u);
    EXPECT_EQ(a.blockGroups[0]->blocks.size(), 1u);
    EXPECT_EQ(a.blockGroups[0]->references.size(), 1u);
    EXPECT_FALSE(a.blockGroups[0]->blocks[0]->simple);
}
