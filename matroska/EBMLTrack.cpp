// Placeholder parsers; replaced by the element implementations.
#include "EBMLTrack.h"

uint32_t EBMLVideo::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLAudio::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLTrackTranslate::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLTrackEntry::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLTrack::Parse(CBitStreamParser*)
{
    return 0;
}

bool EBMLTrackEntry::Expand(uint64_t) const
{
    return true;
}
