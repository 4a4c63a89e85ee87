// Writes the seed files that the test writer builds: small files with the
// structures real muxers seldom write together (every lacing kind, block
// groups, cues before and after the clusters, unknown sizes, content
// encodings, many or empty clusters, blocks sharing one time, every codec
// family the library describes, chapters, tags, attachments, two segments).
//   make_fuzz_seeds OUTDIR
// fuzz/make_seeds.sh runs it beside the cuts of the real test files.
#include <cstdio>
#include <string>
#include <vector>

#include "EbmlWriter.h"
#include "MatroskaBuilder.h"

using namespace ebml;
using namespace mkv;

namespace {

enum : uint32_t {
    kBitDepth = 0x6264, kFlagLacing = 0x9C, kLanguage = 0x22B59C, kName = 0x536E, kDisplayWidth = 0x54B0,
    kDisplayHeight = 0x54BA, kTrackTimecodeScale = 0x23314F, kContentEncodings = 0x6D80, kContentEncoding = 0x6240,
    kContentEncodingScope = 0x5032, kContentCompression = 0x5034, kContentCompAlgo = 0x4254,
    kContentCompSettings = 0x4255, kChapters = 0x1043A770, kEditionEntry = 0x45B9, kChapterAtom = 0xB6,
    kChapterUid = 0x73C4, kChapterTimeStart = 0x91, kChapterDisplay = 0x80, kChapString = 0x85, kTag = 0x7373,
    kSimpleTag = 0x67C8, kTagName = 0x45A3, kTagString = 0x4487, kAttachments = 0x1941A469, kAttachedFile = 0x61A7,
    kFileName = 0x466E, kFileMimeType = 0x4660, kFileData = 0x465C, kFileUid = 0x46AE, kCrc32 = 0xBF,
    kMuxingApp = 0x4D80, kWritingApp = 0x5741, kPosition = 0xA7, kPrevSize = 0xAB,
};

enum : uint8_t { kKey = 0x80, kXiph = 0x02, kFixed = 0x04, kEbmlLacing = 0x06 };

// A length-prefixed H.264 or HEVC frame: one NAL unit of `size` bytes.
Bytes AvcFrame(uint8_t nalType, size_t size)
{
    Bytes nal(size, 0x5A);
    nal[0] = nalType;
    return Cat({{0, 0, static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)}, nal});
}

// avcC with one SPS and one PPS and four-byte NAL lengths.
const Bytes kAvcConfig = {0x01, 0x64, 0x00, 0x1E, 0xFF, 0xE1, 0x00, 0x0A, 0x67, 0x64, 0x00, 0x1E, 0xAC,
                          0xD9, 0x41, 0x41, 0xFB, 0x01, 0x01, 0x00, 0x04, 0x68, 0xEB, 0xE3, 0xCB};
// hvcC with a VPS, an SPS and a PPS.
const Bytes kHevcConfig = {0x01, 0x01, 0x60, 0x00, 0x00, 0x00, 0x90, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5D,
                           0xF0, 0x00, 0xFC, 0xFD, 0xF8, 0xF8, 0x00, 0x00, 0x0F, 0x03, 0xA0, 0x00, 0x01,
                           0x00, 0x04, 0x40, 0x01, 0x0C, 0x01, 0xA1, 0x00, 0x01, 0x00, 0x05, 0x42, 0x01,
                           0x01, 0x01, 0x60, 0xA2, 0x00, 0x01, 0x00, 0x03, 0x44, 0x01, 0xC1};
const Bytes kAacConfig = {0x12, 0x10};
// Three Xiph-laced header packets, as Vorbis and Theora store them.
Bytes XiphHeaders(const std::string& magic)
{
    Bytes first = Cat({{0x01}, Bytes(magic.begin(), magic.end()), Filler(20, 0x11)});
    Bytes second = Cat({{0x03}, Bytes(magic.begin(), magic.end()), Filler(8, 0x22)});
    Bytes third = Cat({{0x05}, Bytes(magic.begin(), magic.end()), Filler(30, 0x33)});
    return Cat({{0x02, static_cast<uint8_t>(first.size()), static_cast<uint8_t>(second.size())}, first, second, third});
}
const Bytes kOpusHead = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, 2, 0x38, 0x01, 0x80, 0xBB, 0, 0, 0, 0, 0};
const Bytes kFlacHeader = Cat({{'f', 'L', 'a', 'C', 0x80, 0x00, 0x00, 0x22}, Filler(34, 0x10)});
// A BITMAPINFOHEADER (40 bytes, little-endian) of a 64x48 XVID picture.
const Bytes kBitmapInfo = {40, 0, 0, 0, 64, 0, 0, 0, 48, 0, 0, 0, 1, 0, 24, 0, 'X', 'V', 'I', 'D',
                           0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0,  0, 0,   0,   0,   0};
// A WAVEFORMATEX (18 bytes) of 16-bit stereo PCM at 44100 Hz.
const Bytes kWaveFormat = {0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10,
                           0xB1, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x00};

Bytes Frame(size_t size, uint8_t fill)
{
    return Bytes(size, fill);
}

// A SeekHead naming Info, Tracks and Cues at four-byte positions, so that
// its size does not depend on where they are.
Bytes SeekHead(uint64_t info, uint64_t tracks, uint64_t cues)
{
    auto seek = [](uint32_t id, uint64_t position) {
        return Master(kSeek, {Bin(kSeekId, Id(id)), UInt(kSeekPosition, position, 4)});
    };
    return Master(kSeekHead, {seek(kInfo, info), seek(kTracks, tracks), seek(kCues, cues)});
}

struct Cue {
    uint64_t time, track;
    size_t cluster; // index into the clusters
};

// A Segment of SeekHead, Info, Tracks, the clusters and Cues (before or
// after the clusters), every position worked out from the sizes. Cluster
// positions take four bytes, so the layout is fixed before they are known.
Bytes IndexedFile(const Bytes& info, const Bytes& tracks, const std::vector<Bytes>& clusters,
                  const std::vector<Cue>& cues, bool cuesFirst, const std::string& docType = "matroska")
{
    auto cuesAt = [&](const std::vector<uint64_t>& positions) {
        std::vector<Bytes> points;
        for (const Cue& cue : cues) {
            points.push_back(Master(kCuePoint, {UInt(kCueTime, cue.time),
                                                Master(kCueTrackPositions,
                                                       {UInt(kCueTrack, cue.track),
                                                        UInt(kCueClusterPosition, positions[cue.cluster], 4)})}));
        }
        return Master(kCues, points);
    };
    const size_t seekHeadSize = SeekHead(0, 0, 0).size();
    const size_t cuesSize = cuesAt(std::vector<uint64_t>(clusters.size(), 0)).size();
    uint64_t at = seekHeadSize + info.size() + tracks.size() + (cuesFirst ? cuesSize : 0);
    const uint64_t cuesPosition = cuesFirst ? at - cuesSize : 0;
    std::vector<uint64_t> positions;
    for (const Bytes& cluster : clusters) {
        positions.push_back(at);
        at += cluster.size();
    }
    const Bytes index = cuesAt(positions);
    std::vector<Bytes> children{SeekHead(seekHeadSize, seekHeadSize + info.size(), cuesFirst ? cuesPosition : at),
                                info, tracks};
    if (cuesFirst) {
        children.push_back(index);
    }
    children.insert(children.end(), clusters.begin(), clusters.end());
    if (!cuesFirst) {
        children.push_back(index);
    }
    return File(children, docType);
}

Bytes EncodedTrack(uint64_t number, uint64_t type, const std::string& codecId, uint64_t algorithm,
                   const Bytes& settings, const std::vector<Bytes>& more)
{
    Bytes compression = Master(kContentCompression, {UInt(kContentCompAlgo, algorithm),
                                                     settings.empty() ? Bytes{} : Bin(kContentCompSettings, settings)});
    Bytes encodings = Master(kContentEncodings,
                             {Master(kContentEncoding, {UInt(kContentEncodingScope, 1), compression})});
    std::vector<Bytes> children = more;
    children.push_back(encodings);
    return TrackEntry(number, type, codecId, children);
}

struct Seed {
    const char* name;
    Bytes bytes;
};

std::vector<Seed> Seeds()
{
    std::vector<Seed> seeds;
    const Bytes avcTrack = VideoTrack(1, "V_MPEG4/ISO/AVC", 64, 48, kAvcConfig);
    const Bytes aacTrack = AudioTrack(2, "A_AAC", 44100.0, 2, kAacConfig);

    // H.264 and AAC, three clusters, cues after the clusters and before them.
    std::vector<Bytes> clusters;
    for (uint64_t c = 0; c < 3; ++c) {
        clusters.push_back(Cluster(c * 120, {SimpleBlock(1, 0, kKey, AvcFrame(0x65, 40)),
                                             SimpleBlock(2, 0, kKey, Frame(12, 0x21)),
                                             SimpleBlock(1, 80, 0, AvcFrame(0x41, 14)),
                                             SimpleBlock(1, 40, 0, AvcFrame(0x01, 9)),
                                             SimpleBlock(2, 23, kKey, Frame(11, 0x22)),
                                             SimpleBlock(2, 46, kKey, Frame(13, 0x23))}));
    }
    const std::vector<Cue> videoCues{{0, 1, 0}, {120, 1, 1}, {240, 1, 2}};
    seeds.push_back({"avc_aac_cues_after", IndexedFile(Info(1000000, 360.0), Tracks({avcTrack, aacTrack}), clusters,
                                                       videoCues, false)});
    seeds.push_back({"avc_aac_cues_before", IndexedFile(Info(1000000, 360.0), Tracks({avcTrack, aacTrack}), clusters,
                                                        videoCues, true)});

    // Each lacing kind, on an audio track beside a small video track.
    auto lacedFile = [&](const std::string& codec, const Bytes& codecPrivate, uint8_t lacing, const Bytes& lace) {
        std::vector<Bytes> laced;
        for (uint64_t c = 0; c < 2; ++c) {
            laced.push_back(Cluster(c * 100, {SimpleBlock(1, 0, kKey, Frame(30, 0x10)),
                                              SimpleBlock(2, 0, kKey | lacing, lace),
                                              SimpleBlock(2, 50, kKey | lacing, lace)}));
        }
        return IndexedFile(Info(), Tracks({VideoTrack(1, "V_VP8", 64, 48), AudioTrack(2, codec, 48000.0, 2,
                                                                                      codecPrivate)}),
                           laced, {{0, 1, 0}, {100, 1, 1}}, false);
    };
    // Xiph: four frames, sizes 3, 300 (255 + 45) and 2; the last takes the rest.
    seeds.push_back({"lacing_xiph", lacedFile("A_VORBIS", XiphHeaders("vorbis"), kXiph,
                                              Cat({{0x03, 0x03, 0xFF, 0x2D, 0x02}, Frame(3, 1), Frame(300, 2),
                                                   Frame(2, 3), Frame(5, 4)}))});
    // EBML: four frames, sizes 10, 12 (+2), 9 (-3); the last takes the rest.
    seeds.push_back({"lacing_ebml", lacedFile("A_MPEG/L3", {}, kEbmlLacing,
                                              Cat({{0x03, 0x8A, 0xC1, 0xBC}, Frame(10, 1), Frame(12, 2), Frame(9, 3),
                                                   Frame(7, 4)}))});
    // Fixed: eight frames of six bytes.
    seeds.push_back({"lacing_fixed", lacedFile("A_AC3", {}, kFixed, Cat({{0x07}, Frame(48, 5)}))});

    // Block groups with references and durations, a laced Block, subtitles.
    std::vector<Bytes> grouped;
    for (uint64_t c = 0; c < 3; ++c) {
        grouped.push_back(Cluster(c * 200, {BlockGroup(1, 0, Frame(30, 0x30)),
                                            Master(kBlockGroup, {Element(kBlock, BlockPayload(2, 0, kFixed,
                                                                                              Cat({{0x03}, Frame(24, 7)}))),
                                                                 UInt(kBlockDuration, 96)}),
                                            BlockGroup(1, 80, Frame(10, 0x31), {-80}),
                                            BlockGroup(1, 40, Frame(8, 0x32), {-40, 40}),
                                            Master(kBlockGroup, {Element(kBlock, BlockPayload(3, 10, 0, Frame(6, 'a'))),
                                                                 UInt(kBlockDuration, 150)})}));
    }
    seeds.push_back({"blockgroups", IndexedFile(Info(), Tracks({VideoTrack(1, "V_MPEG4/ISO/ASP", 176, 144, Frame(12, 0)),
                                                                AudioTrack(2, "A_MPEG/L2", 32000.0, 1),
                                                                SubtitleTrack(3)}),
                                                grouped, {{0, 1, 0}, {200, 1, 1}, {400, 1, 2}, {410, 3, 2}}, false)});

    // A Segment and clusters of unknown size, HEVC and Opus.
    std::vector<Bytes> open;
    for (uint64_t c = 0; c < 3; ++c) {
        open.push_back(UnknownSizeElement(kCluster, Cat({UInt(kTimecode, c * 60),
                                                         SimpleBlock(1, 0, c == 0 ? kKey : 0, AvcFrame(0x26, 20)),
                                                         SimpleBlock(2, 0, kKey, Frame(9, 0x40)),
                                                         SimpleBlock(2, 20, kKey, Frame(9, 0x41))})));
    }
    seeds.push_back({"unknown_sizes",
                     Cat({EbmlHeader(), UnknownSizeElement(kSegment,
                                                           Cat({Info(), Tracks({VideoTrack(1, "V_MPEGH/ISO/HEVC", 64, 48,
                                                                                           kHevcConfig),
                                                                                AudioTrack(2, "A_OPUS", 48000.0, 2,
                                                                                           kOpusHead)}),
                                                                Cat(open)}))})});

    // Header stripping on video, zlib on audio (left compressed by the
    // library), on a non-default time code scale.
    std::vector<Bytes> stripped;
    for (uint64_t c = 0; c < 2; ++c) {
        stripped.push_back(Cluster(c * 50, {SimpleBlock(1, 0, kKey, Frame(20, 0x50)),
                                            SimpleBlock(2, 0, kKey, Frame(16, 0x78)),
                                            SimpleBlock(1, 20, 0, Frame(7, 0x51))}));
    }
    seeds.push_back({"content_encodings",
                     IndexedFile(Info(20832), Tracks({EncodedTrack(1, 1, "V_MPEG4/ISO/AVC", 3, {0x00, 0x00, 0x00, 0x01},
                                                                   {Master(kVideo, {UInt(kPixelWidth, 64),
                                                                                    UInt(kPixelHeight, 48)}),
                                                                    Bin(kCodecPrivate, kAvcConfig)}),
                                                      EncodedTrack(2, 2, "A_FLAC", 0, {},
                                                                   {Master(kAudio, {Float64(kSamplingFrequency, 44100.0),
                                                                                    UInt(kChannels, 2)}),
                                                                    Bin(kCodecPrivate, kFlacHeader)})}),
                                 stripped, {{0, 1, 0}, {50, 1, 1}}, false)});

    // More clusters than the load indexes, no cues; VP9 and Opus.
    std::vector<Bytes> many;
    for (uint64_t c = 0; c < 40; ++c) {
        many.push_back(Cluster(c * 40, {SimpleBlock(1, 0, c % 10 == 0 ? kKey : 0, Frame(6, static_cast<uint8_t>(c))),
                                        SimpleBlock(2, 0, kKey, Frame(3, 0x60))}));
    }
    seeds.push_back({"many_clusters", File({Info(1000000, 1600.0),
                                            Tracks({TrackEntry(1, 1, "V_VP9", {Master(kVideo, {UInt(kPixelWidth, 64),
                                                                                                UInt(kPixelHeight, 48)}),
                                                                                UInt(kDefaultDuration, 40000000)}),
                                                    AudioTrack(2, "A_OPUS", 48000.0, 2, kOpusHead)}),
                                            Cat(many)})});

    // Key blocks that share one time, and empty clusters before the data:
    // small forms of shapes that grow costly when repeated.
    std::vector<Bytes> sameTime;
    for (int k = 0; k < 12; ++k) {
        sameTime.push_back(SimpleBlock(1, 0, kKey, Frame(4, static_cast<uint8_t>(k))));
    }
    seeds.push_back({"same_time_keys", IndexedFile(Info(), Tracks({VideoTrack(1, "V_VP8", 32, 32)}),
                                                   {Cluster(0, sameTime), Cluster(10, {SimpleBlock(1, 0, kKey, Frame(4, 9))})},
                                                   {{0, 1, 0}, {10, 1, 1}}, false, "webm")});
    std::vector<Bytes> empties;
    for (uint64_t c = 0; c < 20; ++c) {
        empties.push_back(Cluster(c * 10, {}));
    }
    empties.push_back(Cluster(200, {SimpleBlock(1, 0, kKey, Frame(12, 0x70)), SimpleBlock(2, 0, kKey, Frame(10, 0x71))}));
    seeds.push_back({"empty_clusters", File({Info(), Tracks({VideoTrack(1, "V_AV1", 64, 48, {0x81, 0x00, 0x0C, 0x00}),
                                                             AudioTrack(2, "A_FLAC", 44100.0, 1, kFlacHeader)}),
                                             Cat(empties)})});

    // Every other video and audio family, one block each.
    auto oneBlockEach = [](const std::vector<Bytes>& entries) {
        std::vector<Bytes> blocks;
        for (size_t k = 0; k < entries.size(); ++k) {
            blocks.push_back(SimpleBlock(k + 1, static_cast<int16_t>(k), kKey, Frame(8 + k, static_cast<uint8_t>(k))));
        }
        Bytes tracks = Master(kTracks, entries);
        return File({Info(), tracks, Cluster(0, blocks), Cluster(100, blocks)});
    };
    seeds.push_back({"video_families",
                     oneBlockEach({VideoTrack(1, "V_MS/VFW/FOURCC", 64, 48, kBitmapInfo),
                                   VideoTrack(2, "V_THEORA", 64, 48, XiphHeaders("theora")),
                                   VideoTrack(3, "V_MPEG2", 64, 48, Frame(8, 0xB3)),
                                   VideoTrack(4, "V_MPEG1", 64, 48, Frame(90, 0x01)),
                                   VideoTrack(5, "V_MPEG4/ISO/SP", 64, 48),
                                   VideoTrack(6, "V_MPEG4/MS/V3", 64, 48),
                                   VideoTrack(7, "V_REAL/RV40", 64, 48, Frame(34, 0x52)),
                                   VideoTrack(8, "V_SNOW", 64, 48),
                                   TrackEntry(9, 1, "V_MPEG4/ISO/AVC",
                                              {Master(kVideo, {UInt(kPixelWidth, 64), UInt(kPixelHeight, 48),
                                                               UInt(kDisplayWidth, 128), UInt(kDisplayHeight, 96)}),
                                               Bin(kCodecPrivate, kAvcConfig), UInt(kDefaultDuration, 33366667)})})});
    seeds.push_back({"audio_families",
                     oneBlockEach({AudioTrack(1, "A_MS/ACM", 44100.0, 2, kWaveFormat),
                                   TrackEntry(2, 2, "A_PCM/INT/LIT",
                                              {Master(kAudio, {Float64(kSamplingFrequency, 44100.0), UInt(kChannels, 2),
                                                               UInt(kBitDepth, 16)})}),
                                   AudioTrack(3, "A_DTS", 48000.0, 6),
                                   AudioTrack(4, "A_EAC3", 48000.0, 6),
                                   AudioTrack(5, "A_AAC/MPEG4/LC/SBR", 24000.0, 2),
                                   AudioTrack(6, "A_AAC/MPEG2/MAIN", 22050.0, 1),
                                   AudioTrack(7, "A_REAL/COOK", 44100.0, 2, Frame(80, 0x2E)),
                                   AudioTrack(8, "A_MPEG/L2", 44100.0, 2),
                                   TrackEntry(9, 2, "A_VORBIS", {Master(kAudio, {Float32(kSamplingFrequency, 8000.0f)}),
                                                                 Bin(kCodecPrivate, XiphHeaders("vorbis")),
                                                                 UInt(kTrackTimecodeScale, 0x3FF0000000000000, 8)})})});

    // Chapters, tags and attachments, CRC-32 and Void elements, negative
    // block times, and a second Segment.
    const Bytes extras = Cat({Master(kChapters, {Master(kEditionEntry,
                                                        {Master(kChapterAtom, {UInt(kChapterUid, 7),
                                                                               UInt(kChapterTimeStart, 0),
                                                                               Master(kChapterDisplay,
                                                                                      {Str(kChapString, "one")})})})}),
                              Master(kTags, {Master(kTag, {Master(kSimpleTag, {Str(kTagName, "TITLE"),
                                                                               Str(kTagString, "seed")})})}),
                              Master(kAttachments, {Master(kAttachedFile, {Str(kFileName, "a.txt"),
                                                                           Str(kFileMimeType, "text/plain"),
                                                                           Bin(kFileData, Frame(16, 'x')),
                                                                           UInt(kFileUid, 9)})})});
    const Bytes dressedTracks = Tracks({TrackEntry(1, 1, "V_VP8", {Str(kName, "picture"), Str(kLanguage, "und"),
                                                                   UInt(kFlagLacing, 0),
                                                                   Master(kVideo, {UInt(kPixelWidth, 32),
                                                                                   UInt(kPixelHeight, 32)})}),
                                        AudioTrack(2, "A_OPUS", 48000.0, 2, kOpusHead)});
    const Bytes dressedCluster = Master(kCluster, {Element(kCrc32, {0, 0, 0, 0}), UInt(kTimecode, 1000),
                                                   UInt(kPosition, 0), UInt(kPrevSize, 0),
                                                   SimpleBlock(1, -20, kKey, Frame(9, 0x80)),
                                                   Element(kVoid, Filler(3)),
                                                   SimpleBlock(2, -1000, kKey, Frame(5, 0x81)),
                                                   SimpleBlock(1, 0x7FFF, 0, Frame(4, 0x82))});
    const Bytes segment = Element(kSegment, Cat({Master(kInfo, {UInt(kTimecodeScale, 1000000), Str(kMuxingApp, "seed"),
                                                                Str(kWritingApp, "seed")}),
                                                 Element(kVoid, Filler(5)), dressedTracks, extras, dressedCluster}),
                                  8);
    seeds.push_back({"chapters_tags_two_segments", Cat({EbmlHeader("webm"), segment, segment})});
    return seeds;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    for (const Seed& seed : Seeds()) {
        const std::string path = std::string(argv[1]) + "/" + seed.name + ".mkv";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(seed.bytes.data(), 1, seed.bytes.size(), file) != seed.bytes.size() ||
            std::fclose(file) != 0) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
