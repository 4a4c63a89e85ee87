// Drives one input through the eight entry points over an in-memory host
// whose callbacks are metered per operation, and aborts on the first answer
// a host may not be given.
#include "DemuxChecks.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "MemoryReader.h"
#include "zolvdmx.h"

namespace fuzzcheck {

int64_t CallBudget(size_t size)
{
    return 8 * static_cast<int64_t>(size) + 512;
}

int64_t ByteBudget(size_t size)
{
    return 16 * static_cast<int64_t>(size) + 4096;
}

int64_t TimeBudget(size_t size, int64_t elements, int64_t requests)
{
    // Under the sanitizers an honest operation takes at most about 2.5 us
    // an element (a cluster of empty block groups) and 8 ms on a 150 KB
    // real file. A sample whose time needs the next 16 blocks in
    // presentation order, each in a tiny cluster listed again for it, takes
    // up to 90 us (1 024 of them on 3 376 elements: 95 ms). A load also
    // pays for its windows, and the allocator now and then takes some
    // milliseconds to give memory back. A quadratic path on a 64 KB input
    // takes seconds.
    return 50000 + 8 * elements + 16 * requests + static_cast<int64_t>(size) / 8;
}

namespace {

// Values that hold frames or other bytes that only happen to read as
// headers; their payloads are not counted as elements.
bool HoldsBytes(uint32_t id)
{
    return id == 0xA3 || id == 0xA1 || id == 0x63A2 || id == 0xEC || id == 0x465C;
}

// The four-byte IDs of the EBML header, the Segment and its children: the
// library looks for these anywhere after a damaged element.
bool IsTopLevelId(uint32_t id)
{
    return id == 0x1A45DFA3 || id == 0x18538067 || id == 0x114D9B74 || id == 0x1549A966 || id == 0x1654AE6B ||
           id == 0x1F43B675 || id == 0x1C53BB6B || id == 0x1043A770 || id == 0x1254C367 || id == 0x1941A469;
}

struct ElementCount {
    int64_t all = 0;      // headers read in a chain at some level
    int64_t topLevel = 0; // of those, the ones with a top-level ID
};

void CountLevel(const uint8_t* data, size_t size, int depth, ElementCount& count)
{
    size_t at = 0;
    while (at < size) {
        int idLength = 1;
        while (idLength <= 4 && (data[at] & (0x80 >> (idLength - 1))) == 0) {
            ++idLength;
        }
        if (idLength > 4 || static_cast<size_t>(idLength) >= size - at) {
            return;
        }
        uint32_t id = 0;
        for (int k = 0; k < idLength; ++k) {
            id = (id << 8) | data[at + static_cast<size_t>(k)];
        }
        const size_t sizeAt = at + static_cast<size_t>(idLength);
        int sizeLength = 1;
        while (sizeLength <= 8 && (data[sizeAt] & (0x80 >> (sizeLength - 1))) == 0) {
            ++sizeLength;
        }
        if (sizeLength > 8 || static_cast<size_t>(sizeLength) > size - sizeAt) {
            return;
        }
        uint64_t payloadSize = data[sizeAt] & (0xFFu >> sizeLength);
        bool unknown = payloadSize == (0xFFu >> sizeLength);
        for (int k = 1; k < sizeLength; ++k) {
            payloadSize = (payloadSize << 8) | data[sizeAt + static_cast<size_t>(k)];
            unknown = unknown && data[sizeAt + static_cast<size_t>(k)] == 0xFF;
        }
        const size_t payloadAt = sizeAt + static_cast<size_t>(sizeLength);
        const size_t left = size - payloadAt;
        const size_t length = unknown || payloadSize > left ? left : static_cast<size_t>(payloadSize);
        count.all += 1;
        count.topLevel += IsTopLevelId(id) ? 1 : 0;
        if (depth < 8 && !HoldsBytes(id)) {
            CountLevel(data + payloadAt, length, depth + 1, count);
        }
        at = payloadAt + length;
    }
}

} // namespace

int64_t CountElements(const uint8_t* data, size_t size)
{
    ElementCount chained;
    CountLevel(data, size, 0, chained);
    int64_t topLevelAnywhere = 0;
    uint32_t window = 0;
    for (size_t at = 0; at < size; ++at) {
        window = (window << 8) | data[at];
        topLevelAnywhere += at >= 3 && IsTopLevelId(window) ? 1 : 0;
    }
    return chained.all + std::max<int64_t>(0, topLevelAnywhere - chained.topLevel);
}

namespace {

// The host's callbacks, counted by the in-memory reader, and the operation
// now running with what the host had done when it began.
struct Meter {
    MemoryReader* host = nullptr;
    _ZOLVDMX_READER_CALLBACK_T inner{};
    size_t inputSize = 0;
    int64_t elements = 0;
    std::vector<OperationCost>* costs = nullptr;
    std::string operation;
    int64_t callsBefore = 0;
    int64_t bytesBefore = 0;
    int64_t startedAt = 0;
    int64_t requests = 0; // sample requests of the operation
    bool timed = false;
};

// The run in progress; runs never overlap (libFuzzer and the replay both
// run one input at a time), and the callbacks carry no context of their own
// beyond the host handle.
Meter* meter = nullptr;

[[noreturn]] void Fail(const char* what, uint64_t value, const char* detail = nullptr)
{
    std::fprintf(stderr, "%s: %s (0x%" PRIx64 " = %" PRId64 ") on an input of %zu bytes\n",
                 meter->operation.c_str(), what, value, static_cast<int64_t>(value), meter->inputSize);
    if (detail != nullptr) {
        std::fprintf(stderr, "%s\n", detail);
    }
    std::abort();
}

void Require(bool holds, const char* what, uint64_t value)
{
    if (!holds) {
        Fail(what, value);
    }
}

int64_t CallsSoFar()
{
    return meter->host->calls.Total() - meter->callsBefore;
}

int64_t BytesSoFar()
{
    return meter->host->bytesDelivered - meter->bytesBefore;
}

// Checked after every host call, so that a quadratic path stops at its
// budget instead of running on for minutes.
void CheckBudgets()
{
    if (CallsSoFar() > CallBudget(meter->inputSize)) {
        const std::string budget = "(budget " + std::to_string(CallBudget(meter->inputSize)) + ")";
        Fail("more host calls than its input allows", static_cast<uint64_t>(CallsSoFar()), budget.c_str());
    }
    if (BytesSoFar() > ByteBudget(meter->inputSize)) {
        const std::string budget = "(budget " + std::to_string(ByteBudget(meter->inputSize)) + ")";
        Fail("more bytes read than its input allows", static_cast<uint64_t>(BytesSoFar()), budget.c_str());
    }
}

void* MeteredOpen(unsigned char* name)
{
    void* handle = meter->inner.open(name);
    CheckBudgets();
    return handle;
}

int32_t MeteredClose(void* handle)
{
    int32_t result = meter->inner.close(handle);
    CheckBudgets();
    return result;
}

int64_t MeteredLength(void* handle)
{
    int64_t result = meter->inner.length(handle);
    CheckBudgets();
    return result;
}

int32_t MeteredRead(void* handle, int32_t count, unsigned char* dest)
{
    int32_t result = meter->inner.read(handle, count, dest);
    CheckBudgets();
    return result;
}

int64_t MeteredTell(void* handle)
{
    int64_t result = meter->inner.tell(handle);
    CheckBudgets();
    return result;
}

int32_t MeteredSeek(void* handle, int64_t offset, int32_t whence)
{
    int32_t result = meter->inner.seek(handle, offset, whence);
    CheckBudgets();
    return result;
}

int64_t ProcessorMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void Begin(std::string operation)
{
    meter->operation = std::move(operation);
    meter->callsBefore = meter->host->calls.Total();
    meter->bytesBefore = meter->host->bytesDelivered;
    meter->requests = 0;
    meter->startedAt = ProcessorMicroseconds();
}

void CheckTime()
{
    const int64_t spent = ProcessorMicroseconds() - meter->startedAt;
    const int64_t budget = TimeBudget(meter->inputSize, meter->elements, meter->requests);
    if (meter->timed && spent > budget) {
        const std::string detail = "(budget " + std::to_string(budget) + " us for " +
                                   std::to_string(meter->elements) + " elements and " +
                                   std::to_string(meter->requests) + " sample requests)";
        Fail("more processor time than its input allows, in microseconds", static_cast<uint64_t>(spent),
             detail.c_str());
    }
}

void End()
{
    if (meter->costs != nullptr) {
        meter->costs->push_back(OperationCost{meter->operation, CallsSoFar(), BytesSoFar(),
                                              ProcessorMicroseconds() - meter->startedAt, meter->requests});
    }
    CheckTime();
}

// One sample request, counted for the time budget, which long plays check
// as they go.
uint32_t NextSample(ZOLVDMX_HANDLE_T* handle, int32_t track, ZOLVDMX_MEDIA_SAMPLE_T& sample)
{
    meter->requests += 1;
    if (meter->requests % 1024 == 0) {
        CheckTime();
    }
    return API_ZOLVDMX_GetNextMediaSample(handle, track, &sample);
}

bool IsSampleStatus(uint32_t status)
{
    return status == ZOLVDMX_OK || status == ZOLVDMX_END_OF_TRACK || status == ZOLVDMX_E_FAIL ||
           status == ZOLVDMX_E_UNSUPPORTED;
}

// Checks a track's type and answers the buffer a host provides for its
// samples: maxSampleSize, but no more than any frame of this input can need
// (a rewritten H.264 frame grows at most fourfold), since damaged picture
// sizes ask for gigabytes.
size_t DescribeTrack(ZOLVDMX_HANDLE_T* handle, int32_t track, size_t inputSize)
{
    const int32_t type = API_ZOLVDMX_GetTrackType(handle, track);
    Require(type >= ZOLVDMX_TRACK_OTHER && type <= ZOLVDMX_TRACK_SUBTITLE, "undocumented track type",
            static_cast<uint32_t>(type));
    ZOLVDMX_MEDIA_FORMAT_T format;
    std::memset(&format, 0, sizeof format);
    API_ZOLVDMX_GetMediaFormat(handle, track, &format);
    size_t capacity = format.maxSampleSize > 0 ? format.maxSampleSize : 1;
    if (capacity > 4 * inputSize + 64) {
        capacity = 4 * inputSize + 64;
    }
    if (format.configSize > 0 && static_cast<size_t>(format.configSize) > capacity) {
        capacity = static_cast<size_t>(format.configSize);
    }
    return capacity;
}

// Reads a track to its end; the latest start time delivered.
int64_t PlayTrack(ZOLVDMX_HANDLE_T* handle, int32_t track, uint8_t* buffer, size_t capacity, size_t inputSize)
{
    int64_t lastStart = 0;
    // A block of a few bytes can lace 256 frames of nothing.
    const size_t mostFrames = 64 * inputSize + 16;
    for (size_t requests = 0; requests <= mostFrames; ++requests) {
        ZOLVDMX_MEDIA_SAMPLE_T sample;
        std::memset(&sample, 0, sizeof sample);
        sample.buffer = buffer;
        uint32_t status = NextSample(handle, track, sample);
        Require(IsSampleStatus(status), "undocumented result from GetNextMediaSample", status);
        if (status == ZOLVDMX_OK) {
            Require(sample.size >= 0 && static_cast<size_t>(sample.size) <= capacity,
                    "sample larger than the buffer the host was told to provide", static_cast<uint32_t>(sample.size));
            Require(sample.endTime >= sample.startTime, "sample ends before it starts",
                    static_cast<uint64_t>(sample.startTime - sample.endTime));
            lastStart = sample.startTime > lastStart ? sample.startTime : lastStart;
        } else if (status != ZOLVDMX_E_FAIL) {
            return lastStart;
        }
        Require(requests < mostFrames, "sample delivery that never ends", requests);
    }
    return lastStart;
}

void SeekAndTake(ZOLVDMX_HANDLE_T* handle, int32_t track, int64_t time, uint8_t* buffer, size_t capacity)
{
    int64_t result = 0;
    uint32_t status = API_ZOLVDMX_Seek(handle, track, time, &result);
    Require(status == ZOLVDMX_OK || status == ZOLVDMX_E_FAIL, "undocumented result from Seek", status);
    ZOLVDMX_MEDIA_SAMPLE_T sample;
    std::memset(&sample, 0, sizeof sample);
    sample.buffer = buffer;
    status = NextSample(handle, track, sample);
    Require(IsSampleStatus(status), "undocumented result from GetNextMediaSample after the seek", status);
    Require(status != ZOLVDMX_OK || (sample.size >= 0 && static_cast<size_t>(sample.size) <= capacity),
            "sample after the seek larger than the buffer", static_cast<uint32_t>(sample.size));
}

} // namespace

void CheckDemux(const uint8_t* data, size_t size, bool timed, std::vector<OperationCost>* costs)
{
    MemoryReader host(std::vector<uint8_t>(data, data + size));
    host.logging = false;
    Meter run;
    run.host = &host;
    run.inner = host.Callbacks();
    run.inputSize = size;
    run.elements = CountElements(data, size);
    run.costs = costs;
    run.timed = timed;
    meter = &run;
    _ZOLVDMX_READER_CALLBACK_T metered = {MeteredOpen, MeteredClose, MeteredLength, MeteredRead,
                                          nullptr,     MeteredTell,  MeteredSeek};

    ZOLVDMX_HANDLE_T* handle = nullptr;
    Begin("create");
    Require(API_ZOLVDMX_Create(&handle, metered) == ZOLVDMX_OK, "Create refused a complete reader", 0);
    Begin("load");
    uint32_t loaded = API_ZOLVDMX_Load(handle, host.Name());
    Require(loaded == ZOLVDMX_OK || loaded == ZOLVDMX_E_FAIL, "undocumented result from Load", loaded);
    End();

    // Every track is described, the first few played and seeked: a mutant
    // with a thousand copies of one track entry would otherwise take
    // seconds, all on one path.
    constexpr int32_t kTracksPlayed = 4;
    const int32_t tracks = API_ZOLVDMX_GetNumTracks(handle);
    Begin("describe the tracks after the first " + std::to_string(kTracksPlayed));
    for (int32_t track = kTracksPlayed; track < tracks; ++track) {
        DescribeTrack(handle, track, size);
    }
    End();
    for (int32_t track = 0; track < tracks && track < kTracksPlayed; ++track) {
        const std::string name = "track " + std::to_string(track);
        Begin("play " + name);
        const size_t capacity = DescribeTrack(handle, track, size);
        // Exactly the size the host was told, so that the sanitizer sees a
        // write past it; left as allocated, since zeroing it costs more than
        // a small input's whole play.
        const std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity]);
        const int64_t lastStart = PlayTrack(handle, track, buffer.get(), capacity, size);
        End();
        for (int64_t time : {int64_t{0}, int64_t{15000000}, lastStart / 2, lastStart < INT64_MAX ? lastStart + 1 : lastStart, int64_t{-3}}) {
            Begin("seek " + name + " to " + std::to_string(time));
            SeekAndTake(handle, track, time, buffer.get(), capacity);
            End();
        }
    }
    Begin("destroy");
    Require(API_ZOLVDMX_Destroy(handle) == ZOLVDMX_OK, "Destroy refused a handle", 0);
    End();
    Require(host.openHandles == 0, "host handles left open after Destroy", static_cast<uint64_t>(host.openHandles));
    meter = nullptr;
}

} // namespace fuzzcheck
