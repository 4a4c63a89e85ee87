// Content encodings of a track entry (compression and encryption layers).
// Nothing is undone; they only decide whether a track can be offered.
#ifndef MKV_MATROSKA_EBMLCONTENTENCODINGS_H
#define MKV_MATROSKA_EBMLCONTENTENCODINGS_H

#include <cstdint>
#include <memory>
#include <vector>

#include "ebml/EBML.h"
#include "ebml/MallocPtr.h"

class EBMLContentCompression : public EBML {
public:
    // Passes over the whole ContentCompression payload; nothing is kept.
    uint32_t Parse(CBitStreamParser* stream) override;

    uint32_t algorithm = 0;
    MallocPtr<uint8_t> settings;
};

class EBMLContentEncryption : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    uint32_t algorithm = 0;
    MallocPtr<uint8_t> keyId;
    int32_t keyIdLength = 0;
    MallocPtr<uint8_t> signature;
    int32_t signatureLength = 0;
    MallocPtr<uint8_t> signatureKeyId;
    int32_t signatureKeyIdLength = 0;
    uint32_t signatureAlgorithm = 0;
    uint32_t signatureHashAlgorithm = 0;
};

class EBMLContentEncoding : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    uint32_t order = 0;
    uint32_t scope = 0; // bit 0 frames, bit 1 CodecPrivate, bit 2 next encoding
    uint32_t type = 0;  // 0 compression, 1 encryption
    std::unique_ptr<EBMLContentCompression> compression;
    std::unique_ptr<EBMLContentEncryption> encryption;
};

class EBMLContentEncodings : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    std::vector<std::unique_ptr<EBMLContentEncoding>> encodings;
};

// qsort comparator over EBMLContentEncoding* elements: ascending order.
int SortContentEncoding(const void* a, const void* b);
// The decompression hook; undoes nothing.
int32_t MKVBinDecompress(EBMLContentCompression& compression);

#endif
