// Listing a cluster's block groups from element and block headers only.
#include <gtest/gtest.h>

#include <tuple>

#include "MatroskaBuilder.h"
#include "matroska/EBMLCluster.h"

using namespace ebml;

TEST(Cluster, ListsBlocksAsFarAsAskedFromTheirHeaders)
{
    Bytes body = Cat({UInt(mkv::kTimecode, 0x0100000002ull, 5), // past 32 bits
                      SimpleBlock(1, 0, 0x80, Bytes(96, 1)),      // payloads: 4 header bytes and the frame
                      Element(0x6E01, {0x00}),                    // unknown here
                      Master(mkv::kBlockGroup, {Element(mkv::kBlock, BlockPayload(1, 0, 0, Bytes(36, 1))),
                                                Element(mkv::kBlock, BlockPayload(1, 0, 0, Bytes(66, 1))),
                                                Element(mkv::kReferenceBlock, {0xFF, 0xFE}),
                                                UInt(mkv::kBlockDuration, 40)}),
                      SimpleBlock(2, 0, 0x00, Bytes(296, 1)),
                      // Too short for a block header: passed over, nothing listed for it.
                      Element(mkv::kSimpleBlock, {0x81}), Element(mkv::kSimpleBlock, {0x81, 0x00, 0x00}),
                      SimpleBlock(2, 0, 0x80, Bytes(46, 1)),
                      // Claims 1 MB in a source of a few hundred bytes: not listed.
                      Id(mkv::kSimpleBlock), Size(1 << 20, 4), BlockPayload(1, 0, 0x80, Bytes(4, 1))});
    CBitStreamParser stream(body.data(), static_cast<int32_t>(body.size()));
    EBMLBlockPool pool;
    EBMLCluster cluster; // over the whole body, as the Segment walk records it
    cluster.dataSize = body.size();
    cluster.sizeKnown = true;
    cluster.pool = &pool;
    cluster.ListBlocks(&stream, 1);
    EXPECT_EQ(cluster.blockGroups.size(), 1u);
    cluster.ListBlocks(&stream, 2); // resumes after the first
    EXPECT_FALSE(cluster.IsParsed());
    cluster.ParseBlockData(&stream);
    EXPECT_TRUE(cluster.IsParsed());
    stream.Seek(3, ZOLVDMX_SEEK_SET);
    cluster.ParseBlockData(&stream);
    EXPECT_EQ(stream.Tell(), 3) << "a listed cluster is not read again";

    EXPECT_EQ(cluster.timecode, 0x0100000002u);
    EXPECT_EQ(cluster.blockGroups.at(0)->blocks.at(0)->dataPosition, 9); // after Timecode (7 bytes), ID and size
    // Per group: blocks, first track, simple, references, duration (-1: none), largest block (SimpleBlock: so far).
    using Group = std::tuple<size_t, uint32_t, bool, std::vector<int32_t>, int64_t, int32_t>;
    auto groups = [](const EBMLCluster& listed) {
        std::vector<Group> out;
        for (const auto& g : listed.blockGroups) {
            out.emplace_back(g->blocks.size(), g->blocks[0]->trackNumber, g->blocks[0]->simple, g->references,
                             g->hasBlockDuration ? static_cast<int64_t>(g->blockDuration) : -1, g->maxBlockSize);
        }
        return out;
    };
    EXPECT_EQ(groups(cluster), (std::vector<Group>{{1, 1, true, {}, -1, 100},
                                                   {2, 1, false, {65534}, 40, 70},
                                                   {1, 2, true, {}, -1, 300},
                                                   {1, 2, true, {}, -1, 300}}));

    // Released, its groups and blocks come back from the pool cleared for the next cluster.
    cluster.ReleaseBlocks();
    EXPECT_TRUE(cluster.blockGroups.empty());
    const Bytes frame = SimpleBlock(1, 0, 0x80, {});
    Bytes next = Cat({BlockGroup(1, 0, {}), frame, frame, frame});
    CBitStreamParser nextStream(next.data(), static_cast<int32_t>(next.size()));
    EBMLCluster reused;
    reused.dataSize = next.size();
    reused.sizeKnown = true;
    reused.pool = &pool;
    reused.ParseBlockData(&nextStream);
    EXPECT_EQ(groups(reused), (std::vector<Group>{{1, 1, false, {}, -1, 4},
                                                  {1, 1, true, {}, -1, 4},
                                                  {1, 1, true, {}, -1, 4},
                                                  {1, 1, true, {}, -1, 4}}));
}

TEST(Cluster, FindsFromItsEndWhereABlockStartsThatTheChainOfElementsConfirms)
{
    const Bytes first = SimpleBlock(1, 0, 0x80, Bytes(50, 0x11));
    const Bytes audio = SimpleBlock(2, 10, 0x80, Bytes(20, 0x22));
    const Bytes last = SimpleBlock(1, 40, 0, Bytes(30, 0x33));
    // Frame bytes before them that read as an audio block ending where `audio` starts: a chain of its own
    // that skips `first`, but nothing before leads to it.
    const Bytes fake{0xA3, static_cast<uint8_t>(0x80 | (first.size() + 3)), 0x82, 0x00, 0x00};
    const Bytes junk(7, 0x5A);
    const auto audioAt = static_cast<int64_t>(junk.size() + fake.size() + first.size());
    // {what, bytes, wanted track, where listing can start (-1: nowhere)}
    const std::tuple<const char*, Bytes, uint32_t, int64_t> cases[] = {
        {"the fake is passed over", Cat({junk, fake, first, audio, last}), 2, audioAt},
        {"a block wanted further on", Cat({junk, fake, first, audio, last}), 1, audioAt},
        {"whole elements only", Cat({first, audio, last}), 2, static_cast<int64_t>(first.size())},
        {"no block wanted", Cat({first, audio, last}), 4, -1},
        {"a track the file does not have", Cat({junk, SimpleBlock(3, 0, 0x80, Bytes(9, 1)), SimpleBlock(3, 0, 0, {})}), 3, -1},
        {"nothing that chains to the end", Cat({first, audio, Bytes(3, 0x5A)}), 2, -1},
    };
    for (const auto& [what, bytes, track, expected] : cases) {
        // Given back to front in pieces, as read back from a cluster's end, or whole.
        for (size_t piece : {bytes.size(), size_t{10}}) {
            ClusterTailScan scan;
            scan.Start({1, 2, 4}, [track = track](const EBMLBlock& block) { return block.trackNumber == track; });
            for (size_t end = bytes.size(); end > 0;) {
                size_t start = end > piece ? end - piece : 0;
                scan.Prepend(bytes.data() + start, static_cast<int32_t>(end - start));
                end = start;
            }
            EXPECT_EQ(scan.Found(), expected) << what << ", pieces of " << piece;
        }
    }
}
