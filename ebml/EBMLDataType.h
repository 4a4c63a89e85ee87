// Value elements: integers, dates, binary payloads and strings, each parsed
// from exactly its payload and held in a small owned object.
#ifndef MKV_EBML_EBMLDATATYPE_H
#define MKV_EBML_EBMLDATATYPE_H

#include <cstdint>

#include "stream/CBitStreamParser.h"

class EBMLDataType {
public:
    EBMLDataType() = default;
    virtual ~EBMLDataType() = default;
    EBMLDataType(const EBMLDataType&) = delete;
    EBMLDataType& operator=(const EBMLDataType&) = delete;

    // Reads `size` payload bytes; the base reads nothing.
    virtual uint32_t Parse(CBitStreamParser* stream, int64_t size);
};

class EBMLUnsignedLong : public EBMLDataType {
public:
    EBMLUnsignedLong() = default;
    explicit EBMLUnsignedLong(uint64_t initial) : value(initial) {}
    // Payloads over 8 bytes are consumed whole and keep their last 8 bytes.
    uint32_t Parse(CBitStreamParser* stream, int64_t size) override;
    operator unsigned long long() const { return value; }

    uint64_t value = 0;
};

class EBMLSignedLong : public EBMLDataType {
public:
    // Sign-extends from the top bit of the payload's first kept byte.
    uint32_t Parse(CBitStreamParser* stream, int64_t size) override;
    operator long long() const { return value; }

    int64_t value = 0;
};

// A Matroska date: signed nanoseconds, held without conversion.
class EBMLDate : public EBMLSignedLong {
};

class EBMLBinary : public EBMLDataType {
public:
    EBMLBinary() = default;
    ~EBMLBinary() override;

    // Empty payloads are refused (0x80070057) and leave the value as it was;
    // a payload larger than what remains of the source is passed over
    // (0x80004005) without allocating.
    uint32_t Parse(CBitStreamParser* stream, int64_t size) override;
    virtual int32_t GetLength() const { return length; }

    void SetBufferSize(int32_t size);
    void SetData(const uint8_t* p, int32_t n);

    uint8_t* GetData() const { return data; }
    operator unsigned char*() const { return data; }
    bool IsEmpty() const { return length < 1; }
    // Byte i, or 255 outside 0..length-1.
    uint8_t operator[](int32_t i) const;

protected:
    // Bytes before the first 0 byte, never beyond the held length.
    int32_t TextLength() const;

    uint8_t* data = nullptr; // owned (malloc); one spare byte keeps text terminated
    int32_t capacity = 0;
    int32_t length = 0;
};

class EBMLString : public EBMLBinary {
public:
    bool operator==(const char* s) const;
    // Position of the first occurrence of s in the text, or -1.
    int32_t Find(const char* s) const;
};

class EBMLUTF8 : public EBMLBinary {
public:
    int32_t GetLength() const override;
};

#endif
