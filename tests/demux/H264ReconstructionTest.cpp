// The H.264 rewrite from length-prefixed NAL units to start codes, done in
// the host's buffer the frame was read into, writing nothing past the output.
#include <gtest/gtest.h>

#include <algorithm>

#include "LoadedFile.h"
#include "demux/KelmMKVDemux.h"

TEST(H264Reconstruction, RewritesEveryUnitBehindAStartCode)
{
    const struct {
        const char* what;
        const char* frame;
        int32_t lengthSizeMinusOne;
        int32_t capacity;
        const char* output; // null: refused
    } cases[] = {
        {"4-byte lengths, in place", "00000002 AABB 00000001 CC", 3, 11, "00000001 AABB 00000001 CC"},
        {"2-byte lengths grow by 2 a unit", "0003 AABBCC 0001 DD", 1, 64, "00000001 AABBCC 00000001 DD"},
        {"1-byte lengths, exactly the room needed", "02 AABB 01 CC 01 DD", 0, 16,
         "00000001 AABB 00000001 CC 00000001 DD"},
        {"one byte short of the room needed", "02 AABB 01 CC 01 DD", 0, 15, nullptr},
        {"a unit claims more than the frame holds", "05 AABB", 0, 16, nullptr},
        {"trailing bytes too short for a unit are dropped", "00000001 AA 000000", 3, 8, "00000001 AA"},
        {"an empty unit gives a bare start code", "00000000 00000001 AA", 3, 9, "00000001 00000001 AA"},
        {"no length size known", "00000001 AA", -1, 5, nullptr},
    };
    for (const auto& c : cases) {
        // The frame at the start of a buffer of exactly `capacity` bytes, as
        // delivery reads it; past the frame and the output nothing changes.
        const Bytes frame = Hex(c.frame);
        Bytes buffer(static_cast<size_t>(c.capacity), 0xEE);
        std::copy(frame.begin(), frame.end(), buffer.begin());
        int32_t size = -1;
        KelmMKVDemux demux;
        EXPECT_EQ(demux.ReconstructH264Sample(size, buffer.data(), c.capacity, static_cast<int32_t>(frame.size()),
                                              c.lengthSizeMinusOne),
                  c.output != nullptr)
            << c.what;
        if (c.output != nullptr) {
            EXPECT_EQ(At(buffer.data(), size), Hex(c.output)) << c.what;
            const int32_t used = std::max(size, static_cast<int32_t>(frame.size()));
            EXPECT_EQ(std::count(buffer.begin() + used, buffer.end(), 0xEE), c.capacity - used) << c.what;
        }
    }
}
