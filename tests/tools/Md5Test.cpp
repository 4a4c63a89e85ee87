// The MD5 shared by the host tool and the tests: the test suite of RFC 1321,
// messages around the 56- and 64-byte padding boundaries (digests from an
// independent implementation), and feeding in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Md5.h"

namespace {

std::string Md5Of(const std::string& text)
{
    return Md5Hex(text.data(), text.size());
}

} // namespace

TEST(Md5, DigestsOfTheReferenceSuite)
{
    const struct {
        const char* message;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Md5Of(c.message), c.digest) << '"' << c.message << '"';
    }
}

TEST(Md5, PaddingBoundariesAndPiecewiseFeeding)
{
    // Bytes 0, 1, 2, ... n-1: 55 bytes leave room for the length in one
    // block, 56 to 63 need a second, 64 and 120 fill blocks exactly.
    const struct {
        size_t size;
        const char* digest;
    } cases[] = {
        {55, "6912ee65fff2d9f9ce2508cddf8bcda0"},  {56, "51fdd1acda72405dfdfa03fcb85896d7"},
        {63, "48a6295221902e8e0938f773a7185e72"},  {64, "b2d3f56bc197fd985d5965079b5e7148"},
        {65, "8bd7053801c768420faf816fadba971c"},  {119, "1c772251899a7ff007400b888d6b2042"},
        {120, "b7ba1efc6022e9ed272f00b8831e26e6"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> message(c.size);
        for (size_t i = 0; i < c.size; ++i) {
            message[i] = static_cast<uint8_t>(i);
        }
        EXPECT_EQ(Md5Hex(message.data(), message.size()), c.digest) << c.size << " bytes at once";
        // Pieces of 1, 2, 3, ... bytes cross the block edges at every offset.
        Md5 pieces;
        for (size_t at = 0, piece = 1; at < c.size; at += piece, ++piece) {
            pieces.Update(message.data() + at, std::min(piece, c.size - at));
        }
        EXPECT_EQ(pieces.FinishHex(), c.digest) << c.size << " bytes in pieces";
    }
}
