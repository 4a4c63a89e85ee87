// KelmMKVDemux: the demuxer behind every handle. It turns the element tree
// into a track table, media format records, samples and seeks. Its member
// functions are split by concern: load and track table (KelmMKVDemux.cpp),
// video and audio format (VideoFormat.cpp, AudioFormat.cpp), sample delivery
// (SampleDelivery.cpp), H.264 reconstruction (H264Reconstruction.cpp) and
// seeking (Seeking.cpp).
#ifndef MKV_DEMUX_KELMMKVDEMUX_H
#define MKV_DEMUX_KELMMKVDEMUX_H

#include <sys/time.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "matroska/Matroska.h"
#include "zolvdmx.h"

class EBMLBinary;
class EBMLBlock;
class EBMLBlockGroup;
class EBMLCluster;
class EBMLSegment;
class EBMLTrackEntry;

// One admitted track entry. The record is plain data kept by value; the
// demuxer releases the buffers `format` points to when it is destroyed.
struct _tagMKVTrackIndexMeta {
    uint32_t segmentIndex = 0;
    uint32_t trackIndex = 0;
    uint32_t entryIndex = 0;
    EBMLTrackEntry* trackEntry = nullptr; // owned by the element tree
    ZOLVDMX_MEDIA_FORMAT_T format{};      // owns header, codecPrivate, config, videoExtra
};

// A read position of one media type: the current block (whose frames are
// being delivered) and the look-ahead block (the next of the same track).
struct _tagMKVReadCursor {
    EBMLSegment* segment = nullptr;
    EBMLCluster* cluster = nullptr;
    EBMLBlock* block = nullptr;
    EBMLCluster* nextCluster = nullptr;
    EBMLBlock* nextBlock = nullptr;
    int32_t clusterIndex = 0;
    int32_t clusterCount = 0;
    int32_t groupCount = 0;
    int32_t blockCount = 0;
    int32_t groupIndex = 0;
    int32_t blockIndex = 0;
    int32_t nextClusterIndex = 0;
    int32_t nextClusterCount = 0;
    int32_t nextGroupCount = 0;
    int32_t nextBlockCount = 0;
    int32_t nextGroupIndex = 0;
    int32_t nextBlockIndex = 1;
    std::unique_ptr<CBitStreamParser> parser; // the cursor's own reader over the source
};

// The last seek, shared by both cursors.
struct _tagMKVSeekCache {
    int64_t requestedTime = 0;
    int64_t resultTime = 0;
    int32_t clusterIndex = 0;
    int32_t nextClusterIndex = 0;
    int32_t groupCount = 0;
    int32_t groupIndex = 0;
    int32_t blockIndex = 0;
    int32_t blockCount = 0;
    int32_t nextGroupCount = 0;
    int32_t nextBlockCount = 0;
    int32_t nextGroupIndex = 0;
    int32_t nextBlockIndex = 0;
};

// Size of the output area the H.264 parameter sets are extracted into.
constexpr int32_t kH264ConfigArea = 1000;
// Largest rewritten H.264 frame.
constexpr int32_t kH264OutputLimit = 0x500000;
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

    // Sample delivery. `capacity` is the host buffer's size in bytes: a
    // frame that does not fit is not copied.
    uint32_t GetNextMediaSample(int32_t track, unsigned char* dest, int32_t capacity, int32_t& size,
                                int64_t& start, int64_t& duration, bool& key);
    uint32_t FindSamples(int32_t track);
    bool ReconstructH264Sample(int32_t& size, unsigned char* dest, int32_t capacity, const EBMLBinary* frame);

    // Seeking.
    uint32_t DemuxSeek(int32_t track, int64_t& time);

    // A block's time in 100 ns units.
    static int64_t BlockTime(const EBMLSegment& segment, const EBMLCluster& cluster, const EBMLBlock& block);
    // A SimpleBlock's own key flag; a Block's flag or its group without references.
    static bool IsKeyFrame(const EBMLBlockGroup& group, const EBMLBlock& block);

    std::vector<_tagMKVTrackIndexMeta> tracks;
    Matroska matroska;
    std::unique_ptr<_tagMKVReadCursor> audioCursor;
    std::unique_ptr<_tagMKVReadCursor> videoCursor;
    std::unique_ptr<_tagMKVSeekCache> seekCache;
    int32_t nalLengthSizeMinusOne = -1;

private:
    _tagMKVReadCursor* CursorFor(uint64_t trackType);
    // Format description helpers (VideoFormat.cpp): little-endian stores into
    // the header records the host reads, and a malloc'ed copy of `count`
    // bytes into a record buffer and its size (null and 0 when there is
    // nothing to copy or no memory).
    static void StoreLE16(uint8_t* at, uint32_t value);
    static void StoreLE32(uint8_t* at, uint32_t value);
    static void CopyToRecord(const uint8_t* bytes, int32_t count, unsigned char*& buffer, int32_t& size);

    // Sample delivery helpers (SampleDelivery.cpp).
    // Whether the cursor's cluster list reaches `index`, indexing further
    // clusters of the Segment when needed.
    bool EnsureClusterCount(_tagMKVReadCursor& cursor, int32_t index);
    // Block data of a cluster no cursor position refers to is released; it
    // is listed again when needed.
    bool ClusterInUse(const EBMLCluster* cluster) const;
    void ReleaseIfUnused(EBMLCluster* cluster);
    void SetCluster(EBMLCluster*& slot, EBMLCluster* cluster);
    // Reads a block's payload through the cursor's reader and splits it;
    // false when it yields no frame (bytes missing, bad lace header).
    bool SplitBlock(CBitStreamParser* parser, EBMLBlock& block);
    // One of a cursor's two positions (current or look-ahead), by reference
    // to its fields, so both move through one piece of code.
    struct Position {
        EBMLCluster*& cluster;
        int32_t& clusterIndex;
        int32_t& clusterCount;
        int32_t& groupCount;
        int32_t& groupIndex;
        int32_t& blockIndex;
        int32_t& blockCount;
    };
    static Position Current(_tagMKVReadCursor& cursor);
    static Position LookAhead(_tagMKVReadCursor& cursor);
    // Moves a position to the next cluster and lists it; false (the position
    // left at the end) when the Segment has no further cluster.
    bool AdvanceCluster(_tagMKVReadCursor& cursor, Position at);
    // The next block of the track at or after the position in its cluster,
    // split into frames; leaves the position one past it.
    EBMLBlock* SearchBlock(_tagMKVReadCursor& cursor, Position at, uint32_t trackNumber);

    // Seeking helpers (Seeking.cpp).
    struct SeekTarget;
    // Decodes a block's header from its first bytes only.
    static bool ReadBlockHeader(CBitStreamParser* parser, EBMLBlock& block);
    void PlaceCursor(_tagMKVReadCursor& cursor, const SeekTarget& target);
    // Leaves the cursor after the last cluster: the next sample request ends.
    void PlaceCursorAtEnd(_tagMKVReadCursor& cursor);
    void FillSeekCache(const _tagMKVReadCursor& cursor, int64_t requested);
    void SeekToStart(_tagMKVReadCursor& cursor);
    void SeekRepeat(_tagMKVReadCursor& cursor);
    bool SeekWithCues(_tagMKVReadCursor& cursor, int64_t requested, int64_t& result);
    bool SeekWithoutCues(_tagMKVReadCursor& cursor, const EBMLTrackEntry& entry, int64_t requested,
                         int64_t& result);

    std::vector<uint8_t> scratch; // one block's payload, reused across blocks
    bool loaded = false;
};

// The 5-byte AAC decoder configuration (AudioSpecificConfig + SBR sync
// extension); returns 5 for SBR (profile -1), 2 otherwise.
int32_t MakeAACInitData(uint8_t* out, int32_t profile, int32_t frequency, int32_t channels);
// end - start into result; -1 (result untouched) when end precedes start.
int32_t tim_subtract(struct timeval* result, const struct timeval* start, const struct timeval* end);

#endif
