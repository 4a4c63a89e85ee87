// Content encodings: how a track's frames are stored, and the check that
// keeps tracks with an encrypted CodecPrivate out.
#include <gtest/gtest.h>

#include <optional>

#include "ParseElement.h"
#include "matroska/EBMLTrack.h"

using namespace ebml;

namespace {

// A ContentEncoding (62 40) of unknown size: order (50 31), type (50 33), a
// ContentEncryption (50 35) or ContentCompression (50 34, with settings 01 02
// 03), then the scope (50 32), read only if every child before was handled.
// -1: the element is absent; for the algorithm, a ContentCompression without children.
Bytes Encoding(uint32_t order, int type, int scope, int algorithm = -1)
{
    std::vector<Bytes> children{UInt(0x5031, order)};
    if (type >= 0) {
        children.push_back(UInt(0x5033, static_cast<uint64_t>(type)));
    }
    children.push_back(type == 1        ? Master(0x5035, {UInt(0x47E1, 5), Bin(0x47E2, {0x10, 0x20})})
                       : algorithm < 0 ? Master(0x5034, {})
                                       : Master(0x5034, {UInt(0x4254, static_cast<uint64_t>(algorithm)),
                                                         Bin(0x4255, {0x01, 0x02, 0x03})}));
    if (scope >= 0) {
        children.push_back(UInt(0x5032, static_cast<uint64_t>(scope)));
    }
    return UnknownSizeElement(0x6240, Cat(children));
}

} // namespace

TEST(ContentEncodings, FrameStorageAndExpandFollowTheLayers)
{
    using Storage = EBMLTrackEntry::Storage;
    const struct {
        const char* what;
        std::optional<std::vector<Bytes>> layers; // none: no ContentEncodings at all
        Storage storage;
        bool expanded; // Expand(2): no encryption covers CodecPrivate
    } cases[] = {
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
    for (const auto& c : cases) {
        // LanguageBCP47 (22 B5 9D), newer than this parser, must not end the entry.
        std::vector<Bytes> children{UInt(0xD7, 1), Str(0x22B59D, "en-US")};
        if (c.layers) {
            children.push_back(Master(0x6D80, *c.layers));
        }
        EBMLTrackEntry entry;
        ParseElement(Master(0xAE, children), entry);
        const uint8_t* prefix = nullptr;
        int32_t prefixLength = 0;
        EXPECT_EQ(entry.FrameStorage(prefix, prefixLength), c.storage) << c.what;
        if (c.storage == Storage::HeaderStripped) {
            EXPECT_EQ(Bytes(prefix, prefix + prefixLength), (Bytes{0x01, 0x02, 0x03}));
        }
        EXPECT_EQ(entry.Expand(2), c.expanded) << c.what;
    }
}
