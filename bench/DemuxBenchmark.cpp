// Load, playback and seek costs, held in memory: synthetic audio+video files
// (small frames, and 1080p-like frames), and the real files of tests/data.
// Besides time, each benchmark reports what the library asked of the host
// (reader calls, bytes read) per load, per MB delivered or per seek, and the
// allocations it made while playing: those are what stay small on a slow
// device. Hosts answer whole reads or at most 4096 bytes a call.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <malloc.h>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <unistd.h>

#include "MatroskaBuilder.h"
#include "MemoryReader.h"
#include "TestData.h"
#include "DemuxInternals.h"
#include "api/ZolvdmxHandle.h"

// Every allocation through operator new is counted, so a benchmark can tell
// how many the library makes while it plays.
// Live bytes too, so that one can tell what a handle holds.
namespace {
int64_t allocations = 0;
int64_t liveBytes = 0;
}

// GCC sees the malloc inside the replaced operator new and warns that the
// sized delete frees it; both sides are ours and use malloc/free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size > 0 ? size : 1)) {
        liveBytes += static_cast<int64_t>(malloc_usable_size(p));
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    liveBytes -= static_cast<int64_t>(malloc_usable_size(p));
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    liveBytes -= static_cast<int64_t>(malloc_usable_size(p));
    std::free(p);
}

namespace {

using namespace ebml;

constexpr int64_t kSecond = 10000000;

// The kinds of synthetic file.
enum Kind : int {
    // Clusters of one second: 25 video frames of 2 KB and 47 AAC-sized audio
    // frames of 300 bytes. A key frame every `keyEvery` video frames.
    kSmallFrames = 0,
    // 1080p-like: 25 frames per second at about 5 Mbit/s (key frames of
    // 120 KB every two seconds, the others 30 KB and 15 KB in turn), AAC of
    // 400 bytes every 21.3 ms, a cluster per GOP as mkvmerge writes them.
    kHd = 1,
};

// A cue point on every key frame; Cues after the clusters, found through
// the SeekHead; DefaultDuration on both tracks.
Bytes SyntheticFile(Kind kind, int seconds, int keyEvery)
{
    const bool hd = kind == kHd;
    const int clusterFrames = hd ? keyEvery : 25;
    Bytes video = mkv::TrackEntry(1, 1, "V_MPEG4/ISO/ASP",
                                  {Master(mkv::kVideo, {UInt(mkv::kPixelWidth, hd ? 1920 : 320),
                                                        UInt(mkv::kPixelHeight, hd ? 1080 : 240)}),
                                   UInt(mkv::kDefaultDuration, 40000000)});
    Bytes audio = mkv::TrackEntry(2, 2, "A_AC3",
                                  {Master(mkv::kAudio, {Float64(mkv::kSamplingFrequency, 48000.0)}),
                                   UInt(mkv::kDefaultDuration, 21333333)});
    std::vector<Bytes> children{mkv::SeekHeadFor(mkv::kCues, 0), mkv::Info(1000000, seconds * 1000.0),
                                Master(mkv::kTracks, {video, audio})};
    std::vector<mkv::CueEntry> cues;
    uint64_t offset = Cat(children).size();
    const int frames = seconds * 25;
    for (int first = 0; first < frames; first += clusterFrames) {
        const int clusterMs = first * 40;
        std::vector<Bytes> blocks;
        int audioIndex = clusterMs * 3 / 64; // 21.333 ms a frame
        for (int v = first; v < first + clusterFrames && v < frames; ++v) {
            bool key = v % keyEvery == 0;
            if (key) {
                cues.push_back({static_cast<uint64_t>(v) * 40, 1, offset});
            }
            size_t size = hd ? (key ? 120000 : v % 2 == 0 ? 30000 : 15000) : 2048;
            blocks.push_back(SimpleBlock(1, static_cast<int16_t>(v * 40 - clusterMs), key ? 0x80 : 0x00,
                                         Bytes(size, 1)));
            for (; audioIndex * 64 < (v + 1) * 40 * 3; ++audioIndex) {
                blocks.push_back(SimpleBlock(2, static_cast<int16_t>(audioIndex * 64 / 3 - clusterMs), 0x80,
                                             Bytes(hd ? 400 : 300, 2)));
            }
        }
        children.push_back(mkv::Cluster(static_cast<uint64_t>(clusterMs), blocks));
        offset += children.back().size();
    }
    children[0] = mkv::SeekHeadFor(mkv::kCues, offset);
    children.push_back(mkv::Cues(cues));
    return mkv::File(children);
}

// Keeps the library's own stdout lines out of the benchmark report.
class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        saved = dup(1);
        FILE* null = std::fopen("/dev/null", "w");
        dup2(fileno(null), 1);
        std::fclose(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }

private:
    int saved;
};

struct Handle {
    explicit Handle(MemoryReader& host)
    {
        API_ZOLVDMX_Create(&handle, host.Callbacks());
        QuietStdout quiet;
        API_ZOLVDMX_Load(handle, host.Name());
    }
    ~Handle()
    {
        QuietStdout quiet;
        API_ZOLVDMX_Destroy(handle);
    }
    ZOLVDMX_HANDLE_T* handle = nullptr;
};

// One host per file, built once. `maxRead` 0: reads answered whole.
MemoryReader& HostFor(Kind kind, int seconds, int keyEvery, int32_t maxRead)
{
    static std::map<std::tuple<int, int, int>, std::shared_ptr<std::vector<uint8_t>>> files;
    static std::map<std::tuple<int, int, int, int>, std::unique_ptr<MemoryReader>> hosts;
    auto& bytes = files[{kind, seconds, keyEvery}];
    if (!bytes) {
        bytes = std::make_shared<std::vector<uint8_t>>(SyntheticFile(kind, seconds, keyEvery));
    }
    auto& host = hosts[{kind, seconds, keyEvery, maxRead}];
    if (!host) {
        host = std::make_unique<MemoryReader>(*bytes);
        host->logging = false;
        host->maxReadSize = maxRead > 0 ? maxRead : -1;
    }
    return *host;
}

const char* const kRealFiles[] = {"h264_aac",         "mpeg4_mp3",        "theora_vorbis",
                                  "h264_aac_manyclusters", "ac3_only",   "x264_default_gop",
                                  "mkvmerge_longgop", "ffmpeg_gop2s"};

MemoryReader& RealHost(int index, int32_t maxRead)
{
    static std::map<std::pair<int, int>, std::unique_ptr<MemoryReader>> hosts;
    auto& host = hosts[{index, maxRead}];
    if (!host) {
        host = std::make_unique<MemoryReader>(ReadTestFile(std::string(kRealFiles[index]) + ".mkv"));
        host->logging = false;
        host->maxReadSize = maxRead > 0 ? maxRead : -1;
    }
    return *host;
}

void CountLoad(benchmark::State& state, MemoryReader& host)
{
    int64_t bytes = 0;
    int64_t calls = 0;
    for (auto _ : state) {
        host.bytesDelivered = 0;
        host.calls = {};
        Handle loaded(host);
        bytes = host.bytesDelivered;
        calls = host.calls.Total();
    }
    state.counters["file_MB"] = static_cast<double>(host.bytes.size()) / (1024.0 * 1024.0);
    state.counters["read_KB_per_load"] = static_cast<double>(bytes) / 1024;
    state.counters["reader_calls_per_load"] = static_cast<double>(calls);
}

// Plays every audio and video track to its end, as a player does: each time
// the track whose next sample is due first.
void CountPlayback(benchmark::State& state, MemoryReader& host)
{
    int64_t delivered = 0;
    int64_t calls = 0;
    int64_t read = 0;
    int64_t allocated = 0;
    int64_t held = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const int64_t liveBefore = liveBytes;
        auto loaded = std::make_unique<Handle>(host);
        int32_t tracks = API_ZOLVDMX_GetNumTracks(loaded->handle);
        std::vector<std::vector<uint8_t>> buffers;
        std::vector<int32_t> playing;
        for (int32_t track = 0; track < tracks; ++track) {
            ZOLVDMX_MEDIA_FORMAT_T format;
            API_ZOLVDMX_GetMediaFormat(loaded->handle, track, &format);
            if (format.mediaType == ZOLVDMX_MEDIA_VIDEO || format.mediaType == ZOLVDMX_MEDIA_AUDIO) {
                playing.push_back(track);
                buffers.emplace_back(std::max<size_t>(format.maxSampleSize, 1 << 20));
            }
        }
        std::vector<int64_t> due(playing.size(), INT64_MIN);
        host.calls = {};
        host.bytesDelivered = 0;
        delivered = 0;
        allocated = allocations;
        state.ResumeTiming();
        for (;;) {
            size_t next = 0;
            for (size_t i = 1; i < playing.size(); ++i) {
                next = due[i] < due[next] ? i : next;
            }
            if (playing.empty() || due[next] == INT64_MAX) {
                break;
            }
            ZOLVDMX_MEDIA_SAMPLE_T sample;
            std::memset(&sample, 0, sizeof sample);
            sample.buffer = buffers[next].data();
            uint32_t status = API_ZOLVDMX_GetNextMediaSample(loaded->handle, playing[next], &sample);
            if (status == ZOLVDMX_OK) {
                delivered += sample.size;
                due[next] = std::max(due[next], sample.endTime);
            } else if (status != ZOLVDMX_E_FAIL) {
                due[next] = INT64_MAX;
            }
        }
        state.PauseTiming();
        allocated = allocations - allocated;
        calls = host.calls.Total();
        read = host.bytesDelivered;
        buffers.clear();
        buffers.shrink_to_fit();
        held = liveBytes - liveBefore; // the handle: windows, index, track table (operator new only)
        loaded.reset();
        state.ResumeTiming();
    }
    const double megabytes = static_cast<double>(delivered) / (1024.0 * 1024.0);
    state.counters["reader_calls_per_MB"] = static_cast<double>(calls) / megabytes;
    state.counters["read_MB_per_MB"] = static_cast<double>(read) / (1024.0 * 1024.0) / megabytes;
    state.counters["allocations_per_MB"] = static_cast<double>(allocated) / megabytes;
    state.counters["heap_KB_at_end"] = static_cast<double>(held) / 1024;
    state.SetBytesProcessed(state.iterations() * delivered);
}

// Seeks the video track, then the audio track, to one time; on one handle
// (later seeks profit from what earlier ones indexed and listed) or on a
// fresh handle each time.
void CountSeeks(benchmark::State& state, MemoryReader& host, int seconds, bool withCues, bool fresh)
{
    auto loaded = std::make_unique<Handle>(host);
    int64_t target = 1;
    int64_t calls = 0;
    int64_t bytes = 0;
    int64_t seeks = 0;
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            loaded = std::make_unique<Handle>(host);
            state.ResumeTiming();
        }
        if (!withCues) {
            DemuxInternals::File(*loaded->handle->demux).segments[0]->cueList.clear();
            for (auto& record : DemuxInternals::Tracks(*loaded->handle->demux)) {
                record.cues.clear();
            }
        }
        target = (target * 7919) % (static_cast<int64_t>(seconds - 1) * kSecond) + 1;
        host.calls = {};
        host.bytesDelivered = 0;
        for (int32_t track : {0, 1}) {
            int64_t result = 0;
            API_ZOLVDMX_Seek(loaded->handle, track, target, &result);
            benchmark::DoNotOptimize(result);
            ++seeks;
        }
        calls += host.calls.Total();
        bytes += host.bytesDelivered;
    }
    state.counters["reader_calls_per_seek"] = static_cast<double>(calls) / static_cast<double>(seeks);
    state.counters["read_KB_per_seek"] = static_cast<double>(bytes) / 1024 / static_cast<double>(seeks);
}

// Arguments: kind, seconds, key frame every N frames, maximum read (0 whole).
void BM_Load(benchmark::State& state)
{
    CountLoad(state, HostFor(static_cast<Kind>(state.range(0)), static_cast<int>(state.range(1)),
                             static_cast<int>(state.range(2)), static_cast<int32_t>(state.range(3))));
}
BENCHMARK(BM_Load)
    ->ArgNames({"hd", "s", "gop", "maxread"})
    ->Args({kSmallFrames, 600, 25, 0})
    ->Args({kHd, 600, 50, 0})
    ->Args({kHd, 600, 50, 4096})
    ->Unit(benchmark::kMillisecond);

void BM_PlayAll(benchmark::State& state)
{
    CountPlayback(state, HostFor(static_cast<Kind>(state.range(0)), static_cast<int>(state.range(1)),
                                 static_cast<int>(state.range(2)), static_cast<int32_t>(state.range(3))));
}
BENCHMARK(BM_PlayAll)
    ->ArgNames({"hd", "s", "gop", "maxread"})
    ->Args({kSmallFrames, 60, 25, 0})
    ->Args({kSmallFrames, 600, 25, 0})
    ->Args({kHd, 120, 50, 0})
    ->Args({kHd, 120, 50, 4096})
    // Two hours with a cluster a second: the index a long film builds.
    ->Args({kSmallFrames, 7200, 25, 0})
    ->Unit(benchmark::kMillisecond);

// Arguments: kind, seconds, key frame every N frames, cues, fresh handle.
void BM_Seek(benchmark::State& state)
{
    auto seconds = static_cast<int>(state.range(1));
    CountSeeks(state, HostFor(static_cast<Kind>(state.range(0)), seconds, static_cast<int>(state.range(2)), 0),
               seconds, state.range(3) != 0, state.range(4) != 0);
}
BENCHMARK(BM_Seek)
    ->ArgNames({"hd", "s", "gop", "cues", "fresh"})
    ->Args({kSmallFrames, 600, 25, 1, 0})
    ->Args({kSmallFrames, 600, 25, 0, 0})
    // Ten-second GOPs spanning ten clusters, an encoder's default.
    ->Args({kSmallFrames, 600, 250, 1, 0})
    ->Args({kSmallFrames, 600, 250, 0, 0})
    ->Args({kSmallFrames, 600, 250, 1, 1})
    ->Args({kSmallFrames, 600, 250, 0, 1})
    ->Args({kHd, 600, 50, 1, 0})
    ->Args({kHd, 600, 50, 0, 0})
    ->Args({kHd, 600, 50, 1, 1})
    ->Unit(benchmark::kMicrosecond);

// Arguments: file index in kRealFiles, maximum read (0 whole).
void BM_RealFileLoad(benchmark::State& state)
{
    CountLoad(state, RealHost(static_cast<int>(state.range(0)), static_cast<int32_t>(state.range(1))));
    state.SetLabel(kRealFiles[state.range(0)]);
}
BENCHMARK(BM_RealFileLoad)->ArgsProduct({benchmark::CreateDenseRange(0, 7, 1), {0, 4096}});

void BM_RealFilePlayAll(benchmark::State& state)
{
    CountPlayback(state, RealHost(static_cast<int>(state.range(0)), static_cast<int32_t>(state.range(1))));
    state.SetLabel(kRealFiles[state.range(0)]);
}
BENCHMARK(BM_RealFilePlayAll)->ArgsProduct({benchmark::CreateDenseRange(0, 7, 1), {0, 4096}});

} // namespace

BENCHMARK_MAIN();
