// Decodes a track's format record. Header fields are read byte by byte as
// little-endian, their layout being an interface, not a host struct.
#include "TrackInfo.h"

#include <cstdio>

#include "Demuxer.h"

namespace {

uint16_t ReadLe16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t ReadLe32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

VideoHeader DecodeVideo(const ZOLVDMX_MEDIA_FORMAT_T& format)
{
    // BITMAPINFOHEADER: biSize, biWidth, biHeight, biPlanes, biBitCount,
    // biCompression, ...
    const auto* header = static_cast<const unsigned char*>(format.header);
    VideoHeader video;
    video.width = static_cast<int32_t>(ReadLe32(header + 4));
    video.height = static_cast<int32_t>(ReadLe32(header + 8));
    video.bitCount = ReadLe16(header + 14);
    video.compression = ReadLe32(header + 16);
    if (format.videoExtra != nullptr) {
        const auto* extra = static_cast<const unsigned char*>(format.videoExtra);
        video.displayWidth = ReadLe32(extra);
        video.displayHeight = ReadLe32(extra + 4);
    }
    return video;
}

AudioHeader DecodeAudio(const ZOLVDMX_MEDIA_FORMAT_T& format)
{
    // WAVEFORMATEX: wFormatTag, nChannels, nSamplesPerSec, nAvgBytesPerSec,
    // nBlockAlign, wBitsPerSample, cbSize.
    const auto* header = static_cast<const unsigned char*>(format.header);
    AudioHeader audio;
    audio.formatTag = ReadLe16(header);
    audio.channels = ReadLe16(header + 2);
    audio.samplesPerSec = ReadLe32(header + 4);
    audio.avgBytesPerSec = ReadLe32(header + 8);
    audio.blockAlign = ReadLe16(header + 12);
    audio.bitsPerSample = ReadLe16(header + 14);
    audio.extraSize = ReadLe16(header + 16);
    return audio;
}

bool IsPrintable(uint32_t fourCc)
{
    for (int i = 0; i < 4; ++i) {
        unsigned char c = static_cast<unsigned char>(fourCc >> (8 * i));
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

// The four characters in memory order (the first in the low byte).
std::string FourCcText(uint32_t fourCc)
{
    if (!IsPrintable(fourCc)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(fourCc));
        return hex;
    }
    std::string text;
    for (int i = 0; i < 4; ++i) {
        text += static_cast<char>(fourCc >> (8 * i));
    }
    return text;
}

struct VideoCodec {
    const char* name;
    StreamForm form;
};

// By four-character code, whichever its case.
VideoCodec FindVideoCodec(const std::string& fourCc)
{
    struct Row {
        const char* fourCc;
        VideoCodec codec;
    };
    constexpr StreamForm kFrames = StreamForm::Frames;
    constexpr StreamForm kContainer = StreamForm::NeedsContainer;
    constexpr StreamForm kConfigFirst = StreamForm::ConfigFirst;
    static const Row kRows[] = {
        {"AVC1", {"H.264", StreamForm::AnnexB}},
        {"HEVC", {"HEVC", StreamForm::AnnexB}}, // Annex B in Video for Windows too
        {"H264", {"H.264", kFrames}}, // Video for Windows H.264 is stored as Annex B
        {"X264", {"H.264", kFrames}},
        {"MP4V", {"MPEG-4 Visual", kConfigFirst}},
        {"DIV4", {"MPEG-4 Visual", kConfigFirst}},
        {"XVID", {"MPEG-4 Visual", kConfigFirst}},
        {"DIVX", {"MPEG-4 Visual", kConfigFirst}},
        {"DX50", {"MPEG-4 Visual", kConfigFirst}},
        {"FMP4", {"MPEG-4 Visual", kConfigFirst}},
        {"DIV3", {"MS MPEG-4 v3", kContainer}},
        {"MP42", {"MS MPEG-4 v2", kContainer}},
        {"MP43", {"MS MPEG-4 v3", kContainer}},
        {"RV10", {"RealVideo 1", kContainer}},
        {"RV20", {"RealVideo 2", kContainer}},
        {"RV30", {"RealVideo 3", kContainer}},
        {"RV40", {"RealVideo 4", kContainer}},
        {"MP2V", {"MPEG-2 Video", kFrames}},
        {"MPG2", {"MPEG-2 Video", kFrames}},
        {"MPG1", {"MPEG-1 Video", kFrames}},
        {"THEO", {"Theora", kContainer}},
        {"SNOW", {"Snow", kContainer}},
        {"MJPG", {"Motion JPEG", kFrames}},
        {"WMV1", {"Windows Media Video 7", kContainer}},
        {"WMV2", {"Windows Media Video 8", kContainer}},
        {"WMV3", {"Windows Media Video 9", kContainer}},
        {"VP80", {"VP8", StreamForm::Ivf}},
        {"VP90", {"VP9", StreamForm::Ivf}},
        {"AV01", {"AV1", StreamForm::Ivf}},
    };
    std::string upper = fourCc;
    for (char& c : upper) {
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    for (const Row& row : kRows) {
        if (upper == row.fourCc) {
            return row.codec;
        }
    }
    return {"unknown", kContainer};
}

std::string AudioCodecName(uint32_t tag)
{
    switch (tag) {
    case 0x0001: return "PCM";
    case 0x0003: return "PCM float";
    case 0x0050: return "MPEG audio layer 1/2";
    case 0x0055: return "MP3";
    case 0x00FF: return "AAC";
    case 0x0161: return "Windows Media Audio";
    case 0x0162: return "Windows Media Audio Pro";
    // E-AC-3 shares the AC-3 tag, and the format record tells them apart
    // nowhere.
    case 0x2000: return "AC-3/E-AC-3";
    case 0x2001: return "DTS";
    case 0x2002: return "RealAudio 14.4";
    case 0x2003: return "RealAudio 28.8";
    case 0x2004: return "RealAudio Cook";
    case 0x2005: return "RealAudio Sipro";
    case 0x2006: return "RealAudio Lossless";
    case 0x2007: return "RealAudio ATRAC3";
    case 0x674F: return "Vorbis";
    case 0x704F: return "Opus";
    case 0xF1AC: return "FLAC";
    default: return "unknown";
    }
}

StreamForm AudioForm(uint32_t tag)
{
    switch (tag) {
    case 0x00FF: return StreamForm::AacAdts;
    case 0x0001:
    case 0x0003: return StreamForm::Wav;
    case 0xF1AC: return StreamForm::Flac;
    case 0x704F: return StreamForm::OggOpus;
    case 0x674F: return StreamForm::OggVorbis;
    case 0x0050: // MPEG audio frames carry their own headers
    case 0x0055:
    case 0x2000: // so do AC-3, E-AC-3 and DTS frames
    case 0x2001: return StreamForm::Frames;
    default: return StreamForm::NeedsContainer;
    }
}

} // namespace

const char* TrackTypeName(int32_t trackType)
{
    switch (trackType) {
    case ZOLVDMX_TRACK_VIDEO: return "video";
    case ZOLVDMX_TRACK_AUDIO: return "audio";
    case ZOLVDMX_TRACK_SUBTITLE: return "subtitle";
    default: return "other";
    }
}

std::string TrackInfo::CodecLabel() const
{
    if (code == "-") {
        return codecName.empty() ? code : codecName;
    }
    return code + " (" + codecName + ")";
}

TrackInfo DescribeTrack(const Demuxer& demuxer, int32_t track)
{
    TrackInfo info;
    info.index = track;
    info.trackType = demuxer.TrackType(track);
    info.format = demuxer.Format(track);
    info.code = "-";
    const ZOLVDMX_MEDIA_FORMAT_T& format = info.format;
    if (format.header == nullptr) {
        return info; // subtitles and tracks no format builder handles
    }
    if (format.mediaType == ZOLVDMX_MEDIA_VIDEO) {
        info.hasVideoHeader = true;
        info.video = DecodeVideo(format);
        // Tracks whose header comes from the file (Video for Windows,
        // MPEG-1) name their codec only in biCompression.
        uint32_t fourCc = format.codec != 0 ? format.codec : info.video.compression;
        VideoCodec codec = {"unknown", StreamForm::NeedsContainer};
        if (fourCc != 0) {
            info.code = FourCcText(fourCc);
            // The library names MPEG-4 Simple Profile DIV4; in a Video for
            // Windows header DIV4 is the Microsoft MPEG-4 v3 variant.
            bool vfwDiv4 = format.codec == 0 && (info.code == "DIV4" || info.code == "div4");
            codec = FindVideoCodec(vfwDiv4 ? "DIV3" : info.code);
        }
        info.codecName = codec.name;
        info.form = codec.form;
    } else if (format.mediaType == ZOLVDMX_MEDIA_AUDIO) {
        info.hasAudioHeader = true;
        info.audio = DecodeAudio(format);
        // PCM and Windows ACM tracks name their codec only in wFormatTag.
        uint32_t tag = format.codec != 0 ? format.codec : info.audio.formatTag;
        char text[16];
        std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(tag));
        info.code = text;
        info.codecName = AudioCodecName(tag);
        info.form = AudioForm(tag);
    }
    return info;
}
