// Streams for tests: the in-memory stream, host streams over a MemoryReader whose call log a test can
// inspect, and one way to run any stream operation and record all a caller sees of it.
#ifndef MKV_TESTS_SUPPORT_TESTSTREAMS_H
#define MKV_TESTS_SUPPORT_TESTSTREAMS_H

#include "MemoryReader.h"
#include "stream/CBitStreamParser.h"
#include "stream/NoCachingFileStreamParser.h"

using Log = std::vector<std::string>; // the host calls, as MemoryReader logs them

// The library's own in-memory stream over a copy of `bytes`.
inline CBitStreamParser MemoryStream(const std::vector<uint8_t>& bytes)
{
    return CBitStreamParser(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// A stream over the host callbacks, opened at construction; the host's log then holds the calls of the load.
template <class Stream = NoCachingFileStreamParser>
struct HostStream {
    explicit HostStream(std::vector<uint8_t> bytes) : HostStream(MemoryReader(std::move(bytes))) {}
    explicit HostStream(MemoryReader reader)
        : host(std::move(reader)), callbacks(host.Callbacks()), stream(host.Name(), opened, &callbacks)
    {
    }

    MemoryReader host;
    _ZOLVDMX_READER_CALLBACK_T callbacks;
    bool opened = false;
    Stream stream;
};

// A stream operation: `a` is an offset or a skip, `b` a byte or bit count (Seek: the whence).
struct Op {
    enum Kind { GetBytes, GetByte, Peek, DecodeBits, Seek, Shift, SkipBytes, SkipForward, IsEnd, Remaining };
    Kind kind;
    int64_t a;
    int32_t b;
};

struct Outcome {
    int64_t result = 0;
    std::vector<uint8_t> written; // the destination, EE bytes before the operation
    int64_t position = 0;         // Tell() after it
};

inline Outcome Apply(CBitStreamParser& stream, const Op& op)
{
    Outcome out;
    const bool copies = op.kind == Op::GetBytes || op.kind == Op::Peek;
    out.written.assign(static_cast<size_t>(copies && op.b > 0 ? op.b : 1), 0xEE);
    uint8_t* dest = out.written.data();
    switch (op.kind) {
    case Op::GetBytes: out.result = stream.GetBytes(op.b, dest); break;
    case Op::GetByte: out.result = stream.GetByte(); break;
    case Op::Peek: out.result = stream.Peek(dest, op.b); break;
    case Op::DecodeBits: out.result = stream.DecodeBits(op.b); break;
    case Op::Seek: out.result = stream.Seek(op.a, op.b); break;
    case Op::Shift: out.result = stream.Shift(static_cast<int32_t>(op.a)); break;
    case Op::SkipBytes: out.result = stream.SkipBytes(static_cast<int32_t>(op.a)); break;
    case Op::SkipForward: stream.SkipForward(static_cast<uint64_t>(op.a)); break;
    case Op::IsEnd: out.result = stream.IsEnd() ? 1 : 0; break;
    case Op::Remaining: out.result = stream.RemainingBytes(); break;
    }
    out.position = stream.Tell();
    return out;
}

#endif
