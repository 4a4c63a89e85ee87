// Placeholder; replaced by the video format builder.
#include "KelmMKVDemux.h"

uint32_t KelmMKVDemux::SetMediaFormat(EBMLTrackEntry*, ZOLVDMX_MEDIA_FORMAT_T*)
{
    return kStatusFail;
}

bool KelmMKVDemux::GetVideoHeader(EBMLTrackEntry*, ZOLVDMX_MEDIA_FORMAT_T*)
{
    return true;
}

bool KelmMKVDemux::KL_GetH264SPSPPS(const uint8_t*, int32_t, uint8_t*, int32_t*)
{
    return false;
}
