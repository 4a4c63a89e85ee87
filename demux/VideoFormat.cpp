// Track description: SetMediaFormat chooses by TrackType what to build, and
// the video builder (BITMAPINFOHEADER, codec code, CodecPrivate copies and
// the H.264 parameter sets in start-code form).
#include "KelmMKVDemux.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "PictureFormat.h"
#include "matroska/EBMLTrack.h"
#include "stream/Allocation.h"

namespace {

constexpr uint32_t kBitmapInfoHeaderSize = sizeof(ZOLVDMX_BITMAPINFOHEADER_T);
constexpr uint32_t kWaveFormatExSize = sizeof(ZOLVDMX_WAVEFORMATEX_T);
constexpr uint32_t kVideoExtraSize = sizeof(ZOLVDMX_VIDEO_EXTRA_T);

// A VIDEOINFOHEADER carries its BITMAPINFOHEADER after the source and target
// rectangles, bit rate, error rate and frame time.
constexpr int32_t kVideoInfoHeaderBitmapOffset = 48;

const uint8_t kStartCode[4] = {0x00, 0x00, 0x00, 0x01};

enum class CodeSource {
    Fixed,     // the row's four characters
    RealVideo, // R, V, the character at position 9 of the codec ID, 0
    NotSet,    // the codec is named inside the header taken from CodecPrivate
};

enum class ConfigSource { None, SecondCopy, ParameterSets, HevcParameterSets };

struct VideoCodecRow {
    const char* idText; // matches when it occurs anywhere in the codec ID
    CodeSource codeSource;
    char code[4];
    bool copyPrivate;
    ConfigSource config;
    int32_t headerOffset; // where CodecPrivate holds the BITMAPINFOHEADER; -1: keep the built one
};

// Tried in order; the first row whose text occurs in the codec ID decides.
// V_MPEG4/ISO/SP is deliberately DIV4, not MP4V. CodecPrivate (hvcC, av1C)
// goes on as stored.
const VideoCodecRow kVideoCodecs[] = {
    {"V_MPEGH/ISO/HEVC", CodeSource::Fixed, {'H', 'E', 'V', 'C'}, true, ConfigSource::HevcParameterSets, -1},
    {"V_VP8", CodeSource::Fixed, {'V', 'P', '8', '0'}, true, ConfigSource::None, -1},
    {"V_VP9", CodeSource::Fixed, {'V', 'P', '9', '0'}, true, ConfigSource::None, -1},
    {"V_AV1", CodeSource::Fixed, {'A', 'V', '0', '1'}, true, ConfigSource::None, -1},
    {"V_MPEG4/ISO/AVC", CodeSource::Fixed, {'A', 'V', 'C', '1'}, true, ConfigSource::ParameterSets, -1},
    {"V_MPEG4/ISO/ASP", CodeSource::Fixed, {'M', 'P', '4', 'V'}, true, ConfigSource::SecondCopy, -1},
    {"V_MPEG4/ISO/SP", CodeSource::Fixed, {'D', 'I', 'V', '4'}, true, ConfigSource::SecondCopy, -1},
    {"V_MPEG4/MS/V3", CodeSource::Fixed, {'D', 'I', 'V', '3'}, true, ConfigSource::SecondCopy, -1},
    {"V_REAL/RV", CodeSource::RealVideo, {'R', 'V', 0, 0}, true, ConfigSource::None, -1},
    {"V_MPEG2", CodeSource::Fixed, {'M', 'P', '2', 'V'}, false, ConfigSource::None, -1},
    {"V_THEORA", CodeSource::Fixed, {'T', 'H', 'E', 'O'}, false, ConfigSource::None, -1},
    {"V_SNOW", CodeSource::Fixed, {'S', 'N', 'O', 'W'}, false, ConfigSource::None, -1},
    {"V_DSHOW/MPEG1VIDEO", CodeSource::NotSet, {0, 0, 0, 0}, true, ConfigSource::None, kVideoInfoHeaderBitmapOffset},
    {"V_MPEG1", CodeSource::NotSet, {0, 0, 0, 0}, true, ConfigSource::None, kVideoInfoHeaderBitmapOffset},
    {"V_MS/VFW/FOURCC", CodeSource::NotSet, {0, 0, 0, 0}, false, ConfigSource::None, 0},
};

const VideoCodecRow* FindVideoCodec(const EBMLString& codecID)
{
    for (const VideoCodecRow& row : kVideoCodecs) {
        if (codecID.Find(row.idText) >= 0) {
            return &row;
        }
    }
    return nullptr;
}

// Frames per 1000 seconds: from FrameRate when the file gives one, else from
// DefaultDuration (nanoseconds per frame), else 0. Rates beyond the 32-bit
// range are held at its limit.
int32_t FramesPerThousandSeconds(const EBMLVideo* video, uint64_t defaultDuration)
{
    double frameRate = video != nullptr ? video->frameRate : 0.0;
    if (frameRate > 0.0) {
        double scaled = frameRate * 1000.0;
        return scaled < 2147483648.0 ? static_cast<int32_t>(scaled) : INT32_MAX;
    }
    if (defaultDuration != 0) {
        uint64_t rate = UINT64_C(1000000000000) / defaultDuration;
        return rate <= static_cast<uint64_t>(INT32_MAX) ? static_cast<int32_t>(rate) : INT32_MAX;
    }
    return 0;
}

// The file duration in 100-ns units, truncated toward zero; a duration the
// 64-bit field cannot hold (or not a number) is described as unknown.
int64_t DurationField(double duration)
{
    if (!(std::fabs(duration) < 9223372036854775808.0)) {
        return 0;
    }
    return static_cast<int64_t>(duration);
}

} // namespace

void KelmMKVDemux::StoreLE16(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void KelmMKVDemux::StoreLE32(uint8_t* at, uint32_t value)
{
    StoreLE16(at, value);
    StoreLE16(at + 2, value >> 16);
}

void KelmMKVDemux::CopyToRecord(const uint8_t* bytes, int32_t count, unsigned char*& buffer, int32_t& size)
{
    buffer = nullptr;
    size = 0;
    if (bytes == nullptr || count < 1) {
        return;
    }
    buffer = static_cast<unsigned char*>(AllocateBytes(static_cast<size_t>(count)));
    if (buffer != nullptr) {
        std::memcpy(buffer, bytes, static_cast<size_t>(count));
        size = count;
    }
}

uint32_t KelmMKVDemux::SetMediaFormat(EBMLTrackEntry* entry, ZOLVDMX_MEDIA_FORMAT_T* format)
{
    // The record arrives zeroed: whatever a branch does not write stays 0 or
    // null, so the demuxer can always free its buffers.
    switch (entry->trackType.value) {
    case kTrackTypeVideo: {
        format->mediaType = ZOLVDMX_MEDIA_VIDEO;
        format->header = AllocateZeroedBytes(1, kBitmapInfoHeaderSize);
        format->videoExtra = AllocateZeroedBytes(1, kVideoExtraSize);
        if (format->header == nullptr || format->videoExtra == nullptr) {
            return ZOLVDMX_E_FAIL;
        }
        GetVideoHeader(entry, format);
        const EBMLVideo* video = entry->video.get();
        format->maxSampleSize = MaxVideoSampleSize(video != nullptr ? video->pixelWidth : 0,
                                                   video != nullptr ? video->pixelHeight : 0, DescribePicture(*entry));
        format->duration = DurationField(GetFileDuration());
        return ZOLVDMX_OK;
    }
    case kTrackTypeAudio:
        format->mediaType = ZOLVDMX_MEDIA_AUDIO;
        format->header = AllocateZeroedBytes(1, kWaveFormatExSize);
        if (format->header == nullptr || !GetAudioHeader(entry, format)) {
            return ZOLVDMX_E_FAIL;
        }
        format->maxSampleSize = kAudioMaxSampleSize;
        format->duration = DurationField(GetFileDuration());
        return ZOLVDMX_OK;
    case kTrackTypeSubtitle:
        format->mediaType = ZOLVDMX_MEDIA_SUBTITLE;
        format->header = nullptr;
        format->codecPrivateSize = 0;
        format->codecPrivate = nullptr;
        format->maxSampleSize = kSubtitleMaxSampleSize;
        format->fixedOne1 = 1;
        format->fixedOne2 = 1;
        format->configSize = 0;
        format->config = nullptr;
        format->seekable = 1;
        format->videoExtra = nullptr;
        return ZOLVDMX_OK;
    default:
        return ZOLVDMX_E_FAIL;
    }
}

void KelmMKVDemux::StoreVideoHeaders(uint8_t* header, uint8_t* extra, const EBMLVideo* video)
{
    std::memset(header, 0, kBitmapInfoHeaderSize);
    StoreLE32(header + offsetof(ZOLVDMX_BITMAPINFOHEADER_T, biSize), kBitmapInfoHeaderSize);
    StoreLE32(header + offsetof(ZOLVDMX_BITMAPINFOHEADER_T, biWidth), video != nullptr ? video->pixelWidth : 0);
    StoreLE32(header + offsetof(ZOLVDMX_BITMAPINFOHEADER_T, biHeight), video != nullptr ? video->pixelHeight : 0);
    StoreLE16(header + offsetof(ZOLVDMX_BITMAPINFOHEADER_T, biPlanes), 1);
    StoreLE16(header + offsetof(ZOLVDMX_BITMAPINFOHEADER_T, biBitCount), 24);
    std::memset(extra, 0, kVideoExtraSize);
    StoreLE32(extra + offsetof(ZOLVDMX_VIDEO_EXTRA_T, displayWidth), video != nullptr ? video->displayWidth : 0);
    StoreLE32(extra + offsetof(ZOLVDMX_VIDEO_EXTRA_T, displayHeight), video != nullptr ? video->displayHeight : 0);
}

bool KelmMKVDemux::GetVideoHeader(EBMLTrackEntry* entry, ZOLVDMX_MEDIA_FORMAT_T* format)
{
    const EBMLVideo* video = entry->video.get();
    const EBMLBinary& codecPrivate = entry->codecPrivate;

    uint8_t* header = static_cast<uint8_t*>(format->header);
    StoreVideoHeaders(header, static_cast<uint8_t*>(format->videoExtra), video);

    format->codecPrivate = nullptr;
    format->codecPrivateSize = 0;
    format->bitRate = 0;
    format->frameRate = FramesPerThousandSeconds(video, entry->defaultDuration);
    format->seekable = matroska.seekAble ? 1 : 0;
    format->fixedOne1 = 1;
    format->fixedOne2 = 1;
    format->configSize = 0;
    format->config = nullptr;

    const VideoCodecRow* row = FindVideoCodec(entry->codecID);
    if (row == nullptr) {
        return true; // described with biCompression 0 and no private data
    }

    if (row->codeSource != CodeSource::NotSet) {
        uint8_t code[4] = {static_cast<uint8_t>(row->code[0]), static_cast<uint8_t>(row->code[1]),
                           static_cast<uint8_t>(row->code[2]), static_cast<uint8_t>(row->code[3])};
        if (row->codeSource == CodeSource::RealVideo) {
            code[2] = entry->codecID[9]; // 255 when the ID is shorter
            code[3] = 0;
        }
        std::memcpy(header + offsetof(ZOLVDMX_BITMAPINFOHEADER_T, biCompression), code, sizeof code);
        format->codec = static_cast<uint32_t>(code[0]) | static_cast<uint32_t>(code[1]) << 8 |
                        static_cast<uint32_t>(code[2]) << 16 | static_cast<uint32_t>(code[3]) << 24;
    }

    const uint8_t* privateData = codecPrivate.GetData();
    int32_t privateLength = codecPrivate.IsEmpty() ? 0 : codecPrivate.GetLength();

    // A header taken from CodecPrivate replaces the built one as far as
    // CodecPrivate reaches; a short one leaves the rest as built.
    if (row->headerOffset >= 0 && privateLength > row->headerOffset) {
        int32_t available = privateLength - row->headerOffset;
        size_t count = available < static_cast<int32_t>(kBitmapInfoHeaderSize) ? static_cast<size_t>(available)
                                                                                 : kBitmapInfoHeaderSize;
        std::memcpy(header, privateData + row->headerOffset, count);
    }

    // H.264 and HEVC (and only these) store their frames as length-prefixed
    // NAL units, delivered in start-code form.
    lengthPrefixedNalUnits =
        row->config == ConfigSource::ParameterSets || row->config == ConfigSource::HevcParameterSets;
    if (privateLength == 0) {
        return true;
    }
    if (row->copyPrivate) {
        CopyToRecord(privateData, privateLength, format->codecPrivate, format->codecPrivateSize);
    }
    if (row->config == ConfigSource::SecondCopy) {
        CopyToRecord(privateData, privateLength, format->config, format->configSize);
    } else if (row->config == ConfigSource::HevcParameterSets) {
        // A record the extraction rejects leaves the track without a
        // configuration, as for H.264.
        std::vector<uint8_t> parameterSets;
        if (GetHevcParameterSets(privateData, privateLength, parameterSets)) {
            CopyToRecord(parameterSets.data(), static_cast<int32_t>(parameterSets.size()), format->config,
                         format->configSize);
        }
    } else if (row->config == ConfigSource::ParameterSets) {
        // A record the extraction rejects leaves the track without a
        // configuration; its CodecPrivate copy is still handed out.
        uint8_t parameterSets[kH264ConfigArea];
        int32_t parameterSetsLength = 0;
        KL_GetH264SPSPPS(privateData, privateLength, parameterSets, &parameterSetsLength);
        CopyToRecord(parameterSets, parameterSetsLength, format->config, format->configSize);
    }
    return true;
}

bool KelmMKVDemux::KL_GetH264SPSPPS(const uint8_t* data, int32_t length, uint8_t* out, int32_t* outLength)
{
    // AVCDecoderConfigurationRecord: version, profile, compatibility, level,
    // then the NAL length size and the SPS count, each set with a 16-bit size.
    if (data == nullptr || length < 6) {
        return false;
    }
    nalLengthSizeMinusOne = data[4] & 0x03;
    int32_t readAt = 6;
    int32_t written = 0;

    // Copies `count` parameter sets from readAt, each behind a start code;
    // false when a size or a set runs past the record or the output area.
    auto copySets = [&](int32_t count) {
        for (int32_t k = 0; k < count; ++k) {
            if (length - readAt < 2) {
                return false;
            }
            int32_t setSize = data[readAt] << 8 | data[readAt + 1];
            readAt += 2;
            if (setSize > length - readAt ||
                setSize > kH264ConfigArea - written - static_cast<int32_t>(sizeof kStartCode)) {
                return false;
            }
            std::memcpy(out + written, kStartCode, sizeof kStartCode);
            written += static_cast<int32_t>(sizeof kStartCode);
            std::memcpy(out + written, data + readAt, static_cast<size_t>(setSize));
            written += setSize;
            readAt += setSize;
        }
        return true;
    };

    if (!copySets(data[5] & 0x1F)) {
        return false;
    }
    if (readAt >= length) {
        return false; // no byte left for the PPS count
    }
    int32_t ppsCount = data[readAt]; // the full byte counts, unlike the SPS count
    readAt += 1;
    if (!copySets(ppsCount)) {
        return false;
    }
    *outLength = written;
    return true;
}

bool KelmMKVDemux::GetHevcParameterSets(const uint8_t* data, int32_t length, std::vector<uint8_t>& out)
{
    // The NAL length size is in the low two bits of byte 21, before the
    // number of arrays.
    constexpr int32_t kArraysAt = 22;
    out.clear();
    if (data == nullptr || length <= kArraysAt) {
        return false;
    }
    nalLengthSizeMinusOne = data[21] & 0x03;
    const bool whole = ForEachHevcConfigUnit(data, length, [&](uint32_t, const uint8_t* unit, int32_t size) {
        out.insert(out.end(), kStartCode, kStartCode + sizeof kStartCode);
        out.insert(out.end(), unit, unit + size);
    });
    return whole && !out.empty();
}
