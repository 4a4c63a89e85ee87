// Demuxer construction and the track table queries.
#include "KelmMKVDemux.h"

#include <cstring>

#include "ebml/EBML.h"

KelmMKVDemux::KelmMKVDemux() = default;

KelmMKVDemux::~KelmMKVDemux() = default;

uint32_t KelmMKVDemux::Load(unsigned char*, _ZOLVDMX_READER_CALLBACK_T*)
{
    return kStatusFail;
}

int32_t KelmMKVDemux::GetNumTracks() const
{
    return static_cast<int32_t>(tracks.size());
}

uint64_t KelmMKVDemux::GetMatroskaTrackType(int32_t) const
{
    return 0;
}

int32_t KelmMKVDemux::GetTrackType(int32_t track) const
{
    switch (GetMatroskaTrackType(track)) {
    case 1:
        return ZOLVDMX_TRACK_VIDEO;
    case 2:
        return ZOLVDMX_TRACK_AUDIO;
    case 17:
        return ZOLVDMX_TRACK_SUBTITLE;
    default:
        return ZOLVDMX_TRACK_OTHER;
    }
}

uint32_t KelmMKVDemux::GetMediaFormat(int32_t track, ZOLVDMX_MEDIA_FORMAT_T* format) const
{
    std::memcpy(format, &tracks[static_cast<size_t>(track)].format, sizeof *format);
    return kStatusOk;
}

uint32_t KelmMKVDemux::GetNextMediaSample(int32_t, unsigned char*, int32_t, int32_t&, int64_t&, int64_t&,
                                          bool&)
{
    return kStatusEndOfTrack;
}

uint32_t KelmMKVDemux::DemuxSeek(int32_t, int64_t&)
{
    return kStatusNotImplemented;
}
