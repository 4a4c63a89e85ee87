// KelmMKVDemux: the demuxer behind every handle. It turns the element tree
// into a track table, media format records, samples and seeks. Its member
// functions are split by concern: load and track table (KelmMKVDemux.cpp),
// video and audio format (VideoFormat.cpp, AudioFormat.cpp), sample delivery
// (SampleDelivery.cpp), H.264 reconstruction (H264Reconstruction.cpp) and
// seeking (Seeking.cpp).
#ifndef MKV_DEMUX_KELMMKVDEMUX_H
#define MKV_DEMUX_KELMMKVDEMUX_H

#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "matroska/Matroska.h"
#include "zolvdmx.h"

class EBMLBlock;
class EBMLBlockGroup;
class EBMLCluster;
class EBMLSegment;
class EBMLTrackEntry;

// A block's place in the Segment: cluster index, block group index within
// the cluster, block index within the group.
struct BlockRef {
    int32_t cluster = 0;
    int32_t group = 0;
    int32_t block = 0;
};

// A key frame met while listing clusters, so later seeks need not list its
// cluster again.
struct KeyFrameRef {
    int64_t time = 0; // 100 ns units
    BlockRef at;
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
    // H.264 and HEVC: this track's NAL length size minus one (from its
    // avcC or hvcC), -1 when unknown; whether its parameter-set sample has
    // gone out.
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
    // Key frames of a video track met so far, in time order.
    std::vector<KeyFrameRef> keyFrames;
};

// A read position of one media type. `clusterIndex`, `groupIndex` and
// `blockIndex` name the next block to examine; `block`, when not null, is
// the block whose frames are being delivered (in `cluster`, just before that
// position), already split, with its frames' times.
struct _tagMKVReadCursor {
    EBMLSegment* segment = nullptr;
    EBMLCluster* cluster = nullptr;
    EBMLBlock* block = nullptr;
    int32_t clusterIndex = 0;
    int32_t groupIndex = 0;
    int32_t blockIndex = 0;
    bool ended = false; // no further block of the tracks it serves
    // Frames of the block at `landing` a seek passes over (laced audio): the
    // block is read only when its frames are asked for.
    BlockRef landing;
    int32_t skipFrames = 0;
    // Frame k of `block` starts at blockTime + k * frameSpan / frameSpanDivisor.
    int64_t blockTime = 0;
    int64_t frameSpan = 0;
    int64_t frameSpanDivisor = 1;
    std::unique_ptr<CBitStreamParser> parser; // the cursor's own reader over the source
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
    int32_t nalLengthSizeMinusOne = -1; // of the H.264 or HEVC track described last

    _tagMKVReadCursor* CursorFor(uint64_t trackType);
    // Format description helpers (VideoFormat.cpp): little-endian stores into
    // the header records the host reads, and a malloc'ed copy of `count`
    // bytes into a record buffer and its size (null and 0 when there is
    // nothing to copy or no memory).
    static void StoreLE16(uint8_t* at, uint32_t value);
    static void StoreLE32(uint8_t* at, uint32_t value);
    static void CopyToRecord(const uint8_t* bytes, int32_t count, unsigned char*& buffer, int32_t& size);

    // Block walking (BlockWalk.cpp), shared by delivery and seeking.
    // Whether the Segment's cluster list reaches `index`, indexing further
    // clusters when needed.
    static bool EnsureCluster(EBMLSegment& segment, int32_t index);
    // Lists a cluster's block groups up to `wantedGroups` (all by default),
    // noting the key frames of video tracks among them.
    void ListCluster(const EBMLSegment& segment, EBMLCluster& cluster, CBitStreamParser* parser,
                     size_t wantedGroups = SIZE_MAX);
    // Moves `at` onto the first block at or after it in file order, listing
    // and indexing clusters as needed; false at the end of the Segment.
    bool SettleOnBlock(EBMLSegment& segment, CBitStreamParser* parser, BlockRef& at);
    // Calls visit(ref, cluster, group, block) for every block from `from` on,
    // in file order, until it answers false; false when the Segment ended first.
    template <class Visit>
    bool WalkBlocks(EBMLSegment& segment, CBitStreamParser* parser, BlockRef from, Visit&& visit);
    // The track record of a Matroska track number, or null.
    _tagMKVTrackIndexMeta* TrackByNumber(uint32_t trackNumber);
    // Releases the block lists of clusters no cursor stands on or next to,
    // but for `keep`.
    void ReleaseIdleClusters(const EBMLCluster* keep = nullptr);
    std::vector<EBMLCluster*> listedClusters; // clusters whose block lists are held

    // Sample delivery helpers (SampleDelivery.cpp).
    // Reads a block's block and lace headers through the cursor's reader and
    // lays out its frames; false when it yields no frame (bytes missing, bad
    // lace header).
    bool SplitBlock(CBitStreamParser* parser, EBMLBlock& block);
    // Writes the next frame of the cursor's block into dest: false when it
    // does not fit or cannot be read or rewritten.
    bool DeliverFrame(const _tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor, unsigned char* dest,
                      int32_t capacity, int32_t& size);
    // Times of the frames of the block at `at`: frame k starts at
    // time + k * span / divisor. `earlier` holds the times of the track's
    // blocks just before it; `previousDuration` is the last resort.
    struct FrameTiming {
        int64_t time = 0;
        int64_t span = 0;
        int64_t divisor = 1;
        int64_t Start(int32_t k) const;
    };
    FrameTiming TimeFrames(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment, CBitStreamParser* parser,
                           BlockRef at, const std::vector<int64_t>& earlier, int64_t previousDuration);
    // PCM frames timed by their size, a FLAC frame by the samples its header
    // counts; false for other tracks and for FLAC headers that do not read
    // cleanly.
    bool TimeFramesBySamples(const _tagMKVTrackIndexMeta& record, CBitStreamParser* parser, const EBMLBlock& block,
                             FrameTiming& timing);

    // Seeking helpers (Seeking.cpp).
    struct Landing;
    Landing FindLanding(int32_t track, _tagMKVReadCursor& cursor, int64_t requested);
    int32_t StartCluster(const _tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor, int64_t requested);
    bool LatestKeyFrameIn(const _tagMKVTrackIndexMeta& record, int32_t cluster, int64_t requested,
                          KeyFrameRef& found) const;
    int64_t TrackEnd(const _tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor,
                     const std::vector<BlockRef>& lastBlocks);
    void PlaceCursor(_tagMKVReadCursor& cursor, BlockRef at);
    // Leaves the cursor after the last block: the next sample request ends.
    void PlaceCursorAtEnd(_tagMKVReadCursor& cursor);

    std::vector<uint8_t> laceHead; // a block's block and lace headers, reused across blocks
    bool loaded = false;
};

template <class Visit>
bool KelmMKVDemux::WalkBlocks(EBMLSegment& segment, CBitStreamParser* parser, BlockRef from, Visit&& visit)
{
    for (BlockRef at = from;; ++at.block) {
        if (!SettleOnBlock(segment, parser, at)) {
            return false;
        }
        EBMLCluster& cluster = *segment.clusters[static_cast<size_t>(at.cluster)];
        EBMLBlockGroup& group = *cluster.blockGroups[static_cast<size_t>(at.group)];
        if (!visit(at, cluster, group, *group.blocks[static_cast<size_t>(at.block)])) {
            return true;
        }
    }
}

// The 5-byte AAC decoder configuration (AudioSpecificConfig + SBR sync
// extension); returns 5 for SBR (profile -1), 2 otherwise.
int32_t MakeAACInitData(uint8_t* out, int32_t profile, int32_t frequency, int32_t channels);
// end - start into result; -1 (result untouched) when end precedes start.
int32_t tim_subtract(struct timeval* result, const struct timeval* start, const struct timeval* end);

#endif
