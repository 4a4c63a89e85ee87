// The Segment walk: records Info, the first Tracks and Cues, seek heads and
// one positioned cluster per Cluster element, resynchronising after damaged
// data. The load-time walk stops early; ContinueParsing resumes it.
#include "EBMLSegment.h"

#include <algorithm>
#include <vector>

#include "ebml/ElementLoop.h"
#include "matroska/Matroska.h"

namespace {

bool IsTopLevelId(uint32_t id)
{
    switch (id) {
    case kIdSeekHead:
    case kIdInfo:
    case kIdTracks:
    case kIdCluster:
    case kIdCues:
    case kIdChapters:
    case kIdAttachments:
    case kIdTags:
        return true;
    default:
        return false;
    }
}

bool IsClusterChild(uint32_t id)
{
    switch (id) {
    case kIdTimecode:
    case kIdBlockGroup:
    case kIdSimpleBlock:
    case kIdSilentTracks:
    case kIdPosition:
    case kIdPrevSize:
    case kIdEncryptedBlock:
        return true;
    default:
        return IsGlobalElement(id);
    }
}

} // namespace

EBMLSegment::EBMLSegment(Matroska* segmentOwner) : owner(segmentOwner) {}

EBMLSegment::~EBMLSegment()
{
    StopParsingCluster();
    clusterMap.clear();
    clusterTimes.clear();
    seekHeads.clear();
    trackLists.clear();
    infoList.clear();
    clusters.clear();
    cueList.clear();
}

uint32_t EBMLSegment::Parse(CBitStreamParser* stream)
{
    audioTrackCount = 0;
    videoTrackCount = 0;
    walkStream = stream;
    Walk(stream, [this] { return EarlyStopReached(); });
    ReadCuesThroughSeekHeads(stream);
    return 0;
}

bool EBMLSegment::ContinueParsing(size_t wantedClusters)
{
    if (walkComplete || walkStream == nullptr || clusters.size() >= wantedClusters) {
        return false;
    }
    size_t before = clusters.size();
    walkStream->Seek(resumePosition, ZOLVDMX_SEEK_SET);
    Walk(walkStream, [&] { return clusters.size() >= wantedClusters; });
    return clusters.size() > before;
}

bool EBMLSegment::EarlyStopReached() const
{
    return !infoList.empty() && !trackLists.empty() && clusters.size() >= kEarlyStopClusterCount;
}

template <class StopWhen>
void EBMLSegment::Walk(CBitStreamParser* stream, StopWhen done)
{
    for (;;) {
        if (stream->IsEnd()) {
            walkComplete = true;
            break;
        }
        if (done()) {
            break;
        }
        int64_t before = stream->Tell();
        if (WalkOne(stream) == Step::Stop || stream->Tell() <= before) {
            // Damage the walk cannot get past, or an element that would
            // send it back: nothing further is indexed.
            walkComplete = true;
            break;
        }
        if (metCluster != nullptr) {
            if (walkedCluster != nullptr) {
                Link(*walkedCluster, *metCluster);
            } else if (firstCluster == nullptr) {
                firstCluster = metCluster;
            }
            walkedCluster = metCluster;
        }
        // After each element, so that a walk an allocation failure broke
        // off resumes at the element it did not finish.
        resumePosition = stream->Tell();
    }
    resumePosition = stream->Tell();
}

EBMLCluster* EBMLSegment::WalkToCluster(CBitStreamParser* stream)
{
    for (;;) {
        if (stream->IsEnd()) {
            return nullptr;
        }
        int64_t before = stream->Tell();
        if (WalkOne(stream) == Step::Stop) {
            return nullptr;
        }
        if (metCluster != nullptr) {
            return metCluster;
        }
        if (stream->Tell() <= before) {
            return nullptr;
        }
    }
}

void EBMLSegment::Link(EBMLCluster& before, EBMLCluster& after)
{
    if (after.elementPosition <= before.elementPosition) {
        return;
    }
    before.next = &after;
    if (after.previous == nullptr || after.previous->elementPosition < before.elementPosition) {
        after.previous = &before;
    }
}

void EBMLSegment::KnownAround(int64_t time, EBMLCluster*& before, EBMLCluster*& after) const
{
    after = nullptr;
    auto later = clusterTimes.upper_bound({time, INT64_MAX});
    if (later != clusterTimes.begin()) {
        EBMLCluster* candidate = std::prev(later)->second;
        if (candidate->elementPosition > before->elementPosition) {
            before = candidate;
        }
    }
    if (later != clusterTimes.end() && later->second->elementPosition > before->elementPosition) {
        after = later->second;
    }
}

int64_t EBMLSegment::DataEnd() const
{
    return sizeKnown ? DeclaredEnd() : (walkStream != nullptr ? walkStream->GetFileLength() : 0);
}

EBMLCluster* EBMLSegment::FirstCluster()
{
    while (firstCluster == nullptr && !walkComplete && walkStream != nullptr) {
        size_t before = clusters.size();
        walkStream->Seek(resumePosition, ZOLVDMX_SEEK_SET);
        Walk(walkStream, [&] { return firstCluster != nullptr; });
        if (clusters.size() == before && firstCluster == nullptr && !walkComplete) {
            break;
        }
    }
    return firstCluster;
}

void EBMLSegment::SourceGrew()
{
    walkComplete = false;
    const int64_t end = DataEnd();
    for (const auto& cluster : clusters) {
        if (cluster->next == nullptr) {
            cluster->lastInSegment = false;
        }
        cluster->ReopenAtSourceEnd();
        if (!cluster->endsWithSource || cluster->dataPosition >= end) {
            continue;
        }
        if (cluster->unknownSize) {
            walkStream->Seek(cluster->DeclaredEnd(), ZOLVDMX_SEEK_SET);
            int64_t clusterEnd = FindClusterEnd(walkStream, cluster->endsWithSource);
            cluster->dataSize = static_cast<uint64_t>(clusterEnd - cluster->dataPosition);
        } else {
            const auto room = static_cast<uint64_t>(end - cluster->dataPosition);
            cluster->dataSize = std::min(cluster->declaredSize, room);
            cluster->endsWithSource = cluster->declaredSize > room;
        }
    }
}

EBMLCluster* EBMLSegment::ClusterAt(int64_t position)
{
    auto known = clusterMap.find(position);
    if (known != clusterMap.end()) {
        return known->second;
    }
    if (walkStream == nullptr || position < dataPosition || position >= DataEnd() ||
        !ElementLooksSound(walkStream, position, kIdCluster)) {
        return nullptr;
    }
    ElementBody child(walkStream, kIdCluster);
    return RecordCluster(walkStream, position, child.Size(), !child.SizeKnown());
}

EBMLCluster* EBMLSegment::NextCluster(EBMLCluster& cluster)
{
    if (cluster.next != nullptr || cluster.lastInSegment || walkStream == nullptr) {
        return cluster.next;
    }
    const int64_t end = cluster.DeclaredEnd();
    auto known = clusterMap.find(end);
    EBMLCluster* found = nullptr;
    if (known != clusterMap.end()) {
        found = known->second;
    } else {
        walkStream->Seek(end, ZOLVDMX_SEEK_SET);
        found = WalkToCluster(walkStream);
    }
    if (found == nullptr || found->elementPosition <= cluster.elementPosition) {
        cluster.lastInSegment = true;
        return nullptr;
    }
    Link(cluster, *found);
    return cluster.next;
}

EBMLCluster* EBMLSegment::PreviousCluster(EBMLCluster& cluster)
{
    if (cluster.previous != nullptr) {
        return cluster.previous;
    }
    EBMLCluster* first = FirstCluster();
    if (first == nullptr || first == &cluster || first->elementPosition > cluster.elementPosition) {
        return nullptr;
    }
    // The nearest cluster known before this one; when it lies far back, a
    // search back from this cluster finds a nearer one, so that only the
    // clusters just before are indexed.
    auto known = clusterMap.lower_bound(cluster.elementPosition);
    EBMLCluster* from = known == clusterMap.begin() ? first : std::prev(known)->second;
    int64_t step = 2 * static_cast<int64_t>(std::min<uint64_t>(cluster.dataSize, 1 << 24)) + kScanChunk;
    while (from->DeclaredEnd() < cluster.elementPosition - step) {
        EBMLCluster* nearer = ClusterFrom(cluster.elementPosition - step, cluster.elementPosition);
        if (nearer != nullptr && nearer != &cluster) {
            from = nearer;
            break;
        }
        step *= 4;
    }
    for (EBMLCluster* at = from; at != nullptr && at != &cluster;) {
        EBMLCluster* next = NextCluster(*at);
        if (next == nullptr || next->elementPosition > cluster.elementPosition) {
            // Damage hid this cluster from the walk: the one before it is
            // the last the walk met.
            if (cluster.previous == nullptr) {
                cluster.previous = at;
            }
            break;
        }
        at = next;
    }
    return cluster.previous;
}

EBMLCluster* EBMLSegment::ClusterFrom(int64_t position, int64_t limit)
{
    position = std::max(position, dataPosition);
    auto known = clusterMap.lower_bound(position);
    EBMLCluster* knownFirst = known != clusterMap.end() && known->first < limit ? known->second : nullptr;
    // Searching beyond a known cluster finds nothing earlier than it.
    const int64_t stop = knownFirst != nullptr ? knownFirst->elementPosition : std::min(limit, DataEnd());
    if (walkStream == nullptr) {
        return knownFirst;
    }
    scanBuffer.resize(static_cast<size_t>(kScanChunk));
    for (int64_t chunk = position; chunk < stop; chunk += kScanChunk - 3) {
        walkStream->Seek(chunk, ZOLVDMX_SEEK_SET);
        int32_t wanted = static_cast<int32_t>(std::min<int64_t>(kScanChunk, stop - chunk + 3));
        int32_t got = walkStream->GetBytes(wanted, scanBuffer.data());
        for (int32_t i = 0; i + 4 <= got && chunk + i < stop; ++i) {
            const uint8_t* at = scanBuffer.data() + i;
            if (at[0] == 0x1F && at[1] == 0x43 && at[2] == 0xB6 && at[3] == 0x75) {
                if (EBMLCluster* found = ClusterAt(chunk + i)) {
                    return found;
                }
            }
        }
        if (got < wanted) {
            break;
        }
    }
    return knownFirst;
}

EBMLSegment::Step EBMLSegment::WalkOne(CBitStreamParser* stream)
{
    metCluster = nullptr;
    int64_t start = stream->Tell();
    uint32_t id = EBML::PeekID(stream);
    if (sizeKnown && start >= DeclaredEnd() && (id == kIdInvalid || !IsTopLevelId(id))) {
        // Past the Segment's end only its own kinds of element are taken.
        return Step::Stop;
    }
    if (id == kIdInvalid || !ElementLooksSound(stream, start, id)) {
        // Damaged bytes where an element should start: go on at the next
        // element that reads cleanly, so clusters after the damage still play.
        id = Resynchronise(stream, id == kIdInvalid ? start : start + 1);
        if (id == kIdInvalid) {
            return Step::Stop;
        }
        start = stream->Tell();
    }
    ElementBody child(stream, id);
    if (id == kIdCluster) {
        auto known = clusterMap.find(start);
        if (known != clusterMap.end()) {
            // Known already (a seek found it first): passed over.
            metCluster = known->second;
            stream->Seek(metCluster->DeclaredEnd(), ZOLVDMX_SEEK_SET);
        } else {
            metCluster = RecordCluster(stream, start, child.Size(), !child.SizeKnown());
        }
        return Step::Continue;
    }
    if (id == kIdTracks || id == kIdSeekHead || id == kIdInfo || id == kIdCues) {
        // A walk that meets an element another walk parsed passes over it.
        if (std::find(parsedMasters.begin(), parsedMasters.end(), start) != parsedMasters.end()) {
            child.Skip();
            return Step::Continue;
        }
        parsedMasters.push_back(start);
    }
    switch (id) {
    case kIdTracks:
        if (!trackLists.empty()) {
            child.Skip();
            return Step::Continue;
        }
        for (const auto& entry : child.ParseAppend(trackLists).entries) {
            uint64_t type = entry->trackType;
            audioTrackCount += type == kTrackTypeAudio ? 1 : 0;
            videoTrackCount += type == kTrackTypeVideo ? 1 : 0;
        }
        return Step::Continue;
    case kIdSeekHead: {
        seekAble = true;
        if (owner != nullptr) {
            owner->seekAble = true;
        }
        child.ParseAppend(seekHeads);
        return Step::Continue;
    }
    case kIdInfo:
        child.ParseAppend(infoList);
        return Step::Continue;
    case kIdCues:
        if (!cueList.empty()) {
            child.Skip();
        } else {
            child.ParseAppend(cueList);
        }
        return Step::Continue;
    default:
        // Chapters, Attachments, Tags, Void, CRC-32 and elements this parser
        // does not know: their header read cleanly and their payload lies
        // inside the Segment, so they are passed over.
        child.Skip();
        return Step::Continue;
    }
}

int64_t EBMLSegment::SegmentEnd(CBitStreamParser* stream) const
{
    return sizeKnown ? DeclaredEnd() : stream->GetFileLength();
}

bool EBMLSegment::ElementLooksSound(CBitStreamParser* stream, int64_t start, uint32_t expectedId)
{
    stream->Seek(start, ZOLVDMX_SEEK_SET);
    uint32_t id = 0;
    uint64_t size = 0;
    bool unknownSize = false;
    bool sound = EBML::ReadElementHeader(stream, id, size, unknownSize) == ZOLVDMX_OK && id == expectedId;
    int64_t payloadStart = stream->Tell();
    int64_t end = SegmentEnd(stream);
    switch (id) {
    case kIdInfo:
    case kIdTracks:
    case kIdCues:
    case kIdSeekHead:
        // Parsed child by child: a size that runs long does no harm.
        break;
    case kIdCluster:
        // A size past the end is settled when the cluster is recorded; the
        // first child must read cleanly inside the cluster.
        if (sound && (unknownSize || size > 0)) {
            int64_t clusterEnd = unknownSize || size > static_cast<uint64_t>(end - payloadStart)
                                     ? end
                                     : payloadStart + static_cast<int64_t>(size);
            uint32_t childId = EBML::PeekID(stream);
            uint64_t childSize = 0;
            bool childUnknown = false;
            sound = childId != kIdInvalid && IsClusterChild(childId) &&
                    EBML::ReadElementHeader(stream, childId, childSize, childUnknown) == ZOLVDMX_OK &&
                    !childUnknown && stream->Tell() <= clusterEnd &&
                    childSize <= static_cast<uint64_t>(clusterEnd - stream->Tell());
        }
        break;
    default:
        // Passed over by its size, which must then be known and fit.
        sound = sound && !unknownSize && payloadStart <= end && size <= static_cast<uint64_t>(end - payloadStart);
        break;
    }
    stream->Seek(start, ZOLVDMX_SEEK_SET);
    return sound;
}

EBMLCluster* EBMLSegment::RecordCluster(CBitStreamParser* stream, int64_t elementStart, uint64_t size, bool unknownSize)
{
    auto cluster = std::make_unique<EBMLCluster>();
    cluster->index = static_cast<int32_t>(clusters.size());
    cluster->pool = &blockPool;
    cluster->elementPosition = elementStart;
    cluster->dataPosition = stream->Tell();
    int64_t end = SegmentEnd(stream);
    // The Timecode leads the cluster: read now, while its bytes are at hand,
    // seeks find clusters by their times without coming back.
    cluster->ReadTimecode(stream);
    stream->Seek(cluster->dataPosition, ZOLVDMX_SEEK_SET);
    cluster->declaredSize = size;
    cluster->unknownSize = unknownSize;
    if (unknownSize) {
        int64_t clusterEnd = FindClusterEnd(stream, cluster->endsWithSource);
        cluster->dataSize = static_cast<uint64_t>(clusterEnd - cluster->dataPosition);
    } else if (cluster->dataPosition > end || size > static_cast<uint64_t>(end - cluster->dataPosition)) {
        // The size runs past the end: a damaged size, or a file cut short or
        // still being written. The cluster ends where the next element that
        // reads cleanly starts, or with the source.
        int64_t resume = std::max(end, stream->IsLengthKnown() ? stream->GetFileLength() : end);
        cluster->endsWithSource = true;
        if (Resynchronise(stream, cluster->dataPosition) != kIdInvalid) {
            resume = stream->Tell();
            cluster->endsWithSource = false;
        }
        cluster->dataSize = resume > cluster->dataPosition ? static_cast<uint64_t>(resume - cluster->dataPosition) : 0;
        stream->Seek(resume, ZOLVDMX_SEEK_SET);
    } else {
        cluster->dataSize = size;
        stream->SkipForward(size);
    }
    cluster->sizeKnown = true;
    // Listed and mapped, or neither: an allocation failing here leaves no
    // map entry behind that points at a cluster not kept.
    EBMLCluster* recorded = cluster.get();
    clusters.push_back(std::move(cluster));
    try {
        clusterMap.emplace(elementStart, recorded);
        try {
            clusterTimes.emplace(std::make_pair(GetRefTime(static_cast<int64_t>(recorded->timecode)), elementStart),
                                 recorded);
        } catch (...) {
            clusterMap.erase(elementStart);
            throw;
        }
    } catch (...) {
        clusters.pop_back();
        throw;
    }
    return recorded;
}

int64_t EBMLSegment::FindClusterEnd(CBitStreamParser* stream, bool& atSourceEnd)
{
    atSourceEnd = false;
    for (;;) {
        int64_t position = stream->Tell();
        uint32_t id = EBML::PeekID(stream);
        if (id == kIdInvalid || !IsClusterChild(id)) {
            atSourceEnd = id == kIdInvalid && !stream->HasBytes(1);
            return position;
        }
        uint32_t readId = 0;
        uint64_t size = 0;
        bool unknownSize = false;
        if (EBML::ReadElementHeader(stream, readId, size, unknownSize) != ZOLVDMX_OK || unknownSize ||
            !stream->HasBytes(size)) {
            // A child the source does not hold whole (being written) ends
            // the cluster for now.
            atSourceEnd = !unknownSize && !stream->HasBytes(size);
            stream->Seek(position, ZOLVDMX_SEEK_SET);
            return position;
        }
        stream->SkipForward(size);
    }
}

uint32_t EBMLSegment::Resynchronise(CBitStreamParser* stream, int64_t start)
{
    // Searched a piece at a time, small first: the next element is usually
    // near, and a file damaged in many places must not cost a full window
    // each time.
    int32_t piece = kResyncFirstPiece;
    int64_t blockStart = start;
    for (;;) {
        scanBuffer.resize(static_cast<size_t>(std::max<int32_t>(piece, kScanChunk)));
        stream->Seek(blockStart, ZOLVDMX_SEEK_SET);
        int32_t delivered = stream->GetBytes(piece, scanBuffer.data());
        if (delivered <= 0) {
            return kIdInvalid;
        }
        bool lastWindow = stream->IsEnd() || delivered < piece;
        // Only the bytes the host delivered are searched, the last piece of
        // the source included. A candidate counts only when it reads cleanly.
        for (int32_t i = 0; i + 4 <= delivered; ++i) {
            if ((scanBuffer[static_cast<size_t>(i)] >> 4) != 1) {
                continue;
            }
            uint32_t id = static_cast<uint32_t>(scanBuffer[static_cast<size_t>(i)]) |
                          static_cast<uint32_t>(scanBuffer[static_cast<size_t>(i) + 1]) << 8 |
                          static_cast<uint32_t>(scanBuffer[static_cast<size_t>(i) + 2]) << 16 |
                          static_cast<uint32_t>(scanBuffer[static_cast<size_t>(i) + 3]) << 24;
            if (IsTopLevelId(id) && ElementLooksSound(stream, blockStart + i, id)) {
                stream->Seek(blockStart + i, ZOLVDMX_SEEK_SET);
                return id;
            }
        }
        if (lastWindow) {
            return kIdInvalid;
        }
        // The last four bytes are searched again with the next piece, so an
        // ID across the boundary is found.
        blockStart += piece - 4;
        piece = std::min(piece * 2, kResyncWindow);
    }
}

void EBMLSegment::ReadCuesThroughSeekHeads(CBitStreamParser* stream)
{
    if (!cueList.empty()) {
        return;
    }
    for (const auto& seekHead : seekHeads) {
        for (const auto& seek : seekHead->seeks) {
            if (seek->HeldSeekId() != kIdCues) {
                continue;
            }
            if (seek->seekPosition > static_cast<uint64_t>(INT64_MAX - dataPosition)) {
                return;
            }
            stream->Seek(dataPosition + static_cast<int64_t>(seek->seekPosition), ZOLVDMX_SEEK_SET);
            if (EBML::PeekID(stream) == kIdCues) {
                ElementBody child(stream, kIdCues);
                child.ParseAppend(cueList);
            }
            return;
        }
    }
}

int64_t EBMLSegment::GetRefTime(int64_t timecode) const
{
    // timecode x scale / 100, truncated toward zero, without forming the
    // product: with the scale split into hundreds and a rest,
    // |t| x scale / 100 = |t| x hundreds + (|t| / 100) x rest + (|t| % 100) x rest / 100.
    // A time beyond the signed 64-bit range is held at its limit.
    uint64_t scale = infoList.empty() ? kDefaultTimecodeScale : infoList.front()->timecodeScale.value;
    const bool negative = timecode < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(timecode) : static_cast<uint64_t>(timecode);
    const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX);
    const uint64_t hundreds = scale / 100;
    const uint64_t rest = scale % 100;
    uint64_t result = 0;
    if (hundreds != 0 && magnitude > limit / hundreds) {
        result = limit;
    } else {
        // |t| <= 2^63: the first term is at most 2^63, the others below 0.99 x 2^63 + 99, so the sum cannot wrap.
        result = magnitude * hundreds + (magnitude / 100) * rest + (magnitude % 100) * rest / 100;
        result = std::min(result, limit);
    }
    return negative ? static_cast<int64_t>(0 - result) : static_cast<int64_t>(result);
}

EBMLTrackEntry* EBMLSegment::GetMasterTrack() const
{
    EBMLTrackEntry* firstAudio = nullptr;
    for (const auto& tracks : trackLists) {
        for (const auto& entry : tracks->entries) {
            uint64_t type = entry->trackType;
            if (type == kTrackTypeVideo) {
                return entry.get();
            }
            if (type == kTrackTypeAudio && firstAudio == nullptr) {
                firstAudio = entry.get();
            }
        }
    }
    if (firstAudio != nullptr) {
        return firstAudio;
    }
    if (trackLists.empty() || trackLists.front()->entries.empty()) {
        return nullptr;
    }
    return trackLists.front()->entries.back().get();
}
