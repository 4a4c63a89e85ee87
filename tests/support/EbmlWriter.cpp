// EBML writer for tests.
#include "EbmlWriter.h"

#include <cstring>

namespace ebml {

// The low `length` bytes of value, most significant first.
static Bytes BigEndian(uint64_t value, int length)
{
    Bytes out(static_cast<size_t>(length));
    for (int k = length - 1; k >= 0; --k, value >>= 8) {
        out[static_cast<size_t>(k)] = static_cast<uint8_t>(value);
    }
    return out;
}

Bytes Size(uint64_t size, int length)
{
    if (length == 0) {
        // The all-ones value of each length means "unknown": it takes the next length.
        length = 1;
        while (length < 8 && size >= (uint64_t{1} << (7 * length)) - 1) {
            ++length;
        }
    }
    return BigEndian(size | (uint64_t{1} << (7 * length)), length);
}

Bytes Id(uint32_t id)
{
    int length = 4;
    while (length > 0 && (id >> (8 * (length - 1))) == 0) {
        --length;
    }
    return BigEndian(id, length);
}

Bytes Element(uint32_t id, const Bytes& payload, int sizeLength)
{
    return Cat({Id(id), Size(payload.size(), sizeLength), payload});
}

Bytes UnknownSizeElement(uint32_t id, const Bytes& payload, int sizeLength)
{
    return Cat({Id(id), Size((uint64_t{1} << (7 * sizeLength)) - 1, sizeLength), payload});
}

Bytes UInt(uint32_t id, uint64_t value, int length)
{
    if (length == 0) {
        length = 1;
        while (length < 8 && (value >> (8 * length)) != 0) {
            ++length;
        }
    }
    return Element(id, BigEndian(value, length));
}

Bytes Float32(uint32_t id, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return UInt(id, bits, 4);
}

Bytes Float64(uint32_t id, double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return UInt(id, bits, 8);
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    return Cat(std::vector<Bytes>(parts));
}

Bytes Cat(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes BlockPayload(uint64_t track, int16_t relativeTimecode, uint8_t flags, const Bytes& rest)
{
    return Cat({Size(track), BigEndian(static_cast<uint16_t>(relativeTimecode), 2), {flags}, rest});
}

Bytes BlockGroup(uint64_t track, int16_t relativeTimecode, const Bytes& frame,
                 std::initializer_list<int64_t> references)
{
    std::vector<Bytes> children{Element(0xA1, BlockPayload(track, relativeTimecode, 0x00, frame))};
    for (int64_t reference : references) { // a signed integer, written in two bytes
        children.push_back(UInt(0xFB, static_cast<uint16_t>(reference), 2));
    }
    return Master(0xA0, children);
}

Bytes EbmlHeader(const std::string& docType)
{
    return Master(0x1A45DFA3, {UInt(0x4286, 1), UInt(0x42F7, 1), UInt(0x42F2, 4), UInt(0x42F3, 8),
                               Str(0x4282, docType), UInt(0x4287, 4), UInt(0x4285, 2)});
}

} // namespace ebml
