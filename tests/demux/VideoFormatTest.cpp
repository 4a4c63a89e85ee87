// SetMediaFormat for video, subtitle and other track types, and the H.264
// parameter set extraction.
#include <gtest/gtest.h>

#include <numeric>

#include "demux/FormatTestSupport.h"
#include "matroska/EBMLInfo.h"

namespace {

// AVCDecoderConfigurationRecord with one 25-byte SPS and one 4-byte PPS.
const Bytes kAvcC = {
    0x01, 0x64, 0x00, 0x1F, // version 1, High profile, compatibility, level 3.1
    0xFF,                   // reserved bits, NAL length size 4
    0xE1,                   // reserved bits, 1 SPS
    0x00, 0x19,             // SPS size 25
    0x67, 0x64, 0x00, 0x1F, 0xAC, 0xD9, 0x40, 0x5A, 0x05, 0xBA, 0x10, 0x00, 0x00,
    0x03, 0x00, 0x10, 0x00, 0x00, 0x03, 0x03, 0x20, 0xF1, 0x83, 0x19, 0x60,
    0x01,                               // 1 PPS
    0x00, 0x04, 0x68, 0xEB, 0xE3, 0xCB, // PPS size 4, PPS
};

EBMLTrackEntry& VideoEntry(EBMLTrackEntry& entry, const std::string& codecID, uint32_t width, uint32_t height)
{
    entry.trackType.value = 1;
    SetText(entry.codecID, codecID);
    entry.video = std::make_unique<EBMLVideo>();
    entry.video->pixelWidth = width;
    entry.video->pixelHeight = height;
    return entry;
}

} // namespace

TEST(VideoFormat, DescribesH264TrackWithParameterSetsInStartCodeForm)
{
    TrackUnderTest track;
    track.File().seekAble = true;
    track.File().segments.push_back(std::make_unique<EBMLSegment>(&track.File()));
    track.File().segments[0]->infoList.push_back(std::make_unique<EBMLInfo>());
    track.File().segments[0]->infoList[0]->duration = 5000.0; // ms ticks
    VideoEntry(track.entry, "V_MPEG4/ISO/AVC", 720, 576);
    track.entry.video->displayWidth = 1024;
    track.entry.video->displayHeight = 576;
    track.entry.video->frameRate = 25.0;
    SetBytes(track.entry.codecPrivate, kAvcC);
    ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
    EXPECT_EQ(track.status, 0u);
    EXPECT_EQ(f.codec, 0x31435641u);
    EXPECT_EQ(f.mediaType, 1u);
    EXPECT_EQ(At(f.header, 40), (Bytes{0x28, 0, 0, 0, 0xD0, 0x02, 0, 0, 0x40, 0x02, 0, 0, 1, 0, 24, 0, 'A', 'V', 'C',
                                       '1', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(At(f.videoExtra, 20), (Bytes{0x00, 0x04, 0, 0, 0x40, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), kAvcC);
    EXPECT_EQ(At(f.config, f.configSize),
              (Bytes{0x00, 0x00, 0x00, 0x01, 0x67, 0x64, 0x00, 0x1F, 0xAC, 0xD9, 0x40, 0x5A, 0x05,
                     0xBA, 0x10, 0x00, 0x00, 0x03, 0x00, 0x10, 0x00, 0x00, 0x03, 0x03, 0x20, 0xF1,
                     0x83, 0x19, 0x60, 0x00, 0x00, 0x00, 0x01, 0x68, 0xEB, 0xE3, 0xCB}));
    EXPECT_EQ(DemuxInternals::NalLengthSizeMinusOne(track.demux), 3);
    EXPECT_EQ(f.duration, 50000000);
    EXPECT_EQ(f.maxSampleSize, 829440u);
    EXPECT_EQ(f.frameRate, 25000);
    EXPECT_EQ(f.bitRate, 0u);
    EXPECT_EQ(f.seekable, 1u);
    EXPECT_EQ(f.fixedOne1 + f.fixedOne2, 2u);
}

TEST(VideoFormat, FrameRateFromFrameRateElseDefaultDuration)
{
    const struct {
        double frameRate;
        uint32_t defaultDuration;
        int32_t expected;
    } cases[] = {
        {29.97, 0, 29970},
        {static_cast<double>(29.97f), 0, 29969}, // stored as a 4-byte float
        {0.0, 41708333, 23976},
        {0.0, 0, 0},
        {25.0, 41708333, 25000},
        {-5.0, 40000000, 25000},
        {0.0, 1, -727379968}, // 10^12 keeps its low 32 bits, 0xD4A51000
        {1e300, 0, 2147483647},
    };
    for (const auto& c : cases) {
        TrackUnderTest track;
        VideoEntry(track.entry, "V_MPEG2", 16, 16).video->frameRate = c.frameRate;
        track.entry.defaultDuration = c.defaultDuration;
        EXPECT_EQ(track.Describe().frameRate, c.expected) << c.frameRate << " " << c.defaultDuration;
    }
}

TEST(VideoFormat, DescribesHevcTrackWithEveryParameterSetInStartCodeForm)
{
    // hvcC: 21 bytes of profile fields, 2-byte NAL lengths (byte 21), two
    // arrays: VPS (type 32) with one unit, SEI (39) with two.
    Bytes hvcC(21, 0);
    hvcC[0] = 1;
    Bytes tail = {0xFD, 0x02,                         // length size 2, two arrays
                  0xA0, 0x00, 0x01, 0x00, 0x02, 0x40, 0x01, // VPS: one unit of 2 bytes
                  0x27, 0x00, 0x02, 0x00, 0x01, 0x4E, 0x00, 0x03, 0x4E, 0x01, 0x05};
    hvcC.insert(hvcC.end(), tail.begin(), tail.end());
    TrackUnderTest track;
    SetBytes(VideoEntry(track.entry, "V_MPEGH/ISO/HEVC", 64, 48).codecPrivate, hvcC);
    ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
    EXPECT_EQ(At(f.config, f.configSize),
              (Bytes{0, 0, 0, 1, 0x40, 0x01, 0, 0, 0, 1, 0x4E, 0, 0, 0, 1, 0x4E, 0x01, 0x05}));
    EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), hvcC);
    EXPECT_EQ(DemuxInternals::NalLengthSizeMinusOne(track.demux), 1);

    // Counts and sizes that run past the record give no configuration.
    for (size_t cut : {hvcC.size() - 1, size_t{24}, size_t{22}}) {
        TrackUnderTest shortened;
        SetBytes(VideoEntry(shortened.entry, "V_MPEGH/ISO/HEVC", 64, 48).codecPrivate,
                 Bytes(hvcC.begin(), hvcC.begin() + static_cast<long>(cut)));
        EXPECT_EQ(shortened.Describe().configSize, 0) << cut;
    }
}

TEST(VideoFormat, CodecIdChoosesCodeAndPrivateDataCopies)
{
    const Bytes codecPrivate = {0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01};
    const struct {
        const char* codecID;
        uint32_t codec;
        const char* compression; // biCompression bytes
        int32_t privateSize;
        int32_t configSize;
    } cases[] = {
        {"V_MPEG4/ISO/ASP", 0x5634504D, "MP4V", 8, 8},
        {"V_MPEG4/ISO/SP", 0x34564944, "DIV4", 8, 8},
        {"V_REAL/RV30", 0x00335652, "RV3\0", 8, 0},
        {"V_REAL/RV40", 0x00345652, "RV4\0", 8, 0},
        {"V_REAL/RV", 0x00FF5652, "RV\xFF\0", 8, 0},
        {"V_MPEG2", 0x5632504D, "MP2V", 0, 0},
        {"V_THEORA", 0x4F454854, "THEO", 0, 0},
        {"V_SNOW", 0x574F4E53, "SNOW", 0, 0},
        {"V_VP8", 0x30385056, "VP80", 8, 0},
        {"V_VP9", 0x30395056, "VP90", 8, 0},
        {"V_AV1", 0x31305641, "AV01", 8, 0},
        {"V_MPEGH/ISO/HEVC", 0x43564548, "HEVC", 8, 0}, // not an hvcC record: no configuration
        {"V_MS/VFW/FOURCC", 0, "\0\0\0\0", 0, 0},
        {"V_UNKNOWN", 0, "\0\0\0\0", 0, 0},
    };
    for (const auto& c : cases) {
        TrackUnderTest track;
        VideoEntry(track.entry, c.codecID, 320, 240);
        SetBytes(track.entry.codecPrivate, codecPrivate);
        ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
        EXPECT_EQ(track.status, 0u) << c.codecID;
        EXPECT_EQ(f.codec, c.codec) << c.codecID;
        EXPECT_EQ(At(static_cast<uint8_t*>(f.header) + 16, 4), At(c.compression, 4)) << c.codecID;
        EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), Bytes(codecPrivate.begin(), codecPrivate.begin() + c.privateSize))
            << c.codecID;
        EXPECT_EQ(At(f.config, f.configSize), Bytes(codecPrivate.begin(), codecPrivate.begin() + c.configSize))
            << c.codecID;
    }
}

TEST(VideoFormat, HeaderFromCodecPrivateAsFarAsItReaches)
{
    // 320 x 240 as built: biSize, biWidth, biHeight, planes, bit count, the rest 0.
    const Bytes built = {0x28, 0, 0, 0, 0x40, 0x01, 0, 0, 0xF0, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,
                         0,    0, 0, 0, 0,    0,    0, 0, 0,    0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0};
    Bytes vih(100);
    std::iota(vih.begin(), vih.end(), 0);
    const struct {
        const char* codecID;
        size_t privateLength;
        size_t headerFrom;   // CodecPrivate offset of the copied header bytes
        size_t copiedBytes;  // how many of them replace the built header
        int32_t privateSize; // CodecPrivate copy handed out
    } cases[] = {
        {"V_MS/VFW/FOURCC", 40, 0, 40, 0},      {"V_MPEG1", 88, 48, 40, 88},
        {"V_DSHOW/MPEG1VIDEO", 60, 48, 12, 60}, {"V_MPEG1", 30, 48, 0, 30},
    };
    for (const auto& c : cases) {
        TrackUnderTest track;
        VideoEntry(track.entry, c.codecID, 320, 240);
        SetBytes(track.entry.codecPrivate, Bytes(vih.begin(), vih.begin() + static_cast<long>(c.privateLength)));
        ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
        Bytes expected = built;
        for (size_t k = 0; k < c.copiedBytes; ++k) {
            expected[k] = static_cast<uint8_t>(c.headerFrom + k);
        }
        EXPECT_EQ(At(f.header, 40), expected) << c.codecID << " " << c.privateLength;
        EXPECT_EQ(f.codec, 0u);
        EXPECT_EQ(f.codecPrivateSize, c.privateSize) << c.codecID;
        EXPECT_EQ(f.configSize, 0);
    }
}

TEST(VideoFormat, ParameterSetExtractionStaysInsideRecordAndOutputArea)
{
    // A record with NAL length size 3 and parameter sets of the given sizes.
    auto withSets = [](std::initializer_list<int> spsSizes, std::initializer_list<int> ppsSizes) {
        Bytes record = {0x01, 0x64, 0x00, 0x1F, 0xFE, static_cast<uint8_t>(0xE0 | spsSizes.size())};
        auto append = [&record](int size) {
            record.push_back(static_cast<uint8_t>(size >> 8));
            record.push_back(static_cast<uint8_t>(size));
            record.insert(record.end(), static_cast<size_t>(size), 0x5A);
        };
        for (int size : spsSizes) {
            append(size);
        }
        record.push_back(static_cast<uint8_t>(ppsSizes.size()));
        for (int size : ppsSizes) {
            append(size);
        }
        return record;
    };
    const struct {
        Bytes record;
        bool ok;
        int32_t outLength; // -7: left untouched
        int32_t nalLengthSizeMinusOne;
    } cases[] = {
        {{0x01, 0x64, 0x00, 0x1F, 0xFF}, false, -7, -1},                          // no SPS count
        {{0x01, 0x64, 0x00, 0x1F, 0xFD, 0xE1, 0x00}, false, -7, 1},               // inside an SPS size
        {{0x01, 0x64, 0x00, 0x1F, 0xFC, 0xE1, 0x00, 0x03, 0x67, 0x64}, false, -7, 0}, // SPS past the end
        {{0x01, 0x64, 0x00, 0x1F, 0xFF, 0xE1, 0x00, 0x01, 0x67}, false, -7, 3},   // no PPS count
        {{0x01, 0x64, 0x00, 0x1F, 0xFF, 0xE0, 0x00}, true, 0, 3},                 // no sets at all
        {withSets({996}, {}), true, 1000, 2},                                      // fills the area exactly
        {withSets({997}, {}), false, -7, 2},
        {withSets({600}, {400}), false, -7, 2},
    };
    for (size_t k = 0; k < sizeof cases / sizeof cases[0]; ++k) {
        KelmMKVDemux demux;
        Bytes out(1100, 0xEE);
        int32_t outLength = -7;
        bool ok = demux.KL_GetH264SPSPPS(cases[k].record.data(), static_cast<int32_t>(cases[k].record.size()),
                                         out.data(), &outLength);
        EXPECT_EQ(ok, cases[k].ok) << "case " << k;
        EXPECT_EQ(outLength, cases[k].outLength) << "case " << k;
        EXPECT_EQ(DemuxInternals::NalLengthSizeMinusOne(demux), cases[k].nalLengthSizeMinusOne) << "case " << k;
        EXPECT_EQ(At(out.data() + 1000, 100), Bytes(100, 0xEE)) << "case " << k;
    }
}

TEST(VideoFormat, UnusableAvcRecordKeepsCodecPrivateWithoutConfig)
{
    Bytes truncated = kAvcC;
    truncated[35] = 0x05; // the PPS claims 5 bytes where 4 remain
    for (const Bytes& codecPrivate : {truncated, Bytes{}}) {
        TrackUnderTest track;
        SetBytes(VideoEntry(track.entry, "V_MPEG4/ISO/AVC", 1920, 1080).codecPrivate, codecPrivate);
        ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
        EXPECT_EQ(track.status, 0u);
        EXPECT_EQ(f.codec, 0x31435641u);
        EXPECT_EQ(At(f.codecPrivate, f.codecPrivateSize), codecPrivate);
        EXPECT_EQ(f.configSize, 0);
        EXPECT_EQ(f.config, nullptr);
        EXPECT_EQ(f.maxSampleSize, 4147200u);
    }
}

TEST(VideoFormat, EntryWithoutVideoElementIsDescribedFromZeros)
{
    TrackUnderTest track;
    track.entry.trackType.value = 1;
    SetText(track.entry.codecID, "V_MPEG4/ISO/AVC");
    track.entry.defaultDuration = 40000000;
    ZOLVDMX_MEDIA_FORMAT_T f = track.Describe();
    EXPECT_EQ(track.status, 0u);
    EXPECT_EQ(At(f.header, 40), (Bytes{0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 24, 0, 'A', 'V', 'C', '1',
                                       0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0,   0,   0,   0}));
    EXPECT_EQ(At(f.videoExtra, 20), Bytes(20, 0));
    EXPECT_EQ(f.maxSampleSize, 0u);
    EXPECT_EQ(f.frameRate, 25000);
}

TEST(VideoFormat, SubtitleTrackIsDescribedAndOtherTypesLeftAlone)
{
    TrackUnderTest subtitle;
    subtitle.entry.trackType.value = 17;
    SetText(subtitle.entry.codecID, "S_TEXT/UTF8");
    SetBytes(subtitle.entry.codecPrivate, {0x01, 0x02});
    ZOLVDMX_MEDIA_FORMAT_T f = subtitle.Describe();
    EXPECT_EQ(subtitle.status, 0u);
    EXPECT_EQ(f.mediaType, 0u);
    EXPECT_EQ(f.header, nullptr);
    EXPECT_EQ(f.codecPrivateSize, 0);
    EXPECT_EQ(f.codecPrivate, nullptr);
    EXPECT_EQ(f.maxSampleSize, 65535u);
    EXPECT_EQ(f.seekable, 1u); // whatever the file says
    EXPECT_EQ(f.fixedOne1 + f.fixedOne2, 2u);
    EXPECT_EQ(f.videoExtra, nullptr);

    for (uint64_t trackType : {uint64_t{3}, uint64_t{0x100000001}}) {
        TrackUnderTest other;
        VideoEntry(other.entry, "V_MPEG4/ISO/AVC", 720, 576).trackType.value = trackType;
        ZOLVDMX_MEDIA_FORMAT_T record = other.Describe();
        EXPECT_EQ(other.status, 0x80004005u) << trackType;
        EXPECT_EQ(At(&record, sizeof record), Bytes(sizeof record, 0)) << trackType;
    }
}
