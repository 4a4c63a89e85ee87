// Cues: the seek index, held exactly as parsed, in file order.
#include "EBMLCue.h"

#include "ebml/ElementLoop.h"

uint32_t EBMLCueTrackPosition::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdCueTrack:
            cueTrack = child.ReadUInt32();
            return true;
        case kIdCueClusterPosition: {
            auto position = std::make_unique<EBMLUnsignedLong>();
            child.ReadValue(*position);
            clusterPositions.push_back(std::move(position));
            return true;
        }
        case kIdCueRelativePosition:
            cueRelativePosition = child.ReadUInt64();
            hasRelativePosition = true;
            return true;
        case kIdCueBlockNumber:
            cueBlockNumber = child.ReadUInt32();
            return true;
        case kIdCueCodecState:
            cueCodecState = child.ReadUInt32();
            return true;
        case kIdCueReference:
            child.Skip();
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLCuePoint::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdCueTime:
            child.ReadValue(cueTime);
            return true;
        case kIdCueTrackPositions:
            child.ParseAppend(trackPositions);
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLCue::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        if (child.Id() != kIdCuePoint) {
            return false;
        }
        child.ParseAppend(cuePoints);
        return true;
    });
}
