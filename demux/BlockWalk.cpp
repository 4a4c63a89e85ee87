// Walking the Segment's blocks in file order, shared by sample delivery and
// seeking: clusters are indexed and listed as far as a walk needs them, the
// key frames of video tracks are noted on the way, and the block lists of
// clusters a walk leaves are released unless a cursor or another walk
// stands on them.
#include <algorithm>

#include "KelmMKVDemux.h"
#include "matroska/EBMLSegment.h"

KelmMKVDemux::WalkPin::WalkPin(std::vector<const EBMLCluster*>& walkPins, const EBMLCluster& cluster)
    : pins(walkPins)
{
    pins.push_back(&cluster);
}

KelmMKVDemux::WalkPin::~WalkPin()
{
    pins.pop_back();
}

_tagMKVTrackIndexMeta* KelmMKVDemux::TrackByNumber(uint32_t trackNumber)
{
    for (_tagMKVTrackIndexMeta& record : tracks) {
        if (record.trackEntry->trackNumber == trackNumber) {
            return &record;
        }
    }
    return nullptr;
}

void KelmMKVDemux::NoteListed(EBMLCluster& cluster)
{
    // An empty cluster holds nothing to release.
    if (cluster.blockGroups.empty() || cluster.index < 0) {
        return;
    }
    const auto index = static_cast<size_t>(cluster.index);
    if (index >= inListedClusters.size()) {
        inListedClusters.resize(index + 1, false);
    }
    if (!inListedClusters[index]) {
        inListedClusters[index] = true;
        listedClusters.push_back(&cluster);
        ReleaseIdleClusters(kIdleListings);
    }
}

bool KelmMKVDemux::IsPinned(const EBMLCluster& cluster) const
{
    for (const _tagMKVReadCursor* cursor : {audioCursor.get(), videoCursor.get()}) {
        if (cursor->cluster == &cluster || cursor->nextCluster == &cluster ||
            (!cursor->ended && cursor->clusterIndex == cluster.index)) {
            return true;
        }
    }
    return std::find(walkPins.begin(), walkPins.end(), &cluster) != walkPins.end();
}

void KelmMKVDemux::ReleaseIdleClusters(size_t keep)
{
    // The block lists held are those of clusters cursors and walks stand on,
    // and the few listed last that nothing stands on (more of them while
    // they are small); older ones go first.
    // A cluster listed only in part counts as large: how many groups it
    // holds is not known yet.
    const auto groupsOf = [](const EBMLCluster& cluster) {
        return cluster.IsParsed() ? cluster.blockGroups.size() : kIdleGroups + 1;
    };
    size_t idle = 0;
    size_t idleGroups = 0;
    for (const EBMLCluster* cluster : listedClusters) {
        if (!IsPinned(*cluster)) {
            ++idle;
            idleGroups += groupsOf(*cluster);
        }
    }
    auto released = std::remove_if(listedClusters.begin(), listedClusters.end(), [&](EBMLCluster* cluster) {
        if (idle <= keep || idleGroups <= kIdleGroups || IsPinned(*cluster)) {
            return false;
        }
        idleGroups -= groupsOf(*cluster);
        cluster->ReleaseBlocks();
        inListedClusters[static_cast<size_t>(cluster->index)] = false;
        --idle;
        return true;
    });
    listedClusters.erase(released, listedClusters.end());
}

void KelmMKVDemux::NoteBlock(const EBMLSegment& segment, const EBMLCluster& cluster, const EBMLBlockGroup& group,
                             int32_t blockIndex)
{
    const EBMLBlock& block = *group.blocks[static_cast<size_t>(blockIndex)];
    if (!IsKeyFrame(group, block)) {
        return;
    }
    _tagMKVTrackIndexMeta* record = TrackByNumber(block.trackNumber);
    if (record == nullptr || record->trackEntry->trackType.value != kTrackTypeVideo) {
        return;
    }
    NotedCluster& noted = record->keyFrames[cluster.index];
    if (noted.complete) {
        return;
    }
    KeyFrameRef key{BlockTime(segment, cluster, block), BlockRef{cluster.index, group.elementPosition, blockIndex}};
    // Walks go forward: a key frame comes after those noted (appended in
    // constant time), or was noted by an earlier walk over the same blocks.
    if (noted.keyFrames.empty() || noted.keyFrames.back().at < key.at) {
        noted.keyFrames.push_back(key);
        return;
    }
    auto after = std::upper_bound(noted.keyFrames.begin(), noted.keyFrames.end(), key,
                                  [](const KeyFrameRef& a, const KeyFrameRef& b) { return a.at < b.at; });
    if (after != noted.keyFrames.begin() && !((after - 1)->at < key.at)) {
        return;
    }
    noted.keyFrames.insert(after, key);
}

void KelmMKVDemux::NoteLastBlocks(const EBMLSegment& segment, const EBMLCluster& cluster, const LastSeen& seen)
{
    for (size_t k = 0; k < seen.count; ++k) {
        _tagMKVTrackIndexMeta* record = TrackByNumber(seen.trackNumbers[k]);
        const BlockRef& at = seen.at[k];
        int32_t g = cluster.GroupAt(at.group);
        if (record == nullptr || g < 0) {
            continue;
        }
        const EBMLBlock& block = *cluster.blockGroups[static_cast<size_t>(g)]->blocks[static_cast<size_t>(at.block)];
        record->lastBlocks[cluster.index] = KeyFrameRef{BlockTime(segment, cluster, block), at};
    }
}

void KelmMKVDemux::NoteClusterWalked(const EBMLCluster& cluster)
{
    if (cluster.blockGroups.empty()) {
        return; // nothing to pass over next time
    }
    for (_tagMKVTrackIndexMeta& record : tracks) {
        if (record.trackEntry->trackType.value == kTrackTypeVideo) {
            record.keyFrames[cluster.index].complete = true;
        }
    }
}

bool KelmMKVDemux::SettleOnBlock(EBMLSegment& segment, CBitStreamParser* parser, BlockRef& at, Located* found)
{
    return WalkBlocks(segment, parser, at, [&](BlockRef ref, EBMLCluster& cluster, EBMLBlockGroup& group, EBMLBlock& block) {
        at = ref;
        if (found != nullptr) {
            *found = Located{&cluster, &group, &block};
        }
        return false;
    });
}
