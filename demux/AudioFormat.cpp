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

const FormatTagRow kFormatTagCodecs[] = {
    {"A_MPEG/L3", 0x0055, true},
    {"A_MPEG/L2", 0x0050, true},
    {"A_AC3", 0x2000, true},
    {"A_DTS", 0x2001, true},
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

    bool supported = true;
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
        // The configuration is generated: Matroska AAC tracks seldom carry a
        // usable one. An SBR track is announced at the doubled output rate,
        // while its configuration and bit rate keep the stored rate.
        const AacProfileRow* profileRow = FindRow(kAacProfiles, codecID, 1);
        int32_t profile = profileRow != nullptr ? profileRow->profile : kAacProfileLc;
        uint8_t config[kAacConfigSize];
        int32_t used = MakeAACInitData(config, profile, static_cast<int32_t>(wave.nSamplesPerSec),
                                       static_cast<int32_t>(channels));
        CopyToRecord(config, kAacConfigSize, format->codecPrivate, format->codecPrivateSize);
        wave.wFormatTag = kFormatTagAac;
        format->codec = kFormatTagAac;
        wave.cbSize = static_cast<uint16_t>(used);
        if (profile == kAacProfileSbr) {
            wave.nSamplesPerSec *= 2;
            wave.nAvgBytesPerSec *= 2;
        }
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
        supported = false;
    }

    uint8_t* header = static_cast<uint8_t*>(format->header);
    StoreLE16(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, wFormatTag), wave.wFormatTag);
    StoreLE16(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, nChannels), wave.nChannels);
    StoreLE32(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, nSamplesPerSec), wave.nSamplesPerSec);
    StoreLE32(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, nAvgBytesPerSec), wave.nAvgBytesPerSec);
    StoreLE16(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, nBlockAlign), wave.nBlockAlign);
    StoreLE16(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, wBitsPerSample), wave.wBitsPerSample);
    StoreLE16(header + offsetof(ZOLVDMX_WAVEFORMATEX_T, cbSize), wave.cbSize);
    if (headerFromPrivate && privateLength > 0) {
        // The file's own WAVEFORMATEX, as far as CodecPrivate reaches.
        size_t count = privateLength < kAcmHeaderSize ? static_cast<size_t>(privateLength) : kWaveFormatExSize;
        std::memcpy(header, privateData, count);
    }
    return supported;
}
