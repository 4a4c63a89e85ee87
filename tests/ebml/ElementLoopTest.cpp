// The shared child loop (which children it reads, skips, or leaves to the parent) and the payload readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "EbmlWriter.h"
#include "TestStreams.h"
#include "ebml/ElementLoop.h"

namespace {

using namespace ebml;

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
            case HeldId(kHandled): values.push_back(child.ReadUInt32()); return true;
            case HeldId(kHandledUnread): return true;
            default: return false;
            }
        });
    }
    std::vector<uint32_t> values;
};

} // namespace

TEST(ChildLoop, UnhandledChildrenAreSkippedOnlyInsideAKnownParentSize)
{
    const Bytes one = UInt(kHandled, 1); // D7 81 01
    const Bytes two = UInt(kHandled, 2);
    const Bytes other = Str(kOther, "xy"); // 53 6E 82 'x' 'y'
    // What, the bytes, the values read, where the loop leaves the stream.
    const std::tuple<const char*, Bytes, std::vector<uint32_t>, int64_t> cases[] = {
        {"unhandled child inside the declared size: skipped", Cat({Master(kParent, {one, other, two}), other}),
         {1, 2}, 2 + 3 + 5 + 3},
        {"unhandled child ending at the declared end: skipped; handled ones after the end: read",
         Cat({Master(kParent, {one, other}), two, other}), {1, 2}, 2 + 3 + 5 + 3},
        {"unhandled child at the declared end", Cat({Master(kParent, {one}), other, two}), {1}, 2 + 3},
        {"unknown-size parent", UnknownSizeElement(kParent, Cat({one, other, two})), {1}, 1 + 8 + 3},
        // AE 8B | D7 81 01 | 53 6E 86 'abcdef': one byte past the declared 11
        {"unhandled child running past the declared end",
         Cat({Id(kParent), Size(11), one, Str(kOther, "abcdef"), two}), {1}, 2 + 3},
        // AE 85 | D7 81 01 | 53 6E, then the size byte 81 past the declared end
        {"unhandled child whose header crosses the declared end",
         Cat({Id(kParent), Size(5), one, {0x53, 0x6E}, {0x81, 0x00}, two}), {1}, 2 + 3},
        {"unhandled child with a size byte 00",
         Cat({Master(kParent, {one, {0x53, 0x6E, 0x00, 0x00, 0x00}, two}), other}), {1}, 2 + 3},
        {"unhandled child of unknown size", Master(kParent, {one, {0x53, 0x6E, 0xFF, 0x00}, two}), {1}, 2 + 3},
        {"Void, CRC-32 and SignatureSlot: skipped even without a known size",
         UnknownSizeElement(kParent, Cat({Element(0xEC, {0, 0, 0}), Element(0xBF, {1, 2, 3, 4}),
                                          Element(0x1B538667, {5, 6}), one, other})),
         {1}, 1 + 8 + 5 + 6 + 7 + 3},
        {"a handled child its handler leaves unread: skipped",
         Cat({Master(kParent, {UInt(kHandledUnread, 9), one}), other}), {1}, 2 + 3 + 3},
    };
    for (const auto& [what, file, values, stop] : cases) {
        CBitStreamParser stream = MemoryStream(file);
        Probe parent;
        ElementBody(&stream, EBML::PeekID(&stream)).ParseChild(parent);
        EXPECT_EQ(parent.values, values) << what;
        EXPECT_EQ(stream.Tell(), stop) << what;
    }
}

TEST(ElementBody, NumbersKeepTheirLowBitsAndConsumeExactlyTheirPayload)
{
    // Payload, its integer (ReadUInt32 keeps the low 32 bits, ReadTime holds it at INT64_MAX) and its float.
    const std::tuple<Bytes, uint64_t, double> cases[] = {
        {{0x3F, 0xC0, 0x00, 0x00}, 0x3FC00000, 1.5},
        {{0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}, 0x400921FB54442D18, 3.141592653589793},
        {{0x3F, 0xC0}, 0x3FC0, 0.0}, // a float neither single nor double
        // Beyond the 1024-byte scratch area integers are read through: the last bytes count.
        {Cat({Filler(1022, 0xEE), {1, 2, 3, 4, 5}}), 0xEEEEEE0102030405, 0.0},
    };
    for (const auto& [payload, integer, number] : cases) {
        const Bytes element = Element(kHandled, payload);
        for (int reader = 0; reader < 4; ++reader) {
            CBitStreamParser stream = MemoryStream(Cat({element, Filler(4)}));
            ElementBody body(&stream, EBML::PeekID(&stream));
            switch (reader) {
            case 0: EXPECT_EQ(body.ReadUInt64(), integer); break;
            case 1: EXPECT_EQ(body.ReadUInt32(), static_cast<uint32_t>(integer)); break;
            case 2: EXPECT_EQ(body.ReadTime(), std::min<uint64_t>(integer, INT64_MAX)); break;
            default: EXPECT_EQ(body.ReadFloat(), number); break;
            }
            EXPECT_EQ(stream.Tell(), static_cast<int64_t>(element.size())) << payload.size() << " " << reader;
        }
    }
}

TEST(ElementBody, RawPayloadsAreCopiedWholeAndAnEmptyOneGivesNothing)
{
    CBitStreamParser stream = MemoryStream(Cat({Element(0x63A2, {0x12, 0x10}), Element(0x63A2, {})}));
    MallocPtr<uint8_t> raw;
    EXPECT_EQ(ElementBody(&stream, EBML::PeekID(&stream)).ReadRaw(raw), 2);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(Bytes(raw.get(), raw.get() + 2), (Bytes{0x12, 0x10}));
    EXPECT_EQ(ElementBody(&stream, EBML::PeekID(&stream)).ReadRaw(raw), 0);
    EXPECT_EQ(raw, nullptr);
    EXPECT_TRUE(stream.IsEnd());
}
