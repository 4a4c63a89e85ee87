// The element header codec: IDs in held form (first file byte lowest), sizes, variable-length integers.
#include <gtest/gtest.h>

#include <tuple>

#include "EbmlWriter.h"
#include "TestStreams.h"
#include "ebml/EBML.h"
#include "stream/ReadAheadStreamParser.h"

TEST(ElementHeader, DecodesIdsOfOneToFourBytesAndSizesOfOneToEightWithTheUnknownSizeRule)
{
    const Bytes tail(10, 0x00); // what an unknown size runs to
    // Bytes, status, held ID, size, whether unknown, bytes consumed.
    const std::tuple<Bytes, uint32_t, uint32_t, uint64_t, bool, int64_t> cases[] = {
        {{0x1A, 0x45, 0xDF, 0xA3, 0x9F}, 0, 0xA3DF451A, 31, false, 5},
        {ebml::Cat({{0xEC, 0xFF}, tail}), 0, 0xEC, 10, true, 2},
        {{0xA3, 0x40, 0x7F}, 0, 0xA3, 127, false, 3}, // 127 in two bytes: not all ones
        {ebml::Cat({{0xA3, 0x7F, 0xFF}, tail}), 0, 0xA3, 10, true, 3},
        {{0x42, 0x86, 0x21, 0x00, 0x01}, 0, 0x8642, 0x10001, false, 5},
        {{0x2A, 0xD7, 0xB1, 0x13, 0x00, 0x01, 0x00}, 0, 0xB1D72A, 0x3000100, false, 7},
        {{0xEC, 0x0A, 0x00, 0x00, 0x00, 0x01}, 0, 0xEC, 0x200000001, false, 6},
        {{0xEC, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01}, 0, 0xEC, 0x10000000001, false, 7},
        {{0xEC, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}, 0, 0xEC, 0x1000000000001, false, 8},
        {{0x1F, 0x43, 0xB6, 0x75, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF}, 0, 0x75B6431F, 0xFFFFFFFFFFFEFF,
         false, 12},
        {ebml::Cat({{0x18, 0x53, 0x80, 0x67, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, tail}), 0, 0x67805318,
         10, true, 12},
        {{0x08, 0x45, 0xDF, 0xA3, 0x9F, 0x81}, ZOLVDMX_E_FAIL, 0, 0, false, 1}, // a five-byte ID
        {{0xA3, 0x00, 0x81}, ZOLVDMX_E_FAIL, 0, 0, false, 2},                    // a nine-byte size
    };
    for (const auto& [bytes, status, id, size, unknown, consumed] : cases) {
        CBitStreamParser stream = MemoryStream(bytes);
        uint32_t gotId = 0;
        uint64_t gotSize = 77;
        bool gotUnknown = !unknown;
        EXPECT_EQ(EBML::ReadElementHeader(&stream, gotId, gotSize, gotUnknown), status) << std::hex << id;
        if (status == ZOLVDMX_OK) {
            EXPECT_EQ(gotId, id);
            EXPECT_EQ(gotUnknown, unknown) << std::hex << id;
        }
        EXPECT_EQ(gotSize, size) << std::hex << id;
        EXPECT_EQ(stream.Tell(), consumed) << std::hex << id;
    }
}

TEST(PeekID, GivesTheHeldIdAndItsLengthWithoutMovingAndReadsAShortIdAtTheEndOfAHostSource)
{
    const std::tuple<Bytes, uint32_t, uint32_t> cases[] = { // bytes, held ID, its length
        {{0x1A, 0x45, 0xDF, 0xA3, 0x9F}, 0xA3DF451A, 4},
        {{0x4D, 0xBB, 0x8B, 0x53}, 0xBB4D, 2},
        {{0x08, 0x45, 0xDF, 0xA3, 0x9F}, kIdInvalid, 0}, // a five-byte ID
        {{0xEC, 0x80, 0x00}, kIdInvalid, 0}, // the in-memory stream peeks only whole counts
    };
    for (const auto& [bytes, id, idLength] : cases) {
        CBitStreamParser stream = MemoryStream(bytes);
        uint32_t length = 0;
        EXPECT_EQ(EBML::PeekID(&stream, length), id) << std::hex << id;
        EXPECT_EQ(length, idLength) << std::hex << id;
        EXPECT_EQ(stream.Tell(), 0) << std::hex << id;
    }
    // A small last element over the host: its ID is read if it is all there.
    HostStream<ReadAheadStreamParser> smallLast({0xEC, 0x80, 0x00});
    uint32_t length = 0;
    EXPECT_EQ(EBML::PeekID(&smallLast.stream, length), HeldId(0xEC));
    EXPECT_EQ(length, 1u);
    HostStream<> cut({0x1A, 0x45, 0xDF});
    EXPECT_EQ(EBML::PeekID(&cut.stream), kIdInvalid);
}

TEST(EbmlVint, DecodesWithinTheRemainderAndSignedOnesSubtractTheBiasOfTheirLength)
{
    constexpr uint64_t kUntouched = 0xDEADBEEFDEADBEEFull;
    constexpr int64_t kSignedUntouched = -777;
    // Bytes (exactly the remainder, so that an over-read is caught), length, unsigned and signed values.
    const std::tuple<Bytes, int32_t, uint64_t, int64_t> cases[] = {
        {{0x80}, 1, 0, -63},
        {{0x60, 0x00}, 2, 0x2000, 1},
        {{0x20, 0x00, 0x00}, 3, 0, -1048575},
        {{0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 9, -54}, // all ones: the bytes after it
        {{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 8, 4, 4 - 0x7FFFFFFFFFFFFF},
        // Nothing decoded: the whole remainder is consumed and no value stored.
        {{0x00, 0x81, 0x81, 0x81}, 4, kUntouched, kSignedUntouched},
        {{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}, 7, kUntouched, kSignedUntouched}, // needs eight
        {{}, 0, kUntouched, kSignedUntouched},
    };
    for (const auto& [bytes, length, unsignedValue, signedValue] : cases) {
        const int32_t remaining = static_cast<int32_t>(bytes.size());
        uint64_t value = kUntouched;
        EXPECT_EQ(EBML::GetEBMLUnsigned(value, bytes.data(), remaining), length) << remaining;
        EXPECT_EQ(value, unsignedValue) << remaining;
        int64_t signedResult = kSignedUntouched;
        EXPECT_EQ(EBML::GetEBMLSigned(signedResult, bytes.data(), remaining), length) << remaining;
        EXPECT_EQ(signedResult, signedValue) << remaining;
    }
}
