// Seeking: places the cursor of a track's media type so that the next
// sample is the track's latest suitable frame at or before the requested
// time (for video a key frame, for audio any frame), and reports that
// frame's start time.
//
// The search starts at a cluster found through the Cues (the last cue point
// of the master track at or before the request) or, without them, through
// the cluster timecodes, and walks block headers forward until a frame of
// the track starts after the request; when nothing suitable lies at or
// after that cluster it looks back cluster by cluster, helped by the key
// frames noted while listing clusters.
#include <algorithm>

#include "KelmMKVDemux.h"
#include "matroska/EBMLSegment.h"

namespace {

// A track's last blocks in file order that are timed to find where it ends:
// enough to cover frames reordered for presentation.
constexpr size_t kEndBlocks = 16;

} // namespace

struct KelmMKVDemux::Landing {
    bool atEnd = false;
    BlockRef at;
};

int32_t KelmMKVDemux::StartCluster(const _tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor, int64_t requested)
{
    EBMLSegment& segment = *cursor.segment;
    CBitStreamParser* parser = cursor.parser;
    const EBMLTrackEntry* master = segment.GetMasterTrack();
    int32_t start = -1;

    // The last cue point of the master track at or before the request.
    if (master != nullptr) {
        bool found = false;
        int64_t cueTime = 0;
        int64_t key = 0;
        for (const auto& cue : segment.cueList) {
            for (const auto& point : cue->cuePoints) {
                int64_t p = segment.GetRefTime(static_cast<int64_t>(point->cueTime.value));
                if (p > requested || (found && p < cueTime)) {
                    continue;
                }
                for (const auto& position : point->trackPositions) {
                    if (position->cueTrack != master->trackNumber || position->clusterPositions.empty()) {
                        continue;
                    }
                    uint64_t offset = position->clusterPositions.front()->value;
                    if (offset > static_cast<uint64_t>(INT64_MAX - segment.dataPosition)) {
                        continue;
                    }
                    found = true;
                    cueTime = p;
                    key = segment.dataPosition + static_cast<int64_t>(offset);
                    break;
                }
            }
        }
        if (found) {
            auto where = segment.clusterMap.find(key);
            if (where == segment.clusterMap.end() && segment.ContinueParsingTo(key)) {
                where = segment.clusterMap.find(key);
            }
            if (where != segment.clusterMap.end()) {
                start = where->second->index;
            }
        }
    }

    // Without a usable cue point, the last cluster that starts at or before
    // the request. A track other than the master starts from the last such
    // cluster at or after the cue point's: its frames need no key frame.
    if (start < 0 || record.trackEntry != master) {
        int32_t from = std::max(start, 0);
        start = from;
        for (int32_t c = from; EnsureCluster(segment, c); ++c) {
            EBMLCluster& cluster = *segment.clusters[static_cast<size_t>(c)];
            cluster.ReadTimecode(parser);
            if (segment.GetRefTime(cluster.timecode) > requested) {
                break;
            }
            start = c;
        }
    }
    return start;
}

bool KelmMKVDemux::LatestKeyFrameIn(const _tagMKVTrackIndexMeta& record, int32_t cluster, int64_t requested,
                                    KeyFrameRef& found) const
{
    const std::vector<KeyFrameRef>& known = record.keyFrames;
    auto after = std::upper_bound(known.begin(), known.end(), requested,
                                  [](int64_t time, const KeyFrameRef& key) { return time < key.time; });
    for (auto it = after; it != known.begin();) {
        --it;
        if (it->at.cluster == cluster) {
            found = *it;
            return true;
        }
        if (it->at.cluster < cluster) {
            return false;
        }
    }
    return false;
}

int64_t KelmMKVDemux::TrackEnd(const _tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor,
                               const std::vector<BlockRef>& lastBlocks)
{
    // Each block is timed as delivery would time it; a block's end is the
    // end of its last frame.
    EBMLSegment& segment = *cursor.segment;
    int64_t end = INT64_MIN;
    int64_t previous = 0;
    std::vector<int64_t> earlier;
    for (BlockRef ref : lastBlocks) {
        FrameTiming timing = TimeFrames(record, segment, cursor.parser, ref, earlier, previous);
        earlier.push_back(timing.time);
        BlockRef at = ref;
        if (!SettleOnBlock(segment, cursor.parser, at)) {
            continue;
        }
        const EBMLCluster& cluster = *segment.clusters[static_cast<size_t>(at.cluster)];
        int32_t frames = std::max(
            cluster.blockGroups[static_cast<size_t>(at.group)]->blocks[static_cast<size_t>(at.block)]->frameCount, 1);
        int64_t blockEnd = timing.Start(frames);
        previous = blockEnd - timing.Start(frames - 1);
        end = std::max(end, blockEnd);
    }
    return end;
}

KelmMKVDemux::Landing KelmMKVDemux::FindLanding(int32_t track, _tagMKVReadCursor& cursor, int64_t requested)
{
    const _tagMKVTrackIndexMeta& record = tracks[static_cast<size_t>(track)];
    EBMLSegment& segment = *cursor.segment;
    CBitStreamParser* parser = cursor.parser;
    const uint32_t trackNumber = record.trackEntry->trackNumber;
    // Video lands on key frames; every frame of any other track will do.
    const bool keyFramesOnly = record.trackEntry->trackType.value == kTrackTypeVideo;
    auto suitable = [&](const EBMLBlockGroup& group, const EBMLBlock& block) {
        return !keyFramesOnly || IsKeyFrame(group, block);
    };

    Landing landing;
    bool haveBest = false;
    int64_t bestTime = 0;
    bool haveFirst = false; // the earliest suitable block met after the request
    BlockRef first;
    bool startsAfter = false;
    BlockRef stoppedAt;
    int32_t lastCluster = -1;

    // Forward from the start cluster, until a frame of the track starts after
    // the request: frames decoded later start later too, key frames included.
    const int32_t start = StartCluster(record, cursor, requested);
    auto visit = [&](BlockRef ref, EBMLCluster& cluster, EBMLBlockGroup& group, EBMLBlock& block) {
        if (ref.cluster != lastCluster) {
            // Clusters walked past are not kept listed.
            ReleaseIdleClusters(&cluster);
            lastCluster = ref.cluster;
        }
        if (block.trackNumber != trackNumber) {
            return true;
        }
        int64_t t = BlockTime(segment, cluster, block);
        if (t > requested) {
            startsAfter = true;
            stoppedAt = ref;
            if (suitable(group, block)) {
                first = ref;
                haveFirst = true;
            }
            return false;
        }
        if (suitable(group, block) && (!haveBest || t >= bestTime)) {
            landing.at = ref;
            bestTime = t;
            haveBest = true;
        }
        return true;
    };
    bool ended = false;
    for (int32_t c = start;; ++c) {
        if (!EnsureCluster(segment, c)) {
            ended = true;
            break;
        }
        // A cluster whose key frames are all noted, followed by one that
        // starts at or before the request, needs no listing for video.
        EBMLCluster& cluster = *segment.clusters[static_cast<size_t>(c)];
        if (keyFramesOnly && cluster.keyFramesNoted && EnsureCluster(segment, c + 1)) {
            EBMLCluster& following = *segment.clusters[static_cast<size_t>(c) + 1];
            following.ReadTimecode(parser);
            KeyFrameRef known;
            if (segment.GetRefTime(following.timecode) <= requested) {
                if (LatestKeyFrameIn(record, c, requested, known) && (!haveBest || known.time >= bestTime)) {
                    landing.at = known.at;
                    bestTime = known.time;
                    haveBest = true;
                }
                continue;
            }
        }
        bool stopped = WalkBlocks(segment, parser, BlockRef{c, 0, 0},
                                  [&](BlockRef ref, EBMLCluster& walked, EBMLBlockGroup& group, EBMLBlock& block) {
                                      return ref.cluster == c && visit(ref, walked, group, block);
                                  });
        if (!stopped) {
            ended = true;
            break;
        }
        if (startsAfter) {
            break;
        }
    }

    if (ended && !startsAfter) {
        // No frame of the track starts after the request: past the end of
        // its last frame, the track is left at its end. The track's last
        // blocks, in file order, from the last clusters back.
        std::vector<BlockRef> lastBlocks;
        for (int32_t c = static_cast<int32_t>(segment.clusters.size()) - 1; c >= 0 && lastBlocks.size() < kEndBlocks;
             --c) {
            std::vector<BlockRef> inCluster;
            WalkBlocks(segment, parser, BlockRef{c, 0, 0},
                       [&](BlockRef ref, EBMLCluster& walked, EBMLBlockGroup&, EBMLBlock& block) {
                           if (ref.cluster != c) {
                               return false;
                           }
                           if (block.trackNumber == trackNumber) {
                               inCluster.push_back(ref);
                           }
                           ReleaseIdleClusters(&walked);
                           return true;
                       });
            lastBlocks.insert(lastBlocks.begin(), inCluster.begin(), inCluster.end());
        }
        if (lastBlocks.size() > kEndBlocks) {
            lastBlocks.erase(lastBlocks.begin(), lastBlocks.end() - kEndBlocks);
        }
        if (lastBlocks.empty() || requested >= TrackEnd(record, cursor, lastBlocks)) {
            landing.atEnd = true;
            return landing;
        }
    }
    if (haveBest) {
        return landing;
    }

    // Nothing suitable at or before the request from the start cluster on:
    // back, cluster by cluster. A cluster whose key frames are all noted
    // needs no listing.
    bool haveEarlier = false;
    BlockRef earliest;
    for (int32_t c = start - 1; c >= 0 && !haveBest; --c) {
        EBMLCluster& cluster = *segment.clusters[static_cast<size_t>(c)];
        KeyFrameRef known;
        if (keyFramesOnly && cluster.keyFramesNoted) {
            if (LatestKeyFrameIn(record, c, requested, known)) {
                landing.at = known.at;
                haveBest = true;
            }
            continue;
        }
        bool earliestHere = false;
        WalkBlocks(segment, parser, BlockRef{c, 0, 0},
                   [&](BlockRef ref, EBMLCluster& walked, EBMLBlockGroup& group, EBMLBlock& block) {
                       if (ref.cluster != c) {
                           return false;
                       }
                       if (block.trackNumber != trackNumber || !suitable(group, block)) {
                           return true;
                       }
                       int64_t t = BlockTime(segment, walked, block);
                       if (t <= requested && (!haveBest || t >= bestTime)) {
                           landing.at = ref;
                           bestTime = t;
                           haveBest = true;
                       } else if (t > requested && !earliestHere) {
                           earliest = ref;
                           earliestHere = true;
                           haveEarlier = true;
                       }
                       return true;
                   });
        ReleaseIdleClusters();
    }
    if (haveBest) {
        return landing;
    }
    if (haveEarlier) {
        landing.at = earliest;
        return landing;
    }
    if (haveFirst) {
        landing.at = first;
        return landing;
    }

    // Nothing suitable anywhere before: the first suitable block after the
    // point where the forward walk stopped.
    bool found = startsAfter && WalkBlocks(segment, parser, stoppedAt,
                                           [&](BlockRef ref, EBMLCluster&, EBMLBlockGroup& group, EBMLBlock& block) {
                                               if (ref.cluster != lastCluster) {
                                                   ReleaseIdleClusters(&*segment.clusters[static_cast<size_t>(ref.cluster)]);
                                                   lastCluster = ref.cluster;
                                               }
                                               if (block.trackNumber != trackNumber || !suitable(group, block)) {
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
    cursor.ended = false;
    cursor.clusterIndex = at.cluster;
    cursor.groupIndex = at.group;
    cursor.blockIndex = at.block;
    cursor.cluster = EnsureCluster(*cursor.segment, at.cluster)
                         ? cursor.segment->clusters[static_cast<size_t>(at.cluster)].get()
                         : nullptr;
}

void KelmMKVDemux::PlaceCursorAtEnd(_tagMKVReadCursor& cursor)
{
    if (cursor.block != nullptr) {
        cursor.block->DropFrames();
    }
    cursor.block = nullptr;
    cursor.cluster = nullptr;
    cursor.ended = true;
    cursor.clusterIndex = cursor.segment != nullptr ? static_cast<int32_t>(cursor.segment->clusters.size()) : 0;
    cursor.groupIndex = 0;
    cursor.blockIndex = 0;
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

    Landing landing;
    if (repeat) {
        landing.atEnd = cache.atEnd;
        landing.at = cache.at;
    } else if (requested <= 0) {
        // The start: the track's first frame.
        const uint32_t trackNumber = record.trackEntry->trackNumber;
        landing.atEnd = !WalkBlocks(*cursor.segment, cursor.parser, BlockRef{},
                                    [&](BlockRef ref, EBMLCluster&, EBMLBlockGroup&, EBMLBlock& block) {
                                        if (block.trackNumber != trackNumber) {
                                            return true;
                                        }
                                        landing.at = ref;
                                        return false;
                                    });
    } else {
        landing = FindLanding(track, cursor, requested);
    }

    int32_t passedOver = 0;
    if (cursor.block != nullptr) {
        cursor.block->DropFrames();
    }
    record.lastFrameDuration = 0;
    record.recentBlockTimes.clear();
    FrameTiming timing;
    int32_t frames = 0;
    if (!landing.atEnd) {
        BlockRef at = landing.at;
        landing.atEnd = !SettleOnBlock(*cursor.segment, cursor.parser, at);
        if (!landing.atEnd) {
            const EBMLCluster& cluster = *cursor.segment->clusters[static_cast<size_t>(at.cluster)];
            frames = cluster.blockGroups[static_cast<size_t>(at.group)]->blocks[static_cast<size_t>(at.block)]->frameCount;
            timing = TimeFrames(record, *cursor.segment, cursor.parser, at, {}, 0);
        }
    }
    if (landing.atEnd) {
        PlaceCursorAtEnd(cursor);
        time = requested;
    } else {
        // Laced frames of an audio track: the latest that starts at or before
        // the request; a repeated seek passes over as many as the first did.
        const bool keyFramesOnly = record.trackEntry->trackType.value == kTrackTypeVideo;
        if (repeat) {
            passedOver = cache.frameIndex;
        } else {
            while (!keyFramesOnly && requested > 0 && passedOver + 1 < frames &&
                   timing.Start(passedOver + 1) <= requested) {
                passedOver += 1;
            }
        }
        PlaceCursor(cursor, landing.at);
        cursor.landing = landing.at;
        cursor.skipFrames = passedOver;
        time = timing.Start(passedOver);
    }

    cache.valid = true;
    cache.track = track;
    cache.requestedTime = requested;
    cache.resultTime = time;
    cache.atEnd = landing.atEnd;
    cache.at = landing.at;
    cache.frameIndex = passedOver;
    ReleaseIdleClusters();
    return ZOLVDMX_OK;
}
