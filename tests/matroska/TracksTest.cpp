// Track entries: how their frames are stored (content encodings), and the check that keeps tracks with an
// encrypted CodecPrivate out. Their Video and Audio settings are checked on the real files.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "ParseElement.h"
#include "matroska/EBMLTrack.h"

using namespace ebml;

namespace {

// A ContentEncoding (62 40) of unknown size: order, type, a ContentEncryption or ContentCompression (settings
// 01 02 03), then the scope, read only if every child before was handled. -1: absent (algorithm: no children).
Bytes Encoding(uint32_t order, int type, int scope, int algorithm = -1)
{
    auto child = [](uint32_t id, int value) { return value < 0 ? Bytes{} : UInt(id, static_cast<uint64_t>(value)); };
    Bytes body = type == 1 ? Master(0x5035, {UInt(0x47E1, 5), Bin(0x47E2, {0x10, 0x20})})
                           : Master(0x5034, {child(0x4254, algorithm), algorithm < 0 ? Bytes{} : Bin(0x4255, {1, 2, 3})});
    return UnknownSizeElement(0x6240, Cat({UInt(0x5031, order), child(0x5033, type), body, child(0x5032, scope)}));
}

} // namespace

TEST(ContentEncodings, FrameStorageAndExpandFollowTheLayers)
{
    using Storage = EBMLTrackEntry::Storage;
    // What, the ContentEncoding layers (none: no ContentEncodings at all), the frame storage, and whether
    // Expand(2) agrees (no encryption covers CodecPrivate).
    const std::tuple<const char*, std::optional<std::vector<Bytes>>, Storage, bool> cases[] = {
        {"no ContentEncodings", std::nullopt, Storage::Plain, true},
        {"empty ContentEncodings", std::vector<Bytes>{}, Storage::Plain, true},
        {"header stripping, type and scope absent", {{Encoding(0, -1, -1, 3)}}, Storage::HeaderStripped, true},
        {"header stripping of CodecPrivate", {{Encoding(0, 0, 2, 3)}}, Storage::Unreadable, true},
        {"zlib by default", {{Encoding(0, 0, 1)}}, Storage::Unreadable, true},
        {"two header strippings", {{Encoding(0, 0, 1, 3), Encoding(1, 0, 1, 3)}}, Storage::Unreadable, true},
        {"compressing the next encoding only", {{Encoding(0, 0, 4)}}, Storage::Plain, true},
        {"encrypted frames", {{Encoding(0, 1, 1)}}, Storage::Unreadable, true},
        {"encrypted CodecPrivate", {{Encoding(0, 1, 2)}}, Storage::Plain, false},
        {"encrypted both", {{Encoding(0, 1, 3)}}, Storage::Unreadable, false},
        {"encryption, scope absent", {{Encoding(0, 1, -1)}}, Storage::Unreadable, true},
        {"encryption at order 0 of two", {{Encoding(1, 0, 2), Encoding(0, 1, 2)}}, Storage::Unreadable, false},
        {"orders 2^31 apart", {{Encoding(0, 0, 2), Encoding(0x80000001u, 0, 2), Encoding(7, 1, 2)}},
         Storage::Unreadable, false},
    };
    for (const auto& [what, layers, storage, expanded] : cases) {
        // LanguageBCP47 (22 B5 9D), newer than this parser, must not end the entry.
        std::vector<Bytes> children{UInt(0xD7, 1), Str(0x22B59D, "en-US")};
        if (layers) {
            children.push_back(Master(0x6D80, *layers));
        }
        EBMLTrackEntry entry;
        ParseElement(Master(0xAE, children), entry);
        const uint8_t* prefix = nullptr;
        int32_t prefixLength = 0;
        EXPECT_EQ(entry.FrameStorage(prefix, prefixLength), storage) << what;
        if (storage == Storage::HeaderStripped) {
            EXPECT_EQ(Bytes(prefix, prefix + prefixLength), (Bytes{0x01, 0x02, 0x03}));
        }
        EXPECT_EQ(entry.Expand(2), expanded) << what;
    }
}
