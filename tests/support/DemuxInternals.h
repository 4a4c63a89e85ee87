// What tests and benchmarks reach inside a demuxer: the track table, the element tree, the NAL length size and
// the seek's steps, each on its own, over the video track's cursor.
#ifndef MKV_TESTS_SUPPORT_DEMUXINTERNALS_H
#define MKV_TESTS_SUPPORT_DEMUXINTERNALS_H

#include "demux/KelmMKVDemux.h"

struct DemuxInternals {
    static std::vector<_tagMKVTrackIndexMeta>& Tracks(KelmMKVDemux& demux) { return demux.tracks; }
    static Matroska& File(KelmMKVDemux& demux) { return demux.matroska; }
    static int32_t NalLengthSizeMinusOne(const KelmMKVDemux& demux) { return demux.nalLengthSizeMinusOne; }

    using ForwardSearch = KelmMKVDemux::ForwardSearch;
    using BackwardSearch = KelmMKVDemux::BackwardSearch;
    static EBMLSegment& Segment(KelmMKVDemux& demux) { return *demux.videoCursor->segment; }
    static BlockRef StartPoint(KelmMKVDemux& demux, int32_t track, int64_t requested)
    {
        return demux.StartPoint(demux.tracks[static_cast<size_t>(track)], Segment(demux), requested);
    }
    static ForwardSearch SearchForward(KelmMKVDemux& demux, int32_t track, BlockRef start, int64_t requested)
    {
        return demux.SearchForward(demux.tracks[static_cast<size_t>(track)], Segment(demux),
                                   demux.videoCursor->parser, start, requested);
    }
    static BackwardSearch SearchBackward(KelmMKVDemux& demux, int32_t track, EBMLCluster* before, int64_t requested)
    {
        return demux.SearchBackward(demux.tracks[static_cast<size_t>(track)], Segment(demux),
                                    demux.videoCursor->parser, before, requested);
    }
    static int64_t TrackEnd(KelmMKVDemux& demux, int32_t track, EBMLCluster* from)
    {
        return demux.TrackEnd(demux.tracks[static_cast<size_t>(track)], *demux.videoCursor, from);
    }
};

#endif
