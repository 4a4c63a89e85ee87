// The windowed stream against the uncached one over the same bytes, and the
// host calls it saves: what is in the window costs none.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "MemoryReader.h"
#include "stream/NoCachingFileStreamParser.h"
#include "stream/ReadAheadStreamParser.h"

namespace {

using Log = std::vector<std::string>;
constexpr int32_t kWindow = ReadAheadStreamParser::kWindowSize;

// Bytes whose value tells their offset apart from their neighbours'.
std::vector<uint8_t> Pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    return bytes;
}

// A windowed stream opened over `bytes`, with the load's calls cleared from
// the host's log.
struct WindowedStream {
    explicit WindowedStream(std::vector<uint8_t> bytes)
        : host(std::move(bytes)), callbacks(host.Callbacks()), stream(host.Name(), opened, &callbacks)
    {
        host.ClearLog();
    }

    MemoryReader host;
    _ZOLVDMX_READER_CALLBACK_T callbacks;
    bool opened = false;
    ReadAheadStreamParser stream;
};

struct Op {
    enum Kind { GetBytes, GetByte, Peek, DecodeBits, Seek, Shift, SkipBytes, SkipForward, IsEnd, Remaining };
    Kind kind;
    int64_t a;
    int32_t b;
};

struct Outcome {
    int64_t result = 0;
    std::vector<uint8_t> written; // the destination after the operation
    int64_t position = 0;         // Tell() after it
};

// Runs one operation and records everything a caller can see of it.
Outcome Apply(CBitStreamParser& stream, const Op& op)
{
    Outcome out;
    out.written.assign(static_cast<size_t>(op.b > 0 ? op.b : 1), 0xEE);
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

// Mostly what parsers do (headers, peeks, short hops, small payloads), with
// some large reads, far jumps, moves past either end and odd counts.
// `fromEnd`: whether seeks from the end are drawn.
std::vector<Op> RandomOps(uint32_t seed, size_t count, int64_t size, bool fromEnd)
{
    std::mt19937 random(seed);
    auto pick = [&](int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); };
    auto small = [&] { return static_cast<int32_t>(pick(0, 1) == 0 ? pick(-2, 12) : pick(13, 5000)); };
    std::vector<Op> ops;
    while (ops.size() < count) {
        switch (pick(0, 14)) {
        case 0: case 1: ops.push_back({Op::GetBytes, 0, small()}); break;
        case 2: ops.push_back({Op::GetBytes, 0, static_cast<int32_t>(pick(kWindow - 10, 2 * kWindow))}); break;
        case 3: case 4: ops.push_back({Op::GetByte, 0, 0}); break;
        case 5: ops.push_back({Op::Peek, 0, static_cast<int32_t>(pick(-1, 8))}); break;
        case 6: ops.push_back({Op::DecodeBits, 0, static_cast<int32_t>(pick(1, 32))}); break;
        case 7: ops.push_back({Op::Seek, pick(-20, size + 20), 0}); break;
        case 8: ops.push_back({Op::Seek, pick(-300, 300), 1}); break;
        case 9: ops.push_back({fromEnd ? Op::Seek : Op::IsEnd, pick(-3000, 5), 2}); break;
        case 10: ops.push_back({Op::Shift, pick(-100, 100), 0}); break;
        case 11: ops.push_back({Op::SkipBytes, pick(-10, 4000), 0}); break;
        case 12: ops.push_back({Op::SkipForward, pick(0, 3) == 0 ? INT64_MAX : pick(0, 2000), 0}); break;
        case 13: ops.push_back({Op::Seek, pick(-50, 50), static_cast<int32_t>(pick(0, 1))}); break;
        default: ops.push_back({pick(0, 1) == 0 ? Op::IsEnd : Op::Remaining, 0, 0}); break;
        }
    }
    return ops;
}

} // namespace

TEST(ReadAheadStreamParser, AnswersEveryOperationAsTheUncachedStreamDoes)
{
    struct Case {
        int32_t maxReadSize; // per host call; -1: all that was asked
        int64_t lengthError; // the host's length is off by this much
        uint32_t seed;
    };
    // The last two lengths are far out of range, as a broken host may report.
    const Case cases[] = {{1, 0, 1},         {3, 0, 2},         {4096, 0, 3},       {-1, 0, 4},
                          {-1, -1000, 5},    {4096, 1000, 6},   {-1, INT64_MIN, 7}, {-1, INT64_MAX / 2, 8}};
    const std::vector<uint8_t> bytes = Pattern(3 * kWindow + 1234);
    for (const Case& c : cases) {
        SCOPED_TRACE("reads of " + std::to_string(c.maxReadSize) + ", length off by " +
                     std::to_string(c.lengthError));
        MemoryReader referenceHost(bytes);
        MemoryReader windowedHost(bytes);
        for (MemoryReader* host : {&referenceHost, &windowedHost}) {
            host->logging = false;
            host->maxReadSize = c.maxReadSize;
            host->lengthError = c.lengthError;
        }
        auto referenceCallbacks = referenceHost.Callbacks();
        auto windowedCallbacks = windowedHost.Callbacks();
        bool referenceOpened = false;
        bool windowedOpened = false;
        NoCachingFileStreamParser reference(referenceHost.Name(), referenceOpened, &referenceCallbacks);
        ReadAheadStreamParser windowed(windowedHost.Name(), windowedOpened, &windowedCallbacks);
        ASSERT_TRUE(referenceOpened && windowedOpened);
        ASSERT_EQ(windowed.GetFileLength(), reference.GetFileLength());

        // A seek from the end counts from the reported length here, from the
        // host's own end there: drawn only when the two agree.
        const std::vector<Op> ops = RandomOps(c.seed, 1500, static_cast<int64_t>(bytes.size()), c.lengthError == 0);
        for (size_t i = 0; i < ops.size(); ++i) {
            SCOPED_TRACE("operation " + std::to_string(i) + " (kind " + std::to_string(ops[i].kind) + ", " +
                         std::to_string(ops[i].a) + ", " + std::to_string(ops[i].b) + ")");
            Outcome got = Apply(windowed, ops[i]);
            Outcome expected = Apply(reference, ops[i]);
            ASSERT_EQ(got.result, expected.result);
            ASSERT_EQ(got.position, expected.position);
            ASSERT_TRUE(got.written == expected.written);
        }
        EXPECT_EQ(windowedHost.calls.tell, 0);
    }
}

TEST(ReadAheadStreamParser, HeadersPeeksTellsAndSeeksInsideTheWindowCostNoHostCall)
{
    WindowedStream source(Pattern(2 * kWindow + 5000));
    MemoryReader& host = source.host;
    ReadAheadStreamParser& stream = source.stream;
    const std::vector<uint8_t>& bytes = host.bytes;

    // The first byte fills the window; the host is already at 0.
    EXPECT_EQ(stream.GetByte(), bytes[0]);
    EXPECT_EQ(host.log, (Log{"read h1 65536"}));
    host.ClearLog();

    uint8_t dest[16] = {};
    EXPECT_EQ(stream.Peek(dest, 4), 4);
    EXPECT_EQ(dest[3], bytes[4]);
    EXPECT_EQ(stream.DecodeBits(16), static_cast<uint32_t>(bytes[1] << 8 | bytes[2]));
    EXPECT_EQ(stream.Tell(), 3);
    EXPECT_EQ(stream.Seek(60000, ZOLVDMX_SEEK_SET), 1);
    EXPECT_EQ(stream.SkipBytes(100), 1);
    EXPECT_EQ(stream.Shift(-40), 1);
    EXPECT_EQ(stream.GetBytes(16, dest), 16);
    EXPECT_EQ(dest[15], bytes[60075]);
    EXPECT_FALSE(stream.IsEnd());
    EXPECT_TRUE(host.log.empty());

    // A peek across the window's end restarts the window at the 4 KiB
    // boundary before the position, so the bytes peeked are then read from it.
    stream.Seek(kWindow - 2, ZOLVDMX_SEEK_SET);
    EXPECT_EQ(stream.Peek(dest, 4), 4);
    EXPECT_EQ(stream.GetBytes(4, dest), 4);
    EXPECT_EQ(dest[3], bytes[kWindow + 1]);
    EXPECT_EQ(host.log, (Log{"seek h1 61440 0", "read h1 65536"}));
    host.ClearLog();

    // A read running off the window continues where the host already is;
    // the last refill stops at the reported length.
    std::vector<uint8_t> large(kWindow);
    EXPECT_EQ(stream.GetBytes(kWindow - 2, large.data()), kWindow - 2);
    EXPECT_EQ(large[kWindow - 3], bytes[2 * kWindow - 1]);
    EXPECT_EQ(host.log, (Log{"read h1 9096"}));
    host.ClearLog();

    // A read of a window or more goes straight into the destination and
    // leaves the window as it was.
    stream.Seek(1000, ZOLVDMX_SEEK_SET);
    EXPECT_EQ(stream.GetBytes(kWindow, large.data()), kWindow);
    EXPECT_EQ(large[0], bytes[1000]);
    EXPECT_EQ(large.back(), bytes[kWindow + 999]);
    stream.Seek(2 * kWindow, ZOLVDMX_SEEK_SET);
    EXPECT_EQ(stream.GetByte(), bytes[2 * kWindow]);
    EXPECT_EQ(host.log, (Log{"seek h1 1000 0", "read h1 65536"}));
    EXPECT_EQ(host.calls.tell, 0);
}

TEST(ReadAheadStreamParser, ReadAtServesFromTheWindowOrStraightFromTheHost)
{
    WindowedStream source(Pattern(3 * kWindow));
    MemoryReader& host = source.host;
    ReadAheadStreamParser& stream = source.stream;
    const std::vector<uint8_t>& bytes = host.bytes;
    std::vector<uint8_t> dest(2 * kWindow);
    auto expectBytesAt = [&](int64_t position, int32_t count) {
        EXPECT_EQ(std::vector<uint8_t>(dest.begin(), dest.begin() + count),
                  std::vector<uint8_t>(bytes.begin() + position, bytes.begin() + position + count))
            << position;
    };
    stream.GetByte();
    stream.Seek(7, ZOLVDMX_SEEK_SET);
    host.ClearLog();

    struct Case {
        const char* what;
        int64_t position;
        int32_t count;
        int32_t delivered;
        Log log;
    };
    const Case cases[] = {
        {"inside the window", 100, 30000, 30000, {}},
        // Windows start at a multiple of 4 KiB: this one at 98304.
        {"small, outside: refills the window there", 100000, 100, 100, {"seek h1 98304 0", "read h1 65536"}},
        {"small, in the refilled window", 150000, 4000, 4000, {}},
        {"large, outside: straight to the destination", 10, 8000, 8000, {"seek h1 10 0", "read h1 8000"}},
        {"the window survives it", 155000, 5000, 5000, {}},
        {"large, starting in the window: only the rest is read", 160000, 10000, 10000,
         {"seek h1 163840 0", "read h1 6160"}},
        {"large, past the end: short", 3 * kWindow - 5000, 9000, 5000,
         {"seek h1 191608 0", "read h1 9000", "read h1 4000"}},
        {"at the end", 3 * kWindow, 10, 0, {"seek h1 196608 0", "read h1 65536"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stream.ReadAt(c.position, c.count, dest.data()), c.delivered) << c.what;
        expectBytesAt(c.position, c.delivered);
        EXPECT_EQ(host.log, c.log) << c.what;
        EXPECT_EQ(stream.Tell(), 7) << c.what;
        host.ClearLog();
    }
    EXPECT_EQ(stream.ReadAt(-1, 10, dest.data()), 0);
    EXPECT_EQ(stream.ReadAt(0, 0, dest.data()), 0);
    EXPECT_TRUE(host.log.empty());
}

TEST(ReadAheadStreamParser, AfterAHostFaultTheNextReadSeeksAndGetsTheRightBytes)
{
    for (int32_t failedAnswer : {-1, 0}) {
        WindowedStream source(Pattern(kWindow + 100));
        MemoryReader& host = source.host;
        ReadAheadStreamParser& stream = source.stream;
        host.failReadOnCall = 1;
        host.failedReadAnswer = failedAnswer;
        uint8_t dest[4] = {};
        EXPECT_EQ(stream.GetBytes(4, dest), 0) << failedAnswer;
        EXPECT_EQ(stream.Tell(), 0) << failedAnswer;
        EXPECT_EQ(stream.GetBytes(4, dest), 4) << failedAnswer;
        EXPECT_EQ(dest[3], host.bytes[3]) << failedAnswer;
        EXPECT_EQ(host.log, (Log{"read h1 65536", "seek h1 0 0", "read h1 65536"})) << failedAnswer;
    }
}

TEST(ReadAheadStreamParser, LoadStartsOverWithAnEmptyWindowAndAClosedStreamCallsNothing)
{
    WindowedStream source(Pattern(1000));
    MemoryReader& host = source.host;
    ReadAheadStreamParser& stream = source.stream;
    stream.Seek(500, ZOLVDMX_SEEK_SET);
    stream.GetByte();
    host.ClearLog();

    // Reopened: position 0, and the first byte comes from the new handle.
    ASSERT_TRUE(stream.Load(host.Name()));
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_EQ(stream.GetByte(), host.bytes[0]);
    EXPECT_EQ(host.log, (Log{"close h1", "open", "seek h2 0 2", "length h2", "seek h2 0 0", "read h2 1000"}));

    // Refused: an empty source that never calls the host.
    host.failOpen = true;
    host.ClearLog();
    EXPECT_FALSE(stream.Load(host.Name()));
    uint8_t dest[4] = {};
    stream.Seek(2, ZOLVDMX_SEEK_SET);
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_EQ(stream.GetByte(), 0);
    EXPECT_EQ(stream.Peek(dest, 4), 0);
    EXPECT_EQ(stream.GetBytes(4, dest), 0);
    EXPECT_EQ(stream.ReadAt(0, 4, dest), 0);
    EXPECT_TRUE(stream.IsEnd());
    EXPECT_EQ(host.log, (Log{"close h2", "open"}));
}

TEST(ReadAheadStreamParser, StreamsSharingWindowsReadEachRegionFromTheHostOnce)
{
    MemoryReader host(Pattern(6 * kWindow));
    _ZOLVDMX_READER_CALLBACK_T callbacks = host.Callbacks();
    WindowCache shared(2, kWindow);
    bool opened = false;
    ReadAheadStreamParser first(host.Name(), opened, &callbacks, &shared);
    ReadAheadStreamParser second(host.Name(), opened, &callbacks, &shared);
    host.ClearLog();

    // What one stream read, the other finds in the shared window.
    std::vector<uint8_t> a(100);
    std::vector<uint8_t> b(100);
    EXPECT_EQ(first.ReadAt(kWindow + 10, 100, a.data()), 100);
    EXPECT_EQ(host.log, (Log{"seek h1 65536 0", "read h1 65536"}));
    host.ClearLog();
    EXPECT_EQ(second.ReadAt(kWindow + 10, 100, b.data()), 100);
    second.Seek(kWindow + 500, ZOLVDMX_SEEK_SET);
    EXPECT_EQ(second.GetByte(), host.bytes[kWindow + 500]);
    EXPECT_TRUE(host.log.empty());
    EXPECT_EQ(a, b);

    // Two windows: a third region replaces the one used least recently.
    second.ReadAt(3 * kWindow, 10, b.data());
    first.ReadAt(kWindow + 20, 10, a.data());   // the first region, now the more recent
    second.ReadAt(5 * kWindow, 10, b.data());   // replaces the third region's window
    host.ClearLog();
    first.ReadAt(kWindow + 30, 10, a.data());
    EXPECT_TRUE(host.log.empty());
    second.ReadAt(3 * kWindow + 5, 10, b.data());
    EXPECT_EQ(host.log, (Log{"seek h2 196608 0", "read h2 65536"}));
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 10),
              std::vector<uint8_t>(host.bytes.begin() + 3 * kWindow + 5, host.bytes.begin() + 3 * kWindow + 15));
}
