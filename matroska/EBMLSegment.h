// EBMLSegment: the index of one Segment: its Info, first Tracks and Cues,
// and one positioned EBMLCluster per Cluster. The load-time walk stops early
// once Info, Tracks and the first cluster are known; the walk is continued
// on demand to index further clusters.
#ifndef MKV_MATROSKA_EBMLSEGMENT_H
#define MKV_MATROSKA_EBMLSEGMENT_H

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "ebml/EBML.h"
#include "matroska/EBMLCluster.h"
#include "matroska/EBMLCue.h"
#include "matroska/EBMLInfo.h"
#include "matroska/EBMLTrack.h"

class Matroska;

// Clusters the load-time walk records before it may stop: the rest are
// indexed when playback or a seek needs them.
constexpr size_t kEarlyStopClusterCount = 1;
// Window the resynchronisation searches for a known top-level ID, at most
// (it starts with a smaller piece and doubles it).
constexpr int32_t kResyncWindow = 100000;
constexpr int32_t kResyncFirstPiece = 512;
// Bytes searched at a time for a cluster header (through the shared windows).
constexpr int32_t kScanChunk = 32 * 1024;

class EBMLSegment : public EBML {
public:
    explicit EBMLSegment(Matroska* owner);
    ~EBMLSegment() override;

    // The load-time walk over the Segment's children. Returns 0.
    uint32_t Parse(CBitStreamParser* stream) override;
    // Continues the walk from the Segment's start where it stopped until
    // `wantedClusters` clusters are recorded or the Segment ends. True when
    // the cluster list grew.
    bool ContinueParsing(size_t wantedClusters);
    // True once that walk has reached the Segment's end.
    bool IsWalkComplete() const { return walkComplete; }

    // The cluster index. Clusters become known in any order: by the walk
    // from the start, at the position a cue gives, by a search from any
    // offset; each knows its neighbours in the file once they are known.
    //
    // The Segment's first cluster; null when it has none.
    EBMLCluster* FirstCluster();
    // The cluster whose element starts at `position`, recorded when its
    // header reads soundly there; null otherwise.
    EBMLCluster* ClusterAt(int64_t position);
    // The cluster after `cluster` in the file, indexed when not yet known
    // (elements between, damaged bytes included, are walked over); null at
    // the end of the Segment.
    EBMLCluster* NextCluster(EBMLCluster& cluster);
    // The cluster before `cluster` in the file: from the nearest cluster
    // known before it, or from one found by searching back from it, the
    // clusters between are indexed forward. Null for the first.
    EBMLCluster* PreviousCluster(EBMLCluster& cluster);
    // The first cluster that starts in [position, limit), known or found by
    // searching the bytes for a cluster header that reads soundly; null
    // when there is none.
    EBMLCluster* ClusterFrom(int64_t position, int64_t limit);
    // Of the clusters known from `before` on, moves `before` to the last
    // whose time (100 ns) is at or before `time` and sets `after` to the
    // first later than it (null when none is known); times are taken to
    // grow with the position, as in every sound file.
    void KnownAround(int64_t time, EBMLCluster*& before, EBMLCluster*& after) const;
    // End of the Segment's data: its declared size, or the source's end.
    int64_t DataEnd() const;
    // The source has grown (a file still being written): clusters whose end
    // or listing stopped at the old end, and the walks that ended there, go
    // on from where they stopped.
    void SourceGrew();
    // The stream the Segment's walks read from (the file object's).
    CBitStreamParser* WalkStream() const { return walkStream; }

    // Timecode ticks to 100 ns units.
    int64_t GetRefTime(int64_t timecode) const;
    // The track that drives seeking: first video, else first audio, else the
    // last entry of the first Tracks element; null without entries.
    EBMLTrackEntry* GetMasterTrack() const;

    uint32_t ParsingClusterThread(void*) { return 0; }
    uint32_t RunParsingCluster(int32_t) { return 1; }
    uint32_t ReRunParsingCluster(int32_t) { return 1; }
    uint32_t StopParsingCluster() { return 1; }

    std::vector<std::unique_ptr<EBMLSeekHead>> seekHeads;
    std::vector<std::unique_ptr<EBMLInfo>> infoList;
    std::vector<std::unique_ptr<EBMLTrack>> trackLists;
    std::vector<std::unique_ptr<EBMLCluster>> clusters;
    std::map<int64_t, EBMLCluster*> clusterMap; // by elementPosition, not owning
    // By time (100 ns) and position, not owning: where a seek can start.
    std::map<std::pair<int64_t, int64_t>, EBMLCluster*> clusterTimes;
    int32_t audioTrackCount = 0;
    int32_t videoTrackCount = 0;
    std::vector<std::unique_ptr<EBMLCue>> cueList;
    Matroska* owner = nullptr;
    bool seekAble = false; // a SeekHead was met
    EBMLBlockPool blockPool; // block lists of released clusters, for the next ones

private:
    enum class Step { Continue, Stop };
    // One top-level child at the current position.
    Step WalkOne(CBitStreamParser* stream);
    // Walks from the Segment's start until `done` answers true (checked
    // before each element) or the Segment ends, then notes where to resume.
    template <class StopWhen>
    void Walk(CBitStreamParser* stream, StopWhen done);
    // Walks from the stream's position until a cluster is met (returned) or
    // the Segment ends (null).
    EBMLCluster* WalkToCluster(CBitStreamParser* stream);
    // Records that `after` follows `before` in the file.
    static void Link(EBMLCluster& before, EBMLCluster& after);
    bool EarlyStopReached() const;
    // Searches forward from `start` for a known top-level element that reads
    // cleanly and leaves the stream on it; its ID, or kIdInvalid.
    uint32_t Resynchronise(CBitStreamParser* stream, int64_t start);
    // Whether the element at `start` has the ID and a header that reads
    // cleanly: a size that fits the Segment for elements passed over by
    // size, a first child that reads cleanly for a Cluster. The stream is
    // left at `start`.
    bool ElementLooksSound(CBitStreamParser* stream, int64_t start, uint32_t expectedId);
    EBMLCluster* RecordCluster(CBitStreamParser* stream, int64_t elementStart, uint64_t size, bool unknownSize);
    // End of an unknown-size cluster: the first ID that is not a cluster
    // child, or where the source ends (`atSourceEnd`: inside or before a
    // child it does not hold whole).
    int64_t FindClusterEnd(CBitStreamParser* stream, bool& atSourceEnd);
    void ReadCuesThroughSeekHeads(CBitStreamParser* stream);
    int64_t SegmentEnd(CBitStreamParser* stream) const;

    CBitStreamParser* walkStream = nullptr; // the file object's stream
    int64_t resumePosition = 0;
    bool walkComplete = false;
    EBMLCluster* firstCluster = nullptr;
    EBMLCluster* walkedCluster = nullptr; // the last cluster the walk from the start met
    EBMLCluster* metCluster = nullptr;    // the cluster the last WalkOne met
    std::vector<int64_t> parsedMasters;   // where the Info, Tracks, SeekHead and Cues parsed lie
    std::vector<uint8_t> scanBuffer;      // bytes searched for a cluster header
};

#endif
