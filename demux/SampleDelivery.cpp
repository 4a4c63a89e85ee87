// Sample delivery: moves a media type's cursor block by block through the
// clusters, splits blocks into frames and hands them out with their time,
// duration and key flag.
//
// A frame's duration is its block's BlockDuration (shared among laced
// frames), else for PCM its size and for FLAC the samples its header counts,
// else the track's DefaultDuration, else the gap to the track's
// next frame (the next block for laced frames; otherwise the next in
// presentation order, among the 16 blocks of the track before and after it;
// searched over at most 1024 blocks of other tracks and 30 s), else the
// duration of the frame delivered before it. The first frame of a
// block starts at the block's time; laced frames follow each other by that
// duration.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "KelmMKVDemux.h"
#include "matroska/EBMLSegment.h"

namespace {

// Following blocks of a track searched for the next frame in presentation
// order: more than any decoder reorders.
constexpr int32_t kPresentationLookAhead = 16;
// Blocks of any track that search passes at most: blocks of other tracks
// between a track's frames must not make every frame walk all of them.
constexpr int32_t kLookAheadBlocks = 64 * kPresentationLookAhead;
// Bytes read first for a block's block and lace headers: enough for any
// but very long lace headers, which ask for more, up to the last.
constexpr int32_t kLaceHeadBytes = 256;
constexpr int32_t kLaceHeadLimit = 16 << 20;
// Times the host is asked for more of a file still being written before a
// frame is timed from what is there.
constexpr int kGrowthRetries = 4;
// WAVE format tags of PCM (integer and IEEE float) and the FLAC code.
constexpr uint32_t kWaveFormatPcm = 0x0001;
constexpr uint32_t kWaveFormatFloat = 0x0003;
constexpr uint32_t kCodecFlac = 0xF1AC;
// The longest FLAC frame header: sync and flags (4 bytes), a 7-byte coded
// frame number, a 16-bit block size, a 16-bit rate, the CRC-8.
constexpr int32_t kFlacHeaderBytes = 16;
constexpr int64_t kHundredNsPerSecond = 10000000;
// Clusters starting more than this after a block (100 ns units, 30 s) are
// not searched for the block's successor: a track that pauses or ends must
// not make one frame read the rest of the file.
constexpr int64_t kLookAheadSpan = 300000000;

uint32_t LoadLE(const uint8_t* at, size_t size)
{
    uint32_t value = 0;
    for (size_t k = size; k-- > 0;) {
        value = value << 8 | at[k];
    }
    return value;
}

// Samples in the FLAC frame whose first `size` bytes are at `h`, from its
// header; 0 when the header does not read cleanly (sync code, reserved
// values, the UTF-8 coded frame number, its CRC-8).
int64_t FlacBlockSize(const uint8_t* h, int32_t size)
{
    if (size < 6 || h[0] != 0xFF || (h[1] & 0xFE) != 0xF8 || (h[3] & 1) != 0 || (h[3] >> 4) > 10 ||
        ((h[3] >> 1) & 7) == 3) {
        return 0;
    }
    const int32_t sizeCode = h[2] >> 4;
    const int32_t rateCode = h[2] & 15;
    int32_t ones = 0; // leading one bits: the coded number's length in bytes (none: 1)
    while (ones < 8 && (h[4] & (0x80 >> ones)) != 0) {
        ++ones;
    }
    if (ones == 1 || ones == 8 || sizeCode == 0 || rateCode == 15) {
        return 0;
    }
    int32_t at = 4 + std::max(ones, 1);
    const int32_t sizeBytes = sizeCode == 6 ? 1 : sizeCode == 7 ? 2 : 0;
    if (at + sizeBytes >= size) {
        return 0;
    }
    int64_t blockSize = 0;
    if (sizeBytes > 0) {
        blockSize = (sizeBytes == 1 ? h[at] : (h[at] << 8 | h[at + 1])) + 1;
    } else {
        blockSize = sizeCode == 1 ? 192 : sizeCode <= 5 ? 576 << (sizeCode - 2) : 256 << (sizeCode - 8);
    }
    at += sizeBytes + (rateCode == 12 ? 1 : rateCode >= 13 ? 2 : 0);
    if (at >= size) {
        return 0;
    }
    uint32_t crc = 0; // CRC-8, polynomial x^8 + x^2 + x + 1
    for (int32_t k = 0; k < at; ++k) {
        crc ^= h[k];
        for (int32_t bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80) != 0 ? ((crc << 1) ^ 0x107) : crc << 1;
        }
    }
    return crc == h[at] ? blockSize : 0;
}

int64_t AddSaturated(int64_t a, int64_t b)
{
    if (b > 0 && a > INT64_MAX - b) {
        return INT64_MAX;
    }
    if (b < 0 && a < INT64_MIN - b) {
        return INT64_MIN;
    }
    return a + b;
}

// to - from for from < to, held at INT64_MAX when the difference is larger.
int64_t SpanBetween(int64_t from, int64_t to)
{
    if (to <= from) {
        return 0;
    }
    if (from < 0 && to > INT64_MAX + from) {
        return INT64_MAX;
    }
    return to - from;
}

// k * span / divisor, rounded down, for k, span >= 0 and divisor >= 1,
// without overflow (saturating).
int64_t ScaledSpan(int64_t k, int64_t span, int64_t divisor)
{
    int64_t whole = span / divisor;
    int64_t rest = span % divisor;
    if (k > 0 && whole > INT64_MAX / k / 2) {
        return INT64_MAX / 2;
    }
    return whole * k + rest * k / divisor;
}

} // namespace

int64_t KelmMKVDemux::FrameTiming::Start(int32_t k) const
{
    return AddSaturated(time, ScaledSpan(k, span, divisor));
}

int64_t KelmMKVDemux::BlockTime(const EBMLSegment& segment, const EBMLCluster& cluster, const EBMLBlock& block)
{
    // A signed sum: a negative relative timecode gives an earlier time. The
    // cluster timecode is at most INT64_MAX, so only the sum needs a guard.
    return segment.GetRefTime(AddSaturated(static_cast<int64_t>(cluster.timecode), block.relativeTimecode));
}

bool KelmMKVDemux::IsKeyFrame(const EBMLBlockGroup& group, const EBMLBlock& block)
{
    // A SimpleBlock says so itself; a Block is a key frame when flagged or
    // when its group references no other block.
    return block.simple ? block.keyFrame : (block.keyFrame || group.IsKeyGroup());
}

KelmMKVDemux::BlockBytes KelmMKVDemux::SplitBlock(CBitStreamParser* parser, EBMLBlock& block)
{
    // The headers are a few bytes; a long Xiph or EBML lace header asks for
    // more, up to the whole payload.
    const uint64_t payload = block.dataSize;
    auto wanted = static_cast<int32_t>(std::min<uint64_t>(payload, kLaceHeadBytes));
    for (;;) {
        if (laceHead.size() < static_cast<size_t>(wanted)) {
            laceHead.resize(static_cast<size_t>(wanted));
        }
        if (parser->ReadAt(block.dataPosition, wanted, laceHead.data()) != wanted) {
            // Past where the source ends for now, the block is still being
            // written; before it, bytes are missing and the block is passed over.
            block.DropFrames();
            return block.dataPosition + wanted > parser->GetFileLength() ? BlockBytes::NotYet : BlockBytes::Damaged;
        }
        EBMLBlock::Split split = block.SplitLaces(laceHead.data(), static_cast<uint32_t>(wanted), payload);
        if (split == EBMLBlock::Split::Done) {
            return BlockBytes::Ready;
        }
        if (split == EBMLBlock::Split::Damaged || static_cast<uint64_t>(wanted) >= payload || wanted >= kLaceHeadLimit) {
            block.DropFrames();
            return BlockBytes::Damaged;
        }
        wanted = static_cast<int32_t>(std::min<uint64_t>({payload, static_cast<uint64_t>(wanted) * 4,
                                                          static_cast<uint64_t>(kLaceHeadLimit)}));
    }
}

KelmMKVDemux::BlockBytes KelmMKVDemux::DeliverFrame(const _tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor,
                                                    unsigned char* dest, int32_t capacity, int32_t& size)
{
    const EBMLBlock& block = *cursor.block;
    const EBMLBlock::_BLOCK_INFO frame = block.FrontFrame();
    const int64_t position = block.dataPosition + frame.offset;
    // A stripped header goes back in front of the frame's stored bytes.
    const int32_t prefix = record.framePrefixLength;
    if (frame.size > capacity - prefix) {
        return BlockBytes::Damaged; // larger than the host's buffer: not copied
    }
    const int32_t whole = prefix + frame.size;
    if (prefix > 0) {
        std::memcpy(dest, record.framePrefix, static_cast<size_t>(prefix));
    }
    if (cursor.parser->ReadAt(position, frame.size, dest + prefix) != frame.size) {
        // Past where the source ends for now: still being written.
        return position + frame.size > cursor.parser->GetFileLength() ? BlockBytes::NotYet : BlockBytes::Damaged;
    }
    if (!record.lengthPrefixedNalUnits) {
        size = whole;
        return BlockBytes::Ready;
    }
    return ReconstructH264Sample(size, dest, capacity, whole, record.nalLengthSizeMinusOne) ? BlockBytes::Ready
                                                                                             : BlockBytes::Damaged;
}

bool KelmMKVDemux::NextFrameTime(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment,
                                 CBitStreamParser* parser, BlockRef at, int64_t time, int32_t frames,
                                 const std::vector<int64_t>& earlier, int64_t& next, BlockRef* successor,
                                 bool& stopped)
{
    bool found = false;
    next = INT64_MAX;
    const bool reordered = record.trackEntry->trackType.value == kTrackTypeVideo;
    if (frames == 1 && reordered) {
        for (int64_t t : earlier) {
            if (t > time && t < next) {
                next = t;
                found = true;
            }
        }
    }
    const uint32_t trackNumber = record.trackEntry->trackNumber;
    int32_t seen = 0;
    int32_t passed = 0;
    const int64_t horizon = AddSaturated(time, kLookAheadSpan);
    BlockRef from = at;
    from.block += 1;
    stopped = WalkBlocks(segment, parser, from, [&](BlockRef ref, EBMLCluster& c, EBMLBlockGroup&, EBMLBlock& b) {
        if (ref.cluster != at.cluster && segment.GetRefTime(c.timecode) > horizon) {
            return false;
        }
        if (b.trackNumber != trackNumber) {
            return ++passed < kLookAheadBlocks;
        }
        int64_t t = BlockTime(segment, c, b);
        if (t > time && t < next) {
            next = t;
            found = true;
            if (successor != nullptr) {
                *successor = ref;
            }
        }
        // Only video is stored out of presentation order: for any other
        // track the first later frame is the next one shown.
        return frames == 1 && !(found && !reordered) && ++seen < kPresentationLookAhead;
    });
    return found;
}

KelmMKVDemux::FrameTiming KelmMKVDemux::TimeFrames(const _tagMKVTrackIndexMeta& record, EBMLSegment& segment,
                                                   CBitStreamParser* parser, BlockRef at,
                                                   const std::vector<int64_t>& earlier, int64_t previousDuration,
                                                   bool* incomplete, BlockRef* successor)
{
    if (incomplete != nullptr) {
        *incomplete = false;
    }
    if (successor != nullptr) {
        *successor = BlockRef{};
    }
    FrameTiming timing;
    Located located;
    if (!SettleOnBlock(segment, parser, at, &located)) {
        return timing;
    }
    const EBMLBlock& block = *located.block;
    const int32_t frames = std::max(block.frameCount, 1);
    timing.time = BlockTime(segment, *located.cluster, block);

    if (located.group->hasBlockDuration) {
        timing.span = segment.GetRefTime(static_cast<int64_t>(located.group->blockDuration));
        timing.divisor = frames;
        return timing;
    }
    if (TimeFramesBySamples(record, parser, block, timing)) {
        return timing;
    }
    if (record.trackEntry->defaultDuration > 0) {
        // Nanoseconds per frame.
        timing.span = static_cast<int64_t>(record.trackEntry->defaultDuration);
        timing.divisor = 100;
        return timing;
    }

    // The gap to the next block of the track (laced frames share it), or to
    // the next frame in presentation order among the following blocks.
    int64_t next = 0;
    bool stopped = false;
    const bool found =
        NextFrameTime(record, segment, parser, at, timing.time, frames, earlier, next, successor, stopped);
    if (found) {
        timing.span = SpanBetween(timing.time, next);
        timing.divisor = frames;
    } else {
        timing.span = std::max<int64_t>(previousDuration, 0);
        timing.divisor = 1;
    }
    if (incomplete != nullptr) {
        // The blocks that settle the duration may not be written yet.
        *incomplete = !stopped && SegmentMayGrow(segment);
    }
    return timing;
}

bool KelmMKVDemux::TimeFramesBySamples(const _tagMKVTrackIndexMeta& record, CBitStreamParser* parser,
                                       const EBMLBlock& block, FrameTiming& timing)
{
    const auto* wave = static_cast<const uint8_t*>(record.format.header);
    if (record.format.mediaType != ZOLVDMX_MEDIA_AUDIO || wave == nullptr) {
        return false;
    }
    const uint32_t tag = LoadLE(wave + offsetof(ZOLVDMX_WAVEFORMATEX_T, wFormatTag), 2);
    const int64_t channels = LoadLE(wave + offsetof(ZOLVDMX_WAVEFORMATEX_T, nChannels), 2);
    const int64_t rate = LoadLE(wave + offsetof(ZOLVDMX_WAVEFORMATEX_T, nSamplesPerSec), 4);
    const int64_t bits = LoadLE(wave + offsetof(ZOLVDMX_WAVEFORMATEX_T, wBitsPerSample), 2);
    const bool pcm = tag == kWaveFormatPcm || tag == kWaveFormatFloat || record.trackEntry->codecID.Find("A_PCM/") >= 0;
    const bool flac = record.format.codec == kCodecFlac;
    if ((!pcm && !flac) || rate <= 0) {
        return false;
    }
    // The frames as split for delivery, or laid out here once (a seek times
    // blocks it has not read).
    EBMLBlock probe;
    const EBMLBlock* laidOut = &block;
    if (block.infos.empty()) {
        probe.dataPosition = block.dataPosition;
        probe.dataSize = block.dataSize;
        if (SplitBlock(parser, probe) != BlockBytes::Ready) {
            return false;
        }
        laidOut = &probe;
    }
    const std::vector<EBMLBlock::_BLOCK_INFO>& frames = laidOut->infos;
    if (pcm) {
        // Frames of whole sample frames; laced ones share the block's span evenly.
        const int64_t align = channels * ((bits + 7) / 8);
        int64_t bytes = 0;
        for (const EBMLBlock::_BLOCK_INFO& frame : frames) {
            bytes += frame.size; // at most 256 frames below 2^31 bytes
        }
        int64_t divisor = 0;
        if (align == 0 || __builtin_mul_overflow(align * rate, static_cast<int64_t>(frames.size()), &divisor)) {
            return false;
        }
        timing.span = bytes * kHundredNsPerSecond;
        timing.divisor = divisor;
        return true;
    }
    // FLAC: one frame a block, its samples in its header.
    if (frames.size() != 1) {
        return false;
    }
    uint8_t header[kFlacHeaderBytes];
    const int32_t wanted = std::min(frames[0].size, kFlacHeaderBytes);
    const int32_t got = parser->ReadAt(block.dataPosition + frames[0].offset, wanted, header);
    const int64_t samples = FlacBlockSize(header, got == wanted ? wanted : 0);
    if (samples == 0) {
        return false;
    }
    timing.span = samples * kHundredNsPerSecond;
    timing.divisor = rate;
    return true;
}

KelmMKVDemux::BlockBytes KelmMKVDemux::NextBlockOf(const _tagMKVTrackIndexMeta& record, _tagMKVReadCursor& cursor,
                                                   BlockRef& at, Located& found)
{
    EBMLSegment& segment = *cursor.segment;
    CBitStreamParser* parser = cursor.parser;
    const uint32_t trackNumber = record.trackEntry->trackNumber;
    BlockRef from{cursor.clusterIndex, cursor.groupPosition, cursor.blockIndex};
    if (from.cluster < 0) {
        EBMLCluster* first = segment.FirstCluster();
        from = BlockRef{first != nullptr ? first->index : -1, -1, 0};
    }
    BlockBytes state = BlockBytes::Damaged; // nothing found
    WalkBlocks(segment, parser, from, [&](BlockRef ref, EBMLCluster& cluster, EBMLBlockGroup& group, EBMLBlock& block) {
        if (block.trackNumber != trackNumber) {
            return true;
        }
        state = SplitBlock(parser, block);
        if (state == BlockBytes::Damaged) {
            return true;
        }
        at = ref;
        found = Located{&cluster, &group, &block};
        return false;
    });
    return state;
}

void KelmMKVDemux::StandOn(_tagMKVReadCursor& cursor, BlockRef at, const Located& found, BlockRef successor)
{
    const EBMLSegment& segment = *cursor.segment;
    cursor.cluster = found.cluster;
    cursor.group = found.group;
    cursor.block = found.block;
    cursor.clusterIndex = at.cluster;
    cursor.groupIndex = found.cluster->GroupAt(at.group);
    cursor.groupPosition = at.group;
    cursor.blockIndex = at.block + 1;
    cursor.clusterCount = static_cast<int32_t>(segment.clusters.size());
    cursor.groupCount = static_cast<int32_t>(found.cluster->blockGroups.size());
    cursor.blockCount = static_cast<int32_t>(found.group->blocks.size());
    cursor.nextCluster = nullptr;
    cursor.nextBlock = nullptr;
    cursor.nextClusterIndex = successor.cluster;
    cursor.nextGroupIndex = -1;
    cursor.nextBlockIndex = successor.block;
    cursor.nextClusterCount = cursor.clusterCount;
    cursor.nextGroupCount = 0;
    cursor.nextBlockCount = 0;
    if (successor.cluster >= 0) {
        EBMLCluster& next = *segment.clusters[static_cast<size_t>(successor.cluster)];
        int32_t g = next.GroupAt(successor.group);
        if (g >= 0 && static_cast<size_t>(successor.block) < next.blockGroups[static_cast<size_t>(g)]->blocks.size()) {
            const EBMLBlockGroup& group = *next.blockGroups[static_cast<size_t>(g)];
            cursor.nextCluster = &next;
            cursor.nextBlock = group.blocks[static_cast<size_t>(successor.block)].get();
            cursor.nextGroupIndex = g;
            cursor.nextGroupCount = static_cast<int32_t>(next.blockGroups.size());
            cursor.nextBlockCount = static_cast<int32_t>(group.blocks.size());
        }
    }
}

uint32_t KelmMKVDemux::FindSamples(int32_t track)
{
    _tagMKVTrackIndexMeta& record = tracks[static_cast<size_t>(track)];
    _tagMKVReadCursor* chosen = CursorFor(record.trackEntry->trackType);
    if (chosen == nullptr) {
        return ZOLVDMX_E_NOTIMPL;
    }
    _tagMKVReadCursor& cursor = *chosen;
    if (cursor.segment == nullptr) {
        return ZOLVDMX_END_OF_TRACK;
    }
    EBMLSegment& segment = *cursor.segment;
    // A cursor at the end goes on where it stopped when the source has
    // grown since (a file still being written).
    if (cursor.ended && !RefreshSource(segment)) {
        return ZOLVDMX_END_OF_TRACK;
    }
    cursor.ended = false;
    BlockRef at;
    Located found;
    for (bool asked = false;; asked = true) {
        BlockBytes state = NextBlockOf(record, cursor, at, found);
        if (state == BlockBytes::Ready) {
            break;
        }
        if (state == BlockBytes::NotYet) {
            // The block is still being written: read again from it.
            cursor.clusterIndex = at.cluster;
            cursor.groupPosition = at.group;
            cursor.blockIndex = at.block;
        }
        // Out of blocks: before answering the end, whether the source has grown.
        if (asked || !RefreshSource(segment)) {
            PlaceCursorAtEnd(cursor, true);
            return ZOLVDMX_END_OF_TRACK;
        }
    }
    if (cursor.skipFrames > 0 && at.cluster == cursor.landing.cluster && at.group == cursor.landing.group &&
        at.block == cursor.landing.block) {
        // The frames of the seek's landing block before the requested time.
        for (int32_t k = 0; k < cursor.skipFrames && found.block->DataCount() > 1; ++k) {
            found.block->PopSample();
        }
    }
    cursor.skipFrames = 0;
    cursor.cluster = found.cluster; // pinned from here on
    // The frames' duration may need blocks a file still being written has not
    // got yet: asked for again while the source grows.
    bool incomplete = false;
    BlockRef successor;
    CBitStreamParser* parser = cursor.parser;
    FrameTiming timing = TimeFrames(record, segment, parser, at, record.recentBlockTimes, record.lastFrameDuration,
                                    &incomplete, &successor);
    for (int asked = 0; incomplete && asked < kGrowthRetries && RefreshSource(segment); ++asked) {
        timing = TimeFrames(record, segment, parser, at, record.recentBlockTimes, record.lastFrameDuration,
                            &incomplete, &successor);
    }
    StandOn(cursor, at, found, successor);
    record.recentBlockTimes.push_back(timing.time);
    if (record.recentBlockTimes.size() > static_cast<size_t>(kPresentationLookAhead)) {
        record.recentBlockTimes.erase(record.recentBlockTimes.begin());
    }
    cursor.blockTime = timing.time;
    cursor.frameSpan = timing.span;
    cursor.frameSpanDivisor = timing.divisor;
    return ZOLVDMX_OK;
}

uint32_t KelmMKVDemux::GetNextMediaSample(int32_t track, unsigned char* dest, int32_t capacity, int32_t& size,
                                          int64_t& start, int64_t& duration, bool& key)
{
    _tagMKVTrackIndexMeta& record = tracks[static_cast<size_t>(track)];
    const EBMLTrackEntry* entry = record.trackEntry;
    uint64_t trackType = entry->trackType;
    _tagMKVReadCursor* found = CursorFor(trackType);
    if (found == nullptr) {
        return ZOLVDMX_E_UNSUPPORTED;
    }
    _tagMKVReadCursor& cursor = *found;
    if (cursor.block != nullptr && (cursor.block->trackNumber != entry->trackNumber || !cursor.block->HasFrames())) {
        // The shared cursor stands on another track of this media type: that
        // block is dropped and the search goes on for this track.
        cursor.block->DropFrames();
        cursor.block = nullptr;
        cursor.group = nullptr;
    }
    if (cursor.block == nullptr && FindSamples(track) != ZOLVDMX_OK) {
        return ZOLVDMX_END_OF_TRACK;
    }

    EBMLBlock& block = *cursor.block;
    const int32_t index = block.frameCount - block.DataCount();
    FrameTiming timing;
    timing.time = cursor.blockTime;
    timing.span = cursor.frameSpan;
    timing.divisor = cursor.frameSpanDivisor;
    start = timing.Start(index);
    duration = SpanBetween(start, timing.Start(index + 1));

    BlockBytes delivered = DeliverFrame(record, cursor, dest, capacity, size);
    if (delivered == BlockBytes::NotYet && RefreshSource(*cursor.segment)) {
        delivered = DeliverFrame(record, cursor, dest, capacity, size);
    }
    if (delivered == BlockBytes::NotYet) {
        // The frame is still being written: it is delivered by a later call.
        NotePendingRead(cursor);
        return ZOLVDMX_END_OF_TRACK;
    }
    const uint32_t result = delivered == BlockBytes::Ready ? ZOLVDMX_OK : ZOLVDMX_E_FAIL;

    if (result == ZOLVDMX_OK) {
        key = trackType == kTrackTypeVideo && cursor.group != nullptr && IsKeyFrame(*cursor.group, block);
    }

    // The frame is consumed whether or not it could be delivered, so a frame
    // that cannot be delivered is reported once and the next call moves on.
    block.PopSample();
    record.lastFrameDuration = duration;
    if (!block.HasFrames()) {
        cursor.block = nullptr;
        cursor.group = nullptr;
    }
    NotePendingRead(cursor);
    return result;
}

void KelmMKVDemux::NotePendingRead(_tagMKVReadCursor& cursor)
{
    // The next frame of the cursor's block, or the next block header, which
    // its listing has reached: the other cursor reads through rather than
    // skip over these bytes.
    ReadAheadStreamParser* stream = cursor.parser;
    if (cursor.block != nullptr && cursor.block->HasFrames()) {
        stream->SetPendingFrom(cursor.block->dataPosition + cursor.block->FrontFrame().offset);
    } else {
        stream->SetPendingFrom(cursor.ended ? -1 : stream->Tell());
    }
}
