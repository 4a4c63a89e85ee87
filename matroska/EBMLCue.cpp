// Placeholder parsers; replaced by the element implementations.
#include "EBMLCue.h"

uint32_t EBMLCueTrackPosition::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLCuePoint::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLCue::Parse(CBitStreamParser*)
{
    return 0;
}

