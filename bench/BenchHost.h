// BenchHost: a host reader over a SparseFile (or plain bytes) that counts
// what the library asks of it: calls by kind, bytes delivered, seeks that
// move the position backward or forward, and the bytes a stdio host with a
// 1 MiB buffer would read from its storage to answer the same calls (a seek
// inside the buffered range keeps the buffer; any other seek drops it; a
// read of at least the buffer size bypasses it).
#ifndef MKV_BENCH_BENCHHOST_H
#define MKV_BENCH_BENCHHOST_H

#include <cstdint>
#include <memory>
#include <vector>

#include "SparseFile.h"
#include "zolvdmx.h"

class BenchHost {
public:
    explicit BenchHost(std::shared_ptr<const SparseFile> file, int32_t maxRead = -1);

    _ZOLVDMX_READER_CALLBACK_T Callbacks() const;
    unsigned char* Name() { return reinterpret_cast<unsigned char*>(this); }

    struct Counts {
        int64_t open = 0, close = 0, length = 0, read = 0, tell = 0, seek = 0;
        int64_t bytes = 0;          // delivered by read
        int64_t backwardSeeks = 0;  // seeks to before the position the handle was at
        int64_t movingSeeks = 0;    // seeks that changed the position
        int64_t stdioBytes = 0;     // what a stdio host with a 1 MiB buffer reads from storage
        int64_t Calls() const { return open + close + length + read + tell + seek; }
    };
    Counts counts;
    void Reset() { counts = {}; }

    // Estimated time a host with this latency per call and bandwidth would
    // take for the counted calls, in milliseconds.
    double EstimateMs(double latencyMs, double megabytesPerSecond) const
    {
        return static_cast<double>(counts.Calls()) * latencyMs +
               static_cast<double>(counts.bytes) / (megabytesPerSecond * 1e6) * 1e3;
    }

    const SparseFile& File() const { return *file; }

private:
    struct Handle {
        BenchHost* owner;
        int64_t position = 0;
        int64_t bufferStart = 0, bufferEnd = 0; // the modelled stdio buffer
    };
    static void* Open(unsigned char* name);
    static int32_t Close(void* handle);
    static int64_t Length(void* handle);
    static int32_t Read(void* handle, int32_t count, unsigned char* dest);
    static int64_t Tell(void* handle);
    static int32_t Seek(void* handle, int64_t offset, int32_t whence);

    std::shared_ptr<const SparseFile> file;
    int32_t maxRead;
    std::vector<std::unique_ptr<Handle>> handles;
};

#endif
