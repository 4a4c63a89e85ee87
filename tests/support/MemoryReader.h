// An in-memory host: the seven reader callbacks over a byte vector, with a log of every call and
// injectable faults. The source name handed to the library is the reader's own address (Name()).
#ifndef MKV_TESTS_SUPPORT_MEMORYREADER_H
#define MKV_TESTS_SUPPORT_MEMORYREADER_H

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "zolvdmx.h"

class MemoryReader {
public:
    explicit MemoryReader(std::vector<uint8_t> data = {}) : bytes(std::move(data)) {}

    _ZOLVDMX_READER_CALLBACK_T Callbacks() const;
    unsigned char* Name() { return reinterpret_cast<unsigned char*>(this); }

    bool failOpen = false;          // every open fails
    int failOpenOnCall = 0;         // the Nth open (1-based) fails
    int32_t maxReadSize = -1;       // reads deliver at most this many bytes
    int64_t failReadsFrom = -1;     // no byte at or after this offset is delivered
    bool readReportsError = false;  // read delivers nothing and answers -1
    int32_t readOverReports = 0;    // read answers this many bytes more than it delivered
    int64_t failReadOnCall = 0;     // the Nth read (1-based, over all handles) delivers nothing...
    int32_t failedReadAnswer = -1;  // ...and answers this (-1 or 0)
    int64_t failSeekOnCall = 0;     // the Nth seek answers -1 and leaves the position alone
    int64_t lengthError = 0;        // added to what length answers (negative: too short)
    bool unknownLength = false;     // length answers -1: a live or progressive source
    // A file still being written: only this many bytes exist yet (-1: all), and every length call after
    // the first makes `growth` more of them appear.
    int64_t visibleSize = -1;
    int64_t growth = 0;

    // Calls by callback kind, on every handle, logged or not.
    struct Counts {
        int64_t open = 0, close = 0, length = 0, read = 0, tell = 0, seek = 0;
        int64_t Total() const { return open + close + length + read + tell + seek; }
    };
    Counts calls;

    // Log: "open", "close h1", "length h1", "read h1 4", "tell h1", "seek h1 -4 1"; handles numbered in order.
    std::vector<std::string> log;
    bool logging = true; // off for long runs (benchmarks, hostile-file sweeps)
    int openHandles = 0;
    int64_t bytesDelivered = 0;
    void ClearLog() { log.clear(); }

    std::vector<uint8_t> bytes;
    // The bytes that exist now.
    int64_t Size() const
    {
        auto all = static_cast<int64_t>(bytes.size());
        return visibleSize >= 0 && visibleSize < all ? visibleSize : all;
    }

private:
    struct Handle {
        MemoryReader* owner;
        int number;
        int64_t position;
    };
    // Counts a call on a handle and logs it with its arguments.
    static Handle& Note(void* handle, int64_t Counts::*kind, const char* name,
                        std::initializer_list<int64_t> arguments = {});
    static void* Open(unsigned char* name);
    static int32_t Close(void* handle);
    static int64_t Length(void* handle);
    static int32_t Read(void* handle, int32_t count, unsigned char* dest);
    static int64_t Tell(void* handle);
    static int32_t Seek(void* handle, int64_t offset, int32_t whence);

    std::vector<std::unique_ptr<Handle>> handles;
};

#endif
