// Long synthetic films: element headers stored, frame bytes generated.
#include "LongFile.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "EbmlWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace ebml;

constexpr int kFramesPerGop = 50;
constexpr int kFrameMs = 40;
constexpr int kAudioPerBlock = 8;
constexpr int kAudioFrameSize = 400;
constexpr int kSampleRate = 48000;
constexpr int kSamplesPerAudioFrame = 1024;

struct Block {
    int64_t orderMs;   // interleaving key: decode time for video, start for audio
    int64_t timeMs;    // presentation time
    bool video;
    bool key;
    int64_t frameBytes; // payload after the block header
};

Bytes Header(uint32_t id, uint64_t size, int sizeLength)
{
    return Cat({Id(id), ebml::Size(size, sizeLength)});
}

// A fixed 8-byte unsigned integer element, so a cue point's size does not
// depend on the positions it holds.
Bytes UInt8(uint32_t id, uint64_t value)
{
    return UInt(id, value, 8);
}

} // namespace

std::shared_ptr<SparseFile> MakeLongFile(const LongFileLayout& layout)
{
    // Blocks in file order.
    std::vector<Block> blocks;
    const int frames = layout.seconds * 1000 / kFrameMs;
    for (int i = 0; i < frames; ++i) {
        int inGop = i % kFramesPerGop;
        int gopStart = i - inGop;
        int pts = inGop;
        if (inGop > 0) {
            // I0 P3 B1 B2 P6 B4 B5 ...; the GOP's last frames end on a P.
            int group = (inGop - 1) / 3;
            int step = (inGop - 1) % 3;
            int p = std::min(group * 3 + 3, kFramesPerGop - 1);
            pts = step == 0 ? p : std::min(group * 3 + step, p - 1);
        }
        bool key = inGop == 0;
        int64_t size = key ? 120000 : (pts % 3 == 0 || pts == kFramesPerGop - 1) ? 30000 : 15000;
        blocks.push_back({static_cast<int64_t>(i) * kFrameMs, static_cast<int64_t>(gopStart + pts) * kFrameMs, true,
                          key, size});
    }
    const int64_t audioFrames = static_cast<int64_t>(layout.seconds) * kSampleRate / kSamplesPerAudioFrame;
    for (int64_t a = 0; a < audioFrames; a += kAudioPerBlock) {
        int64_t ms = a * kSamplesPerAudioFrame * 1000 / kSampleRate;
        int64_t count = std::min<int64_t>(kAudioPerBlock, audioFrames - a);
        blocks.push_back({ms, ms, false, true, count * kAudioFrameSize + 1});
    }
    std::stable_sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) {
        return a.orderMs != b.orderMs ? a.orderMs < b.orderMs : a.video > b.video;
    });

    // Clusters: one per GOP, opening on its key frame.
    struct ClusterPlan {
        int64_t timeMs;
        size_t first, count;
        uint64_t size; // payload
    };
    std::vector<ClusterPlan> clusters;
    for (size_t k = 0; k < blocks.size(); ++k) {
        if (clusters.empty() || (blocks[k].video && blocks[k].key)) {
            clusters.push_back({blocks[k].timeMs, k, 0, 0});
        }
        clusters.back().count += 1;
    }
    for (ClusterPlan& c : clusters) {
        c.size = UInt(0xE7, static_cast<uint64_t>(c.timeMs)).size();
        for (size_t k = c.first; k < c.first + c.count; ++k) {
            c.size += 1 + 4 + 4 + static_cast<uint64_t>(blocks[k].frameBytes);
        }
    }

    // Cue points: (time, cluster index, offset of the block in the cluster's data).
    struct CuePlan {
        int64_t timeMs;
        size_t cluster;
        uint64_t relative;
    };
    std::vector<CuePlan> cuePlan;
    int keyIndex = 0;
    for (size_t c = 0; c < clusters.size(); ++c) {
        uint64_t relative = UInt(0xE7, static_cast<uint64_t>(clusters[c].timeMs)).size();
        for (size_t k = clusters[c].first; k < clusters[c].first + clusters[c].count; ++k) {
            if (blocks[k].video && blocks[k].key) {
                bool cued = layout.cues == LongFileLayout::Cues::EveryKeyFrame ||
                            (layout.cues == LongFileLayout::Cues::EveryFifthKeyFrame && keyIndex % 5 == 0);
                if (cued) {
                    cuePlan.push_back({blocks[k].timeMs, c, relative});
                }
                ++keyIndex;
            }
            relative += 1 + 4 + 4 + static_cast<uint64_t>(blocks[k].frameBytes);
        }
    }
    // CueTrack (3 bytes), CueClusterPosition and CueRelativePosition (10 each);
    // a cue point holds CueTime (10) and CueTrackPositions (2-byte header).
    const uint64_t cueTrackSize = 3 + 10 + (layout.relativePositions ? 10 : 0);
    const uint64_t cuePointSize = 10 + 2 + cueTrackSize;
    const uint64_t cuesPayload = layout.cues == LongFileLayout::Cues::None ? 0 : cuePlan.size() * (1 + 8 + cuePointSize);

    // Segment head: SeekHead (one Seek for the Cues, 8-byte position), Info, Tracks.
    Bytes video = Master(0xAE, {UInt(0xD7, 1), UInt(0x83, 1), Str(0x86, "V_MPEG4/ISO/ASP"), UInt(0x23E383, 40000000),
                                Master(0xE0, {UInt(0xB0, 1920), UInt(0xBA, 1080)})});
    Bytes audio = Master(0xAE, {UInt(0xD7, 2), UInt(0x83, 2), Str(0x86, "A_AAC"), Bin(0x63A2, {0x11, 0x90}),
                                UInt(0x23E383, 21333333),
                                Master(0xE1, {Float64(0xB5, kSampleRate), UInt(0x9F, 2)})});
    Bytes info = Master(0x1549A966, {UInt(0x2AD7B1, 1000000), Float64(0x4489, layout.seconds * 1000.0)});
    Bytes tracks = Master(0x1654AE6B, {video, audio});
    auto seekHead = [&](uint64_t cuesPosition) {
        Bytes seek = Master(0x4DBB, {Bin(0x53AB, {0x1C, 0x53, 0xBB, 0x6B}), UInt8(0x53AC, cuesPosition)});
        return Master(0x114D9B74, {seek});
    };
    const bool withCues = layout.cues != LongFileLayout::Cues::None;
    const uint64_t headSize = (withCues ? seekHead(0).size() : 0) + info.size() + tracks.size();
    const uint64_t cuesElement = withCues ? 4 + 8 + cuesPayload : 0; // 8-byte size
    const uint64_t firstCluster = headSize + (layout.cuesFirst ? cuesElement : 0);
    std::vector<uint64_t> clusterPositions; // relative to the Segment's data
    uint64_t at = firstCluster;
    for (const ClusterPlan& c : clusters) {
        clusterPositions.push_back(at);
        at += 4 + 8 + c.size;
    }
    const uint64_t cuesPosition = layout.cuesFirst ? headSize : at;
    const uint64_t segmentSize = at + (layout.cuesFirst ? 0 : cuesElement);

    auto file = std::make_shared<SparseFile>();
    auto writeCues = [&] {
        file->Put(Header(0x1C53BB6B, cuesPayload, 8));
        for (const CuePlan& cue : cuePlan) {
            Bytes positions = Cat({UInt(0xF7, 1), UInt8(0xF1, clusterPositions[cue.cluster]),
                                   layout.relativePositions ? UInt8(0xF0, cue.relative) : Bytes{}});
            file->Put(Header(0xBB, cuePointSize, 8));
            file->Put(UInt8(0xB3, static_cast<uint64_t>(cue.timeMs)));
            file->Put(Header(0xB7, positions.size(), 1));
            file->Put(positions);
        }
    };
    file->Put(EbmlHeader("matroska"));
    file->Put(Header(0x18538067, segmentSize, 8));
    if (withCues) {
        file->Put(seekHead(cuesPosition));
    }
    file->Put(info);
    file->Put(tracks);
    if (withCues && layout.cuesFirst) {
        writeCues();
    }
    for (const ClusterPlan& c : clusters) {
        file->Put(Header(0x1F43B675, c.size, 8));
        file->Put(UInt(0xE7, static_cast<uint64_t>(c.timeMs)));
        for (size_t k = c.first; k < c.first + c.count; ++k) {
            const Block& b = blocks[k];
            uint64_t payload = 4 + static_cast<uint64_t>(b.frameBytes);
            auto relative = static_cast<uint16_t>(b.timeMs - c.timeMs);
            // Audio: fixed-size lacing, the lace count byte leads the frames.
            uint8_t flags = static_cast<uint8_t>((b.key ? 0x80 : 0x00) | (b.video ? 0x00 : 0x04));
            file->Put(Cat({Header(0xA3, payload, 4),
                           Bytes{static_cast<uint8_t>(b.video ? 0x81 : 0x82), static_cast<uint8_t>(relative >> 8),
                                 static_cast<uint8_t>(relative & 0xFF), flags}}));
            if (!b.video) {
                file->Put({static_cast<uint8_t>((b.frameBytes - 1) / kAudioFrameSize - 1)});
                file->Fill(static_cast<uint64_t>(b.frameBytes - 1));
            } else {
                file->Fill(static_cast<uint64_t>(b.frameBytes));
            }
        }
    }
    if (withCues && !layout.cuesFirst) {
        writeCues();
    }
    return file;
}
