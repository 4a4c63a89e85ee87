// The cue index: points and track positions.
#include <gtest/gtest.h>

#include "ParseElement.h"
#include "matroska/EBMLCue.h"

using namespace ebml;

namespace {

std::vector<uint64_t> Positions(const EBMLCueTrackPosition& entry)
{
    std::vector<uint64_t> values;
    for (const auto& position : entry.clusterPositions) {
        values.push_back(position->value);
    }
    return values;
}

} // namespace

TEST(Cues, PointsAndPositionsAreKeptInFileOrder)
{
    Bytes bytes = Master(0x1C53BB6B, {                                // Cues
        Master(0xBB, {                                                // CuePoint
            UInt(0xB3, 0),                                            //   CueTime
            UInt(0xB3, 10),                                           //   CueTime, replaces the first
            Element(0xEC, {0x00}),                                    //   Void
            Master(0xB7, {                                            //   CueTrackPositions
                Bin(0xF7, {0x01, 0x00, 0x00, 0x00, 0x02}),            //     CueTrack, low 32 bits: 2
                UInt(0xF1, 0x1234),                                   //     CueClusterPosition
                UInt(0xF0, 77),                                       //     CueRelativePosition, unknown here
                Bin(0xF1, {0x01, 0x00, 0x00, 0x00, 0x00}),            //     CueClusterPosition 2^32
                Master(0xDB, {UInt(0x96, 0)}),                        //     CueReference
                Element(0xBF, {0x00, 0x00, 0x00, 0x00}),              //     CRC-32
                UInt(0x5378, 3),                                      //     CueBlockNumber
            }),
            Master(0xB7, {UInt(0xF7, 2), UInt(0xF1, 200)}),
        }),
        Element(0x1B538667, {0x00}),                                  // SignatureSlot
        Master(0xBB, {UInt(0xB3, 2000)}),
    });
    EBMLCue cue;
    EXPECT_EQ(ParseElement(bytes, cue), static_cast<int64_t>(bytes.size()));

    ASSERT_EQ(cue.cuePoints.size(), 2u);
    const EBMLCuePoint& first = *cue.cuePoints[0];
    EXPECT_EQ(first.cueTime.value, 10u);
    ASSERT_EQ(first.trackPositions.size(), 2u);
    EXPECT_EQ(first.trackPositions[0]->cueTrack, 2u);
    EXPECT_EQ(Positions(*first.trackPositions[0]), (std::vector<uint64_t>{0x1234, 4294967296u}));
    EXPECT_EQ(first.trackPositions[0]->cueBlockNumber, 3u);
    EXPECT_EQ(Positions(*first.trackPositions[1]), (std::vector<uint64_t>{200}));
    EXPECT_EQ(cue.cuePoints[1]->cueTime.value, 2000u);
}

TEST(Cues, SourceEndingInsideAPointEndsEveryLoop)
{
    // Cues of unknown size whose last CueClusterPosition (F1 82 01 2C) loses
    // its last two bytes: too short to peek, so every loop ends there.
    Bytes whole = UnknownSizeElement(0x1C53BB6B, Cat({
        Master(0xBB, {UInt(0xB3, 1)}),
        Master(0xBB, {UInt(0xB3, 2), Master(0xB7, {UInt(0xF7, 1), UInt(0xF1, 300)})}),
    }));
    Bytes cut(whole.begin(), whole.end() - 2);
    EBMLCue cue;
    EXPECT_EQ(ParseWholeSource(cut, cue), static_cast<int64_t>(cut.size()) - 2);
    ASSERT_EQ(cue.cuePoints.size(), 2u);
    ASSERT_EQ(cue.cuePoints[1]->trackPositions.size(), 1u);
    EXPECT_EQ(cue.cuePoints[1]->trackPositions[0]->cueTrack, 1u);
    EXPECT_TRUE(cue.cuePoints[1]->trackPositions[0]->clusterPositions.empty());
}
