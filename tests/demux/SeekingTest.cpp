// Seeking in long files: key frames noted while clusters are listed are remembered, so that only the first
// seek reads its way through the file (where seeks land is checked on the real files).
#include <gtest/gtest.h>

#include "LoadedFile.h"
#include "MatroskaBuilder.h"

using namespace ebml;

namespace {

constexpr int64_t kSecond = 10000000;

// Video at 25 frames per second with a key frame every ten seconds (an encoder's default), one-second
// clusters of about 100 KB, more than a read-ahead window; Cues listing every key frame when asked for.
Bytes LongGopFile(int seconds, bool cues)
{
    std::vector<Bytes> children{mkv::SeekHeadFor(mkv::kCues, 0), mkv::Info(1000000, seconds * 1000.0),
                                mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 64, 64)})};
    std::vector<mkv::CueEntry> cuePoints;
    uint64_t offset = Cat(children).size();
    for (int second = 0; second < seconds; ++second) {
        std::vector<Bytes> blocks;
        for (int frame = 0; frame < 25; ++frame) {
            blocks.push_back(SimpleBlock(1, static_cast<int16_t>(frame * 40), frame == 0 && second % 10 == 0 ? 0x80 : 0,
                                         Bytes(4000, static_cast<uint8_t>(frame))));
        }
        if (second % 10 == 0) {
            cuePoints.push_back({static_cast<uint64_t>(second) * 1000, 1, offset});
        }
        children.push_back(mkv::Cluster(static_cast<uint64_t>(second) * 1000, blocks));
        offset += children.back().size();
    }
    if (cues) {
        children[0] = mkv::SeekHeadFor(mkv::kCues, offset);
        children.push_back(mkv::Cues(cuePoints));
    }
    return mkv::File(children);
}

// Seeks, checks the landing and the frame delivered there; the host reads made.
int64_t SeekAndCountReads(LoadedFile& file, int64_t request, int64_t landing)
{
    file.host.calls = {};
    int64_t result = 0;
    EXPECT_EQ(file.Seek(0, request, result), ZOLVDMX_OK);
    EXPECT_EQ(result, landing) << "seek to " << request;
    Sample next = file.Next(0);
    EXPECT_EQ(next.start, landing);
    EXPECT_EQ(next.sync, 1u);
    return file.host.calls.read;
}

} // namespace

TEST(Seeking, LaterSeeksReadOnlyAroundTheirRequest)
{
    for (bool cues : {true, false}) {
        SCOPED_TRACE(cues ? "cues" : "no cues");
        LoadedFile file(LongGopFile(40, cues));
        // The first seek lists the clusters up to its request: a read each.
        EXPECT_GE(SeekAndCountReads(file, 39 * kSecond + 5000000, 30 * kSecond), 39);
        // Back into another GOP, later inside it, then where the first went: noted key frames spare rereading.
        EXPECT_LE(SeekAndCountReads(file, 25 * kSecond + 5000000, 20 * kSecond), 12);
        EXPECT_LE(SeekAndCountReads(file, 28 * kSecond + 5000000, 20 * kSecond), 10);
        EXPECT_LE(SeekAndCountReads(file, 39 * kSecond + 5000000, 30 * kSecond), 4);
    }
}

TEST(Seeking, AnAudioTrackFindsItsLatestFrameInAnEarlierClusterPastOtherTracksBlocks)
{
    // The second cluster starts at 100 ms but its first audio frame is at 121 ms: a seek of the audio to 110 ms
    // must go back to the frame at 30 ms, not to the video frame after it.
    LoadedFile file(mkv::File(
        {mkv::Info(), mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 16, 16), mkv::AudioTrack(2, "A_AC3")}),
         mkv::Cluster(0, {SimpleBlock(1, 0, 0x80, {1}), SimpleBlock(2, 0, 0x80, {2}), SimpleBlock(2, 30, 0x80, {3}),
                          SimpleBlock(1, 40, 0, {4})}),
         mkv::Cluster(100, {SimpleBlock(1, 0, 0x80, {5}), SimpleBlock(2, 21, 0x80, {6})})}));
    int64_t result = 0;
    EXPECT_EQ(file.Seek(1, 1100000, result), ZOLVDMX_OK);
    EXPECT_EQ(result, 300000);
    EXPECT_EQ(file.Next(1).bytes, Bytes{3});
}

TEST(Seeking, VideoBeforeItsFirstKeyFrameLandsOnThatKeyFrame)
{
    // A cut that opens on frames that are not key frames; the first key frame is in the second cluster.
    LoadedFile file(mkv::File({mkv::Info(), mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 16, 16)}),
                               mkv::Cluster(0, {SimpleBlock(1, 0, 0, {1}), SimpleBlock(1, 40, 0, {2})}),
                               mkv::Cluster(80, {SimpleBlock(1, 0, 0x80, {3}), SimpleBlock(1, 40, 0, {4})})}));
    // {request, landing, first frame delivered}: at or below 0 the track's first frame, key frame or not.
    for (auto [request, landing, frame] : {std::tuple{200000, 800000, 3}, {1, 800000, 3}, {0, 0, 1}}) {
        int64_t result = -1;
        EXPECT_EQ(file.Seek(0, request, result), ZOLVDMX_OK);
        EXPECT_EQ(result, landing) << request;
        EXPECT_EQ(file.Next(0).bytes, Bytes{static_cast<uint8_t>(frame)}) << request;
    }
}
