// Walking the Segment's blocks in file order, shared by sample delivery and
// seeking: clusters are indexed and listed as far as a walk needs them, key
// frames of video tracks are noted on the way, and block lists no cursor
// needs any more are released.
#include <algorithm>

#include "KelmMKVDemux.h"
#include "matroska/EBMLSegment.h"

bool KelmMKVDemux::EnsureCluster(EBMLSegment& segment, int32_t index)
{
    if (index < 0) {
        return false;
    }
    if (static_cast<size_t>(index) >= segment.clusters.size()) {
        segment.ContinueParsing(static_cast<size_t>(index) + 1);
    }
    return static_cast<size_t>(index) < segment.clusters.size();
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

void KelmMKVDemux::ListCluster(const EBMLSegment& segment, EBMLCluster& cluster, CBitStreamParser* parser,
                               size_t wantedGroups)
{
    size_t before = cluster.blockGroups.size();
    cluster.ListBlocks(parser, wantedGroups);
    if (cluster.blockGroups.size() > 0 &&
        std::find(listedClusters.begin(), listedClusters.end(), &cluster) == listedClusters.end()) {
        listedClusters.push_back(&cluster);
    }
    if (cluster.keyFramesNoted) {
        return;
    }
    // Note the key frames of video tracks among the groups just listed; a
    // cluster listed again after a release adds nothing twice.
    for (size_t g = before; g < cluster.blockGroups.size(); ++g) {
        const EBMLBlockGroup& group = *cluster.blockGroups[g];
        for (size_t b = 0; b < group.blocks.size(); ++b) {
            const EBMLBlock& block = *group.blocks[b];
            _tagMKVTrackIndexMeta* record = TrackByNumber(block.trackNumber);
            if (record == nullptr || record->trackEntry->trackType.value != kTrackTypeVideo || !IsKeyFrame(group, block)) {
                continue;
            }
            KeyFrameRef key{BlockTime(segment, cluster, block),
                            BlockRef{cluster.index, static_cast<int32_t>(g), static_cast<int32_t>(b)}};
            std::vector<KeyFrameRef>& known = record->keyFrames;
            auto where = std::lower_bound(known.begin(), known.end(), key, [](const KeyFrameRef& a, const KeyFrameRef& k) {
                return a.time < k.time;
            });
            bool present = false;
            for (auto it = where; it != known.end() && it->time == key.time; ++it) {
                present = present || (it->at.cluster == key.at.cluster && it->at.group == key.at.group &&
                                      it->at.block == key.at.block);
            }
            if (!present) {
                known.insert(where, key);
            }
        }
    }
    cluster.keyFramesNoted = cluster.IsParsed();
}

bool KelmMKVDemux::SettleOnBlock(EBMLSegment& segment, CBitStreamParser* parser, BlockRef& at)
{
    for (;;) {
        if (!EnsureCluster(segment, at.cluster)) {
            return false;
        }
        EBMLCluster& cluster = *segment.clusters[static_cast<size_t>(at.cluster)];
        ListCluster(segment, cluster, parser, static_cast<size_t>(at.group) + 1);
        if (static_cast<size_t>(at.group) < cluster.blockGroups.size()) {
            const EBMLBlockGroup& group = *cluster.blockGroups[static_cast<size_t>(at.group)];
            if (static_cast<size_t>(at.block) < group.blocks.size()) {
                return true;
            }
            at.group += 1;
            at.block = 0;
            continue;
        }
        // The cluster is listed to its end: the next one.
        at.cluster += 1;
        at.group = 0;
        at.block = 0;
    }
}

void KelmMKVDemux::ReleaseIdleClusters(const EBMLCluster* keep)
{
    auto nearCursor = [&](const EBMLCluster* cluster) {
        if (cluster == keep) {
            return true;
        }
        for (const _tagMKVReadCursor* cursor : {audioCursor.get(), videoCursor.get()}) {
            if (!cursor->ended && (cluster->index == cursor->clusterIndex || cluster->index == cursor->clusterIndex + 1)) {
                return true;
            }
            if (cursor->cluster == cluster) {
                return true;
            }
        }
        return false;
    };
    auto idle = std::remove_if(listedClusters.begin(), listedClusters.end(), [&](EBMLCluster* cluster) {
        if (nearCursor(cluster)) {
            return false;
        }
        cluster->ReleaseBlocks();
        return true;
    });
    listedClusters.erase(idle, listedClusters.end());
}
