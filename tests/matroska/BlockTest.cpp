// Block headers and the three lacing schemes, on exact-size payloads: the sanitizer catches any over-read.
#include <gtest/gtest.h>

#include <tuple>

#include "EbmlWriter.h"
#include "matroska/EBMLBlock.h"

static Bytes Then(const Bytes& head, size_t filler) { return ebml::Cat({head, ebml::Filler(filler, 0x5A)}); }

TEST(BlockHeader, ListingDecodesTheHeaderAndSkipsThePayload)
{
    // Track, timecode, key, invisible, lacing, discardable, frames the lace count announces.
    using Header = std::tuple<uint32_t, int32_t, bool, bool, uint32_t, bool, int32_t>;
    const std::pair<Bytes, Header> cases[] = {
        {Then({0x42, 0x03, 0x00, 0x05, 0x80}, 20), {0x203, 5, true, false, 0, false, 1}},
        // FF FE: -2; 0B: invisible, Xiph, discardable; count 2.
        {Then({0x81, 0xFF, 0xFE, 0x0B, 0x02, 0x01, 0x01}, 6), {1, -2, false, true, 1, true, 3}},
        // An eight-byte track number keeps its low 32 bits; 80 00: -32768; EBML lacing, count 1.
        {Then({0x01, 0x00, 0x00, 0x07, 0x12, 0x34, 0x56, 0x78, 0x80, 0x00, 0x06, 0x01, 0x85}, 9),
         {0x12345678, -32768, false, false, 3, false, 2}},
        {{0x81, 0x00, 0x00, 0x04}, {1, 0, false, false, 2, false, 0}}, // lacing without its count
        {{0x42, 0x03, 0x00}, {0x203, 0, false, false, 0, false, 0}},   // cut: the track number alone
    };
    for (const auto& [payload, header] : cases) {
        Bytes bytes = ebml::Cat({{0xEE, 0xEE}, payload, {0x77}});
        CBitStreamParser stream(bytes.data(), static_cast<int32_t>(bytes.size()));
        stream.Seek(2, ZOLVDMX_SEEK_SET);
        EBMLBlock block;
        block.dataSize = payload.size();
        block.Parse(&stream);
        EXPECT_EQ(block.dataPosition, 2);
        EXPECT_EQ(Header(block.trackNumber, block.relativeTimecode, block.keyFrame, block.invisible, block.lacing,
                         block.discardable, block.frameCount),
                  header);
        EXPECT_EQ(stream.GetByte(), 0x77) << "left at the payload's end";
        // The same header from a payload in memory: decoded once track, timecode and flags are there.
        EXPECT_EQ(EBMLBlock().ParseSimple(payload.data(), static_cast<uint32_t>(payload.size())),
                  payload.size() > 3);
    }
}

TEST(BlockLacing, FramesAreTheWholeOnesTheLaceHeaderDescribes)
{
    using Split = EBMLBlock::Split;
    // Xiph, two frames: 600 bytes (sizes 255 255 90), then the rest (5).
    const Bytes xiph600 = Then({0x81, 0x00, 0x00, 0x02, 0x01, 0xFF, 0xFF, 0x5A}, 605);
    // What, payload, bytes of it at hand (0: all), result, frame sizes.
    const std::tuple<const char*, Bytes, uint32_t, Split, std::vector<int32_t>> cases[] = {
        // Xiph (flags 02): count 2, sizes 255+0 and 10, the rest (5) to the last.
        {"xiph", Then({0x81, 0x00, 0x00, 0x02, 0x02, 0xFF, 0x00, 0x0A}, 255 + 10 + 5), 0, Split::Done, {255, 10, 5}},
        // Fixed-size (flags 04): three frames over 10 bytes; the byte left over is in none.
        {"fixed", Then({0x81, 0x00, 0x00, 0x04, 0x02}, 10), 0, Split::Done, {3, 3, 3}},
        // EBML (flags 06): count 2, first size 0x85 = 5, difference 0xBF = 0, the rest.
        {"ebml", Then({0x81, 0x00, 0x00, 0x06, 0x02, 0x85, 0xBF}, 5 + 5 + 4), 0, Split::Done, {5, 5, 4}},
        // First size 40 46 = 70, difference 0x80 = -63.
        {"ebml negative", Then({0x81, 0x00, 0x00, 0x06, 0x02, 0x40, 0x46, 0x80}, 70 + 7 + 1), 0, Split::Done, {70, 7, 1}},
        {"ebml count 0", Then({0x81, 0x00, 0x00, 0x06, 0x00}, 6), 0, Split::Done, {6}},
        {"no lacing, no bytes", {0x81, 0x00, 0x00, 0x00}, 0, Split::Done, {0}},
        // Sizes adding up past the payload: the frames that fit are kept.
        {"xiph first too big", Then({0x81, 0x00, 0x00, 0x02, 0x01, 0xC8}, 20), 0, Split::Damaged, {}},
        {"ebml sum too big", Then({0x81, 0x00, 0x00, 0x06, 0x02, 0x84, 0xE0}, 30), 0, Split::Done, {4}},
        // Headers cut off by the payload's end.
        {"xiph no count", {0x81, 0x00, 0x00, 0x02}, 0, Split::Damaged, {}},
        {"fixed no count", {0x81, 0x00, 0x00, 0x04}, 0, Split::Damaged, {}},
        {"ebml no count", {0x81, 0x00, 0x00, 0x06}, 0, Split::Damaged, {}},
        {"xiph cut in a size", {0x81, 0x00, 0x00, 0x02, 0x02, 0xFF, 0xFF}, 0, Split::Damaged, {}},
        {"ebml size cut", {0x81, 0x00, 0x00, 0x06, 0x01, 0x10}, 0, Split::Damaged, {}},
        {"ebml difference cut", {0x81, 0x00, 0x00, 0x06, 0x02, 0x81}, 0, Split::Damaged, {}},
        {"block header cut", {0x81, 0x00}, 0, Split::Damaged, {}},
        // Fewer bytes at hand than the lace header takes: more are needed.
        {"at hand: block header", xiph600, 2, Split::NeedMore, {}},
        {"at hand: no count", xiph600, 4, Split::NeedMore, {}},
        {"at hand: inside a run of 255s", xiph600, 6, Split::NeedMore, {}},
        {"at hand: ending a run of 255s", xiph600, 7, Split::NeedMore, {}},
        {"at hand: the lace header", xiph600, 8, Split::Done, {600, 5}},
        {"at hand: FF is the payload's rest", Then({0x81, 0x00, 0x00, 0x06, 0x01, 0xFF}, 20), 6, Split::Done, {20, 0}},
        // No EBML lace size starts with a zero byte, however many bytes follow.
        {"zero size byte", Then({0x81, 0x00, 0x00, 0x06, 0x01, 0x00}, 9), 6, Split::Damaged, {}},
    };
    EBMLBlock block; // one for all: each split replaces what the last one left
    for (const auto& [what, payload, given, split, frames] : cases) {
        const uint32_t atHand = given != 0 ? given : static_cast<uint32_t>(payload.size());
        const Bytes head(payload.begin(), payload.begin() + atHand); // exactly the bytes at hand
        EXPECT_EQ(block.SplitLaces(head.data(), atHand, payload.size()), split) << what;
        std::vector<int32_t> sizes;
        for (; block.HasFrames(); block.PopSample()) {
            sizes.push_back(block.FrontFrame().size);
        }
        EXPECT_EQ(sizes, frames) << what;
        EXPECT_EQ(block.frameCount, static_cast<int32_t>(frames.size())) << what;
    }
}

TEST(BlockLacing, NoFrameEndsPastA32BitOffset)
{
    // EBML, a 1 TB payload: sizes 0x7FFFFFF0 (08 7F FF FF F0), the same (BF), the rest; only the first is reachable.
    EBMLBlock block;
    block.SplitLaces(Bytes{0x81, 0x00, 0x00, 0x06, 0x02, 0x08, 0x7F, 0xFF, 0xFF, 0xF0, 0xBF}.data(), 11, uint64_t{1} << 40);
    EXPECT_TRUE(block.infos.size() == 1 && block.infos[0].offset == 11 && block.infos[0].size == 0x7FFFFFF0);
}
