// SetMediaFormat for audio tracks: WAVEFORMATEX, format tags, CodecPrivate
// copies and the generated AAC configuration.
#include <gtest/gtest.h>

#include "demux/FormatTestSupport.h"

namespace {

EBMLTrackEntry& AudioEntry(EBMLTrackEntry& entry, const std::string& codecID, float frequency, uint32_t channels,
                           uint64_t bitDepth)
{
    entry.trackType.value = 2;
    SetText(entry.codecID, codecID);
    entry.audio = std::make_unique<EBMLAudio>();
    entry.audio->samplingFrequency = frequency;
    entry.audio->channels = channels;
    entry.audio->bitDepth.value = bitDepth;
    return entry;
}

} // namespace

TEST(AudioFormat, PcmTrackHeaderAndBitRate)
{
    TrackUnderTest track;
    AudioEntry(track.entry, "A_PCM/INT/LIT", 48000.0f, 2, 16);
    ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
    EXPECT_EQ(track.status, 0u);
    EXPECT_EQ(f.mediaType, 2u);
    EXPECT_EQ(f.codec, 0u);
    // tag 1, 2 channels, 48000 Hz, 192000 bytes/s, block 4, 16 bits, cbSize 0
    EXPECT_EQ(At(f.header, 18), (Bytes{0x01, 0x00, 0x02, 0x00, 0x80, 0xBB, 0x00, 0x00, 0x00, 0xEE, 0x02, 0x00, 0x04,
                                       0x00, 0x10, 0x00, 0x00, 0x00}));
    EXPECT_EQ(f.bitRate, 1536000u);
    EXPECT_EQ(f.maxSampleSize, 409600u);
    EXPECT_EQ(f.codecPrivate, nullptr);
    EXPECT_EQ(f.videoExtra, nullptr);
    EXPECT_EQ(f.fixedOne1 + f.fixedOne2, 2u);
}

TEST(AudioFormat, AacConfigurationFromProfileRateAndChannels)
{
    const struct {
        const char* codecID;
        float frequency;
        uint32_t channels;
        Bytes config;
        uint16_t cbSize;
        uint32_t samplesPerSec;
        uint32_t avgBytesPerSec; // 16 bits per sample
        uint32_t bitRate;
    } cases[] = {
        {"A_AAC", 44100.0f, 2, {0x12, 0x10, 0x56, 0xE5, 0x00}, 2, 44100, 176400, 1411200},
        {"A_AAC/MPEG4/LC/SBR", 24000.0f, 2, {0x13, 0x10, 0x56, 0xE5, 0x98}, 5, 48000, 192000, 768000},
        {"A_AAC/MPEG2/MAIN", 48000.0f, 6, {0x09, 0xB0, 0x56, 0xE5, 0x00}, 2, 48000, 576000, 4608000},
        {"A_AAC/MPEG4/LTP", 22050.0f, 1, {0x23, 0x88, 0x56, 0xE5, 0x00}, 2, 22050, 44100, 352800},
        {"A_AAC/MPEG4/LC", 44100.0f, 16, {0x12, 0x80, 0x56, 0xE5, 0x00}, 2, 44100, 1411200, 11289600},
        {"/LTP A_AAC", 44099.9f, 2, {0x12, 0x10, 0x56, 0xE5, 0x00}, 2, 44099, 176396, 1411168},
    };
    // Without an AudioSpecificConfig of their own (the legacy IDs carry none).
    for (const auto& c : cases) {
        TrackUnderTest track;
        AudioEntry(track.entry, c.codecID, c.frequency, c.channels, 16);
        ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
        const auto* wave = static_cast<const ZOLVDMX_WAVEFORMATEX_T*>(f.header);
        EXPECT_EQ(track.status, 0u) << c.codecID;
        EXPECT_EQ(f.codec, 0xFFu) << c.codecID;
        EXPECT_EQ(wave->wFormatTag, 0xFF) << c.codecID;
        EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), c.config) << c.codecID;
        EXPECT_EQ(wave->cbSize, c.cbSize) << c.codecID;
        EXPECT_EQ(wave->nSamplesPerSec, c.samplesPerSec) << c.codecID;
        EXPECT_EQ(wave->nAvgBytesPerSec, c.avgBytesPerSec) << c.codecID;
        EXPECT_EQ(f.bitRate, c.bitRate) << c.codecID;
    }
}

TEST(AudioFormat, AacTracksKeepTheAudioSpecificConfigTheyCarry)
{
    const struct {
        const char* what;
        Bytes codecPrivate;
        float outputFrequency;
        Bytes config; // handed on
        uint32_t samplesPerSec;
    } cases[] = {
        {"LC, 48000 Hz, stereo", {0x11, 0x90}, 0.0f, {0x11, 0x90}, 24000},
        {"LC with the SBR sync extension", {0x13, 0x10, 0x56, 0xE5, 0x98}, 48000.0f, {0x13, 0x10, 0x56, 0xE5, 0x98},
         48000},
        {"SBR named first, no output frequency", {0x2B, 0x11, 0x88, 0x00}, 0.0f, {0x2B, 0x11, 0x88, 0x00}, 48000},
        {"960-sample frames, channel configuration 0", {0x11, 0x84}, 0.0f, {0x11, 0x84}, 24000},
        // Nothing that parses: a configuration is generated (LC, 24000 Hz, stereo).
        {"object type 0", {0x00, 0x90}, 0.0f, {0x13, 0x10, 0x56, 0xE5, 0x00}, 24000},
        {"frequency index 13", {0x16, 0x90}, 0.0f, {0x13, 0x10, 0x56, 0xE5, 0x00}, 24000},
        {"one byte", {0x11}, 0.0f, {0x13, 0x10, 0x56, 0xE5, 0x00}, 24000},
    };
    for (const auto& c : cases) {
        TrackUnderTest track;
        SetBytes(AudioEntry(track.entry, "A_AAC", 24000.0f, 2, 16).codecPrivate, c.codecPrivate);
        track.entry.audio->outputSamplingFrequency = c.outputFrequency;
        ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
        const auto* wave = static_cast<const ZOLVDMX_WAVEFORMATEX_T*>(f.header);
        EXPECT_EQ(f.codec, 0xFFu) << c.what;
        EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), c.config) << c.what;
        EXPECT_EQ(wave->nSamplesPerSec, c.samplesPerSec) << c.what;
        EXPECT_EQ(f.bitRate, 768000u) << c.what << ": the stored rate";
    }
}

TEST(AudioFormat, AacSamplingFrequencyIndexBoundaries)
{
    const struct {
        int32_t profile;
        int32_t frequency;
        Bytes config;
        int32_t result;
    } cases[] = {
        {1, 92017, {0x10, 0x10, 0x56, 0xE5, 0x00}, 2}, {1, 92016, {0x10, 0x90, 0x56, 0xE5, 0x00}, 2},
        {1, 46008, {0x12, 0x10, 0x56, 0xE5, 0x00}, 2}, {1, 9391, {0x15, 0x10, 0x56, 0xE5, 0x00}, 2},
        {1, 9390, {0x15, 0x90, 0x56, 0xE5, 0x00}, 2},
        {-1, 48000, {0x11, 0x90, 0x56, 0xE5, 0x80}, 5}, {-1, 4000, {0x15, 0x90, 0x56, 0xE5, 0xD8}, 5},
    };
    for (const auto& c : cases) {
        Bytes out(6, 0xEE);
        EXPECT_EQ(MakeAACInitData(out.data(), c.profile, c.frequency, 2), c.result) << c.frequency;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), c.config) << c.frequency;
        EXPECT_EQ(out[5], 0xEE);
    }
}

TEST(AudioFormat, AudioElementWithoutChannelsOrFrequencyIsMonoAt8000Hz)
{
    TrackUnderTest track;
    AudioEntry(track.entry, "A_AAC", 0.0f, 0, 0);
    ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
    EXPECT_EQ(track.status, 0u);
    EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), (Bytes{0x15, 0x88, 0x56, 0xE5, 0x00}));
    // tag 0xFF, 1 channel, 8000 Hz, no bit depth, cbSize 2
    EXPECT_EQ(At(f.header, 18), (Bytes{0xFF, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0x00, 0x00, 0x00, 0x02, 0x00}));
}

TEST(AudioFormat, FormatTagCodecsCopyCodecPrivate)
{
    const Bytes codecPrivate = {0x0A, 0x0B, 0x0C};
    const struct {
        const char* codecID;
        bool withPrivate;
        uint16_t formatTag;
        uint32_t codec;
        uint16_t cbSize;
        int32_t privateSize;
    } cases[] = {
        {"A_MPEG/L3", false, 0x0055, 0x55, 0, 0},    {"A_AC3", true, 0x2000, 0x2000, 3, 3},
        {"A_EAC3", true, 0x2000, 0x2000, 3, 3},      {"A_OPUS", true, 0x704F, 0x704F, 3, 3},
        {"A_FLAC", true, 0xF1AC, 0xF1AC, 3, 3},      {"A_DTS", false, 0x2001, 0x2001, 0, 0},
        {"A_VORBIS", true, 0x674F, 0x674F, 0, 3},    {"A_REAL/COOK", true, 0x2004, 0x2004, 0, 3},
        {"A_REAL/28_8", true, 0x2003, 0x2003, 0, 3}, {"A_REAL/", true, 0, 0, 0, 0},
        {"A_REAL/XYZ", true, 0, 0, 0, 0},            {"A_REAL/XYZW", true, 0, 0, 0, 3},
    };
    for (const auto& c : cases) {
        TrackUnderTest track;
        AudioEntry(track.entry, c.codecID, 44100.0f, 2, 16);
        if (c.withPrivate) {
            SetBytes(track.entry.codecPrivate, codecPrivate);
        }
        ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
        const auto* wave = static_cast<const ZOLVDMX_WAVEFORMATEX_T*>(f.header);
        EXPECT_EQ(track.status, 0u) << c.codecID;
        EXPECT_EQ(wave->wFormatTag, c.formatTag) << c.codecID;
        EXPECT_EQ(f.codec, c.codec) << c.codecID;
        EXPECT_EQ(wave->cbSize, c.cbSize) << c.codecID;
        EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize),
                  Bytes(codecPrivate.begin(), codecPrivate.begin() + c.privateSize))
            << c.codecID;
    }
}

TEST(AudioFormat, AcmCodecPrivateReplacesHeaderAsFarAsItReaches)
{
    // WAVEFORMATEX of 2 channels at 44100 Hz, 16 bits, cbSize 12, then 12 bytes.
    const Bytes acm = {0x61, 0x01, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00, 0x04, 0x00, 0x10,
                       0x00, 0x0C, 0x00, 0x00, 0x88, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    // As built from the Audio element (1 channel, 22050 Hz, 8 bits): tag 0.
    const Bytes built = {0x00, 0x00, 0x01, 0x00, 0x22, 0x56, 0x00, 0x00, 0x22,
                         0x56, 0x00, 0x00, 0x01, 0x00, 0x08, 0x00, 0x00, 0x00};
    const struct {
        size_t length;
        Bytes header;
        int32_t privateSize;
    } cases[] = {
        {30, Bytes(acm.begin(), acm.begin() + 18), 12},
        {18, Bytes(acm.begin(), acm.begin() + 18), 0},
        {10, {0x61, 0x01, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x00, 0x00, 0x01, 0x00, 0x08, 0x00, 0x00, 0x00},
         0},
        {0, built, 0},
    };
    for (const auto& c : cases) {
        TrackUnderTest track;
        SetBytes(AudioEntry(track.entry, "A_MS/ACM", 22050.0f, 1, 8).codecPrivate,
                 Bytes(acm.begin(), acm.begin() + static_cast<long>(c.length)));
        ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
        EXPECT_EQ(track.status, 0u) << c.length;
        EXPECT_EQ(At(f.header, 18), c.header) << c.length;
        EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), Bytes(acm.end() - c.privateSize, acm.end())) << c.length;
        EXPECT_EQ(f.codec, 0u);
    }
}

TEST(AudioFormat, UnknownCodecsAreDescribedWithCodecZero)
{
    // Their frames are delivered; the host decides what to do with them.
    for (const char* codecID : {"A_TTA1", "A_PCM/INT/BIG"}) {
        TrackUnderTest track;
        track.File().seekAble = true;
        SetBytes(AudioEntry(track.entry, codecID, 44100.0f, 2, 16).codecPrivate, {0x01, 0x02});
        ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
        EXPECT_EQ(track.status, 0u) << codecID;
        EXPECT_EQ(f.codec, 0u) << codecID;
        // tag 0, 2 channels, 44100 Hz, 176400 bytes/s, block 4, 16 bits, cbSize 2
        EXPECT_EQ(At(f.header, 18), (Bytes{0x00, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00,
                                           0x04, 0x00, 0x10, 0x00, 0x02, 0x00}))
            << codecID;
        EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), (Bytes{0x01, 0x02})) << codecID;
        EXPECT_EQ(f.bitRate, 1411200u);
        EXPECT_EQ(f.seekable, 1u);
        EXPECT_EQ(f.maxSampleSize, 409600u);
    }
}

TEST(AudioFormat, EntryWithoutAudioElementIsDescribedFromZeros)
{
    TrackUnderTest track;
    track.entry.trackType.value = 2;
    SetText(track.entry.codecID, "A_MPEG/L3");
    ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
    EXPECT_EQ(track.status, 0u);
    EXPECT_EQ(At(f.header, 18), (Bytes{0x55, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(f.bitRate, 0u);
    EXPECT_EQ(f.maxSampleSize, 409600u);
}
