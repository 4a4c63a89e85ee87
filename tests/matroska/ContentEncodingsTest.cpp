// Content encodings: compression settings, and the checks that keep tracks
// with encrypted or compressed data out.
#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "ParseElement.h"
#include "matroska/EBMLTrack.h"

using namespace ebml;

namespace {

// ContentCompression (50 34) holding ContentCompAlgo (42 54) and ContentCompSettings (42 55).
const Bytes kCompression = Master(0x5034, {UInt(0x4254, 3), Bin(0x4255, {0x01, 0x02, 0x03})});

struct Layer {
    uint32_t order;
    uint32_t type; // 0 compression, 1 encryption
    std::optional<uint32_t> scope;
};

// A ContentEncoding (62 40): order (50 31), type (50 33), for an encryption
// a ContentEncryption (50 35) with an algorithm and a key ID, then the scope
// (50 32) last, so that it is read only if everything before stayed in step.
Bytes Encoding(const Layer& layer)
{
    std::vector<Bytes> children{UInt(0x5031, layer.order), UInt(0x5033, layer.type)};
    if (layer.type == 1) {
        children.push_back(Master(0x5035, {UInt(0x47E1, 5), Bin(0x47E2, {0x10, 0x20})}));
    }
    if (layer.scope) {
        children.push_back(UInt(0x5032, *layer.scope));
    }
    return Master(0x6240, children);
}

} // namespace

TEST(ContentEncodings, CompressionKeepsItsAlgorithmAndSettings)
{
    const Bytes next = UInt(0x5031, 1);
    const struct {
        Bytes bytes;
        size_t end;
        uint32_t algorithm;
        Bytes settings;
    } cases[] = {
        {Cat({kCompression, next}), kCompression.size(), 3, {0x01, 0x02, 0x03}},
        // No children: zlib, the default, without settings.
        {Cat({Master(0x5034, {}), next}), 3, 0, {}},
        // Of unknown size, its children are read up to the first it does
        // not know: 2 ID bytes, 8 size bytes, then 4 payload bytes.
        {UnknownSizeElement(0x5034, Cat({UInt(0x4254, 3), next})), 14, 3, {}},
    };
    for (const auto& c : cases) {
        EBMLContentCompression compression;
        EXPECT_EQ(ParseWholeSource(c.bytes, compression), static_cast<int64_t>(c.end));
        EXPECT_EQ(compression.algorithm, c.algorithm);
        EXPECT_EQ(Bytes(compression.settings.get(), compression.settings.get() + compression.settingsLength),
                  c.settings);
    }
}

TEST(ContentEncodings, CompressionDoesNotEndTheTracksParse)
{
    // Every master here but ContentCompression is of unknown size, so only
    // an unhandled ID ends it: a compression layer that left its children
    // unread would end the entry and the whole Tracks element there.
    Bytes bytes = UnknownSizeElement(0x1654AE6B, Cat({              // Tracks
        UnknownSizeElement(0xAE, Cat({                              //   TrackEntry
            UInt(0xD7, 1),
            UnknownSizeElement(0x6D80, Cat({                        //     ContentEncodings
                UnknownSizeElement(0x6240, Cat({UInt(0x5031, 0), kCompression, UInt(0x5032, 1)})),
            })),
            Str(0x86, "S_TEXT/UTF8"),                               //     CodecID
        })),
        Master(0xAE, {UInt(0xD7, 2)}),
    }));
    EBMLTrack tracks;
    EXPECT_EQ(ParseElement(bytes, tracks), static_cast<int64_t>(bytes.size()));
    ASSERT_EQ(tracks.entries.size(), 2u);
    const EBMLTrackEntry& first = *tracks.entries[0];
    ASSERT_NE(first.contentEncodings, nullptr);
    ASSERT_EQ(first.contentEncodings->encodings.size(), 1u);
    EXPECT_NE(first.contentEncodings->encodings[0]->compression, nullptr);
    EXPECT_EQ(first.contentEncodings->encodings[0]->scope, 1u);
    EXPECT_EQ(first.codecID.GetLength(), 11);
    EXPECT_EQ(tracks.entries[1]->trackNumber, 2u);
}

TEST(Expand, OnlyAnEncryptionCoveringTheScopeRefusesTheTrack)
{
    using Layers = std::vector<Layer>;
    struct Case {
        const char* what;
        std::optional<Layers> layers; // nothing: no ContentEncodings at all
        bool expanded;
    };
    const Case cases[] = {
        {"no ContentEncodings", std::nullopt, true},
        {"empty ContentEncodings", Layers{}, true},
        {"encryption, scope 2", Layers{{0, 1, 2}}, false},
        {"encryption, scope 3", Layers{{0, 1, 3}}, false},
        {"encryption, frames only", Layers{{0, 1, 1}}, true},
        {"encryption, no scope", Layers{{0, 1, std::nullopt}}, true},
        {"compression, scope 2", Layers{{0, 0, 2}}, true},
        {"encryption at order 0 of two", Layers{{1, 0, 2}, {0, 1, 2}}, false},
        {"orders 2^31 apart", Layers{{0, 0, 2}, {0x80000001u, 0, 2}, {7, 1, 2}}, false},
    };
    for (const Case& c : cases) {
        std::vector<Bytes> children{UInt(0xD7, 1)};
        if (c.layers) {
            std::vector<Bytes> layers;
            for (const Layer& layer : *c.layers) {
                layers.push_back(Encoding(layer));
            }
            children.push_back(Master(0x6D80, layers));
        }
        EBMLTrackEntry entry;
        ParseElement(Master(0xAE, children), entry);
        EXPECT_EQ(entry.Expand(2), c.expanded) << c.what;
    }
}

TEST(Expand, SortContentEncodingIsTheSigned32BitOrderDifference)
{
    struct Case {
        uint32_t first;
        uint32_t second;
        int expected;
    };
    const Case cases[] = {{3, 1, 2}, {1, 3, -2}, {5, 5, 0}, {0, 0xFFFFFFFFu, 1}, {0x80000000u, 0, INT_MIN}};
    for (const Case& c : cases) {
        EBMLContentEncoding first;
        EBMLContentEncoding second;
        first.order = c.first;
        second.order = c.second;
        EBMLContentEncoding* a = &first;
        EBMLContentEncoding* b = &second;
        EXPECT_EQ(SortContentEncoding(&a, &b), c.expected) << c.first << " " << c.second;
    }
}
