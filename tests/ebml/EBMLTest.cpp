// The element header codec: IDs in held form (first file byte lowest), sizes
// with the unknown-size rule, and variable-length integers in memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "EbmlWriter.h"
#include "MemoryReader.h"
#include "TestStreams.h"
#include "ebml/EBML.h"
#include "stream/NoCachingFileStreamParser.h"

namespace {

constexpr uint64_t kUntouched = 0xDEADBEEFDEADBEEFull;

} // namespace

TEST(ElementHeader, DecodesIdSizeAndUnknownSizeFromTheFirstBytes)
{
    struct Case {
        const char* what;
        Bytes bytes;
        uint32_t id;
        uint64_t size;
        bool unknown;
        int64_t consumed;
    };
    const Bytes tail(10, 0x00); // payload bytes after the header
    const Case cases[] = {
        // 1A 45 DF A3 | 9F: EBML header, one-byte size 31.
        {"EBML header", ebml::Cat({{0x1A, 0x45, 0xDF, 0xA3, 0x9F}, tail}), 0xA3DF451A, 31, false, 5},
        // EC | FF: Void whose one-byte size is all ones, so it runs to the end.
        {"Void unknown", ebml::Cat({{0xEC, 0xFF}, tail}), 0xEC, 10, true, 2},
        {"size FE", ebml::Cat({{0xA3, 0xFE}, tail}), 0xA3, 126, false, 2},
        {"size 40 02", ebml::Cat({{0xA3, 0x40, 0x02}, tail}), 0xA3, 2, false, 3},
        // 40 7F is 127 written in two bytes: not the two-byte all-ones 7F FF.
        {"size 40 7F", ebml::Cat({{0xA3, 0x40, 0x7F}, tail}), 0xA3, 127, false, 3},
        {"size 7F FF", ebml::Cat({{0xA3, 0x7F, 0xFF}, tail}), 0xA3, 10, true, 3},
        // 42 86 | 10 00 01 00: two-byte ID, four-byte size 256.
        {"four-byte size", ebml::Cat({{0x42, 0x86, 0x10, 0x00, 0x01, 0x00}, tail}), 0x8642, 256, false, 6},
        // 1F 43 B6 75 | 01 FF FF FF FF FF FE FF: eight bytes, not all ones.
        {"eight-byte almost all ones", {0x1F, 0x43, 0xB6, 0x75, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF},
         0x75B6431F, 0xFFFFFFFFFFFEFFull, false, 12},
    };
    for (const Case& c : cases) {
        CBitStreamParser stream = MemoryStream(c.bytes);
        uint32_t id = 0;
        uint64_t size = 0;
        bool unknown = !c.unknown;
        EXPECT_EQ(EBML::ReadElementHeader(&stream, id, size, unknown), 0u) << c.what;
        EXPECT_EQ(id, c.id) << c.what;
        EXPECT_EQ(size, c.size) << c.what;
        EXPECT_EQ(unknown, c.unknown) << c.what;
        EXPECT_EQ(stream.Tell(), c.consumed) << c.what;
    }
}

TEST(ElementHeader, MalformedHeadersFailAfterTheOffendingByte)
{
    struct Case {
        const char* what;
        Bytes bytes;
        int64_t consumed;
    };
    const Case cases[] = {
        {"five-byte ID", {0x08, 0x45, 0xDF, 0xA3, 0x9F, 0x81}, 1},
        {"size byte 00 after four-byte ID", {0x1A, 0x45, 0xDF, 0xA3, 0x00, 0x81}, 5},
    };
    for (const Case& c : cases) {
        CBitStreamParser stream = MemoryStream(c.bytes);
        uint32_t id = 0;
        uint64_t size = 77;
        EXPECT_EQ(EBML::GetNextID(&stream, id, size), 0x80004005u) << c.what;
        EXPECT_EQ(size, 0u) << c.what;
        EXPECT_EQ(stream.Tell(), c.consumed) << c.what;
    }
}

TEST(ElementHeader, UnknownSegmentSizeRunsToTheEndOfTheHostSource)
{
    // 18 53 80 67 | 01 FF FF FF FF FF FF FF, then 20 payload bytes.
    Bytes file = ebml::Cat({{0x18, 0x53, 0x80, 0x67, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                            ebml::Filler(20, 0x55)});
    HostStream source(file);
    MemoryReader& host = source.host;
    NoCachingFileStreamParser& stream = source.stream;
    host.ClearLog();

    uint32_t id = 0;
    uint64_t size = 0;
    EXPECT_EQ(EBML::GetNextID(&stream, id, size), 0u);
    EXPECT_EQ(id, 0x67805318u);
    EXPECT_EQ(size, 20u); // 32 bytes in the source, 12 of them header
    // Header bytes one by one through the bit reader, the rest of the size
    // in one read, then the position for the unknown size.
    EXPECT_EQ(host.log, (std::vector<std::string>{"read h1 1", "read h1 1", "read h1 1", "read h1 1",
                                                  "read h1 1", "read h1 7", "tell h1"}));
}

TEST(PeekID, GivesTheHeldIdAndItsLengthWithoutMoving)
{
    struct Case {
        Bytes bytes;
        uint32_t id;
        uint32_t length;
    };
    const Case cases[] = {
        {{0x1A, 0x45, 0xDF, 0xA3, 0x9F}, 0xA3DF451A, 4},
        {{0x2A, 0xD7, 0xB1, 0x83}, 0xB1D72A, 3},
        {{0x4D, 0xBB, 0x8B, 0x53}, 0xBB4D, 2},
        {{0xEC, 0x81, 0x00, 0x00}, 0xEC, 1},
        {{0x08, 0x45, 0xDF, 0xA3, 0x9F}, 0xFFFFFFFF, 0}, // five-byte ID
        {{0xEC, 0x80, 0x00}, 0xFFFFFFFF, 0}, // three bytes left
        {{}, 0xFFFFFFFF, 0},
    };
    for (const Case& c : cases) {
        CBitStreamParser stream = MemoryStream(c.bytes);
        uint32_t length = 0;
        EXPECT_EQ(EBML::PeekID(&stream, length), c.id) << std::hex << c.id;
        EXPECT_EQ(length, c.length) << std::hex << c.id;
        EXPECT_EQ(EBML::PeekID(&stream), c.id) << std::hex << c.id;
        EXPECT_EQ(stream.Tell(), 0) << std::hex << c.id;
    }
}

TEST(GetNextID, ReadsOnlyTheId)
{
    struct Case {
        Bytes bytes;
        uint32_t id;
        int64_t consumed;
    };
    const Case cases[] = {
        {{0x1F, 0x43, 0xB6, 0x75, 0x01}, 0x75B6431F, 4},
        {{0xA3, 0x81}, 0xA3, 1},
        {{0x05, 0x81}, 0xFFFFFFFF, 1},
    };
    for (const Case& c : cases) {
        CBitStreamParser stream = MemoryStream(c.bytes);
        EXPECT_EQ(EBML::GetNextID(&stream), c.id) << std::hex << c.id;
        EXPECT_EQ(stream.Tell(), c.consumed) << std::hex << c.id;
    }
}

TEST(EbmlVint, UnsignedDecodesWithinTheRemainder)
{
    struct Case {
        Bytes bytes; // exactly `remaining` bytes, so an over-read is caught
        int32_t length;
        uint64_t value;
    };
    const Case cases[] = {
        {{0x81}, 1, 1},
        {{0x40, 0x05}, 2, 5},
        {{0x80}, 1, 0},
        {{0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 9}, // all ones: the bytes after it
        {{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 8, 4},
        {{0x00, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81}, 7, kUntouched}, // first byte 0: the remainder
        {{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}, 7, kUntouched}, // needs eight, has seven
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> heap(c.bytes); // exact-size heap copy
        uint64_t value = kUntouched;
        EXPECT_EQ(EBML::GetEBMLUnsigned(value, heap.data(), static_cast<int32_t>(heap.size())), c.length)
            << std::hex << int(c.bytes[0]);
        EXPECT_EQ(value, c.value) << std::hex << int(c.bytes[0]);
    }
    uint64_t value = kUntouched;
    uint8_t byte = 0x81;
    EXPECT_EQ(EBML::GetEBMLUnsigned(value, &byte, 0), 0);
    EXPECT_EQ(value, kUntouched);
}

TEST(EbmlVint, SignedSubtractsTheBiasOfItsLength)
{
    constexpr int64_t kSignedUntouched = -777;
    struct Case {
        Bytes bytes;
        int32_t length;
        int64_t value;
    };
    const Case cases[] = {
        {{0xBF}, 1, 0},              // 63 - 63
        {{0x80}, 1, -63},
        {{0xFE}, 1, 63},
        {{0x60, 0x00}, 2, 1},        // 8192 - 8191
        {{0x40, 0x00}, 2, -8191},
        {{0x20, 0x00, 0x00}, 3, -1048575},
        {{0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, -54}, // all ones: 9 remaining, minus 63
        {{0x00, 0x81, 0x81}, 3, kSignedUntouched},
        {{0x20, 0x00}, 2, kSignedUntouched},         // needs three bytes, has two
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> heap(c.bytes);
        int64_t value = kSignedUntouched;
        EXPECT_EQ(EBML::GetEBMLSigned(value, heap.data(), static_cast<int32_t>(heap.size())), c.length)
            << std::hex << int(c.bytes[0]);
        EXPECT_EQ(value, c.value) << std::hex << int(c.bytes[0]);
    }
    int64_t value = kSignedUntouched;
    uint8_t byte = 0xBF;
    EXPECT_EQ(EBML::GetEBMLSigned(value, &byte, 0), 0);
    EXPECT_EQ(value, kSignedUntouched);
}
