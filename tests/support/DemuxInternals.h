// What tests and benchmarks reach inside a demuxer: the track table, the element tree and the NAL length size.
#ifndef MKV_TESTS_SUPPORT_DEMUXINTERNALS_H
#define MKV_TESTS_SUPPORT_DEMUXINTERNALS_H

#include "demux/KelmMKVDemux.h"

struct DemuxInternals {
    static std::vector<_tagMKVTrackIndexMeta>& Tracks(KelmMKVDemux& demux) { return demux.tracks; }
    static Matroska& File(KelmMKVDemux& demux) { return demux.matroska; }
    static int32_t NalLengthSizeMinusOne(const KelmMKVDemux& demux) { return demux.nalLengthSizeMinusOne; }
};

#endif
