// MD5 message digest (RFC 1321): 64-byte blocks, four rounds of sixteen
// steps, little-endian words throughout.
#include "Md5.h"

#include <algorithm>
#include <cstring>

namespace {

// Per-step left rotations, four per round.
constexpr uint32_t kShift[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
};

// floor(abs(sin(i + 1)) * 2^32), the published table.
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

uint32_t RotateLeft(uint32_t value, uint32_t count)
{
    return (value << count) | (value >> (32 - count));
}

} // namespace

Md5::Md5() : state{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, pending{} {}

void Md5::Transform(const uint8_t* block)
{
    uint32_t word[16];
    for (int i = 0; i < 16; ++i) {
        word[i] = static_cast<uint32_t>(block[i * 4]) | static_cast<uint32_t>(block[i * 4 + 1]) << 8 |
                  static_cast<uint32_t>(block[i * 4 + 2]) << 16 | static_cast<uint32_t>(block[i * 4 + 3]) << 24;
    }
    uint32_t a = state[0];
    uint32_t b = state[1];
    uint32_t c = state[2];
    uint32_t d = state[3];
    for (uint32_t i = 0; i < 64; ++i) {
        uint32_t mix;
        uint32_t index;
        if (i < 16) {
            mix = (b & c) | (~b & d);
            index = i;
        } else if (i < 32) {
            mix = (d & b) | (~d & c);
            index = (5 * i + 1) % 16;
        } else if (i < 48) {
            mix = b ^ c ^ d;
            index = (3 * i + 5) % 16;
        } else {
            mix = c ^ (b | ~d);
            index = (7 * i) % 16;
        }
        uint32_t rotated = RotateLeft(a + mix + kSine[i] + word[index], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = b + rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void Md5::Update(const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    messageBytes += size;
    if (pendingSize > 0) {
        size_t take = std::min(size, sizeof pending - pendingSize);
        std::memcpy(pending + pendingSize, bytes, take);
        pendingSize += take;
        bytes += take;
        size -= take;
        if (pendingSize < sizeof pending) {
            return;
        }
        Transform(pending);
        pendingSize = 0;
    }
    for (; size >= sizeof pending; bytes += sizeof pending, size -= sizeof pending) {
        Transform(bytes);
    }
    if (size > 0) {
        std::memcpy(pending, bytes, size);
        pendingSize = size;
    }
}

std::array<uint8_t, 16> Md5::Finish()
{
    // A 1 bit, zeros up to 56 bytes modulo 64, then the bit count in 64
    // little-endian bits.
    uint64_t messageBits = messageBytes * 8;
    static const uint8_t kPadding[64] = {0x80};
    size_t padding = pendingSize < 56 ? 56 - pendingSize : 120 - pendingSize;
    Update(kPadding, padding);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) {
        length[i] = static_cast<uint8_t>(messageBits >> (8 * i));
    }
    Update(length, sizeof length);

    std::array<uint8_t, 16> digest{};
    for (size_t i = 0; i < 16; ++i) {
        digest[i] = static_cast<uint8_t>(state[i / 4] >> (8 * (i % 4)));
    }
    return digest;
}

std::string Md5::FinishHex()
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t byte : Finish()) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

std::string Md5Hex(const void* data, size_t size)
{
    Md5 md5;
    md5.Update(data, size);
    return md5.FinishHex();
}
