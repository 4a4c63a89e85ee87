// Matroska shorthands for tests.
#include "MatroskaBuilder.h"

namespace mkv {

using namespace ebml;

Bytes Info(uint64_t timecodeScale, double duration)
{
    return Master(kInfo,
                  {UInt(kTimecodeScale, timecodeScale), duration > 0.0 ? Float64(kDuration, duration) : Bytes{}});
}

Bytes TrackEntry(uint64_t number, uint64_t type, const std::string& codecId, const std::vector<Bytes>& more)
{
    return Master(kTrackEntry, {UInt(kTrackNumber, number), UInt(kTrackType, type), Str(kCodecId, codecId), Cat(more)});
}

Bytes VideoTrack(uint64_t number, const std::string& codecId, uint32_t width, uint32_t height,
                 const Bytes& codecPrivate)
{
    return TrackEntry(number, 1, codecId, {Master(kVideo, {UInt(kPixelWidth, width), UInt(kPixelHeight, height)}),
                                           codecPrivate.empty() ? Bytes{} : Bin(kCodecPrivate, codecPrivate)});
}

Bytes AudioTrack(uint64_t number, const std::string& codecId, double frequency, uint32_t channels,
                 const Bytes& codecPrivate)
{
    return TrackEntry(number, 2, codecId,
                      {Master(kAudio, {Float64(kSamplingFrequency, frequency), UInt(kChannels, channels)}),
                       codecPrivate.empty() ? Bytes{} : Bin(kCodecPrivate, codecPrivate)});
}

Bytes SubtitleTrack(uint64_t number, const std::string& codecId)
{
    return TrackEntry(number, 17, codecId, {});
}

Bytes Tracks(std::initializer_list<Bytes> entries)
{
    return Master(kTracks, std::vector<Bytes>(entries));
}

Bytes Cluster(uint64_t timecode, const std::vector<Bytes>& blocks)
{
    return Master(kCluster, {UInt(kTimecode, timecode), Cat(blocks)});
}

Bytes Cues(const std::vector<CueEntry>& entries)
{
    std::vector<Bytes> points;
    for (const CueEntry& entry : entries) {
        Bytes positions = Master(kCueTrackPositions, {UInt(kCueTrack, entry.track),
                                                      UInt(kCueClusterPosition, entry.clusterPosition)});
        points.push_back(Master(kCuePoint, {UInt(kCueTime, entry.time), positions}));
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

} // namespace mkv
