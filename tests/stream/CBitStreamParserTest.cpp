// The in-memory stream's answers and bounds, and the bit reader (most significant first) every stream shares.
#include <gtest/gtest.h>

#include <tuple>

#include "TestStreams.h"

TEST(CBitStreamParser, MemoryStreamAnswersWhetherBytesRemainAndNeverLeavesItsBuffer)
{
    constexpr int32_t kNoByte = static_cast<int32_t>(0x80000000u);
    const std::vector<uint8_t> untouched{0xEE};
    // Operation, its result, the destination after it, the position after it.
    const std::tuple<Op, int64_t, std::vector<uint8_t>, int64_t> steps[] = {
        {{Op::GetBytes, 0, 2}, 1, {0x10, 0x11}, 2}, // 1: bytes remain, not the count
        {{Op::Peek, 0, 4}, 0, {0xEE, 0xEE, 0xEE, 0xEE}, 2}, // only the whole count is peeked
        {{Op::Peek, 0, 3}, 3, {0x12, 0x13, 0x14}, 2},
        {{Op::GetBytes, 0, 4}, 0, {0x12, 0x13, 0x14, 0xEE}, 5}, // what was left, and 0: none remain
        {{Op::GetByte, 0, 0}, kNoByte, untouched, 5},
        {{Op::Seek, -10, ZOLVDMX_SEEK_CUR}, 1, untouched, 0},
        {{Op::Seek, 5, ZOLVDMX_SEEK_SET}, 0, untouched, 5}, // reaching the end answers 0...
        {{Op::Seek, -3, ZOLVDMX_SEEK_END}, 1, untouched, 5}, // ...except from the end, whatever the offset
        {{Op::Seek, 1, ZOLVDMX_SEEK_SET}, 1, untouched, 1},
        {{Op::Seek, INT64_MAX, ZOLVDMX_SEEK_CUR}, 0, untouched, 5}, // saturates, never wraps back
        {{Op::Shift, -4, 0}, 1, untouched, 1},
        {{Op::SkipForward, -1, 0}, 0, untouched, 5}, // 2^64 - 1
        {{Op::SkipBytes, -2, 0}, 1, untouched, 3},
        {{Op::SkipBytes, 9, 0}, 1, untouched, 5}, // always 1, even past the end
        {{Op::SkipBytes, -2, 0}, 1, untouched, 3},
        {{Op::Remaining, 0, 0}, 2, untouched, 3},
        {{Op::Shift, 10, 0}, 1, untouched, 5}, // always 1, even past the end
    };
    CBitStreamParser stream = MemoryStream({0x10, 0x11, 0x12, 0x13, 0x14});
    for (size_t i = 0; i < std::size(steps); ++i) {
        const auto& [op, result, written, position] = steps[i];
        const Outcome got = Apply(stream, op);
        EXPECT_EQ(got.result, result) << "step " << i;
        EXPECT_EQ(got.written, written) << "step " << i;
        EXPECT_EQ(got.position, position) << "step " << i;
    }
    // A huge forward seek straight after an ordinary one still saturates at the end.
    stream.Seek(2, ZOLVDMX_SEEK_SET);
    EXPECT_EQ(stream.Seek(INT64_MAX, ZOLVDMX_SEEK_CUR), 0);
    EXPECT_TRUE(stream.IsEnd());
    CBitStreamParser empty;
    EXPECT_TRUE(empty.IsEnd());
    EXPECT_EQ(empty.GetByte(), kNoByte);
}

TEST(CBitStreamParser, BitsComeMostSignificantFirstAndWholeByteOperationsDropAPartlyReadByte)
{
    CBitStreamParser stream = MemoryStream({0xA5, 0xC3, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xF0, 0x5A, 0xBC, 0xDE});
    EXPECT_EQ(stream.GetBit(), 1u);
    EXPECT_EQ(stream.GetBit(), 0u);
    EXPECT_EQ(stream.DecodeBits(2), 0x2u);
    EXPECT_EQ(stream.DecodeBits(12), 0x5C3u); // across the byte boundary
    EXPECT_EQ(stream.DecodeBits(32), 0x12345678u);
    EXPECT_EQ(stream.DecodeBits(3), 0x4u);
    EXPECT_EQ(stream.Shift(0), 1); // drops the rest of 9A
    EXPECT_EQ(stream.DecodeBits(4), 0xFu);
    EXPECT_EQ(stream.SkipBytes(0), 1); // drops the rest of F0
    EXPECT_EQ(stream.DecodeBits(4), 0x5u);
    uint8_t dest = 0;
    stream.GetBytes(1, &dest); // restarts the bit reader on the next whole byte
    EXPECT_EQ(dest, 0xBC);
    EXPECT_EQ(stream.DecodeBits(8), 0xDEu);
}
