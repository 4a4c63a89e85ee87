// The small real files under tests/data against values read from them with
// desktop tools (the .tsv and .hex files beside them): the track table, the
// format records, every sample of every audio and video track, and seeks.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "LoadedFile.h"
#include "TestData.h"

namespace {

const char* const kFiles[] = {"h264_aac", "mpeg4_mp3", "theora_vorbis", "h264_aac_manyclusters", "ac3_only"};

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
    {"V_MPEG4/ISO/AVC", {FourCc("AVC1"), true, false}}, {"V_MPEG4/ISO/ASP", {FourCc("MP4V"), true, true}},
    {"V_THEORA", {FourCc("THEO"), false, false}},      {"A_AAC", {0x00FF, false, false}},
    {"A_MPEG/L3", {0x0055, true, false}},               {"A_VORBIS", {0x674F, true, false}},
    {"A_AC3", {0x2000, true, false}},
};

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

std::map<std::string, std::string> ReadConfig(const std::string& file)
{
    std::map<std::string, std::string> values;
    for (const Row& row : ReadTable(file + ".h264config.hex")) {
        values[row.at("key")] = row.at("value");
    }
    return values;
}

} // namespace

TEST(RealFiles, TrackTableAndFormatRecordsMatchTheFiles)
{
    for (const char* name : kFiles) {
        SCOPED_TRACE(name);
        LoadedFile file(ReadTestFile(std::string(name) + ".mkv"));
        ASSERT_EQ(file.loadStatus, ZOLVDMX_OK);
        std::vector<Row> tracks = ReadTable(std::string(name) + ".tracks.tsv");
        ASSERT_EQ(file.Tracks(), static_cast<int32_t>(tracks.size()));

        for (const Row& row : tracks) {
            auto index = static_cast<int32_t>(Int(row, "index"));
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
            EXPECT_EQ(f.codec, codec.codec);
            EXPECT_EQ(f.duration, Int(row, "segment_duration_ns") / 100);
            EXPECT_EQ(f.fixedOne1, 1u);
            EXPECT_EQ(f.fixedOne2, 1u);
            ASSERT_NE(f.header, nullptr);
            if (type == 1) {
                int64_t width = Int(row, "pixel_width");
                int64_t height = Int(row, "pixel_height");
                EXPECT_EQ(f.mediaType, 1u);
                EXPECT_EQ(f.maxSampleSize, static_cast<uint32_t>(width * height * 2));
                EXPECT_EQ(f.frameRate, static_cast<int32_t>(1000000000000LL / Int(row, "default_duration_ns")));
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
                int64_t bits = Int(row, "bit_depth");
                EXPECT_EQ(f.mediaType, 2u);
                EXPECT_EQ(f.maxSampleSize, 409600u);
                EXPECT_EQ(f.frameRate, 0);
                EXPECT_EQ(f.bitRate, static_cast<uint32_t>(rate * bits * channels));
                EXPECT_EQ(Le(f.header, 0, 2), codec.codec);
                EXPECT_EQ(Le(f.header, 2, 2), channels);
                EXPECT_EQ(Le(f.header, 4), static_cast<uint32_t>(rate));
                EXPECT_EQ(f.videoExtra, nullptr);
            }
            if (row.at("codec_id") == "A_AAC") {
                // The generated AudioSpecificConfig: LC, the rate's index, the channels.
                ASSERT_EQ(f.codecPrivateSize, 5);
                uint32_t rateIndex = Int(row, "sampling_frequency") == 48000 ? 3 : 4;
                EXPECT_EQ(f.codecPrivate[0], 0x10 | (rateIndex >> 1));
                EXPECT_EQ(f.codecPrivate[1], ((rateIndex & 1) << 7) | (Int(row, "channels") << 3));
            } else {
                EXPECT_EQ(f.codecPrivateSize, codec.privateCopied ? privateSize : 0);
            }
            if (codec.codec == FourCc("AVC1")) {
                std::map<std::string, std::string> config = ReadConfig(name);
                ASSERT_EQ(f.configSize, std::stoi(config.at("config_size")));
                EXPECT_EQ(std::vector<uint8_t>(f.config, f.config + f.configSize), FromHex(config.at("config")));
            } else {
                EXPECT_EQ(f.configSize, codec.privateRepeated ? privateSize : 0);
            }
        }
    }
}

TEST(RealFiles, EverySampleOfEveryTrackMatchesTheFile)
{
    for (const char* name : kFiles) {
        std::vector<Row> packets = ReadTable(std::string(name) + ".packets.tsv");
        std::map<int64_t, std::vector<Row>> byTrack;
        for (const Row& row : packets) {
            byTrack[Int(row, "track_index")].push_back(row);
        }
        for (const auto& [track, expected] : byTrack) {
            SCOPED_TRACE(std::string(name) + " track " + std::to_string(track));
            // A handle of its own per track: the cursors are shared by type.
            LoadedFile file(ReadTestFile(std::string(name) + ".mkv"));
            auto index = static_cast<int32_t>(track);
            bool video = API_ZOLVDMX_GetTrackType(file.handle, index) == 1;
            if (file.Format(index).configSize > 0 && file.Format(index).codec == FourCc("AVC1")) {
                Sample config = file.Next(index);
                EXPECT_EQ(config.bytes, FromHex(ReadConfig(name).at("config")));
            }
            std::vector<Sample> samples = file.All(index);
            ASSERT_EQ(samples.size(), expected.size());
            for (size_t i = 0; i < samples.size(); ++i) {
                const Row& row = expected[i];
                SCOPED_TRACE("sample " + std::to_string(i));
                ASSERT_EQ(samples[i].status, ZOLVDMX_OK);
                EXPECT_EQ(samples[i].start, Int(row, "start_100ns"));
                EXPECT_EQ(static_cast<int64_t>(samples[i].bytes.size()), Int(row, "size"));
                EXPECT_EQ(Md5Hex(samples[i].bytes), row.at("md5"));
                bool sync = !video || Int(row, "key") == 1 || samples[i].start == 0;
                EXPECT_EQ(samples[i].sync, sync ? 1u : 0u);
            }
        }
    }
}

TEST(RealFiles, VideoSeeksLandOnKeyFramesAtTheTimeReturned)
{
    for (const char* name : {"h264_aac", "mpeg4_mp3", "theora_vorbis", "h264_aac_manyclusters"}) {
        std::vector<Row> packets = ReadTable(std::string(name) + ".packets.tsv");
        std::map<int64_t, const Row*> keyFrames; // video key frames by start time
        for (const Row& row : packets) {
            if (Int(row, "track_index") == 0 && Int(row, "key") == 1) {
                keyFrames[Int(row, "start_100ns")] = &row;
            }
        }
        for (int64_t requested : {3000000LL, 10000000LL, 17000000LL, 25000000LL, 38000000LL}) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(requested));
            LoadedFile file(ReadTestFile(std::string(name) + ".mkv"));
            int64_t result = 0;
            ASSERT_EQ(file.Seek(0, requested, result), ZOLVDMX_OK);
            Sample first = file.Next(0);
            if (file.Format(0).codec == FourCc("AVC1")) {
                first = file.Next(0); // past the configuration sample
            }
            if (first.status == ZOLVDMX_END_OF_TRACK) {
                // Nothing of the track follows the requested time.
                EXPECT_GE(requested, keyFrames.rbegin()->first);
                continue;
            }
            ASSERT_EQ(first.status, ZOLVDMX_OK);
            EXPECT_EQ(first.start, result);
            EXPECT_EQ(first.sync, 1u);
            auto key = keyFrames.find(first.start);
            ASSERT_NE(key, keyFrames.end()) << "lands on a key frame";
            EXPECT_EQ(Md5Hex(first.bytes), key->second->at("md5"));
        }
    }
}
