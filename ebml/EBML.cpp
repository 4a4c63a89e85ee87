// Element header codec.
#include "EBML.h"

const uint8_t IDBitMask[4] = {0x7F, 0x3F, 0x1F, 0x0F};
const uint8_t DataSizeBitMask[8] = {0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01, 0x00};

namespace {

// Length in bytes of an ID from its first byte (1 to 4), 0 when invalid.
uint32_t IdLength(uint8_t first)
{
    for (uint32_t n = 1; n <= 4; ++n) {
        if (first & (0x80u >> (n - 1))) {
            return n;
        }
    }
    return 0;
}

} // namespace

uint32_t EBML::PeekID(CBitStreamParser* stream)
{
    uint32_t length = 0;
    return PeekID(stream, length);
}

uint32_t EBML::PeekID(CBitStreamParser* stream, uint32_t& length)
{
    // Up to four bytes: an ID of fewer bytes is read even where the source
    // ends right after it (a small last element).
    uint8_t bytes[5] = {0, 0, 0, 0, 0};
    int32_t peeked = stream->Peek(bytes, 4);
    if (peeked < 1) {
        return kIdInvalid;
    }
    uint32_t n = IdLength(bytes[0]);
    if (n == 0 || n > static_cast<uint32_t>(peeked)) {
        return kIdInvalid;
    }
    uint32_t id = 0;
    for (uint32_t k = 0; k < n; ++k) {
        id |= static_cast<uint32_t>(bytes[k]) << (8 * k);
    }
    length = n;
    return id;
}

uint32_t EBML::ReadElementHeader(CBitStreamParser* stream, uint32_t& id, uint64_t& size,
                                 bool& unknownSize)
{
    unknownSize = false;
    id = 0;
    size = 0;
    uint32_t first = stream->DecodeBits(8) & 0xFFu;
    uint32_t idLength = IdLength(static_cast<uint8_t>(first));
    if (idLength == 0) {
        id = first;
        return ZOLVDMX_E_FAIL;
    }
    id = first;
    for (uint32_t k = 1; k < idLength; ++k) {
        id |= (stream->DecodeBits(8) & 0xFFu) << (8 * k);
    }

    uint8_t sizeFirst = static_cast<uint8_t>(stream->DecodeBits(8));
    int32_t n = VintLength(sizeFirst);
    if (n == 0) {
        return ZOLVDMX_E_FAIL;
    }
    uint64_t value = sizeFirst & DataSizeBitMask[n - 1];
    if (n > 1) {
        uint8_t rest[7] = {0, 0, 0, 0, 0, 0, 0};
        stream->GetBytes(n - 1, rest);
        for (int32_t k = 0; k < n - 1; ++k) {
            value = (value << 8) | rest[k];
        }
    }
    if (value == VintAllOnes(n)) {
        unknownSize = true;
        value = static_cast<uint64_t>(stream->RemainingBytes());
    }
    size = value;
    return ZOLVDMX_OK;
}

uint32_t EBML::GetNextID(CBitStreamParser* stream, uint32_t& id, uint64_t& size)
{
    bool unknownSize = false;
    return ReadElementHeader(stream, id, size, unknownSize);
}

uint32_t EBML::GetNextID(CBitStreamParser* stream)
{
    uint32_t first = stream->DecodeBits(8) & 0xFFu;
    uint32_t n = IdLength(static_cast<uint8_t>(first));
    if (n == 0) {
        return kIdInvalid;
    }
    uint32_t id = first;
    for (uint32_t k = 1; k < n; ++k) {
        id |= (stream->DecodeBits(8) & 0xFFu) << (8 * k);
    }
    return id;
}

int32_t EBML::GetEBMLUnsigned(uint64_t& value, const uint8_t* p, int32_t remaining)
{
    if (remaining <= 0) {
        return 0;
    }
    int32_t n = VintLength(p[0]);
    if (n == 0 || n > remaining) {
        return remaining;
    }
    uint64_t v = p[0] & DataSizeBitMask[n - 1];
    for (int32_t k = 1; k < n; ++k) {
        v = (v << 8) | p[k];
    }
    if (v == VintAllOnes(n)) {
        v = static_cast<uint64_t>(static_cast<int64_t>(remaining - n));
    }
    value = v;
    return n;
}

int32_t EBML::GetEBMLSigned(int64_t& value, const uint8_t* p, int32_t remaining)
{
    uint64_t raw = 0;
    int32_t n = GetEBMLUnsigned(raw, p, remaining);
    if (n <= 0 || n > remaining || VintLength(p[0]) != n) {
        // Nothing decoded (no bytes, a first byte 0, or an integer running
        // past the remainder): no value is stored.
        return n;
    }
    int64_t bias = (int64_t{1} << (7 * n - 1)) - 1;
    value = static_cast<int64_t>(raw) - bias;
    return n;
}
