// Content encodings of a track entry (compression and encryption layers).
// They decide whether a track can be offered, and how its frames' stripped
// headers are put back.
#ifndef MKV_MATROSKA_EBMLCONTENTENCODINGS_H
#define MKV_MATROSKA_EBMLCONTENTENCODINGS_H

#include <cstdint>
#include <memory>
#include <vector>

#include "ebml/EBML.h"
#include "ebml/MallocPtr.h"

class EBMLContentCompression : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    // ContentCompAlgo: 0 zlib (also when absent), 1 bzlib, 2 LZO, 3 header
    // stripping.
    uint32_t algorithm = 0;
    MallocPtr<uint8_t> settings; // ContentCompSettings: for header stripping, the bytes removed
    int32_t settingsLength = 0;
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

    // What the encoding applies to and what it is, with the defaults an
    // absent element stands for (frames; compression).
    uint32_t Scope() const { return hasScope ? scope : 1; }
    uint32_t Type() const { return hasType ? type : 0; }

    uint32_t order = 0;
    uint32_t scope = 0; // bit 0 frames, bit 1 CodecPrivate, bit 2 next encoding
    uint32_t type = 0;  // 0 compression, 1 encryption
    bool hasScope = false;
    bool hasType = false;
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
