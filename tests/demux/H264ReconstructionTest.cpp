// The H.264 rewrite from length-prefixed NAL units to start codes, done in
// the host's buffer the frame was read into, writing nothing past the output.
#include <gtest/gtest.h>

#include <cstring>

#include "EbmlWriter.h"
#include "demux/KelmMKVDemux.h"

namespace {

struct Rewrite {
    bool ok;
    Bytes output;
};

// The frame at the start of a buffer of exactly `capacity` bytes, as
// delivery reads it.
Rewrite RunRewrite(const Bytes& frame, int32_t lengthSizeMinusOne, int32_t capacity)
{
    KelmMKVDemux demux;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(capacity)]);
    std::memcpy(buffer.get(), frame.data(), frame.size());
    int32_t size = -1;
    bool ok = demux.ReconstructH264Sample(size, buffer.get(), capacity, static_cast<int32_t>(frame.size()),
                                          lengthSizeMinusOne);
    return {ok, ok ? Bytes(buffer.get(), buffer.get() + size) : Bytes()};
}

} // namespace

TEST(H264Reconstruction, RewritesEveryUnitBehindAStartCode)
{
    const Bytes code = {0, 0, 0, 1};
    struct Case {
        const char* what;
        Bytes frame;
        int32_t lengthSizeMinusOne;
        int32_t capacity;
        bool ok;
        Bytes output;
    };
    const Case cases[] = {
        {"4-byte lengths, in place", {0, 0, 0, 2, 0xAA, 0xBB, 0, 0, 0, 1, 0xCC}, 3, 11, true,
         ebml::Cat({code, {0xAA, 0xBB}, code, {0xCC}})},
        {"2-byte lengths grow by 2 a unit", {0, 3, 0xAA, 0xBB, 0xCC, 0, 1, 0xDD}, 1, 12, true,
         ebml::Cat({code, {0xAA, 0xBB, 0xCC}, code, {0xDD}})},
        {"1-byte lengths, exactly the room needed", {2, 0xAA, 0xBB, 1, 0xCC, 1, 0xDD}, 0, 16, true,
         ebml::Cat({code, {0xAA, 0xBB}, code, {0xCC}, code, {0xDD}})},
        {"one byte short of the room needed", {2, 0xAA, 0xBB, 1, 0xCC, 1, 0xDD}, 0, 15, false, {}},
        {"a unit claims more than the frame holds", {5, 0xAA, 0xBB}, 0, 16, false, {}},
        {"trailing bytes too short for a unit are dropped", {0, 0, 0, 1, 0xAA, 0, 0, 0}, 3, 8, true,
         ebml::Cat({code, {0xAA}})},
        {"an empty unit gives a bare start code", {0, 0, 0, 0, 0, 0, 0, 1, 0xAA}, 3, 9, true,
         ebml::Cat({code, code, {0xAA}})},
        {"no length size known", {0, 0, 0, 1, 0xAA}, -1, 5, false, {}},
    };
    for (const Case& c : cases) {
        Rewrite r = RunRewrite(c.frame, c.lengthSizeMinusOne, c.capacity);
        EXPECT_EQ(r.ok, c.ok) << c.what;
        EXPECT_EQ(r.output, c.output) << c.what;
    }
}

TEST(H264Reconstruction, WritesNothingPastTheOutputWhateverTheBufferHolds)
{
    // Two-byte lengths grow the frame by 2 a unit: 8 bytes become 12 of a
    // 64-byte buffer, and the 52 after them stay as they were.
    KelmMKVDemux demux;
    Bytes buffer(64, 0xEE);
    const Bytes frame = {0, 3, 0xAA, 0xBB, 0xCC, 0, 1, 0xDD};
    std::copy(frame.begin(), frame.end(), buffer.begin());
    int32_t size = 0;
    ASSERT_TRUE(demux.ReconstructH264Sample(size, buffer.data(), 64, 8, 1));
    EXPECT_EQ(size, 12);
    EXPECT_EQ(Bytes(buffer.begin() + 12, buffer.end()), Bytes(52, 0xEE));
}
