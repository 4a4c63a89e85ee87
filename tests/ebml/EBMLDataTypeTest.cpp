// Value elements: integers of any payload width, binary payloads and strings,
// each reading exactly its payload.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "EbmlWriter.h"
#include "TestStreams.h"
#include "ebml/EBMLDataType.h"

namespace {

// Parses `payload` into `value` from a stream holding the payload and then a
// marker byte 5A; true when the parse consumed exactly the payload.
bool ParseExactly(EBMLDataType& value, const Bytes& payload, uint32_t status = ZOLVDMX_OK)
{
    CBitStreamParser stream = MemoryStream(ebml::Cat({payload, {0x5A}}));
    EXPECT_EQ(value.Parse(&stream, static_cast<int64_t>(payload.size())), status);
    return stream.GetByte() == 0x5A;
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

} // namespace

TEST(EBMLUnsignedLong, IntegersOfAnyWidthAreBigEndianAndDatesSignExtend)
{
    struct Case {
        Bytes payload;
        uint64_t unsignedValue;
        int64_t signedValue;
    };
    const Case cases[] = {
        {{}, 0, 0},
        {{0xFF}, 0xFF, -1},
        {{0x00, 0xFF}, 0xFF, 255},
        {{0x80, 0x00}, 0x8000, -32768},
        {{0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x8000000000000000ull, INT64_MIN},
        // Longer than 8 bytes: the last eight are the value.
        {{0x12, 0x34, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, 0xFFFFFFFFFFFFFEull, 0xFFFFFFFFFFFFFEll},
    };
    for (const Case& c : cases) {
        EBMLUnsignedLong unsignedValue(7);
        EXPECT_TRUE(ParseExactly(unsignedValue, c.payload)) << c.payload.size();
        EXPECT_EQ(unsignedValue.value, c.unsignedValue) << c.payload.size();
        EBMLDate date; // a signed integer
        date.value = 99;
        EXPECT_TRUE(ParseExactly(date, c.payload)) << c.payload.size();
        EXPECT_EQ(date.value, c.signedValue) << c.payload.size();
    }
}

TEST(EBMLString, TextIsTerminatedAndOnlyTheLatestTextIsSearched)
{
    EBMLString codec;
    ASSERT_TRUE(ParseExactly(codec, Text("V_MPEG4/ISO/AVC")));
    ASSERT_TRUE(ParseExactly(codec, Text("A_AAC")));
    EXPECT_EQ(codec.GetLength(), 5);
    EXPECT_EQ(std::memcmp(codec.GetData(), "A_AAC\0", 6), 0);
    EXPECT_TRUE(codec == "A_AAC");
    EXPECT_FALSE(codec == "A_AA");
    EXPECT_EQ(codec[5], 255); // the old text's tail is still in the buffer, out of reach
    struct Case {
        const char* text;
        int32_t position;
    };
    for (const Case& c : {Case{"AAC", 2}, Case{"", 0}, Case{"C", 4}, Case{"A_AAC/MPEG4", -1}, Case{"AVC", -1}}) {
        EXPECT_EQ(codec.Find(c.text), c.position) << c.text;
    }

    // UTF-8 text runs to the first zero byte, or to the end of the payload.
    for (const auto& [payload, length] : {std::pair{std::string("abc\0xyz", 7), 3}, {"caf\xC3\xA9", 5}}) {
        EBMLUTF8 title;
        EXPECT_TRUE(ParseExactly(title, Text(payload)));
        EXPECT_EQ(title.GetLength(), length) << payload;
    }
}

TEST(EBMLBinary, EmptyPayloadsAreRefusedAndPayloadsLargerThanTheSourceSkippedWithoutAllocating)
{
    EBMLBinary blob;
    ASSERT_TRUE(ParseExactly(blob, Text("abc")));
    EXPECT_TRUE(ParseExactly(blob, {}, ZOLVDMX_E_INVALIDARG));
    EXPECT_EQ(blob.GetLength(), 3);
    EXPECT_EQ(std::memcmp(blob.GetData(), "abc", 3), 0);

    struct Case {
        int64_t size;
        uint32_t status;
    };
    // Source: 4 payload bytes then a marker, 5 bytes in all.
    for (const Case& c : {Case{5, ZOLVDMX_OK}, Case{6, ZOLVDMX_E_FAIL}, Case{INT64_MAX, ZOLVDMX_E_FAIL}}) {
        CBitStreamParser stream = MemoryStream({1, 2, 3, 4, 0x5A});
        EBMLBinary fresh;
        EXPECT_EQ(fresh.Parse(&stream, c.size), c.status) << c.size;
        EXPECT_TRUE(stream.IsEnd()) << c.size;
        EXPECT_EQ(fresh.GetLength(), c.status == ZOLVDMX_OK ? 5 : 0) << c.size;
        EXPECT_EQ(fresh.GetData() != nullptr, c.status == ZOLVDMX_OK) << c.size;
    }

    // Over the host the skip is one forward seek of the whole size.
    HostStream<> source({1, 2, 3});
    source.host.ClearLog();
    EXPECT_EQ(blob.Parse(&source.stream, 0x10000000000ll), ZOLVDMX_E_FAIL);
    EXPECT_EQ(source.host.log, (std::vector<std::string>{"tell h1", "seek h1 1099511627776 1"}));
}
