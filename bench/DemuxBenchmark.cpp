// Load, playback and seek costs over synthetic audio+video files of growing
// length, held in memory. Besides time, each benchmark reports what the
// library asked of the host (bytes read, reader calls) per load, per frame
// or per seek: those counts are what stays small on a slow device.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <map>
#include <memory>
#include <unistd.h>

#include "MatroskaBuilder.h"
#include "MemoryReader.h"
#include "api/ZolvdmxHandle.h"

// Every allocation through operator new is counted, so a benchmark can tell
// how many the library makes while it plays.
namespace {
int64_t allocations = 0;
}

void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size > 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using namespace ebml;

constexpr int64_t kSecond = 10000000;

// Clusters of one second: 25 video frames of 2 KB and 47 AAC-sized audio
// frames of 300 bytes. A key frame every `keyEvery` video frames (each
// cluster by default; 250 is an encoder's default ten-second GOP), with a
// cue point on every key frame.
Bytes SyntheticFile(int seconds, int keyEvery = 25)
{
    std::vector<Bytes> children{mkv::SeekHeadFor(mkv::kCues, 0), mkv::Info(1000000, seconds * 1000.0),
                                mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 320, 240),
                                             mkv::AudioTrack(2, "A_AC3")})};
    std::vector<mkv::CueEntry> cues;
    uint64_t offset = Cat(children).size();
    for (int s = 0; s < seconds; ++s) {
        if ((s * 25) % keyEvery == 0) {
            cues.push_back({static_cast<uint64_t>(s) * 1000, 1, offset});
        }
        std::vector<Bytes> blocks;
        for (int v = 0, a = 0; v < 25 || a < 47;) {
            if (v < 25 && (a >= 47 || v * 40 <= a * 21)) {
                bool key = (s * 25 + v) % keyEvery == 0;
                blocks.push_back(SimpleBlock(1, static_cast<int16_t>(v * 40), key ? 0x80 : 0x00, Bytes(2048, 1)));
                ++v;
            } else {
                blocks.push_back(SimpleBlock(2, static_cast<int16_t>(a * 21), 0x80, Bytes(300, 2)));
                ++a;
            }
        }
        children.push_back(mkv::Cluster(static_cast<uint64_t>(s) * 1000, blocks));
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

MemoryReader& HostFor(int seconds, int keyEvery = 25)
{
    static std::map<std::pair<int, int>, std::unique_ptr<MemoryReader>> hosts;
    auto& host = hosts[{seconds, keyEvery}];
    if (!host) {
        host = std::make_unique<MemoryReader>(SyntheticFile(seconds, keyEvery));
        host->logging = false;
    }
    return *host;
}

void BM_Load(benchmark::State& state)
{
    MemoryReader& host = HostFor(static_cast<int>(state.range(0)));
    int64_t bytes = 0;
    int64_t calls = 0;
    for (auto _ : state) {
        host.bytesDelivered = 0;
        host.calls = {};
        Handle loaded(host);
        bytes = host.bytesDelivered;
        calls = host.calls.Total();
    }
    state.counters["file_KB"] = static_cast<double>(host.bytes.size()) / 1024;
    state.counters["read_KB_per_load"] = static_cast<double>(bytes) / 1024;
    state.counters["reader_calls_per_load"] = static_cast<double>(calls);
}
BENCHMARK(BM_Load)->Arg(60)->Arg(600)->Arg(1800)->Unit(benchmark::kMillisecond);

void BM_PlayAll(benchmark::State& state)
{
    MemoryReader& host = HostFor(static_cast<int>(state.range(0)));
    std::vector<uint8_t> buffer(320 * 240 * 2);
    int64_t frames = 0;
    int64_t calls = 0;
    int64_t delivered = 0;
    int64_t read = 0;
    int64_t reads = 0;
    int64_t seeks = 0;
    int64_t allocated = 0;
    size_t listed = 0;
    for (auto _ : state) {
        Handle loaded(host);
        host.callCount = 0;
        host.bytesDelivered = 0;
        host.calls = {};
        allocated = allocations;
        frames = 0;
        delivered = 0;
        for (bool more = true; more;) {
            more = false;
            for (int32_t track : {0, 1}) {
                ZOLVDMX_MEDIA_SAMPLE_T sample;
                std::memset(&sample, 0, sizeof sample);
                sample.buffer = buffer.data();
                if (API_ZOLVDMX_GetNextMediaSample(loaded.handle, track, &sample) == ZOLVDMX_OK) {
                    ++frames;
                    delivered += sample.size;
                    more = true;
                }
            }
        }
        calls = host.callCount;
        read = host.bytesDelivered;
        reads = host.calls.read;
        seeks = host.calls.seek;
        allocated = allocations - allocated;
        listed = 0;
        for (const auto& cluster : loaded.handle->demux->matroska.segments[0]->clusters) {
            listed += cluster->blockGroups.empty() ? 0 : 1;
        }
    }
    state.counters["frames"] = static_cast<double>(frames);
    const double megabytes = static_cast<double>(delivered) / (1024.0 * 1024.0);
    state.counters["reader_calls_per_MB"] = static_cast<double>(calls) / megabytes;
    state.counters["read_MB_per_MB"] = static_cast<double>(read) / (1024.0 * 1024.0) / megabytes;
    state.counters["reads_per_MB"] = static_cast<double>(reads) / megabytes;
    state.counters["seeks_per_MB"] = static_cast<double>(seeks) / megabytes;
    state.SetBytesProcessed(state.iterations() * delivered);
    state.counters["clusters_listed_at_end"] = static_cast<double>(listed);
    state.counters["allocations_per_frame"] = static_cast<double>(allocated) / static_cast<double>(frames);
}
BENCHMARK(BM_PlayAll)->Arg(60)->Arg(600)->Unit(benchmark::kMillisecond);

void BM_Seek(benchmark::State& state)
{
    int seconds = static_cast<int>(state.range(0));
    bool withCues = state.range(1) != 0;
    MemoryReader& host = HostFor(seconds);
    Handle loaded(host);
    if (!withCues) {
        loaded.handle->demux->matroska.segments[0]->cueList.clear();
    }
    int64_t target = 1;
    int64_t bytes = 0;
    for (auto _ : state) {
        target = (target * 7919) % (static_cast<int64_t>(seconds - 1) * kSecond) + 1;
        int64_t result = 0;
        host.bytesDelivered = 0;
        API_ZOLVDMX_Seek(loaded.handle, 0, target, &result);
        bytes += host.bytesDelivered;
        benchmark::DoNotOptimize(result);
    }
    state.counters["read_KB_per_seek"] = static_cast<double>(bytes) / 1024 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Seek)->Args({600, 1})->Args({600, 0})->Unit(benchmark::kMicrosecond);

// Seeks of the video and then the audio track to one time in a 10-minute
// file with ten-second GOPs spanning ten clusters, with or without Cues: on
// one handle (later seeks profit from what earlier ones listed) and on a
// fresh handle each time.
void BM_SeekLongGop(benchmark::State& state)
{
    bool withCues = state.range(0) != 0;
    bool fresh = state.range(1) != 0;
    const int seconds = 600;
    MemoryReader& host = HostFor(seconds, 250);
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
            loaded->handle->demux->matroska.segments[0]->cueList.clear();
        }
        target = (target * 7919) % (static_cast<int64_t>(seconds - 1) * kSecond) + 1;
        host.callCount = 0;
        host.bytesDelivered = 0;
        for (int32_t track : {0, 1}) {
            int64_t result = 0;
            API_ZOLVDMX_Seek(loaded->handle, track, target, &result);
            benchmark::DoNotOptimize(result);
            ++seeks;
        }
        calls += host.callCount;
        bytes += host.bytesDelivered;
    }
    state.counters["reader_calls_per_seek"] = static_cast<double>(calls) / static_cast<double>(seeks);
    state.counters["read_KB_per_seek"] = static_cast<double>(bytes) / 1024 / static_cast<double>(seeks);
}
BENCHMARK(BM_SeekLongGop)
    ->ArgNames({"cues", "fresh"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
