// The file object: top-level walk, EBML header, file recognition.
#include <gtest/gtest.h>

#include <cstring>

#include "MatroskaBuilder.h"
#include "MemoryReader.h"
#include "matroska/Matroska.h"

using namespace ebml;

TEST(MatroskaFile, ReadsHeaderSkipsVoidParsesOnlyTheFirstSegmentAndSaysGoodbye)
{
    // Void, then an EBML header of unknown size: only children it handles lead to its last,
    // DocTypeReadVersion (42 85); CRC-32 (BF) among them.
    Bytes header = Cat({Element(mkv::kVoid, Bytes(3, 0)),
                        UnknownSizeElement(0x1A45DFA3, Cat({UInt(0x4286, 1), UInt(0x42F7, 1), UInt(0x42F2, 4),
                                                            UInt(0x42F3, 8), Element(0xBF, {0, 0, 0, 0}),
                                                            Str(0x4282, "webm"), UInt(0x4287, 4), UInt(0x4285, 2)}))});
    MemoryReader host(Cat({header, Element(mkv::kSegment, mkv::Info(), 8), Element(mkv::kSegment, mkv::Info(), 8)}));
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
        EXPECT_EQ(file.headers[0]->docTypeReadVersion, 2u);
        ASSERT_EQ(file.segments.size(), 1u);
        EXPECT_EQ(file.segments[0]->elementPosition, static_cast<int64_t>(header.size()));
        EXPECT_EQ(file.segments[0]->dataPosition, static_cast<int64_t>(header.size() + 12));
        EXPECT_EQ(file.segments[0]->infoList.size(), 1u);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "~Matroska\r\n");
    EXPECT_EQ(host.openHandles, 0);
}

TEST(MatroskaFile, RecognisesMatroskaByDocType)
{
    const std::pair<Bytes, bool> cases[] = {
        {mkv::File({mkv::Info()}, "matroska"), true},
        {mkv::File({mkv::Info()}, "matroska2"), true}, // begins with the 8 bytes
        {mkv::File({mkv::Info()}, "webm"), false},
        {Cat({Element(mkv::kVoid, Bytes(2, 0)), EbmlHeader("matroska")}), true},
        {Master(0x1A45DFA3, {UInt(0x4286, 1)}), false}, // no DocType
        {Bytes{0x00, 0x01, 0x02, 0x03, 0x04}, false},
    };
    for (const auto& [bytes, matroska] : cases) {
        MemoryReader host(bytes);
        auto callbacks = host.Callbacks();
        EXPECT_EQ(Matroska::IsMKVFile(host.Name(), &callbacks), matroska);
        EXPECT_EQ(host.openHandles, 0);
    }
}
