// The in-memory stream's operations, their return values and bounds, and the
// most-significant-bit-first bit reader shared by every stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "TestStreams.h"
#include "stream/CBitStreamParser.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kNoByte = static_cast<int32_t>(0x80000000u);

} // namespace

TEST(CBitStreamParser, GetBytesCopiesWhatRemainsAndAnswersWhetherBytesAreLeft)
{
    CBitStreamParser stream(Bytes{1, 2, 3, 4, 5}.data(), 5);
    struct Step {
        int32_t count;
        int32_t result;
        Bytes copied; // dest starts as EE EE EE EE
        int64_t position;
    };
    const Step steps[] = {
        {2, 1, {1, 2, 0xEE, 0xEE}, 2},
        {0, 1, {0xEE, 0xEE, 0xEE, 0xEE}, 2},
        {4, 0, {3, 4, 5, 0xEE}, 5}, // only three were left
        {2, 0, {0xEE, 0xEE, 0xEE, 0xEE}, 5},
    };
    for (const Step& step : steps) {
        Bytes dest(4, 0xEE);
        EXPECT_EQ(stream.GetBytes(step.count, dest.data()), step.result) << step.count;
        EXPECT_EQ(dest, step.copied) << step.count;
        EXPECT_EQ(stream.Tell(), step.position) << step.count;
    }
}

TEST(CBitStreamParser, PeekNeedsTheWholeCountAndNeverMoves)
{
    CBitStreamParser stream(Bytes{0x1A, 0x45, 0xDF}.data(), 3);
    Bytes dest(4, 0xEE);
    EXPECT_EQ(stream.Peek(dest.data(), 4), 0);
    EXPECT_EQ(dest, (Bytes{0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(stream.Peek(dest.data(), 3), 3);
    EXPECT_EQ(dest, (Bytes{0x1A, 0x45, 0xDF, 0xEE}));
    EXPECT_EQ(stream.Tell(), 0);
    stream.GetByte();
    EXPECT_EQ(stream.Peek(dest.data(), 3), 0);
    EXPECT_EQ(stream.Peek(dest.data(), 2), 2);
    EXPECT_EQ(dest[0], 0x45);
    EXPECT_EQ(stream.Tell(), 1);
}

TEST(CBitStreamParser, SeekAnswersZeroOnReachingTheEnd)
{
    struct Case {
        int64_t start;
        int64_t offset;
        int32_t whence;
        int32_t result;
        int32_t nextByte; // what GetByte gives afterwards
    };
    const Case cases[] = {
        {0, 3, 0, 1, 0x13},
        {0, 4, 0, 0, kNoByte},   // exactly the end
        {1, 3, 1, 0, kNoByte}, // reaches the end
        {3, -2, 1, 1, 0x11},
        {1, 0, 2, 1, kNoByte},   // to the end, whatever the offset
        {2, -10, 1, 1, 0x10},    // before the start: reads stay in the buffer
        {2, INT64_MAX, 1, 0, kNoByte},
    };
    for (const Case& c : cases) {
        CBitStreamParser stream = MemoryStream({0x10, 0x11, 0x12, 0x13});
        stream.Seek(c.start, 0);
        EXPECT_EQ(stream.Seek(c.offset, c.whence), c.result) << c.start << " " << c.offset << " " << c.whence;
        EXPECT_EQ(stream.GetByte(), c.nextByte) << c.start << " " << c.offset << " " << c.whence;
    }
}

TEST(CBitStreamParser, GetByteAnswers0x80000000AtTheEnd)
{
    CBitStreamParser stream = MemoryStream({0xFF, 0x00});
    EXPECT_EQ(stream.GetByte(), 0xFF);
    EXPECT_FALSE(stream.IsEnd());
    EXPECT_EQ(stream.GetByte(), 0x00);
    EXPECT_TRUE(stream.IsEnd());
    EXPECT_EQ(stream.GetByte(), kNoByte);
    EXPECT_EQ(stream.Tell(), 2);

    CBitStreamParser empty;
    EXPECT_TRUE(empty.IsEnd());
    EXPECT_EQ(empty.GetByte(), kNoByte);
}

TEST(CBitStreamParser, ShiftAndSkipBytesDropTheRestOfAPartlyReadByte)
{
    for (bool useShift : {true, false}) {
        CBitStreamParser stream = MemoryStream({0x80, 0x11, 0x22, 0x33});
        EXPECT_EQ(stream.GetBit(), 1u);
        EXPECT_EQ(useShift ? stream.Shift(1) : stream.SkipBytes(1), 1);
        EXPECT_EQ(stream.DecodeBits(8), 0x22u) << useShift;
        // Always 1, even past the end.
        EXPECT_EQ(useShift ? stream.Shift(10) : stream.SkipBytes(10), 1);
        EXPECT_TRUE(stream.IsEnd());
    }
    // SkipBytes(0) on a partly read byte still discards its remaining bits.
    CBitStreamParser stream = MemoryStream({0xF0, 0x5A});
    EXPECT_EQ(stream.DecodeBits(4), 0xFu);
    stream.SkipBytes(0);
    EXPECT_EQ(stream.DecodeBits(8), 0x5Au);
}

TEST(CBitStreamParser, BitsComeMostSignificantFirstAcrossBytes)
{
    CBitStreamParser stream = MemoryStream({0xA5, 0xC3, 0x12, 0x34, 0x56, 0x78, 0x9A});
    EXPECT_EQ(stream.GetBit(), 1u);
    EXPECT_EQ(stream.GetBit(), 0u);
    EXPECT_EQ(stream.DecodeBits(2), 0x2u);
    EXPECT_EQ(stream.DecodeInt(8), 0x5Cu);
    uint32_t out = 0xFFFFFFFFu;
    EXPECT_EQ(stream.DecodeInt(4, &out), 1);
    EXPECT_EQ(out, 0x3u);
    EXPECT_EQ(stream.DecodeBits(32), 0x12345678u);
    EXPECT_EQ(stream.Align(), 1); // already aligned
    EXPECT_EQ(stream.DecodeBits(3), 0x4u);
    stream.Align();
    EXPECT_TRUE(stream.IsEnd());
}

TEST(CBitStreamParser, GetBytesRestartsTheBitReaderOnAWholeByte)
{
    CBitStreamParser stream = MemoryStream({0xAB, 0xCD, 0xEF});
    EXPECT_EQ(stream.DecodeBits(4), 0xAu);
    uint8_t dest = 0;
    stream.GetBytes(1, &dest);
    EXPECT_EQ(dest, 0xCD);
    EXPECT_EQ(stream.DecodeBits(8), 0xEFu); // not the low half of AB
}

TEST(CBitStreamParser, DecodeFloatAndDoubleReadBigEndianValues)
{
    struct FloatCase {
        Bytes bytes;
        float value;
    };
    const FloatCase floats[] = {
        {{0xC0, 0x49, 0x0F, 0xDB}, -3.14159274f},
        {{0x00, 0x00, 0x00, 0x01}, 1.40129846e-45f}, // smallest subnormal
    };
    for (const FloatCase& c : floats) {
        CBitStreamParser stream = MemoryStream(c.bytes);
        EXPECT_EQ(stream.DecodeFloat(), c.value);
        EXPECT_TRUE(stream.IsEnd());
    }
    struct DoubleCase {
        Bytes bytes;
        double value;
    };
    const DoubleCase doubles[] = {
        {{0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}, 3.141592653589793},
        {{0xC0, 0x8F, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00}, -1000.0},
        {{0x3F, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}, 1.0000000000000002},
    };
    for (const DoubleCase& c : doubles) {
        CBitStreamParser stream = MemoryStream(c.bytes);
        EXPECT_EQ(stream.DecodeDouble(), c.value);
        EXPECT_TRUE(stream.IsEnd());
    }
}

TEST(CBitStreamParser, SkipForwardNeverMovesBackward)
{
    struct Case {
        uint64_t count;
        int64_t position; // after starting at 1 in a 6-byte buffer
    };
    const Case cases[] = {
        {0, 1},
        {3, 4},
        {0x7FFFFFFFull, 6},
        {0x80000000ull, 6},
        {0x7FFFFFFFFFFFFFFFull, 6},
        {0x8000000000000000ull, 6},
        {UINT64_MAX, 6},
    };
    for (const Case& c : cases) {
        CBitStreamParser stream = MemoryStream({0, 1, 2, 3, 4, 5});
        stream.GetByte();
        stream.SkipForward(c.count);
        EXPECT_EQ(stream.Tell(), c.position) << c.count;
        EXPECT_EQ(stream.RemainingBytes(), 6 - c.position) << c.count;
    }
}
