// Which host callbacks each stream operation makes, and with what.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MemoryReader.h"
#include "TestStreams.h"
#include "stream/NoCachingFileStreamParser.h"

using Log = std::vector<std::string>;

TEST(NoCachingFileStreamParser, LoadAsksLengthRightAfterSeekingToTheEnd)
{
    HostStream source({1, 2, 3, 4, 5});
    ASSERT_TRUE(source.opened);
    EXPECT_EQ(source.host.log, (Log{"open", "seek h1 0 2", "length h1", "seek h1 0 0"}));
    EXPECT_EQ(source.stream.GetFileLength(), 5);
}

TEST(NoCachingFileStreamParser, LoadOnAnOpenStreamClosesTheOldHandleFirst)
{
    MemoryReader host({1, 2, 3, 4, 5});
    auto callbacks = host.Callbacks();
    {
        bool ok = false;
        NoCachingFileStreamParser stream(host.Name(), ok, &callbacks);
        stream.Seek(3, 0);
        host.ClearLog();

        ASSERT_TRUE(stream.Load(host.Name()));
        EXPECT_EQ(host.log, (Log{"close h1", "open", "seek h2 0 2", "length h2", "seek h2 0 0"}));
        EXPECT_EQ(host.openHandles, 1);
        EXPECT_EQ(stream.GetByte(), 1); // reopened at position 0
        host.ClearLog();
    }
    EXPECT_EQ(host.log, (Log{"close h2"}));
    EXPECT_EQ(host.openHandles, 0);
}

namespace {

// Runs every stream operation once, expecting the answers of an empty source.
void ExpectClosed(NoCachingFileStreamParser& stream)
{
    uint8_t dest[8] = {};
    stream.GetBytes(0, dest);
    stream.GetByte();
    stream.Seek(2, 0);
    stream.Shift(1);
    stream.SkipBytes(1);
    stream.SkipForward(0x100000000ull);
    stream.DecodeBits(8);
    EXPECT_EQ(stream.Peek(dest, 4), 0);
    EXPECT_EQ(stream.GetBytes(4, dest), 0);
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_TRUE(stream.IsEnd()); // a read loop stops at once
    EXPECT_EQ(stream.RemainingBytes(), 0);
}

} // namespace

TEST(NoCachingFileStreamParser, ClosedStreamNeverCallsTheHost)
{
    MemoryReader refused({1, 2, 3, 4, 5});
    refused.failOpen = true;
    auto refusedCallbacks = refused.Callbacks();
    bool ok = true;
    {
        NoCachingFileStreamParser stream(refused.Name(), ok, &refusedCallbacks);
        EXPECT_FALSE(ok);
        ExpectClosed(stream);
    }
    EXPECT_EQ(refused.log, (Log{"open"}));

    // Reopen refused: the old handle is closed and nothing is left of the old source.
    MemoryReader reopened({1, 2, 3, 4, 5});
    reopened.failOpenOnCall = 2;
    auto reopenedCallbacks = reopened.Callbacks();
    {
        NoCachingFileStreamParser stream(reopened.Name(), ok, &reopenedCallbacks);
        ASSERT_TRUE(ok);
        reopened.ClearLog();
        EXPECT_FALSE(stream.Load(reopened.Name()));
        ExpectClosed(stream);
    }
    EXPECT_EQ(reopened.log, (Log{"close h1", "open"}));
    EXPECT_EQ(reopened.openHandles, 0);

    // Callbacks given but never loaded.
    MemoryReader unused({1, 2, 3, 4, 5});
    auto unusedCallbacks = unused.Callbacks();
    {
        NoCachingFileStreamParser stream;
        stream.SetReader(&unusedCallbacks);
        ExpectClosed(stream);
    }
    EXPECT_TRUE(unused.log.empty());
}

TEST(NoCachingFileStreamParser, EachOperationMakesItsHostCallsWithFullWidthArguments)
{
    struct Case {
        const char* operation;
        std::function<int64_t(NoCachingFileStreamParser&)> run;
        int64_t result;
        Log log;
    };
    uint8_t dest[8] = {};
    const std::vector<Case> cases = {
        {"GetBytes(3)", [&](auto& s) { return s.GetBytes(3, dest); }, 3, {"read h1 3"}},
        {"GetBytes(0)", [&](auto& s) { return s.GetBytes(0, dest); }, 0, {"read h1 0"}},
        {"GetByte", [](auto& s) { return s.GetByte(); }, 0xA1, {"read h1 1"}},
        {"DecodeBits(12)", [](auto& s) { return s.DecodeBits(12); }, 0xA1B, {"read h1 1", "read h1 1"}},
        {"Seek beyond 4 GiB", [](auto& s) { return s.Seek(0x100000005ll, 0); }, 1, {"seek h1 4294967301 0"}},
        {"Seek from the end", [](auto& s) { return s.Seek(-2, 2); }, 1, {"seek h1 -2 2"}},
        {"Shift back", [](auto& s) { return s.Shift(-3); }, 1, {"seek h1 -3 1"}},
        {"SkipBytes", [](auto& s) { return s.SkipBytes(7); }, 1, {"seek h1 7 1"}},
        {"Tell", [](auto& s) { return s.Tell(); }, 0, {"tell h1"}},
        {"SkipForward 2^31-1", [](auto& s) { s.SkipForward(0x7FFFFFFFull); return 0; }, 0,
         {"seek h1 2147483647 1"}},
        {"SkipForward 2^31", [](auto& s) { s.SkipForward(0x80000000ull); return 0; }, 0,
         {"seek h1 2147483648 1"}},
        {"SkipForward 2^64-1", [](auto& s) { s.SkipForward(UINT64_MAX); return 0; }, 0,
         {"seek h1 9223372036854775807 1"}},
    };
    for (const Case& c : cases) {
        HostStream source({0xA1, 0xB2, 0xC3, 0xD4});
        source.host.ClearLog();
        EXPECT_EQ(c.run(source.stream), c.result) << c.operation;
        EXPECT_EQ(source.host.log, c.log) << c.operation;
    }
}

TEST(NoCachingFileStreamParser, ShortAnswersAreAskedAgainUntilTheCountArrives)
{
    HostStream source({1, 2, 3, 4, 5, 6});
    MemoryReader& host = source.host;
    NoCachingFileStreamParser& stream = source.stream;
    host.maxReadSize = 2;
    stream.Seek(1, 0);
    host.ClearLog();

    uint8_t dest[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(stream.Peek(dest, 4), 4);
    EXPECT_EQ(host.log, (Log{"tell h1", "read h1 4", "read h1 2", "seek h1 -4 1"}));
    EXPECT_EQ(stream.Tell(), 1);

    // Only the end of the source (an answer of 0) stops a read short.
    host.ClearLog();
    EXPECT_EQ(stream.GetBytes(6, dest), 5);
    EXPECT_EQ(host.log, (Log{"read h1 6", "read h1 4", "read h1 2", "read h1 1"}));
    EXPECT_EQ(std::vector<uint8_t>(dest, dest + 6), (std::vector<uint8_t>{2, 3, 4, 5, 6, 0}));
    EXPECT_EQ(stream.Tell(), 6);

    // A host failure part-way keeps what arrived before it.
    stream.Seek(0, 0);
    host.failReadOnCall = host.calls.read + 2;
    EXPECT_EQ(stream.GetBytes(6, dest), 2);
    EXPECT_EQ(stream.GetBytes(2, dest), 2); // the host answers again after its failure
    EXPECT_EQ(dest[0], 3);
}

TEST(NoCachingFileStreamParser, MisreportedReadCountsNeverMoveAPeekOffItsPlace)
{
    // A host answering -1, or more bytes than asked for, must not make the
    // peek's backward seek land somewhere else.
    struct Case {
        bool reportsError;
        int32_t overReports;
        int32_t peekResult;
        int32_t getBytesResult;
    };
    for (const Case& c : {Case{true, 0, 0, 0}, Case{false, 10, 3, 3}}) {
        HostStream source({1, 2, 3, 4, 5, 6});
        source.host.readReportsError = c.reportsError;
        source.host.readOverReports = c.overReports;
        NoCachingFileStreamParser& stream = source.stream;
        stream.Seek(2, 0);

        uint8_t dest[3] = {};
        EXPECT_EQ(stream.Peek(dest, 3), c.peekResult) << c.overReports;
        EXPECT_EQ(stream.Tell(), 2) << c.overReports;
        EXPECT_EQ(stream.GetBytes(3, dest), c.getBytesResult) << c.overReports;
    }
}

TEST(NoCachingFileStreamParser, PeekReadsThenSeeksBackAndReadsNothingAtTheEnd)
{
    HostStream source({1, 2, 3});
    MemoryReader& host = source.host;
    NoCachingFileStreamParser& stream = source.stream;
    host.ClearLog();

    uint8_t dest[4] = {};
    EXPECT_EQ(stream.Peek(dest, 4), 3);
    EXPECT_EQ(host.log, (Log{"tell h1", "read h1 4", "read h1 1", "seek h1 -3 1"}));
    EXPECT_EQ(stream.Tell(), 0);

    stream.Seek(3, 0);
    host.ClearLog();
    EXPECT_EQ(stream.Peek(dest, 4), 0);
    EXPECT_EQ(host.log, (Log{"tell h1"}));
}
