// Seeking on files built like a muxer writes them: video lands on the latest
// key frame at or before the request, audio on its own latest frame, the
// time handed back is the start of the first frame delivered after it, and
// the ends of the file are handled.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "LoadedFile.h"
#include "MatroskaBuilder.h"

using namespace ebml;

namespace {

constexpr int64_t kMs = 10000; // 100 ns units per millisecond
constexpr uint8_t kKey = 0x80;
constexpr uint8_t kFixedLacing = 0x04;

// Video at 25 frames per second from `videoStartMs` (a key frame every
// `keyEvery` frames), audio frames of 20 ms from 0 laced `audioLace` to a
// block; a cluster per `clusterMs`, opened by the audio block when audio and
// video start together (as ffmpeg writes them); a cue point per key frame.
struct Layout {
    int seconds = 12;
    int videoStartMs = 20;
    int keyEvery = 50; // 2 s GOPs
    int clusterMs = 1000;
    int audioLace = 1;
    bool cues = true;
    bool audioFirst = true;
    size_t videoPayload = 4; // bytes per video frame, at least 4
    double durationMs = -1;  // the Duration element: -1 the file's length, 0 none
};

// Frame labels: video 'V', index (2 bytes), key; audio 'A', index (2 bytes).
Bytes VideoFrame(int index, bool key, size_t size)
{
    Bytes frame(size, 0);
    frame[0] = 'V';
    frame[1] = static_cast<uint8_t>(index >> 8);
    frame[2] = static_cast<uint8_t>(index);
    frame[3] = key ? 1 : 0;
    return frame;
}

Bytes BuildFile(const Layout& layout)
{
    struct Block {
        int timeMs;
        bool audio;
        Bytes element;
    };
    std::vector<Block> blocks;
    const int endMs = layout.seconds * 1000;
    for (int i = 0; layout.videoStartMs + 40 * i < endMs; ++i) {
        bool key = i % layout.keyEvery == 0;
        blocks.push_back({layout.videoStartMs + 40 * i, false, Bytes()});
        blocks.back().element = VideoFrame(i, key, layout.videoPayload);
    }
    for (int j = 0; 20 * j < endMs; j += layout.audioLace) {
        int count = std::min(layout.audioLace, endMs / 20 - j);
        Bytes payload;
        if (count > 1) {
            payload.push_back(static_cast<uint8_t>(count - 1)); // fixed-size lacing
        }
        for (int k = 0; k < count; ++k) {
            payload.insert(payload.end(), {'A', static_cast<uint8_t>((j + k) >> 8), static_cast<uint8_t>(j + k)});
        }
        blocks.push_back({20 * j, true, payload});
    }
    std::stable_sort(blocks.begin(), blocks.end(), [&](const Block& a, const Block& b) {
        if (a.timeMs != b.timeMs) {
            return a.timeMs < b.timeMs;
        }
        return layout.audioFirst ? a.audio && !b.audio : !a.audio && b.audio;
    });

    Bytes video = mkv::TrackEntry(1, 1, "V_MPEG4/ISO/ASP",
                                  {Master(mkv::kVideo, {UInt(mkv::kPixelWidth, 64), UInt(mkv::kPixelHeight, 64)}),
                                   UInt(mkv::kDefaultDuration, 40000000)});
    Bytes audio = mkv::TrackEntry(2, 2, "A_AC3",
                                  {Master(mkv::kAudio, {Float64(mkv::kSamplingFrequency, 48000.0)}),
                                   UInt(mkv::kDefaultDuration, 20000000)});
    // The SeekHead's position field has a fixed width: filled in at the end.
    double duration = layout.durationMs < 0 ? endMs : layout.durationMs;
    std::vector<Bytes> children{mkv::SeekHeadFor(mkv::kCues, 0), mkv::Info(1000000, duration),
                                Master(mkv::kTracks, {video, audio})};
    std::vector<mkv::CueEntry> cues;
    for (size_t first = 0; first < blocks.size();) {
        int cluster = blocks[first].timeMs / layout.clusterMs;
        int clusterTime = blocks[first].timeMs;
        uint64_t offset = Cat(children).size();
        std::vector<Bytes> elements;
        size_t next = first;
        for (; next < blocks.size() && blocks[next].timeMs / layout.clusterMs == cluster; ++next) {
            const Block& b = blocks[next];
            auto relative = static_cast<int16_t>(b.timeMs - clusterTime);
            if (b.audio) {
                bool laced = layout.audioLace > 1 && b.element.size() > 3;
                elements.push_back(SimpleBlock(2, relative, laced ? kKey | kFixedLacing : kKey, b.element));
            } else {
                bool key = b.element[3] == 1;
                elements.push_back(SimpleBlock(1, relative, key ? kKey : 0, b.element));
                if (key) {
                    cues.push_back({static_cast<uint64_t>(b.timeMs), 1, offset});
                }
            }
        }
        children.push_back(mkv::Cluster(static_cast<uint64_t>(clusterTime), elements));
        first = next;
    }
    if (layout.cues) {
        children[0] = mkv::SeekHeadFor(mkv::kCues, Cat(children).size());
        children.push_back(mkv::Cues(cues));
    }
    return mkv::File(children);
}

// What a seek hands back and where the track then stands.
struct Landing {
    uint32_t status;
    int64_t result;
    uint32_t next;    // status of the next sample request
    int64_t start;    // its start time
    uint32_t sync;
    char kind;        // 'V' or 'A'
    int index;        // frame index from the label
};

Landing SeekAndRead(LoadedFile& file, int32_t track, int64_t time)
{
    Landing landing{};
    landing.status = file.Seek(track, time, landing.result);
    Sample sample = file.Next(track);
    landing.next = sample.status;
    if (sample.status == ZOLVDMX_OK && sample.bytes.size() >= 3) {
        landing.start = sample.start;
        landing.sync = sample.sync;
        landing.kind = static_cast<char>(sample.bytes[0]);
        landing.index = sample.bytes[1] << 8 | sample.bytes[2];
    }
    return landing;
}

// Checks that a video seek lands on the frame starting at `expectedMs`, a key
// frame, and reports exactly its time.
void ExpectVideoLanding(LoadedFile& file, const Layout& layout, int requestMs, int expectedMs)
{
    SCOPED_TRACE("video to " + std::to_string(requestMs) + " ms");
    Landing at = SeekAndRead(file, 0, requestMs * kMs);
    ASSERT_EQ(at.status, ZOLVDMX_OK);
    ASSERT_EQ(at.next, ZOLVDMX_OK);
    EXPECT_EQ(at.result, expectedMs * kMs);
    EXPECT_EQ(at.start, at.result);
    EXPECT_EQ(at.kind, 'V');
    EXPECT_EQ(at.index, (expectedMs - layout.videoStartMs) / 40);
    EXPECT_EQ(at.index % layout.keyEvery, 0) << "a key frame";
    EXPECT_EQ(at.sync, 1u);
}

} // namespace

TEST(Seeking, VideoLandsOnTheLatestKeyFrameAtOrBeforeTheRequest)
{
    struct Case {
        int requestMs;
        int expectedMs;
    };
    // Two-second GOPs from 20 ms in one-second clusters that open with audio.
    Layout shortGop;
    const std::vector<Case> shortCases = {
        {4500, 4020},   // inside a GOP
        {4020, 4020},   // exactly on a key frame
        {4019, 2020},   // just before one
        {11500, 10020}, // inside the last GOP
        {12019, 10020}, // on the last frame, before its end
        {10, 20},       // before the first key frame: the first key frame
    };
    // Ten-second GOPs (an encoder's default), each spanning ten clusters.
    Layout longGop;
    longGop.seconds = 25;
    longGop.keyEvery = 250;
    longGop.audioFirst = false;
    const std::vector<Case> longCases = {{5000, 20}, {15000, 10020}, {24500, 20020}, {10020, 10020}, {10019, 20}};

    for (bool cues : {true, false}) {
        for (const auto& [layout, cases] : {std::pair{shortGop, shortCases}, std::pair{longGop, longCases}}) {
            Layout l = layout;
            l.cues = cues;
            SCOPED_TRACE(std::string(cues ? "cues" : "no cues") + ", key every " + std::to_string(l.keyEvery));
            LoadedFile file(BuildFile(l));
            ASSERT_EQ(file.loadStatus, ZOLVDMX_OK);
            for (const Case& c : cases) {
                ExpectVideoLanding(file, l, c.requestMs, c.expectedMs);
            }
        }
    }
}

TEST(Seeking, AudioLandsOnItsOwnLatestFrameEvenInsideALacedBlock)
{
    Layout layout;
    layout.audioLace = 8; // 160 ms blocks: 0, 160, ..., 960 (frames 960 to 1100), ...
    LoadedFile file(BuildFile(layout));

    struct Case {
        int requestMs;
        int expectedMs;
    };
    for (const Case& c : {Case{1050, 1040}, Case{1000, 1000}, Case{960, 960}, Case{1119, 1100}, Case{5, 0}}) {
        SCOPED_TRACE("audio to " + std::to_string(c.requestMs) + " ms");
        Landing at = SeekAndRead(file, 1, c.requestMs * kMs);
        ASSERT_EQ(at.next, ZOLVDMX_OK);
        EXPECT_EQ(at.result, c.expectedMs * kMs);
        EXPECT_EQ(at.start, at.result);
        EXPECT_EQ(at.kind, 'A');
        EXPECT_EQ(at.index, c.expectedMs / 20);
    }

    // Video first, then audio to the same time: each on its own frame.
    ExpectVideoLanding(file, layout, 4500, 4020);
    Landing audio = SeekAndRead(file, 1, 4500 * kMs);
    EXPECT_EQ(audio.result, 4500 * kMs);
    EXPECT_EQ(audio.index, 4500 / 20);
    // The same seek again lands in the same place.
    Landing again = SeekAndRead(file, 1, 4500 * kMs);
    EXPECT_EQ(again.result, audio.result);
    EXPECT_EQ(again.index, audio.index);
}

TEST(Seeking, TheEndsOfTheTrack)
{
    Layout layout; // video frames 20 ms to 11980 ms (ending at 12020), audio 0 to 11980 ms (ending at 12000)
    for (bool cues : {true, false}) {
        layout.cues = cues;
        LoadedFile file(BuildFile(layout));
        SCOPED_TRACE(cues ? "cues" : "no cues");
        file.All(0);

        // At or past the end of the last frame: the track is left at its end
        // and the requested time comes back.
        for (auto [track, requestMs] : {std::pair{0, 12020}, std::pair{0, 600000000}, std::pair{1, 12000}}) {
            Landing end = SeekAndRead(file, track, requestMs * kMs);
            EXPECT_EQ(end.status, ZOLVDMX_OK);
            EXPECT_EQ(end.result, requestMs * kMs);
            EXPECT_EQ(end.next, ZOLVDMX_END_OF_TRACK) << track << " at " << requestMs;
        }
        // Just before the end of the last audio frame: that frame.
        Landing last = SeekAndRead(file, 1, 11999 * kMs);
        EXPECT_EQ(last.result, 11980 * kMs);
        EXPECT_EQ(last.index, 11980 / 20);

        // At or before 0: the first frame, whose time need not be 0.
        for (int64_t request : {int64_t{0}, int64_t{-5}}) {
            Landing start = SeekAndRead(file, 0, request);
            EXPECT_EQ(start.result, 20 * kMs);
            EXPECT_EQ(start.start, 20 * kMs);
            EXPECT_EQ(start.index, 0);
        }
        EXPECT_EQ(SeekAndRead(file, 1, 0).result, 0);
    }
}

TEST(Seeking, WithoutDurationOrWithAHugeOneStillSeeks)
{
    // Neither a missing Duration nor one whose 100-ns value leaves the 64-bit
    // range changes where a seek lands.
    for (double duration : {0.0, 1e300}) {
        Layout layout;
        layout.durationMs = duration;
        LoadedFile file(BuildFile(layout));
        ExpectVideoLanding(file, layout, 4500, 4020);
        EXPECT_EQ(SeekAndRead(file, 0, 13000 * kMs).next, ZOLVDMX_END_OF_TRACK);
    }
}

TEST(Seeking, RepeatedSeeksInALongGopReadLittle)
{
    Layout layout;
    layout.seconds = 25;
    layout.keyEvery = 250;
    layout.cues = false;
    layout.videoPayload = 2000;
    LoadedFile file(BuildFile(layout), false);

    file.host.bytesDelivered = 0;
    ExpectVideoLanding(file, layout, 8500, 20);
    int64_t first = file.host.bytesDelivered;
    // The key frames of the clusters listed by the first seek are known: the
    // second lists only the clusters around its own request.
    file.host.bytesDelivered = 0;
    ExpectVideoLanding(file, layout, 9500, 20);
    EXPECT_LT(file.host.bytesDelivered * 3, first);
}

TEST(Seeking, OnlyVideoAndAudioTracksSeek)
{
    Bytes tracks = mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 64, 64), mkv::SubtitleTrack(3)});
    LoadedFile file(mkv::File({mkv::Info(), tracks, mkv::Cluster(0, {SimpleBlock(1, 0, kKey, Bytes(4, 0))})}));
    int64_t result = 0;
    EXPECT_EQ(file.Seek(1, 12345, result), ZOLVDMX_E_FAIL);
    EXPECT_EQ(result, 12345);
}

TEST(Seeking, ReachesClustersBeyondThoseIndexedAtLoadAndThenReadsOnlyNearTheRequest)
{
    Layout layout;
    layout.seconds = 100;
    layout.videoPayload = 4000; // clusters of about 100 KB, more than a read-ahead window
    for (bool cues : {true, false}) {
        layout.cues = cues;
        LoadedFile file(BuildFile(layout), false);
        // The first seek indexes the clusters it passes: a read each.
        ExpectVideoLanding(file, layout, 99000, 98020);
        EXPECT_GE(file.host.calls.read, 99) << (cues ? "cues" : "scan");
        // Later seeks read only the clusters around the request.
        file.host.calls = {};
        ExpectVideoLanding(file, layout, 81500, 80020);
        EXPECT_LE(file.host.calls.read + file.host.calls.seek, 12) << (cues ? "cues" : "scan");
    }
}

TEST(Seeking, ADamagedClusterLosesOnlyItsOwnFrames)
{
    Layout layout;
    Bytes bytes = BuildFile(layout);
    // Overwrite the ID and size of the cluster that starts at 5 s.
    Bytes clusterId = {0x1F, 0x43, 0xB6, 0x75};
    auto at = bytes.begin();
    for (int found = 0; found < 6; ++found) {
        at = std::search(at + (found > 0 ? 1 : 0), bytes.end(), clusterId.begin(), clusterId.end());
        ASSERT_NE(at, bytes.end());
    }
    std::fill(at, at + 6, 0xFF);

    LoadedFile file(bytes);
    std::vector<Sample> video = file.All(0);
    // 300 frames, less the 25 of the damaged second.
    ASSERT_EQ(video.size(), 275u);
    EXPECT_EQ(video[124].start, 4980 * kMs);
    EXPECT_EQ(video[125].start, 6020 * kMs);
    // The Cues still lead to the clusters after the damage.
    ExpectVideoLanding(file, layout, 8500, 8020);
    ExpectVideoLanding(file, layout, 5500, 4020);
}
