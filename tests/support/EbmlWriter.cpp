// EBML writer for tests.
#include "EbmlWriter.h"

#include <cstring>

namespace ebml {

namespace {

void Append(Bytes& to, const Bytes& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

} // namespace

Bytes Size(uint64_t size, int length)
{
    if (length == 0) {
        length = 1;
        while (length < 8 && size >= (uint64_t{1} << (7 * length)) - 1) {
            ++length;
        }
    }
    Bytes out(static_cast<size_t>(length));
    uint64_t value = size | (uint64_t{1} << (7 * length));
    for (int k = length - 1; k >= 0; --k) {
        out[static_cast<size_t>(k)] = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
    return out;
}

Bytes UnknownSize(int length)
{
    Bytes out(static_cast<size_t>(length), 0xFF);
    out[0] = static_cast<uint8_t>(0xFF >> (length - 1));
    return out;
}

Bytes Id(uint32_t id)
{
    Bytes out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        uint8_t b = static_cast<uint8_t>(id >> shift);
        if (!out.empty() || b != 0) {
            out.push_back(b);
        }
    }
    return out;
}

Bytes Element(uint32_t id, const Bytes& payload, int sizeLength)
{
    Bytes out = Id(id);
    Append(out, Size(payload.size(), sizeLength));
    Append(out, payload);
    return out;
}

Bytes UnknownSizeElement(uint32_t id, const Bytes& payload, int sizeLength)
{
    Bytes out = Id(id);
    Append(out, UnknownSize(sizeLength));
    Append(out, payload);
    return out;
}

Bytes Master(uint32_t id, std::initializer_list<Bytes> children, int sizeLength)
{
    return Element(id, Cat(children), sizeLength);
}

Bytes Master(uint32_t id, const std::vector<Bytes>& children, int sizeLength)
{
    return Element(id, Cat(children), sizeLength);
}

Bytes UInt(uint32_t id, uint64_t value, int length)
{
    if (length == 0) {
        length = 1;
        while (length < 8 && (value >> (8 * length)) != 0) {
            ++length;
        }
    }
    Bytes payload(static_cast<size_t>(length));
    for (int k = length - 1; k >= 0; --k) {
        payload[static_cast<size_t>(k)] = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
    return Element(id, payload);
}

Bytes Float32(uint32_t id, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Bytes payload{static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
                  static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
    return Element(id, payload);
}

Bytes Float64(uint32_t id, double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Bytes payload(8);
    for (int k = 7; k >= 0; --k) {
        payload[static_cast<size_t>(k)] = static_cast<uint8_t>(bits & 0xFF);
        bits >>= 8;
    }
    return Element(id, payload);
}

Bytes Str(uint32_t id, const std::string& text)
{
    return Element(id, Bytes(text.begin(), text.end()));
}

Bytes Bin(uint32_t id, const Bytes& payload)
{
    return Element(id, payload);
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts) {
        Append(out, part);
    }
    return out;
}

Bytes Cat(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& part : parts) {
        Append(out, part);
    }
    return out;
}

Bytes Filler(size_t count, uint8_t value)
{
    return Bytes(count, value);
}

Bytes BlockPayload(uint64_t track, int16_t relativeTimecode, uint8_t flags, const Bytes& rest)
{
    Bytes out = Size(track);
    uint16_t tc = static_cast<uint16_t>(relativeTimecode);
    out.push_back(static_cast<uint8_t>(tc >> 8));
    out.push_back(static_cast<uint8_t>(tc & 0xFF));
    out.push_back(flags);
    Append(out, rest);
    return out;
}

Bytes SimpleBlock(uint64_t track, int16_t relativeTimecode, uint8_t flags, const Bytes& frame)
{
    return Element(0xA3, BlockPayload(track, relativeTimecode, flags, frame));
}

Bytes BlockGroup(uint64_t track, int16_t relativeTimecode, const Bytes& frame,
                 std::initializer_list<int64_t> references)
{
    std::vector<Bytes> children{Element(0xA1, BlockPayload(track, relativeTimecode, 0x00, frame))};
    for (int64_t reference : references) {
        // ReferenceBlock is a signed integer; written as two bytes.
        uint16_t v = static_cast<uint16_t>(static_cast<int16_t>(reference));
        children.push_back(Element(0xFB, Bytes{static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 0xFF)}));
    }
    return Master(0xA0, children);
}

Bytes EbmlHeader(const std::string& docType)
{
    return Master(0x1A45DFA3, {UInt(0x4286, 1), UInt(0x42F7, 1), UInt(0x42F2, 4), UInt(0x42F3, 8),
                               Str(0x4282, docType), UInt(0x4287, 4), UInt(0x4285, 2)});
}

} // namespace ebml
