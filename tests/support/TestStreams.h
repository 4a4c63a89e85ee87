// Streams for tests: an in-memory stream over given bytes, and a host stream
// opened through a MemoryReader whose call log a test can inspect.
#ifndef MKV_TESTS_SUPPORT_TESTSTREAMS_H
#define MKV_TESTS_SUPPORT_TESTSTREAMS_H

#include <cstdint>
#include <utility>
#include <vector>

#include "MemoryReader.h"
#include "stream/CBitStreamParser.h"
#include "stream/NoCachingFileStreamParser.h"

// The library's own in-memory stream over a copy of `bytes`.
inline CBitStreamParser MemoryStream(const std::vector<uint8_t>& bytes)
{
    return CBitStreamParser(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// A NoCachingFileStreamParser opened over `bytes` at construction; the
// host's log then holds the four calls of the load.
struct HostStream {
    explicit HostStream(std::vector<uint8_t> bytes)
        : host(std::move(bytes)), callbacks(host.Callbacks()), stream(host.Name(), opened, &callbacks)
    {
    }

    MemoryReader host;
    _ZOLVDMX_READER_CALLBACK_T callbacks;
    bool opened = false;
    NoCachingFileStreamParser stream;
};

#endif
