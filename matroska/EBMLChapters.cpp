// Placeholder parsers; replaced by the element implementations.
#include "EBMLChapters.h"

uint32_t EBMLChapterAtom::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLEditionEntry::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLChapters::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLChapterTrack::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLAttachments::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLSignatureElementList::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLSignature::Parse(CBitStreamParser*)
{
    return 0;
}

