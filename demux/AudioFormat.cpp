// Audio track description: the WAVEFORMATEX, the format tag chosen from the
// codec ID, the CodecPrivate copy and the generated AAC decoder configuration.
#include "KelmMKVDemux.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "matroska/EBMLTrack.h"

namespace {

constexpr size_t kWaveFormatExSize = sizeof(ZOLVDMX_WAVEFORMATEX_T);

struct FormatTagRow {
    const char* idText; // matches when it occurs anywhere in the codec ID
    uint16_t formatTag;
    bool setsCodec; // PCM is named by the header's format tag alone
};

// E-AC-3 carries the AC-3 tag: decoders of one take the other.
const FormatTagRow kFormatTagCodecs[] = {
    {"A_MPEG/L3", 0x0055, true},
    {"A_MPEG/L2", 0x0050, true},
    {"A_AC3", 0x2000, true},
    {"A_EAC3", 0x2000, true},
    {"A_DTS", 0x2001, true},
    {"A_OPUS", 0x704F, true},
    {"A_FLAC", 0xF1AC, true},
    {"A_PCM/INT/LIT", 0x0001, false},
};

struct RealAudioRow {
    const char* idText;
    uint16_t formatTag;
};

const RealAudioRow kRealAudioCodecs[] = {
    {"14_4", 0x2002}, {"28_8", 0x2003}, {"COOK", 0x2004}, {"SIPR", 0x2005}, {"RALF", 0x2006}, {"ATRC", 0x2007},
};

constexpr uint16_t kFormatTagAac = 0x00FF;
constexpr uint16_t kFormatTagVorbis = 0x674F;

// AAC profile as the configuration's object type minus one; SBR tracks are
// negative and configured as LC with an SBR extension.
constexpr int32_t kAacProfileSbr = -1;
constexpr int32_t kAacProfileLc = 1;

struct AacProfileRow {
    const char* idText;
    int32_t profile;
};

// "/SBR" comes before "/LC": an ID naming both is an SBR track.
const AacProfileRow kAacProfiles[] = {
    {"/MAIN", 0}, {"/SBR", kAacProfileSbr}, {"/LC", kAacProfileLc}, {"/SSR", 2}, {"/LTP", 3},
};

constexpr int32_t kAacConfigSize = 5;

// Lowest frequency of sampling frequency indexes 0 to 10; anything lower is 11.
const int64_t kSamplingFrequencyFloors[] = {92017, 75132, 55426, 46009, 37566, 27713,
                                            23004, 18783, 13856, 11502, 9391};

// An ACM CodecPrivate starts with the complete WAVEFORMATEX.
constexpr int32_t kAcmHeaderSize = 18;
// A RealAudio codec ID hands out its CodecPrivate only when it is longer than
// this (A_REAL/ followed by a four-character sub-codec).
constexpr int32_t kRealAudioShortIdLength = 10;

// The first row whose text the codec ID holds at a position of at least
// `minPosition`, or null.
template <class Row, size_t N>
const Row* FindRow(const Row (&rows)[N], const EBMLString& codecID, int32_t minPosition = 0)
{
    for (const Row& row : rows) {
        if (codecID.Find(row.idText) >= minPosition) {
            return &row;
        }
    }
    return nullptr;
}

int32_t SamplingFrequencyIndex(int64_t frequency)
{
    int32_t index = 0;
    for (int64_t floor : kSamplingFrequencyFloors) {
        if (frequency >= floor) {
            return index;
        }
        ++index;
    }
    return index;
}

// An Audio element that omits Channels or SamplingFrequency describes a mono
// track at 8000 Hz (Matroska's defaults; muxers leave them out for mono).
// Without an Audio element the track is described from zeros.
uint32_t ChannelCount(const EBMLAudio* audio)
{
    if (audio == nullptr) {
        return 0;
    }
    return audio->channels != 0 ? audio->channels : 1;
}

// Whole samples per second, truncated; negative rates give 0 and rates past
// the 32-bit range are held at its limit.
uint32_t SamplesPerSecond(const EBMLAudio* audio)
{
    if (audio == nullptr) {
        return 0;
    }
    float frequency = audio->samplingFrequency != 0.0f ? audio->samplingFrequency : 8000.0f;
    if (!(frequency > 0.0f)) {
        return 0;
    }
    return frequency < 4294967296.0f ? static_cast<uint32_t>(frequency) : UINT32_MAX;
}

// Whether `data` starts with an AudioSpecificConfig whose object type and
// sampling frequency index parse; `sbr` tells whether it signals spectral
// band replication (object type 5 or 29, or an SBR sync extension).
bool ParseAudioSpecificConfig(const uint8_t* data, int32_t length, bool& sbr)
{
    sbr = false;
    if (data == nullptr || length < 2) {
        return false;
    }
    uint32_t objectType = data[0] >> 3;
    int32_t bit = 5;
    if (objectType == 31) {
        objectType = 32 + (((data[0] & 0x07u) << 3) | (data[1] >> 5));
        bit = 11;
    }
    auto bits = [&](int32_t at, int32_t count) {
        uint32_t value = 0;
        for (int32_t k = 0; k < count; ++k, ++at) {
            value = value << 1 | ((data[at / 8] >> (7 - at % 8)) & 1u);
        }
        return value;
    };
    if (objectType == 0 || bit + 4 > 8 * length) {
        return false;
    }
    uint32_t frequencyIndex = bits(bit, 4);
    bit += 4;
    if (frequencyIndex == 15) {
        bit += 24; // an explicit frequency
    } else if (frequencyIndex > 12) {
        return false;
    }
    if (bit > 8 * length) {
        return false;
    }
    // The explicit form names SBR first; the backward-compatible form ends
    // an LC configuration (channels, three GA bits) with the sync extension
    // 0x2B7, object type 5 and the SBR flag.
    sbr = objectType == 5 || objectType == 29;
    int32_t extension = bit + 4 + 3;
    if (!sbr && objectType == 2 && extension + 17 <= 8 * length && bits(extension, 11) == 0x2B7 &&
        bits(extension + 11, 5) == 5) {
        sbr = bits(extension + 16, 1) == 1;
    }
    return true;
}

} // namespace

int32_t MakeAACInitData(uint8_t* out, int32_t profile, int32_t frequency, int32_t channels)
{
    // AudioSpecificConfig: 5 bits object type, 4 bits frequency index,
    // 4 bits channel configuration, 3 zero bits; then the sync extension
    // 0x2B7 with object type 5 (SBR) and its flag and frequency index. The
    // channel bits are not masked: 16 channels reach into bit 7 of byte 1.
    int32_t index = SamplingFrequencyIndex(frequency);
    uint64_t objectType = static_cast<uint64_t>(profile < 0 ? -static_cast<int64_t>(profile) : profile) + 1;
    out[0] = static_cast<uint8_t>(static_cast<uint8_t>(objectType * 8) | (index / 2));
    out[1] = static_cast<uint8_t>(static_cast<uint8_t>(index * 128) |
                                  static_cast<uint8_t>(static_cast<uint32_t>(channels) * 8));
    out[2] = 0x56;
    out[3] = 0xE5;
    if (profile >= 0) {
        out[4] = 0x00;
        return 2;
    }
    int32_t extensionIndex = SamplingFrequencyIndex(2 * static_cast<int64_t>(frequency));
    out[4] = static_cast<uint8_t>(0x80 | extensionIndex * 8);
    return 5;
}

void KelmMKVDemux::StoreWaveFormat(uint8_t* header, const ZOLVDMX_WAVEFORMATEX_T& wave)
{
    StoreLE16(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, wFormatTag), wave.wFormatTag);
    StoreLE16(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, nChannels), wave.nChannels);
    StoreLE32(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, nSamplesPerSec), wave.nSamplesPerSec);
    StoreLE32(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, nAvgBytesPerSec), wave.nAvgBytesPerSec);
    StoreLE16(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, nBlockAlign), wave.nBlockAlign);
    StoreLE16(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, wBitsPerSample), wave.wBitsPerSample);
    StoreLE16(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, cbSize), wave.cbSize);
}

void KelmMKVDemux::DescribeAac(const EBMLTrackEntry& entry, ZOLVDMX_WAVEFORMATEX_T& wave,
                               ZOLVDMX_MEDIA_FORMAT_T* format)
{
    const EBMLAudio* audio = entry.audio.get();
    const EBMLString& codecID = entry.codecID;
    const uint8_t* privateData = entry.codecPrivate.GetData();
    int32_t privateLength = entry.codecPrivate.IsEmpty() ? 0 : entry.codecPrivate.GetLength();
    const uint32_t channels = ChannelCount(audio);
    // The file's own AudioSpecificConfig when CodecPrivate holds one: it
    // says what the codec ID cannot (HE-AAC signalling, channel
    // configuration 0, 960-sample frames). The legacy IDs carry none: a
    // configuration is generated from the ID. An SBR track is announced
    // at its output rate (OutputSamplingFrequency, else twice the stored
    // rate), while its bit rate keeps the stored rate.
    bool sbr = false;
    if (ParseAudioSpecificConfig(privateData, privateLength, sbr)) {
        CopyToRecord(privateData, privateLength, format->codecPrivate, format->codecPrivateSize);
        wave.cbSize = static_cast<uint16_t>(privateLength);
    } else {
        const AacProfileRow* profileRow = FindRow(kAacProfiles, codecID, 1);
        int32_t profile = profileRow != nullptr ? profileRow->profile : kAacProfileLc;
        uint8_t config[kAacConfigSize];
        int32_t used = MakeAACInitData(config, profile, static_cast<int32_t>(wave.nSamplesPerSec),
                                       static_cast<int32_t>(channels));
        CopyToRecord(config, kAacConfigSize, format->codecPrivate, format->codecPrivateSize);
        wave.cbSize = static_cast<uint16_t>(used);
        sbr = profile == kAacProfileSbr;
    }
    wave.wFormatTag = kFormatTagAac;
    format->codec = kFormatTagAac;
    if (sbr) {
        float output = audio != nullptr ? audio->outputSamplingFrequency : 0.0f;
        uint32_t rate = output > 0.0f && output < 4294967296.0f ? static_cast<uint32_t>(output)
                                                                : wave.nSamplesPerSec * 2;
        wave.nAvgBytesPerSec = uint32_t{wave.nBlockAlign} * rate;
        wave.nSamplesPerSec = rate;
    }
}

bool KelmMKVDemux::GetAudioHeader(EBMLTrackEntry* entry, ZOLVDMX_MEDIA_FORMAT_T* format)
{
    const EBMLAudio* audio = entry->audio.get();
    const EBMLString& codecID = entry->codecID;
    const uint8_t* privateData = entry->codecPrivate.GetData();
    int32_t privateLength = entry->codecPrivate.IsEmpty() ? 0 : entry->codecPrivate.GetLength();

    uint32_t channels = ChannelCount(audio);
    ZOLVDMX_WAVEFORMATEX_T wave{};
    wave.nChannels = static_cast<uint16_t>(channels);
    wave.nSamplesPerSec = SamplesPerSecond(audio);
    wave.wBitsPerSample = static_cast<uint16_t>(audio != nullptr ? audio->bitDepth.value : 0);
    wave.nBlockAlign = static_cast<uint16_t>(uint32_t{wave.nChannels} * wave.wBitsPerSample / 8);
    wave.nAvgBytesPerSec = uint32_t{wave.nBlockAlign} * wave.nSamplesPerSec;

    format->codecPrivate = nullptr;
    format->codecPrivateSize = 0;
    format->bitRate = wave.nSamplesPerSec * wave.wBitsPerSample * uint32_t{wave.nChannels};
    format->frameRate = 0;
    format->seekable = matroska.seekAble ? 1 : 0;
    format->fixedOne1 = 1;
    format->fixedOne2 = 1;
    format->configSize = 0;
    format->config = nullptr;

    bool headerFromPrivate = false;
    if (const FormatTagRow* row = FindRow(kFormatTagCodecs, codecID)) {
        wave.wFormatTag = row->formatTag;
        if (row->setsCodec) {
            format->codec = row->formatTag;
        }
        if (privateLength > 0) {
            wave.cbSize = static_cast<uint16_t>(privateLength);
            CopyToRecord(privateData, privateLength, format->codecPrivate, format->codecPrivateSize);
        }
    } else if (codecID.Find("A_AAC") >= 0) {
        DescribeAac(*entry, wave, format);
    } else if (codecID.Find("A_VORBIS") >= 0) {
        wave.wFormatTag = kFormatTagVorbis;
        format->codec = kFormatTagVorbis;
        CopyToRecord(privateData, privateLength, format->codecPrivate, format->codecPrivateSize);
    } else if (codecID.Find("A_MS/ACM") >= 0) {
        headerFromPrivate = true;
        if (privateLength > kAcmHeaderSize) {
            CopyToRecord(privateData + kAcmHeaderSize, privateLength - kAcmHeaderSize, format->codecPrivate,
                         format->codecPrivateSize);
        }
    } else if (codecID.Find("A_REAL/") >= 0) {
        if (const RealAudioRow* row = FindRow(kRealAudioCodecs, codecID)) {
            wave.wFormatTag = row->formatTag;
            format->codec = row->formatTag;
        }
        if (codecID.GetLength() > kRealAudioShortIdLength) {
            CopyToRecord(privateData, privateLength, format->codecPrivate, format->codecPrivateSize);
        }
        wave.cbSize = 0;
    } else {
        // A codec this library does not name: codec 0 and what the file
        // says, so its frames are delivered and the host decides.
        if (privateLength > 0) {
            wave.cbSize = static_cast<uint16_t>(privateLength);
            CopyToRecord(privateData, privateLength, format->codecPrivate, format->codecPrivateSize);
        }
    }

    uint8_t* header = static_cast<uint8_t*>(format->header);
    StoreWaveFormat(header, wave);
    if (headerFromPrivate && privateLength > 0) {
        // The file's own WAVEFORMATEX, as far as CodecPrivate reaches.
        size_t count = privateLength < kAcmHeaderSize ? static_cast<size_t>(privateLength) : kWaveFormatExSize;
        std::memcpy(header, privateData, count);
    }
    return true;
}
