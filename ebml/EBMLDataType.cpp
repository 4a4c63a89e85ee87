// Value element parsing and accessors.
#include "EBMLDataType.h"

#include <cstdlib>
#include <cstring>

#include "EBML.h"
#include "stream/Allocation.h"

namespace {

// Reads an integer payload into `value` big-endian. Only the last 8 bytes of
// a longer payload can matter to a 64-bit value, so the rest is skipped.
uint64_t ReadBigEndian(CBitStreamParser* stream, int64_t size)
{
    if (size <= 0) {
        return 0;
    }
    if (size > 8) {
        stream->SkipForward(static_cast<uint64_t>(size - 8));
        size = 8;
    }
    uint8_t bytes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    stream->GetBytes(static_cast<int32_t>(size), bytes);
    uint64_t value = 0;
    for (int64_t k = 0; k < size; ++k) {
        value = (value << 8) | bytes[k];
    }
    return value;
}

} // namespace

uint32_t EBMLDataType::Parse(CBitStreamParser*, int64_t)
{
    return ZOLVDMX_E_NOTIMPL;
}

uint32_t EBMLUnsignedLong::Parse(CBitStreamParser* stream, int64_t size)
{
    value = ReadBigEndian(stream, size);
    return ZOLVDMX_OK;
}

uint32_t EBMLSignedLong::Parse(CBitStreamParser* stream, int64_t size)
{
    uint64_t raw = ReadBigEndian(stream, size);
    int64_t kept = size > 8 ? 8 : size;
    if (kept > 0 && kept < 8 && (raw & (uint64_t{1} << (8 * kept - 1)))) {
        raw |= ~uint64_t{0} << (8 * kept);
    }
    value = static_cast<int64_t>(raw);
    return ZOLVDMX_OK;
}

EBMLBinary::~EBMLBinary()
{
    std::free(data);
}

uint32_t EBMLBinary::Parse(CBitStreamParser* stream, int64_t size)
{
    if (size < 1) {
        return ZOLVDMX_E_INVALIDARG;
    }
    if (size >= INT32_MAX || !stream->HasBytes(static_cast<uint64_t>(size))) {
        stream->SkipForward(static_cast<uint64_t>(size));
        return ZOLVDMX_E_FAIL;
    }
    int32_t n = static_cast<int32_t>(size);
    if (data == nullptr || capacity < n) {
        uint8_t* fresh = static_cast<uint8_t*>(AllocateZeroedBytes(static_cast<size_t>(n) + 1, 1));
        if (fresh == nullptr) {
            stream->SkipForward(static_cast<uint64_t>(size));
            return ZOLVDMX_E_FAIL;
        }
        std::free(data);
        data = fresh;
        capacity = n;
    }
    stream->GetBytes(n, data);
    length = n;
    data[n] = 0;
    return ZOLVDMX_OK;
}

void EBMLBinary::SetBufferSize(int32_t size)
{
    if (size < 1 || (data != nullptr && capacity >= size)) {
        return;
    }
    // One spare byte beyond the size, so a later text parse of exactly the
    // capacity can still terminate the text inside the buffer.
    uint8_t* fresh = static_cast<uint8_t*>(AllocateBytes(static_cast<size_t>(size) + 1));
    if (fresh == nullptr) {
        return;
    }
    std::free(data);
    data = fresh;
    capacity = size;
    length = 0;
}

void EBMLBinary::SetData(const uint8_t* p, int32_t n)
{
    SetBufferSize(n);
    if (n < 1 || data == nullptr || capacity < n || p == nullptr) {
        length = 0;
        return;
    }
    std::memcpy(data, p, static_cast<size_t>(n));
    length = n;
}

uint8_t EBMLBinary::operator[](int32_t i) const
{
    return (i >= 0 && i < length) ? data[i] : 255;
}

int32_t EBMLBinary::TextLength() const
{
    if (data == nullptr || length < 1) {
        return 0;
    }
    const void* zero = std::memchr(data, 0, static_cast<size_t>(length));
    return zero != nullptr ? static_cast<int32_t>(static_cast<const uint8_t*>(zero) - data) : length;
}

bool EBMLString::operator==(const char* s) const
{
    if (s == nullptr || data == nullptr) {
        return false;
    }
    size_t n = static_cast<size_t>(TextLength());
    return std::strlen(s) == n && std::memcmp(data, s, n) == 0;
}

int32_t EBMLString::Find(const char* s) const
{
    if (s == nullptr || data == nullptr) {
        return -1;
    }
    int32_t n = TextLength();
    int32_t m = static_cast<int32_t>(std::strlen(s));
    if (n < m) {
        return -1;
    }
    for (int32_t i = 0; i <= n - m; ++i) {
        if (std::memcmp(data + i, s, static_cast<size_t>(m)) == 0) {
            return i;
        }
    }
    return -1;
}

int32_t EBMLUTF8::GetLength() const
{
    return TextLength();
}
