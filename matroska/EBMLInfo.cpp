// Segment information and the seek head: each Parse is the table of the
// children its element holds.
#include "EBMLInfo.h"

#include "ebml/ElementLoop.h"

namespace {

constexpr int32_t kUidBytes = 16;

} // namespace

uint32_t EBMLChapterTranslate::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdChapterTranslateEditionUid:
            editionUIDs.push_back(child.ReadUInt32());
            return true;
        case kIdChapterTranslateCodec:
            codec = child.ReadUInt32();
            return true;
        case kIdChapterTranslateId:
            translateIDLength = child.ReadRaw(translateID);
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLInfo::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdSegmentUid:
            child.ReadInto(segmentUID, kUidBytes);
            return true;
        case kIdSegmentFilename:
            child.Skip(); // not kept
            return true;
        case kIdPrevUid:
            child.ReadInto(prevUID, kUidBytes);
            return true;
        case kIdPrevFilename:
            child.ReadString(prevFilename);
            return true;
        case kIdNextUid:
            child.ReadInto(nextUID, kUidBytes);
            return true;
        case kIdNextFilename:
            child.ReadString(nextFilename);
            return true;
        case kIdSegmentFamily: {
            // One entry per element; an empty or refused payload leaves it null.
            MallocPtr<uint8_t> family;
            child.ReadRaw(family);
            segmentFamilies.push_back(std::move(family));
            return true;
        }
        case kIdChapterTranslate:
            child.ParseAppend(chapterTranslates);
            return true;
        case kIdTimecodeScale:
            child.ReadValue(timecodeScale);
            return true;
        case kIdDuration:
            duration = child.ReadFloat();
            return true;
        case kIdDateUtc:
            child.ReadValue(date);
            return true;
        case kIdMuxingApp:
            child.ReadString(muxingApp);
            return true;
        case kIdWritingApp:
            child.ReadString(writingApp);
            return true;
        case kIdTitle:
            child.ReadValue(title);
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLSeek::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdSeekId:
            seekIdLength = child.ReadRaw(seekId);
            return true;
        case kIdSeekPosition:
            seekPosition = child.ReadUInt64();
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLSeekHead::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        if (child.Id() != kIdSeek) {
            return false;
        }
        auto seek = std::make_unique<EBMLSeek>();
        if (child.ParseChild(*seek) == ZOLVDMX_OK) {
            seeks.push_back(std::move(seek));
        }
        return true;
    });
}

uint32_t EBMLSeek::HeldSeekId() const
{
    if (seekId == nullptr || seekIdLength < 1 || seekIdLength > 4) {
        return kIdInvalid;
    }
    uint32_t held = 0;
    for (int32_t k = 0; k < seekIdLength; ++k) {
        held |= static_cast<uint32_t>(seekId.get()[k]) << (8 * k);
    }
    return held;
}
