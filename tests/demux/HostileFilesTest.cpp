// Damaged versions of the real test files — bytes overwritten, flipped,
// removed, cut short — driven through load, every sample of every track and
// seeks. Only documented results may come back; the sanitizer build catches
// any access out of bounds (every sample buffer is exactly maxSampleSize).
#include <gtest/gtest.h>

#include "LoadedFile.h"
#include "TestData.h"

namespace {

// A small deterministic generator, so every run damages the same way.
class Random {
public:
    explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }

private:
    uint64_t state;
};

std::vector<uint8_t> Damage(std::vector<uint8_t> bytes, Random& random)
{
    int edits = 1 + static_cast<int>(random.Below(6));
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
        size_t at = random.Below(bytes.size());
        switch (random.Below(5)) {
        case 0:
            bytes[at] = static_cast<uint8_t>(random.Next());
            break;
        case 1:
            bytes[at] ^= static_cast<uint8_t>(1u << random.Below(8));
            break;
        case 2: // all-ones: unknown sizes, huge lace counts
            bytes[at] = 0xFF;
            break;
        case 3:
            bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + 1 + random.Below(64))));
            break;
        default:
            bytes.resize(at);
            break;
        }
    }
    return bytes;
}

bool IsSampleStatus(uint32_t status)
{
    return status == ZOLVDMX_OK || status == ZOLVDMX_END_OF_TRACK || status == ZOLVDMX_E_FAIL ||
           status == ZOLVDMX_E_UNSUPPORTED;
}

} // namespace

TEST(HostileFiles, DamagedFilesGiveOnlyDocumentedResults)
{
    const char* const files[] = {"h264_aac.mkv", "mpeg4_mp3.mkv", "theora_vorbis.mkv", "h264_aac_manyclusters.mkv",
                                 "ac3_only.mkv"};
    const int rounds = 150;
    for (const char* name : files) {
        std::vector<uint8_t> original = ReadTestFile(name);
        ASSERT_FALSE(original.empty()) << name;
        for (int round = 0; round < rounds; ++round) {
            Random random(static_cast<uint64_t>(round) * 131 + original.size());
            std::vector<uint8_t> damaged = Damage(original, random);
            SCOPED_TRACE(std::string(name) + " round " + std::to_string(round));

            LoadedFile file(damaged, false);
            ASSERT_TRUE(file.loadStatus == ZOLVDMX_OK || file.loadStatus == ZOLVDMX_E_FAIL);
            int32_t tracks = file.Tracks();
            ASSERT_GE(tracks, 0);
            // No file yields more samples than it has bytes.
            size_t limit = damaged.size() + 16;
            for (int32_t track = 0; track < tracks; ++track) {
                int32_t type = API_ZOLVDMX_GetTrackType(file.handle, track);
                ASSERT_TRUE(type >= -1 && type <= 2);
                size_t delivered = 0;
                for (;;) {
                    Sample sample = file.Next(track);
                    ASSERT_TRUE(IsSampleStatus(sample.status)) << std::hex << sample.status;
                    if (sample.status != ZOLVDMX_OK && sample.status != ZOLVDMX_E_FAIL) {
                        break;
                    }
                    ASSERT_LT(++delivered, limit) << "sample delivery does not end";
                }
                for (int64_t time : {int64_t{-1}, int64_t{7000000}, int64_t{25000000}, int64_t{7000000}}) {
                    int64_t result = 0;
                    uint32_t status = file.Seek(track, time, result);
                    ASSERT_TRUE(status == ZOLVDMX_OK || status == ZOLVDMX_E_FAIL);
                    ASSERT_TRUE(IsSampleStatus(file.Next(track).status));
                }
            }
        }
    }
}
