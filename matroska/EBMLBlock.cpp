// Block header decoding and lacing. Every read of the lace header is checked
// against the payload's end.
#include "EBMLBlock.h"

#include <algorithm>

namespace {

// Number of bytes after the first one in an EBML-coded track number (0 to 7).
uint32_t ExtraTrackNumberBytes(uint8_t first)
{
    for (uint32_t extra = 0; extra < 8; ++extra) {
        if (first & (0x80u >> extra)) {
            return extra;
        }
    }
    return 0; // a first byte 0 is read as a one-byte track number 0
}

uint8_t MarkerBit(uint8_t first)
{
    return first == 0 ? 0 : static_cast<uint8_t>(0x80u >> ExtraTrackNumberBytes(first));
}

// Length of the variable-length integer at p when it lies wholly inside the
// `remaining` bytes, else 0.
int32_t VintLengthWithin(const uint8_t* p, uint64_t remaining)
{
    if (remaining == 0 || p[0] == 0) {
        return 0;
    }
    int32_t n = static_cast<int32_t>(ExtraTrackNumberBytes(p[0])) + 1;
    return static_cast<uint64_t>(n) <= remaining ? n : 0;
}

int32_t ClampToInt32(uint64_t remaining)
{
    return remaining > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(remaining);
}

} // namespace

EBMLBlock::~EBMLBlock() = default;

void EBMLBlock::Reset()
{
    dataSize = 0;
    elementPosition = 0;
    dataPosition = 0;
    sizeKnown = false;
    trackNumber = 0;
    relativeTimecode = 0;
    keyFrame = false;
    invisible = false;
    lacing = 0;
    discardable = false;
    simple = false;
    frameCount = 0;
    DropFrames();
}

uint32_t EBMLBlock::Parse(CBitStreamParser* reader)
{
    // The header (up to an 8-byte track number, the timecode, the flags and
    // the lace count) is read in one go; the frames are left for later.
    dataPosition = reader->Tell();
    uint8_t header[kBlockHeaderBytes] = {};
    uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(dataSize, kBlockHeaderBytes));
    if (wanted > 0) {
        reader->GetBytes(static_cast<int32_t>(wanted), header);
    }
    // What arrived, whatever the stream's GetBytes answers.
    int64_t got = reader->Tell() - dataPosition;
    uint32_t size = got > 0 ? static_cast<uint32_t>(std::min<int64_t>(got, wanted)) : 0;
    uint32_t headerLength = DecodeHeader(header, size);
    if (headerLength == 0 && size > 0) {
        // Too short for a whole header: the track number alone, as far as it goes.
        uint32_t extra = std::min(ExtraTrackNumberBytes(header[0]), size - 1);
        uint32_t number = header[0] ^ MarkerBit(header[0]);
        for (uint32_t k = 1; k <= extra; ++k) {
            number = (number << 8) | header[k];
        }
        trackNumber = number;
    }
    if (headerLength == 0) {
        frameCount = 0;
    } else if (lacing == 0) {
        frameCount = 1;
    } else {
        frameCount = headerLength < size ? header[headerLength] + 1 : 0;
    }
    reader->Seek(DeclaredEnd(), ZOLVDMX_SEEK_SET);
    return 0;
}

uint32_t EBMLBlock::DecodeHeader(const uint8_t* payload, uint32_t size)
{
    if (payload == nullptr || size < 1) {
        return 0;
    }
    uint32_t extra = ExtraTrackNumberBytes(payload[0]);
    uint32_t headerLength = extra + 1 + 3;
    if (size < headerLength) {
        return 0;
    }
    uint32_t number = payload[0] ^ MarkerBit(payload[0]);
    for (uint32_t k = 1; k <= extra; ++k) {
        number = (number << 8) | payload[k];
    }
    trackNumber = number;
    uint32_t p = extra + 1;
    relativeTimecode = static_cast<int16_t>(static_cast<uint16_t>((payload[p] << 8) | payload[p + 1]));
    uint8_t flags = payload[p + 2];
    keyFrame = (flags & 0x80) != 0;
    invisible = (flags & 0x08) != 0;
    lacing = (flags >> 1) & 0x03u;
    discardable = (flags & 0x01) != 0;
    return headerLength;
}

bool EBMLBlock::ParseSimple(const uint8_t* payload, uint32_t size)
{
    return DecodeHeader(payload, size) != 0;
}

void EBMLBlock::DropFrames()
{
    infos.clear();
    nextFrame = 0;
}

uint32_t EBMLBlock::Parse(const uint8_t* payload)
{
    return Parse(payload, static_cast<uint32_t>(dataSize));
}

uint32_t EBMLBlock::Parse(const uint8_t* payload, uint32_t size)
{
    SplitLaces(payload, size, size);
    return 0;
}

EBMLBlock::Split EBMLBlock::SplitLaces(const uint8_t* head, uint32_t headSize, uint64_t payloadSize)
{
    DropFrames();
    frameCount = 0;
    const uint64_t S = payloadSize;
    // The bytes at hand; the lace header must lie within them.
    const uint64_t A = std::min<uint64_t>(headSize, S);
    const bool more = A < S;
    uint32_t header = DecodeHeader(head, static_cast<uint32_t>(A));
    if (header == 0) {
        return more ? Split::NeedMore : Split::Damaged;
    }
    uint64_t p = header;
    // Running out of header bytes means more are needed when the payload
    // holds more, and a damaged lace header when it does not.
    const Split cutOff = more ? Split::NeedMore : Split::Damaged;
    std::vector<uint64_t>& sizes = laceSizes;
    sizes.clear();

    switch (lacing) {
    case 0:
        sizes.push_back(S - p);
        break;
    case 1: { // Xiph: each size a run of 255s ended by a smaller byte
        if (p >= A) {
            return cutOff;
        }
        uint32_t laced = head[p++];
        uint64_t total = 0;
        for (uint32_t i = 0; i < laced; ++i) {
            if (p >= A) {
                return cutOff;
            }
            uint64_t frameSize = 0;
            uint8_t b = 0;
            do {
                b = head[p++];
                frameSize += b;
            } while (b == 255 && p < A);
            if (b == 255 && more) {
                return Split::NeedMore;
            }
            sizes.push_back(frameSize);
            total += frameSize;
        }
        sizes.push_back(S - (total + p));
        break;
    }
    case 2: { // fixed-size: the payload divided evenly; a remainder belongs to no frame
        if (p >= A) {
            return cutOff;
        }
        uint64_t count = static_cast<uint64_t>(head[p++]) + 1;
        uint64_t each = (S - p) / count;
        sizes.assign(static_cast<size_t>(count), each);
        break;
    }
    default: { // EBML: first size, then signed differences
        if (p >= A) {
            return cutOff;
        }
        uint32_t laced = head[p++];
        if (laced == 0) {
            sizes.push_back(S - p);
            break;
        }
        int32_t n = VintLengthWithin(head + p, A - p);
        if (n == 0) {
            return p < A && head[p] == 0 ? Split::Damaged : cutOff;
        }
        // The integers lie within the bytes at hand (checked above), but an
        // all-ones size stands for what remains of the payload, however few
        // of its bytes were read.
        uint64_t first = 0;
        EBML::GetEBMLUnsigned(first, head + p, ClampToInt32(S - p));
        p += static_cast<uint64_t>(n);
        sizes.push_back(first);
        uint64_t total = first;
        uint64_t previous = first;
        for (uint32_t i = 1; i < laced; ++i) {
            n = VintLengthWithin(head + p, A - p);
            if (n == 0) {
                return p < A && head[p] == 0 ? Split::Damaged : cutOff;
            }
            int64_t difference = 0;
            EBML::GetEBMLSigned(difference, head + p, ClampToInt32(S - p));
            p += static_cast<uint64_t>(n);
            previous += static_cast<uint64_t>(difference);
            sizes.push_back(previous);
            total += previous;
        }
        sizes.push_back(S - p - total);
        break;
    }
    }

    // Frames as offsets into the payload; sizes adding up past it, or past
    // what a 32-bit offset reaches, keep the frames that fit.
    for (uint64_t frameSize : sizes) {
        if (p > S || frameSize > S - p || p + frameSize > 0x7FFFFFFFu) {
            break;
        }
        infos.push_back(_BLOCK_INFO{static_cast<int32_t>(p), static_cast<int32_t>(frameSize)});
        p += frameSize;
    }
    frameCount = static_cast<int32_t>(infos.size());
    return infos.empty() ? Split::Damaged : Split::Done;
}

EBMLBlock::_BLOCK_INFO EBMLBlock::FrontFrame() const
{
    return infos[nextFrame];
}

void EBMLBlock::PopSample()
{
    if (nextFrame < infos.size()) {
        ++nextFrame;
    }
}
