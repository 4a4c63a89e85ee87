// The file object: top-level walk, EBML header, file recognition.
#include <gtest/gtest.h>

#include <cstring>

#include "MatroskaBuilder.h"
#include "MemoryReader.h"
#include "matroska/Matroska.h"

using namespace ebml;

TEST(MatroskaFile, ReadsHeaderSkipsVoidAndParsesOnlyTheFirstSegment)
{
    Bytes header = EbmlHeader("webm");
    Bytes voidElement = Element(mkv::kVoid, Bytes(3, 0));
    Bytes first = Element(mkv::kSegment, mkv::Info(), 8);
    Bytes second = Element(mkv::kSegment, mkv::Info(), 8);
    MemoryReader host(Cat({header, voidElement, first, second}));
    auto callbacks = host.Callbacks();

    testing::internal::CaptureStdout();
    {
        Matroska file;
        EXPECT_EQ(file.Parse(host.Name(), &callbacks), 0u);
        EXPECT_FALSE(file.IsParsing());
        ASSERT_EQ(file.headers.size(), 1u);
        // The DocType is held exactly, without a terminator, and not examined.
        EXPECT_EQ(file.headers[0]->docTypeLength, 4);
        EXPECT_EQ(std::memcmp(file.headers[0]->docType.get(), "webm", 4), 0);
        EXPECT_EQ(file.headers[0]->ebmlMaxSizeLength, 8u);
        ASSERT_EQ(file.segments.size(), 1u);
        EXPECT_EQ(file.segments[0]->elementPosition, static_cast<int64_t>(header.size() + voidElement.size()));
        EXPECT_EQ(file.segments[0]->dataPosition, static_cast<int64_t>(header.size() + voidElement.size() + 12));
        EXPECT_EQ(file.segments[0]->infoList.size(), 1u);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "~Matroska\r\n");
    // The source is opened twice by the parse (the second handle is kept) and
    // every handle is closed with the file object.
    EXPECT_EQ(host.openCalls, 2);
    EXPECT_EQ(host.openHandles, 0);
}

TEST(MatroskaFile, ReportsASourceThatCannotBeOpened)
{
    MemoryReader host(mkv::File({mkv::Info()}));
    host.failOpen = true;
    auto callbacks = host.Callbacks();
    testing::internal::CaptureStdout();
    {
        Matroska file;
        EXPECT_EQ(file.Parse(host.Name(), &callbacks), 1u);
        EXPECT_TRUE(file.segments.empty());
        EXPECT_EQ(file.stream, nullptr);
    }
    testing::internal::GetCapturedStdout();
}

TEST(MatroskaFile, RecognisesMatroskaByDocType)
{
    struct Case {
        Bytes bytes;
        bool matroska;
    };
    const Case cases[] = {
        {mkv::File({mkv::Info()}, "matroska"), true},
        {mkv::File({mkv::Info()}, "matroska2"), true}, // begins with the 8 bytes
        {mkv::File({mkv::Info()}, "webm"), false},
        {Cat({Element(mkv::kVoid, Bytes(2, 0)), EbmlHeader("matroska")}), true},
        {Master(0x1A45DFA3, {UInt(0x4286, 1)}), false}, // no DocType
        {Bytes{0x00, 0x01, 0x02, 0x03, 0x04}, false},
        {Bytes{}, false},
    };
    for (const Case& c : cases) {
        MemoryReader host(c.bytes);
        auto callbacks = host.Callbacks();
        EXPECT_EQ(Matroska::IsMKVFile(host.Name(), &callbacks), c.matroska);
        EXPECT_EQ(host.openHandles, 0);
    }
}
