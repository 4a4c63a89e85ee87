// The real test files, and a longer file than the streams' read-ahead
// window, through a host that answers short, fails a chosen read or seek,
// misreports the length or refuses an open. Short answers change nothing a
// host can see; every fault ends in documented results, with every host
// handle closed (the sanitizer build adds leaks and bad accesses).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "MatroskaBuilder.h"
#include "Md5.h"
#include "MemoryReader.h"
#include "TestData.h"
#include "zolvdmx.h"

namespace {

const char* const kFiles[] = {"h264_aac", "mpeg4_mp3", "theora_vorbis", "h264_aac_manyclusters", "ac3_only",
                              "long"};

// About half a megabyte, so that the streams refill their windows during
// playback and seeks, where the real files (each smaller than a window) are
// read whole at load: four one-second clusters of 25 video frames of 5000
// bytes and 47 audio frames, with Cues found through a SeekHead.
std::vector<uint8_t> BuildLongFile()
{
    using namespace ebml;
    std::vector<Bytes> children{mkv::SeekHeadFor(mkv::kCues, 0), mkv::Info(1000000, 4000.0),
                                mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP"), mkv::AudioTrack(2, "A_AC3")})};
    std::vector<mkv::CueEntry> cues;
    uint64_t offset = Cat(children).size();
    for (int second = 0; second < 4; ++second) {
        cues.push_back({static_cast<uint64_t>(second) * 1000, 1, offset});
        std::vector<Bytes> blocks;
        for (int video = 0, audio = 0; video < 25 || audio < 47;) {
            if (video < 25 && (audio >= 47 || video * 40 <= audio * 21)) {
                Bytes frame(5000, static_cast<uint8_t>(video));
                frame[0] = static_cast<uint8_t>(second);
                blocks.push_back(SimpleBlock(1, static_cast<int16_t>(video * 40), video == 0 ? 0x80 : 0x00, frame));
                ++video;
            } else {
                blocks.push_back(SimpleBlock(2, static_cast<int16_t>(audio * 21), 0x80, Bytes(300, 0xA0)));
                ++audio;
            }
        }
        children.push_back(mkv::Cluster(static_cast<uint64_t>(second) * 1000, blocks));
        offset += children.back().size();
    }
    children[0] = mkv::SeekHeadFor(mkv::kCues, offset);
    children.push_back(mkv::Cues(cues));
    return mkv::File(children);
}

// Seek targets (100 ns): inside, before the start, at it, near and past the end.
const int64_t kSeekTimes[] = {25000000, -1, 0, 38000000, 3000000, 900000000};

std::string Hex(const void* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; p != nullptr && i < size; ++i) {
        text += digits[p[i] >> 4];
        text += digits[p[i] & 15];
    }
    return text;
}

// Everything a host sees of one run, and what went against the contract.
struct Playback {
    std::vector<std::string> transcript;
    std::vector<std::string> problems;
};

bool IsAudioOrVideo(int32_t type)
{
    return type == ZOLVDMX_TRACK_VIDEO || type == ZOLVDMX_TRACK_AUDIO;
}

// One handle over `host`, loaded; destroyed (and every host handle checked
// closed) when it goes.
class Handle {
public:
    Handle(MemoryReader& host, Playback& run) : host(host), run(run)
    {
        API_ZOLVDMX_Create(&handle, host.Callbacks());
        uint32_t status = API_ZOLVDMX_Load(handle, host.Name());
        run.transcript.push_back("load " + std::to_string(status));
        if (status != ZOLVDMX_OK && status != ZOLVDMX_E_FAIL) {
            run.problems.push_back("load answered " + std::to_string(status));
        }
        tracks = API_ZOLVDMX_GetNumTracks(handle);
        if (tracks < 0 || tracks > 128) {
            run.problems.push_back("track count " + std::to_string(tracks));
            tracks = 0;
        }
    }
    ~Handle()
    {
        API_ZOLVDMX_Destroy(handle);
        if (host.openHandles != 0) {
            run.problems.push_back(std::to_string(host.openHandles) + " host handles left open");
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    int32_t Type(int32_t track) { return API_ZOLVDMX_GetTrackType(handle, track); }

    ZOLVDMX_MEDIA_FORMAT_T Format(int32_t track)
    {
        ZOLVDMX_MEDIA_FORMAT_T format{};
        API_ZOLVDMX_GetMediaFormat(handle, track, &format);
        return format;
    }

    // The track table and format records, as text.
    void Describe()
    {
        for (int32_t track = 0; track < tracks; ++track) {
            ZOLVDMX_MEDIA_FORMAT_T f = Format(track);
            size_t headerSize = f.mediaType == 1   ? sizeof(ZOLVDMX_BITMAPINFOHEADER_T)
                                : f.mediaType == 2 ? sizeof(ZOLVDMX_WAVEFORMATEX_T)
                                                   : 0;
            run.transcript.push_back(
                "track " + std::to_string(track) + " type " + std::to_string(Type(track)) + " codec " +
                std::to_string(f.codec) + " media " + std::to_string(f.mediaType) + " duration " +
                std::to_string(f.duration) + " max " + std::to_string(f.maxSampleSize) + " rate " +
                std::to_string(f.bitRate) + "/" + std::to_string(f.frameRate) + " seekable " +
                std::to_string(f.seekable) + " header " + Hex(f.header, headerSize) + " private " +
                Hex(f.codecPrivate, static_cast<size_t>(std::max(f.codecPrivateSize, 0))) + " config " +
                Hex(f.config, static_cast<size_t>(std::max(f.configSize, 0))) + " extra " +
                Hex(f.videoExtra, f.videoExtra != nullptr ? sizeof(ZOLVDMX_VIDEO_EXTRA_T) : 0));
        }
    }

    // One sample request into a buffer of exactly the size the track asks
    // for, so that the sanitizer sees a write past it; the status.
    uint32_t Next(int32_t track)
    {
        ZOLVDMX_MEDIA_FORMAT_T f = Format(track);
        size_t size = std::max<size_t>({f.maxSampleSize, static_cast<size_t>(std::max(f.configSize, 0)), 1});
        if (size != bufferSize) {
            // Kept while the size stays: a fresh one per request costs minutes
            // under the sanitizer.
            buffer.reset(new uint8_t[size]);
            bufferSize = size;
        }
        ZOLVDMX_MEDIA_SAMPLE_T sample{};
        sample.buffer = buffer.get();
        uint32_t status = API_ZOLVDMX_GetNextMediaSample(handle, track, &sample);
        bool documented = IsAudioOrVideo(Type(track)) ? status == ZOLVDMX_OK || status == ZOLVDMX_END_OF_TRACK ||
                                                            status == ZOLVDMX_E_FAIL
                                                      : status == ZOLVDMX_E_UNSUPPORTED;
        if (!documented) {
            run.problems.push_back("track " + std::to_string(track) + " sample answered " + std::to_string(status));
        }
        std::string line = "sample " + std::to_string(track) + " " + std::to_string(status);
        if (status == ZOLVDMX_OK) {
            if (sample.size < 0 || static_cast<size_t>(sample.size) > size) {
                run.problems.push_back("sample of " + std::to_string(sample.size) + " bytes");
                sample.size = 0;
            }
            line += " " + std::to_string(sample.startTime) + " " + std::to_string(sample.endTime) + " " +
                    std::to_string(sample.syncPoint) + " " + Md5Hex(buffer.get(), static_cast<size_t>(sample.size));
        }
        run.transcript.push_back(line);
        return status;
    }

    // Every sample of the track, failures passed over, up to `limit` requests.
    void PlayAll(int32_t track, size_t limit)
    {
        for (size_t requests = 0;; ++requests) {
            if (requests == limit) {
                run.problems.push_back("track " + std::to_string(track) + " delivery does not end");
                return;
            }
            uint32_t status = Next(track);
            if (status != ZOLVDMX_OK && status != ZOLVDMX_E_FAIL) {
                return;
            }
        }
    }

    void SeekThenRead(int32_t track, int64_t time)
    {
        int64_t result = 0;
        uint32_t status = API_ZOLVDMX_Seek(handle, track, time, &result);
        run.transcript.push_back("seek " + std::to_string(track) + " " + std::to_string(time) + " " +
                                 std::to_string(status) + " " + std::to_string(result));
        if (status != ZOLVDMX_OK && status != ZOLVDMX_E_FAIL) {
            run.problems.push_back("seek answered " + std::to_string(status));
        }
        for (int i = 0; i < 3; ++i) {
            Next(track);
        }
    }

    int32_t tracks = 0;

private:
    MemoryReader& host;
    Playback& run;
    ZOLVDMX_HANDLE_T* handle = nullptr;
    std::unique_ptr<uint8_t[]> buffer;
    size_t bufferSize = 0;
};

// A load with the track table, every sample of every track (a handle of its
// own per track: the cursors are shared by media type), then a few seeks of
// each audio and video track on one more handle.
Playback Drive(MemoryReader& host)
{
    Playback run;
    // The library's two lines per handle; nothing in a run reports through
    // GoogleTest, so no failure message is swallowed.
    testing::internal::CaptureStdout();
    // No track yields more samples than the file has bytes.
    size_t limit = host.bytes.size() + 16;
    int32_t tracks = 0;
    {
        Handle first(host, run);
        first.Describe();
        tracks = first.tracks;
    }
    for (int32_t track = 0; track < tracks; ++track) {
        Handle handle(host, run);
        if (track < handle.tracks) {
            handle.PlayAll(track, limit);
        }
    }
    {
        Handle seeker(host, run);
        for (int32_t track = 0; track < seeker.tracks; ++track) {
            if (IsAudioOrVideo(seeker.Type(track))) {
                for (int64_t time : kSeekTimes) {
                    seeker.SeekThenRead(track, time);
                }
            }
        }
    }
    testing::internal::GetCapturedStdout();
    return run;
}

// Sample requests of a run that delivered a sample ("sample <track> 0 ...").
size_t SamplesDelivered(const Playback& run)
{
    size_t count = 0;
    for (const std::string& line : run.transcript) {
        std::istringstream words(line);
        std::string kind;
        std::string track;
        std::string status;
        words >> kind >> track >> status;
        count += kind == "sample" && status == "0" ? 1 : 0;
    }
    return count;
}

MemoryReader HostFor(const std::string& name)
{
    static const std::vector<uint8_t> longFile = BuildLongFile();
    MemoryReader host(name == "long" ? longFile : ReadTestFile(name + ".mkv"));
    host.logging = false;
    return host;
}

// Every k up to 200, then about 100 more spread evenly up to `count`.
std::vector<int64_t> FaultPoints(int64_t count)
{
    std::vector<int64_t> points;
    int64_t stride = std::max<int64_t>(1, (count - 200) / 100);
    for (int64_t k = 1; k <= count; k += k < 200 ? 1 : stride) {
        points.push_back(k);
    }
    return points;
}

} // namespace

TEST(HostFaults, ShortAnswersDeliverExactlyWhatWholeAnswersDo)
{
    // The fault sweep's files, and real files larger than a window with long
    // GOPs, Cues or none, and a damaged cluster.
    std::vector<const char*> files(std::begin(kFiles), std::end(kFiles));
    files.insert(files.end(), {"x264_default_gop", "x264_default_gop_nocues", "damaged_cluster", "ffmpeg_gop2s"});
    for (const char* name : files) {
        MemoryReader whole = HostFor(name);
        ASSERT_FALSE(whole.bytes.empty()) << name;
        Playback normal = Drive(whole);
        ASSERT_EQ(normal.problems, std::vector<std::string>{}) << name;
        EXPECT_GT(SamplesDelivered(normal), 60u) << name << ": the comparison covers real samples";

        for (int32_t answer : {1, 7, 4096}) {
            SCOPED_TRACE(std::string(name) + ", at most " + std::to_string(answer) + " bytes a read");
            MemoryReader host = HostFor(name);
            host.maxReadSize = answer;
            Playback shortRun = Drive(host);
            EXPECT_EQ(shortRun.problems, std::vector<std::string>{});
            ASSERT_EQ(shortRun.transcript.size(), normal.transcript.size());
            for (size_t i = 0; i < normal.transcript.size(); ++i) {
                ASSERT_EQ(shortRun.transcript[i], normal.transcript[i]) << "line " << i;
            }
        }
    }
}

TEST(HostFaults, EveryFailedReadSeekOpenAndWrongLengthEndsCleanly)
{
    for (const char* name : kFiles) {
        MemoryReader counted = HostFor(name);
        Drive(counted);
        const MemoryReader::Counts calls = counted.calls;
        const auto size = static_cast<int64_t>(counted.bytes.size());
        std::vector<std::string> problems;
        auto check = [&](const std::string& fault, MemoryReader& host) {
            for (const std::string& problem : Drive(host).problems) {
                problems.push_back(fault + ": " + problem);
            }
        };

        for (int64_t k : FaultPoints(calls.read)) {
            // An error and an early end alternate: the library treats them alike.
            MemoryReader host = HostFor(name);
            host.failReadOnCall = k;
            host.failedReadAnswer = k % 2 == 0 ? 0 : -1;
            check("read " + std::to_string(k) + " answers " + std::to_string(host.failedReadAnswer), host);
        }
        for (int64_t k : FaultPoints(calls.seek)) {
            MemoryReader host = HostFor(name);
            host.failSeekOnCall = k;
            check("seek " + std::to_string(k) + " fails", host);
        }
        for (int64_t k = 1; k <= calls.open; ++k) {
            MemoryReader host = HostFor(name);
            host.failOpenOnCall = static_cast<int>(k);
            check("open " + std::to_string(k) + " refused", host);
        }
        for (int64_t error : {INT64_MIN, -size - 100, -size, -size / 2, int64_t{-1}, int64_t{1}, size, INT64_MAX - size}) {
            MemoryReader host = HostFor(name);
            host.lengthError = error;
            check("length off by " + std::to_string(error), host);
        }

        EXPECT_GT(calls.read, 0);
        EXPECT_GT(calls.seek, 0);
        EXPECT_EQ(problems.size(), 0u) << name << ", first of them: " << (problems.empty() ? "" : problems[0]);
    }
}
