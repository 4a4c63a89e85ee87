// The small real files under tests/data against values read from them with
// desktop tools (the .tsv and .hex files beside them): the track table, the
// format records, every sample of every audio and video track, and seeks to
// times spread over each track.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "LoadedFile.h"
#include "TestData.h"

namespace {

const char* const kFiles[] = {
    "h264_aac.mkv",          "mpeg4_mp3.mkv",   "theora_vorbis.mkv",   "h264_aac_manyclusters.mkv",
    "ac3_only.mkv",          "ffmpeg_gop2s.mkv", "x264_default_gop.mkv", "x264_default_gop_nocues.mkv",
    "mkvmerge_longgop.mkv",  "damaged_cluster.mkv", "two_h264.mkv",     "hevc_opus.mkv",
    "hevc_mkvmerge.mkv",     "vp8_vorbis.webm", "vp9_opus.webm",       "av1_flac.mkv",
    "eac3.mkv",              "pcm.mkv",         "header_stripped.mkv", "zlib_track.mkv",
    "aac_legacy.mkv",        "vorbis_opus_mkvmerge.mkv"};

// The name the tables go by: the file's name without its extension.
std::string Stem(const std::string& file)
{
    return file.substr(0, file.rfind('.'));
}

using Row = std::map<std::string, std::string>;

// Rows of a tab-separated file with a header line, keyed by column name.
std::vector<Row> ReadTable(const std::string& name)
{
    std::ifstream in(std::string(MKV_TEST_DATA_DIR) + "/" + name);
    std::vector<std::string> columns;
    std::vector<Row> rows;
    for (std::string line; std::getline(in, line);) {
        std::stringstream split(line);
        std::vector<std::string> cells;
        for (std::string cell; std::getline(split, cell, '\t');) {
            cells.push_back(cell);
        }
        if (columns.empty()) {
            columns = cells;
            continue;
        }
        Row& row = rows.emplace_back();
        for (size_t i = 0; i < columns.size() && i < cells.size(); ++i) {
            row[columns[i]] = cells[i];
        }
    }
    return rows;
}

int64_t Int(const Row& row, const std::string& column)
{
    return std::stoll(row.at(column));
}

std::vector<uint8_t> FromHex(const std::string& hex)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

uint32_t FourCc(const char* text)
{
    return static_cast<uint32_t>(text[0]) | static_cast<uint32_t>(text[1]) << 8 |
           static_cast<uint32_t>(text[2]) << 16 | static_cast<uint32_t>(text[3]) << 24;
}

// What each codec of the test files is announced as.
struct CodecExpectation {
    uint32_t codec;
    bool privateCopied;   // CodecPrivate handed on as is
    bool privateRepeated; // and repeated as the decoder configuration
};

const std::map<std::string, CodecExpectation> kCodecs = {
    {"V_MPEG4/ISO/AVC", {FourCc("AVC1"), true, false}},  {"V_MPEG4/ISO/ASP", {FourCc("MP4V"), true, true}},
    {"V_MPEGH/ISO/HEVC", {FourCc("HEVC"), true, false}}, {"V_VP8", {FourCc("VP80"), true, false}},
    {"V_VP9", {FourCc("VP90"), true, false}},            {"V_AV1", {FourCc("AV01"), true, false}},
    {"V_THEORA", {FourCc("THEO"), false, false}},        {"A_AAC", {0x00FF, true, false}},
    {"A_AAC/MPEG4/LC", {0x00FF, false, false}},          {"A_AAC/MPEG4/LC/SBR", {0x00FF, false, false}},
    {"A_MPEG/L3", {0x0055, true, false}},                {"A_VORBIS", {0x674F, true, false}},
    {"A_AC3", {0x2000, true, false}},                    {"A_EAC3", {0x2000, true, false}},
    {"A_OPUS", {0x704F, true, false}},                   {"A_FLAC", {0xF1AC, true, false}},
    {"A_PCM/INT/LIT", {0, false, false}},
};

// AAC tracks that signal SBR are announced at their output rate: what
// ffprobe reports for them (the stored SamplingFrequency is the core rate).
const std::map<std::pair<std::string, int64_t>, int64_t> kAnnouncedRates = {
    {{"aac_legacy", 1}, 48000}, {{"aac_legacy", 2}, 48000}, {{"aac_legacy", 3}, 48000}};

// The track table the library builds: the tracks it can deliver whole, by
// their index in the file. Compressed other than by header stripping,
// tracks are left out.
std::map<int64_t, int32_t> AdmittedTracks(const std::vector<Row>& tracks)
{
    std::map<int64_t, int32_t> admitted;
    int32_t next = 0;
    for (const Row& row : tracks) {
        auto compression = row.find("compression");
        if (compression == row.end() || compression->second == "none" ||
            compression->second == "header_stripping") {
            admitted[std::stoll(row.at("index"))] = next++;
        }
    }
    return admitted;
}

// The little-endian field of `size` bytes at offset `at` of a record.
uint32_t Le(const void* base, size_t at, size_t size = 4)
{
    const auto* p = static_cast<const uint8_t*>(base) + at;
    uint32_t value = 0;
    for (size_t k = size; k-- > 0;) {
        value = value << 8 | p[k];
    }
    return value;
}

// The decoder configuration of each H.264 or HEVC track, by track index.
std::map<int64_t, std::vector<uint8_t>> ReadConfigs(const std::string& file)
{
    std::map<int64_t, std::vector<uint8_t>> configs;
    int64_t track = -1;
    for (const Row& row : ReadTable(file + ".config.hex")) {
        if (row.at("key") == "track_index") {
            track = std::stoll(row.at("value"));
        } else if (row.at("key") == "config") {
            configs[track] = FromHex(row.at("value"));
        }
    }
    return configs;
}

// The expected frames of each track, in delivery order.
std::map<int64_t, std::vector<Row>> FramesByTrack(const std::string& file)
{
    std::map<int64_t, std::vector<Row>> byTrack;
    for (const Row& row : ReadTable(file + ".frames.tsv")) {
        byTrack[Int(row, "track_index")].push_back(row);
    }
    return byTrack;
}

} // namespace

TEST(RealFiles, TrackTableAndFormatRecordsMatchTheFiles)
{
    for (const char* fileName : kFiles) {
        const std::string name = Stem(fileName);
        SCOPED_TRACE(name);
        LoadedFile file(ReadTestFile(fileName));
        ASSERT_EQ(file.loadStatus, ZOLVDMX_OK);
        std::vector<Row> tracks = ReadTable(name + ".tracks.tsv");
        std::map<int64_t, int32_t> admitted = AdmittedTracks(tracks);
        ASSERT_EQ(file.Tracks(), static_cast<int32_t>(admitted.size()));

        for (const Row& row : tracks) {
            if (admitted.count(Int(row, "index")) == 0) {
                continue;
            }
            int32_t index = admitted.at(Int(row, "index"));
            int64_t type = Int(row, "track_type");
            SCOPED_TRACE(row.at("codec_id"));
            ZOLVDMX_MEDIA_FORMAT_T f = file.Format(index);
            EXPECT_EQ(API_ZOLVDMX_GetTrackType(file.handle, index), type == 1 ? 1 : type == 2 ? 0 : 2);
            EXPECT_EQ(f.seekable, 1u) << "every test file has a SeekHead";
            if (type == 17) {
                EXPECT_EQ(f.mediaType, 0u);
                EXPECT_EQ(f.header, nullptr);
                EXPECT_EQ(f.maxSampleSize, 65535u);
                continue;
            }
            const CodecExpectation& codec = kCodecs.at(row.at("codec_id"));
            int64_t privateSize = Int(row, "codec_private_size");
            auto settings = row.find("content_comp_settings");
            auto stripped = static_cast<uint32_t>(settings == row.end() ? 0 : settings->second.size() / 2);
            EXPECT_EQ(f.codec, codec.codec);
            EXPECT_EQ(f.duration, Int(row, "segment_duration_ns") / 100);
            EXPECT_EQ(f.fixedOne1, 1u);
            EXPECT_EQ(f.fixedOne2, 1u);
            ASSERT_NE(f.header, nullptr);
            if (type == 1) {
                int64_t width = Int(row, "pixel_width");
                int64_t height = Int(row, "pixel_height");
                int64_t frameNs = Int(row, "default_duration_ns");
                EXPECT_EQ(f.mediaType, 1u);
                EXPECT_EQ(f.maxSampleSize, static_cast<uint32_t>(width * height * 2) + stripped);
                EXPECT_EQ(f.frameRate, frameNs > 0 ? static_cast<int32_t>(1000000000000LL / frameNs) : 0);
                EXPECT_EQ(f.bitRate, 0u);
                EXPECT_EQ(Le(f.header, 0), 40u);
                EXPECT_EQ(Le(f.header, 4), static_cast<uint32_t>(width));
                EXPECT_EQ(Le(f.header, 8), static_cast<uint32_t>(height));
                EXPECT_EQ(Le(f.header, 14, 2), 24u);
                EXPECT_EQ(Le(f.header, 16), codec.codec);
                ASSERT_NE(f.videoExtra, nullptr);
                EXPECT_EQ(Le(f.videoExtra, 0), static_cast<uint32_t>(Int(row, "display_width")));
                EXPECT_EQ(Le(f.videoExtra, 4), static_cast<uint32_t>(Int(row, "display_height")));
            } else {
                // Absent Channels and SamplingFrequency read as the Matroska defaults.
                int64_t channels = Int(row, "channels") == 0 ? 1 : Int(row, "channels");
                int64_t rate = std::llround(std::stod(row.at("sampling_frequency")));
                auto announced = kAnnouncedRates.find({name, Int(row, "index")});
                int64_t bits = Int(row, "bit_depth");
                EXPECT_EQ(f.mediaType, 2u);
                EXPECT_EQ(f.maxSampleSize, 409600u + stripped);
                EXPECT_EQ(f.frameRate, 0);
                EXPECT_EQ(f.bitRate, static_cast<uint32_t>(rate * bits * channels));
                EXPECT_EQ(Le(f.header, 0, 2), codec.codec != 0 ? codec.codec : 1u); // PCM: tag 1
                EXPECT_EQ(Le(f.header, 2, 2), channels);
                EXPECT_EQ(Le(f.header, 4), static_cast<uint32_t>(announced != kAnnouncedRates.end() ? announced->second
                                                                                                  : rate));
                EXPECT_EQ(f.videoExtra, nullptr);
            }
            if (codec.codec == 0xFF && !codec.privateCopied) {
                // A configuration generated from the legacy ID: the object
                // type, then the rate's index and the channels.
                ASSERT_EQ(f.codecPrivateSize, 5);
                uint32_t rateIndex = Int(row, "sampling_frequency") == 48000 ? 3 : Int(row, "sampling_frequency") == 24000 ? 6 : 4;
                EXPECT_EQ(f.codecPrivate[0] & 0x07, rateIndex >> 1);
                EXPECT_EQ(f.codecPrivate[1], ((rateIndex & 1) << 7) | (Int(row, "channels") << 3));
            } else {
                EXPECT_EQ(f.codecPrivateSize, codec.privateCopied ? privateSize : 0);
            }
            if (codec.codec == FourCc("AVC1") || codec.codec == FourCc("HEVC")) {
                std::vector<uint8_t> config = ReadConfigs(name).at(Int(row, "index"));
                ASSERT_EQ(f.configSize, static_cast<int32_t>(config.size()));
                EXPECT_EQ(std::vector<uint8_t>(f.config, f.config + f.configSize), config);
            } else {
                EXPECT_EQ(f.configSize, codec.privateRepeated ? privateSize : 0);
            }
        }
    }
}

TEST(RealFiles, EverySampleOfEveryTrackMatchesTheFile)
{
    for (const char* fileName : kFiles) {
        const std::string name = Stem(fileName);
        std::map<int64_t, std::vector<uint8_t>> configs = ReadConfigs(name);
        std::map<int64_t, int32_t> admitted = AdmittedTracks(ReadTable(name + ".tracks.tsv"));
        for (const auto& [track, expected] : FramesByTrack(name)) {
            if (admitted.count(track) == 0) {
                continue;
            }
            SCOPED_TRACE(name + " track " + std::to_string(track));
            // A handle of its own per track: the cursors are shared by type.
            LoadedFile file(ReadTestFile(fileName), false);
            int32_t index = admitted.at(track);
            bool video = API_ZOLVDMX_GetTrackType(file.handle, index) == 1;
            if (configs.count(track) != 0) {
                Sample config = file.Next(index);
                EXPECT_EQ(config.bytes, configs.at(track));
            }
            std::vector<Sample> samples = file.All(index);
            ASSERT_EQ(samples.size(), expected.size());
            for (size_t i = 0; i < samples.size(); ++i) {
                const Row& row = expected[i];
                SCOPED_TRACE("sample " + std::to_string(i));
                ASSERT_EQ(samples[i].status, ZOLVDMX_OK);
                EXPECT_EQ(samples[i].start, Int(row, "start_100ns"));
                EXPECT_EQ(samples[i].end, Int(row, "end_100ns"));
                EXPECT_EQ(static_cast<int64_t>(samples[i].bytes.size()), Int(row, "size"));
                EXPECT_EQ(Md5Hex(samples[i].bytes), row.at("md5"));
                bool sync = !video || Int(row, "key") == 1 || samples[i].start == 0;
                EXPECT_EQ(samples[i].sync, sync ? 1u : 0u);
            }
        }
    }
}

TEST(RealFiles, SeeksLandOnTheLatestSuitableFrameAtOrBeforeTheRequest)
{
    // Video lands on the latest key frame at or before the request (the first
    // key frame when there is none), audio on its latest frame; the time
    // handed back is that frame's start; from the end of the last frame on,
    // the track is at its end; at or below 0, on its first frame.
    for (const char* fileName : kFiles) {
        const std::string name = Stem(fileName);
        std::map<int64_t, int32_t> admitted = AdmittedTracks(ReadTable(name + ".tracks.tsv"));
        for (const auto& [track, frames] : FramesByTrack(name)) {
            if (admitted.count(track) == 0) {
                continue;
            }
            SCOPED_TRACE(name + " track " + std::to_string(track));
            LoadedFile file(ReadTestFile(fileName), false);
            int32_t index = admitted.at(track);
            bool video = API_ZOLVDMX_GetTrackType(file.handle, index) == 1;
            if (ReadConfigs(name).count(track) != 0) {
                file.Next(index); // the configuration, once per track
            }
            int64_t end = 0;
            for (const Row& row : frames) {
                end = std::max(end, Int(row, "end_100ns"));
            }
            // Requests every 0.37 s from before the start to past the end,
            // then the exact start of every tenth suitable frame.
            std::vector<int64_t> requests;
            for (int64_t t = -1000000; t < end + 5000000; t += 3700000) {
                requests.push_back(t);
            }
            requests.push_back(end);
            requests.push_back(end - 1);
            for (size_t i = 0, n = 0; i < frames.size(); ++i) {
                if ((!video || Int(frames[i], "key") == 1) && n++ % 10 == 0) {
                    requests.push_back(Int(frames[i], "start_100ns"));
                }
            }
            for (int64_t requested : requests) {
                SCOPED_TRACE("seek to " + std::to_string(requested));
                const Row* landing = nullptr;
                for (const Row& row : frames) {
                    bool suitable = !video || Int(row, "key") == 1;
                    if (requested <= 0) {
                        landing = &frames.front();
                        break;
                    }
                    if (suitable && Int(row, "start_100ns") <= requested &&
                        (landing == nullptr || Int(row, "start_100ns") >= Int(*landing, "start_100ns"))) {
                        landing = &row;
                    }
                }
                if (landing == nullptr) {
                    for (const Row& row : frames) {
                        if (Int(row, "key") == 1) {
                            landing = &row;
                            break;
                        }
                    }
                }
                int64_t result = 0;
                ASSERT_EQ(file.Seek(index, requested, result), ZOLVDMX_OK);
                Sample next = file.Next(index);
                if (requested >= end) {
                    EXPECT_EQ(result, requested);
                    EXPECT_EQ(next.status, ZOLVDMX_END_OF_TRACK);
                    continue;
                }
                ASSERT_NE(landing, nullptr);
                ASSERT_EQ(next.status, ZOLVDMX_OK);
                EXPECT_EQ(result, Int(*landing, "start_100ns"));
                EXPECT_EQ(next.start, result);
                EXPECT_EQ(Md5Hex(next.bytes), landing->at("md5"));
                if (video) {
                    EXPECT_EQ(next.sync, 1u);
                }
            }
        }
    }
}
