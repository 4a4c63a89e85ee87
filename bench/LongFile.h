// Long synthetic films shaped like what a muxer writes from an x264 + AAC
// encode, held as a SparseFile: 1920x1080 video at 25 frames per second and
// about 4.5 Mbit/s (a key frame of 120 KB every 2 s, P frames of 30 KB and B
// frames of 15 KB in decode order I P B B P B B ..., so times go back and
// forth), AAC of 400 bytes per 21.3 ms frame laced eight to a block, and a
// cluster per GOP that opens on its key frame: the audio just before a key
// frame lies at the end of the cluster before it.
#ifndef MKV_BENCH_LONGFILE_H
#define MKV_BENCH_LONGFILE_H

#include <memory>

#include "SparseFile.h"

struct LongFileLayout {
    enum class Cues { None, EveryKeyFrame, EveryFifthKeyFrame };
    int seconds = 600;
    Cues cues = Cues::EveryKeyFrame;
    bool cuesFirst = false;         // Cues before the clusters (else after them)
    bool relativePositions = true;  // CueRelativePosition in every cue point
};

std::shared_ptr<SparseFile> MakeLongFile(const LongFileLayout& layout);

// Where the key frames of a long file start (100 ns units).
constexpr int64_t kLongFileGop = 20000000;

#endif
