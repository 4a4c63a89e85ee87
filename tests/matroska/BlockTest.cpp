// Block headers and the three lacing schemes, on exact-size payloads so
// that any read past the payload is caught by the address sanitizer.
#include <gtest/gtest.h>

#include "EbmlWriter.h"
#include "matroska/EBMLBlock.h"

namespace {

std::vector<int32_t> FrameSizes(EBMLBlock& block)
{
    std::vector<int32_t> sizes;
    while (block.HasFrames()) {
        sizes.push_back(block.FrontFrame().size);
        block.PopSample();
    }
    return sizes;
}

// Splits a payload held in a buffer of exactly its size.
std::vector<int32_t> Split(EBMLBlock& block, const Bytes& payload)
{
    std::unique_ptr<uint8_t[]> exact(new uint8_t[payload.size()]);
    std::copy(payload.begin(), payload.end(), exact.get());
    block.dataSize = payload.size();
    block.Parse(exact.get(), static_cast<uint32_t>(payload.size()));
    return FrameSizes(block);
}

Bytes Then(Bytes head, size_t filler)
{
    head.insert(head.end(), filler, 0x5A);
    return head;
}

} // namespace

TEST(BlockHeader, DecodesTrackTimecodeAndFlags)
{
    EBMLBlock block;
    // 81: track 1; 00 05: timecode 5; 80: key frame, no lacing; ten bytes of frame.
    EXPECT_EQ(Split(block, Then({0x81, 0x00, 0x05, 0x80}, 10)), (std::vector<int32_t>{10}));
    EXPECT_EQ(block.trackNumber, 1u);
    EXPECT_EQ(block.relativeTimecode, 5);
    EXPECT_TRUE(block.keyFrame);
    EXPECT_EQ(block.lacing, 0u);
    EXPECT_EQ(block.frameCount, 1);

    // 41 02: two-byte track number 0x102; FF FE: timecode -2; 09: invisible, discardable.
    EBMLBlock second;
    ASSERT_TRUE(second.ParseSimple(Bytes{0x41, 0x02, 0xFF, 0xFE, 0x09}.data(), 5));
    EXPECT_EQ(second.trackNumber, 0x102u);
    EXPECT_EQ(second.relativeTimecode, -2);
    EXPECT_FALSE(second.keyFrame);
    EXPECT_TRUE(second.invisible);
    EXPECT_TRUE(second.discardable);

    // A header cut off by the end of the bytes decodes nothing.
    EBMLBlock cut;
    EXPECT_FALSE(cut.ParseSimple(Bytes{0x41, 0x02, 0xFF}.data(), 3));
}

TEST(BlockLacing, SchemesSplitAsTheirHeadersSay)
{
    struct Case {
        const char* what;
        Bytes payload;
        std::vector<int32_t> frames;
    };
    const Case cases[] = {
        // Xiph (flags 02): count 2, sizes 255+0 = 255 and 10, the rest (5) to the last.
        {"xiph", Then({0x81, 0x00, 0x00, 0x02, 0x02, 0xFF, 0x00, 0x0A}, 255 + 10 + 5), {255, 10, 5}},
        // Xiph count 0: one frame of everything after the count byte.
        {"xiph single", Then({0x81, 0x00, 0x00, 0x02, 0x00}, 7), {7}},
        // Fixed-size (flags 04): count 2 = three frames over 10 bytes: 3 each, one byte left over.
        {"fixed", Then({0x81, 0x00, 0x00, 0x04, 0x02}, 10), {3, 3, 3}},
        // EBML (flags 06): count 2, first size 0x85 = 5, difference 0xBF = 0, the rest.
        {"ebml", Then({0x81, 0x00, 0x00, 0x06, 0x02, 0x85, 0xBF}, 5 + 5 + 4), {5, 5, 4}},
        // EBML difference 0x80 = -63: 70 then 7.
        {"ebml negative", Then({0x81, 0x00, 0x00, 0x06, 0x02, 0x40, 0x46, 0x80}, 70 + 7 + 1), {70, 7, 1}},
        // EBML count 0: one frame of the rest.
        {"ebml single", Then({0x81, 0x00, 0x00, 0x06, 0x00}, 6), {6}},
        // No lacing and no frame bytes: one empty frame.
        {"empty", {0x81, 0x00, 0x00, 0x00}, {0}},
    };
    for (const Case& c : cases) {
        EBMLBlock block;
        EXPECT_EQ(Split(block, c.payload), c.frames) << c.what;
    }
}

TEST(BlockLacing, HeadersThatDoNotFitYieldOnlyWholeFrames)
{
    struct Case {
        const char* what;
        Bytes payload;
        std::vector<int32_t> frames;
    };
    const Case cases[] = {
        // The first Xiph size (200) exceeds the 20 bytes left: nothing fits.
        {"xiph first too big", Then({0x81, 0x00, 0x00, 0x02, 0x01, 0xC8}, 20), {}},
        // Sizes adding up past the payload: the frames that fit are kept.
        {"ebml sum too big", Then({0x81, 0x00, 0x00, 0x06, 0x02, 0x84, 0xE0}, 30), {4}},
        // The lace header ends inside a run of 255s, or before its count byte.
        {"xiph cut in size", {0x81, 0x00, 0x00, 0x02, 0x02, 0xFF, 0xFF}, {}},
        {"no count byte", {0x81, 0x00, 0x00, 0x06}, {}},
        {"fixed no count byte", {0x81, 0x00, 0x00, 0x04}, {}},
        // An EBML size whose marker announces more bytes than remain.
        {"ebml size cut", {0x81, 0x00, 0x00, 0x06, 0x01, 0x10}, {}},
        // The payload ends where the size difference should be.
        {"ebml difference cut", {0x81, 0x00, 0x00, 0x06, 0x02, 0x81}, {}},
        // A payload shorter than its own header.
        {"header only partly", {0x81, 0x00}, {}},
    };
    for (const Case& c : cases) {
        EBMLBlock block;
        EXPECT_EQ(Split(block, c.payload), c.frames) << c.what;
        EXPECT_EQ(block.frameCount, static_cast<int32_t>(c.frames.size())) << c.what;
    }
}

TEST(BlockLacing, SplittingAgainReplacesTheFramesLeft)
{
    EBMLBlock block;
    Bytes payload = Then({0x81, 0x00, 0x00, 0x04, 0x01}, 8); // two fixed-size frames of 4
    block.dataSize = payload.size();
    block.Parse(payload.data());
    block.PopSample(); // one delivered
    block.Parse(payload.data());
    EXPECT_EQ(block.frameCount, 2);
    EXPECT_EQ(FrameSizes(block), (std::vector<int32_t>{4, 4}));
}

TEST(BlockLacing, ALaceHeaderLongerThanTheBytesAtHandAsksForMore)
{
    // Xiph lacing, two frames: 600 bytes (sizes 255 255 90), then the rest (5).
    Bytes payload = Then({0x81, 0x00, 0x00, 0x02, 0x01, 0xFF, 0xFF, 0x5A}, 605);
    EBMLBlock block;
    for (uint32_t head : {4u, 6u, 7u}) {
        EXPECT_EQ(block.SplitLaces(payload.data(), head, payload.size()), EBMLBlock::Split::NeedMore) << head;
        EXPECT_FALSE(block.HasFrames());
    }
    // The same bytes as a whole payload: the lace header is cut off.
    EXPECT_EQ(block.SplitLaces(payload.data(), 7, 7), EBMLBlock::Split::Damaged);
    ASSERT_EQ(block.SplitLaces(payload.data(), 8, payload.size()), EBMLBlock::Split::Done);
    // Frames lie after the 8 header bytes, back to back.
    ASSERT_EQ(block.DataCount(), 2);
    EXPECT_EQ(block.FrontFrame().offset, 8);
    EXPECT_EQ(block.FrontFrame().size, 600);
    block.PopSample();
    EXPECT_EQ(block.FrontFrame().offset, 608);
    EXPECT_EQ(block.FrontFrame().size, 5);
}

TEST(BlockHeader, StreamParseRecordsPositionAndSkipsThePayload)
{
    // Two filler bytes, then a payload: 42 03 (track 0x203), timecode, flags, 6 frame bytes.
    Bytes bytes = Then({0xEE, 0xEE, 0x42, 0x03, 0x00, 0x00, 0x80}, 6);
    bytes.push_back(0x77);
    CBitStreamParser stream(bytes.data(), static_cast<int32_t>(bytes.size()));
    stream.Seek(2, 0);
    EBMLBlock block;
    block.dataSize = 11;
    block.Parse(&stream);
    EXPECT_EQ(block.dataPosition, 2);
    EXPECT_EQ(block.trackNumber, 0x203u);
    EXPECT_EQ(stream.Tell(), 13);
    EXPECT_EQ(stream.GetByte(), 0x77);
}
