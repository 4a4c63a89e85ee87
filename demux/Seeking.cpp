// Seeking: places the cursor of a track's media type so that the next
// sample is the track's latest suitable frame at or before the requested
// time (for video a key frame, for audio any frame), and reports that
// frame's start time.
//
// The search starts where the track's own cue points say (the last one at
// or before the request, at the cued block when the cue gives its place),
// else at the last cluster that starts at or before the request: found over
// the clusters known, by bisection over file offsets where none are known,
// and forward from there. From that point block headers are walked forward
// until a frame of the track starts after the request; when nothing
// suitable lies there, back cluster by cluster, helped by the key frames
// earlier walks noted and, for audio, by the last blocks of a cluster read
// from its end. Nothing before the start point is read unless the landing
// needs it.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "KelmMKVDemux.h"
#include "ebml/ElementLoop.h"
#include "matroska/EBMLSegment.h"

namespace {

// A track's last blocks in file order that are timed to find where it ends:
// enough to cover frames reordered for presentation.
constexpr size_t kEndBlocks = 16;
// Bisection probes at most this often before walking cluster by cluster.
constexpr int kMaxProbes = 48;
// Bytes read where a cue says a block lies, to check that one does.
constexpr int32_t kCuedBlockHead = 64;
// The bytes of a cluster read at a time, back from its end, for an audio
// track's latest frame before the next cluster. They pass through the
// shared windows, each filled back from a piece's end (rounded up to 4 KiB),
// so two pieces fit in one window and every other piece is found held.
constexpr int32_t kTailPiece = 30 * 1024;

} // namespace

const CueRef* KelmMKVDemux::LastCueAtOrBefore(const _tagMKVTrackIndexMeta& record, int64_t time)
{
    auto after = std::upper_bound(record.cues.begin(), record.cues.end(), time,
                                  [](int64_t t, const CueRef& cue) { return t < cue.time; });
    return after == record.cues.begin() ? nullptr : &*(after - 1);
}

void KelmMKVDemux::IndexCues(EBMLSegment& segment)
{
    for (const auto& cues : segment.cueList) {
        for (const auto& point : cues->cuePoints) {
            const int64_t time = segment.GetRefTime(
                static_cast<int64_t>(std::min<uint64_t>(point->cueTime.value, static_cast<uint64_t>(INT64_MAX))));
            for (const auto& position : point->trackPositions) {
                _tagMKVTrackIndexMeta* record = TrackByNumber(position->cueTrack);
                if (record == nullptr || position->clusterPositions.empty()) {
                    continue;
                }
                uint64_t offset = position->clusterPositions.front()->value;
                if (offset > static_cast<uint64_t>(INT64_MAX - segment.dataPosition)) {
                    continue;
                }
                CueRef cue{time, segment.dataPosition + static_cast<int64_t>(offset), -1};
                if (position->hasRelativePosition &&
                    position->cueRelativePosition < static_cast<uint64_t>(INT64_MAX / 2)) {
                    cue.block = static_cast<int64_t>(position->cueRelativePosition); // relative until checked
                }
                record->cues.push_back(cue);
            }
        }
    }
    for (_tagMKVTrackIndexMeta& record : tracks) {
        std::stable_sort(record.cues.begin(), record.cues.end(),
                         [](const CueRef& a, const CueRef& b) { return a.time < b.time; });
    }
}

bool KelmMKVDemux::CuedBlock(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment, const CueRef& cue,
                             BlockRef& at)
{
    EBMLCluster* cluster = segment.ClusterAt(cue.cluster);
    if (cluster == nullptr) {
        return false; // the cue points at something that is not a cluster
    }
    at = BlockRef{cluster->index, -1, 0};
    if (cue.block < 0 || cue.block > static_cast<int64_t>(cluster->dataSize)) {
        return true;
    }
    // The cued block, when what lies there is a block of the track at the
    // cue's time followed by another child of the cluster (or its end):
    // otherwise the search starts at the cluster's start.
    const int64_t position = cluster->dataPosition + cue.block;
    CBitStreamParser* stream = segment.WalkStream();
    uint8_t head[kCuedBlockHead];
    EBMLBlock block;
    uint64_t elementSize = 0;
    const int32_t got = stream->ReadAt(position, kCuedBlockHead, head);
    if (!EBMLCluster::BlockHeaderAt(head, got, block, elementSize) ||
        block.trackNumber != record.trackEntry->trackNumber || BlockTime(segment, *cluster, block) != cue.time ||
        elementSize > static_cast<uint64_t>(INT64_MAX - position)) {
        return true;
    }
    const int64_t end = position + static_cast<int64_t>(elementSize);
    if (end != cluster->DeclaredEnd()) {
        stream->Seek(end, ZOLVDMX_SEEK_SET);
        const uint32_t next = EBML::PeekID(stream);
        if (next != kIdSimpleBlock && next != kIdBlockGroup && !IsGlobalElement(next) && next != kIdCluster &&
            next != kIdCues) {
            return true;
        }
    }
    at.group = position;
    return true;
}

EBMLCluster* KelmMKVDemux::LastClusterAtOrBefore(EBMLSegment& segment, EBMLCluster* from, int64_t requested)
{
    EBMLCluster* first = segment.FirstCluster();
    if (first == nullptr) {
        return nullptr;
    }
    auto timeOf = [&](const EBMLCluster& cluster) { return segment.GetRefTime(static_cast<int64_t>(cluster.timecode)); };
    EBMLCluster* lo = from != nullptr && timeOf(*from) <= requested ? from : first;
    if (timeOf(*lo) > requested) {
        return lo; // the request lies before every cluster
    }
    // The clusters known around the request bound the search.
    EBMLCluster* hi = nullptr;
    segment.KnownAround(requested, lo, hi);
    int64_t limit = hi != nullptr ? hi->elementPosition : segment.DataEnd();
    // A duration the time scale cannot hold gives no estimate: bisect.
    const double duration = GetFileDuration();
    const bool durationUsable = std::fabs(duration) < 9.0e18;
    int64_t lastSpan = INT64_MAX;
    for (int probes = 0; probes < kMaxProbes; ++probes) {
        EBMLCluster* next = lo->next;
        const int64_t low = lo->DeclaredEnd();
        const int64_t span = limit - low;
        // Where the request lies if the bit rate is even (the middle when
        // the last probes did not halve the span).
        const int64_t loTime = timeOf(*lo);
        const int64_t hiTime = hi != nullptr ? timeOf(*hi) : durationUsable ? static_cast<int64_t>(duration) : loTime;
        int64_t estimate = low + span / 2;
        if (hiTime > loTime && 2 * span < lastSpan) {
            double share = static_cast<double>(requested - loTime) / static_cast<double>(hiTime - loTime);
            estimate = low + static_cast<int64_t>(static_cast<double>(span) * std::min(std::max(share, 0.0), 1.0));
        }
        lastSpan = span;
        // Near the cluster known: the next one, found by its neighbour.
        const int64_t near = 2 * std::max<int64_t>(static_cast<int64_t>(std::min<uint64_t>(lo->dataSize, 1 << 26)), 65536);
        // A source whose end is not known yet is walked, not bisected.
        if (next != nullptr || span <= near || estimate - low <= near || limit == INT64_MAX) {
            next = segment.NextCluster(*lo);
            if (next == nullptr || timeOf(*next) > requested) {
                return lo;
            }
            lo = next;
            continue;
        }
        EBMLCluster* found = segment.ClusterFrom(estimate, limit);
        if (found == nullptr || found->elementPosition >= limit) {
            limit = estimate; // no cluster starts between the estimate and the limit
            continue;
        }
        if (timeOf(*found) <= requested) {
            lo = found;
        } else {
            // No cluster starts between the estimate and the one found, and
            // those after start later still: what is wanted lies before.
            hi = found;
            limit = estimate;
        }
    }
    for (EBMLCluster* next = segment.NextCluster(*lo); next != nullptr && timeOf(*next) <= requested;
         next = segment.NextCluster(*lo)) {
        lo = next;
    }
    return lo;
}

BlockRef KelmMKVDemux::StartPoint(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment, int64_t requested)
{
    BlockRef at;
    if (const CueRef* cue = LastCueAtOrBefore(record, requested)) {
        if (CuedBlock(record, segment, *cue, at)) {
            return at;
        }
    }
    // Without a usable cue point of its own, the track starts from the last
    // cluster at or before the request; the master track's cue point tells
    // where to look from.
    EBMLCluster* from = nullptr;
    const EBMLTrackEntry* master = segment.GetMasterTrack();
    if (master != nullptr && master != record.trackEntry) {
        if (const _tagMKVTrackIndexMeta* masterRecord = TrackByNumber(master->trackNumber)) {
            if (const CueRef* cue = LastCueAtOrBefore(*masterRecord, requested)) {
                from = segment.ClusterAt(cue->cluster);
            }
        }
    }
    EBMLCluster* start = LastClusterAtOrBefore(segment, from, requested);
    return BlockRef{start != nullptr ? start->index : -1, -1, 0};
}

const KeyFrameRef* KelmMKVDemux::LatestKeyFrameIn(const _tagMKVTrackIndexMeta& record, int32_t cluster,
                                                  int64_t requested)
{
    auto noted = record.keyFrames.find(cluster);
    if (noted == record.keyFrames.end()) {
        return nullptr;
    }
    const KeyFrameRef* latest = nullptr;
    for (const KeyFrameRef& key : noted->second.keyFrames) {
        if (key.time <= requested && (latest == nullptr || key.time >= latest->time)) {
            latest = &key;
        }
    }
    return latest;
}

KelmMKVDemux::ForwardSearch KelmMKVDemux::SearchForward(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment,
                                                        CBitStreamParser* parser, BlockRef start, int64_t requested)
{
    ForwardSearch search;
    const uint32_t trackNumber = record.trackEntry->trackNumber;
    const bool keyFramesOnly = record.trackEntry->trackType.value == kTrackTypeVideo;
    auto offer = [&](const BlockRef& ref, int64_t t) {
        if (!search.haveBest || t >= search.bestTime) {
            search.best = ref;
            search.bestTime = t;
            search.haveBest = true;
        }
    };
    // Frames decoded later start later too, key frames included: the walk
    // ends at the first frame of the track that starts after the request.
    auto visit = [&](BlockRef ref, EBMLCluster& cluster, EBMLBlockGroup& group, EBMLBlock& block) {
        if (block.trackNumber != trackNumber) {
            return true;
        }
        const bool suitable = !keyFramesOnly || IsKeyFrame(group, block);
        int64_t t = BlockTime(segment, cluster, block);
        if (t > requested) {
            search.startsAfter = true;
            search.stoppedAt = ref;
            search.firstAfterSuitable = suitable;
            return false;
        }
        if (suitable) {
            offer(ref, t);
        }
        return true;
    };
    if (start.cluster < 0) {
        return search;
    }
    EBMLCluster* cluster = segment.clusters[static_cast<size_t>(start.cluster)].get();
    int64_t from = start.group;
    // A cluster walked before, whose key frames are all noted and whose last
    // block starts after the request: its latest key frame at or before the
    // request is the landing, nothing is read.
    auto startNoted = record.keyFrames.find(cluster->index);
    auto startLast = record.lastBlocks.find(cluster->index);
    if (keyFramesOnly && startNoted != record.keyFrames.end() && startNoted->second.complete &&
        startLast != record.lastBlocks.end() && startLast->second.time > requested) {
        if (const KeyFrameRef* key = LatestKeyFrameIn(record, cluster->index, requested)) {
            offer(key->at, key->time);
            search.startsAfter = true;
            search.stoppedAt = startLast->second.at;
            return search;
        }
    }
    while (cluster != nullptr) {
        EBMLCluster* next = nullptr;
        // A cluster whose key frames are all noted, followed by one that
        // starts at or before the request, needs no walk for video.
        auto noted = record.keyFrames.find(cluster->index);
        if (keyFramesOnly && from < 0 && noted != record.keyFrames.end() && noted->second.complete &&
            (next = segment.NextCluster(*cluster)) != nullptr &&
            segment.GetRefTime(static_cast<int64_t>(next->timecode)) <= requested) {
            if (const KeyFrameRef* key = LatestKeyFrameIn(record, cluster->index, requested)) {
                offer(key->at, key->time);
            }
            cluster = next;
            continue;
        }
        if (!WalkCluster(segment, parser, *cluster, from, 0, visit)) {
            return search;
        }
        next = segment.NextCluster(*cluster);
        cluster = next;
        from = -1;
    }
    return search;
}

bool KelmMKVDemux::SearchClusterTail(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment,
                                     CBitStreamParser* parser, EBMLCluster& cluster, int64_t requested,
                                     BlockRef& found)
{
    // Only when the cluster's end is certain: its size is declared and the
    // next cluster starts there.
    const EBMLCluster* next = cluster.next;
    if (cluster.IsListed() || next == nullptr || next->elementPosition != cluster.DeclaredEnd()) {
        return false;
    }
    std::vector<uint32_t> trackNumbers;
    for (const _tagMKVTrackIndexMeta& track : tracks) {
        trackNumbers.push_back(track.trackEntry->trackNumber);
    }
    const uint32_t trackNumber = record.trackEntry->trackNumber;
    ClusterTailScan& scan = tailScan;
    scan.Start(trackNumbers, [&](const EBMLBlock& block) {
        return block.trackNumber == trackNumber && BlockTime(segment, cluster, block) <= requested;
    });
    // Back from the end a piece at a time, through the shared windows (so
    // that listing from the block found reads nothing again), until a block
    // of the track at or before the request is found, or the cluster's start.
    int64_t from = cluster.DeclaredEnd();
    while (scan.Found() < 0 && from > cluster.dataPosition) {
        const auto piece = static_cast<int32_t>(std::min<int64_t>(kTailPiece, from - cluster.dataPosition));
        from -= piece;
        tailBytes.resize(static_cast<size_t>(piece));
        if (parser->ReadBefore(from, piece, tailBytes.data()) != piece) {
            return false;
        }
        scan.Prepend(tailBytes.data(), piece);
    }
    if (scan.Found() < 0) {
        return false;
    }
    bool have = false;
    WalkCluster(segment, parser, cluster, from + scan.Found(), 0,
                [&](BlockRef ref, EBMLCluster& c, EBMLBlockGroup&, EBMLBlock& block) {
                    if (block.trackNumber == trackNumber && BlockTime(segment, c, block) <= requested) {
                        found = ref;
                        have = true;
                    }
                    return true;
                });
    return have;
}

void KelmMKVDemux::LearnCuedClusterBefore(EBMLSegment& segment, const EBMLCluster& cluster)
{
    // The cluster of the nearest cue point before this cluster becomes
    // known: the clusters between are then found forward from it, which
    // costs a header each, rather than by searching the bytes back.
    const int64_t time = segment.GetRefTime(static_cast<int64_t>(cluster.timecode));
    int64_t nearest = -1;
    for (const _tagMKVTrackIndexMeta& record : tracks) {
        auto after = std::lower_bound(record.cues.begin(), record.cues.end(), time,
                                      [](const CueRef& cue, int64_t t) { return cue.time < t; });
        for (int steps = 0; after != record.cues.begin() && steps < 8; ++steps) {
            --after;
            if (after->cluster < cluster.elementPosition) {
                nearest = std::max(nearest, after->cluster);
                break;
            }
        }
    }
    if (nearest >= 0) {
        segment.ClusterAt(nearest);
    }
}

KelmMKVDemux::BackwardSearch KelmMKVDemux::SearchBackward(const _tagMKVTrackIndexMeta& record,
                                                          EBMLSegment& segment, CBitStreamParser* parser,
                                                          EBMLCluster* before, int64_t requested)
{
    BackwardSearch search;
    const uint32_t trackNumber = record.trackEntry->trackNumber;
    const bool keyFramesOnly = record.trackEntry->trackType.value == kTrackTypeVideo;
    if (before != nullptr && before->previous == nullptr) {
        LearnCuedClusterBefore(segment, *before);
    }
    for (EBMLCluster* cluster = before != nullptr ? segment.PreviousCluster(*before) : nullptr;
         cluster != nullptr && !search.haveBest; cluster = segment.PreviousCluster(*cluster)) {
        auto noted = record.keyFrames.find(cluster->index);
        if (keyFramesOnly && noted != record.keyFrames.end() && noted->second.complete) {
            if (const KeyFrameRef* key = LatestKeyFrameIn(record, cluster->index, requested)) {
                search.best = key->at;
                search.haveBest = true;
            } else if (!noted->second.keyFrames.empty()) {
                search.earliest = noted->second.keyFrames.front().at;
                search.haveEarliest = true;
            }
            continue;
        }
        // Audio lands on its latest frame: the cluster's last block of the
        // track when it is noted and early enough, else one of its last
        // blocks, which are read from the cluster's end.
        auto last = record.lastBlocks.find(cluster->index);
        if (!keyFramesOnly && last != record.lastBlocks.end() && last->second.time <= requested) {
            search.best = last->second.at;
            search.haveBest = true;
            break;
        }
        if (!keyFramesOnly && SearchClusterTail(record, segment, parser, *cluster, requested, search.best)) {
            search.haveBest = true;
            break;
        }
        int64_t bestTime = 0;
        bool earliestHere = false;
        WalkCluster(segment, parser, *cluster, -1, 0, [&](BlockRef ref, EBMLCluster& c, EBMLBlockGroup& group,
                                                          EBMLBlock& block) {
            if (block.trackNumber != trackNumber || (keyFramesOnly && !IsKeyFrame(group, block))) {
                return true;
            }
            int64_t t = BlockTime(segment, c, block);
            if (t <= requested && (!search.haveBest || t >= bestTime)) {
                search.best = ref;
                bestTime = t;
                search.haveBest = true;
            } else if (t > requested && !earliestHere) {
                search.earliest = ref;
                earliestHere = true;
                search.haveEarliest = true;
            }
            return true;
        });
    }
    return search;
}

int64_t KelmMKVDemux::TrackEnd(_tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor, EBMLCluster* from)
{
    if (record.endKnown) {
        return record.endTime;
    }
    EBMLSegment& segment = *cursor.segment;
    CBitStreamParser* parser = cursor.parser;
    // The track's last blocks in file order, from the last cluster back.
    EBMLCluster* last = from;
    for (EBMLCluster* next = last != nullptr ? segment.NextCluster(*last) : nullptr; next != nullptr;
         next = segment.NextCluster(*last)) {
        last = next;
    }
    const uint32_t trackNumber = record.trackEntry->trackNumber;
    std::vector<BlockRef> lastBlocks;
    for (EBMLCluster* cluster = last; cluster != nullptr && lastBlocks.size() < kEndBlocks;
         cluster = segment.PreviousCluster(*cluster)) {
        std::vector<BlockRef> inCluster;
        WalkCluster(segment, parser, *cluster, -1, 0, [&](BlockRef ref, EBMLCluster&, EBMLBlockGroup&, EBMLBlock& block) {
            if (block.trackNumber == trackNumber) {
                inCluster.push_back(ref);
            }
            return true;
        });
        lastBlocks.insert(lastBlocks.begin(), inCluster.begin(), inCluster.end());
    }
    if (lastBlocks.size() > kEndBlocks) {
        lastBlocks.erase(lastBlocks.begin(), lastBlocks.end() - static_cast<std::ptrdiff_t>(kEndBlocks));
    }
    // Each block is timed as delivery would time it; a block's end is the
    // end of its last frame.
    int64_t end = INT64_MIN;
    int64_t previous = 0;
    std::vector<int64_t> earlier;
    for (BlockRef ref : lastBlocks) {
        FrameTiming timing = TimeFrames(record, segment, parser, ref, earlier, previous);
        earlier.push_back(timing.time);
        Located located;
        BlockRef at = ref;
        if (!SettleOnBlock(segment, parser, at, &located)) {
            continue;
        }
        int32_t frames = std::max(located.block->frameCount, 1);
        int64_t blockEnd = timing.Start(frames);
        previous = blockEnd - timing.Start(frames - 1);
        end = std::max(end, blockEnd);
    }
    record.endKnown = !lastBlocks.empty();
    record.endTime = end;
    return end;
}

KelmMKVDemux::Landing KelmMKVDemux::FindLanding(int32_t track, _tagMKVReadCursor& cursor, int64_t requested)
{
    _tagMKVTrackIndexMeta& record = tracks[static_cast<size_t>(track)];
    EBMLSegment& segment = *cursor.segment;
    CBitStreamParser* parser = cursor.parser;
    Landing landing;

    const BlockRef start = StartPoint(record, segment, requested);
    ForwardSearch forward = SearchForward(record, segment, parser, start, requested);
    EBMLCluster* startCluster = start.cluster >= 0 ? segment.clusters[static_cast<size_t>(start.cluster)].get() : nullptr;
    if (!forward.startsAfter) {
        // No frame of the track starts after the request: past the end of
        // its last frame, the track is left at its end.
        if (requested >= TrackEnd(record, cursor, startCluster) || !record.endKnown) {
            landing.atEnd = true;
            return landing;
        }
    }
    if (forward.haveBest) {
        landing.at = forward.best;
        return landing;
    }
    // Nothing suitable at or before the request from the start point on:
    // what lies before it in its cluster, then back cluster by cluster.
    if (startCluster != nullptr && start.group >= 0) {
        ForwardSearch inCluster = SearchForward(record, segment, parser, BlockRef{start.cluster, -1, 0}, requested);
        if (inCluster.haveBest) {
            landing.at = inCluster.best;
            return landing;
        }
    }
    BackwardSearch backward = SearchBackward(record, segment, parser, startCluster, requested);
    if (backward.haveBest) {
        landing.at = backward.best;
        return landing;
    }
    if (backward.haveEarliest) {
        landing.at = backward.earliest;
        return landing;
    }
    if (forward.startsAfter && forward.firstAfterSuitable) {
        landing.at = forward.stoppedAt;
        return landing;
    }
    // Nothing suitable anywhere before: the first suitable block from where
    // the forward walk stopped.
    const uint32_t trackNumber = record.trackEntry->trackNumber;
    const bool keyFramesOnly = record.trackEntry->trackType.value == kTrackTypeVideo;
    bool found = forward.startsAfter &&
                 WalkBlocks(segment, parser, forward.stoppedAt,
                            [&](BlockRef ref, EBMLCluster&, EBMLBlockGroup& group, EBMLBlock& block) {
                                if (block.trackNumber != trackNumber || (keyFramesOnly && !IsKeyFrame(group, block))) {
                                    return true;
                                }
                                landing.at = ref;
                                return false;
                            });
    landing.atEnd = !found;
    return landing;
}

void KelmMKVDemux::PlaceCursor(_tagMKVReadCursor& cursor, BlockRef at)
{
    cursor.block = nullptr;
    cursor.group = nullptr;
    cursor.nextCluster = nullptr;
    cursor.nextBlock = nullptr;
    cursor.ended = false;
    cursor.clusterIndex = at.cluster;
    cursor.groupPosition = at.group;
    cursor.blockIndex = at.block;
    cursor.cluster = at.cluster >= 0 && static_cast<size_t>(at.cluster) < cursor.segment->clusters.size()
                         ? cursor.segment->clusters[static_cast<size_t>(at.cluster)].get()
                         : nullptr;
}

void KelmMKVDemux::PlaceCursorAtEnd(_tagMKVReadCursor& cursor, bool keepPosition)
{
    if (cursor.block != nullptr) {
        cursor.block->DropFrames();
    }
    cursor.block = nullptr;
    cursor.group = nullptr;
    cursor.cluster = nullptr;
    cursor.nextCluster = nullptr;
    cursor.nextBlock = nullptr;
    cursor.ended = true;
    if (keepPosition || cursor.segment == nullptr) {
        return;
    }
    // After the last cluster known: what a growing file adds comes next.
    EBMLCluster* last = cursor.clusterIndex >= 0 && static_cast<size_t>(cursor.clusterIndex) < cursor.segment->clusters.size()
                            ? cursor.segment->clusters[static_cast<size_t>(cursor.clusterIndex)].get()
                            : cursor.segment->FirstCluster();
    while (last != nullptr && last->next != nullptr) {
        last = last->next;
    }
    cursor.clusterIndex = last != nullptr ? last->index : -1;
    cursor.groupPosition = last != nullptr ? last->DeclaredEnd() : -1;
    cursor.blockIndex = 0;
}

bool KelmMKVDemux::SegmentMayGrow(const EBMLSegment& segment) const
{
    const HostSource& source = *matroska.source;
    return !source.LengthKnown() || !segment.sizeKnown || source.Length() < segment.DeclaredEnd();
}

bool KelmMKVDemux::RefreshSource(EBMLSegment& segment)
{
    if (!SegmentMayGrow(segment) || !matroska.source->Refresh()) {
        return false;
    }
    // Clusters that stopped at the old end hold more now: their key frames
    // are not all noted, and where each track ends is to be worked out again.
    for (const auto& cluster : segment.clusters) {
        if (cluster->ListingCut() || cluster->endsWithSource || cluster->next == nullptr) {
            for (_tagMKVTrackIndexMeta& record : tracks) {
                auto noted = record.keyFrames.find(cluster->index);
                if (noted != record.keyFrames.end()) {
                    noted->second.complete = false;
                }
                record.lastBlocks.erase(cluster->index);
            }
        }
    }
    for (_tagMKVTrackIndexMeta& record : tracks) {
        record.endKnown = false;
    }
    segment.SourceGrew();
    return true;
}

KelmMKVDemux::Landing KelmMKVDemux::FirstFrameOf(const _tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor)
{
    Landing landing;
    const uint32_t trackNumber = record.trackEntry->trackNumber;
    EBMLSegment& segment = *cursor.segment;
    EBMLCluster* first = segment.FirstCluster();
    landing.atEnd = first == nullptr ||
                    !WalkBlocks(segment, cursor.parser, BlockRef{first->index, -1, 0},
                                [&](BlockRef ref, EBMLCluster&, EBMLBlockGroup&, EBMLBlock& block) {
                                    if (block.trackNumber != trackNumber) {
                                        return true;
                                    }
                                    landing.at = ref;
                                    return false;
                                });
    return landing;
}

int64_t KelmMKVDemux::Land(_tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor, Landing& landing,
                           int64_t requested, int32_t& passedOver)
{
    EBMLSegment& segment = *cursor.segment;
    if (cursor.block != nullptr) {
        cursor.block->DropFrames();
    }
    cursor.block = nullptr;
    cursor.group = nullptr;
    record.lastFrameDuration = 0;
    record.recentBlockTimes.clear();
    Located located;
    if (landing.atEnd || !SettleOnBlock(segment, cursor.parser, landing.at, &located)) {
        landing.atEnd = true;
        PlaceCursorAtEnd(cursor);
        return requested;
    }
    const int32_t frames = located.block->frameCount;
    const FrameTiming timing = TimeFrames(record, segment, cursor.parser, landing.at, {}, 0);
    // Laced frames of an audio track: the latest that starts at or before
    // the request (a repeated seek passes over as many as the first did).
    const bool keyFramesOnly = record.trackEntry->trackType.value == kTrackTypeVideo;
    if (passedOver < 0) {
        passedOver = 0;
        while (!keyFramesOnly && requested > 0 && passedOver + 1 < frames &&
               timing.Start(passedOver + 1) <= requested) {
            passedOver += 1;
        }
    }
    PlaceCursor(cursor, landing.at);
    cursor.landing = landing.at;
    cursor.skipFrames = passedOver;
    return timing.Start(passedOver);
}

uint32_t KelmMKVDemux::DemuxSeek(int32_t track, int64_t& time)
{
    _tagMKVTrackIndexMeta& record = tracks[static_cast<size_t>(track)];
    _tagMKVReadCursor* found = CursorFor(record.trackEntry->trackType);
    if (found == nullptr) {
        return ZOLVDMX_E_NOTIMPL;
    }
    _tagMKVReadCursor& cursor = *found;
    if (cursor.segment == nullptr) {
        return ZOLVDMX_OK;
    }
    const int64_t requested = time;
    _tagMKVSeekCache& cache = *seekCache;
    const bool repeat = cache.valid && cache.track == track && cache.requestedTime == requested;

    // Where: the same again, the track's first frame, or the search.
    Landing landing;
    int32_t passedOver = -1;
    if (repeat) {
        landing.atEnd = cache.atEnd;
        landing.at = cache.at;
        passedOver = cache.frameIndex;
    } else if (requested <= 0) {
        landing = FirstFrameOf(record, cursor);
    } else {
        landing = FindLanding(track, cursor, requested);
    }
    time = Land(record, cursor, landing, requested, passedOver);

    cache.valid = true;
    cache.track = track;
    cache.requestedTime = requested;
    cache.resultTime = time;
    cache.atEnd = landing.atEnd;
    cache.at = landing.at;
    cache.frameIndex = landing.atEnd ? 0 : passedOver;
    NotePendingRead(cursor);
    return ZOLVDMX_OK;
}
