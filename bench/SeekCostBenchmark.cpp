// What a player waits for on slow storage: cold seeks (a fresh handle: load,
// seek the video to T, seek the audio to the time reported, take the first
// frame of each), warm seeks (the same on a handle that has seeked before),
// whole playback of a long film (host seeks, backward seeks, what a stdio
// host reads from storage), and hostile files of 100 000 tiny elements.
// Costs are counted at the host (calls, bytes); slow hosts are estimated
// from the counts: 5 ms per call and 2 MB/s for a network share, 0.3 ms per
// call and 20 MB/s for an SD card.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "BenchHost.h"
#include "LongFile.h"
#include "MatroskaBuilder.h"
#include "api/ZolvdmxHandle.h"

namespace {

using namespace ebml;

constexpr int64_t kSecond = 10000000;

// Keeps the library's own stdout lines out of the report.
class Quiet {
public:
    Quiet()
    {
        std::fflush(stdout);
        saved = dup(1);
        FILE* null = std::fopen("/dev/null", "w");
        dup2(fileno(null), 1);
        std::fclose(null);
    }
    ~Quiet()
    {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }

private:
    int saved;
};

struct Loaded {
    explicit Loaded(BenchHost& host)
    {
        API_ZOLVDMX_Create(&handle, host.Callbacks());
        Quiet quiet;
        status = API_ZOLVDMX_Load(handle, host.Name());
    }
    ~Loaded()
    {
        Quiet quiet;
        API_ZOLVDMX_Destroy(handle);
    }
    ZOLVDMX_HANDLE_T* handle = nullptr;
    uint32_t status = 0;
};

std::shared_ptr<SparseFile> LongFileFor(int seconds, int cues, bool cuesFirst)
{
    static std::map<std::tuple<int, int, bool>, std::shared_ptr<SparseFile>> files;
    auto& file = files[{seconds, cues, cuesFirst}];
    if (!file) {
        LongFileLayout layout;
        layout.seconds = seconds;
        layout.cues = static_cast<LongFileLayout::Cues>(cues);
        layout.cuesFirst = cuesFirst;
        file = MakeLongFile(layout);
    }
    return file;
}

// Takes one sample of a track into a buffer large enough for any of them.
uint32_t TakeSample(ZOLVDMX_HANDLE_T* handle, int32_t track, std::vector<uint8_t>& buffer)
{
    ZOLVDMX_MEDIA_SAMPLE_T sample;
    std::memset(&sample, 0, sizeof sample);
    sample.buffer = buffer.data();
    return API_ZOLVDMX_GetNextMediaSample(handle, track, &sample);
}

// Seeks the video (track 0) to `target` and the audio (track 1) to the time
// the video seek reported, and takes the first frame of each.
void SeekBoth(ZOLVDMX_HANDLE_T* handle, int64_t target, std::vector<uint8_t>& buffer)
{
    int64_t videoTime = 0;
    int64_t audioTime = 0;
    API_ZOLVDMX_Seek(handle, 0, target, &videoTime);
    API_ZOLVDMX_Seek(handle, 1, videoTime, &audioTime);
    TakeSample(handle, 0, buffer);
    TakeSample(handle, 1, buffer);
    benchmark::DoNotOptimize(audioTime);
}

void Report(benchmark::State& state, const BenchHost::Counts& total, int64_t operations, double networkMs,
            double sdMs)
{
    auto per = [&](int64_t value) { return static_cast<double>(value) / static_cast<double>(operations); };
    state.counters["calls"] = per(total.Calls());
    state.counters["reads"] = per(total.read);
    state.counters["seeks"] = per(total.seek);
    state.counters["KB_read"] = per(total.bytes) / 1024;
    state.counters["net_ms"] = networkMs / static_cast<double>(operations);
    state.counters["sd_ms"] = sdMs / static_cast<double>(operations);
}

// Ten targets spread over the film, none on a key frame.
std::vector<int64_t> Targets(int seconds)
{
    std::vector<int64_t> targets;
    for (int k = 0; k < 10; ++k) {
        targets.push_back((2 * k + 1) * static_cast<int64_t>(seconds) * kSecond / 20 + 7300000);
    }
    return targets;
}

void ColdSeeks(benchmark::State& state, const std::shared_ptr<SparseFile>& file, int seconds)
{
    BenchHost host(file);
    std::vector<uint8_t> buffer(32 << 20);
    BenchHost::Counts total;
    int64_t operations = 0;
    double network = 0;
    double sd = 0;
    for (auto _ : state) {
        for (int64_t target : Targets(seconds)) {
            host.Reset();
            Loaded loaded(host);
            SeekBoth(loaded.handle, target, buffer);
            network += host.EstimateMs(5.0, 2.0);
            sd += host.EstimateMs(0.3, 20.0);
            total.open += host.counts.open;
            total.close += host.counts.close;
            total.length += host.counts.length;
            total.read += host.counts.read;
            total.tell += host.counts.tell;
            total.seek += host.counts.seek;
            total.bytes += host.counts.bytes;
            ++operations;
        }
    }
    Report(state, total, operations, network, sd);
}

// Arguments: seconds, cues (0 none, 1 every key frame, 2 every fifth), cues first.
void BM_ColdSeek(benchmark::State& state)
{
    const int seconds = static_cast<int>(state.range(0));
    ColdSeeks(state, LongFileFor(seconds, static_cast<int>(state.range(1)), state.range(2) != 0), seconds);
}
BENCHMARK(BM_ColdSeek)
    ->ArgNames({"s", "cues", "first"})
    ->Args({600, 1, 0})
    ->Args({6000, 1, 0})
    ->Args({600, 1, 1})
    ->Args({600, 2, 0})
    ->Args({600, 0, 0})
    ->Args({6000, 0, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A handle that has seeked before: each operation seeks the video to the
// next of a pseudo-random sequence of targets and the audio to the time
// reported; costs are given per seek (two per operation), as a player that
// seeks again and again sees them.
void WarmSeeks(benchmark::State& state, const std::shared_ptr<SparseFile>& file, int seconds)
{
    BenchHost host(file);
    std::vector<uint8_t> buffer(32 << 20);
    Loaded loaded(host);
    SeekBoth(loaded.handle, static_cast<int64_t>(seconds) * kSecond / 2, buffer);
    int64_t target = 1;
    int64_t seeks = 0;
    BenchHost::Counts total;
    double network = 0;
    double sd = 0;
    for (auto _ : state) {
        target = (target * 7919 + 104729) % (static_cast<int64_t>(seconds - 1) * kSecond) + 1;
        host.Reset();
        int64_t videoTime = 0;
        int64_t audioTime = 0;
        API_ZOLVDMX_Seek(loaded.handle, 0, target, &videoTime);
        API_ZOLVDMX_Seek(loaded.handle, 1, videoTime, &audioTime);
        benchmark::DoNotOptimize(audioTime);
        network += host.EstimateMs(5.0, 2.0);
        sd += host.EstimateMs(0.3, 20.0);
        total.read += host.counts.read;
        total.seek += host.counts.seek;
        total.tell += host.counts.tell;
        total.bytes += host.counts.bytes;
        seeks += 2;
    }
    Report(state, total, seeks, network, sd);
}

void BM_WarmSeek(benchmark::State& state)
{
    const int seconds = static_cast<int>(state.range(0));
    WarmSeeks(state, LongFileFor(seconds, static_cast<int>(state.range(1)), false), seconds);
}
BENCHMARK(BM_WarmSeek)
    ->ArgNames({"s", "cues"})
    ->Args({600, 1})
    ->Args({600, 2})
    ->Args({600, 0})
    ->Iterations(300)
    ->Unit(benchmark::kMicrosecond);

// Plays a film whole, as a player does: each time the track whose next
// sample is due first.
void Playback(benchmark::State& state, const std::shared_ptr<SparseFile>& file)
{
    BenchHost host(file);
    std::vector<uint8_t> buffer(32 << 20);
    int64_t delivered = 0;
    for (auto _ : state) {
        host.Reset();
        Loaded loaded(host);
        int64_t due[2] = {INT64_MIN, INT64_MIN};
        delivered = 0;
        for (;;) {
            int32_t track = due[1] < due[0] ? 1 : 0;
            if (due[track] == INT64_MAX) {
                break;
            }
            ZOLVDMX_MEDIA_SAMPLE_T sample;
            std::memset(&sample, 0, sizeof sample);
            sample.buffer = buffer.data();
            uint32_t status = API_ZOLVDMX_GetNextMediaSample(loaded.handle, track, &sample);
            if (status == ZOLVDMX_OK) {
                delivered += sample.size;
                due[track] = std::max(due[track], sample.endTime);
            } else if (status != ZOLVDMX_E_FAIL) {
                due[track] = INT64_MAX;
            }
        }
    }
    const double megabytes = static_cast<double>(delivered) / 1e6;
    state.counters["calls_per_MB"] = static_cast<double>(host.counts.Calls()) / megabytes;
    state.counters["seeks_per_MB"] = static_cast<double>(host.counts.movingSeeks) / megabytes;
    state.counters["back_per_10MB"] = static_cast<double>(host.counts.backwardSeeks) / megabytes * 10;
    state.counters["read_x_file"] = static_cast<double>(host.counts.bytes) / static_cast<double>(host.File().Size());
    state.counters["stdio_x_file"] =
        static_cast<double>(host.counts.stdioBytes) / static_cast<double>(host.File().Size());
    state.SetBytesProcessed(state.iterations() * delivered);
}

// The ten-minute film.
void BM_LongPlayback(benchmark::State& state)
{
    Playback(state, LongFileFor(600, 1, false));
}
BENCHMARK(BM_LongPlayback)->Iterations(1)->Unit(benchmark::kMillisecond);

// The real 1080p films bench/make_1080p.sh makes, from the directory in
// MKV_BENCH_FILMS (default /tmp/mkv-bench); skipped when they are not there.
const char* const kFilms[] = {"film_1080p_mkvmerge.mkv", "film_1080p_cues_front.mkv"};
constexpr int kFilmSeconds = 60;

std::shared_ptr<SparseFile> Film(int index)
{
    static std::map<int, std::shared_ptr<SparseFile>> films;
    auto& film = films[index];
    if (!film) {
        const char* dir = std::getenv("MKV_BENCH_FILMS");
        std::string path = std::string(dir != nullptr ? dir : "/tmp/mkv-bench") + "/" + kFilms[index];
        FILE* in = std::fopen(path.c_str(), "rb");
        if (in == nullptr) {
            return nullptr;
        }
        std::vector<uint8_t> bytes;
        uint8_t chunk[1 << 16];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        std::fclose(in);
        film = std::make_shared<SparseFile>();
        film->Put(bytes);
    }
    return film;
}

// Arguments: film, what (0 cold seek, 1 warm seek, 2 playback).
void BM_Film(benchmark::State& state)
{
    std::shared_ptr<SparseFile> film = Film(static_cast<int>(state.range(0)));
    if (!film) {
        state.SkipWithError("no film: run bench/make_1080p.sh");
        return;
    }
    state.SetLabel(kFilms[state.range(0)]);
    switch (state.range(1)) {
    case 0: ColdSeeks(state, film, kFilmSeconds); break;
    case 1: WarmSeeks(state, film, kFilmSeconds); break;
    default: Playback(state, film); break;
    }
}
BENCHMARK(BM_Film)->ArgNames({"film", "what"})->Args({0, 0})->Args({1, 0})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Film)->ArgNames({"film", "what"})->Args({0, 1})->Args({1, 1})->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Film)->ArgNames({"film", "what"})->Args({0, 2})->Args({1, 2})->Iterations(1)->Unit(benchmark::kMillisecond);

// Hostile files: `count` empty clusters between and after clusters that
// hold frames; `count` key frames of one track at one time; `count` tiny
// clusters of one video and one audio frame each.
enum Bomb : int { kEmptyClusters = 0, kSameTimeBlocks = 1, kTinyClusters = 2 };

std::shared_ptr<SparseFile> BombFile(Bomb bomb, int count)
{
    static std::map<std::pair<int, int>, std::shared_ptr<SparseFile>> files;
    auto& file = files[{bomb, count}];
    if (file) {
        return file;
    }
    std::vector<Bytes> children{mkv::Info(1000000, 0.0),
                                mkv::Tracks({mkv::VideoTrack(1, "V_MPEG4/ISO/ASP", 64, 64), mkv::AudioTrack(2, "A_AC3")})};
    const Bytes frame(8, 0x55);
    if (bomb == kEmptyClusters) {
        children.push_back(mkv::Cluster(0, {SimpleBlock(1, 0, 0x80, frame), SimpleBlock(2, 0, 0x80, frame)}));
        for (int k = 1; k <= count; ++k) {
            children.push_back(mkv::Cluster(static_cast<uint64_t>(k), {}));
            if (k == count / 2) {
                children.push_back(mkv::Cluster(static_cast<uint64_t>(k), {SimpleBlock(1, 0, 0x80, frame),
                                                                        SimpleBlock(2, 0, 0x80, frame)}));
            }
        }
    } else if (bomb == kSameTimeBlocks) {
        std::vector<Bytes> blocks;
        for (int k = 0; k < count; ++k) {
            blocks.push_back(SimpleBlock(1, 0, 0x80, {0x55}));
        }
        blocks.push_back(SimpleBlock(2, 0, 0x80, frame));
        children.push_back(mkv::Cluster(0, blocks));
    } else {
        for (int k = 0; k < count; ++k) {
            children.push_back(mkv::Cluster(static_cast<uint64_t>(k) * 40,
                                            {SimpleBlock(1, 0, k % 25 == 0 ? 0x80 : 0x00, frame),
                                             SimpleBlock(2, 0, 0x80, frame)}));
        }
    }
    file = std::make_shared<SparseFile>();
    file->Put(mkv::File(children));
    return file;
}

// Plays every track to its end, then seeks each to 0, the middle and past
// the end, taking a frame after each seek.
void BM_Bomb(benchmark::State& state)
{
    auto bomb = static_cast<Bomb>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    BenchHost host(BombFile(bomb, count));
    std::vector<uint8_t> buffer(1 << 20);
    const int64_t span = bomb == kEmptyClusters ? count * 10000LL : bomb == kTinyClusters ? count * 400000LL : 0;
    for (auto _ : state) {
        host.Reset();
        Loaded loaded(host);
        for (int32_t track : {0, 1}) {
            while (TakeSample(loaded.handle, track, buffer) != ZOLVDMX_END_OF_TRACK) {
            }
            for (int64_t target : {int64_t{0}, span / 2, span + kSecond}) {
                int64_t result = 0;
                API_ZOLVDMX_Seek(loaded.handle, track, target, &result);
                TakeSample(loaded.handle, track, buffer);
            }
        }
    }
    state.counters["file_KB"] = static_cast<double>(host.File().Size()) / 1024;
    state.counters["calls"] = static_cast<double>(host.counts.Calls());
}
BENCHMARK(BM_Bomb)
    ->ArgNames({"bomb", "n"})
    ->ArgsProduct({{kEmptyClusters, kSameTimeBlocks, kTinyClusters}, {25000, 50000, 100000}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
