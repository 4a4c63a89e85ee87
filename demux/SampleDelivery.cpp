// Placeholder; replaced by sample delivery.
#include "KelmMKVDemux.h"

uint32_t KelmMKVDemux::GetNextMediaSample(int32_t, unsigned char*, int32_t, int32_t&, int64_t&, int64_t&, bool&)
{
    return kStatusEndOfTrack;
}

uint32_t KelmMKVDemux::FindSamples(int32_t)
{
    return kStatusEndOfTrack;
}

bool KelmMKVDemux::ReconstructH264Sample(int32_t& size, unsigned char*, int32_t, const EBMLBinary*)
{
    size = 0;
    return false;
}

uint32_t KelmMKVDemux::DemuxSeek(int32_t, int64_t&)
{
    return kStatusNotImplemented;
}
