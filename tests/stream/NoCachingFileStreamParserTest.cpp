// Which host callbacks each stream operation makes, and with what.
#include <gtest/gtest.h>

#include "MemoryReader.h"
#include "stream/NoCachingFileStreamParser.h"

using Log = std::vector<std::string>;

TEST(NoCachingFileStreamParser, LoadAsksLengthRightAfterSeekingToTheEnd)
{
    MemoryReader host({1, 2, 3, 4, 5});
    auto callbacks = host.Callbacks();
    bool ok = false;
    NoCachingFileStreamParser stream(host.Name(), ok, &callbacks);
    ASSERT_TRUE(ok);
    EXPECT_EQ(host.log, (Log{"open", "seek h1 0 2", "length h1", "seek h1 0 0"}));
    EXPECT_EQ(stream.GetFileLength(), 5);
}

TEST(NoCachingFileStreamParser, PeekReadsThenSeeksBackAndReadsNothingAtTheEnd)
{
    MemoryReader host({1, 2, 3});
    auto callbacks = host.Callbacks();
    bool ok = false;
    NoCachingFileStreamParser stream(host.Name(), ok, &callbacks);
    host.ClearLog();

    uint8_t dest[4] = {};
    EXPECT_EQ(stream.Peek(dest, 4), 3);
    EXPECT_EQ(host.log, (Log{"tell h1", "read h1 4", "seek h1 -3 1"}));
    EXPECT_EQ(stream.Tell(), 0);

    stream.Seek(3, 0);
    host.ClearLog();
    EXPECT_EQ(stream.Peek(dest, 4), 0);
    EXPECT_EQ(host.log, (Log{"tell h1"}));
}
