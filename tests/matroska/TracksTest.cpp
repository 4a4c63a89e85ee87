// Tracks, track entries and their Video and Audio settings.
#include <gtest/gtest.h>

#include "ParseElement.h"
#include "matroska/EBMLTrack.h"

using namespace ebml;

TEST(Tracks, EntriesKeepTheirVideoAndAudioSettingsWhateverTheFloatWidth)
{
    Bytes bytes = Master(0x1654AE6B, {
        UnknownSizeElement(0xAE, Cat({                                     // TrackEntry, read up to the next
            UInt(0xD7, 1),                                                 //   TrackNumber
            UInt(0xC0, 5),                                                 //   an old extension, passed over
            Master(0xE0, {UInt(0xB0, 320), UInt(0xBA, 240), Float32(0x2383E3, 25.0f)}), // Video
            Master(0xE0, {UInt(0xB0, 640)}),                               //   Video again: the same object
            Str(0x86, "V_VP8"),                                            //   CodecID
        })),
        // Audio: SamplingFrequency (B5) as a double, then as a single; Channels (9F).
        Master(0xAE, {UInt(0xD7, 2), Master(0xE1, {Float64(0xB5, 0.1), UInt(0x9F, 6)})}),
        Master(0xAE, {UInt(0xD7, 3), Master(0xE1, {Float32(0xB5, 44100.0f)})}),
    });
    EBMLTrack tracks;
    EXPECT_EQ(ParseElement(bytes, tracks), static_cast<int64_t>(bytes.size()));
    ASSERT_EQ(tracks.entries.size(), 3u);
    const EBMLTrackEntry& entry = *tracks.entries[0];
    EXPECT_STREQ(reinterpret_cast<const char*>(entry.codecID.GetData()), "V_VP8");
    ASSERT_NE(entry.video, nullptr);
    EXPECT_EQ(entry.video->pixelWidth, 640u);
    EXPECT_EQ(entry.video->pixelHeight, 240u);
    EXPECT_EQ(entry.video->frameRate, 25.0);
    ASSERT_NE(tracks.entries[2]->audio, nullptr);
    EXPECT_EQ(tracks.entries[1]->audio->samplingFrequency, 0.1f);
    EXPECT_EQ(tracks.entries[1]->audio->channels, 6u);
    EXPECT_EQ(tracks.entries[2]->audio->samplingFrequency, 44100.0f);
}
