// Cluster bodies and block groups, listed from element headers and block
// track numbers only; block payloads are never read here.
#include "EBMLCluster.h"

#include <algorithm>
#include <cstdint>

#include "ebml/ElementLoop.h"

namespace {

// Whether a block payload can be listed: it must lie within the source, so
// that the buffer it is later read into is never larger than the file, and
// be long enough to hold a block header.
bool BlockFits(ElementBody& child)
{
    // Shorter than a block header (track number, timecode, flags) holds no
    // frame: passed over like damage, without an object listed for it.
    constexpr uint64_t kShortestBlock = 4;
    if (!child.FitsInSource() || (child.SizeKnown() && child.Size() < kShortestBlock)) {
        child.Skip();
        return false;
    }
    return true;
}

// Whether a cluster child's payload ends within the source: a file cut
// short, or still being written, ends inside its last element.
bool EndsInSource(ElementBody& child)
{
    return child.HeaderOk() && child.FitsInSource();
}

// An EBML element header in memory: its ID (held form), the header length
// and the payload size; false when it does not read cleanly within `size`
// bytes or its size is unknown.
bool HeaderAt(const uint8_t* at, int64_t size, uint32_t& id, int64_t& headerLength, uint64_t& payload)
{
    if (size < 2 || at[0] < 0x10) {
        return false;
    }
    int32_t idLength = at[0] >= 0x80 ? 1 : at[0] >= 0x40 ? 2 : at[0] >= 0x20 ? 3 : 4;
    if (size <= idLength || at[idLength] == 0) {
        return false;
    }
    id = 0;
    for (int32_t k = 0; k < idLength; ++k) {
        id |= static_cast<uint32_t>(at[k]) << (8 * k);
    }
    int32_t sizeLength = 1;
    while ((at[idLength] & (0x80 >> (sizeLength - 1))) == 0) {
        ++sizeLength;
    }
    if (idLength + sizeLength > size) {
        return false;
    }
    payload = at[idLength] & (0xFF >> sizeLength);
    bool allOnes = payload == (0xFFu >> sizeLength);
    for (int32_t k = 1; k < sizeLength; ++k) {
        payload = payload << 8 | at[idLength + k];
        allOnes = allOnes && at[idLength + k] == 0xFF;
    }
    headerLength = idLength + sizeLength;
    return !allOnes;
}

// Whether a byte can open a cluster child that may end a cluster (their
// IDs are all one byte long): most frame bytes are rejected by this alone.
// A table, since every byte searched back from a cluster's end is looked up.
struct ClusterChildBytes {
    bool opens[256] = {};
    constexpr ClusterChildBytes()
    {
        for (uint8_t id : {0xA3, 0xA0, 0xEC, 0xBF, 0xA7, 0xAB, 0xE7}) {
            // SimpleBlock, BlockGroup, Void, CRC-32, Position, PrevSize, Timecode
            opens[id] = true;
        }
    }
};
constexpr ClusterChildBytes kClusterChildBytes;

bool IsClusterChildByte(uint8_t byte)
{
    return kClusterChildBytes.opens[byte];
}

// Whether the bytes of a cluster child look like what the ID says: a block
// of a track the file has, a block group that opens with a child of its own.
bool ChildLooksSound(uint32_t id, const uint8_t* payload, uint64_t size, const std::vector<uint32_t>& trackNumbers)
{
    switch (id) {
    case kIdSimpleBlock: {
        if (size < 4 || payload[0] < 0x80) {
            return false; // a one-byte track number and the block header
        }
        uint32_t track = payload[0] & 0x7F;
        return std::find(trackNumbers.begin(), trackNumbers.end(), track) != trackNumbers.end();
    }
    case kIdBlockGroup: {
        uint32_t childId = 0;
        int64_t headerLength = 0;
        uint64_t childSize = 0;
        return HeaderAt(payload, static_cast<int64_t>(size), childId, headerLength, childSize) &&
               (childId == kIdBlock || childId == kIdReferenceBlock || childId == kIdBlockDuration ||
                childId == kIdVoid) &&
               childSize <= size - static_cast<uint64_t>(headerLength);
    }
    case kIdVoid:
    case kIdCrc32:
    case kIdPosition:
    case kIdPrevSize:
    case kIdTimecode:
        return true;
    default:
        return false;
    }
}

// The longest element header: a 4-byte ID and an 8-byte size.
constexpr uint64_t kLongestHeader = 12;

} // namespace

bool EBMLCluster::ListOne(CBitStreamParser* reader, std::vector<std::unique_ptr<EBMLBlockGroup>>& into)
{
    const int64_t start = reader->Tell();
    bool cut = false;
    ChildStep step = ParseOneChild(reader, *this, [&](ElementBody& child) {
        if ((child.Id() == kIdBlockGroup || child.Id() == kIdSimpleBlock) && !EndsInSource(child)) {
            // Listing stops at a block the source does not hold whole.
            cut = true;
            return true;
        }
        switch (child.Id()) {
        case kIdTimecode:
            timecode = child.ReadTime();
            timecodeKnown = true;
            return true;
        case kIdBlockGroup: {
            into.push_back(pool != nullptr ? pool->TakeGroup() : std::make_unique<EBMLBlockGroup>());
            into.back()->pool = pool;
            child.ParseChild(*into.back());
            into.back()->elementPosition = start;
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
            wrapper->elementPosition = start;
            into.push_back(std::move(wrapper));
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
    // Stopped at a block the source does not hold whole, or where the
    // source ends inside the next element's header.
    if (cut || (step == ChildStep::End && !reader->HasBytes(kLongestHeader))) {
        reader->Seek(start, ZOLVDMX_SEEK_SET);
        cutAtSourceEnd = true;
        return false;
    }
    return step == ChildStep::Continue;
}

void EBMLCluster::ReopenAtSourceEnd()
{
    if (cutAtSourceEnd) {
        cutAtSourceEnd = false;
        endListed = false;
    }
}

void EBMLCluster::PrepareList()
{
    if (pool != nullptr && blockGroups.capacity() == 0) {
        blockGroups = pool->TakeList();
    }
}

bool EBMLCluster::BlockHeaderAt(const uint8_t* bytes, int32_t size, EBMLBlock& block, uint64_t& elementSize)
{
    uint32_t id = 0;
    int64_t headerLength = 0;
    uint64_t payload = 0;
    if (!HeaderAt(bytes, size, id, headerLength, payload) || (id != kIdSimpleBlock && id != kIdBlockGroup)) {
        return false;
    }
    elementSize = static_cast<uint64_t>(headerLength) + payload;
    const uint8_t* at = bytes + headerLength;
    int64_t left = std::min<int64_t>(size - headerLength, static_cast<int64_t>(std::min<uint64_t>(payload, INT32_MAX)));
    // A BlockGroup's Block is found among its first children.
    while (id == kIdBlockGroup && left > 0) {
        if (!HeaderAt(at, left, id, headerLength, payload) || payload > static_cast<uint64_t>(INT32_MAX)) {
            return false;
        }
        if (id == kIdBlock) {
            at += headerLength;
            left = std::min<int64_t>(left - headerLength, static_cast<int64_t>(payload));
            break;
        }
        if (static_cast<uint64_t>(left) <= static_cast<uint64_t>(headerLength) + payload) {
            return false;
        }
        at += headerLength + static_cast<int64_t>(payload);
        left -= headerLength + static_cast<int64_t>(payload);
    }
    return left > 0 && block.ParseSimple(at, static_cast<uint32_t>(left));
}

void ClusterTailScan::Start(std::vector<uint32_t> tracks, std::function<bool(const EBMLBlock&)> wantedBlock)
{
    trackNumbers = std::move(tracks);
    wanted = std::move(wantedBlock);
    // Only the cluster's end is in use: each piece given clears its own
    // flags, so the buffers of a long earlier scan are not cleared again.
    begin = bytes.size();
    state.resize(bytes.size() + 1);
    state.back() = kOnChain;
    found = -1;
}

void ClusterTailScan::MakeRoom(size_t size)
{
    if (begin >= size) {
        return;
    }
    // The bytes stay at the end of a buffer that doubles: what is given
    // first is copied again only as often as the buffer grows.
    const size_t held = bytes.size() - begin;
    const size_t capacity = std::max(2 * bytes.size(), held + size);
    std::vector<uint8_t> grown(capacity);
    std::vector<uint8_t> grownState(capacity + 1, 0);
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(begin), bytes.end(), grown.end() - static_cast<std::ptrdiff_t>(held));
    std::copy(state.begin() + static_cast<std::ptrdiff_t>(begin), state.end(),
              grownState.end() - static_cast<std::ptrdiff_t>(held + 1));
    bytes.swap(grown);
    state.swap(grownState);
    begin = capacity - held;
}

void ClusterTailScan::Prepend(const uint8_t* earlier, int32_t size)
{
    if (size <= 0) {
        return;
    }
    const auto n = static_cast<size_t>(size);
    MakeRoom(n);
    begin -= n;
    std::copy(earlier, earlier + n, bytes.begin() + static_cast<std::ptrdiff_t>(begin));
    std::fill(state.begin() + static_cast<std::ptrdiff_t>(begin), state.begin() + static_cast<std::ptrdiff_t>(begin + n), 0);
    const uint8_t* held = bytes.data() + begin;
    uint8_t* flagsOf = state.data() + begin;
    const auto total = static_cast<int64_t>(bytes.size() - begin);
    if (found >= 0) {
        found += size;
    }
    // From the end back: a position is on a chain when a sound child starts
    // there and ends at the end or where another chain position starts. A
    // chain position that an earlier one leads to is a boundary beyond
    // reasonable doubt (frame bytes would have to fake two chained elements);
    // it is worth listing from when its chain holds a block wanted. A
    // position after the new bytes can be confirmed by one among them.
    int64_t earliest = found >= 0 ? found : total;
    for (int64_t i = size - 1; i >= 0; --i) {
        if (!IsClusterChildByte(held[i])) {
            continue; // most frame bytes
        }
        uint32_t id = 0;
        int64_t headerLength = 0;
        uint64_t payload = 0;
        const uint8_t* at = held + i;
        if (!HeaderAt(at, total - i, id, headerLength, payload) ||
            payload > static_cast<uint64_t>(total - i - headerLength)) {
            continue;
        }
        const auto next = static_cast<size_t>(i + headerLength + static_cast<int64_t>(payload));
        if ((flagsOf[next] & kOnChain) == 0 || !ChildLooksSound(id, at + headerLength, payload, trackNumbers)) {
            continue;
        }
        uint8_t flags = kOnChain | (flagsOf[next] & kLeadsToWanted);
        EBMLBlock block;
        uint64_t elementSize = 0;
        if (EBMLCluster::BlockHeaderAt(at, static_cast<int32_t>(std::min<int64_t>(total - i, 64)), block, elementSize) &&
            wanted(block)) {
            flags |= kLeadsToWanted;
        }
        flagsOf[i] = flags;
        flagsOf[next] |= kReached;
        if (next >= n && next < static_cast<size_t>(total) && (flagsOf[next] & kLeadsToWanted) != 0) {
            earliest = std::min(earliest, static_cast<int64_t>(next));
        }
    }
    for (int64_t i = 0; i < size; ++i) {
        const uint8_t flags = flagsOf[i];
        if ((flags & kOnChain) != 0 && (flags & kReached) != 0 && (flags & kLeadsToWanted) != 0) {
            earliest = i;
            break;
        }
    }
    found = earliest < total ? earliest : -1;
}

uint32_t EBMLCluster::Parse(CBitStreamParser* reader)
{
    PrepareList();
    listedFrom = reader->Tell();
    listedEnd = listedFrom;
    startListed = true;
    while (ListOne(reader, blockGroups)) {
        listedEnd = reader->Tell();
    }
    listedEnd = reader->Tell();
    endListed = true;
    return 0;
}

void EBMLCluster::ListBlocks(CBitStreamParser* reader, size_t wantedGroups)
{
    if (listedEnd >= 0 && !startListed) {
        ListFromStart(reader);
    }
    if (endListed || blockGroups.size() >= wantedGroups) {
        return;
    }
    PrepareList();
    if (listedEnd < 0) {
        listedFrom = dataPosition;
        listedEnd = dataPosition;
    }
    startListed = true;
    reader->Seek(listedEnd, ZOLVDMX_SEEK_SET);
    while (blockGroups.size() < wantedGroups) {
        if (!ListOne(reader, blockGroups)) {
            endListed = true;
            break;
        }
    }
    listedEnd = reader->Tell();
}

int32_t EBMLCluster::GroupAt(int64_t position) const
{
    auto found = std::lower_bound(blockGroups.begin(), blockGroups.end(), position,
                                  [](const std::unique_ptr<EBMLBlockGroup>& g, int64_t p) { return g->elementPosition < p; });
    if (found == blockGroups.end() || (*found)->elementPosition != position) {
        return -1;
    }
    return static_cast<int32_t>(found - blockGroups.begin());
}

int32_t EBMLCluster::ListAt(CBitStreamParser* reader, int64_t position)
{
    // (A damaged cluster lists blocks past its declared end: those are
    // places too.)
    if (position < dataPosition) {
        return -1;
    }
    if (listedEnd < 0) {
        // Nothing listed: the listing starts at the position.
        PrepareList();
        listedFrom = position;
        listedEnd = position;
        startListed = position == dataPosition;
    } else if (position < listedFrom) {
        ListFromStart(reader);
    }
    int32_t found = GroupAt(position);
    while (found < 0 && !endListed && listedEnd <= position) {
        reader->Seek(listedEnd, ZOLVDMX_SEEK_SET);
        if (!ListOne(reader, blockGroups)) {
            endListed = true;
        }
        listedEnd = reader->Tell();
        if (!blockGroups.empty() && blockGroups.back()->elementPosition == position) {
            found = static_cast<int32_t>(blockGroups.size()) - 1;
        }
    }
    return found;
}

bool EBMLCluster::ListNext(CBitStreamParser* reader, size_t index)
{
    if (index + 1 < blockGroups.size()) {
        return true;
    }
    if (endListed || listedEnd < 0) {
        return false;
    }
    reader->Seek(listedEnd, ZOLVDMX_SEEK_SET);
    while (index + 1 >= blockGroups.size()) {
        if (!ListOne(reader, blockGroups)) {
            endListed = true;
            break;
        }
    }
    listedEnd = reader->Tell();
    return index + 1 < blockGroups.size();
}

void EBMLCluster::ListFromStart(CBitStreamParser* reader)
{
    if (startListed || listedEnd < 0) {
        return;
    }
    std::vector<std::unique_ptr<EBMLBlockGroup>> before;
    reader->Seek(dataPosition, ZOLVDMX_SEEK_SET);
    while (reader->Tell() < listedFrom) {
        size_t count = before.size();
        if (!ListOne(reader, before)) {
            break;
        }
        if (reader->Tell() > listedFrom) {
            // An element running past where the listing began (a damaged
            // cluster whose elements do not line up) does not join it.
            while (before.size() > count) {
                if (pool != nullptr) {
                    pool->Give(std::move(before.back()));
                }
                before.pop_back();
            }
            break;
        }
    }
    blockGroups.insert(blockGroups.begin(), std::make_move_iterator(before.begin()),
                       std::make_move_iterator(before.end()));
    listedFrom = dataPosition;
    startListed = true;
}

uint32_t EBMLCluster::ParseBlockData(CBitStreamParser* reader)
{
    ListBlocks(reader, SIZE_MAX);
    return 0;
}

uint32_t EBMLCluster::ReadTimecode(CBitStreamParser* reader)
{
    if (timecodeKnown || IsParsed()) {
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
    startListed = false;
    endListed = false;
    cutAtSourceEnd = false;
    listedFrom = -1;
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
