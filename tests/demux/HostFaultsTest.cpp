// The real files through a host that fails a chosen read, seek or open or misreports the length, and
// damaged copies of them: every answer is one a host may be given (LoadedFile checks each), with every
// host handle closed; the sanitizer build adds leaks and accesses out of bounds.
#include <gtest/gtest.h>

#include <functional>

#include "LoadedFile.h"
#include "TestData.h"

namespace {

// A run as a host drives it: every format record and sample of every track, then seeks of each track
// inside, before the start, at it, back, near and past the end, and the samples after them.
MemoryReader::Counts Drive(MemoryReader host)
{
    LoadedFile file(std::move(host));
    for (int32_t track = 0; track < file.Tracks(); ++track) {
        EXPECT_TRUE(file.Type(track) >= -1 && file.Type(track) <= 2);
        file.Format(track);
        file.All(track);
    }
    for (int32_t track = 0; track < file.Tracks(); ++track) {
        for (int64_t time : {25000000, -1, 0, 7000000, 38000000, 3000000, 900000000}) {
            int64_t result = 0;
            file.Seek(track, time, result);
            file.Next(track);
            file.Next(track);
        }
    }
    return file.host.calls;
}

MemoryReader HostFor(const std::string& name)
{
    return MemoryReader(ReadTestFile(name + ".mkv"));
}

} // namespace

TEST(HostFaults, EveryFailedReadSeekOpenAndWrongLengthEndsCleanly)
{
    // Files read whole at load, and one larger than the streams' read-ahead window.
    for (const char* name : {"h264_aac", "mpeg4_mp3", "theora_vorbis", "h264_aac_manyclusters", "ac3_only",
                             "x264_default_gop"}) {
        const MemoryReader::Counts calls = Drive(HostFor(name));
        ASSERT_GT(calls.read, 0);
        auto drive = [name](const std::string& fault, const std::function<void(MemoryReader&)>& set) {
            SCOPED_TRACE(std::string(name) + ": " + fault);
            MemoryReader host = HostFor(name);
            set(host);
            Drive(std::move(host));
        };
        // Every call up to the 200th, then about 100 more spread evenly.
        auto points = [](int64_t count) {
            std::vector<int64_t> k;
            for (int64_t i = 1; i <= count; i += i < 200 ? 1 : (count - 200) / 100 + 1) {
                k.push_back(i);
            }
            return k;
        };
        // An error and an early end alternate: reads treat them alike.
        for (int64_t k : points(calls.read)) {
            drive("read " + std::to_string(k), [k](MemoryReader& host) {
                host.failReadOnCall = k;
                host.failedReadAnswer = k % 2 == 0 ? 0 : -1;
            });
        }
        for (int64_t k : points(calls.seek)) {
            drive("seek " + std::to_string(k), [k](MemoryReader& host) { host.failSeekOnCall = k; });
        }
        for (int k = 1; k <= calls.open; ++k) {
            drive("open " + std::to_string(k), [k](MemoryReader& host) { host.failOpenOnCall = k; });
        }
        const auto size = static_cast<int64_t>(HostFor(name).bytes.size());
        for (int64_t error : {INT64_MIN, -size - 100, -size, -size / 2, int64_t{-1}, int64_t{1}, size,
                              INT64_MAX - size}) {
            drive("length off by " + std::to_string(error), [error](MemoryReader& host) { host.lengthError = error; });
        }
    }
}

TEST(HostileFiles, DamagedFilesGiveOnlyDocumentedResults)
{
    for (const char* name : {"h264_aac", "mpeg4_mp3", "theora_vorbis", "h264_aac_manyclusters", "ac3_only"}) {
        const Bytes original = HostFor(name).bytes;
        for (int round = 0; round < 150; ++round) {
            SCOPED_TRACE(std::string(name) + " round " + std::to_string(round));
            // A xorshift generator seeded by the round, so that every run damages alike.
            uint64_t state = (round * 131 + original.size()) * 0x9E3779B97F4A7C15ull + 1;
            auto below = [&state](size_t n) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                return n == 0 ? 0 : static_cast<size_t>(state % n);
            };
            // Bytes overwritten, flipped, set to all ones (unknown sizes, huge lace counts), removed, or the
            // file cut short.
            Bytes bytes = original;
            for (size_t e = 0, edits = 1 + below(6); e < edits && !bytes.empty(); ++e) {
                const size_t at = below(bytes.size());
                const size_t kind = below(5);
                const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(at);
                if (kind == 0 || kind == 2) {
                    bytes[at] = kind == 0 ? static_cast<uint8_t>(below(256)) : 0xFF;
                } else if (kind == 1) {
                    bytes[at] ^= static_cast<uint8_t>(1u << below(8));
                } else {
                    const size_t count = kind == 3 ? std::min(bytes.size() - at, 1 + below(64)) : bytes.size() - at;
                    bytes.erase(from, from + static_cast<std::ptrdiff_t>(count));
                }
            }
            Drive(MemoryReader(bytes));
        }
    }
}
