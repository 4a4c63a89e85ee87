// Matroska-level shorthands over the EBML writer, for tests that need whole
// files: tracks, info, clusters and cues read like the file they describe.
#ifndef MKV_TESTS_SUPPORT_MATROSKABUILDER_H
#define MKV_TESTS_SUPPORT_MATROSKABUILDER_H

#include <string>
#include <vector>

#include "EbmlWriter.h"

namespace mkv {

// Element IDs as written in files.
enum : uint32_t {
    kSegment = 0x18538067, kSeekHead = 0x114D9B74, kSeek = 0x4DBB, kSeekId = 0x53AB, kSeekPosition = 0x53AC,
    kInfo = 0x1549A966, kTimecodeScale = 0x2AD7B1, kDuration = 0x4489,
    kTracks = 0x1654AE6B, kTrackEntry = 0xAE, kTrackNumber = 0xD7, kTrackType = 0x83, kDefaultDuration = 0x23E383,
    kCodecId = 0x86, kCodecPrivate = 0x63A2, kVideo = 0xE0, kPixelWidth = 0xB0, kPixelHeight = 0xBA,
    kAudio = 0xE1, kSamplingFrequency = 0xB5, kChannels = 0x9F,
    kCluster = 0x1F43B675, kTimecode = 0xE7, kBlockGroup = 0xA0, kBlock = 0xA1, kSimpleBlock = 0xA3,
    kReferenceBlock = 0xFB, kBlockDuration = 0x9B,
    kCues = 0x1C53BB6B, kCuePoint = 0xBB, kCueTime = 0xB3, kCueTrackPositions = 0xB7, kCueTrack = 0xF7,
    kCueClusterPosition = 0xF1, kVoid = 0xEC, kTags = 0x1254C367,
};

Bytes Info(uint64_t timecodeScale = 1000000, double duration = 0.0);
Bytes VideoTrack(uint64_t number, const std::string& codecId, uint32_t width = 320, uint32_t height = 240,
                 const Bytes& codecPrivate = {});
Bytes AudioTrack(uint64_t number, const std::string& codecId, double frequency = 48000.0, uint32_t channels = 2,
                 const Bytes& codecPrivate = {});
Bytes SubtitleTrack(uint64_t number, const std::string& codecId = "S_TEXT/UTF8");
// A TrackEntry of any type with further children (settings, DefaultDuration, ...).
Bytes TrackEntry(uint64_t number, uint64_t type, const std::string& codecId, const std::vector<Bytes>& more);
Bytes Tracks(std::initializer_list<Bytes> entries);
Bytes Cluster(uint64_t timecode, const std::vector<Bytes>& blocks);
// One cue point per (time, track, cluster offset relative to the Segment data).
struct CueEntry {
    uint64_t time, track, clusterPosition;
};
Bytes Cues(const std::vector<CueEntry>& entries);
// A SeekHead with one Seek entry; the position is relative to the Segment data.
Bytes SeekHeadFor(uint32_t id, uint64_t position, int positionLength = 4);
// EBML header + Segment (known size) holding the children.
Bytes File(const std::vector<Bytes>& segmentChildren, const std::string& docType = "matroska");

} // namespace mkv

#endif
