// Clusters and block groups, read lazily: the Segment records where a
// cluster lies, ParseBlockData lists its block groups and blocks (headers
// only) when a cursor first needs it. Also the dormant cluster-level classes.
#ifndef MKV_MATROSKA_EBMLCLUSTER_H
#define MKV_MATROSKA_EBMLCLUSTER_H

#include <cstdint>
#include <memory>
#include <vector>

#include "ebml/EBML.h"
#include "ebml/MallocPtr.h"
#include "matroska/EBMLBlock.h"

class EBMLBlockGroup : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
    // A group without ReferenceBlock holds a key frame.
    bool IsKeyGroup() const { return references.empty(); }

    std::vector<std::unique_ptr<EBMLBlock>> blocks;
    std::vector<int32_t> references; // ReferenceBlock values as stored
    int32_t maxBlockSize = 0;        // sizes the scratch buffer a block is read into
};

class EBMLCluster : public EBML {
public:
    // Reads the cluster content at the current position.
    uint32_t Parse(CBitStreamParser* reader) override;
    // Lists the block groups the first time (the reader is moved to the
    // cluster's data); later calls return at once.
    uint32_t ParseBlockData(CBitStreamParser* reader);
    // Reads only the cluster Timecode when the body has not been listed.
    uint32_t ReadTimecode(CBitStreamParser* reader);
    // Forgets the listed block groups; the next ParseBlockData lists again.
    void ReleaseBlocks();
    bool IsParsed() const { return bodyParsed || !blockGroups.empty(); }

    uint32_t timecode = 0; // Segment timecode ticks
    std::vector<std::unique_ptr<EBMLBlockGroup>> blockGroups;
    int32_t maxBlockSize = 0;
    int32_t index = 0; // position in the Segment's cluster list

private:
    bool bodyParsed = false;
    bool timecodeKnown = false;
};

class EBMLSilentTracks : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
    std::vector<uint32_t> trackNumbers;
};

class EBMLBlockMore : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
    uint32_t addId = 0;
    MallocPtr<uint8_t> additional;
    int32_t additionalLength = 0;
};

class EBMLBlockAdditions : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
    std::vector<std::unique_ptr<EBMLBlockMore>> blockMores;
};

class EBMLTimeSlice : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
};

class EBMLSlices : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
    std::vector<std::unique_ptr<EBMLTimeSlice>> timeSlices;
};

#endif
