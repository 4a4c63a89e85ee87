// KelmMKVDemux: the demuxer behind every handle. It turns the element tree
// into a track table, media format records, samples and seeks.
#ifndef MKV_DEMUX_KELMMKVDEMUX_H
#define MKV_DEMUX_KELMMKVDEMUX_H

#include <cstdint>
#include <vector>

#include "zolvdmx.h"

class EBMLTrackEntry;

// One admitted track entry.
struct _tagMKVTrackIndexMeta {
    uint32_t segmentIndex = 0;
    uint32_t trackIndex = 0;
    uint32_t entryIndex = 0;
    EBMLTrackEntry* trackEntry = nullptr; // owned by the element tree
    ZOLVDMX_MEDIA_FORMAT_T format{};      // owns header, codecPrivate, config, videoExtra
};

class KelmMKVDemux {
public:
    KelmMKVDemux();
    ~KelmMKVDemux();
    KelmMKVDemux(const KelmMKVDemux&) = delete;
    KelmMKVDemux& operator=(const KelmMKVDemux&) = delete;

    uint32_t Load(unsigned char* source, _ZOLVDMX_READER_CALLBACK_T* reader);
    int32_t GetNumTracks() const;
    int32_t GetTrackType(int32_t track) const;
    uint32_t GetMediaFormat(int32_t track, ZOLVDMX_MEDIA_FORMAT_T* format) const;
    // Matroska TrackType of a track (0 when the entry has none).
    uint64_t GetMatroskaTrackType(int32_t track) const;
    uint32_t GetNextMediaSample(int32_t track, unsigned char* dest, int32_t capacity, int32_t& size,
                                int64_t& start, int64_t& duration, bool& key);
    uint32_t DemuxSeek(int32_t track, int64_t& time);

    std::vector<_tagMKVTrackIndexMeta> tracks;
};

#endif
