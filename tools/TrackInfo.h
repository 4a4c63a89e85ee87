// A track as the library describes it: its type, the format record and the
// BITMAPINFOHEADER or WAVEFORMATEX behind it, decoded field by field, with
// the codec code and a name a person recognises.
#ifndef MKV_TOOLS_TRACKINFO_H
#define MKV_TOOLS_TRACKINFO_H

#include <cstdint>
#include <string>

#include "zolvdmx.h"

class Demuxer;

struct VideoHeader {
    int32_t width = 0, height = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t displayWidth = 0, displayHeight = 0;
};

struct AudioHeader {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0; // cbSize
};

// How `extract` writes a track.
enum class StreamForm {
    AnnexB,         // H.264 and HEVC: parameter sets, then start-code frames
    AacAdts,        // each frame behind an ADTS header
    ConfigFirst,    // MPEG-4 Visual: the decoder configuration (VOL header), then the frames
    Frames,         // frames back to back are the stream: MPEG-1/2 video, Motion JPEG,
                    // H.264 and HEVC from Video for Windows, MPEG audio, AC-3, E-AC-3, DTS
    Ivf,            // VP8, VP9, AV1: each frame behind a size and a time
    Flac,           // the native FLAC stream: its header from the codec private data, then the frames
    Wav,            // PCM: a RIFF/WAVE file around the samples
    OggOpus,        // an Ogg stream with the Opus header packets, then a page per frame
    OggVorbis,      // an Ogg stream with the three Vorbis header packets, then a page per frame
    NeedsContainer, // anything else: frames back to back, which players open only in a container
};

struct TrackInfo {
    int32_t index = 0;
    int32_t trackType = ZOLVDMX_TRACK_OTHER;
    ZOLVDMX_MEDIA_FORMAT_T format{};
    bool hasVideoHeader = false;
    VideoHeader video;
    bool hasAudioHeader = false;
    AudioHeader audio;
    // "AVC1" for a four-character code, "0x00FF" for a format tag, "-" when
    // the track carries neither.
    std::string code;
    // "H.264", "AAC", ... ("unknown" when the code is not one we know).
    std::string codecName;
    StreamForm form = StreamForm::NeedsContainer;

    bool IsAudioOrVideo() const
    {
        return trackType == ZOLVDMX_TRACK_VIDEO || trackType == ZOLVDMX_TRACK_AUDIO;
    }
    // "AVC1 (H.264)"; "unknown" for a video track without a code; "-" for
    // a track without a format header.
    std::string CodecLabel() const;
};

TrackInfo DescribeTrack(const Demuxer& demuxer, int32_t track);

// "video", "audio", "subtitle" or "other".
const char* TrackTypeName(int32_t trackType);

#endif
