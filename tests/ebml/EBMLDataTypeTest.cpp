// Value elements (integers of any width, binary payloads, strings), each reading exactly its payload.
#include <gtest/gtest.h>

#include <cstring>

#include "EbmlWriter.h"
#include "TestStreams.h"
#include "ebml/EBMLDataType.h"

namespace {

// Parses `payload` followed by a marker byte 5A; true when exactly the payload was consumed.
bool ParseExactly(EBMLDataType& value, const Bytes& payload, uint32_t status = ZOLVDMX_OK)
{
    CBitStreamParser stream = MemoryStream(ebml::Cat({payload, {0x5A}}));
    EXPECT_EQ(value.Parse(&stream, static_cast<int64_t>(payload.size())), status);
    return stream.GetByte() == 0x5A;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

} // namespace

TEST(EBMLUnsignedLong, IntegersOfAnyWidthAreBigEndian)
{
    const std::pair<Bytes, uint64_t> cases[] = {
        {{}, 0},
        {{0x00, 0xFF}, 0xFF},
        {{0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x8000000000000000ull},
        // Longer than 8 bytes: the last eight are the value.
        {{0x12, 0x34, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, 0xFFFFFFFFFFFFFEull},
    };
    for (const auto& [payload, value] : cases) {
        EBMLUnsignedLong number(7);
        EXPECT_TRUE(ParseExactly(number, payload)) << payload.size();
        EXPECT_EQ(number.value, value) << payload.size();
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
    EXPECT_EQ(codec[5], 255); // past the text: never the old text's tail
    for (const auto& [text, at] : {std::pair{"AAC", 2}, {"", 0}, {"C", 4}, {"A_AAC/MPEG4", -1}, {"AVC", -1}}) {
        EXPECT_EQ(codec.Find(text), at) << text;
    }
}

TEST(EBMLBinary, EmptyPayloadsAreRefusedAndPayloadsLargerThanTheSourceSkippedWithoutAllocating)
{
    EBMLBinary blob;
    ASSERT_TRUE(ParseExactly(blob, Text("abc")));
    EXPECT_TRUE(ParseExactly(blob, {}, ZOLVDMX_E_INVALIDARG));
    EXPECT_EQ(blob.GetLength(), 3);
    EXPECT_EQ(std::memcmp(blob.GetData(), "abc", 3), 0);

    // Source: 4 payload bytes then a marker, 5 bytes in all.
    const std::pair<int64_t, uint32_t> sizes[] = {{5, ZOLVDMX_OK}, {6, ZOLVDMX_E_FAIL}, {INT64_MAX, ZOLVDMX_E_FAIL}};
    for (const auto& [size, status] : sizes) {
        CBitStreamParser stream = MemoryStream({1, 2, 3, 4, 0x5A});
        EBMLBinary fresh;
        EXPECT_EQ(fresh.Parse(&stream, size), status) << size;
        EXPECT_TRUE(stream.IsEnd()) << size;
        EXPECT_EQ(fresh.GetLength(), status == ZOLVDMX_OK ? 5 : 0) << size;
        EXPECT_EQ(fresh.GetData() != nullptr, status == ZOLVDMX_OK) << size;
    }

    // Over the host the skip is one forward seek of the whole size.
    HostStream<> source({1, 2, 3});
    source.host.ClearLog();
    EXPECT_EQ(blob.Parse(&source.stream, 0x10000000000ll), ZOLVDMX_E_FAIL);
    EXPECT_EQ(source.host.log, (Log{"seek h1 1099511627776 1"}));
}
