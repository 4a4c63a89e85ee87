// Clusters and block groups, read lazily: the Segment records where a
// cluster lies; its block groups and blocks (headers only) are listed when a
// cursor first needs them, as far as it needs them. Also the dormant
// cluster-level classes.
#ifndef MKV_MATROSKA_EBMLCLUSTER_H
#define MKV_MATROSKA_EBMLCLUSTER_H

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ebml/EBML.h"
#include "ebml/MallocPtr.h"
#include "matroska/EBMLBlock.h"

class EBMLBlockPool;

class EBMLBlockGroup : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
    // Back to the state of a new group, keeping what its lists hold room for.
    void Reset();
    // A group without ReferenceBlock holds a key frame.
    bool IsKeyGroup() const { return references.empty(); }

    std::vector<std::unique_ptr<EBMLBlock>> blocks;
    std::vector<int32_t> references; // ReferenceBlock values as stored
    // elementPosition: where the BlockGroup (or the SimpleBlock it wraps) starts.
    int32_t maxBlockSize = 0;        // sizes the scratch buffer a block is read into
    uint64_t blockDuration = 0;      // BlockDuration in Segment ticks (at most INT64_MAX), when present
    bool hasBlockDuration = false;
    EBMLBlockPool* pool = nullptr;   // where its blocks come from, when listed by a cluster
};

// Block groups and blocks of released clusters, kept for the clusters listed
// next: steady playback lists clusters without allocating.
class EBMLBlockPool {
public:
    std::unique_ptr<EBMLBlockGroup> TakeGroup();
    std::unique_ptr<EBMLBlock> TakeBlock();
    // Takes back a group and its blocks.
    void Give(std::unique_ptr<EBMLBlockGroup> group);
    // A cluster's list of groups, emptied, with the room it had.
    std::vector<std::unique_ptr<EBMLBlockGroup>> TakeList();
    void GiveList(std::vector<std::unique_ptr<EBMLBlockGroup>> list);

private:
    std::vector<std::unique_ptr<EBMLBlockGroup>> groups;
    std::vector<std::unique_ptr<EBMLBlock>> blocks;
    std::vector<std::vector<std::unique_ptr<EBMLBlockGroup>>> lists;
};

class EBMLCluster : public EBML {
public:
    // Lists the whole cluster content from the current position.
    uint32_t Parse(CBitStreamParser* reader) override;
    // Lists the whole cluster the first time (the reader is moved to the
    // cluster's data); later calls return at once.
    uint32_t ParseBlockData(CBitStreamParser* reader);
    // Lists from the cluster's first child until at least `wantedGroups`
    // block groups are known or the cluster ends; listing resumes where the
    // last call stopped.
    void ListBlocks(CBitStreamParser* reader, size_t wantedGroups);
    // The index of the listed group whose element starts at `position` (an
    // element boundary inside the cluster: a cue's relative position, a
    // block found before), listing there when needed: a cluster not listed
    // yet starts its listing at `position`, so nothing before it is read.
    // -1 when no group starts there.
    int32_t ListAt(CBitStreamParser* reader, int64_t position);
    // Whether a group follows the listed group `index`, listing on when needed.
    bool ListNext(CBitStreamParser* reader, size_t index);
    // Lists what lies before the first listed group, when listing began
    // inside the cluster; group indexes then move up by the count prepended.
    void ListFromStart(CBitStreamParser* reader);
    // The index of the listed group whose element starts at `position`, or -1.
    int32_t GroupAt(int64_t position) const;
    // Decodes the header of the block (a SimpleBlock's, or the Block of a
    // BlockGroup among its first children) of the element whose first
    // `size` bytes are given, and the element's whole size; false when they
    // do not read as one.
    static bool BlockHeaderAt(const uint8_t* bytes, int32_t size, EBMLBlock& block, uint64_t& elementSize);

    // Reads only the cluster Timecode when it is not known yet.
    uint32_t ReadTimecode(CBitStreamParser* reader);
    // Forgets the listed block groups; they are listed again when needed.
    void ReleaseBlocks();
    // Listed from the first child to the end.
    bool IsParsed() const { return startListed && endListed; }
    bool IsListed() const { return !blockGroups.empty() || endListed; }
    // Whether the listing begins with the cluster's first child.
    bool StartListed() const { return startListed; }
    bool IsTimecodeKnown() const { return timecodeKnown; }
    // Where listing would go on: the end of the last child listed.
    int64_t ListedEnd() const { return listedEnd; }
    // Listing stopped at a block the source did not hold whole (a file cut
    // short or still being written); after the source grew, it goes on
    // from that block.
    bool ListingCut() const { return cutAtSourceEnd; }
    void ReopenAtSourceEnd();

    uint64_t timecode = 0; // Segment timecode ticks, at most INT64_MAX
    std::vector<std::unique_ptr<EBMLBlockGroup>> blockGroups; // listed groups, in file order
    int32_t maxBlockSize = 0;
    // Position in the Segment's cluster list, which holds clusters in the
    // order they became known: a seek learns a cluster far into the file
    // before those between. File order is the order of elementPosition.
    int32_t index = 0;
    // The clusters before and after this one in the file, once known.
    EBMLCluster* previous = nullptr;
    EBMLCluster* next = nullptr;
    bool lastInSegment = false; // no cluster follows
    // The size the header declared (unknownSize: none), and whether the
    // recorded end is only where the source ended when it was recorded.
    uint64_t declaredSize = 0;
    bool unknownSize = false;
    bool endsWithSource = false;
    // Where listed groups and blocks come from and go back to (the
    // Segment's); null: allocated and freed one by one.
    EBMLBlockPool* pool = nullptr;

private:
    // One child at the current position; false at the end of the cluster.
    bool ListOne(CBitStreamParser* reader, std::vector<std::unique_ptr<EBMLBlockGroup>>& into);
    // Takes a list for the groups from the pool when it has none yet.
    void PrepareList();

    bool startListed = false;
    bool endListed = false;
    bool cutAtSourceEnd = false;
    bool timecodeKnown = false;
    int64_t listedFrom = -1; // where the listed run of children begins
    int64_t listedEnd = -1;  // where listing resumes; -1 before the first call
};

// Finds, among a cluster's last bytes given back to front, where a child
// surely starts whose chain of elements to the cluster's end holds a block
// that is wanted: the cluster can be listed from there without reading
// what comes before. Blocks must be of one of the tracks given.
class ClusterTailScan {
public:
    // Starts a scan (the buffers of earlier scans are kept for this one).
    void Start(std::vector<uint32_t> trackNumbers, std::function<bool(const EBMLBlock&)> wanted);
    // Adds the bytes just before those given so far (first: the cluster's
    // last bytes).
    void Prepend(const uint8_t* bytes, int32_t size);
    // The offset, into all the bytes given, of that place; -1 when not found.
    int64_t Found() const { return found; }

private:
    void MakeRoom(size_t size);

    static constexpr uint8_t kOnChain = 1;
    static constexpr uint8_t kReached = 2;
    static constexpr uint8_t kLeadsToWanted = 4;
    std::vector<uint32_t> trackNumbers;
    std::function<bool(const EBMLBlock&)> wanted;
    std::vector<uint8_t> bytes; // the bytes given, at the end of the buffer from `begin` on
    std::vector<uint8_t> state; // per byte from `begin` on, and one for the end
    size_t begin = 0;
    int64_t found = -1;
};

// The cluster-level elements below are kept for completeness: the cluster
// parse passes over SilentTracks, BlockAdditions and Slices, and nothing
// reads what they would hold.

// SilentTracks: the tracks silent in this cluster.
class EBMLSilentTracks : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
    std::vector<uint32_t> trackNumbers;
};

// BlockMore: one additional data block of a Block, by its ID.
class EBMLBlockMore : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
    uint32_t addId = 0;
    MallocPtr<uint8_t> additional;
    int32_t additionalLength = 0;
};

// BlockAdditions: the BlockMore elements of a BlockGroup.
class EBMLBlockAdditions : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
    std::vector<std::unique_ptr<EBMLBlockMore>> blockMores;
};

// TimeSlice: nothing of it is read.
class EBMLTimeSlice : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
};

// Slices: the TimeSlice elements of a BlockGroup.
class EBMLSlices : public EBML {
public:
    uint32_t Parse(CBitStreamParser* reader) override;
    std::vector<std::unique_ptr<EBMLTimeSlice>> timeSlices;
};

#endif
