// Rewrites an H.264 frame from length-prefixed NAL units to start-code form.
#include "KelmMKVDemux.h"

#include <algorithm>
#include <cstring>

bool KelmMKVDemux::ReconstructH264Sample(int32_t& size, unsigned char* dest, int32_t capacity,
                                         const EBMLBinary* frame, int32_t lengthSizeMinusOne)
{
    static const uint8_t kStartCode[4] = {0, 0, 0, 1};
    size = 0;
    if (lengthSizeMinusOne < 0 || lengthSizeMinusOne > 3) {
        return false;
    }
    const uint64_t limit = static_cast<uint64_t>(std::min(capacity, kH264OutputLimit));
    const uint8_t* in = frame->GetData();
    const uint64_t n = static_cast<uint64_t>(std::max(frame->GetLength(), 0));
    const uint64_t lengthSize = static_cast<uint64_t>(lengthSizeMinusOne) + 1;
    uint64_t i = 0;
    uint64_t o = 0;
    while (i + lengthSize < n) {
        uint64_t unit = 0;
        for (uint64_t k = 0; k < lengthSize; ++k) {
            unit = (unit << 8) | in[i + k];
        }
        i += lengthSize;
        if (o + 4 > limit) {
            size = static_cast<int32_t>(o);
            return false;
        }
        std::memcpy(dest + o, kStartCode, 4);
        o += 4;
        if (o + unit > limit || i + unit > n) {
            // Too large for the output, or the unit runs past the frame.
            size = static_cast<int32_t>(o);
            return false;
        }
        std::memcpy(dest + o, in + i, static_cast<size_t>(unit));
        i += unit;
        o += unit;
    }
    size = static_cast<int32_t>(o);
    return true;
}
