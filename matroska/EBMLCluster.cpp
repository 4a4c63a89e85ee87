// Cluster bodies and block groups, listed from element headers and block
// track numbers only; block payloads are never read here.
#include "EBMLCluster.h"

#include <cstdint>

#include "ebml/ElementLoop.h"

namespace {

// Whether a block payload can be listed: it must lie within the source, so
// that the buffer it is later read into is never larger than the file.
bool BlockFits(ElementBody& child)
{
    if (!child.FitsInSource()) {
        child.Skip();
        return false;
    }
    return true;
}

} // namespace

bool EBMLCluster::ListOne(CBitStreamParser* reader)
{
    ChildStep step = ParseOneChild(reader, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdTimecode:
            timecode = child.ReadTime();
            timecodeKnown = true;
            return true;
        case kIdBlockGroup: {
            blockGroups.push_back(pool != nullptr ? pool->TakeGroup() : std::make_unique<EBMLBlockGroup>());
            blockGroups.back()->pool = pool;
            child.ParseChild(*blockGroups.back());
            return true;
        }
        case kIdSimpleBlock: {
            if (!BlockFits(child)) {
                return true;
            }
            std::unique_ptr<EBMLBlockGroup> wrapper =
                pool != nullptr ? pool->TakeGroup() : std::make_unique<EBMLBlockGroup>();
            std::unique_ptr<EBMLBlock> block = pool != nullptr ? pool->TakeBlock() : std::make_unique<EBMLBlock>();
            block->dataSize = child.Size();
            block->sizeKnown = child.SizeKnown();
            block->simple = true;
            block->Parse(reader);
            if (maxBlockSize < static_cast<int32_t>(block->dataSize)) {
                maxBlockSize = static_cast<int32_t>(block->dataSize);
            }
            wrapper->blocks.push_back(std::move(block));
            // The running maximum of the cluster's SimpleBlocks so far.
            wrapper->maxBlockSize = maxBlockSize;
            blockGroups.push_back(std::move(wrapper));
            return true;
        }
        case kIdSilentTracks:
        case kIdPosition:
        case kIdPrevSize:
        case kIdEncryptedBlock:
            child.Skip();
            return true;
        default:
            return false;
        }
    });
    listedEnd = reader->Tell();
    return step == ChildStep::Continue;
}

uint32_t EBMLCluster::Parse(CBitStreamParser* reader)
{
    listedEnd = reader->Tell();
    while (ListOne(reader)) {
    }
    fullyListed = true;
    return 0;
}

void EBMLCluster::ListBlocks(CBitStreamParser* reader, size_t wantedGroups)
{
    if (fullyListed || blockGroups.size() >= wantedGroups) {
        return;
    }
    if (pool != nullptr && blockGroups.capacity() == 0) {
        blockGroups = pool->TakeList();
    }
    reader->Seek(listedEnd >= 0 ? listedEnd : dataPosition, ZOLVDMX_SEEK_SET);
    while (blockGroups.size() < wantedGroups) {
        if (!ListOne(reader)) {
            fullyListed = true;
            return;
        }
    }
}

uint32_t EBMLCluster::ParseBlockData(CBitStreamParser* reader)
{
    ListBlocks(reader, SIZE_MAX);
    return 0;
}

uint32_t EBMLCluster::ReadTimecode(CBitStreamParser* reader)
{
    if (timecodeKnown || fullyListed) {
        return 0;
    }
    reader->Seek(dataPosition, ZOLVDMX_SEEK_SET);
    for (;;) {
        uint32_t id = EBML::PeekID(reader);
        if (id == kIdInvalid || (sizeKnown && reader->Tell() >= DeclaredEnd())) {
            return 0;
        }
        ElementBody child(reader, id);
        if (id == kIdTimecode) {
            timecode = child.ReadTime();
            timecodeKnown = true;
            return 0;
        }
        if (id != kIdSilentTracks && id != kIdPosition && id != kIdPrevSize && !IsGlobalElement(id)) {
            // The Timecode comes before the blocks; a cluster without one keeps 0.
            return 0;
        }
        child.Skip();
    }
}

void EBMLCluster::ReleaseBlocks()
{
    if (pool != nullptr) {
        for (auto& group : blockGroups) {
            pool->Give(std::move(group));
        }
        blockGroups.clear();
        pool->GiveList(std::move(blockGroups));
    }
    blockGroups.clear();
    maxBlockSize = 0;
    fullyListed = false;
    listedEnd = -1;
}

uint32_t EBMLBlockGroup::Parse(CBitStreamParser* reader)
{
    return ParseChildren(reader, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdBlock: {
            if (!BlockFits(child)) {
                return true;
            }
            std::unique_ptr<EBMLBlock> block = pool != nullptr ? pool->TakeBlock() : std::make_unique<EBMLBlock>();
            block->dataSize = child.Size();
            block->sizeKnown = child.SizeKnown();
            if (maxBlockSize < static_cast<int32_t>(block->dataSize)) {
                maxBlockSize = static_cast<int32_t>(block->dataSize);
            }
            block->Parse(reader);
            blocks.push_back(std::move(block));
            return true;
        }
        case kIdReferenceBlock:
            references.push_back(static_cast<int32_t>(child.ReadUInt32()));
            return true;
        case kIdBlockDuration:
            blockDuration = child.ReadTime();
            hasBlockDuration = true;
            return true;
        case kIdBlockVirtual:
        case kIdBlockAdditions:
        case kIdReferencePriority:
        case kIdCodecState:
        case kIdSlices:
            child.Skip();
            return true;
        default:
            return false;
        }
    });
}

void EBMLBlockGroup::Reset()
{
    dataSize = 0;
    elementPosition = 0;
    dataPosition = 0;
    sizeKnown = false;
    blocks.clear();
    references.clear();
    maxBlockSize = 0;
    blockDuration = 0;
    hasBlockDuration = false;
    pool = nullptr;
}

std::unique_ptr<EBMLBlockGroup> EBMLBlockPool::TakeGroup()
{
    if (groups.empty()) {
        return std::make_unique<EBMLBlockGroup>();
    }
    std::unique_ptr<EBMLBlockGroup> group = std::move(groups.back());
    groups.pop_back();
    return group;
}

std::unique_ptr<EBMLBlock> EBMLBlockPool::TakeBlock()
{
    if (blocks.empty()) {
        return std::make_unique<EBMLBlock>();
    }
    std::unique_ptr<EBMLBlock> block = std::move(blocks.back());
    blocks.pop_back();
    return block;
}

std::vector<std::unique_ptr<EBMLBlockGroup>> EBMLBlockPool::TakeList()
{
    if (lists.empty()) {
        return {};
    }
    std::vector<std::unique_ptr<EBMLBlockGroup>> list = std::move(lists.back());
    lists.pop_back();
    return list;
}

void EBMLBlockPool::GiveList(std::vector<std::unique_ptr<EBMLBlockGroup>> list)
{
    if (list.capacity() > 0) {
        list.clear();
        lists.push_back(std::move(list));
    }
}

void EBMLBlockPool::Give(std::unique_ptr<EBMLBlockGroup> group)
{
    if (!group) {
        return;
    }
    for (auto& block : group->blocks) {
        block->Reset();
        blocks.push_back(std::move(block));
    }
    group->Reset();
    groups.push_back(std::move(group));
}

uint32_t EBMLSilentTracks::Parse(CBitStreamParser* reader)
{
    return ParseChildren(reader, *this, [&](ElementBody& child) {
        if (child.Id() != kIdSilentTrackNumber) {
            return false;
        }
        trackNumbers.push_back(child.ReadUInt32());
        return true;
    });
}

uint32_t EBMLBlockMore::Parse(CBitStreamParser* reader)
{
    return ParseChildren(reader, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdBlockAddId:
            addId = child.ReadUInt32();
            return true;
        case kIdBlockAdditional:
            additionalLength = child.ReadRaw(additional);
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLBlockAdditions::Parse(CBitStreamParser* reader)
{
    return ParseChildren(reader, *this, [&](ElementBody& child) {
        if (child.Id() != kIdBlockMore) {
            return false;
        }
        child.ParseAppend(blockMores);
        return true;
    });
}

uint32_t EBMLTimeSlice::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLSlices::Parse(CBitStreamParser* reader)
{
    return ParseChildren(reader, *this, [&](ElementBody& child) {
        if (child.Id() != kIdTimeSlice) {
            return false;
        }
        child.ParseAppend(timeSlices);
        return true;
    });
}
