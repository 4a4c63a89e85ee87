// Placeholder; replaced by the audio format builder.
#include "KelmMKVDemux.h"

bool KelmMKVDemux::GetAudioHeader(EBMLTrackEntry*, ZOLVDMX_MEDIA_FORMAT_T*)
{
    return false;
}

int32_t MakeAACInitData(uint8_t*, int32_t, int32_t, int32_t)
{
    return 2;
}
