// Seeking in long files: a first seek reads around its request only, wherever it lies; later seeks profit
// from the key frames noted on the way; an audio track's latest frame before a cluster is found among the
// cluster's last bytes without being fooled by frame bytes that look like a block; each step of the search
// finds what it says on its own (where seeks land is checked on the real files).
#include <gtest/gtest.h>

#include <algorithm>

#include "DemuxInternals.h"
#include "LoadedFile.h"
#include "MatroskaBuilder.h"
#include "api/ZolvdmxHandle.h"
#include "matroska/EBMLSegment.h"

using namespace ebml;

namespace {

constexpr int64_t kSecond = 10000000;

// Video at 25 frames per second with a key frame every `gop` seconds and one-second clusters of about
// 100 KB, more than a read-ahead window; Cues listing every key frame when asked for.
Bytes LongGopFile(int seconds, int gop, bool cues)
{
    std::vector<Bytes> children{mkv::SeekHeadFor(mkv::kCues, 0), mkv::Info(1000000, seconds * 1000.0),
                                mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 64, 64)})};
    std::vector<mkv::CueEntry> cuePoints;
    uint64_t offset = Cat(children).size();
    for (int second = 0; second < seconds; ++second) {
        std::vector<Bytes> blocks;
        for (int frame = 0; frame < 25; ++frame) {
            blocks.push_back(SimpleBlock(1, static_cast<int16_t>(frame * 40), frame == 0 && second % gop == 0 ? 0x80 : 0,
                                         Bytes(4000, static_cast<uint8_t>(frame))));
        }
        if (second % gop == 0) {
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

// Seeks, checks the landing and the frame delivered there; the host calls made.
int64_t SeekAndCountCalls(LoadedFile& file, int64_t request, int64_t landing)
{
    file.host.calls = {};
    int64_t result = 0;
    EXPECT_EQ(file.Seek(0, request, result), ZOLVDMX_OK);
    EXPECT_EQ(result, landing) << "seek to " << request;
    Sample next = file.Next(0);
    EXPECT_EQ(next.start, landing);
    EXPECT_EQ(next.sync, 1u);
    return file.host.calls.Total();
}

} // namespace

TEST(Seeking, AFirstSeekCostsTheSameNearTheStartAndNearTheEnd)
{
    for (bool cues : {true, false}) {
        SCOPED_TRACE(cues ? "cues" : "no cues");
        const Bytes bytes = LongGopFile(160, 2, cues);
        LoadedFile early(bytes);
        LoadedFile late(bytes);
        const int64_t nearStart = SeekAndCountCalls(early, 11 * kSecond + 5000000, 10 * kSecond);
        const int64_t nearEnd = SeekAndCountCalls(late, 151 * kSecond + 5000000, 150 * kSecond);
        // Two clusters walked, and a few probes without Cues: nothing grows with the position.
        EXPECT_LE(nearEnd, nearStart + (cues ? 2 : 8));
        EXPECT_LE(nearEnd, cues ? 12 : 40);
    }
}

TEST(Seeking, EachStepFindsWhatItSaysOnItsOwn)
{
    // Key frames every 4 s, one-second clusters; the request lies between the frames at 9.48 and 9.52 s.
    LoadedFile file(LongGopFile(60, 4, true));
    KelmMKVDemux& demux = *file.handle->demux;
    EBMLSegment& segment = DemuxInternals::Segment(demux);
    auto clusterOf = [&](const BlockRef& ref) { return segment.clusters[static_cast<size_t>(ref.cluster)].get(); };
    auto secondOf = [&](const BlockRef& ref) {
        return segment.GetRefTime(static_cast<int64_t>(clusterOf(ref)->timecode)) / kSecond;
    };
    const int64_t request = 9 * kSecond + kSecond / 2;

    // The start without Cues: the cluster at 9 s, found by bisection; with them, the cluster of the cue at 8 s.
    std::vector<CueRef> cues;
    std::swap(cues, DemuxInternals::Tracks(demux)[0].cues);
    const BlockRef found = DemuxInternals::StartPoint(demux, 0, request);
    ASSERT_GE(found.cluster, 0);
    EXPECT_EQ(secondOf(found), 9);
    const auto learnedBefore = std::count_if(segment.clusters.begin(), segment.clusters.end(), [&](const auto& c) {
        return c->timecode > 0 && c->timecode < 8000;
    });
    EXPECT_LE(learnedBefore, 2) << "a walk from the first cluster, not a bisection";
    std::swap(cues, DemuxInternals::Tracks(demux)[0].cues);
    const BlockRef cued = DemuxInternals::StartPoint(demux, 0, request);
    ASSERT_GE(cued.cluster, 0);
    EXPECT_EQ(secondOf(cued), 8);

    // Forward from 9 s: no key frame up to the request; it stops at the next frame, not a key frame.
    DemuxInternals::ForwardSearch forward = DemuxInternals::SearchForward(demux, 0, found, request);
    EXPECT_FALSE(forward.haveBest);
    EXPECT_TRUE(forward.startsAfter);
    EXPECT_FALSE(forward.firstAfterSuitable);
    EXPECT_EQ(forward.stoppedAt.cluster, found.cluster);
    // Forward from 8 s: the key frame at 8 s is the latest at or before the request.
    forward = DemuxInternals::SearchForward(demux, 0, cued, request);
    ASSERT_TRUE(forward.haveBest);
    EXPECT_EQ(forward.bestTime, 8 * kSecond);

    // Back from the cluster at 9 s: the same key frame.
    const DemuxInternals::BackwardSearch backward =
        DemuxInternals::SearchBackward(demux, 0, clusterOf(found), request);
    ASSERT_TRUE(backward.haveBest);
    EXPECT_EQ(backward.best.cluster, forward.best.cluster);
    EXPECT_EQ(backward.best.group, forward.best.group);
    EXPECT_EQ(backward.best.block, forward.best.block);

    // The track's end, from its last frame (59.96 s, lasting as long as the one before it).
    EXPECT_EQ(DemuxInternals::TrackEnd(demux, 0, clusterOf(found)), 60 * kSecond);
}

TEST(Seeking, LaterSeeksInAGopAlreadyWalkedReadLittle)
{
    for (bool cues : {true, false}) {
        SCOPED_TRACE(cues ? "cues" : "no cues");
        LoadedFile file(LongGopFile(40, 10, cues));
        SeekAndCountCalls(file, 39 * kSecond + 5000000, 30 * kSecond);
        // Back into the same GOP: its key frame was noted on the way.
        EXPECT_LE(SeekAndCountCalls(file, 35 * kSecond + 5000000, 30 * kSecond), 4);
        EXPECT_LE(SeekAndCountCalls(file, 39 * kSecond + 5000000, 30 * kSecond), 4);
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

TEST(Seeking, TheLastAudioFrameBeforeAClusterIsFoundAmongItsLastBytesWhateverTheFramesHold)
{
    // Clusters of 2 s opening on a video key frame, as mkvmerge writes them: the audio frame before a key
    // frame ends the cluster before. Every video frame holds bytes that read as a SimpleBlock of the audio
    // track at 1990 ms, later than any real one, ending exactly where the next element starts; the search
    // from the cluster's end must not take one of them for a block.
    auto trap = [](size_t size, size_t before) {
        Bytes frame(size, 0x33);
        // A3 (SimpleBlock), size 0x80 | n, track 0x82, timecode 07 C6, flags 0x80: n bytes of payload.
        const size_t at = size - before;
        const uint8_t n = static_cast<uint8_t>(before - 2);
        const Bytes fake{0xA3, static_cast<uint8_t>(0x80 | n), 0x82, 0x07, 0xC6, 0x80};
        std::copy(fake.begin(), fake.end(), frame.begin() + static_cast<std::ptrdiff_t>(at));
        return frame;
    };
    std::vector<Bytes> children{mkv::Info(1000000, 6000.0),
                                mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 64, 64),
                                             mkv::AudioTrack(2, "A_AC3")})};
    for (int cluster = 0; cluster < 3; ++cluster) {
        std::vector<Bytes> blocks;
        for (int frame = 0; frame < 50; ++frame) {
            blocks.push_back(SimpleBlock(1, static_cast<int16_t>(frame * 40), frame == 0 ? 0x80 : 0, trap(3000, 40)));
            if (frame % 5 == 4) {
                blocks.push_back(SimpleBlock(2, static_cast<int16_t>(frame * 40 + 10), 0x80,
                                             Bytes(100, static_cast<uint8_t>(cluster * 10 + frame / 5))));
            }
        }
        children.push_back(mkv::Cluster(static_cast<uint64_t>(cluster) * 2000, blocks));
    }
    LoadedFile file(mkv::File(children));
    for (int cluster : {1, 2}) {
        int64_t video = 0;
        int64_t audio = 0;
        ASSERT_EQ(file.Seek(0, cluster * 2 * kSecond + 5000000, video), ZOLVDMX_OK);
        EXPECT_EQ(video, cluster * 2 * kSecond);
        ASSERT_EQ(file.Seek(1, video, audio), ZOLVDMX_OK);
        // The last audio frame of the cluster before: 1970 ms into it.
        EXPECT_EQ(audio, (cluster - 1) * 2 * kSecond + 19700000);
        Sample next = file.Next(1);
        EXPECT_EQ(next.bytes, Bytes(100, static_cast<uint8_t>((cluster - 1) * 10 + 9)));
        EXPECT_EQ(file.Next(1).start, cluster * 2 * kSecond + 1700000); // then on into the next cluster
    }
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

TEST(Seeking, ACuedBlockPositionIsTakenOnlyWhereABlockOfTheTrackAtTheCueTimeLies)
{
    // One cue point at 1 s for the second cluster, whose CueRelativePosition is right (the key frame), or
    // points at a frame's bytes that read as a block of the track at 1 s, or at garbage: the seek lands
    // on the key frame at 1 s all the same.
    Bytes trap(200, 0x44);
    const Bytes fake{0xA3, 0x85, 0x81, 0x00, 0x00, 0x80, 0x01}; // a SimpleBlock of track 1 at the cluster's time
    std::copy(fake.begin(), fake.end(), trap.begin() + 100);
    const Bytes timecode = UInt(mkv::kTimecode, 1000);
    const Bytes key = SimpleBlock(1, 0, 0x80, Bytes(50, 0x11));
    const Bytes framed = SimpleBlock(1, 40, 0, trap);
    const Bytes second = mkv::Cluster(1000, {key, framed});
    const Bytes first = mkv::Cluster(0, {SimpleBlock(1, 0, 0x80, Bytes(50, 0x22))});
    const Bytes head = Cat({mkv::SeekHeadFor(mkv::kCues, 0), mkv::Info(1000000, 2000.0),
                            mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 16, 16)})});
    // Where each candidate lies, relative to the second cluster's data: the key frame, the fake, garbage.
    const uint64_t fakeAt = timecode.size() + key.size() + (framed.size() - trap.size()) + 100;
    for (uint64_t relative : {static_cast<uint64_t>(timecode.size()), fakeAt, fakeAt + 3}) {
        SCOPED_TRACE(relative);
        Bytes positions = Master(mkv::kCueTrackPositions,
                                 {UInt(mkv::kCueTrack, 1), UInt(mkv::kCueClusterPosition, head.size() + first.size()),
                                  UInt(0xF0, relative)});
        Bytes cues = Master(mkv::kCues, {Master(mkv::kCuePoint, {UInt(mkv::kCueTime, 1000), positions})});
        Bytes seekHead = mkv::SeekHeadFor(mkv::kCues, head.size() + first.size() + second.size());
        LoadedFile file(mkv::File({seekHead, mkv::Info(1000000, 2000.0),
                                   mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 16, 16)}), first, second, cues}));
        int64_t result = 0;
        ASSERT_EQ(file.Seek(0, 10200000, result), ZOLVDMX_OK);
        EXPECT_EQ(result, 10000000);
        EXPECT_EQ(file.Next(0).bytes, Bytes(50, 0x11));
        EXPECT_EQ(file.Next(0).bytes, trap);
    }
}
