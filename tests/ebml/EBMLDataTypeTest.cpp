// Value elements: integers of any payload width, binary payloads and strings,
// each reading exactly its payload.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "EbmlWriter.h"
#include "MemoryReader.h"
#include "TestStreams.h"
#include "ebml/EBMLDataType.h"
#include "stream/NoCachingFileStreamParser.h"

namespace {

// The payload, then a marker byte 5A that shows the parse consumed exactly the payload.
CBitStreamParser PayloadThenMarker(const Bytes& payload)
{
    return MemoryStream(ebml::Cat({payload, {0x5A}}));
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// Parses `payload` into `value` from its own stream.
uint32_t ParseText(EBMLBinary& value, const std::string& payload)
{
    CBitStreamParser stream = MemoryStream(Text(payload));
    return value.Parse(&stream, static_cast<int64_t>(payload.size()));
}

} // namespace

TEST(EBMLUnsignedLong, ReadsBigEndianPayloadsOfAnyWidth)
{
    struct Case {
        Bytes payload;
        uint64_t value;
    };
    const Case cases[] = {
        {{0x01, 0x00}, 256},
        {{}, 0},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, UINT64_MAX},
        // Longer than 8 bytes: the last eight (the low bits) are kept.
        {{0xFF, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A}, 0x030405060708090Aull},
    };
    for (const Case& c : cases) {
        CBitStreamParser stream = PayloadThenMarker(c.payload);
        EBMLUnsignedLong value(7);
        EXPECT_EQ(value.Parse(&stream, static_cast<int64_t>(c.payload.size())), 0u);
        EXPECT_EQ(static_cast<unsigned long long>(value), c.value) << c.payload.size();
        EXPECT_EQ(stream.GetByte(), 0x5A) << c.payload.size();
    }
}

TEST(EBMLSignedLong, SignExtendsFromThePayloadWidth)
{
    struct Case {
        Bytes payload;
        int64_t value;
    };
    const Case cases[] = {
        {{0xFF}, -1},
        {{0x7F}, 127},
        {{0x00, 0xFF}, 255},
        {{0x80, 0x00}, -32768},
        {{0xFF, 0xFF, 0xFE}, -2},
        {{0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, INT64_MIN},
        {{}, 0},
        // Longer than 8 bytes: the last eight are the value.
        {{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, -2},
    };
    for (const Case& c : cases) {
        CBitStreamParser stream = PayloadThenMarker(c.payload);
        EBMLSignedLong value;
        value.value = 99;
        EXPECT_EQ(value.Parse(&stream, static_cast<int64_t>(c.payload.size())), 0u);
        EXPECT_EQ(static_cast<long long>(value), c.value) << c.payload.size();
        EXPECT_EQ(stream.GetByte(), 0x5A) << c.payload.size();
    }
}

TEST(EBMLString, HoldsTheTextTerminatedAndFindsSubstrings)
{
    EBMLString codec;
    ASSERT_EQ(ParseText(codec, "A_AAC"), 0u);
    EXPECT_EQ(codec.GetLength(), 5);
    ASSERT_NE(codec.GetData(), nullptr);
    EXPECT_EQ(std::memcmp(codec.GetData(), "A_AAC\0", 6), 0);

    struct Case {
        const char* text;
        int32_t position;
    };
    const Case finds[] = {
        {"AAC", 2}, {"A_AAC", 0}, {"", 0}, {"C", 4}, {"AC3", -1}, {"A_AAC/MPEG4", -1}, {nullptr, -1},
    };
    for (const Case& c : finds) {
        EXPECT_EQ(codec.Find(c.text), c.position) << (c.text ? c.text : "null");
    }
    EXPECT_TRUE(codec == "A_AAC");
    EXPECT_FALSE(codec == "A_AA");
    EXPECT_FALSE(codec == nullptr);

    EBMLString empty;
    EXPECT_EQ(empty.Find(""), -1);
    EXPECT_FALSE(empty == "");
}

TEST(EBMLString, ReparseIntoTheSameValueLeavesOnlyTheNewText)
{
    EBMLString codec;
    ParseText(codec, "V_MPEG4/ISO/AVC");
    ParseText(codec, "A_AC3");
    EXPECT_EQ(codec.GetLength(), 5);
    EXPECT_STREQ(reinterpret_cast<const char*>(codec.GetData()), "A_AC3");
    EXPECT_TRUE(codec == "A_AC3");
    // The old text's tail is still in the reused buffer but out of reach.
    EXPECT_EQ(codec.Find("AVC"), -1);
    EXPECT_EQ(codec[5], 255);
    ParseText(codec, "V_MPEG4/ISO/AVC");
    EXPECT_EQ(codec.Find("AVC"), 12);
}

TEST(EBMLString, SetDataReplacesTheBytesAndSearchesStopAtTheirLength)
{
    // SetData copies bytes only; nothing terminates them.
    const uint8_t bytes[] = {'x', 'A', 'A', 'C', '5', '4'};
    EBMLString codec;
    codec.SetData(bytes, 6);
    codec.SetData(bytes, 4);
    EXPECT_EQ(codec.GetLength(), 4);
    EXPECT_EQ(codec.Find("AAC"), 1);
    EXPECT_EQ(codec.Find("AAC5"), -1);
    EXPECT_TRUE(codec == "xAAC");
    EXPECT_FALSE(codec == "xAAC5");
    EXPECT_EQ(codec[3], 'C');
    EXPECT_EQ(codec[4], 255); // indexes outside the held bytes give 255
    EXPECT_EQ(codec[-1], 255);
    codec.SetData(bytes, 0);
    EXPECT_TRUE(codec.IsEmpty());
    EXPECT_EQ(codec[0], 255);

    EBMLUTF8 title;
    title.SetData(bytes, 4);
    EXPECT_EQ(title.GetLength(), 4);
}

TEST(EBMLBinary, EmptyPayloadIsRefusedAndKeepsTheValue)
{
    EBMLBinary blob;
    ASSERT_EQ(ParseText(blob, "abc"), 0u);
    CBitStreamParser stream = PayloadThenMarker({});
    EXPECT_EQ(blob.Parse(&stream, 0), 0x80070057u);
    EXPECT_EQ(blob.GetLength(), 3);
    EXPECT_EQ(std::memcmp(blob.GetData(), "abc", 3), 0);
    EXPECT_EQ(stream.Tell(), 0);

    EBMLBinary fresh;
    EXPECT_EQ(fresh.Parse(&stream, 0), 0x80070057u);
    EXPECT_TRUE(fresh.IsEmpty());
}

TEST(EBMLBinary, PayloadLargerThanTheSourceIsSkippedWithoutAllocating)
{
    struct Case {
        int64_t size;
        uint32_t result;
    };
    // Source: 4 payload bytes then the marker, 5 bytes in all.
    const Case cases[] = {
        {5, 0u},                 // exactly what remains
        {6, 0x80004005u},        // one byte more
        {INT64_MAX, 0x80004005u},
    };
    for (const Case& c : cases) {
        CBitStreamParser stream = PayloadThenMarker({1, 2, 3, 4});
        EBMLBinary blob;
        EXPECT_EQ(blob.Parse(&stream, c.size), c.result) << c.size;
        EXPECT_TRUE(stream.IsEnd()) << c.size;
        EXPECT_EQ(blob.GetLength(), c.result == 0 ? 5 : 0) << c.size;
        EXPECT_EQ(blob.GetData() != nullptr, c.result == 0) << c.size;
    }

    // Over the host the skip is one forward seek of the whole size.
    HostStream source({1, 2, 3});
    MemoryReader& host = source.host;
    NoCachingFileStreamParser& stream = source.stream;
    host.ClearLog();
    EBMLBinary blob;
    EXPECT_EQ(blob.Parse(&stream, 0x10000000000ll), 0x80004005u);
    EXPECT_EQ(host.log, (std::vector<std::string>{"tell h1", "seek h1 1099511627776 1"}));
}

TEST(EBMLBinary, BufferSizedBySetBufferSizeHoldsATextOfExactlyItsCapacity)
{
    EBMLString text;
    text.SetBufferSize(5);
    ASSERT_EQ(ParseText(text, "ABCDE"), 0u);
    EXPECT_EQ(text.GetLength(), 5);
    EXPECT_EQ(text.GetData()[5], 0); // the spare byte
    EXPECT_TRUE(text == "ABCDE");
}

TEST(EBMLUTF8, LengthIsTheTextBeforeTheFirstZeroByte)
{
    struct Case {
        std::string payload;
        int32_t length;
    };
    const Case cases[] = {
        {std::string("abc\0xyz", 7), 3},
        {std::string("\0abc", 4), 0},
        {"caf\xC3\xA9", 5},
    };
    for (const Case& c : cases) {
        EBMLUTF8 title;
        ParseText(title, c.payload);
        EXPECT_EQ(title.GetLength(), c.length) << c.payload;
    }
    EBMLUTF8 empty;
    EXPECT_EQ(empty.GetLength(), 0);
}
