// Builds EBML documents for tests, element by element, so a test's input reads like the file it
// describes. IDs are written as in the published tables (first byte first).
#ifndef MKV_TESTS_SUPPORT_EBMLWRITER_H
#define MKV_TESTS_SUPPORT_EBMLWRITER_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace ebml {

Bytes Cat(std::initializer_list<Bytes> parts);
Bytes Cat(const std::vector<Bytes>& parts);
inline Bytes Filler(size_t count, uint8_t value = 0) { return Bytes(count, value); }

Bytes Size(uint64_t size, int length = 0); // a size field of `length` bytes (0: the shortest that fits)
Bytes Id(uint32_t id);

// Element with a payload; sizeLength 0 picks the shortest size field.
Bytes Element(uint32_t id, const Bytes& payload, int sizeLength = 0);
// Element whose all-ones size field says "unknown"; the payload follows as given.
Bytes UnknownSizeElement(uint32_t id, const Bytes& payload, int sizeLength = 8);
// Master element: the children concatenated as its payload.
inline Bytes Master(uint32_t id, std::initializer_list<Bytes> children, int sizeLength = 0)
{
    return Element(id, Cat(children), sizeLength);
}
inline Bytes Master(uint32_t id, const std::vector<Bytes>& children, int sizeLength = 0)
{
    return Element(id, Cat(children), sizeLength);
}

// Unsigned integer payload of `length` bytes (0: shortest, at least 1).
Bytes UInt(uint32_t id, uint64_t value, int length = 0);
Bytes Float32(uint32_t id, float value);
Bytes Float64(uint32_t id, double value);
inline Bytes Str(uint32_t id, const std::string& text) { return Element(id, Bytes(text.begin(), text.end())); }
inline Bytes Bin(uint32_t id, const Bytes& payload) { return Element(id, payload); }

// Block payload: track number (EBML integer), 16-bit relative timecode, flags, then the rest as given.
Bytes BlockPayload(uint64_t track, int16_t relativeTimecode, uint8_t flags, const Bytes& rest);
inline Bytes SimpleBlock(uint64_t track, int16_t relativeTimecode, uint8_t flags, const Bytes& frame)
{
    return Element(0xA3, BlockPayload(track, relativeTimecode, flags, frame));
}
// A BlockGroup with one Block and optional ReferenceBlock children.
Bytes BlockGroup(uint64_t track, int16_t relativeTimecode, const Bytes& frame,
                 std::initializer_list<int64_t> references = {});
Bytes EbmlHeader(const std::string& docType = "matroska");

} // namespace ebml

#endif
