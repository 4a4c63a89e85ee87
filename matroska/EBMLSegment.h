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
// Window the resynchronisation searches for a known top-level ID.
constexpr int32_t kResyncWindow = 100000;

class EBMLSegment : public EBML {
public:
    explicit EBMLSegment(Matroska* owner);
    ~EBMLSegment() override;

    // The load-time walk over the Segment's children. Returns 0.
    uint32_t Parse(CBitStreamParser* stream) override;
    // Continues the walk where it stopped until `wantedClusters` clusters
    // are recorded or the Segment ends. True when the cluster list grew.
    bool ContinueParsing(size_t wantedClusters);
    // Continues the walk until a cluster starting at or after `position` is
    // recorded or the Segment ends. True when the cluster list grew.
    bool ContinueParsingTo(int64_t position);
    // True once the walk has reached the Segment's end.
    bool IsWalkComplete() const { return walkComplete; }

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
    // Walks until `done` answers true (checked before each element) or the
    // Segment ends, then notes where to resume.
    template <class StopWhen>
    void Walk(CBitStreamParser* stream, StopWhen done);
    bool EarlyStopReached() const;
    // Searches forward from `start` for a known top-level element that reads
    // cleanly and leaves the stream on it; its ID, or kIdInvalid.
    uint32_t Resynchronise(CBitStreamParser* stream, int64_t start);
    // Whether the element at `start` has the ID and a header that reads
    // cleanly: a size that fits the Segment for elements passed over by
    // size, a first child that reads cleanly for a Cluster. The stream is
    // left at `start`.
    bool ElementLooksSound(CBitStreamParser* stream, int64_t start, uint32_t expectedId);
    void RecordCluster(CBitStreamParser* stream, int64_t elementStart, uint64_t size, bool unknownSize);
    // End of an unknown-size cluster: the first ID that is not a cluster child.
    int64_t FindClusterEnd(CBitStreamParser* stream);
    void ReadCuesThroughSeekHeads(CBitStreamParser* stream);
    // End of the Segment's data: its declared size, or the source's end.
    int64_t SegmentEnd(CBitStreamParser* stream) const;

    CBitStreamParser* walkStream = nullptr; // the file object's stream
    int64_t resumePosition = 0;
    bool walkComplete = false;
};

#endif
