// The element layer's checks: header codec, variable-length integers, value
// types, block headers and lacing, all over bytes in memory.
#include "ElementChecks.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ebml/EBML.h"
#include "ebml/EBMLDataType.h"
#include "matroska/EBMLBlock.h"

namespace fuzzcheck {

namespace {

void Require(bool holds, const char* what, uint64_t value)
{
    if (!holds) {
        std::fprintf(stderr, "%s (0x%" PRIx64 ")\n", what, value);
        std::abort();
    }
}

int32_t ClampedLength(size_t size)
{
    return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
}

// Element headers one after the other, as a master's child loop reads them:
// each header is 2 to 12 bytes, a peek agrees with the read, an unknown size
// is what remains, and skipping the payload never moves backwards.
void WalkHeaders(const uint8_t* data, int32_t length)
{
    CBitStreamParser stream(data, length);
    for (int count = 0; count < 256 && !stream.IsEnd(); ++count) {
        const int64_t start = stream.Tell();
        const int64_t remaining = stream.RemainingBytes();
        uint32_t idLength = 0;
        const uint32_t peeked = EBML::PeekID(&stream, idLength);
        Require(stream.Tell() == start, "PeekID moved the stream", static_cast<uint64_t>(stream.Tell()));
        uint32_t id = 0;
        uint64_t size = 0;
        bool unknown = false;
        const uint32_t status = EBML::ReadElementHeader(&stream, id, size, unknown);
        Require(status == ZOLVDMX_OK || status == ZOLVDMX_E_FAIL, "undocumented header status", status);
        if (status != ZOLVDMX_OK) {
            return;
        }
        const int64_t header = stream.Tell() - start;
        Require(header >= 0 && header <= 12 && header <= remaining, "header length", static_cast<uint64_t>(header));
        if (remaining >= 4 && header >= 2) {
            Require(peeked == id && idLength >= 1 && idLength <= 4, "PeekID disagrees with ReadElementHeader", peeked);
        }
        if (unknown) {
            Require(size == static_cast<uint64_t>(stream.RemainingBytes()), "unknown size is not the remainder", size);
        }
        const int64_t before = stream.Tell();
        stream.SkipForward(size);
        Require(stream.Tell() >= before, "skipping a payload moved backwards", static_cast<uint64_t>(stream.Tell()));
    }
}

// Variable-length integers at every offset: never more bytes than remain.
void ReadIntegers(const uint8_t* data, int32_t length)
{
    for (int32_t at = 0; at < length; ++at) {
        const int32_t remaining = length - at;
        uint64_t value = 0;
        const int32_t n = EBML::GetEBMLUnsigned(value, data + at, remaining);
        Require(n >= 1 && n <= remaining, "GetEBMLUnsigned consumed outside the bytes", static_cast<uint64_t>(n));
        int64_t signedValue = 0;
        const int32_t m = EBML::GetEBMLSigned(signedValue, data + at, remaining);
        Require(m >= 1 && m <= remaining, "GetEBMLSigned consumed outside the bytes", static_cast<uint64_t>(m));
    }
}

// Value elements read from the payload that follows a one-byte size.
void ReadValues(const uint8_t* data, int32_t length)
{
    if (length < 1) {
        return;
    }
    const int64_t size = data[0] == 0xFF ? INT64_C(0x7FFFFFFFFFFF) : data[0];
    const uint8_t* payload = data + 1;
    // A size byte reaches 254 (FF stands for a size past any input); a
    // few hundred bytes then cover every path without copying whole inputs.
    const int32_t available = std::min(length - 1, 512);
    {
        CBitStreamParser stream(payload, available);
        EBMLUnsignedLong value;
        Require(value.Parse(&stream, size) == ZOLVDMX_OK, "EBMLUnsignedLong refused a payload", 0);
        if (size >= 1 && size <= 8 && size <= available) {
            uint64_t expected = 0;
            for (int64_t k = 0; k < size; ++k) {
                expected = (expected << 8) | payload[k];
            }
            Require(value.value == expected, "EBMLUnsignedLong value", value.value);
        }
    }
    {
        CBitStreamParser stream(payload, available);
        EBMLSignedLong value;
        value.Parse(&stream, size);
        if (size >= 1 && size <= 8 && size <= available) {
            Require((value.value < 0) == ((payload[0] & 0x80) != 0), "EBMLSignedLong sign",
                    static_cast<uint64_t>(value.value));
        }
    }
    CBitStreamParser stream(payload, available);
    EBMLString text;
    const uint32_t status = text.Parse(&stream, size);
    Require(status == ZOLVDMX_OK || status == ZOLVDMX_E_FAIL || status == ZOLVDMX_E_INVALIDARG,
            "undocumented EBMLBinary status", status);
    if (status == ZOLVDMX_OK) {
        Require(text.GetLength() == size && std::memcmp(text.GetData(), payload, static_cast<size_t>(size)) == 0,
                "EBMLBinary payload", static_cast<uint64_t>(text.GetLength()));
        const int32_t found = text.Find("V_MPEG4");
        Require(found < 0 || (found + 7 <= size && std::memcmp(payload + found, "V_MPEG4", 7) == 0),
                "EBMLString::Find answered a place that does not hold the text", static_cast<uint64_t>(found));
        Require(text[static_cast<int32_t>(size)] == 255 && text[-1] == 255, "EBMLBinary byte outside its length", 0);
    }
    EBMLUTF8 utf8;
    utf8.SetData(payload, available);
    Require(utf8.GetLength() >= 0 && utf8.GetLength() <= available, "EBMLUTF8 length",
            static_cast<uint64_t>(utf8.GetLength()));
}

// Frames of a split lie inside the payload, in order and without overlap.
void RequireFramesInside(const EBMLBlock& block, uint64_t payloadSize)
{
    Require(block.infos.size() <= 256, "more than 256 laced frames", block.infos.size());
    Require(block.frameCount == static_cast<int32_t>(block.infos.size()), "frame count disagrees with the frames",
            static_cast<uint64_t>(block.frameCount));
    uint64_t end = 0;
    for (const EBMLBlock::_BLOCK_INFO& frame : block.infos) {
        Require(frame.offset >= 0 && frame.size >= 0, "negative frame offset or size",
                static_cast<uint64_t>(frame.offset));
        Require(static_cast<uint64_t>(frame.offset) >= end, "frames overlap", static_cast<uint64_t>(frame.offset));
        end = static_cast<uint64_t>(frame.offset) + static_cast<uint64_t>(frame.size);
        Require(end <= payloadSize, "frame runs past the payload", end);
    }
}

// A block payload split whole, and split from a prefix of it: a split the
// prefix finishes must agree with the whole one.
void SplitBlock(const uint8_t* payload, uint32_t size, uint32_t prefix)
{
    EBMLBlock whole;
    const bool header = whole.ParseSimple(payload, size);
    const EBMLBlock::Split result = whole.SplitLaces(payload, size, size);
    Require(result != EBMLBlock::Split::NeedMore, "a whole payload needs more bytes", size);
    Require(header || result == EBMLBlock::Split::Damaged, "frames from a payload without a header", size);
    RequireFramesInside(whole, size);

    EBMLBlock parsed;
    parsed.Parse(payload, size);
    RequireFramesInside(parsed, size);

    EBMLBlock partial;
    prefix = prefix < size ? prefix : size;
    if (partial.SplitLaces(payload, prefix, size) == EBMLBlock::Split::Done) {
        RequireFramesInside(partial, size);
        Require(result == EBMLBlock::Split::Done && partial.infos.size() == whole.infos.size(),
                "a split from the lace header alone differs from the whole one", partial.infos.size());
        for (size_t k = 0; k < whole.infos.size(); ++k) {
            Require(partial.infos[k].offset == whole.infos[k].offset && partial.infos[k].size == whole.infos[k].size,
                    "a frame split from the lace header alone differs", k);
        }
    }
    // A payload the file says is far larger than the bytes at hand.
    EBMLBlock large;
    if (large.SplitLaces(payload, size, uint64_t{1} << 40) == EBMLBlock::Split::Done) {
        RequireFramesInside(large, uint64_t{1} << 40);
    }
}

} // namespace

void CheckElements(const uint8_t* data, size_t size)
{
    const int32_t length = ClampedLength(size);
    WalkHeaders(data, length);
    // Integers are at most eight bytes: the first few hundred offsets
    // meet every length and value pattern an input holds there.
    ReadIntegers(data, std::min(length, 256));
    ReadValues(data, length);
    if (length >= 1) {
        SplitBlock(data + 1, static_cast<uint32_t>(length - 1), data[0]);
    }
}

} // namespace fuzzcheck
