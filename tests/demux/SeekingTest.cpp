// Seeking on files built element by element: through the Cues, by scanning
// the clusters, the cache shared by audio and video, and the ends.
#include <gtest/gtest.h>

#include "LoadedFile.h"
#include "MatroskaBuilder.h"

using namespace ebml;

namespace {

constexpr int64_t kSecond = 10000000; // 100 ns units

struct SeekFileLayout {
    std::vector<int> clusterSeconds{0, 1, 2, 3, 4, 5};
    std::vector<int> cueSeconds;  // cue points on the video track, at cluster starts
    double durationMs = 6000.0;   // 0: no Duration element
    size_t payload = 20;          // bytes per video frame
    bool subtitles = false;
};

// Each cluster: video at +0 (key), +250, +500, +750 ms; audio at +0 and +500 ms.
// A video frame's first byte is its cluster's second, its second byte its quarter.
Bytes BuildSeekFile(const SeekFileLayout& layout)
{
    std::vector<Bytes> tracks{mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 64, 64), mkv::AudioTrack(2, "A_AC3")};
    if (layout.subtitles) {
        tracks.push_back(mkv::SubtitleTrack(3));
    }
    // A SeekHead points at the Cues, which follow the clusters; its position
    // field has a fixed width, so it is filled in once the layout is known.
    std::vector<Bytes> children{mkv::SeekHeadFor(mkv::kCues, 0), mkv::Info(1000000, layout.durationMs),
                                Master(mkv::kTracks, tracks)};
    std::map<int, uint64_t> clusterOffset;
    for (int second : layout.clusterSeconds) {
        clusterOffset[second] = Cat(children).size();
        std::vector<Bytes> blocks;
        for (int quarter = 0; quarter < 4; ++quarter) {
            Bytes frame(layout.payload, 0);
            frame[0] = static_cast<uint8_t>(second);
            frame[1] = static_cast<uint8_t>(quarter);
            blocks.push_back(SimpleBlock(1, static_cast<int16_t>(quarter * 250), quarter == 0 ? 0x80 : 0x00, frame));
            if (quarter % 2 == 0) {
                blocks.push_back(SimpleBlock(2, static_cast<int16_t>(quarter * 250), 0x80, {0xA0, 0x01}));
            }
        }
        children.push_back(mkv::Cluster(static_cast<uint64_t>(second) * 1000, blocks));
    }
    std::vector<mkv::CueEntry> cues;
    for (int second : layout.cueSeconds) {
        cues.push_back({static_cast<uint64_t>(second) * 1000, 1, clusterOffset.at(second)});
    }
    if (!cues.empty()) {
        children[0] = mkv::SeekHeadFor(mkv::kCues, Cat(children).size());
        children.push_back(mkv::Cues(cues));
    }
    return mkv::File(children);
}

// Seeks the track and answers the time handed back and the first frame's
// (second, quarter) label, or (-1, -1) at the end of the track.
struct Landing {
    int64_t result;
    int second;
    int quarter;
    int64_t start;
};

Landing SeekAndRead(LoadedFile& file, int32_t track, int64_t time)
{
    int64_t result = 0;
    EXPECT_EQ(file.Seek(track, time, result), ZOLVDMX_OK);
    Sample next = file.Next(track);
    if (next.status != ZOLVDMX_OK) {
        return {result, -1, -1, 0};
    }
    return {result, next.bytes[0], next.bytes[1], next.start};
}

} // namespace

TEST(Seeking, CuesChooseTheMasterKeyFrameAtOrBeforeTheRequestAndAudioReusesThePosition)
{
    SeekFileLayout layout;
    layout.cueSeconds = {0, 2, 4};
    LoadedFile file(BuildSeekFile(layout));

    // 3.5 s: the 2 s cue point is visited (0 s is outside the 3 s window),
    // the 4 s one ends the visits.
    Landing at = SeekAndRead(file, 0, 35 * kSecond / 10);
    EXPECT_EQ(at.result, 2 * kSecond);
    EXPECT_EQ(at.second, 2);
    EXPECT_EQ(at.quarter, 0);
    EXPECT_EQ(at.start, at.result);

    // Audio to the same time finds the cached position: it starts from the
    // video's cluster, and the requested time comes back.
    int64_t result = 0;
    EXPECT_EQ(file.Seek(1, 35 * kSecond / 10, result), ZOLVDMX_OK);
    EXPECT_EQ(result, 35 * kSecond / 10);
    EXPECT_EQ(file.Next(1).start, 2 * kSecond);
}

TEST(Seeking, FallsBackToScanningWhenTheCuesOfferNothing)
{
    struct Case {
        const char* what;
        std::vector<int> cues;
        int64_t requested;
        int landsOn; // second of the video key frame taken
    };
    const Case cases[] = {
        // More than 3 s after the last cue point: the clusters are scanned.
        {"past the last cue", {0, 1}, 42 * kSecond / 10, 5},
        // No cues at all; a request exactly at a key frame lands on the next one.
        {"no cues, exact time", {}, 2 * kSecond, 3},
        {"no cues, between", {}, 21 * kSecond / 10, 3},
    };
    for (const Case& c : cases) {
        SeekFileLayout layout;
        layout.cueSeconds = c.cues;
        LoadedFile file(BuildSeekFile(layout));
        Landing at = SeekAndRead(file, 0, c.requested);
        EXPECT_EQ(at.second, c.landsOn) << c.what;
        EXPECT_EQ(at.quarter, 0) << c.what << ": a key frame";
        EXPECT_EQ(at.result, c.landsOn * kSecond) << c.what;
        EXPECT_EQ(at.start, at.result) << c.what;
    }
}

TEST(Seeking, AudioWithoutCuesTakesTheFirstBlockAfterTheRequest)
{
    LoadedFile file(BuildSeekFile(SeekFileLayout{}));
    // Audio blocks lie at every whole and half second: 2.5 s exactly is passed over.
    Landing at = SeekAndRead(file, 1, 25 * kSecond / 10);
    EXPECT_EQ(at.result, 3 * kSecond);
    EXPECT_EQ(at.start, 3 * kSecond);
}

TEST(Seeking, StartAndEndOfTheFile)
{
    LoadedFile file(BuildSeekFile(SeekFileLayout{}));
    file.All(0);

    // The start: the first frame again, the requested time handed back.
    Landing start = SeekAndRead(file, 0, -5);
    EXPECT_EQ(start.result, -5);
    EXPECT_EQ(start.second, 0);
    EXPECT_EQ(start.quarter, 0);

    // Past the end (at or above the duration times 10000): the track is left
    // at its end, and so is a repeat of the same seek.
    for (int i = 0; i < 2; ++i) {
        Landing end = SeekAndRead(file, 0, 700000000000LL);
        EXPECT_EQ(end.result, 700000000000LL);
        EXPECT_EQ(end.second, -1);
    }
    // Nothing of the track after the requested time: the end as well.
    Landing late = SeekAndRead(file, 0, 59 * kSecond / 10);
    EXPECT_EQ(late.result, 59 * kSecond / 10);
    EXPECT_EQ(late.second, -1);
    // And the first seek of the file to 0 starts over.
    EXPECT_EQ(SeekAndRead(file, 0, 0).second, 0);
}

TEST(Seeking, AFileWithoutUsableDurationStillSeeks)
{
    // No Duration at all, or one so large that ten thousand times it leaves
    // the 64-bit range: neither makes every seek "past the end".
    for (double duration : {0.0, 1e300}) {
        SeekFileLayout layout;
        layout.durationMs = duration;
        LoadedFile file(BuildSeekFile(layout));
        EXPECT_EQ(SeekAndRead(file, 0, 21 * kSecond / 10).second, 3) << duration;
    }
}

TEST(Seeking, OnlyVideoAndAudioTracksSeek)
{
    SeekFileLayout layout;
    layout.subtitles = true;
    LoadedFile file(BuildSeekFile(layout));
    int64_t result = 0;
    EXPECT_EQ(file.Seek(2, 12345, result), ZOLVDMX_E_FAIL);
    EXPECT_EQ(result, 12345);
}

TEST(Seeking, ReachesClustersBeyondThoseIndexedAtLoadReadingOnlyBlockHeaders)
{
    SeekFileLayout layout;
    layout.clusterSeconds.clear();
    for (int s = 0; s < 100; ++s) {
        layout.clusterSeconds.push_back(s);
    }
    layout.durationMs = 100000.0;
    layout.payload = 4000;
    for (bool withCues : {true, false}) {
        layout.cueSeconds = withCues ? std::vector<int>{0, 20, 40, 60, 80} : std::vector<int>{};
        LoadedFile file(BuildSeekFile(layout));
        file.host.bytesDelivered = 0;
        int64_t result = 0;
        ASSERT_EQ(file.Seek(0, 815 * kSecond / 10, result), ZOLVDMX_OK);
        // Far less than one frame per cluster examined.
        EXPECT_LT(file.host.bytesDelivered, 4000) << (withCues ? "cues" : "scan");
        Sample next = file.Next(0);
        EXPECT_EQ(next.start, result);
        EXPECT_EQ(next.bytes[0], withCues ? 80 : 82);
    }
}
