// In-memory stream operations and the bit reader shared by all streams.
#include "CBitStreamParser.h"

#include <cstdlib>
#include <cstring>

#include "zolvdmx.h" // the whence values
#include "stream/Allocation.h"

CBitStreamParser::CBitStreamParser() = default;

CBitStreamParser::CBitStreamParser(const uint8_t* data, int32_t count)
{
    if (data != nullptr && count > 0) {
        buffer = static_cast<uint8_t*>(AllocateBytes(static_cast<size_t>(count)));
        if (buffer != nullptr) {
            std::memcpy(buffer, data, static_cast<size_t>(count));
            length = count;
        }
    }
}

CBitStreamParser::~CBitStreamParser()
{
    if (buffer != nullptr) {
        std::free(buffer);
    }
}

int32_t CBitStreamParser::GetBytes(int32_t count, uint8_t* dest)
{
    bitPosition = 8;
    int32_t available = length - position;
    int32_t n = count < available ? count : available;
    if (n > 0 && dest != nullptr) {
        std::memcpy(dest, buffer + position, static_cast<size_t>(n));
        position += n;
    }
    return position < length ? 1 : 0;
}

int32_t CBitStreamParser::Peek(uint8_t* dest, int32_t count)
{
    if (count < 0 || dest == nullptr || length - position < count) {
        return 0;
    }
    if (count > 0) {
        std::memcpy(dest, buffer + position, static_cast<size_t>(count));
    }
    return count;
}

bool CBitStreamParser::IsEnd()
{
    return position >= length;
}

int32_t CBitStreamParser::Seek(int64_t offset, int32_t whence)
{
    int64_t target;
    if (whence == ZOLVDMX_SEEK_SET) {
        target = offset;
    } else if (whence == ZOLVDMX_SEEK_END) {
        target = length;
    } else if (offset > INT64_MAX - position) {
        // A huge forward count (SkipForward of a 64-bit size) must not wrap
        // round to a position before the current one.
        target = INT64_MAX;
    } else {
        target = static_cast<int64_t>(position) + offset;
    }
    if (target < 0) {
        target = 0;
    }
    if (target >= length) {
        // Positions never leave the buffer, so later reads stay in bounds.
        position = length;
        return whence == ZOLVDMX_SEEK_END ? 1 : 0;
    }
    position = static_cast<int32_t>(target);
    return 1;
}

int32_t CBitStreamParser::Shift(int32_t count)
{
    Align();
    Seek(count, ZOLVDMX_SEEK_CUR);
    return 1;
}

int32_t CBitStreamParser::SkipBytes(int32_t count)
{
    Align();
    if (count != 0) {
        Seek(count, ZOLVDMX_SEEK_CUR);
    }
    return 1;
}

int64_t CBitStreamParser::GetAbsolutePosition()
{
    return 0;
}

int64_t CBitStreamParser::Tell()
{
    return position;
}

int32_t CBitStreamParser::GetByte()
{
    if (position < 0 || position >= length) {
        return static_cast<int32_t>(0x80000000u);
    }
    return buffer[position++];
}

int64_t CBitStreamParser::GetFileLength()
{
    return length;
}

int32_t CBitStreamParser::ReadAt(int64_t position, int32_t count, uint8_t* dest)
{
    Seek(position, ZOLVDMX_SEEK_SET);
    if (count <= 0 || dest == nullptr) {
        return 0;
    }
    // What arrived, whatever GetBytes answers (the in-memory stream answers
    // whether bytes remain, the host stream the count).
    GetBytes(count, dest);
    int64_t arrived = Tell() - position;
    return arrived <= 0 ? 0 : static_cast<int32_t>(arrived < count ? arrived : count);
}

uint32_t CBitStreamParser::GetBit()
{
    if (bitPosition > 7) {
        shiftRegister = static_cast<uint32_t>(GetByte());
        bitPosition = 0;
    }
    shiftRegister <<= 1;
    bitPosition += 1;
    return (shiftRegister >> 8) & 1u;
}

uint32_t CBitStreamParser::DecodeInt(int32_t n)
{
    uint32_t value = 0;
    // Whole bytes while no bit of a byte is pending (element headers are
    // read a byte at a time): the same bits as eight GetBit calls, the
    // register left as they leave it.
    while (n >= 8 && bitPosition > 7) {
        const uint32_t byte = static_cast<uint32_t>(GetByte()) & 0xFFu;
        shiftRegister = byte << 8;
        value = (value << 8) | byte;
        n -= 8;
    }
    for (int32_t i = 0; i < n; ++i) {
        value = value * 2 + GetBit();
    }
    return value;
}

int32_t CBitStreamParser::DecodeInt(int32_t n, uint32_t* out)
{
    *out = 0;
    for (int32_t i = 0; i < n; ++i) {
        *out = *out * 2 + GetBit();
    }
    return 1;
}

uint32_t CBitStreamParser::DecodeBits(int32_t n)
{
    return DecodeInt(n);
}

int32_t CBitStreamParser::Align()
{
    int32_t k = 8 - bitPosition;
    if (k < 1) {
        return 1;
    }
    uint32_t discarded = 0;
    return DecodeInt(k, &discarded);
}

float CBitStreamParser::DecodeFloat()
{
    // The first bit read is the most significant: a big-endian single.
    uint32_t bits = DecodeInt(32);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double CBitStreamParser::DecodeDouble()
{
    uint64_t high = DecodeInt(32);
    uint64_t low = DecodeInt(32);
    uint64_t bits = (high << 32) | low;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool CBitStreamParser::IsLengthKnown()
{
    return true;
}

bool CBitStreamParser::HasBytes(uint64_t count)
{
    return count <= static_cast<uint64_t>(RemainingBytes());
}

int64_t CBitStreamParser::RemainingBytes()
{
    // Both come from the host and may be anything: compared before they are
    // subtracted, so the difference cannot overflow.
    int64_t length = GetFileLength();
    int64_t position = Tell();
    if (position < 0) {
        position = 0;
    }
    return length > position ? length - position : 0;
}

void CBitStreamParser::SkipForward(uint64_t count)
{
    if (count <= 0x7FFFFFFFu) {
        SkipBytes(static_cast<int32_t>(count));
    } else if (count <= static_cast<uint64_t>(INT64_MAX)) {
        Seek(static_cast<int64_t>(count), ZOLVDMX_SEEK_CUR);
    } else {
        Seek(INT64_MAX, ZOLVDMX_SEEK_CUR);
    }
}
