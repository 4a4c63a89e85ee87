// Matroska shorthands for tests.
#include "MatroskaBuilder.h"

namespace mkv {

using namespace ebml;

Bytes Info(uint64_t timecodeScale, double duration)
{
    std::vector<Bytes> children{UInt(kTimecodeScale, timecodeScale)};
    if (duration > 0.0) {
        children.push_back(Float64(kDuration, duration));
    }
    return Master(kInfo, children);
}

namespace {

// A TrackEntry with its settings element (Video or Audio) and, when given, CodecPrivate.
Bytes Entry(uint64_t number, uint64_t type, const std::string& codecId, const Bytes& settings,
            const Bytes& codecPrivate)
{
    std::vector<Bytes> children{UInt(kTrackNumber, number), UInt(kTrackType, type), Str(kCodecId, codecId), settings};
    if (!codecPrivate.empty()) {
        children.push_back(Bin(kCodecPrivate, codecPrivate));
    }
    return Master(kTrackEntry, children);
}

} // namespace

Bytes VideoTrack(uint64_t number, const std::string& codecId, uint32_t width, uint32_t height,
                 const Bytes& codecPrivate)
{
    return Entry(number, 1, codecId, Master(kVideo, {UInt(kPixelWidth, width), UInt(kPixelHeight, height)}),
                 codecPrivate);
}

Bytes AudioTrack(uint64_t number, const std::string& codecId, double frequency, uint32_t channels,
                 const Bytes& codecPrivate)
{
    return Entry(number, 2, codecId,
                 Master(kAudio, {Float64(kSamplingFrequency, frequency), UInt(kChannels, channels)}), codecPrivate);
}

Bytes SubtitleTrack(uint64_t number, const std::string& codecId)
{
    return Master(kTrackEntry, {UInt(kTrackNumber, number), UInt(kTrackType, 17), Str(kCodecId, codecId)});
}

Bytes TrackEntry(uint64_t number, uint64_t type, const std::string& codecId, const std::vector<Bytes>& more)
{
    std::vector<Bytes> children{UInt(kTrackNumber, number), UInt(kTrackType, type), Str(kCodecId, codecId)};
    children.insert(children.end(), more.begin(), more.end());
    return Master(kTrackEntry, children);
}

Bytes Tracks(std::initializer_list<Bytes> entries)
{
    return Master(kTracks, std::vector<Bytes>(entries));
}

Bytes Cluster(uint64_t timecode, const std::vector<Bytes>& blocks)
{
    std::vector<Bytes> children{UInt(kTimecode, timecode)};
    children.insert(children.end(), blocks.begin(), blocks.end());
    return Master(kCluster, children);
}

Bytes Cues(const std::vector<CueEntry>& entries)
{
    std::vector<Bytes> points;
    for (const CueEntry& entry : entries) {
        points.push_back(Master(kCuePoint, {UInt(kCueTime, entry.time),
                                            Master(kCueTrackPositions, {UInt(kCueTrack, entry.track),
                                                                        UInt(kCueClusterPosition, entry.clusterPosition)})}));
    }
    return Master(kCues, points);
}

Bytes SeekHeadFor(uint32_t id, uint64_t position, int positionLength)
{
    return Master(kSeekHead, {Master(kSeek, {Bin(kSeekId, Id(id)), UInt(kSeekPosition, position, positionLength)})});
}

Bytes File(const std::vector<Bytes>& segmentChildren, const std::string& docType)
{
    return Cat({EbmlHeader(docType), Element(kSegment, Cat(segmentChildren), 8)});
}

size_t SegmentDataOffset(const std::string& docType)
{
    return EbmlHeader(docType).size() + 4 + 8;
}

} // namespace mkv
