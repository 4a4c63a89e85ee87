// SetMediaFormat for every track type: the BITMAPINFOHEADER or WAVEFORMATEX, the codec code, CodecPrivate
// copies, the generated AAC configuration and the H.264 and HEVC parameter sets in start-code form.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "DemuxInternals.h"
#include "EbmlWriter.h"
#include "LoadedFile.h"
#include "matroska/EBMLTrack.h"

namespace {

// A track entry built field by field, described into a record that owns its buffers, without a SeekHead.
struct TrackUnderTest {
    KelmMKVDemux demux;
    EBMLTrackEntry entry;
    OwnedMediaFormat format;
    uint32_t status = 1;

    TrackUnderTest(uint64_t type, const std::string& codecID, const Bytes& codecPrivate = {})
    {
        entry.trackType.value = type;
        entry.codecID.SetData(reinterpret_cast<const uint8_t*>(codecID.data()), static_cast<int32_t>(codecID.size()));
        entry.codecPrivate.SetData(codecPrivate.data(), static_cast<int32_t>(codecPrivate.size()));
    }
    ZOLVDMX_MEDIA_FORMAT_T Describe()
    {
        status = demux.SetMediaFormat(&entry, &format);
        return format;
    }
    EBMLVideo& Video(uint32_t width, uint32_t height)
    {
        entry.video = std::make_unique<EBMLVideo>();
        entry.video->pixelWidth = width;
        entry.video->pixelHeight = height;
        return *entry.video;
    }
};

} // namespace

TEST(AudioFormat, HeaderCodecAndPrivateDataFollowTheCodecId)
{
    const char* const acm = "6101 0200 44AC0000 10B10200 0400 1000 0C00 00880000 1F000000 00000000";
    const struct {
        const char *codecID;
        float frequency; // negative: no Audio element
        uint32_t channels, bits;
        std::string codecPrivate;
        const char *header, *handedOut; // header: tag, channels, rate, bytes per second, align, bits, cbSize
        uint32_t codec, bitRate;
        float outputFrequency = 0.0f;
    } cases[] = {
        {"A_MPEG/L3", -1, 0, 0, "", "5500 0000 00000000 00000000 0000 0000 0000", "", 0x55, 0},
        {"A_MPEG/L2", 44100, 2, 16, "0A0B0C", "5000 0200 44AC0000 10B10200 0400 1000 0300", "0A0B0C", 0x50, 1411200},
        {"A_DTS", 44100, 2, 16, "", "0120 0200 44AC0000 10B10200 0400 1000 0000", "", 0x2001, 1411200},
        // A rate past the 32-bit field is held at its limit.
        {"A_DTS", 4294967296.0f, 2, 16, "", "0120 0200 FFFFFFFF FCFFFFFF 0400 1000 0000", "", 0x2001, 4294967264},
        // RealAudio hands out CodecPrivate only with a four-character sub-codec.
        {"A_REAL/COOK", 44100, 2, 16, "0A0B0C", "0420 0200 44AC0000 10B10200 0400 1000 0000", "0A0B0C", 0x2004,
         1411200},
        {"A_REAL/XYZ", 44100, 2, 16, "0A0B0C", "0000 0200 44AC0000 10B10200 0400 1000 0000", "", 0, 1411200},
        {"A_REAL/XYZW", 44100, 2, 16, "0A0B0C", "0000 0200 44AC0000 10B10200 0400 1000 0000", "0A0B0C", 0, 1411200},
        // Codecs this library does not name: codec 0, the file's CodecPrivate.
        {"A_PCM/INT/BIG", 44100, 2, 16, "0102", "0000 0200 44AC0000 10B10200 0400 1000 0200", "0102", 0, 1411200},
        // ACM: the file's WAVEFORMATEX as far as it reaches, then what follows it.
        {"A_MS/ACM", 22050, 1, 8, acm, "6101 0200 44AC0000 10B10200 0400 1000 0C00", "00880000 1F000000 00000000", 0,
         176400},
        {"A_MS/ACM", 22050, 1, 8, std::string(acm, 42), "6101 0200 44AC0000 10B10200 0400 1000 0C00", "", 0, 176400},
        {"A_MS/ACM", 22050, 1, 8, std::string(acm, 23), "6101 0200 44AC0000 10B1 0000 0100 0800 0000", "", 0, 176400},
        {"A_MS/ACM", 22050, 1, 8, "", "0000 0100 22560000 22560000 0100 0800 0000", "", 0, 176400},
        // AAC without an AudioSpecificConfig of its own gets one from the ID's profile, rate and channels.
        {"A_AAC/MPEG2/MAIN", 48000, 6, 16, "", "FF00 0600 80BB0000 00CA0800 0C00 1000 0200", "09B056E500", 0xFF,
         4608000},
        {"A_AAC/MPEG4/LTP", 22050, 1, 16, "", "FF00 0100 22560000 44AC0000 0200 1000 0200", "238856E500", 0xFF, 352800},
        {"A_AAC/MPEG2/SSR", 22050, 1, 16, "", "FF00 0100 22560000 44AC0000 0200 1000 0200", "1B8856E500", 0xFF, 352800},
        {"A_AAC/MPEG4/LC", 44100, 16, 16, "", "FF00 1000 44AC0000 80881500 2000 1000 0200", "128056E500", 0xFF,
         11289600},
        {"/LTP A_AAC", 44099.9f, 2, 16, "", "FF00 0200 43AC0000 0CB10200 0400 1000 0200", "121056E500", 0xFF, 1411168},
        {"A_AAC", 0, 0, 0, "", "FF00 0100 401F0000 00000000 0000 0000 0200", "158856E500", 0xFF, 0},
        // HE-AAC is announced at its output rate; its bit rate keeps the stored one.
        {"A_AAC/MPEG4/LC/SBR", 24000, 2, 16, "", "FF00 0200 80BB0000 00EE0200 0400 1000 0500", "131056E598", 0xFF,
         768000},
        {"A_AAC", 24000, 2, 16, "131056E598", "FF00 0200 80BB0000 00EE0200 0400 1000 0500", "131056E598", 0xFF, 768000,
         48000},
        {"A_AAC", 24000, 2, 16, "2B118800", "FF00 0200 80BB0000 00EE0200 0400 1000 0400", "2B118800", 0xFF, 768000},
        {"A_AAC", 24000, 2, 16, "1190", "FF00 0200 C05D0000 00770100 0400 1000 0200", "1190", 0xFF, 768000},
        {"A_AAC", 24000, 2, 16, "1184", "FF00 0200 C05D0000 00770100 0400 1000 0200", "1184", 0xFF, 768000},
        // What does not parse as an AudioSpecificConfig is replaced: object type 0, frequency index 13, one byte.
        {"A_AAC", 24000, 2, 16, "0090", "FF00 0200 C05D0000 00770100 0400 1000 0200", "131056E500", 0xFF, 768000},
        {"A_AAC", 24000, 2, 16, "1690", "FF00 0200 C05D0000 00770100 0400 1000 0200", "131056E500", 0xFF, 768000},
        {"A_AAC", 24000, 2, 16, "11", "FF00 0200 C05D0000 00770100 0400 1000 0200", "131056E500", 0xFF, 768000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.codecID) + " " + c.codecPrivate);
        TrackUnderTest track(2, c.codecID, Hex(c.codecPrivate));
        if (c.frequency >= 0) {
            track.entry.audio = std::make_unique<EBMLAudio>();
            track.entry.audio->samplingFrequency = c.frequency;
            track.entry.audio->outputSamplingFrequency = c.outputFrequency;
            track.entry.audio->channels = c.channels;
            track.entry.audio->bitDepth.value = c.bits;
        }
        ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
        EXPECT_EQ(track.status, ZOLVDMX_OK);
        EXPECT_EQ(At(f.header, 18), Hex(c.header));
        EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), Hex(c.handedOut));
        EXPECT_EQ(f.codec, c.codec);
        EXPECT_EQ(f.bitRate, c.bitRate);
    }
}

TEST(AudioFormat, GeneratedAacConfigurationAtEveryFrequencyIndexBoundary)
{
    // The lowest rate of each frequency index: the midpoints between 96000, 88200, 64000, 48000, 44100, 32000,
    // 24000, 22050, 16000, 12000, 11025 and 8000 Hz. LC, the index across bytes 0 and 1, two channels, the
    // sync extension's first bytes.
    const int32_t floors[] = {92017, 75132, 55426, 46009, 37566, 27713, 23004, 18783, 13856, 11502, 9391};
    for (int32_t i = 0; i < 11; ++i) {
        for (int32_t index : {i, i + 1}) {
            Bytes out(6, 0xEE);
            EXPECT_EQ(MakeAACInitData(out.data(), 1, floors[i] + i - index, 2), 2) << floors[i];
            EXPECT_EQ(out, (Bytes{static_cast<uint8_t>(0x10 | index >> 1),
                                  static_cast<uint8_t>((index & 1) << 7 | 0x10), 0x56, 0xE5, 0x00, 0xEE}))
                << floors[i] + i - index;
        }
    }
    // SBR adds the extension's object type 5 and the index of twice the rate.
    for (auto [frequency, config] : {std::pair{48000, "119056E580EE"}, std::pair{4000, "159056E5D8EE"}}) {
        Bytes out(6, 0xEE);
        EXPECT_EQ(MakeAACInitData(out.data(), -1, frequency, 2), 5);
        EXPECT_EQ(out, Hex(config)) << frequency;
    }
}

TEST(VideoFormat, CodecIdChoosesCodeHeaderAndPrivateDataCopies)
{
    const Bytes mpeg4 = Hex("000001B0 01000001");
    auto counting = [](size_t length) {
        Bytes bytes(length);
        std::iota(bytes.begin(), bytes.end(), 0);
        return bytes;
    };
    const struct {
        const char* codecID;
        Bytes codecPrivate;
        const char* code;          // the codec, little-endian, also biCompression
        int32_t handedOut;         // bytes of CodecPrivate handed out
        bool secondCopy;           // CodecPrivate repeated as the decoder configuration
        long headerFrom, copied;   // CodecPrivate[headerFrom...] replacing the built header
    } cases[] = {
        {"V_MPEG4/ISO/SP", mpeg4, "DIV4", 8, true, 0, 0}, {"V_MPEG2", mpeg4, "MP2V", 0, false, 0, 0},
        {"V_REAL/RV40", mpeg4, "RV4\0", 8, false, 0, 0}, {"V_REAL/RV", mpeg4, "RV\xFF\0", 8, false, 0, 0},
        {"V_UNKNOWN", mpeg4, "\0\0\0\0", 0, false, 0, 0},
        // Neither an hvcC nor an avcC with parameter sets: no configuration.
        {"V_MPEGH/ISO/HEVC", mpeg4, "HEVC", 8, false, 0, 0}, {"V_MPEG4/ISO/AVC", mpeg4, "AVC1", 8, false, 0, 0},
        // A BITMAPINFOHEADER in CodecPrivate replaces the built one as far as it reaches.
        {"V_MS/VFW/FOURCC", counting(40), "\0\0\0\0", 0, false, 0, 40},
        {"V_MPEG1", counting(88), "\0\0\0\0", 88, false, 48, 40},
        {"V_DSHOW/MPEG1VIDEO", counting(60), "\0\0\0\0", 60, false, 48, 12},
        {"V_MPEG1", counting(30), "\0\0\0\0", 30, false, 48, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.codecID) + " " + std::to_string(c.codecPrivate.size()));
        TrackUnderTest track(1, c.codecID, c.codecPrivate);
        track.Video(320, 240);
        ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
        EXPECT_EQ(track.status, ZOLVDMX_OK);
        EXPECT_EQ(At(&f.codec, 4), At(c.code, 4));
        // 320 x 240 as built: size, width, height, one plane of 24 bits, the code, the rest 0.
        Bytes header = ebml::Cat({Hex("28000000 40010000 F0000000 0100 1800"), At(c.code, 4), Bytes(20, 0)});
        std::iota(header.begin(), header.begin() + c.copied, c.headerFrom);
        EXPECT_EQ(At(f.header, 40), header);
        EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), At(c.codecPrivate.data(), c.handedOut));
        EXPECT_EQ(At(f.config, f.configSize), c.secondCopy ? c.codecPrivate : Bytes{});
        EXPECT_EQ(f.seekable, 0u);
    }
}

TEST(VideoFormat, FrameRateFromFrameRateElseDefaultDuration)
{
    const struct {
        double frameRate;
        uint64_t defaultDuration;
        int32_t expected;
    } cases[] = {
        {29.97, 0, 29970},        {static_cast<double>(29.97f), 0, 29969}, // stored as a 4-byte float
        {0.0, 41708333, 23976},   {0.0, 0, 0},
        {25.0, 41708333, 25000},  {-5.0, 40000000, 25000},
        {0.0, 5000000000, 200},   // 5 s a frame: past 32 bits
        {0.0, 1, 2147483647},     {1e300, 0, 2147483647}, // beyond the field: held at its limit
    };
    for (const auto& c : cases) {
        TrackUnderTest track(1, "V_MPEG2");
        track.Video(16, 16).frameRate = c.frameRate;
        track.entry.defaultDuration = c.defaultDuration;
        EXPECT_EQ(track.Describe().frameRate, c.expected) << c.frameRate << " " << c.defaultDuration;
    }
}

TEST(VideoFormat, MaxSampleSizeHoldsTheRawPictureOfTheStatedFormat)
{
    // Colour's BitsPerChannel and chroma subsampling across and down (bits -1: no Colour); FFV1 (lossless)
    // or MPEG-2. Four thirds of the raw picture (2 bytes a sample past 8 bits), twice it lossless, at least
    // width x height x 2, plus 8 KiB; held at INT32_MAX.
    const struct {
        uint32_t width, height;
        int32_t bits;
        uint32_t across, down;
        bool lossless;
        uint32_t expected;
    } cases[] = {
        {3840, 2160, -1, 0, 0, false, 16596992},  // 8-bit 4:2:0: 3840 x 2160 x 2 + 8192
        {3840, 2160, 8, 1, 1, true, 24891392},    // lossless: twice 12441600
        {3840, 2160, 10, 1, 0, false, 44244992},  // 10-bit 4:2:2: raw 33177600 x 4/3
        {7680, 4320, 8, 0, 0, false, 132718592},  // 8-bit 4:4:4: raw 99532800 x 4/3
        {7680, 4320, 10, 0, 0, true, 398139392},  // 10-bit 4:4:4 lossless: twice 199065600
        {64, 64, 0, 0, 0, false, 24576},          // bits not said: 8; 4:4:4: 12288 x 4/3 + 8192
        {64, 64, 200, 0, 0, false, 40960},        // at most 16 bits: 24576 x 4/3 + 8192
        {16, 16, -1, 0, 0, false, 8704},          // small pictures get the header room all the same
        {0, 0, -1, 0, 0, false, 4155392},         // no dimensions: sized as 1920 x 1080
        {65536, 32768, -1, 0, 0, false, 2147483647}, {40000, 40000, 16, 0, 0, true, 2147483647},
    };
    for (const auto& c : cases) {
        TrackUnderTest track(1, c.lossless ? "V_FFV1" : "V_MPEG2");
        EBMLVideo& video = track.Video(c.width, c.height);
        if (c.bits >= 0) {
            video.colour = std::make_unique<EBMLColour>();
            video.colour->bitsPerChannel = static_cast<uint32_t>(c.bits);
            video.colour->chromaSubsamplingHorz = c.across;
            video.colour->chromaSubsamplingVert = c.down;
            video.colour->chromaSubsamplingStated = true;
        }
        EXPECT_EQ(track.Describe().maxSampleSize, c.expected) << c.width << "x" << c.height << " " << c.bits;
    }
}

TEST(VideoFormat, ParameterSetsStayInsideTheRecordAndTheOutputArea)
{
    const struct {
        Bytes record;
        bool ok;
        int32_t outLength, nalLengthSizeMinusOne; // outLength -7: left untouched
    } cases[] = {
        {Hex("0164001F FF"), false, -7, -1},             // no SPS count
        {Hex("0164001F FD E1 00"), false, -7, 1},        // inside an SPS size
        {Hex("0164001F FC E1 0003 6764"), false, -7, 0}, // SPS past the end
        {Hex("0164001F FF E1 0001 67"), false, -7, 3},   // no PPS count
        {Hex("0164001F FF E0 00"), true, 0, 3},          // no sets at all
        // Sets that fill the 1000-byte area exactly, or overrun it.
        {ebml::Cat({Hex("0164001F FE E1 03E4"), Bytes(996, 0x5A), Hex("00")}), true, 1000, 2},
        {ebml::Cat({Hex("0164001F FE E1 03E5"), Bytes(997, 0x5A), Hex("00")}), false, -7, 2},
        {ebml::Cat({Hex("0164001F FE E1 0258"), Bytes(600, 0x5A), Hex("01 0190"), Bytes(400, 0x5A)}), false, -7, 2},
    };
    for (size_t k = 0; k < std::size(cases); ++k) {
        KelmMKVDemux demux;
        Bytes out(1100, 0xEE);
        int32_t outLength = -7;
        EXPECT_EQ(demux.KL_GetH264SPSPPS(cases[k].record.data(), static_cast<int32_t>(cases[k].record.size()),
                                         out.data(), &outLength),
                  cases[k].ok)
            << "case " << k;
        EXPECT_EQ(outLength, cases[k].outLength) << "case " << k;
        EXPECT_EQ(DemuxInternals::NalLengthSizeMinusOne(demux), cases[k].nalLengthSizeMinusOne) << "case " << k;
        EXPECT_EQ(At(out.data() + 1000, 100), Bytes(100, 0xEE)) << "case " << k;
    }

    // hvcC: 21 bytes of profile fields, 2-byte NAL lengths (byte 21), two arrays: VPS (type 32) with one
    // unit, SEI (39) with two. Counts and sizes that run past the record give no configuration.
    const Bytes hvcC =
        ebml::Cat({Hex("01"), Bytes(20, 0), Hex("FD 02  A0 0001 0002 4001  27 0002 0001 4E 0003 4E0105")});
    TrackUnderTest track(1, "V_MPEGH/ISO/HEVC", hvcC);
    ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
    EXPECT_EQ(At(f.config, f.configSize), Hex("00000001 4001 00000001 4E 00000001 4E0105"));
    EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), hvcC);
    EXPECT_EQ(DemuxInternals::NalLengthSizeMinusOne(track.demux), 1);
    for (long cut : {long{24}, long{22}, static_cast<long>(hvcC.size()) - 1}) {
        TrackUnderTest shortened(1, "V_MPEGH/ISO/HEVC", Bytes(hvcC.begin(), hvcC.begin() + cut));
        EXPECT_EQ(shortened.Describe().configSize, 0) << cut;
    }
}

TEST(VideoFormat, TracksWithoutSettingsSubtitlesAndOtherTypes)
{
    // No Video element: described from zeros.
    TrackUnderTest bare(1, "V_MPEG4/ISO/AVC");
    bare.entry.defaultDuration = 40000000;
    ZOLVDMX_MEDIA_FORMAT_T f = bare.Describe();
    EXPECT_EQ(bare.status, ZOLVDMX_OK);
    EXPECT_EQ(At(f.header, 40), ebml::Cat({Hex("28000000 00000000 00000000 0100 1800 41564331"), Bytes(20, 0)}));
    EXPECT_EQ(At(f.videoExtra, 20), Bytes(20, 0));
    EXPECT_EQ(f.maxSampleSize, 4155392u); // sized as 1920 x 1080, 8-bit 4:2:0
    EXPECT_EQ(f.frameRate, 25000);

    // A subtitle track: no header and no private data, whatever the file holds.
    TrackUnderTest subtitle(17, "S_TEXT/UTF8", {0x01, 0x02});
    f = subtitle.Describe();
    ZOLVDMX_MEDIA_FORMAT_T expected;
    std::memset(&expected, 0, sizeof expected);
    expected.maxSampleSize = 65535;
    expected.seekable = expected.fixedOne1 = expected.fixedOne2 = 1;
    EXPECT_EQ(subtitle.status, ZOLVDMX_OK);
    EXPECT_EQ(At(&f, sizeof f), At(&expected, sizeof expected));

    // Any other type fails and leaves the record as it was, all zero.
    for (uint64_t trackType : {uint64_t{3}, uint64_t{0x100000001}}) {
        TrackUnderTest other(trackType, "V_MPEG4/ISO/AVC");
        other.Video(720, 576);
        f = other.Describe();
        EXPECT_EQ(other.status, ZOLVDMX_E_FAIL) << trackType;
        EXPECT_EQ(At(&f, sizeof f), Bytes(sizeof f, 0)) << trackType;
    }
}
