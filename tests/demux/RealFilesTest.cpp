// Each real file under tests/data, in a test named after it, against the tables read from it with desktop
// tools: the track table, every format record, every sample and seeks spread over each track, through hosts
// answering every read whole or with at most 1, 7 or 4096 bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "EbmlWriter.h"
#include "LoadedFile.h"
#include "Md5.h"
#include "TestData.h"

namespace {

using Row = std::map<std::string, std::string>;

// Rows of a tab-separated file with a header line, keyed by column name.
std::vector<Row> ReadTable(const std::string& name)
{
    const Bytes text = ReadTestFile(name);
    std::stringstream in(std::string(text.begin(), text.end()));
    std::vector<std::string> columns;
    std::vector<Row> rows;
    for (std::string line, cell; std::getline(in, line);) {
        std::stringstream split(line);
        for (size_t i = 0; std::getline(split, cell, '\t'); ++i) {
            if (columns.size() == i && rows.empty()) {
                columns.push_back(cell);
            } else if (i < columns.size()) {
                (i == 0 ? rows.emplace_back() : rows.back())[columns[i]] = cell;
            }
        }
    }
    return rows;
}

int64_t Int(const Row& row, const std::string& column)
{
    return std::stoll(row.at(column));
}

struct Frame {
    int64_t start, end;
    bool key;
    std::string md5;
};

// What the tables say of one file. A track compressed other than by header stripping is left out of the
// track table: its frames would not decode.
struct Expected {
    std::string name;
    Bytes bytes;
    std::vector<Row> tracks;
    std::map<size_t, Bytes> configs;              // H.264 and HEVC parameter sets, by track
    std::map<size_t, std::vector<Frame>> frames;  // audio and video, by track, in delivery order
};

// The real files of tests/data in name order, each with the parity of its place, which varies the hosts.
using RealFile = std::pair<std::string, size_t>;
std::vector<RealFile> RealFiles()
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(MKV_TEST_DATA_DIR)) {
        if (entry.path().extension() == ".mkv" || entry.path().extension() == ".webm") {
            names.insert(entry.path().filename().string());
        }
    }
    std::vector<RealFile> files;
    for (const std::string& name : names) {
        files.emplace_back(name, files.size() % 2);
    }
    return files;
}

Expected ReadExpected(const std::string& name)
{
    const std::string stem = name.substr(0, name.rfind('.'));
    Expected file{name, ReadTestFile(name), {}, {}, {}};
    std::map<int64_t, size_t> admitted; // index in the file: index in the track table
    for (const Row& row : ReadTable(stem + ".tracks.tsv")) {
        if (row.count("compression") == 0 || row.at("compression") != "zlib") {
            admitted[Int(row, "index")] = file.tracks.size();
            file.tracks.push_back(row);
        }
    }
    int64_t track = -1;
    for (const Row& row : ReadTable(stem + ".config.hex")) {
        track = row.at("key") == "track_index" ? Int(row, "value") : track;
        if (row.at("key") == "config") {
            file.configs[admitted.at(track)] = Hex(row.at("value"));
        }
    }
    for (const Row& row : ReadTable(stem + ".frames.tsv")) {
        if (admitted.count(Int(row, "track_index")) != 0) {
            file.frames[admitted.at(Int(row, "track_index"))].push_back(
                {Int(row, "start_100ns"), Int(row, "end_100ns"), Int(row, "key") == 1, row.at("md5")});
        }
    }
    return file;
}

// The little-endian field of `size` bytes at offset `at` of a record.
int64_t Le(const void* base, size_t at, size_t size = 4)
{
    int64_t value = 0;
    for (size_t k = size; k-- > 0;) {
        value = value << 8 | static_cast<const uint8_t*>(base)[at + k];
    }
    return value;
}

uint32_t FourCc(const char (&text)[5]) { return static_cast<uint32_t>(Le(text, 0)); }

// What each codec of the test files is announced as: the code, whether CodecPrivate is handed on as is
// and whether it is repeated as the decoder configuration.
const std::map<std::string, std::tuple<uint32_t, bool, bool>> kCodecs = {
    {"V_MPEG4/ISO/AVC", {FourCc("AVC1"), true, false}},  {"V_MPEG4/ISO/ASP", {FourCc("MP4V"), true, true}},
    {"V_MPEGH/ISO/HEVC", {FourCc("HEVC"), true, false}}, {"V_VP8", {FourCc("VP80"), true, false}},
    {"V_VP9", {FourCc("VP90"), true, false}},            {"V_AV1", {FourCc("AV01"), true, false}},
    {"V_THEORA", {FourCc("THEO"), false, false}},        {"A_AAC", {0x00FF, true, false}},
    {"A_AAC/MPEG4/LC", {0x00FF, false, false}},          {"A_AAC/MPEG4/LC/SBR", {0x00FF, false, false}},
    {"A_MPEG/L3", {0x0055, true, false}},                {"A_VORBIS", {0x674F, true, false}},
    {"A_AC3", {0x2000, true, false}},                    {"A_EAC3", {0x2000, true, false}},
    {"A_OPUS", {0x704F, true, false}},                   {"A_FLAC", {0xF1AC, true, false}},
    {"A_PCM/INT/LIT", {0, false, false}},                {"V_MS/VFW/FOURCC", {0, false, false}},
};

// Samples per pixel, doubled, and bytes per sample of ffprobe's picture formats; the first file set, which
// has no pix_fmt column, is 8-bit 4:2:0 throughout.
const std::map<std::string, std::pair<int64_t, int64_t>> kPictureFormats = {
    {"", {3, 1}}, {"yuv420p", {3, 1}}, {"yuv444p", {6, 1}}, {"yuv420p10le", {3, 2}}, {"yuv422p10le", {4, 2}}};
// Files whose configuration allows lossless coding (x264 and x265 lossless, FFV1).
const std::set<std::string> kLosslessFiles = {"h264_lossless_444.mkv", "h264_lossless_noise.mkv",
                                              "hevc_lossless_422.mkv", "ffv1_10bit_422.mkv"};

// The buffer a video track asks for: four thirds of the raw picture (width x height x 2 for 8-bit 4:2:0, so
// the bound grows only by the 8 KiB of header room for the ordinary files), twice it for lossless coding.
int64_t VideoBound(const std::string& file, const Row& row)
{
    const int64_t pixels = Int(row, "pixel_width") * Int(row, "pixel_height");
    const auto [halfSamples, bytes] = kPictureFormats.at(row.count("pix_fmt") != 0 ? row.at("pix_fmt") : "");
    const int64_t twiceRaw = pixels * halfSamples * bytes;
    return std::max(kLosslessFiles.count(file) != 0 ? twiceRaw : twiceRaw * 2 / 3, pixels * 2) + 8192;
}

// AAC tracks signalling SBR are announced at their output rate, as ffprobe reports (the stored one is the core rate).
const std::map<std::pair<std::string, int64_t>, int64_t> kAnnouncedRates = {
    {{"aac_legacy.mkv", 1}, 48000}, {{"aac_legacy.mkv", 2}, 48000}, {{"aac_legacy.mkv", 3}, 48000}};

// Where a seek to `request` lands: video on the latest key frame at or before it (the first key frame
// when there is none), audio on its latest frame; at or below 0 on the first frame; null from the end on.
const Frame* Landing(const std::vector<Frame>& frames, bool video, int64_t request)
{
    int64_t end = 0;
    const Frame* landing = nullptr;
    const Frame* firstKey = nullptr;
    for (const Frame& frame : frames) {
        end = std::max(end, frame.end);
        if (!video || frame.key) {
            firstKey = firstKey != nullptr ? firstKey : &frame;
            if (frame.start <= request && (landing == nullptr || frame.start >= landing->start)) {
                landing = &frame;
            }
        }
    }
    if (request >= end) {
        return nullptr;
    }
    return request <= 0 ? &frames.front() : landing != nullptr ? landing : firstKey;
}

// A host over the file whose reads deliver at most `answer` bytes (-1: all asked for).
MemoryReader Host(const Expected& file, int32_t answer)
{
    MemoryReader host(file.bytes);
    host.maxReadSize = answer;
    return host;
}

// A seek and the sample after it, against where the seek must land (null: at the end).
void ExpectLanding(LoadedFile& file, int32_t track, int64_t request, const Frame* landing)
{
    int64_t result = 0;
    ASSERT_EQ(file.Seek(track, request, result), ZOLVDMX_OK);
    const Sample next = file.Next(track);
    EXPECT_EQ(next.status, landing != nullptr ? ZOLVDMX_OK : ZOLVDMX_END_OF_TRACK);
    EXPECT_EQ(result, landing != nullptr ? landing->start : request);
    if (landing != nullptr && next.status == ZOLVDMX_OK) {
        EXPECT_EQ(next.start, result);
        EXPECT_EQ(Md5Hex(next.bytes.data(), next.bytes.size()), landing->md5);
        EXPECT_EQ(next.sync, 1u);
    }
}

// The track table and every format record of a loaded file against its tables.
void ExpectFormats(const LoadedFile& file, const Expected& expected)
{
    ASSERT_EQ(file.Tracks(), static_cast<int32_t>(expected.tracks.size()));
    for (int32_t index = 0; index < file.Tracks(); ++index) {
        const Row& row = expected.tracks[static_cast<size_t>(index)];
        SCOPED_TRACE(row.at("codec_id"));
        const ZOLVDMX_MEDIA_FORMAT_T f = file.Format(index);
        EXPECT_EQ(f.seekable, row.count("seek_head") == 0 || row.at("seek_head") == "1" ? 1u : 0u);
        if (Int(row, "track_type") == 17) {
            EXPECT_EQ(file.Type(index), ZOLVDMX_TRACK_SUBTITLE);
            EXPECT_EQ(f.header, nullptr);
            EXPECT_EQ(f.maxSampleSize, 65535u);
            continue;
        }
        const auto [codec, privateCopied, privateRepeated] = kCodecs.at(row.at("codec_id"));
        const bool video = Int(row, "track_type") == 1;
        const int64_t privateSize = Int(row, "codec_private_size");
        const int64_t rate = std::llround(std::stod(row.at("sampling_frequency")));
        const auto stripped = static_cast<uint32_t>(row.count("content_comp_settings") == 0
                                                        ? 0 : row.at("content_comp_settings").size() / 2);
        EXPECT_EQ(file.Type(index), video ? ZOLVDMX_TRACK_VIDEO : ZOLVDMX_TRACK_AUDIO);
        EXPECT_EQ(f.mediaType, video ? 1u : 2u);
        EXPECT_EQ(f.codec, codec);
        EXPECT_EQ(f.duration, Int(row, "segment_duration_ns") / 100);
        EXPECT_EQ(f.fixedOne1 + f.fixedOne2, 2u);
        ASSERT_NE(f.header, nullptr);
        if (video) {
            const int64_t width = Int(row, "pixel_width");
            const int64_t height = Int(row, "pixel_height");
            const int64_t frameNs = Int(row, "default_duration_ns");
            // Delivery below checks that every frame fits.
            EXPECT_EQ(f.maxSampleSize, VideoBound(expected.name, row) + stripped);
            EXPECT_EQ(f.frameRate, frameNs > 0 ? 1000000000000LL / frameNs : 0);
            EXPECT_EQ(f.bitRate, 0u);
            // Size, width, height, one plane of 24 bits, the code (Video for Windows: its own header, here FFV1's).
            const uint32_t named = row.at("codec_id") == "V_MS/VFW/FOURCC" ? FourCc("FFV1") : codec;
            EXPECT_EQ(At(f.header, 20), ebml::Cat({{40, 0, 0, 0}, At(&width, 4), At(&height, 4), {1, 0, 24, 0},
                                                   At(&named, 4)}));
            ASSERT_NE(f.videoExtra, nullptr);
            EXPECT_EQ(Le(f.videoExtra, 0), Int(row, "display_width"));
            EXPECT_EQ(Le(f.videoExtra, 4), Int(row, "display_height"));
        } else {
            const int64_t channels = std::max<int64_t>(Int(row, "channels"), 1); // absent: the default
            auto announced = kAnnouncedRates.find({expected.name, Int(row, "index")});
            EXPECT_EQ(f.maxSampleSize, 409600u + stripped);
            EXPECT_EQ(f.frameRate, 0);
            EXPECT_EQ(f.bitRate, rate * Int(row, "bit_depth") * channels);
            EXPECT_EQ(Le(f.header, 0, 2), codec != 0 ? codec : 1u); // PCM: tag 1
            EXPECT_EQ(Le(f.header, 2, 2), channels);
            EXPECT_EQ(Le(f.header, 4), announced != kAnnouncedRates.end() ? announced->second : rate);
            EXPECT_EQ(f.videoExtra, nullptr);
        }
        if (codec == 0xFF && !privateCopied) {
            // Generated from the legacy ID: object type, the rate's index, the channels.
            const uint8_t rateIndex = rate == 48000 ? 3 : rate == 24000 ? 6 : 4;
            ASSERT_EQ(f.codecPrivateSize, 5);
            EXPECT_EQ(f.codecPrivate[0] & 0x07, rateIndex >> 1);
            EXPECT_EQ(f.codecPrivate[1], ((rateIndex & 1) << 7) | (Int(row, "channels") << 3));
        } else {
            EXPECT_EQ(f.codecPrivateSize, privateCopied ? privateSize : 0);
        }
        const auto config = expected.configs.find(static_cast<size_t>(index));
        EXPECT_EQ(At(f.config, f.configSize),
                  config != expected.configs.end() ? config->second
                  : privateRepeated                ? At(f.codecPrivate, f.codecPrivateSize)
                                                   : Bytes{});
    }
}

} // namespace

class EveryFile : public testing::TestWithParam<RealFile> {}; // each named after its file: h264_aac_mkv
INSTANTIATE_TEST_SUITE_P(RealFiles, EveryFile, testing::ValuesIn(RealFiles()),
                         [](const auto& info) { return std::regex_replace(info.param.first, std::regex("\\W"), "_"); });

TEST_P(EveryFile, FormatRecordsSamplesAndSeeksMatchTheTables)
{
    ASSERT_GE(RealFiles().size(), 32u); // one gone from tests/data fails every file's test
    const auto& [name, parity] = GetParam();
    const Expected expected = ReadExpected(name);
    // Every sample of each track, on a handle of its own (the cursors are shared by media type): through a
    // host that answers whole reads or 7 bytes at a time, one that knows no length, and one over a file still
    // being written, of which only what comes before the first cluster exists at first and 8 KiB more each
    // time the library asks the length again.
    const std::vector<Row> clusters = ReadTable(name.substr(0, name.rfind('.')) + ".clusters.tsv");
    const int64_t firstCluster = clusters.empty() ? 32768 : Int(clusters.front(), "file_offset");
    for (const auto& [index, frames] : expected.frames) {
        for (int host = 0; host < 3; ++host) {
            SCOPED_TRACE(expected.name + " track " + std::to_string(index) + " host " + std::to_string(host));
            MemoryReader reader = Host(expected, host == 0 ? ((index + parity) % 2 == 0 ? -1 : 7) : 4096);
            reader.unknownLength = host == 1;
            reader.visibleSize = host == 2 ? firstCluster : -1;
            reader.growth = 8192;
            LoadedFile file(std::move(reader));
            const auto track = static_cast<int32_t>(index);
            if (expected.configs.count(index) != 0) {
                EXPECT_EQ(file.Next(track).bytes, expected.configs.at(index));
            }
            const bool video = file.Type(track) == ZOLVDMX_TRACK_VIDEO;
            // While the file grows, the end is answered when the frames written so far are delivered; the
            // next request goes on with what was written since.
            std::vector<Sample> samples;
            for (size_t asked = 0; asked < 4 * file.host.bytes.size(); ++asked) {
                Sample next = file.Next(track);
                if (next.status == ZOLVDMX_END_OF_TRACK && file.host.Size() == static_cast<int64_t>(file.host.bytes.size())) {
                    break;
                }
                if (next.status != ZOLVDMX_END_OF_TRACK) {
                    samples.push_back(std::move(next));
                }
            }
            ASSERT_EQ(samples.size(), frames.size());
            for (size_t i = 0; i < samples.size(); ++i) {
                SCOPED_TRACE("sample " + std::to_string(i));
                ASSERT_EQ(samples[i].status, ZOLVDMX_OK);
                EXPECT_EQ(samples[i].start, frames[i].start);
                EXPECT_EQ(samples[i].end, frames[i].end);
                EXPECT_EQ(Md5Hex(samples[i].bytes.data(), samples[i].bytes.size()), frames[i].md5);
                EXPECT_EQ(samples[i].sync, !video || frames[i].key || frames[i].start == 0 ? 1u : 0u);
            }
        }
    }

    // The format records, then seeks on every track of one handle in turn: every 0.37 s from before the
    // start to past the end, at 0 and 1, at and just before every tenth suitable frame and each track's end.
    LoadedFile file(Host(expected, parity == 0 ? 4096 : 1));
    ASSERT_EQ(file.loadStatus, ZOLVDMX_OK);
    ExpectFormats(file, expected);
    std::set<int64_t> requests{0, 1};
    for (int64_t t = -1000000; t < 300000000; t += 3700000) {
        requests.insert(t);
    }
    for (const auto& [index, frames] : expected.frames) {
        const bool video = file.Type(static_cast<int32_t>(index)) == ZOLVDMX_TRACK_VIDEO;
        int64_t end = 0;
        for (size_t i = 0, n = 0; i < frames.size(); ++i) {
            if ((!video || frames[i].key) && n++ % 10 == 0) {
                requests.insert({frames[i].start, frames[i].start - 1});
            }
            end = std::max(end, frames[i].end);
        }
        requests.insert({end, end - 1});
        if (expected.configs.count(index) != 0) {
            file.Next(static_cast<int32_t>(index)); // the parameter sets, once per track
        }
    }
    // Each seek twice in a row (the second lands where the first did), and as the first seek of a fresh
    // handle, which knows nothing of the file but what loading read.
    for (int64_t request : requests) {
        for (const auto& [index, frames] : expected.frames) {
            SCOPED_TRACE(expected.name + " track " + std::to_string(index) + " to " + std::to_string(request));
            const auto track = static_cast<int32_t>(index);
            const Frame* landing = Landing(frames, file.Type(track) == ZOLVDMX_TRACK_VIDEO, request);
            ExpectLanding(file, track, request, landing);
            ExpectLanding(file, track, request, landing);
            LoadedFile fresh(Host(expected, 4096));
            if (expected.configs.count(index) != 0) {
                fresh.Next(track); // the parameter sets come first on a fresh handle
            }
            ExpectLanding(fresh, track, request, landing);
        }
    }
}

// Two tracks of one media type share a read position: read in turn on one handle they lose frames, while
// one track read to its end and the other seeked to 0 afterwards both come whole.
TEST(RealFilesOneType, TracksOfOneTypeReadInTurnLoseFramesButPlayWholeOneAfterTheOther)
{
    for (const std::string name : {"vorbis_opus_mkvmerge.mkv", "two_h264.mkv"}) {
        SCOPED_TRACE(name);
        const Expected expected = ReadExpected(name);
        int32_t first = -1;
        int32_t second = -1;
        size_t total = 0;
        size_t interleaved = 0;
        {
            LoadedFile file(Host(expected, -1));
            for (const auto& [a, framesA] : expected.frames) {
                for (const auto& [b, framesB] : expected.frames) {
                    if (first < 0 && a < b && file.Type(static_cast<int32_t>(a)) == file.Type(static_cast<int32_t>(b))) {
                        first = static_cast<int32_t>(a);
                        second = static_cast<int32_t>(b);
                    }
                }
            }
            ASSERT_GE(first, 0);
            for (bool more = true; more;) {
                more = false;
                for (int32_t track : {first, second}) {
                    if (file.Next(track).status == ZOLVDMX_OK) {
                        more = true;
                        ++interleaved;
                    }
                }
            }
        }
        LoadedFile file(Host(expected, -1));
        for (int32_t track : {first, second}) {
            if (track == second) {
                int64_t reached = -1;
                ASSERT_EQ(API_ZOLVDMX_Seek(file.handle, track, 0, &reached), ZOLVDMX_OK);
            }
            std::vector<Sample> samples;
            for (Sample next = file.Next(track); next.status == ZOLVDMX_OK; next = file.Next(track)) {
                samples.push_back(std::move(next));
            }
            const std::vector<Frame>& frames = expected.frames.at(static_cast<size_t>(track));
            const size_t configs = expected.configs.count(static_cast<size_t>(track));
            ASSERT_EQ(samples.size(), frames.size() + configs);
            for (size_t i = 0; i < frames.size(); ++i) {
                EXPECT_EQ(samples[i + configs].start, frames[i].start);
                EXPECT_EQ(Md5Hex(samples[i + configs].bytes.data(), samples[i + configs].bytes.size()), frames[i].md5);
            }
            total += samples.size();
        }
        EXPECT_LT(interleaved, total / 2) << "lost " << 100 - 100 * interleaved / total << " %";
    }
}
