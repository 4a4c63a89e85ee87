// The shared master-element loop (which children it reads, skips, or leaves
// for the enclosing element) and the payload readers its handlers use.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "EbmlWriter.h"
#include "TestStreams.h"
#include "ebml/ElementLoop.h"
#include "stream/NoCachingFileStreamParser.h"

namespace {

using ebml::Cat;
using ebml::Element;
using ebml::Id;
using ebml::Master;
using ebml::Size;
using ebml::Str;
using ebml::UInt;
using ebml::UnknownSizeElement;

// A parent that reads TrackNumber (D7), takes FlagLacing (9C) unread, and nothing else.
constexpr uint32_t kParent = 0xAE;
constexpr uint32_t kHandled = 0xD7;
constexpr uint32_t kHandledUnread = 0x9C;
constexpr uint32_t kOther = 0x536E;

class Probe : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override
    {
        return ParseChildren(stream, *this, [&](ElementBody& child) {
            switch (child.Id()) {
            case HeldId(kHandled):
                values.push_back(child.ReadUInt32());
                return true;
            case HeldId(kHandledUnread):
                return true;
            default:
                return false;
            }
        });
    }
    std::vector<uint32_t> values;
};

// A four-byte Void: a peek needs four bytes, so a short last element is followed by this.
const Bytes kPadding = Element(0xEC, {0, 0});

// Reads the parent's header as an enclosing element does, then its children.
void ParseParent(CBitStreamParser& stream, Probe& parent)
{
    ElementBody body(&stream, EBML::PeekID(&stream));
    body.ParseChild(parent);
}

} // namespace

TEST(ChildLoop, UnhandledChildrenAreSkippedOnlyInsideAKnownParentSize)
{
    const Bytes handled1 = UInt(kHandled, 1); // D7 81 01
    const Bytes handled2 = UInt(kHandled, 2);
    const Bytes other = Str(kOther, "xy");    // 53 6E 82 'x' 'y'
    struct Case {
        const char* what;
        Bytes file;
        std::vector<uint32_t> values;
        int64_t stop; // where the loop leaves the stream
    };
    const Case cases[] = {
        {"unhandled child inside the declared size is skipped",
         Cat({Master(kParent, {handled1, other, handled2}), other}), {1, 2}, 2 + 3 + 5 + 3},
        {"unhandled child ending exactly at the declared end is skipped",
         Cat({Master(kParent, {handled1, other}), handled2, other}), {1, 2}, 2 + 3 + 5 + 3},
        {"handled children after the declared end are still read",
         Cat({Master(kParent, {handled1}), handled2, UInt(kHandled, 3), other}), {1, 2, 3}, 2 + 3 + 3 + 3},
        {"unhandled child at the declared end ends the parent",
         Cat({Master(kParent, {handled1}), other, handled2}), {1}, 2 + 3},
        {"unknown-size parent ends at its first unhandled child",
         UnknownSizeElement(kParent, Cat({handled1, other, handled2})), {1}, 1 + 8 + 3},
        // AE 8B | D7 81 01 | 53 6E 86 'abcdef': one byte past the declared 11
        {"unhandled child running past the declared end ends the parent",
         Cat({Id(kParent), Size(11), handled1, Str(kOther, "abcdef"), handled2}), {1}, 2 + 3},
        // AE 85 | D7 81 01 | 53 6E, then the size byte 81 past the declared end
        {"unhandled child whose header crosses the declared end ends the parent",
         Cat({Id(kParent), Size(5), handled1, {0x53, 0x6E}, {0x81, 0x00}, handled2}), {1}, 2 + 3},
        {"unhandled child with a size byte 00 ends the parent",
         Cat({Master(kParent, {handled1, {0x53, 0x6E, 0x00, 0x00, 0x00}, handled2}), other}), {1}, 2 + 3},
        {"unhandled child of unknown size ends the parent",
         Cat({Master(kParent, {handled1, {0x53, 0x6E, 0xFF, 0x00}, handled2})}), {1}, 2 + 3},
        {"an invalid ID ends the parent",
         Cat({Master(kParent, {handled1, {0x08, 0x00, 0x00, 0x00, 0x81, 0x00}, handled2})}), {1}, 2 + 3},
        {"Void, CRC-32 and SignatureSlot are skipped even without a known size",
         UnknownSizeElement(kParent, Cat({Element(0xEC, {0, 0, 0}), Element(0xBF, {1, 2, 3, 4}),
                                          Element(0x1B538667, {5, 6}), handled1, other})),
         {1}, 1 + 8 + 5 + 6 + 7 + 3},
        {"a handled child its handler leaves unread is skipped",
         Cat({Master(kParent, {UInt(kHandledUnread, 9), handled1}), other}), {1}, 2 + 3 + 3},
    };
    for (const Case& c : cases) {
        CBitStreamParser stream = MemoryStream(c.file);
        Probe parent;
        ParseParent(stream, parent);
        EXPECT_EQ(parent.values, c.values) << c.what;
        EXPECT_EQ(stream.Tell(), c.stop) << c.what;
    }
}

TEST(ChildLoop, LeavesTheHostStreamAtTheChildItDoesNotTake)
{
    // AE 86 | D7 81 01 | 53 6E 86 ...: the host seeks back to the overrunning child.
    HostStream source(Cat({Id(kParent), Size(6), UInt(kHandled, 1), Str(kOther, "abcdef")}));
    NoCachingFileStreamParser& stream = source.stream;
    Probe parent;
    ParseParent(stream, parent);
    EXPECT_EQ(parent.values, (std::vector<uint32_t>{1}));
    EXPECT_EQ(stream.Tell(), 5);
    EXPECT_EQ(EBML::PeekID(&stream), HeldId(kOther));
}

TEST(ElementBody, IntegerPayloadsKeepTheirLowBitsAndConsumeEveryByte)
{
    struct Case {
        const char* what;
        Bytes payload;
        uint32_t low32;
        uint64_t value64;
    };
    const Case cases[] = {
        {"five bytes", {0x01, 0x02, 0x03, 0x04, 0x05}, 0x02030405u, 0x0102030405ull},
        {"empty", {}, 0u, 0ull},
        {"eight bytes of FF", Bytes(8, 0xFF), 0xFFFFFFFFu, UINT64_MAX},
        {"exactly the scratch area", Cat({ebml::Filler(1020, 0xEE), {0x0A, 0x0B, 0x0C, 0x0D}}), 0x0A0B0C0Du,
         0xEEEEEEEE0A0B0C0Dull},
        {"beyond the scratch area", Cat({ebml::Filler(1022, 0xEE), {1, 2, 3, 4, 5, 6, 7, 8}}), 0x05060708u,
         0x0102030405060708ull},
    };
    for (const Case& c : cases) {
        const Bytes file = Cat({Element(kHandled, c.payload), UInt(kHandledUnread, 7), kPadding});
        for (bool wide : {false, true}) {
            CBitStreamParser stream = MemoryStream(file);
            ElementBody body(&stream, EBML::PeekID(&stream));
            if (wide) {
                EXPECT_EQ(body.ReadUInt64(), c.value64) << c.what;
            } else {
                EXPECT_EQ(body.ReadUInt32(), c.low32) << c.what;
            }
            ElementBody next(&stream, EBML::PeekID(&stream));
            EXPECT_EQ(next.Id(), HeldId(kHandledUnread)) << c.what;
            EXPECT_EQ(next.ReadUInt32(), 7u) << c.what;
        }
    }
}

TEST(ElementBody, FloatPayloadsOfFourAndEightBytesAreBigEndian)
{
    struct Case {
        Bytes payload;
        double value;
    };
    const Case cases[] = {
        {{0x3F, 0xC0, 0x00, 0x00}, 1.5},
        {{0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}, 3.141592653589793},
        {{}, 0.0},
    };
    for (const Case& c : cases) {
        const Bytes file = Cat({Element(0xB5, c.payload), UInt(kHandledUnread, 7), kPadding});
        CBitStreamParser stream = MemoryStream(file);
        ElementBody body(&stream, EBML::PeekID(&stream));
        EXPECT_EQ(body.ReadFloat(), c.value) << c.payload.size();
        ElementBody next(&stream, EBML::PeekID(&stream));
        EXPECT_EQ(next.ReadUInt32(), 7u) << c.payload.size();
    }
}

TEST(ElementBody, TextAndRawPayloadsAreCopiedWhole)
{
    const Bytes file = Cat({Str(0x86, "A_AAC"), Element(0x63A2, {0x12, 0x10}), Str(0x86, ""),
                            Element(0x63A2, {})});
    CBitStreamParser stream = MemoryStream(file);

    MallocPtr<char> text;
    ElementBody(&stream, EBML::PeekID(&stream)).ReadString(text);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::memcmp(text.get(), "A_AAC\0", 6), 0);

    MallocPtr<uint8_t> raw;
    EXPECT_EQ(ElementBody(&stream, EBML::PeekID(&stream)).ReadRaw(raw), 2);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw.get()[0], 0x12);
    EXPECT_EQ(raw.get()[1], 0x10);

    ElementBody(&stream, EBML::PeekID(&stream)).ReadString(text);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text.get()[0], '\0');

    EXPECT_EQ(ElementBody(&stream, EBML::PeekID(&stream)).ReadRaw(raw), 0);
    EXPECT_TRUE(stream.IsEnd());
}

TEST(ElementBody, PayloadsClaimingMoreThanTheSourceHoldsAreRefusedAndSkipped)
{
    // 86 | 10 00 03 E8 (1000 bytes claimed) | 'abc': three bytes present.
    const Bytes claims1000 = Cat({Id(0x86), Size(1000, 4), {'a', 'b', 'c'}});
    // 86 | 01 00 FF FF FF FF FF FE: an eight-byte size far beyond the source.
    const Bytes claimsHuge = Cat({Id(0x86), {0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, {'a'}});
    for (const Bytes& file : {claims1000, claimsHuge}) {
        {
            CBitStreamParser stream = MemoryStream(file);
            MallocPtr<char> text(static_cast<char*>(std::calloc(4, 1)));
            std::memcpy(text.get(), "old", 3);
            ElementBody(&stream, EBML::PeekID(&stream)).ReadString(text);
            EXPECT_STREQ(text.get(), "old");
            EXPECT_TRUE(stream.IsEnd());
        }
        {
            CBitStreamParser stream = MemoryStream(file);
            MallocPtr<uint8_t> raw;
            EXPECT_EQ(ElementBody(&stream, EBML::PeekID(&stream)).ReadRaw(raw), 0);
            EXPECT_TRUE(stream.IsEnd());
        }
        {
            CBitStreamParser stream = MemoryStream(file);
            EBMLString value;
            ElementBody body(&stream, EBML::PeekID(&stream));
            EXPECT_FALSE(body.FitsInSource());
            EXPECT_NE(body.ReadValue(value), 0u);
            EXPECT_EQ(value.GetData(), nullptr);
            EXPECT_TRUE(stream.IsEnd());
        }
    }
}

TEST(ElementBody, ReadIntoTakesAtMostTheCapacityAndConsumesTheRest)
{
    struct Case {
        Bytes payload;
        Bytes dest; // a 4-byte destination starting as EE EE EE EE
    };
    const Case cases[] = {
        {{1, 2, 3, 4, 5, 6}, {1, 2, 3, 4}},
        {{1, 2}, {1, 2, 0xEE, 0xEE}},
        {{}, {0xEE, 0xEE, 0xEE, 0xEE}},
    };
    for (const Case& c : cases) {
        const Bytes file = Cat({Element(0x63A2, c.payload), UInt(kHandledUnread, 7), kPadding});
        CBitStreamParser stream = MemoryStream(file);
        auto dest = std::make_unique<uint8_t[]>(4); // exact size: an overrun is caught
        std::memset(dest.get(), 0xEE, 4);
        ElementBody(&stream, EBML::PeekID(&stream)).ReadInto(dest.get(), 4);
        EXPECT_EQ(Bytes(dest.get(), dest.get() + 4), c.dest) << c.payload.size();
        EXPECT_EQ(ElementBody(&stream, EBML::PeekID(&stream)).ReadUInt32(), 7u) << c.payload.size();
    }
}
