// Placeholder parsers; replaced by the element implementations.
#include "EBMLInfo.h"

uint32_t EBMLChapterTranslate::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLInfo::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLSeek::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLSeekHead::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLSeek::HeldSeekId() const
{
    return kIdInvalid;
}
