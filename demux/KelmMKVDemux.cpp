// Demuxer construction, loading (parse, prime the cursors, build the track
// table) and the track table queries.
#include "KelmMKVDemux.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "matroska/EBMLTrack.h"

namespace {

// Gives a cursor its own reader; its position is the Segment's first block.
void PrimeCursor(_tagMKVReadCursor& cursor, EBMLSegment* segment, HostSource& source)
{
    cursor.segment = segment;
    cursor.parser = source.NewStream();
}

} // namespace

KelmMKVDemux::KelmMKVDemux()
    : audioCursor(std::make_unique<_tagMKVReadCursor>()),
      videoCursor(std::make_unique<_tagMKVReadCursor>()),
      seekCache(std::make_unique<_tagMKVSeekCache>())
{
}

KelmMKVDemux::~KelmMKVDemux()
{
    audioCursor.reset();
    videoCursor.reset();
    seekCache.reset();
}

OwnedMediaFormat::OwnedMediaFormat() : ZOLVDMX_MEDIA_FORMAT_T{} {}

OwnedMediaFormat::~OwnedMediaFormat()
{
    Release();
}

OwnedMediaFormat::OwnedMediaFormat(OwnedMediaFormat&& other) noexcept : ZOLVDMX_MEDIA_FORMAT_T(other)
{
    static_cast<ZOLVDMX_MEDIA_FORMAT_T&>(other) = ZOLVDMX_MEDIA_FORMAT_T{};
}

OwnedMediaFormat& OwnedMediaFormat::operator=(OwnedMediaFormat&& other) noexcept
{
    if (this != &other) {
        Release();
        static_cast<ZOLVDMX_MEDIA_FORMAT_T&>(*this) = other;
        static_cast<ZOLVDMX_MEDIA_FORMAT_T&>(other) = ZOLVDMX_MEDIA_FORMAT_T{};
    }
    return *this;
}

void OwnedMediaFormat::Release()
{
    std::free(header);
    std::free(codecPrivate);
    std::free(config);
    std::free(videoExtra);
    header = nullptr;
    codecPrivate = nullptr;
    config = nullptr;
    videoExtra = nullptr;
}

bool KelmMKVDemux::TakeConfigSample(int32_t track)
{
    _tagMKVTrackIndexMeta& record = tracks[static_cast<size_t>(track)];
    const ZOLVDMX_MEDIA_FORMAT_T& format = record.format;
    if (record.configSent || !record.lengthPrefixedNalUnits || format.configSize <= 0 || format.config == nullptr) {
        return false;
    }
    record.configSent = true;
    return true;
}

bool KelmMKVDemux::IsSyncPoint(int32_t track, int64_t start, bool keyFrame) const
{
    return GetMatroskaTrackType(track) == kTrackTypeAudio || start == 0 || keyFrame;
}

int32_t tim_subtract(struct timeval* result, const struct timeval* start, const struct timeval* end)
{
    if (start->tv_sec > end->tv_sec || (start->tv_sec == end->tv_sec && start->tv_usec > end->tv_usec)) {
        return -1;
    }
    result->tv_sec = end->tv_sec - start->tv_sec;
    result->tv_usec = end->tv_usec - start->tv_usec;
    if (result->tv_usec < 0) {
        result->tv_sec -= 1;
        result->tv_usec += 1000000;
    }
    return 0;
}

uint32_t KelmMKVDemux::Load(unsigned char* source, _ZOLVDMX_READER_CALLBACK_T* reader)
{
    if (loaded) {
        return ZOLVDMX_E_FAIL;
    }
    loaded = true;
    struct timeval started {};
    gettimeofday(&started, nullptr);

    matroska.Parse(source, reader);
    if (matroska.segments.empty()) {
        return ZOLVDMX_E_FAIL;
    }
    EBMLSegment* first = matroska.segments.front().get();
    PrimeCursor(*audioCursor, first, *matroska.source);
    PrimeCursor(*videoCursor, first, *matroska.source);

    tracks.clear();
    for (size_t s = 0; s < matroska.segments.size(); ++s) {
        EBMLSegment& segment = *matroska.segments[s];
        for (size_t t = 0; t < segment.trackLists.size(); ++t) {
            EBMLTrack& trackList = *segment.trackLists[t];
            for (size_t e = 0; e < trackList.entries.size(); ++e) {
                EBMLTrackEntry* entry = trackList.entries[e].get();
                const uint8_t* prefix = nullptr;
                int32_t prefixLength = 0;
                if (!entry->Expand(2) ||
                    entry->FrameStorage(prefix, prefixLength) == EBMLTrackEntry::Storage::Unreadable) {
                    // Its CodecPrivate or its frames are encrypted or
                    // compressed in a way not undone here: whatever it
                    // delivered would be corrupted.
                    continue;
                }
                _tagMKVTrackIndexMeta record;
                record.framePrefix = prefix;
                record.framePrefixLength = prefixLength;
                record.segmentIndex = static_cast<uint32_t>(s);
                record.trackIndex = static_cast<uint32_t>(t);
                record.entryIndex = static_cast<uint32_t>(e);
                record.trackEntry = entry;
                tracks.push_back(std::move(record));
                // Described in place, so the record's buffers are owned by the
                // table from the first allocation on.
                nalLengthSizeMinusOne = -1;
                lengthPrefixedNalUnits = false;
                ZOLVDMX_MEDIA_FORMAT_T& format = tracks.back().format;
                SetMediaFormat(entry, &format);
                tracks.back().nalLengthSizeMinusOne = nalLengthSizeMinusOne;
                tracks.back().lengthPrefixedNalUnits = lengthPrefixedNalUnits;
                if (format.maxSampleSize > 0 && prefixLength > 0) {
                    // The buffer must hold the frame with its header put back
                    // (held, like every bound, within the signed 32-bit range).
                    format.maxSampleSize = static_cast<uint32_t>(std::min<uint64_t>(
                        uint64_t{format.maxSampleSize} + static_cast<uint32_t>(prefixLength), INT32_MAX));
                }
            }
        }
    }

    IndexCues(*first);

    struct timeval finished {};
    struct timeval elapsed {};
    gettimeofday(&finished, nullptr);
    if (tim_subtract(&elapsed, &started, &finished) != 0) {
        elapsed.tv_sec = 0;
        elapsed.tv_usec = 0;
    }
    std::printf("MKV loding time: %d second, %ld micro_second\n", static_cast<int>(elapsed.tv_sec),
                static_cast<long>(elapsed.tv_usec));
    return ZOLVDMX_OK;
}

int32_t KelmMKVDemux::GetNumTracks() const
{
    return static_cast<int32_t>(tracks.size());
}

uint64_t KelmMKVDemux::GetMatroskaTrackType(int32_t track) const
{
    const EBMLTrackEntry* entry = tracks[static_cast<size_t>(track)].trackEntry;
    return entry != nullptr ? entry->trackType.value : 0;
}

int32_t KelmMKVDemux::GetTrackType(int32_t track) const
{
    switch (GetMatroskaTrackType(track)) {
    case kTrackTypeVideo:
        return ZOLVDMX_TRACK_VIDEO;
    case kTrackTypeAudio:
        return ZOLVDMX_TRACK_AUDIO;
    case kTrackTypeSubtitle:
        return ZOLVDMX_TRACK_SUBTITLE;
    default:
        return ZOLVDMX_TRACK_OTHER;
    }
}

uint32_t KelmMKVDemux::GetMediaFormat(int32_t track, ZOLVDMX_MEDIA_FORMAT_T* format) const
{
    const ZOLVDMX_MEDIA_FORMAT_T& record = tracks[static_cast<size_t>(track)].format;
    std::memcpy(format, &record, sizeof *format);
    return ZOLVDMX_OK;
}

double KelmMKVDemux::GetFileDuration() const
{
    if (matroska.segments.empty() || matroska.segments.front()->infoList.empty()) {
        return 0.0;
    }
    const EBMLInfo& info = *matroska.segments.front()->infoList.front();
    return info.duration * static_cast<double>(info.timecodeScale.value) / 100.0;
}

_tagMKVReadCursor* KelmMKVDemux::CursorFor(uint64_t trackType)
{
    if (trackType == kTrackTypeAudio) {
        return audioCursor.get();
    }
    if (trackType == kTrackTypeVideo) {
        return videoCursor.get();
    }
    return nullptr;
}
