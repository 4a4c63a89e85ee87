// The windowed stream against the uncached one over the same bytes, and the host calls it saves.
#include <gtest/gtest.h>

#include <random>

#include "TestStreams.h"
#include "stream/ReadAheadStreamParser.h"

namespace {

using Windowed = HostStream<ReadAheadStreamParser>;
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

// Mostly what parsers do (headers, peeks, short hops, small payloads), with some large reads, far
// jumps, moves past either end and odd counts. `fromEnd`: whether seeks from the end are drawn.
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
    // Bytes per host read (-1: all that was asked) and how far the host's length is off; the last length
    // is far out of range, as a broken host may report. (A length below 0 means "unknown" here, where the
    // uncached stream takes it as it comes: the real files are played through such a host instead.)
    const std::pair<int32_t, int64_t> hosts[] = {{1, 0},      {3, 0},       {4096, 0},
                                                 {-1, 0},     {-1, -1000},  {4096, 1000}, {-1, INT64_MAX / 2}};
    const std::vector<uint8_t> bytes = Pattern(3 * kWindow + 1234);
    uint32_t seed = 0;
    for (const auto& [maxReadSize, lengthError] : hosts) {
        SCOPED_TRACE("reads of " + std::to_string(maxReadSize) + ", length off by " + std::to_string(lengthError));
        auto host = [&bytes, read = maxReadSize, error = lengthError] {
            MemoryReader reader(bytes);
            reader.logging = false;
            reader.maxReadSize = read;
            reader.lengthError = error;
            return reader;
        };
        HostStream<> reference(host());
        Windowed windowed(host());
        ASSERT_TRUE(reference.opened && windowed.opened);
        // A seek from the end counts from the reported length here, from the host's own end there:
        // drawn only when the two agree.
        const std::vector<Op> ops = RandomOps(++seed, 1500, static_cast<int64_t>(bytes.size()), lengthError == 0);
        for (size_t i = 0; i < ops.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "operation " << i << ": " << ops[i].kind << ", " << ops[i].a << ", "
                                            << ops[i].b);
            const Outcome got = Apply(windowed.stream, ops[i]);
            const Outcome expected = Apply(reference.stream, ops[i]);
            ASSERT_EQ(got.result, expected.result);
            ASSERT_EQ(got.position, expected.position);
            ASSERT_TRUE(got.written == expected.written);
        }
        EXPECT_EQ(windowed.host.calls.tell, 0);
    }
}

TEST(ReadAheadStreamParser, ReadsOnFromTheHostsPositionProbesAfterLongSkipsAndSeeksOnlyWhenItMust)
{
    Windowed source(Pattern(4 * kWindow + 5000));
    source.host.ClearLog();
    source.host.failReadOnCall = 1;
    const int64_t far = 2 * kWindow + 20000; // more than the read-through ahead of the host
    const std::pair<Op, Log> steps[] = {
        {{Op::GetByte, 0, 0}, {"read h1 65536"}}, // fails: the host's position is no longer known...
        {{Op::GetByte, 0, 0}, {"seek h1 0 0", "read h1 65536"}}, // ...so the refill seeks first
        {{Op::Peek, 0, 4}, {}},
        {{Op::Seek, 60000, ZOLVDMX_SEEK_SET}, {}},
        {{Op::SkipBytes, 100, 0}, {}},
        {{Op::GetBytes, 0, 16}, {}},
        {{Op::Seek, kWindow - 2, ZOLVDMX_SEEK_SET}, {}},
        // Across the window's end: the next window is read on from where the host stands.
        {{Op::Peek, 0, 4}, {"read h1 65536"}},
        {{Op::GetBytes, 0, kWindow}, {}}, // from both windows
        {{Op::Seek, 1000, ZOLVDMX_SEEK_SET}, {}},
        {{Op::GetBytes, 0, kWindow}, {}},
        // A long skip ahead: a probe for the header there, not a window.
        {{Op::Seek, far, ZOLVDMX_SEEK_SET}, {}},
        {{Op::GetByte, 0, 0}, {"seek h1 151072 0", "read h1 4096"}},
        {{Op::GetBytes, 0, 100}, {}},
        // A short skip past the probe: the gap is read rather than sought over.
        {{Op::Seek, far + 4096 + 8000, ZOLVDMX_SEEK_SET}, {}},
        {{Op::GetByte, 0, 0}, {"read h1 65536"}},
        {{Op::Seek, 10, ZOLVDMX_SEEK_SET}, {}}, // still held
        {{Op::GetByte, 0, 0}, {}},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        Apply(source.stream, steps[i].first);
        EXPECT_EQ(source.host.log, steps[i].second) << "step " << i;
        source.host.ClearLog();
    }
}

TEST(ReadAheadStreamParser, StreamsSharingWindowsReadEachRegionOnceAndReplaceTheLeastRecentlyUsed)
{
    MemoryReader host(Pattern(6 * kWindow));
    _ZOLVDMX_READER_CALLBACK_T callbacks = host.Callbacks();
    HostSource shared(&callbacks, 2);
    ASSERT_TRUE(shared.Open(host.Name()));
    ReadAheadStreamParser& first = *shared.NewStream();
    ReadAheadStreamParser& second = *shared.NewStream();
    std::vector<uint8_t> a(100), b(100);
    first.ReadAt(kWindow + 10, 100, a.data());
    host.ClearLog();
    EXPECT_EQ(second.ReadAt(kWindow + 10, 100, b.data()), 100);
    second.Seek(kWindow + 500, ZOLVDMX_SEEK_SET);
    EXPECT_EQ(second.GetByte(), host.bytes[kWindow + 500]);
    EXPECT_TRUE(host.log.empty());
    EXPECT_EQ(a, b);
    second.ReadAt(3 * kWindow, 10, b.data());
    first.ReadAt(kWindow + 20, 10, a.data()); // the first region, now the more recent
    second.ReadAt(5 * kWindow, 10, b.data()); // replaces the third region's window
    host.ClearLog();
    first.ReadAt(kWindow + 30, 10, a.data());
    EXPECT_TRUE(host.log.empty());
    second.ReadAt(3 * kWindow + 5, 10, b.data());
    EXPECT_EQ(host.log, (Log{"seek h1 196608 0", "read h1 65536"}));
    EXPECT_EQ(b[0], host.bytes[3 * kWindow + 5]);
}

TEST(ReadAheadStreamParser, AStreamSkippingAheadReadsThroughWhatAnotherStreamStillHasToRead)
{
    for (bool pending : {false, true}) {
        SCOPED_TRACE(pending ? "the first stream has bytes to read there" : "nobody needs the bytes skipped");
        MemoryReader host(Pattern(4 * kWindow));
        _ZOLVDMX_READER_CALLBACK_T callbacks = host.Callbacks();
        HostSource shared(&callbacks);
        ASSERT_TRUE(shared.Open(host.Name()));
        ReadAheadStreamParser& first = *shared.NewStream();
        ReadAheadStreamParser& second = *shared.NewStream();
        first.GetByte();
        first.SetPendingFrom(pending ? 70000 : -1);
        host.ClearLog();
        second.Seek(kWindow + 40000, ZOLVDMX_SEEK_SET);
        EXPECT_EQ(second.GetByte(), host.bytes[kWindow + 40000]);
        EXPECT_EQ(host.log, (pending ? Log{"read h1 65536"} : Log{"seek h1 105536 0", "read h1 4096"}));
        host.ClearLog();
        std::vector<uint8_t> frame(1000);
        EXPECT_EQ(first.ReadAt(70000, 1000, frame.data()), 1000);
        EXPECT_EQ(frame[0], host.bytes[70000]);
        EXPECT_EQ(host.log.empty(), pending);
    }
}
