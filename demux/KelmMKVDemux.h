// KelmMKVDemux: the demuxer behind every handle. It turns the element tree
// into a track table, media format records, samples and seeks. Its member
// functions are split by concern: load and track table (KelmMKVDemux.cpp),
// video and audio format (VideoFormat.cpp, AudioFormat.cpp) with the
// picture formats that bound video buffers (PictureFormat.cpp), walking
// blocks in file order and releasing idle block lists (BlockWalk.cpp),
// sample delivery (SampleDelivery.cpp), H.264 and HEVC reconstruction
// (H264Reconstruction.cpp) and seeking (Seeking.cpp).
#ifndef MKV_DEMUX_KELMMKVDEMUX_H
#define MKV_DEMUX_KELMMKVDEMUX_H

#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "matroska/Matroska.h"
#include "zolvdmx.h"

class EBMLBlock;
class EBMLBlockGroup;
class EBMLCluster;
class EBMLSegment;
class EBMLTrackEntry;
class EBMLVideo;

// A block's place in the Segment: its cluster (the index in the Segment's
// cluster list), the file offset of its BlockGroup or SimpleBlock element
// (-1: the cluster's first), and the block within the group. Offsets give
// file order and stay valid whatever is listed, released or learned later.
struct BlockRef {
    int32_t cluster = -1;
    int64_t group = -1;
    int32_t block = 0;
};

inline bool operator<(const BlockRef& a, const BlockRef& b)
{
    return a.group != b.group ? a.group < b.group : a.block < b.block;
}

// A key frame met while walking clusters, so later seeks need not list its
// cluster again.
struct KeyFrameRef {
    int64_t time = 0; // 100 ns units
    BlockRef at;
};

// The key frames of one track in one cluster, in file order; `complete`
// once the whole cluster has been walked.
struct NotedCluster {
    std::vector<KeyFrameRef> keyFrames;
    bool complete = false;
};

// A cue point of one track: its time (100 ns), the absolute offset of the
// cluster and, when the file gives it, of the cued block's element.
struct CueRef {
    int64_t time = 0;
    int64_t cluster = 0;
    int64_t block = -1;
};

// A track's media format record together with the buffers it points to
// (header, codecPrivate, config, videoExtra, allocated with malloc), which it
// frees: it moves, and cannot be copied, so no buffer is freed twice.
struct OwnedMediaFormat : ZOLVDMX_MEDIA_FORMAT_T {
    OwnedMediaFormat();
    ~OwnedMediaFormat();
    OwnedMediaFormat(OwnedMediaFormat&& other) noexcept;
    OwnedMediaFormat& operator=(OwnedMediaFormat&& other) noexcept;
    OwnedMediaFormat(const OwnedMediaFormat&) = delete;
    OwnedMediaFormat& operator=(const OwnedMediaFormat&) = delete;

private:
    void Release();
};

// One admitted track entry; it owns its format record's buffers.
struct _tagMKVTrackIndexMeta {
    uint32_t segmentIndex = 0;
    uint32_t trackIndex = 0;
    uint32_t entryIndex = 0;
    EBMLTrackEntry* trackEntry = nullptr; // owned by the element tree
    OwnedMediaFormat format;
    // How the track's frames are stored, decided once at load. H.264 and
    // HEVC: length-prefixed NAL units, delivered in start-code form, with
    // lengths of nalLengthSizeMinusOne + 1 bytes (from avcC or hvcC; -1 when
    // unknown), the parameter sets first (configSent once they went out).
    bool lengthPrefixedNalUnits = false;
    int32_t nalLengthSizeMinusOne = -1;
    bool configSent = false;
    // Header stripping: the bytes put back in front of every frame (held by
    // the track entry's ContentCompression).
    const uint8_t* framePrefix = nullptr;
    int32_t framePrefixLength = 0;
    // Duration of the frame of this track delivered last (100 ns units):
    // the last resort for a frame nothing else gives a duration.
    int64_t lastFrameDuration = 0;
    // Times of the track's blocks delivered last (at most 16, oldest first),
    // where a frame's successor in presentation order may lie.
    std::vector<int64_t> recentBlockTimes;
    // What seeks remember of the track. A video track's key frames met so
    // far, by cluster index.
    std::map<int32_t, NotedCluster> keyFrames;
    // The track's cue points, by time (file order among equal times).
    std::vector<CueRef> cues;
    // The track's last block in each cluster a walk went through to its end
    // (by cluster index), with its time: an audio seek that needs the
    // latest frame before a cluster finds it here.
    std::map<int32_t, KeyFrameRef> lastBlocks;
    // Where the track's last frame ends, once a seek has worked it out.
    bool endKnown = false;
    int64_t endTime = 0;
};

// A read position of one media type. `clusterIndex`, `groupPosition` and
// `blockIndex` name the next block to examine (`groupIndex` is where that
// group last stood in its cluster's listing: a hint, as a listing can grow
// in front); `block`, when not null, is the block whose frames are being
// delivered, in `group` of `cluster`, already split, with its frames' times.
// The look-ahead is the track's block after it that the frames' duration
// was taken from (null when none was needed or found). The clusters a cursor
// stands on and looks ahead into stay listed.
struct _tagMKVReadCursor {
    EBMLSegment* segment = nullptr;
    EBMLCluster* cluster = nullptr;
    EBMLBlockGroup* group = nullptr;
    EBMLBlock* block = nullptr;
    EBMLCluster* nextCluster = nullptr;
    EBMLBlock* nextBlock = nullptr;
    int32_t clusterIndex = -1;
    int32_t groupIndex = 0;
    int64_t groupPosition = -1;
    int32_t blockIndex = 0;
    int32_t nextClusterIndex = -1;
    int32_t nextGroupIndex = 0;
    int32_t nextBlockIndex = 0;
    // When the cursor last moved: clusters known, groups listed in `cluster`,
    // blocks in `group`; the same for the look-ahead.
    int32_t clusterCount = 0;
    int32_t groupCount = 0;
    int32_t blockCount = 0;
    int32_t nextClusterCount = 0;
    int32_t nextGroupCount = 0;
    int32_t nextBlockCount = 0;
    bool ended = false; // no further block of the tracks it serves, for now
    // Frames of the block at `landing` a seek passes over (laced audio): the
    // block is read only when its frames are asked for.
    BlockRef landing;
    int32_t skipFrames = 0;
    // Frame k of `block` starts at blockTime + k * frameSpan / frameSpanDivisor.
    int64_t blockTime = 0;
    int64_t frameSpan = 0;
    int64_t frameSpanDivisor = 1;
    ReadAheadStreamParser* parser = nullptr; // the cursor's own reader, owned by the file's source
};

// The last seek: where the track it was for landed, so that the same seek
// again needs no search.
struct _tagMKVSeekCache {
    bool valid = false;
    int32_t track = -1;
    int64_t requestedTime = 0;
    int64_t resultTime = 0;
    bool atEnd = false;
    BlockRef at;
    int32_t frameIndex = 0; // frames of the block passed over
};

// Size of the output area the H.264 parameter sets are extracted into.
constexpr int32_t kH264ConfigArea = 1000;
// Block lists of clusters nothing stands on that are kept (the ones listed
// last): enough for a walk that goes back and forth between neighbours.
constexpr size_t kIdleListings = 4;
// More of them are kept while together they hold at most this many block
// groups, so that a frame's look-ahead over the next blocks of its track
// does not list the same tiny clusters again for every frame.
constexpr size_t kIdleGroups = 64;
// Largest audio sample the host is asked to receive.
constexpr uint32_t kAudioMaxSampleSize = 0x64000;
// Largest subtitle sample the host is asked to receive.
constexpr uint32_t kSubtitleMaxSampleSize = 65535;

class KelmMKVDemux {
public:
    KelmMKVDemux();
    ~KelmMKVDemux();
    KelmMKVDemux(const KelmMKVDemux&) = delete;
    KelmMKVDemux& operator=(const KelmMKVDemux&) = delete;

    // Load and track table.
    uint32_t Load(unsigned char* source, _ZOLVDMX_READER_CALLBACK_T* reader);
    int32_t GetNumTracks() const;
    int32_t GetTrackType(int32_t track) const;
    uint32_t GetMediaFormat(int32_t track, ZOLVDMX_MEDIA_FORMAT_T* format) const;
    double GetFileDuration() const;
    // Matroska TrackType of a track (0 when the entry has none).
    uint64_t GetMatroskaTrackType(int32_t track) const;

    // Format description.
    uint32_t SetMediaFormat(EBMLTrackEntry* entry, ZOLVDMX_MEDIA_FORMAT_T* format);
    bool GetVideoHeader(EBMLTrackEntry* entry, ZOLVDMX_MEDIA_FORMAT_T* format);
    bool GetAudioHeader(EBMLTrackEntry* entry, ZOLVDMX_MEDIA_FORMAT_T* format);
    bool KL_GetH264SPSPPS(const uint8_t* data, int32_t length, uint8_t* out, int32_t* outLength);
    // The NAL units of every array of an hvcC record (VPS, SPS, PPS, SEI),
    // each behind a start code, into `out`; sets nalLengthSizeMinusOne.
    bool GetHevcParameterSets(const uint8_t* data, int32_t length, std::vector<uint8_t>& out);

    // Sample delivery. `capacity` is the host buffer's size in bytes: a
    // frame that does not fit is not copied.
    uint32_t GetNextMediaSample(int32_t track, unsigned char* dest, int32_t capacity, int32_t& size,
                                int64_t& start, int64_t& duration, bool& key);
    // Moves the track's cursor onto the next block of the track that has
    // frames, splits it and works out its frames' times: 0, or 1 at the end.
    uint32_t FindSamples(int32_t track);
    // Rewrites the frame of `inputLength` bytes at dest to start-code form
    // in place, writing no further than the output reaches; false (nothing
    // usable) when a unit runs past the frame or the output past `capacity`.
    bool ReconstructH264Sample(int32_t& size, unsigned char* dest, int32_t capacity, int32_t inputLength,
                               int32_t lengthSizeMinusOne);

    // Seeking.
    uint32_t DemuxSeek(int32_t track, int64_t& time);

    // True (once per track, and then marked as sent) when the track's next
    // sample is its parameter sets: an H.264 or HEVC track with a
    // configuration, before its first frame.
    bool TakeConfigSample(int32_t track);
    // The sync flag of a sample of a track that starts at `start`: every
    // audio sample and every sample at time 0, otherwise the frame's key flag.
    bool IsSyncPoint(int32_t track, int64_t start, bool keyFrame) const;

    // A block's time in 100 ns units.
    static int64_t BlockTime(const EBMLSegment& segment, const EBMLCluster& cluster, const EBMLBlock& block);
    // A SimpleBlock's own key flag; a Block's flag or its group without references.
    static bool IsKeyFrame(const EBMLBlockGroup& group, const EBMLBlock& block);

private:
    // Tests and benchmarks look inside through this.
    friend struct DemuxInternals;

    std::vector<_tagMKVTrackIndexMeta> tracks;
    Matroska matroska;
    std::unique_ptr<_tagMKVReadCursor> audioCursor;
    std::unique_ptr<_tagMKVReadCursor> videoCursor;
    std::unique_ptr<_tagMKVSeekCache> seekCache;
    // What describing a video track found of its framing (copied into its record).
    int32_t nalLengthSizeMinusOne = -1; // of the H.264 or HEVC track described last
    bool lengthPrefixedNalUnits = false;

    _tagMKVReadCursor* CursorFor(uint64_t trackType);
    // Format description helpers (VideoFormat.cpp): little-endian stores into
    // the header records the host reads, and a malloc'ed copy of `count`
    // bytes into a record buffer and its size (null and 0 when there is
    // nothing to copy or no memory).
    static void StoreLE16(uint8_t* at, uint32_t value);
    static void StoreLE32(uint8_t* at, uint32_t value);
    static void CopyToRecord(const uint8_t* bytes, int32_t count, unsigned char*& buffer, int32_t& size);
    // Audio format helpers (AudioFormat.cpp): an AAC track's decoder
    // configuration, format tag and announced rate; the WAVEFORMATEX bytes.
    static void DescribeAac(const EBMLTrackEntry& entry, ZOLVDMX_WAVEFORMATEX_T& wave, ZOLVDMX_MEDIA_FORMAT_T* format);
    static void StoreWaveFormat(uint8_t* header, const ZOLVDMX_WAVEFORMATEX_T& wave);
    // The BITMAPINFOHEADER as built from the Video element (CodecPrivate may
    // replace it), and the display size record.
    static void StoreVideoHeaders(uint8_t* header, uint8_t* extra, const EBMLVideo* video);

    // Block walking (BlockWalk.cpp), shared by delivery and seeking.
    // Clusters that walks under way stand on (a walk inside a walk must not
    // release the outer one's cluster).
    std::vector<const EBMLCluster*> walkPins;
    struct WalkPin {
        WalkPin(std::vector<const EBMLCluster*>& pins, const EBMLCluster& cluster);
        ~WalkPin();
        WalkPin(const WalkPin&) = delete;
        WalkPin& operator=(const WalkPin&) = delete;
        std::vector<const EBMLCluster*>& pins;
    };
    // Calls visit(ref, cluster, group, block) for every block of `cluster`
    // from the group whose element starts at `from` (-1: the first group;
    // no group there: the first after it) and its block `fromBlock` on,
    // until it answers false; false when it did.
    template <class Visit>
    bool WalkCluster(EBMLSegment& segment, CBitStreamParser* parser, EBMLCluster& cluster, int64_t from,
                     int32_t fromBlock, Visit&& visit);
    // The same from `from` on through the following clusters, indexing them
    // as needed, in file order; false when the Segment ended first.
    template <class Visit>
    bool WalkBlocks(EBMLSegment& segment, CBitStreamParser* parser, BlockRef from, Visit&& visit);
    // The block `at` names or, when there is none, the first after it in
    // file order; `at` then names it. Valid until clusters are released.
    struct Located {
        EBMLCluster* cluster = nullptr;
        EBMLBlockGroup* group = nullptr;
        EBMLBlock* block = nullptr;
    };
    bool SettleOnBlock(EBMLSegment& segment, CBitStreamParser* parser, BlockRef& at, Located* found = nullptr);
    // Notes a video key frame met on a walk, and a cluster walked from its
    // first group to its end: its key frames are then all noted.
    void NoteBlock(const EBMLSegment& segment, const EBMLCluster& cluster, const EBMLBlockGroup& group,
                   int32_t block);
    void NoteClusterWalked(const EBMLCluster& cluster);
    // The last block of each track a walk met in a cluster: when the walk
    // reaches the cluster's end, the tracks' last blocks in the cluster.
    struct LastSeen {
        static constexpr size_t kTracks = 8;
        uint32_t trackNumbers[kTracks] = {};
        BlockRef at[kTracks];
        size_t count = 0;
        void Note(uint32_t trackNumber, const BlockRef& ref)
        {
            for (size_t k = 0; k < count; ++k) {
                if (trackNumbers[k] == trackNumber) {
                    at[k] = ref;
                    return;
                }
            }
            if (count < kTracks) {
                trackNumbers[count] = trackNumber;
                at[count++] = ref;
            }
        }
    };
    void NoteLastBlocks(const EBMLSegment& segment, const EBMLCluster& cluster, const LastSeen& seen);
    // The track record of a Matroska track number, or null.
    _tagMKVTrackIndexMeta* TrackByNumber(uint32_t trackNumber);
    // Whether a cursor stands on the cluster, reads from it next or looks
    // ahead into it, or a walk stands on it: its block list stays.
    bool IsPinned(const EBMLCluster& cluster) const;
    // Releases the block lists of the clusters listed longest ago that
    // nothing stands on, keeping `keep` of them. Block and group pointers
    // into a cluster nothing pins are valid until the next listing.
    void ReleaseIdleClusters(size_t keep);
    // Remembers that a cluster's block list is held; the one place where
    // idle block lists are released.
    void NoteListed(EBMLCluster& cluster);
    std::vector<EBMLCluster*> listedClusters; // clusters whose block lists may be held...
    std::vector<bool> inListedClusters;       // ...by cluster index

    // Sample delivery helpers (SampleDelivery.cpp).
    // What reading a block or frame came to: done; impossible (bytes missing
    // inside the source, a bad lace header, a frame too large for the host's
    // buffer); or not yet, as its bytes lie past where the source ends for
    // now (a file still being written).
    enum class BlockBytes { Ready, Damaged, NotYet };
    // Reads a block's block and lace headers through the cursor's reader and
    // lays out its frames.
    BlockBytes SplitBlock(CBitStreamParser* parser, EBMLBlock& block);
    // Tells the cursor's stream where the cursor reads next.
    void NotePendingRead(_tagMKVReadCursor& cursor);
    // Writes the next frame of the cursor's block into dest (Damaged: it does
    // not fit, or cannot be read or rewritten).
    BlockBytes DeliverFrame(const _tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor, unsigned char* dest,
                            int32_t capacity, int32_t& size);
    // Whether the file may still grow: its Segment's size is unknown or lies
    // beyond the source's end, or the source's length is unknown.
    bool SegmentMayGrow(const EBMLSegment& segment) const;
    // Asks the host for the length again when the file may grow; true when it
    // grew, after which clusters and walks that stopped at the old end go on.
    bool RefreshSource(EBMLSegment& segment);
    // Times of the frames of the block at `at`: frame k starts at
    // time + k * span / divisor. `earlier` holds the times of the track's
    // blocks just before it; `previousDuration` is the last resort.
    struct FrameTiming {
        int64_t time = 0;
        int64_t span = 0;
        int64_t divisor = 1;
        int64_t Start(int32_t k) const;
    };
    // `incomplete`, when given: set when the blocks after it ran out where a
    // file that may still grow ends for now. `successor`, when given: the
    // block the duration was taken from (cluster -1: none).
    FrameTiming TimeFrames(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment, CBitStreamParser* parser,
                           BlockRef at, const std::vector<int64_t>& earlier, int64_t previousDuration,
                           bool* incomplete = nullptr, BlockRef* successor = nullptr);
    // The next block of the track from the cursor's position, split: Ready,
    // NotYet (still being written), or Damaged when the Segment ended first.
    BlockBytes NextBlockOf(const _tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor, BlockRef& at,
                           Located& found);
    // The start of the track's next frame after the block at `at` (which
    // starts at `time` and holds `frames` frames): the next block's for laced
    // frames, the next in presentation order among the following blocks
    // and `earlier` otherwise. True when found; `stopped`: the walk ended
    // before the Segment did.
    bool NextFrameTime(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment, CBitStreamParser* parser,
                       BlockRef at, int64_t time, int32_t frames, const std::vector<int64_t>& earlier, int64_t& next,
                       BlockRef* successor, bool& stopped);
    // Puts the cursor on the block found for it, with its look-ahead.
    void StandOn(_tagMKVReadCursor& cursor, BlockRef at, const Located& found, BlockRef successor);
    // PCM frames timed by their size, a FLAC frame by the samples its header
    // counts; false for other tracks and for FLAC headers that do not read
    // cleanly.
    bool TimeFramesBySamples(const _tagMKVTrackIndexMeta& record, CBitStreamParser* parser, const EBMLBlock& block,
                             FrameTiming& timing);

    // Seeking helpers (Seeking.cpp), one step each.
    struct Landing {
        bool atEnd = false;
        BlockRef at;
    };
    struct ForwardSearch {
        bool haveBest = false; // the latest suitable frame at or before the request
        int64_t bestTime = 0;
        BlockRef best;
        bool startsAfter = false;        // a frame of the track that starts after the request was met...
        BlockRef stoppedAt;              // ...here,
        bool firstAfterSuitable = false; // and it is suitable
    };
    struct BackwardSearch {
        bool haveBest = false;
        BlockRef best;
        bool haveEarliest = false; // the first suitable frame of the earliest cluster with one, after the request
        BlockRef earliest;
    };
    Landing FindLanding(int32_t track, _tagMKVReadCursor& cursor, int64_t requested);
    // Where the search for a landing starts: the cluster of the track's last
    // cue point at or before the request (and the cued block), else the last
    // cluster that starts at or before it.
    BlockRef StartPoint(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment, int64_t requested);
    // The cue point of a track last at or before a time, or null.
    static const CueRef* LastCueAtOrBefore(const _tagMKVTrackIndexMeta& record, int64_t time);
    // The block a cue names, when its cluster and block read soundly there.
    bool CuedBlock(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment, const CueRef& cue, BlockRef& at);
    // The last cluster whose timecode is at or before `requested`, from
    // `from` on: over known clusters, by bisection over file offsets where
    // the clusters between are unknown, and forward cluster by cluster.
    EBMLCluster* LastClusterAtOrBefore(EBMLSegment& segment, EBMLCluster* from, int64_t requested);
    // Forward from `start` until a frame of the track starts after the
    // request: the latest suitable frame at or before it, the first
    // suitable one after it, and the track's blocks met.
    ForwardSearch SearchForward(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment,
                                CBitStreamParser* parser, BlockRef start, int64_t requested);
    // Back cluster by cluster from `before`: the latest suitable frame at or
    // before the request, and the earliest suitable frame after it met.
    BackwardSearch SearchBackward(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment,
                                  CBitStreamParser* parser, EBMLCluster* before, int64_t requested);
    // The latest suitable frame at or before the request among a cluster's
    // last blocks, found from the bytes before its end; false when they do
    // not settle it.
    bool SearchClusterTail(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment, CBitStreamParser* parser,
                           EBMLCluster& cluster, int64_t requested, BlockRef& found);
    // Makes the cluster of the nearest cue point before `cluster` known.
    void LearnCuedClusterBefore(EBMLSegment& segment, const EBMLCluster& cluster);
    // A video track's latest noted key frame at or before the request in a cluster.
    static const KeyFrameRef* LatestKeyFrameIn(const _tagMKVTrackIndexMeta& record, int32_t cluster,
                                               int64_t requested);
    // The end of the track's last frame, from its last blocks in file order
    // (the Segment's last cluster is found forward from `from`).
    int64_t TrackEnd(_tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor, EBMLCluster* from);
    std::vector<uint8_t> tailBytes; // the bytes before a cluster's end, searched for block boundaries
    ClusterTailScan tailScan;
    // The track's first frame (a request at or below 0).
    Landing FirstFrameOf(const _tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor);
    // Puts the cursor on the landing (or at the end) and answers the time
    // reported: the start of the frame delivered next. `passedOver`: laced
    // frames of the landing block before the request, counted here when < 0.
    int64_t Land(_tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor, Landing& landing, int64_t requested,
                 int32_t& passedOver);
    void PlaceCursor(_tagMKVReadCursor& cursor, BlockRef at);
    // Leaves the cursor after the last block: the next sample request ends.
    // `keepPosition`: the cursor goes on from where it stood if the source
    // grows; otherwise from the end of the last cluster known.
    void PlaceCursorAtEnd(_tagMKVReadCursor& cursor, bool keepPosition = false);
    // Builds each track's cue list from the Cues.
    void IndexCues(EBMLSegment& segment);

    std::vector<uint8_t> laceHead; // a block's block and lace headers, reused across blocks
    bool loaded = false;
};

template <class Visit>
bool KelmMKVDemux::WalkCluster(EBMLSegment& segment, CBitStreamParser* parser, EBMLCluster& cluster, int64_t from,
                               int32_t fromBlock, Visit&& visit)
{
    WalkPin pin(walkPins, cluster);
    LastSeen seen;
    const bool fromStart = from < 0;
    size_t g = 0;
    int32_t b = fromBlock;
    if (fromStart) {
        cluster.ListFromStart(parser);
    } else {
        int32_t found = cluster.ListAt(parser, from);
        if (found < 0) {
            // No group starts there: from the first group after it.
            cluster.ListFromStart(parser);
            cluster.ListBlocks(parser, SIZE_MAX);
            while (g < cluster.blockGroups.size() && cluster.blockGroups[g]->elementPosition < from) {
                ++g;
            }
            if (g >= cluster.blockGroups.size() || cluster.blockGroups[g]->elementPosition != from) {
                b = 0;
            }
        } else {
            g = static_cast<size_t>(found);
        }
    }
    for (;;) {
        if (g >= cluster.blockGroups.size()) {
            bool more = g == 0 ? (cluster.ListBlocks(parser, 1), !cluster.blockGroups.empty())
                               : cluster.ListNext(parser, g - 1);
            NoteListed(cluster);
            if (!more) {
                break;
            }
            continue;
        }
        EBMLBlockGroup& group = *cluster.blockGroups[g];
        if (b < 0 || static_cast<size_t>(b) >= group.blocks.size()) {
            ++g;
            b = 0;
            continue;
        }
        const BlockRef ref{cluster.index, group.elementPosition, b};
        NoteBlock(segment, cluster, group, b);
        seen.Note(group.blocks[static_cast<size_t>(b)]->trackNumber, ref);
        if (!visit(ref, cluster, group, *group.blocks[static_cast<size_t>(b)])) {
            NoteListed(cluster);
            return false;
        }
        // The visit may have listed more of the cluster in front of the group.
        if (g >= cluster.blockGroups.size() || cluster.blockGroups[g]->elementPosition != ref.group) {
            int32_t moved = cluster.GroupAt(ref.group);
            if (moved < 0) {
                break;
            }
            g = static_cast<size_t>(moved);
        }
        ++b;
    }
    if (fromStart && cluster.IsParsed()) {
        NoteClusterWalked(cluster);
    }
    if (!cluster.ListingCut()) {
        NoteLastBlocks(segment, cluster, seen);
    }
    return true;
}

template <class Visit>
bool KelmMKVDemux::WalkBlocks(EBMLSegment& segment, CBitStreamParser* parser, BlockRef from, Visit&& visit)
{
    if (from.cluster < 0 || static_cast<size_t>(from.cluster) >= segment.clusters.size()) {
        return false;
    }
    EBMLCluster* cluster = segment.clusters[static_cast<size_t>(from.cluster)].get();
    int64_t group = from.group;
    int32_t block = from.block;
    while (cluster != nullptr) {
        if (!WalkCluster(segment, parser, *cluster, group, block, visit)) {
            return true;
        }
        cluster = segment.NextCluster(*cluster);
        group = -1;
        block = 0;
    }
    return false;
}

// The 5-byte AAC decoder configuration (AudioSpecificConfig + SBR sync
// extension); returns 5 for SBR (profile -1), 2 otherwise.
int32_t MakeAACInitData(uint8_t* out, int32_t profile, int32_t frequency, int32_t channels);
// end - start into result; -1 (result untouched) when end precedes start.
int32_t tim_subtract(struct timeval* result, const struct timeval* start, const struct timeval* end);

#endif
