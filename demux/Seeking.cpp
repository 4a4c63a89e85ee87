// Seeking: places the cursor of a track's media type on a block chosen
// through the Cues (driven by the Segment's master track) or by scanning
// the clusters, and reports the block's time.
#include <algorithm>

#include "KelmMKVDemux.h"
#include "matroska/EBMLSegment.h"

namespace {

// Cue points earlier than the requested time by more than this are not visited.
constexpr int64_t kCueWindow = 30000000;
// A requested time at or above the duration times this is past the end.
constexpr double kEndFactor = 10000.0;
// Enough bytes for any block header: an 8-byte track number, timecode, flags.
constexpr uint32_t kBlockHeaderBytes = 11;

// The past-the-end limit: the duration times the end factor, truncated; a
// limit beyond the 64-bit range is never reached.
int64_t EndLimit(double fileDuration)
{
    double limit = fileDuration * kEndFactor;
    return limit < 9.2e18 ? static_cast<int64_t>(limit) : INT64_MAX;
}

} // namespace

struct KelmMKVDemux::SeekTarget {
    EBMLCluster* cluster = nullptr;
    int32_t groupIndex = 0;
    int32_t blockIndex = 0;
    int32_t blockCount = 0;
};

bool KelmMKVDemux::ReadBlockHeader(CBitStreamParser* parser, EBMLBlock& block)
{
    uint8_t header[kBlockHeaderBytes] = {};
    uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(block.dataSize, kBlockHeaderBytes));
    parser->Seek(block.dataPosition, 0);
    int32_t got = parser->GetBytes(static_cast<int32_t>(wanted), header);
    return got > 0 && block.ParseSimple(header, static_cast<uint32_t>(got));
}

void KelmMKVDemux::PlaceCursor(_tagMKVReadCursor& cursor, const SeekTarget& target)
{
    EBMLSegment& segment = *cursor.segment;
    cursor.block = nullptr;
    cursor.nextBlock = nullptr;
    cursor.groupIndex = target.groupIndex;
    cursor.blockIndex = target.blockIndex;
    cursor.blockCount = target.blockCount;
    cursor.clusterIndex = target.cluster->index;
    cursor.nextClusterIndex = target.cluster->index;
    SetCluster(cursor.cluster, target.cluster);
    SetCluster(cursor.nextCluster, target.cluster);
    target.cluster->ParseBlockData(cursor.parser.get());
    cursor.clusterCount = static_cast<int32_t>(segment.clusters.size());
    cursor.nextClusterCount = cursor.clusterCount;
    cursor.groupCount = static_cast<int32_t>(target.cluster->blockGroups.size());
    cursor.nextGroupCount = cursor.groupCount;
    cursor.nextBlockCount = cursor.blockCount;
    cursor.nextGroupIndex = cursor.groupIndex;
    cursor.nextBlockIndex = cursor.blockIndex;
}

void KelmMKVDemux::PlaceCursorAtEnd(_tagMKVReadCursor& cursor)
{
    EBMLSegment& segment = *cursor.segment;
    segment.ContinueParsing(SIZE_MAX);
    cursor.block = nullptr;
    cursor.nextBlock = nullptr;
    SetCluster(cursor.cluster, nullptr);
    SetCluster(cursor.nextCluster, nullptr);
    cursor.clusterCount = static_cast<int32_t>(segment.clusters.size());
    cursor.nextClusterCount = cursor.clusterCount;
    cursor.clusterIndex = cursor.clusterCount;
    cursor.nextClusterIndex = cursor.clusterCount;
    cursor.groupCount = cursor.groupIndex = cursor.blockCount = cursor.blockIndex = 0;
    cursor.nextGroupCount = cursor.nextGroupIndex = cursor.nextBlockCount = 0;
    cursor.nextBlockIndex = 0;
}

void KelmMKVDemux::FillSeekCache(const _tagMKVReadCursor& cursor, int64_t requested)
{
    _tagMKVSeekCache& cache = *seekCache;
    cache.requestedTime = requested;
    cache.resultTime = requested;
    cache.clusterIndex = cursor.clusterIndex;
    cache.nextClusterIndex = cursor.nextClusterIndex;
    cache.groupCount = cursor.groupCount;
    cache.groupIndex = cursor.groupIndex;
    cache.blockIndex = cursor.blockIndex;
    cache.blockCount = cursor.blockCount;
    cache.nextGroupCount = cursor.nextGroupCount;
    cache.nextBlockCount = cursor.nextBlockCount;
    cache.nextGroupIndex = cursor.nextGroupIndex;
    cache.nextBlockIndex = cursor.nextBlockIndex;
}

void KelmMKVDemux::SeekToStart(_tagMKVReadCursor& cursor)
{
    EBMLSegment& segment = *cursor.segment;
    if (segment.clusters.empty() && !segment.ContinueParsing(1)) {
        PlaceCursorAtEnd(cursor);
        return;
    }
    PlaceCursor(cursor, SeekTarget{segment.clusters.front().get(), 0, 0, 0});
    // The positions of a freshly loaded cursor.
    cursor.nextBlockCount = 0;
    cursor.nextGroupIndex = 0;
    cursor.nextBlockIndex = 1;
}

void KelmMKVDemux::SeekRepeat(_tagMKVReadCursor& cursor)
{
    const _tagMKVSeekCache& cache = *seekCache;
    EBMLSegment& segment = *cursor.segment;
    if (cache.clusterIndex < 0 || !EnsureClusterCount(cursor, cache.clusterIndex)) {
        // The cached position is the end of the track (or not a cluster at all).
        PlaceCursorAtEnd(cursor);
    } else {
        EBMLCluster* cluster = segment.clusters[static_cast<size_t>(cache.clusterIndex)].get();
        PlaceCursor(cursor, SeekTarget{cluster, cache.groupIndex, cache.blockIndex, cache.blockCount});
    }
    int64_t requested = cache.requestedTime;
    FillSeekCache(cursor, requested);
}

bool KelmMKVDemux::SeekWithCues(_tagMKVReadCursor& cursor, int64_t requested, int64_t& result)
{
    EBMLSegment& segment = *cursor.segment;
    const EBMLTrackEntry* master = segment.GetMasterTrack();
    if (master == nullptr) {
        return false;
    }
    CBitStreamParser* parser = cursor.parser.get();
    bool found = false;
    bool chosen = false;
    SeekTarget target;
    int64_t targetTime = requested;

    // Visits the master-track blocks of one cue point's cluster.
    auto visitCluster = [&](EBMLCluster& cluster, uint32_t cueTrack) {
        cluster.ParseBlockData(parser);
        int32_t groupCount = static_cast<int32_t>(cluster.blockGroups.size());
        for (int32_t g = 0; g < groupCount; ++g) {
            EBMLBlockGroup& group = *cluster.blockGroups[static_cast<size_t>(g)];
            int32_t n = static_cast<int32_t>(group.blocks.size());
            if (n == 0) {
                continue;
            }
            EBMLBlock& first = *group.blocks.front();
            for (int32_t b = 0; b < n; ++b) {
                EBMLBlock& candidate = *group.blocks[static_cast<size_t>(b)];
                // Only the group's first block (it gives the time) and the
                // master track's blocks need their headers.
                if ((b > 0 && candidate.trackNumber != cueTrack) || !ReadBlockHeader(parser, candidate)) {
                    continue;
                }
                int64_t t = BlockTime(segment, cluster, first);
                if (t > requested && found) {
                    break;
                }
                if (candidate.trackNumber != cueTrack) {
                    continue;
                }
                found = true;
                if (!chosen || IsKeyFrame(group, candidate)) {
                    EBMLCluster* previous = target.cluster;
                    target = SeekTarget{&cluster, g, b, n};
                    targetTime = t;
                    if (previous != nullptr && previous != &cluster) {
                        ReleaseIfUnused(previous);
                    }
                }
                if (IsKeyFrame(group, candidate)) {
                    chosen = true;
                }
            }
            if (chosen) {
                // Groups are examined until a master key frame is chosen; after
                // that, each later cluster only up to its first group with blocks.
                break;
            }
        }
        if (target.cluster != &cluster) {
            ReleaseIfUnused(&cluster);
        }
    };

    for (const auto& cue : segment.cueList) {
        if (!cue->cuePoints.empty() &&
            segment.GetRefTime(static_cast<int64_t>(cue->cuePoints.back()->cueTime.value)) + kCueWindow < requested) {
            continue;
        }
        for (const auto& point : cue->cuePoints) {
            int64_t p = segment.GetRefTime(static_cast<int64_t>(point->cueTime.value));
            if (p + kCueWindow < requested) {
                continue;
            }
            if (p >= requested && found) {
                break;
            }
            for (const auto& position : point->trackPositions) {
                if (position->cueTrack != master->trackNumber || position->clusterPositions.empty()) {
                    continue;
                }
                uint64_t offset = position->clusterPositions.front()->value;
                if (offset > static_cast<uint64_t>(INT64_MAX - segment.dataPosition)) {
                    continue;
                }
                int64_t key = segment.dataPosition + static_cast<int64_t>(offset);
                auto where = segment.clusterMap.find(key);
                if (where == segment.clusterMap.end() && segment.ContinueParsingTo(key)) {
                    where = segment.clusterMap.find(key);
                }
                if (where == segment.clusterMap.end()) {
                    continue;
                }
                visitCluster(*where->second, position->cueTrack);
                if (chosen) {
                    break;
                }
            }
        }
    }
    if (!found) {
        return false;
    }
    PlaceCursor(cursor, target);
    result = targetTime;
    return true;
}

bool KelmMKVDemux::SeekWithoutCues(_tagMKVReadCursor& cursor, const EBMLTrackEntry& entry, int64_t requested,
                                   int64_t& result)
{
    EBMLSegment& segment = *cursor.segment;
    CBitStreamParser* parser = cursor.parser.get();
    bool wantKey = entry.trackType == 1;

    // Start from the last cluster known to begin at or before the requested
    // time: later blocks of the track cannot lie before it.
    size_t first = 0;
    for (size_t c = 0;; ++c) {
        if (c >= segment.clusters.size() && !segment.ContinueParsing(c + 1)) {
            break;
        }
        EBMLCluster& cluster = *segment.clusters[c];
        cluster.ReadTimecode(parser);
        if (segment.GetRefTime(cluster.timecode) > requested) {
            break;
        }
        first = c;
    }

    for (size_t c = first;; ++c) {
        if (c >= segment.clusters.size() && !segment.ContinueParsing(c + 1)) {
            return false;
        }
        EBMLCluster& cluster = *segment.clusters[c];
        cluster.ParseBlockData(parser);
        int32_t groupCount = static_cast<int32_t>(cluster.blockGroups.size());
        for (int32_t g = 0; g < groupCount; ++g) {
            EBMLBlockGroup& group = *cluster.blockGroups[static_cast<size_t>(g)];
            int32_t n = static_cast<int32_t>(group.blocks.size());
            for (int32_t b = 0; b < n; ++b) {
                EBMLBlock& candidate = *group.blocks[static_cast<size_t>(b)];
                if (candidate.trackNumber != entry.trackNumber || !ReadBlockHeader(parser, candidate)) {
                    continue;
                }
                int64_t t = BlockTime(segment, cluster, candidate);
                if (t > requested && (!wantKey || IsKeyFrame(group, candidate))) {
                    PlaceCursor(cursor, SeekTarget{&cluster, g, b, n});
                    result = t;
                    return true;
                }
            }
        }
        ReleaseIfUnused(&cluster);
    }
}

uint32_t KelmMKVDemux::DemuxSeek(int32_t track, int64_t& time)
{
    const EBMLTrackEntry* entry = tracks[static_cast<size_t>(track)].trackEntry;
    _tagMKVReadCursor* found = CursorFor(entry->trackType);
    if (found == nullptr) {
        return kStatusNotImplemented;
    }
    _tagMKVReadCursor& cursor = *found;
    if (cursor.segment == nullptr) {
        return kStatusOk;
    }
    const int64_t requested = time;
    const double fileDuration = GetFileDuration();

    if (requested == seekCache->requestedTime) {
        SeekRepeat(cursor);
        time = seekCache->resultTime;
    } else if (requested <= 0) {
        SeekToStart(cursor);
        FillSeekCache(cursor, requested);
    } else if (fileDuration > 0.0 && requested >= EndLimit(fileDuration)) {
        PlaceCursorAtEnd(cursor);
        FillSeekCache(cursor, requested);
    } else {
        int64_t result = requested;
        bool placed = (!cursor.segment->cueList.empty() && SeekWithCues(cursor, requested, result)) ||
                      SeekWithoutCues(cursor, *entry, requested, result);
        if (!placed) {
            // Nothing of the track lies after the requested time.
            PlaceCursorAtEnd(cursor);
        }
        FillSeekCache(cursor, requested);
        time = result;
    }
    return kStatusOk;
}
