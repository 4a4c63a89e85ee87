// Chapters, attachments and signatures: parsed only far enough to step over
// them; nothing they hold is used for playback.
#include "EBMLChapters.h"

#include "ebml/ElementLoop.h"

uint32_t EBMLChapterAtom::Parse(CBitStreamParser* stream)
{
    // ChapterTimeStart and nested atoms are not among the handled children.
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdChapterUid:
            chapterUID = child.ReadUInt32();
            return true;
        case kIdChapterTimeEnd:
            chapterTimeEnd = child.ReadUInt32();
            return true;
        case kIdChapterFlagHidden:
            chapterFlagHidden = child.ReadUInt32();
            return true;
        case kIdChapterFlagEnabled:
            chapterFlagEnabled = child.ReadUInt32();
            return true;
        case kIdChapterSegmentUid:
        case kIdChapterPhysicalEquiv:
        case kIdChapterSegmentEditionUid:
        case kIdChapterTrack:
        case kIdChapterDisplay:
            child.Skip();
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLEditionEntry::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdEditionUid:
            editionUID = child.ReadUInt32();
            return true;
        case kIdEditionFlagHidden:
            editionFlagHidden = child.ReadUInt32();
            return true;
        case kIdEditionFlagDefault:
            editionFlagDefault = child.ReadUInt32();
            return true;
        case kIdEditionFlagOrdered:
            editionFlagOrdered = child.ReadUInt32();
            return true;
        case kIdChapterAtom:
            child.ParseAppend(atoms);
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLChapters::Parse(CBitStreamParser* stream)
{
    // Editions are stepped over, not built: the list stays empty.
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        if (child.Id() != kIdEditionEntry) {
            return false;
        }
        child.Skip();
        return true;
    });
}

uint32_t EBMLChapterTrack::Parse(CBitStreamParser*)
{
    return ZOLVDMX_OK;
}

uint32_t EBMLAttachments::Parse(CBitStreamParser* stream)
{
    // Only the global elements are handled.
    return ParseChildren(stream, *this, [](ElementBody&) { return false; });
}

uint32_t EBMLSignatureElementList::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        if (child.Id() != kIdSignedElement) {
            return false;
        }
        // One entry per element; an empty or refused payload leaves it null.
        MallocPtr<uint8_t> signedElement;
        child.ReadRaw(signedElement);
        signedElements.push_back(std::move(signedElement));
        return true;
    });
}

uint32_t EBMLSignature::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdSignatureAlgo:
        case kIdSignatureHash:
        case kIdSignaturePublicKey:
        case kIdSignatureElements:
        case kIdSignatureElementList:
            child.Skip();
            return true;
        default:
            return false;
        }
    });
}
