// Which host callbacks the uncached stream makes, and what it makes of the answers.
#include <gtest/gtest.h>

#include "TestStreams.h"

TEST(NoCachingFileStreamParser, LoadAndPeekMakeTheirExactCallsAndReadsAskAgainUntilTheCountArrives)
{
    HostStream<> source({1, 2, 3, 4, 5, 6});
    MemoryReader& host = source.host;
    NoCachingFileStreamParser& stream = source.stream;
    EXPECT_EQ(host.log, (Log{"open", "seek h1 0 2", "length h1", "seek h1 0 0"}));
    EXPECT_EQ(stream.GetFileLength(), 6);

    host.maxReadSize = 2;
    stream.Seek(1, ZOLVDMX_SEEK_SET);
    host.ClearLog();
    uint8_t dest[6] = {};
    EXPECT_EQ(stream.Peek(dest, 4), 4);
    EXPECT_EQ(host.log, (Log{"tell h1", "read h1 4", "read h1 2", "seek h1 -4 1"}));
    EXPECT_EQ(stream.Tell(), 1);

    // Only the end of the source (an answer of 0) stops a read short, and a peek there asks for nothing.
    host.ClearLog();
    EXPECT_EQ(stream.GetBytes(6, dest), 5);
    EXPECT_EQ(std::vector<uint8_t>(dest, dest + 6), (std::vector<uint8_t>{2, 3, 4, 5, 6, 0}));
    EXPECT_EQ(stream.Peek(dest, 4), 0);
    EXPECT_EQ(host.log, (Log{"read h1 6", "read h1 4", "read h1 2", "read h1 1", "tell h1"}));
}

TEST(NoCachingFileStreamParser, AnswersOfMinusOneOrMoreThanAskedNeverMoveAPeekOffItsPlace)
{
    for (bool reportsError : {true, false}) {
        HostStream<> source({1, 2, 3, 4, 5, 6});
        source.host.readReportsError = reportsError;
        source.host.readOverReports = 10;
        source.stream.Seek(2, ZOLVDMX_SEEK_SET);
        uint8_t dest[3] = {};
        const int32_t delivered = reportsError ? 0 : 3;
        EXPECT_EQ(source.stream.Peek(dest, 3), delivered) << reportsError;
        EXPECT_EQ(source.stream.Tell(), 2) << reportsError;
        EXPECT_EQ(source.stream.GetBytes(3, dest), delivered) << reportsError;
    }
}

TEST(NoCachingFileStreamParser, ClosedStreamIsAnEmptySourceThatNeverCallsTheHost)
{
    MemoryReader host({1, 2, 3, 4, 5});
    host.failOpenOnCall = 2;
    HostStream<> source(std::move(host));
    NoCachingFileStreamParser& stream = source.stream;
    stream.Seek(3, ZOLVDMX_SEEK_SET);
    source.host.ClearLog();
    EXPECT_FALSE(stream.Load(source.host.Name())); // closes, then the reopen fails
    uint8_t dest[8] = {};
    stream.GetByte();
    stream.Seek(2, ZOLVDMX_SEEK_SET);
    stream.SkipForward(0x100000000ull);
    EXPECT_EQ(stream.Peek(dest, 4), 0);
    EXPECT_EQ(stream.GetBytes(4, dest), 0);
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_TRUE(stream.IsEnd()); // nothing is left of the old source: a read loop stops at once
    EXPECT_EQ(stream.RemainingBytes(), 0);
    EXPECT_EQ(source.host.log, (Log{"close h1", "open"}));
}
