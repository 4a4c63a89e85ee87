// Rewrites an H.264 or HEVC frame from length-prefixed NAL units to
// start-code form, in the host's buffer the frame was read into.
#include "KelmMKVDemux.h"

#include <cstring>

bool KelmMKVDemux::ReconstructH264Sample(int32_t& size, unsigned char* dest, int32_t capacity, int32_t inputLength,
                                         int32_t lengthSizeMinusOne)
{
    static const uint8_t kStartCode[4] = {0, 0, 0, 1};
    size = 0;
    if (lengthSizeMinusOne < 0 || lengthSizeMinusOne > 3 || inputLength < 0 || inputLength > capacity) {
        return false;
    }
    const uint64_t limit = static_cast<uint64_t>(capacity);
    const uint64_t n = static_cast<uint64_t>(inputLength);
    const uint64_t lengthSize = static_cast<uint64_t>(lengthSizeMinusOne) + 1;
    auto unitLength = [&](const uint8_t* in, uint64_t at) {
        uint64_t unit = 0;
        for (uint64_t k = 0; k < lengthSize; ++k) {
            unit = (unit << 8) | in[at + k];
        }
        return unit;
    };

    // First the layout: every unit inside the frame, the output inside the
    // host's buffer. Trailing bytes too short for a length and a byte are dropped.
    uint64_t consumed = 0; // the bytes of the units, lengths included
    uint64_t output = 0;
    while (consumed + lengthSize < n) {
        uint64_t unit = unitLength(dest, consumed);
        consumed += lengthSize;
        if (unit > n - consumed) {
            return false; // the unit runs past the frame
        }
        consumed += unit;
        output += 4 + unit;
    }
    if (output > limit) {
        return false;
    }
    // Start codes longer than the lengths they replace make each unit grow:
    // the units move to the end of the output's room first, so that no
    // unit's output reaches a length or a unit not yet read (the dropped
    // trailing bytes do not count: output can be shorter than the frame
    // and still overtake its units).
    const uint64_t at = output - consumed;
    if (at > 0) {
        std::memmove(dest + at, dest, static_cast<size_t>(consumed));
    }
    const uint8_t* in = dest + at;
    uint64_t o = 0;
    for (uint64_t i = 0; i < consumed;) {
        uint64_t unit = unitLength(in, i);
        i += lengthSize;
        std::memmove(dest + o + 4, in + i, static_cast<size_t>(unit));
        std::memcpy(dest + o, kStartCode, 4);
        i += unit;
        o += 4 + unit;
    }
    size = static_cast<int32_t>(o);
    return true;
}
