// Builds EBML documents for tests, element by element, so a test's input
// reads like the file it describes. IDs are written as in the published
// tables (first byte first).
#ifndef MKV_TESTS_SUPPORT_EBMLWRITER_H
#define MKV_TESTS_SUPPORT_EBMLWRITER_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace ebml {

// An EBML size field of the given length (0: the shortest that fits).
Bytes Size(uint64_t size, int length = 0);
// The all-ones "unknown size" field of the given length.
Bytes UnknownSize(int length = 8);
// The ID bytes, first byte first.
Bytes Id(uint32_t id);

// Element with a payload; sizeLength 0 picks the shortest size field.
Bytes Element(uint32_t id, const Bytes& payload, int sizeLength = 0);
// Element whose size field says "unknown"; the payload follows as given.
Bytes UnknownSizeElement(uint32_t id, const Bytes& payload, int sizeLength = 8);
// Master element: the children concatenated as its payload.
Bytes Master(uint32_t id, std::initializer_list<Bytes> children, int sizeLength = 0);
Bytes Master(uint32_t id, const std::vector<Bytes>& children, int sizeLength = 0);

// Unsigned integer payload of `length` bytes (0: shortest, at least 1).
Bytes UInt(uint32_t id, uint64_t value, int length = 0);
Bytes Float32(uint32_t id, float value);
Bytes Float64(uint32_t id, double value);
Bytes Str(uint32_t id, const std::string& text);
Bytes Bin(uint32_t id, const Bytes& payload);

// Raw bytes and concatenation, for damaged data and whole files.
Bytes Cat(std::initializer_list<Bytes> parts);
Bytes Cat(const std::vector<Bytes>& parts);
Bytes Filler(size_t count, uint8_t value = 0);

// Block payload: track number (EBML integer), 16-bit relative timecode,
// flags, then the lace header and frames as given.
Bytes BlockPayload(uint64_t track, int16_t relativeTimecode, uint8_t flags, const Bytes& rest);
// A SimpleBlock element (0xA3) holding BlockPayload(...).
Bytes SimpleBlock(uint64_t track, int16_t relativeTimecode, uint8_t flags, const Bytes& frame);
// A BlockGroup with one Block and optional ReferenceBlock children.
Bytes BlockGroup(uint64_t track, int16_t relativeTimecode, const Bytes& frame,
                 std::initializer_list<int64_t> references = {});

// An EBML header with the given DocType.
Bytes EbmlHeader(const std::string& docType = "matroska");

} // namespace ebml

#endif
