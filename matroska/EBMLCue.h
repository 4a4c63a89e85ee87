// Cues: the seek index, held exactly as parsed, in file order.
#ifndef MKV_MATROSKA_EBMLCUE_H
#define MKV_MATROSKA_EBMLCUE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "ebml/EBML.h"
#include "ebml/EBMLDataType.h"

class EBMLCueTrackPosition : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    uint32_t cueTrack = 0;
    // Cluster offsets relative to the Segment's data start; the seek uses the first.
    std::vector<std::unique_ptr<EBMLUnsignedLong>> clusterPositions;
    uint32_t cueBlockNumber = 0;
    uint32_t cueCodecState = 0;
    // Where the cued block's element starts, relative to the cluster's data.
    uint64_t cueRelativePosition = 0;
    bool hasRelativePosition = false;
};

class EBMLCuePoint : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    EBMLUnsignedLong cueTime; // Segment timecode ticks
    std::vector<std::unique_ptr<EBMLCueTrackPosition>> trackPositions;
};

class EBMLCue : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    std::vector<std::unique_ptr<EBMLCuePoint>> cuePoints;
};

#endif
