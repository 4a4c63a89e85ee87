// EBML: the abstract base of every element class, and the element header
// codec (IDs in held form, sizes, variable-length integers in memory).
#ifndef MKV_EBML_EBML_H
#define MKV_EBML_EBML_H

#include <cstdint>

#include "ElementIds.h"
#include "stream/CBitStreamParser.h"
#include "zolvdmx.h" // the status codes


// Value bits of an ID's first byte for ID lengths 1 to 4.
extern const uint8_t IDBitMask[4];
// Value bits of a size's first byte for size lengths 1 to 8.
extern const uint8_t DataSizeBitMask[8];

class EBML {
public:
    EBML() = default;
    virtual ~EBML() = default;
    EBML(const EBML&) = delete;
    EBML& operator=(const EBML&) = delete;

    // Reads the element's payload; the stream is just after the element header.
    virtual uint32_t Parse(CBitStreamParser* stream) = 0;

    uint64_t dataSize = 0;       // payload size, where the parent records it
    int64_t elementPosition = 0; // offset of the first ID byte, where recorded
    int64_t dataPosition = 0;    // offset of the first payload byte, where recorded
    // True when the parent recorded dataPosition and a definite dataSize
    // before parsing: the element's declared end is then known.
    bool sizeKnown = false;

    int64_t DeclaredEnd() const { return dataPosition + static_cast<int64_t>(dataSize); }

    static uint32_t PeekID(CBitStreamParser* stream);
    static uint32_t PeekID(CBitStreamParser* stream, uint32_t& length);
    static uint32_t GetNextID(CBitStreamParser* stream, uint32_t& id, uint64_t& size);
    static uint32_t GetNextID(CBitStreamParser* stream);
    // As GetNextID(stream, id, size), also telling whether the size field was
    // the all-ones "unknown size" (size then runs to the end of the source).
    static uint32_t ReadElementHeader(CBitStreamParser* stream, uint32_t& id, uint64_t& size,
                                      bool& unknownSize);

    // Variable-length integers in memory (EBML lacing). Never read beyond
    // `remaining` bytes: an integer that does not fit, or a first byte 0,
    // consumes the whole remainder without storing a value.
    static int32_t GetEBMLUnsigned(uint64_t& value, const uint8_t* p, int32_t remaining);
    static int32_t GetEBMLSigned(int64_t& value, const uint8_t* p, int32_t remaining);

    // Length in bytes of a variable-length integer from its first byte (1 to
    // 8), 0 for a first byte of 0.
    static int32_t VintLength(uint8_t first)
    {
        for (int32_t n = 1; n <= 8; ++n) {
            if (first & (0x80u >> (n - 1))) {
                return n;
            }
        }
        return 0;
    }
    // The value bits of an n-byte variable-length integer all set: the
    // "unknown size" value.
    static uint64_t VintAllOnes(int32_t n) { return (uint64_t{1} << (7 * n)) - 1; }
};

#endif
