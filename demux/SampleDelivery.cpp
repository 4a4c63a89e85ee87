// Sample delivery: moves a media type's cursor block by block through the
// clusters, splits blocks into frames and hands them out with their time,
// duration and key flag. A look-ahead block of the same track gives the
// duration and spreads the times of laced frames.
#include <algorithm>
#include <cstring>

#include "KelmMKVDemux.h"
#include "matroska/EBMLSegment.h"

namespace {

// The four-character code AVC1 as a little-endian 32-bit value.
constexpr uint32_t kFourCcAvc1 = 0x31435641u;

bool IsH264Track(const _tagMKVTrackIndexMeta& track)
{
    const auto* header = static_cast<const uint8_t*>(track.format.header);
    if (track.format.mediaType != ZOLVDMX_MEDIA_VIDEO || header == nullptr) {
        return false;
    }
    // biCompression, little-endian at offset 16 of the BITMAPINFOHEADER.
    uint32_t compression = static_cast<uint32_t>(header[16]) | static_cast<uint32_t>(header[17]) << 8 |
                           static_cast<uint32_t>(header[18]) << 16 | static_cast<uint32_t>(header[19]) << 24;
    return compression == kFourCcAvc1;
}

} // namespace

int64_t KelmMKVDemux::BlockTime(const EBMLSegment& segment, const EBMLCluster& cluster, const EBMLBlock& block)
{
    // A signed sum: a negative relative timecode gives an earlier time.
    return segment.GetRefTime(static_cast<int64_t>(cluster.timecode) + block.relativeTimecode);
}

bool KelmMKVDemux::IsKeyFrame(const EBMLBlockGroup& group, const EBMLBlock& block)
{
    // A SimpleBlock says so itself; a Block is a key frame when flagged or
    // when its group references no other block.
    return block.simple ? block.keyFrame : (block.keyFrame || group.IsKeyGroup());
}

bool KelmMKVDemux::EnsureClusterCount(_tagMKVReadCursor& cursor, int32_t index)
{
    if (index < cursor.clusterCount) {
        return true;
    }
    EBMLSegment& segment = *cursor.segment;
    if (static_cast<size_t>(index) >= segment.clusters.size()) {
        segment.ContinueParsing(static_cast<size_t>(index) + 1);
    }
    cursor.clusterCount = static_cast<int32_t>(segment.clusters.size());
    cursor.nextClusterCount = cursor.clusterCount;
    return index < cursor.clusterCount;
}

bool KelmMKVDemux::ClusterInUse(const EBMLCluster* cluster) const
{
    for (const _tagMKVReadCursor* cursor : {audioCursor.get(), videoCursor.get()}) {
        if (cursor->cluster == cluster || cursor->nextCluster == cluster) {
            return true;
        }
    }
    return false;
}

void KelmMKVDemux::ReleaseIfUnused(EBMLCluster* cluster)
{
    if (cluster != nullptr && !ClusterInUse(cluster)) {
        cluster->ReleaseBlocks();
    }
}

void KelmMKVDemux::SetCluster(EBMLCluster*& slot, EBMLCluster* cluster)
{
    EBMLCluster* previous = slot;
    slot = cluster;
    if (previous != cluster) {
        ReleaseIfUnused(previous);
    }
}

bool KelmMKVDemux::SplitBlock(CBitStreamParser* parser, EBMLBlock& block)
{
    uint32_t size = static_cast<uint32_t>(block.dataSize);
    if (scratch.size() < size) {
        scratch.resize(size);
    }
    parser->Seek(block.dataPosition, 0);
    if (size > 0 && parser->GetBytes(static_cast<int32_t>(size), scratch.data()) != static_cast<int32_t>(size)) {
        // Bytes missing from the host: the block is damaged and passed over.
        block.DropFrames();
        return false;
    }
    block.Parse(scratch.data(), size);
    return block.HasFrames();
}

KelmMKVDemux::Position KelmMKVDemux::Current(_tagMKVReadCursor& cursor)
{
    return {cursor.cluster,    cursor.clusterIndex, cursor.clusterCount, cursor.groupCount,
            cursor.groupIndex, cursor.blockIndex,   cursor.blockCount};
}

KelmMKVDemux::Position KelmMKVDemux::LookAhead(_tagMKVReadCursor& cursor)
{
    return {cursor.nextCluster,    cursor.nextClusterIndex, cursor.nextClusterCount, cursor.nextGroupCount,
            cursor.nextGroupIndex, cursor.nextBlockIndex,   cursor.nextBlockCount};
}

bool KelmMKVDemux::AdvanceCluster(_tagMKVReadCursor& cursor, Position at)
{
    if (!EnsureClusterCount(cursor, at.clusterIndex + 1)) {
        at.clusterIndex = at.clusterCount; // the end of the Segment
        return false;
    }
    at.clusterIndex += 1;
    SetCluster(at.cluster, cursor.segment->clusters[static_cast<size_t>(at.clusterIndex)].get());
    at.cluster->ParseBlockData(cursor.parser.get());
    at.groupCount = static_cast<int32_t>(at.cluster->blockGroups.size());
    at.blockIndex = 0;
    at.groupIndex = 0;
    return true;
}

EBMLBlock* KelmMKVDemux::SearchBlock(_tagMKVReadCursor& cursor, Position at, uint32_t trackNumber)
{
    at.cluster->ParseBlockData(cursor.parser.get());
    at.groupCount = static_cast<int32_t>(at.cluster->blockGroups.size());
    while (at.groupIndex < at.groupCount) {
        EBMLBlockGroup& group = *at.cluster->blockGroups[static_cast<size_t>(at.groupIndex)];
        at.blockCount = static_cast<int32_t>(group.blocks.size());
        while (at.blockIndex < at.blockCount) {
            EBMLBlock& candidate = *group.blocks[static_cast<size_t>(at.blockIndex)];
            at.blockIndex += 1;
            if (candidate.trackNumber == trackNumber && SplitBlock(cursor.parser.get(), candidate)) {
                return &candidate;
            }
        }
        at.blockIndex = 0;
        at.groupIndex += 1;
    }
    return nullptr;
}

uint32_t KelmMKVDemux::FindSamples(int32_t track)
{
    const EBMLTrackEntry* entry = tracks[static_cast<size_t>(track)].trackEntry;
    _tagMKVReadCursor* found = CursorFor(entry->trackType);
    if (found == nullptr) {
        return kStatusNotImplemented;
    }
    _tagMKVReadCursor& cursor = *found;
    EBMLSegment& segment = *cursor.segment;
    uint32_t trackNumber = entry->trackNumber;

    // The current position: the next block of the track with frames.
    while (cursor.block == nullptr) {
        if (cursor.cluster == nullptr) {
            if (!EnsureClusterCount(cursor, cursor.clusterIndex)) {
                return kStatusEndOfTrack;
            }
            SetCluster(cursor.cluster, segment.clusters[static_cast<size_t>(cursor.clusterIndex)].get());
        } else if (cursor.cluster->IsParsed() && cursor.groupIndex >= cursor.groupCount) {
            // This cluster is done (an empty or cut-off one included): the next.
            if (!AdvanceCluster(cursor, Current(cursor))) {
                return kStatusEndOfTrack;
            }
            if (cursor.clusterIndex > cursor.nextClusterIndex) {
                cursor.nextClusterCount = cursor.clusterCount;
                cursor.nextClusterIndex = cursor.clusterIndex;
                cursor.nextGroupCount = cursor.groupCount;
                cursor.nextBlockIndex = 0;
                cursor.nextGroupIndex = 0;
                cursor.nextBlock = nullptr;
                SetCluster(cursor.nextCluster, cursor.cluster);
            }
        }
        cursor.block = SearchBlock(cursor, Current(cursor), trackNumber);
    }

    // The look-ahead position: the next block of the track after it.
    cursor.nextClusterIndex = cursor.clusterIndex;
    SetCluster(cursor.nextCluster, cursor.cluster);
    cursor.nextGroupIndex = cursor.groupIndex;
    cursor.nextGroupCount = cursor.groupCount;
    cursor.nextBlockCount = cursor.blockCount;
    cursor.nextBlockIndex = cursor.blockIndex;
    while (cursor.nextBlock == nullptr) {
        if (cursor.nextCluster->IsParsed() && cursor.nextGroupIndex >= cursor.nextGroupCount &&
            !AdvanceCluster(cursor, LookAhead(cursor))) {
            return kStatusEndOfTrack;
        }
        cursor.nextBlock = SearchBlock(cursor, LookAhead(cursor), trackNumber);
    }
    return kStatusOk;
}

uint32_t KelmMKVDemux::GetNextMediaSample(int32_t track, unsigned char* dest, int32_t capacity, int32_t& size,
                                          int64_t& start, int64_t& duration, bool& key)
{
    const _tagMKVTrackIndexMeta& record = tracks[static_cast<size_t>(track)];
    const EBMLTrackEntry* entry = record.trackEntry;
    uint64_t trackType = entry->trackType;
    _tagMKVReadCursor* found = CursorFor(trackType);
    if (found == nullptr) {
        return kStatusUnsupported;
    }
    _tagMKVReadCursor& cursor = *found;
    if (cursor.segment == nullptr || !EnsureClusterCount(cursor, cursor.clusterIndex)) {
        return kStatusEndOfTrack;
    }

    if (cursor.block != nullptr && cursor.block->trackNumber != entry->trackNumber) {
        // The shared cursor stands on another track of this media type: that
        // block is dropped and the search goes on for this track.
        cursor.block->DropFrames();
        cursor.block = nullptr;
    }
    if (cursor.block == nullptr || !cursor.block->HasFrames()) {
        cursor.block = nullptr;
        cursor.nextBlock = nullptr;
        FindSamples(track);
        if (cursor.block == nullptr || !cursor.block->HasFrames()) {
            return kStatusEndOfTrack;
        }
    }

    EBMLSegment& segment = *cursor.segment;
    EBMLBlock& block = *cursor.block;
    const EBMLBinary& frame = *block.frames.front();
    int32_t remaining = static_cast<int32_t>(block.frames.size());
    int32_t frameCount = std::max(block.frameCount, remaining);
    int64_t t0 = BlockTime(segment, *cursor.cluster, block);
    if (cursor.nextBlock != nullptr) {
        EBMLCluster& nextCluster = *segment.clusters[static_cast<size_t>(cursor.nextClusterIndex)];
        int64_t t1 = BlockTime(segment, nextCluster, *cursor.nextBlock);
        double step = static_cast<double>(t1 - t0) / frameCount;
        auto end = static_cast<int64_t>(t0 + (frameCount - remaining + 1) * step);
        auto begin = static_cast<int64_t>(t0 + (frameCount - remaining) * step);
        start = begin;
        duration = end - begin;
    } else {
        start = t0;
    }

    uint32_t result = kStatusOk;
    if (IsH264Track(record)) {
        if (!ReconstructH264Sample(size, dest, capacity, &frame)) {
            result = kStatusFail;
        }
    } else if (frame.GetLength() > capacity) {
        // Larger than the host's buffer: not copied.
        result = kStatusFail;
    } else {
        if (frame.GetLength() > 0) {
            std::memcpy(dest, frame.GetData(), static_cast<size_t>(frame.GetLength()));
        }
        size = frame.GetLength();
    }

    if (result == kStatusOk) {
        key = false;
        if (trackType == 1 && cursor.groupIndex < static_cast<int32_t>(cursor.cluster->blockGroups.size())) {
            key = IsKeyFrame(*cursor.cluster->blockGroups[static_cast<size_t>(cursor.groupIndex)], block);
        }
    }

    // The frame is consumed whether or not it could be delivered, so a frame
    // that cannot be delivered is reported once and the next call moves on.
    block.frames.pop();
    if (!block.HasFrames() && cursor.nextBlock != nullptr) {
        SetCluster(cursor.cluster, cursor.nextCluster);
        cursor.block = cursor.nextBlock;
        cursor.nextBlock = nullptr;
        cursor.clusterIndex = cursor.nextClusterIndex;
        cursor.groupCount = cursor.nextGroupCount;
        cursor.groupIndex = cursor.nextGroupIndex;
        cursor.blockIndex = cursor.nextBlockIndex;
        cursor.blockCount = cursor.nextBlockCount;
        FindSamples(track);
    }
    return result;
}
