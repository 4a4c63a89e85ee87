// Segment information, chapter translations and the seek head.
#include <gtest/gtest.h>

#include <numeric>

#include "ParseElement.h"
#include "matroska/EBMLInfo.h"

using namespace ebml;

TEST(Info, TimecodeScaleDefaultsAndDurationTakesFourOrEightBytes)
{
    struct Case {
        Bytes scale;           // TimecodeScale (2A D7 B1) element, or nothing
        Bytes durationPayload; // big-endian IEEE-754
        uint64_t expectedScale;
        double expectedDuration;
    };
    const Case cases[] = {
        {UInt(0x2AD7B1, 100000), {0x45, 0xFA, 0x00, 0x00}, 100000, 8000.0},
        {{}, {0x40, 0xC3, 0x88, 0x00, 0x00, 0x00, 0x00, 0x00}, 1000000, 10000.0},
        {{}, {0x40, 0xC3, 0x88}, 1000000, 0.0}, // neither single nor double
    };
    for (const Case& c : cases) {
        // WritingApp after Duration shows the stream stayed in step.
        Bytes bytes = Master(0x1549A966, {c.scale, Bin(0x4489, c.durationPayload), Str(0x5741, "w")});
        EBMLInfo info;
        EXPECT_EQ(ParseElement(bytes, info), static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(info.timecodeScale.value, c.expectedScale);
        EXPECT_EQ(info.duration, c.expectedDuration);
        EXPECT_STREQ(info.writingApp.get(), "w");
    }
}

TEST(Info, ChapterTranslateIsFollowedByTheRestOfInfo)
{
    Bytes bytes = Master(0x1549A966, {
        Master(0x6924, {                       // ChapterTranslate
            UInt(0x69FC, 1),                   //   EditionUID
            Bin(0x69FC, {0x01, 0x02}),         //   EditionUID 258
            UInt(0x69BF, 1),                   //   Codec
        }),
        Str(0x4D80, "abc"),                    // MuxingApp
        Str(0x4D80, "x"),                      // MuxingApp, replaces the first
        Str(0x7BA9, "My title"),               // Title
        UInt(0x2AD7B1, 500000),                // TimecodeScale
    });
    EBMLInfo info;
    EXPECT_EQ(ParseElement(bytes, info), static_cast<int64_t>(bytes.size()));
    ASSERT_EQ(info.chapterTranslates.size(), 1u);
    EXPECT_EQ(info.chapterTranslates[0]->editionUIDs, (std::vector<uint32_t>{1, 258}));
    EXPECT_EQ(info.chapterTranslates[0]->codec, 1u);
    EXPECT_STREQ(info.muxingApp.get(), "x");
    EXPECT_STREQ(reinterpret_cast<const char*>(info.title.GetData()), "My title");
    EXPECT_EQ(info.timecodeScale.value, 500000u);
}

TEST(Info, OversizedUidKeepsItsFirst16BytesAndTheStreamInStep)
{
    Bytes longUid(20);
    std::iota(longUid.begin(), longUid.end(), 1); // 01 .. 14
    Bytes bytes = Master(0x1549A966, {Bin(0x73A4, longUid), Str(0x5741, "w")});
    EBMLInfo info;
    EXPECT_EQ(ParseElement(bytes, info), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(Bytes(info.segmentUID, info.segmentUID + 16),
              (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_STREQ(info.writingApp.get(), "w");
}

TEST(SeekHead, SeekIdsAreHeldFirstByteLowest)
{
    struct Case {
        Bytes seekId;
        uint32_t held;
    };
    const Case cases[] = {
        {{0x1C, 0x53, 0xBB, 0x6B}, 0x6BBB531Cu}, // Cues
        {{0x4D, 0xBB}, 0xBB4Du},
        {{0x01, 0x02, 0x03, 0x04, 0x05}, 0xFFFFFFFFu}, // longer than any ID
        {{}, 0xFFFFFFFFu},
    };
    std::vector<Bytes> seeks{Element(0xEC, {0x00})};
    for (const Case& c : cases) {
        seeks.push_back(Master(0x4DBB, {Bin(0x53AB, c.seekId), Bin(0x53AC, {0x00, 0x00, 0x10, 0x00})}));
    }
    // SeekPosition beyond 32 bits.
    seeks.push_back(Master(0x4DBB, {Bin(0x53AC, {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00})}));
    Bytes bytes = Master(0x114D9B74, seeks);

    EBMLSeekHead head;
    EXPECT_EQ(ParseElement(bytes, head), static_cast<int64_t>(bytes.size()));
    ASSERT_EQ(head.seeks.size(), 5u);
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(head.seeks[k]->HeldSeekId(), cases[k].held) << k;
        EXPECT_EQ(head.seeks[k]->seekPosition, 4096u) << k;
    }
    EXPECT_EQ(head.seeks[0]->seekIdLength, 4);
    EXPECT_EQ(head.seeks[4]->seekPosition, 4294967296u);
}
