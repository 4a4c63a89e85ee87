// Tracks, track entries and their Video and Audio settings.
#include <gtest/gtest.h>

#include "ParseElement.h"
#include "matroska/EBMLTrack.h"

using namespace ebml;

namespace {

constexpr uint32_t kTracks = 0x1654AE6B;
constexpr uint32_t kTrackEntry = 0xAE;
constexpr uint32_t kLanguageBcp47 = 0x22B59D; // not a child this system reads

std::string Text(const EBMLBinary& value)
{
    return value.GetData() == nullptr ? std::string() : reinterpret_cast<const char*>(value.GetData());
}

} // namespace

TEST(TrackEntry, DecodesItsChildrenAndAppliesNoDefaults)
{
    Bytes bytes = Master(kTrackEntry, {
        UInt(0xD7, 1),                                                // TrackNumber
        Bin(0x73C5, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}), // TrackUID, 8 bytes
        UInt(0x83, 1),                                                // TrackType
        Element(0xEC, {0x00, 0x00, 0x00}),                            // Void
        Str(0x86, "V_MPEG4/ISO/AVC"),                                 // CodecID
        UInt(0xC0, 5),                                                // passed over
        Str(0x258688, "AVC"),                                         // CodecName
        Master(0xE0, {UInt(0xB0, 320), UInt(0xBA, 240), Float32(0x2383E3, 25.0f)}), // Video
        Master(0xE0, {UInt(0xB0, 640)}),                              // Video again: same object
        UInt(0x23E383, 40000000),                                     // DefaultDuration
    });
    EBMLTrackEntry entry;
    EXPECT_EQ(ParseElement(bytes, entry), static_cast<int64_t>(bytes.size()));

    EXPECT_EQ(entry.trackNumber, 1u);
    EXPECT_EQ(entry.trackUID, 0x05060708u);
    EXPECT_EQ(entry.trackType.value, 1u);
    EXPECT_EQ(Text(entry.codecID), "V_MPEG4/ISO/AVC");
    EXPECT_STREQ(entry.codecName.get(), "AVC");
    EXPECT_EQ(entry.defaultDuration, 40000000u);
    ASSERT_NE(entry.video, nullptr);
    EXPECT_EQ(entry.video->pixelWidth, 640u);
    EXPECT_EQ(entry.video->pixelHeight, 240u);
    EXPECT_EQ(entry.video->frameRate, 25.0);
    // Absent children read as empty or 0, not as their Matroska defaults.
    EXPECT_TRUE(entry.language.IsEmpty());
    EXPECT_EQ(entry.flagLacing, 0u);
    EXPECT_EQ(entry.video->displayWidth, 0u);
}

TEST(Audio, SamplingFrequencyIsKeptAsASingleWhateverItsWidth)
{
    struct Case {
        Bytes children;
        float samplingFrequency;
        uint32_t channels;
    };
    const Case cases[] = {
        {Cat({Float32(0xB5, 44100.0f), UInt(0x9F, 2)}), 44100.0f, 2},
        {Cat({Float64(0xB5, 44100.0), UInt(0x9F, 6)}), 44100.0f, 6},
        {Float64(0xB5, 0.1), 0.1f, 0},
        {{}, 0.0f, 0},
    };
    for (const Case& c : cases) {
        Bytes bytes = Element(0xE1, c.children);
        EBMLAudio audio;
        EXPECT_EQ(ParseElement(bytes, audio), static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(audio.samplingFrequency, c.samplingFrequency);
        EXPECT_EQ(audio.channels, c.channels);
    }
}

TEST(Tracks, UnknownChildInsideAnEntryLosesNothingThatFollows)
{
    Bytes bytes = Master(kTracks, {
        Master(kTrackEntry, {
            UInt(0xD7, 1),
            Str(kLanguageBcp47, "en-US"),
            UInt(0x83, 2),
            Master(0x6624, {UInt(0x66FC, 1)}),   // TrackTranslate, not read
            Str(0x86, "A_AAC"),
        }),
        Master(kTrackEntry, {UInt(0xD7, 2)}),
    });
    EBMLTrack tracks;
    EXPECT_EQ(ParseElement(bytes, tracks), static_cast<int64_t>(bytes.size()));
    ASSERT_EQ(tracks.entries.size(), 2u);
    EXPECT_EQ(tracks.entries[0]->trackType.value, 2u);
    EXPECT_EQ(Text(tracks.entries[0]->codecID), "A_AAC");
    EXPECT_TRUE(tracks.entries[0]->translations.empty());
    EXPECT_EQ(tracks.entries[1]->trackNumber, 2u);
}

TEST(Tracks, AfterTheDeclaredEndOnlyAnotherEntryIsRead)
{
    const Bytes firstEntry = Master(kTrackEntry, {UInt(0xD7, 1)});
    const Bytes secondEntry = Master(kTrackEntry, {UInt(0xD7, 2)});
    const Bytes tracks = Master(kTracks, {firstEntry});
    struct Case {
        Bytes bytes;
        size_t entries;
        size_t end;
    };
    const Case cases[] = {
        {Cat({tracks, Str(kLanguageBcp47, "en"), secondEntry}), 1, tracks.size()},
        {Cat({tracks, Master(0x1F43B675, {UInt(0xE7, 0)})}), 1, tracks.size()}, // Cluster
        // The declared size does not bound the handled children.
        {Cat({tracks, secondEntry}), 2, tracks.size() + secondEntry.size()},
        // Without a declared size an unknown element ends the list where it
        // stands: after 4 ID bytes, 8 size bytes and the first entry.
        {UnknownSizeElement(kTracks, Cat({firstEntry, Str(kLanguageBcp47, "en"), secondEntry})), 1,
         12 + firstEntry.size()},
    };
    for (const Case& c : cases) {
        EBMLTrack parsed;
        EXPECT_EQ(ParseElement(c.bytes, parsed), static_cast<int64_t>(c.end));
        EXPECT_EQ(parsed.entries.size(), c.entries);
    }
}

TEST(TrackEntry, PayloadsClaimingMoreThanTheSourceHoldsAreNotRead)
{
    // A last child whose size claims 5000 bytes where 10 follow: nothing is
    // read and the stream stops at the end of the source.
    const uint32_t ids[] = {0x63A2 /* CodecPrivate */, 0x258688 /* CodecName */};
    for (uint32_t id : ids) {
        Bytes truncated = Master(kTrackEntry, {UInt(0xD7, 3), Id(id), Size(5000), Filler(10, 0x55)});
        EBMLTrackEntry cut;
        EXPECT_EQ(ParseWholeSource(truncated, cut), static_cast<int64_t>(truncated.size()));
        EXPECT_TRUE(cut.codecPrivate.IsEmpty());
        EXPECT_EQ(cut.codecName, nullptr);
    }
}
