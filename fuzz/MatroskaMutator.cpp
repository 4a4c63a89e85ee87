// The structure-aware mutator: an EBML tree reader and writer of its own
// (the fuzz target sees the library only through its C interface; the
// variable-length integer helpers come inline from the element header), the
// mutations, and the repair of cue and seek positions. The tree is one
// array of nodes linked by index, whose payloads point into the input, so
// that reading and writing a 64 KB input costs a few allocations: the
// mutator runs once per execution and must stay cheap beside it.
#include "MatroskaMutator.h"

#include "ebml/EBML.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

// libFuzzer's own byte-level mutation, the fallback.
extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace fuzzmutate {

namespace {

using Bytes = std::vector<uint8_t>;

// Element IDs as written in files.
enum : uint32_t {
    kEbml = 0x1A45DFA3, kSegment = 0x18538067, kSeekHead = 0x114D9B74, kSeek = 0x4DBB, kSeekId = 0x53AB,
    kSeekPosition = 0x53AC, kInfo = 0x1549A966, kTimecodeScale = 0x2AD7B1, kDuration = 0x4489,
    kTracks = 0x1654AE6B, kTrackEntry = 0xAE, kTrackNumber = 0xD7, kDefaultDuration = 0x23E383,
    kTrackTimecodeScale = 0x23314F, kSamplingFrequency = 0xB5, kOutputSamplingFrequency = 0x78B5,
    kFrameRate = 0x2383E3, kGammaValue = 0x2FB523, kCluster = 0x1F43B675, kTimecode = 0xE7, kBlockGroup = 0xA0,
    kBlock = 0xA1, kSimpleBlock = 0xA3, kBlockDuration = 0x9B, kReferenceBlock = 0xFB, kCues = 0x1C53BB6B,
    kCuePoint = 0xBB, kCueTime = 0xB3, kCueTrackPositions = 0xB7, kCueTrack = 0xF7, kCueClusterPosition = 0xF1,
    kCueRelativePosition = 0xF0, kChapters = 0x1043A770, kAttachments = 0x1941A469, kTags = 0x1254C367,
    kVoid = 0xEC, kCrc32 = 0xBF,
};

// Masters: their payload is read as children.
constexpr uint32_t kMasterIds[] = {
    kEbml, kSegment, kSeekHead, kSeek, kInfo, 0x6924 /* ChapterTranslate */, kTracks, kTrackEntry,
    0xE0 /* Video */, 0xE1 /* Audio */, 0x6D80 /* ContentEncodings */, 0x6240 /* ContentEncoding */,
    0x5034 /* ContentCompression */, 0x5035 /* ContentEncryption */, 0x6624 /* TrackTranslate */,
    0xE2 /* TrackOperation */, 0x55B0 /* Colour */, kCluster, 0x5854 /* SilentTracks */, kBlockGroup,
    0x75A1 /* BlockAdditions */, 0xA6 /* BlockMore */, 0x8E /* Slices */, 0xE8 /* TimeSlice */, kCues, kCuePoint,
    kCueTrackPositions, 0xDB /* CueReference */, kChapters, 0x45B9 /* EditionEntry */, 0xB6 /* ChapterAtom */,
    0x8F /* ChapterTrack */, 0x80 /* ChapterDisplay */, kTags, 0x7373 /* Tag */, 0x63C0 /* Targets */,
    0x67C8 /* SimpleTag */, kAttachments, 0x61A7 /* AttachedFile */, 0x1B538667 /* SignatureSlot */,
    0x7E5B /* SignatureElements */, 0x7E7B /* SignatureElementList */,
};

// Values, the pool (with the masters) a changed ID is drawn from.
constexpr uint32_t kValueIds[] = {
    0x4286, 0x42F7, 0x42F2, 0x42F3, 0x4282, 0x4287, 0x4285, kSeekId, kSeekPosition, 0x73A4, kTimecodeScale,
    kDuration, 0x4461, 0x7BA9, 0x4D80, 0x5741, kTrackNumber, 0x73C5, 0x83, 0xB9, 0x88, 0x55AA, 0x9C,
    kDefaultDuration, kTrackTimecodeScale, 0x536E, 0x22B59C, 0x86, 0x63A2, 0x258688, 0xAA, 0x56AA, 0x56BB,
    0x9A, 0x53B8, 0xB0, 0xBA, 0x54AA, 0x54BB, 0x54CC, 0x54DD, 0x54B0, 0x54BA, 0x54B2, 0x54B3, kFrameRate,
    kSamplingFrequency, kOutputSamplingFrequency, 0x9F, 0x6264, 0x5031, 0x5032, 0x5033, 0x4254, 0x4255, 0x47E1,
    0x47E2, kTimecode, kSimpleBlock, kBlock, 0xA7, 0xAB, 0xAF, kBlockDuration, 0xFA, kReferenceBlock, 0xFD,
    0xA4, 0x75A2, 0xEE, 0xA5, kCueTime, kCueTrack, kCueClusterPosition, kCueRelativePosition, 0xB2, 0x5378,
    0x45BC, 0x73C4, 0x91, 0x92, 0x85, 0x45A3, 0x4487, 0x466E, 0x4660, 0x465C, 0x46AE, kVoid, kCrc32,
};

// Values read as floats.
constexpr uint32_t kFloatIds[] = {kDuration, kSamplingFrequency, kOutputSamplingFrequency, kFrameRate, kGammaValue,
                                  kTrackTimecodeScale};

// Values that are times, durations, scales or positions: the values the
// delivery and seeking arithmetic works on.
constexpr uint32_t kTimeIds[] = {kTimecode,      kCueTime,          kBlockDuration,       kDefaultDuration,
                                 kTimecodeScale, kReferenceBlock,   kCueClusterPosition,  kSeekPosition,
                                 kDuration,      kCueRelativePosition, kTrackNumber,      kCueTrack};

// Elements that are worth repeating many times.
constexpr uint32_t kRepeatIds[] = {kCluster, kSimpleBlock, kBlockGroup, kCuePoint, kSeek, kTrackEntry, kVoid};

// Children of a Segment, and the two IDs above them: where an element of
// unknown size ends.
constexpr uint32_t kTopLevelIds[] = {kEbml,  kSegment, kSeekHead, kInfo, kTracks,
                                     kCluster, kCues,  kChapters, kTags, kAttachments};

// Numbers at the edges of the widths the library computes in.
constexpr uint64_t kBoundaries[] = {0,          1,          2,           0x7F,       0x80,
                                    0xFF,       0x100,      0x3FFF,      0x7FFF,     0x8000,
                                    0xFFFF,     0x10000,    0x7FFFFFFF,  0x80000000, 0xFFFFFFFF,
                                    0x100000000, 0x7FFFFFFFFFFFFFFF, 0x8000000000000000,
                                    0xFFFFFFFFFFFFFFFF, 1000000, 1000000000, 15000000};

template <size_t N>
bool In(const uint32_t (&ids)[N], uint32_t id)
{
    return std::find(std::begin(ids), std::end(ids), id) != std::end(ids);
}

// Masters nest at most this deep when read; deeper ones are kept as values,
// so a long run of master headers cannot exhaust the stack.
constexpr int kMaxDepth = 12;
// Copies of a repeated element whose positions the cue repair considers.
constexpr uint32_t kPlacedCopies = 256;

// The low `length` bytes of value, most significant first, appended to out.
void PutBigEndian(uint64_t value, int length, Bytes& out)
{
    for (int k = length - 1; k >= 0; --k) {
        out.push_back(static_cast<uint8_t>(value >> (8 * k)));
    }
}

Bytes BigEndian(uint64_t value, int length)
{
    Bytes out;
    PutBigEndian(value, length, out);
    return out;
}

uint64_t FromBigEndian(const uint8_t* bytes, size_t length)
{
    uint64_t value = 0;
    for (size_t k = 0; k < length && k < 8; ++k) {
        value = (value << 8) | bytes[k];
    }
    return value;
}

int MinimalLength(uint64_t value)
{
    int length = 1;
    while (length < 8 && (value >> (8 * length)) != 0) {
        ++length;
    }
    return length;
}

int IdLength(uint32_t id)
{
    return id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
}

// ---- The tree ----------------------------------------------------------

constexpr int32_t kNone = -1;

struct Node {
    uint32_t id = 0;          // as written, first byte most significant; 0: bytes that are no element
    uint8_t idLength = 0;     // bytes of the ID
    uint8_t sizeLength = 1;   // bytes of the size field as written, kept while the size fits
    bool unknownSize = false;
    bool master = false;      // the children are the payload
    bool sizeLie = false;     // the size field says liedSize, whatever the payload's length
    uint64_t liedSize = 0;
    const uint8_t* payload = nullptr; // a value's payload, in the input or in the tree's own store
    size_t payloadLength = 0;
    int32_t firstChild = kNone;
    int32_t next = kNone;
    uint32_t copies = 1;      // written this many times in a row...
    uint64_t timeStep = 0;    // ...each carrying a time this much later than the one before
    uint64_t body = 0;        // payload bytes of one copy, from Measure()
    uint64_t encoded = 0;     // bytes of all copies, from Measure()
};

// Where a node lies: its parent and the sibling before it (kNone for the
// first child), so that it can be unlinked.
struct Site {
    int32_t node;
    int32_t parent;
    int32_t previous;
};

class Tree {
public:
    // Reads the input as elements where it can; what cannot be read stays
    // as bytes. Node 0 is the root, whose children are the top level. The
    // nodes live in `storage`, kept from one input to the next, so that a
    // large input does not map and unmap its nodes' memory every time.
    Tree(const uint8_t* bytes, size_t size, std::vector<Node>& storage) : nodes(storage), data(bytes)
    {
        nodes.clear();
        Node root;
        root.master = true;
        nodes.push_back(root);
        ReadRange(0, size, 0, 0, 0);
    }

    std::vector<Node>& nodes;

    Node& operator[](int32_t index) { return nodes[static_cast<size_t>(index)]; }
    const Node& operator[](int32_t index) const { return nodes[static_cast<size_t>(index)]; }

    int32_t Add(const Node& node)
    {
        nodes.push_back(node);
        return static_cast<int32_t>(nodes.size() - 1);
    }

    int32_t AddValue(uint32_t id, Bytes payload)
    {
        Node node;
        node.id = id;
        node.idLength = static_cast<uint8_t>(IdLength(id));
        const int32_t index = Add(node);
        SetPayload(index, std::move(payload));
        return index;
    }

    int32_t AddUInt(uint32_t id, uint64_t value) { return AddValue(id, BigEndian(value, MinimalLength(value))); }

    int32_t AddMaster(uint32_t id, std::initializer_list<int32_t> children)
    {
        Node node;
        node.id = id;
        node.idLength = static_cast<uint8_t>(IdLength(id));
        node.master = true;
        const int32_t index = Add(node);
        int32_t last = kNone;
        for (int32_t child : children) {
            (last == kNone ? (*this)[index].firstChild : (*this)[last].next) = child;
            last = child;
        }
        return index;
    }

    void SetPayload(int32_t index, Bytes payload)
    {
        store.push_back(std::move(payload));
        (*this)[index].payload = store.back().data();
        (*this)[index].payloadLength = store.back().size();
    }

    Bytes Payload(int32_t index) const
    {
        const Node& node = (*this)[index];
        return Bytes(node.payload, node.payload + node.payloadLength);
    }

    // A copy of a subtree (of this tree or another one that outlives the
    // write), its root unlinked from any siblings.
    int32_t CopyFrom(const Tree& from, int32_t index)
    {
        Node copy = from[index];
        copy.next = kNone;
        copy.firstChild = kNone;
        const int32_t root = Add(copy);
        int32_t last = kNone;
        for (int32_t child = from[index].firstChild; child != kNone; child = from[child].next) {
            const int32_t copied = CopyFrom(from, child);
            (last == kNone ? (*this)[root].firstChild : (*this)[last].next) = copied;
            last = copied;
        }
        return root;
    }

    int32_t FindChild(int32_t parent, uint32_t id) const
    {
        for (int32_t child = (*this)[parent].firstChild; child != kNone; child = (*this)[child].next) {
            if ((*this)[child].id == id) {
                return child;
            }
        }
        return kNone;
    }

    uint64_t ValueOf(int32_t index) const
    {
        return index == kNone || (*this)[index].master ? 0
                                                       : FromBigEndian((*this)[index].payload, (*this)[index].payloadLength);
    }

    // Every node below the root in document order, into `sites`.
    void Sites(std::vector<Site>& sites) const
    {
        sites.clear();
        CollectSites(0, sites);
    }

    void Unlink(const Site& site)
    {
        const int32_t after = (*this)[site.node].next;
        (site.previous == kNone ? (*this)[site.parent].firstChild : (*this)[site.previous].next) = after;
        (*this)[site.node].next = kNone;
    }

    // Links `node` in as the `position`-th child of `parent` (at the end
    // when there are fewer).
    void LinkInto(int32_t parent, int32_t node, size_t position)
    {
        int32_t previous = kNone;
        int32_t at = (*this)[parent].firstChild;
        for (; at != kNone && position > 0; --position) {
            previous = at;
            at = (*this)[at].next;
        }
        (*this)[node].next = at;
        (previous == kNone ? (*this)[parent].firstChild : (*this)[previous].next) = node;
    }

    // Works out the body and encoded size of every node below `index`.
    uint64_t Measure(int32_t index = 0)
    {
        uint64_t body = 0;
        if ((*this)[index].master) {
            for (int32_t child = (*this)[index].firstChild; child != kNone; child = (*this)[child].next) {
                body += Measure(child);
            }
        } else {
            body = (*this)[index].payloadLength;
        }
        Node& node = (*this)[index];
        node.body = body;
        const uint64_t one = node.id == 0 ? body : node.idLength + SizeFieldLength(node, SizeValue(node)) + body;
        node.encoded = one * node.copies;
        return node.encoded;
    }

    // The document, into `out`; Measure() first.
    void Write(Bytes& out) const
    {
        out.clear();
        for (int32_t child = (*this)[0].firstChild; child != kNone; child = (*this)[child].next) {
            Write(child, out);
        }
    }

    // The size field's length: as written when the value fits, else the
    // shortest that holds it (an all-ones value would read as unknown).
    static int SizeFieldLength(const Node& node, uint64_t value)
    {
        if (node.unknownSize) {
            return node.sizeLength;
        }
        int length = std::max<int>(node.sizeLength, 1);
        while (length < 8 && value >= EBML::VintAllOnes(length)) {
            ++length;
        }
        return length;
    }

    static uint64_t SizeValue(const Node& node)
    {
        if (node.unknownSize) {
            return EBML::VintAllOnes(node.sizeLength);
        }
        return node.sizeLie ? std::min(node.liedSize, EBML::VintAllOnes(8) - 1) : node.body;
    }

private:
    void CollectSites(int32_t parent, std::vector<Site>& sites) const
    {
        int32_t previous = kNone;
        for (int32_t child = (*this)[parent].firstChild; child != kNone; child = (*this)[child].next) {
            sites.push_back(Site{child, parent, previous});
            if ((*this)[child].master) {
                CollectSites(child, sites);
            }
            previous = child;
        }
    }

    // Reads the elements in [begin, limit) as children of `parent`. Inside
    // an element of unknown size (`unknownParent` its ID), reading stops at
    // an element that cannot be its child. Returns where reading stopped.
    size_t ReadRange(size_t begin, size_t limit, int depth, uint32_t unknownParent, int32_t parent)
    {
        size_t at = begin;
        int32_t last = kNone;
        auto append = [this, parent, &last](const Node& node) {
            const int32_t index = Add(node);
            (last == kNone ? (*this)[parent].firstChild : (*this)[last].next) = index;
            last = index;
            return index;
        };
        while (at < limit) {
            Node node;
            uint64_t size = 0;
            int sizeLength = 0;
            if (!ReadHeader(at, limit, node, size, sizeLength)) {
                append(Raw(at, limit));
                return limit;
            }
            if (unknownParent != 0 && EndsUnknown(unknownParent, node.id)) {
                return at;
            }
            const size_t payloadStart = at + node.idLength + static_cast<size_t>(sizeLength);
            if (!node.unknownSize && size > limit - payloadStart) {
                append(Raw(at, limit));
                return limit;
            }
            size_t payloadEnd = node.unknownSize ? limit : payloadStart + static_cast<size_t>(size);
            if (In(kMasterIds, node.id) && depth < kMaxDepth) {
                node.master = true;
                const int32_t index = append(node);
                payloadEnd = ReadRange(payloadStart, payloadEnd, depth + 1, node.unknownSize ? node.id : 0, index);
            } else {
                node.payload = data + payloadStart;
                node.payloadLength = payloadEnd - payloadStart;
                append(node);
            }
            at = payloadEnd;
        }
        return at;
    }

    static bool EndsUnknown(uint32_t parent, uint32_t id)
    {
        if (parent == kSegment) {
            return id == kSegment || id == kEbml;
        }
        return In(kTopLevelIds, id) || id == parent;
    }

    bool ReadHeader(size_t at, size_t limit, Node& node, uint64_t& size, int& sizeLength) const
    {
        const int idLength = EBML::VintLength(data[at]);
        if (idLength == 0 || idLength > 4 || static_cast<size_t>(idLength) >= limit - at) {
            return false;
        }
        node.id = static_cast<uint32_t>(FromBigEndian(data + at, static_cast<size_t>(idLength)));
        node.idLength = static_cast<uint8_t>(idLength);
        const size_t sizeAt = at + static_cast<size_t>(idLength);
        sizeLength = EBML::VintLength(data[sizeAt]);
        if (sizeLength == 0 || static_cast<size_t>(sizeLength) > limit - sizeAt) {
            return false;
        }
        size = data[sizeAt] & (0xFFu >> sizeLength);
        for (int k = 1; k < sizeLength; ++k) {
            size = (size << 8) | data[sizeAt + static_cast<size_t>(k)];
        }
        node.sizeLength = static_cast<uint8_t>(sizeLength);
        node.unknownSize = size == EBML::VintAllOnes(sizeLength);
        return true;
    }

    Node Raw(size_t from, size_t to) const
    {
        Node raw;
        raw.payload = data + from;
        raw.payloadLength = to - from;
        return raw;
    }

    // Every copy of a node; a repeated one carries a later time in each.
    void Write(int32_t index, Bytes& out) const
    {
        const Node& node = (*this)[index];
        for (uint32_t copy = 0; copy < node.copies; ++copy) {
            if (copy > 0 && node.timeStep == 0) {
                const size_t one = static_cast<size_t>(node.encoded / node.copies);
                const size_t start = out.size() - one;
                out.resize(out.size() + one);
                std::memcpy(out.data() + start + one, out.data() + start, one);
                continue;
            }
            WriteOne(index, out, node.timeStep * copy);
        }
    }

    // One copy of a node with the time it carries moved on by `delta`: a
    // cluster's or cue point's time code, a block's relative time code.
    void WriteOne(int32_t index, Bytes& out, uint64_t delta) const
    {
        const Node& node = (*this)[index];
        if (node.id != 0) {
            PutBigEndian(node.id, node.idLength, out);
            const uint64_t value = SizeValue(node);
            const int length = SizeFieldLength(node, value);
            PutBigEndian(value | (uint64_t{1} << (7 * length)), length, out);
        }
        if (node.master) {
            const uint32_t timeChild = node.id == kCluster     ? kTimecode
                                       : node.id == kCuePoint  ? kCueTime
                                       : node.id == kBlockGroup ? kBlock
                                                                : 0;
            for (int32_t child = node.firstChild; child != kNone; child = (*this)[child].next) {
                if (delta != 0 && timeChild != 0 && (*this)[child].id == timeChild) {
                    WriteOne(child, out, delta);
                } else {
                    Write(child, out);
                }
            }
            return;
        }
        const size_t start = out.size();
        out.insert(out.end(), node.payload, node.payload + node.payloadLength);
        if (delta == 0 || node.payloadLength == 0) {
            return;
        }
        uint8_t* payload = out.data() + start;
        if ((node.id == kTimecode || node.id == kCueTime) && node.payloadLength <= 8) {
            // Same width, so that every copy is the same size.
            const uint64_t moved = FromBigEndian(payload, node.payloadLength) + delta;
            for (size_t k = node.payloadLength; k-- > 0;) {
                payload[k] = static_cast<uint8_t>(moved >> (8 * (node.payloadLength - 1 - k)));
            }
        } else if (node.id == kSimpleBlock || node.id == kBlock) {
            const size_t at = static_cast<size_t>(EBML::VintLength(payload[0]));
            if (at != 0 && at + 2 <= node.payloadLength) {
                const auto time = static_cast<uint16_t>(((payload[at] << 8) | payload[at + 1]) + delta);
                payload[at] = static_cast<uint8_t>(time >> 8);
                payload[at + 1] = static_cast<uint8_t>(time);
            }
        }
    }

    const uint8_t* data;
    std::deque<Bytes> store; // payloads the mutations wrote; a deque never moves them
};

// ---- Positions ---------------------------------------------------------

// Points CueClusterPosition at the cluster a cue point's time falls in and
// SeekPosition at the first element of the ID it names, both relative to
// the Segment's payload, as a muxer would. Widths change with the values,
// so the layout is worked out again until it holds still.
void FixPositions(Tree& tree, int32_t segment)
{
    struct Placed {
        uint32_t id;
        uint64_t offset;
        uint64_t timecode;
    };
    std::vector<Placed> placed;
    for (int round = 0; round < 4; ++round) {
        tree.Measure();
        placed.clear();
        uint64_t offset = 0;
        for (int32_t child = tree[segment].firstChild; child != kNone; child = tree[child].next) {
            const Node& node = tree[child];
            const uint64_t one = node.encoded / node.copies;
            const uint64_t timecode = node.id == kCluster && node.master ? tree.ValueOf(tree.FindChild(child, kTimecode)) : 0;
            for (uint32_t copy = 0; copy < node.copies && copy < kPlacedCopies; ++copy) {
                placed.push_back(Placed{node.id, offset + one * copy, timecode + node.timeStep * copy});
            }
            offset += node.encoded;
        }
        bool changed = false;
        auto set = [&tree, &changed](int32_t value, uint64_t number) {
            if (value == kNone || tree[value].master || tree.ValueOf(value) == number) {
                return;
            }
            tree.SetPayload(value, BigEndian(number, MinimalLength(number)));
            changed = true;
        };
        for (int32_t child = tree[segment].firstChild; child != kNone; child = tree[child].next) {
            if (!tree[child].master || (tree[child].id != kCues && tree[child].id != kSeekHead)) {
                continue;
            }
            for (int32_t entry = tree[child].firstChild; entry != kNone; entry = tree[entry].next) {
                if (!tree[entry].master) {
                    continue;
                }
                if (tree[entry].id == kCuePoint) {
                    const uint64_t cueTime = tree.ValueOf(tree.FindChild(entry, kCueTime));
                    const Placed* target = nullptr;
                    for (const Placed& p : placed) {
                        if (p.id == kCluster && (target == nullptr || p.timecode <= cueTime)) {
                            target = &p;
                        }
                    }
                    for (int32_t positions = tree[entry].firstChild; positions != kNone && target != nullptr;
                         positions = tree[positions].next) {
                        if (tree[positions].master && tree[positions].id == kCueTrackPositions) {
                            set(tree.FindChild(positions, kCueClusterPosition), target->offset);
                        }
                    }
                } else if (tree[entry].id == kSeek) {
                    const uint64_t named = tree.ValueOf(tree.FindChild(entry, kSeekId));
                    for (const Placed& p : placed) {
                        if (p.id == named) {
                            set(tree.FindChild(entry, kSeekPosition), p.offset);
                            break;
                        }
                    }
                }
            }
        }
        if (!changed) {
            return;
        }
    }
}

void FixAllPositions(Tree& tree)
{
    for (int32_t child = tree[0].firstChild; child != kNone; child = tree[child].next) {
        if (tree[child].id == kSegment && tree[child].master) {
            FixPositions(tree, child);
        }
    }
}

// ---- Mutations ---------------------------------------------------------

class Mutator {
public:
    Mutator(Tree& tree, size_t maxSize, unsigned int seed) : tree(tree), maxSize(maxSize), random(seed) {}

    // One structural mutation; false when none applied to this tree.
    bool MutateOnce()
    {
        switch (Below(12)) {
        case 0:
        case 1:
            return NewValue();
        case 2:
            return Resize();
        case 3:
            return ChangeId();
        case 4:
            return Reorder();
        case 5:
        case 6:
            return Repeat();
        case 7:
            return Delete();
        case 8:
        case 9:
            return ChangeBlock();
        case 10:
            return Insert();
        default:
            return MutateBytesOfOne();
        }
    }

    // An element of `other` put into this tree: in place of an element of
    // the same ID, or inserted into some master.
    bool TakeFrom(const Tree& other)
    {
        other.Sites(all);
        if (all.empty()) {
            return false;
        }
        const int32_t taken = tree.CopyFrom(other, all[Below(all.size())].node);
        if (tree[taken].id == 0) {
            return false;
        }
        const uint32_t id = tree[taken].id;
        const Site* same = Pick([id](const Node& node) { return node.id == id; });
        if (same != nullptr && Below(2) == 0) {
            tree[taken].next = tree[same->node].next;
            tree[same->node] = tree[taken];
            return true;
        }
        return InsertSomewhere(taken);
    }

    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(random() % n); }

private:
    // A random site whose node passes the filter, or null; valid until the
    // next call.
    template <class Filter>
    const Site* Pick(Filter keep)
    {
        tree.Sites(all);
        picked.clear();
        for (const Site& site : all) {
            if (keep(tree[site.node])) {
                picked.push_back(site);
            }
        }
        return picked.empty() ? nullptr : &picked[Below(picked.size())];
    }

    uint64_t Boundary()
    {
        const uint64_t value = kBoundaries[Below(std::size(kBoundaries))];
        switch (Below(4)) {
        case 0:
            return value + 1;
        case 1:
            return value - 1;
        default:
            return value;
        }
    }

    // A value element given a number at an edge: an integer in the width it
    // had, the shortest, or eight bytes; a float as a single or a double.
    bool NewValue()
    {
        const bool timesOnly = Below(2) == 0;
        const Site* site = Pick([timesOnly](const Node& node) {
            return node.id != 0 && !node.master && node.payloadLength <= 8 && (!timesOnly || In(kTimeIds, node.id));
        });
        if (site == nullptr) {
            return false;
        }
        const int32_t value = site->node;
        if (In(kFloatIds, tree[value].id) && Below(2) == 0) {
            static constexpr double kInfinity = std::numeric_limits<double>::infinity();
            static constexpr double kFloats[] = {0.0,       -0.0,       1.0,   -1.0,  1e-300, 1e300, 48000.0,
                                                 4294967296.0, 9.3e18,  -9.3e18, kInfinity, -kInfinity,
                                                 std::numeric_limits<double>::quiet_NaN()};
            const double number = kFloats[Below(std::size(kFloats))];
            if (Below(2) == 0) {
                const float single = static_cast<float>(number);
                uint32_t bits = 0;
                std::memcpy(&bits, &single, sizeof bits);
                tree.SetPayload(value, BigEndian(bits, 4));
            } else {
                uint64_t bits = 0;
                std::memcpy(&bits, &number, sizeof bits);
                tree.SetPayload(value, BigEndian(bits, 8));
            }
            return true;
        }
        const uint64_t number = Below(4) == 0 ? tree.ValueOf(value) + (Below(2) == 0 ? 1 : -1) : Boundary();
        int width = static_cast<int>(tree[value].payloadLength);
        switch (Below(3)) {
        case 0:
            width = MinimalLength(number);
            break;
        case 1:
            width = 8;
            break;
        default:
            width = std::clamp(width, 1, 8);
            break;
        }
        tree.SetPayload(value, BigEndian(number, width));
        return true;
    }

    // A size field that lies, says "unknown", or is honest again.
    bool Resize()
    {
        const Site* site = Pick([](const Node& node) { return node.id != 0; });
        if (site == nullptr) {
            return false;
        }
        tree.Measure();
        Node& node = tree[site->node];
        switch (Below(4)) {
        case 0:
            node.unknownSize = !node.unknownSize;
            node.sizeLength = static_cast<uint8_t>(Below(2) == 0 ? 1 : 8);
            node.sizeLie = false;
            break;
        case 1:
            node.sizeLie = !node.sizeLie;
            node.liedSize = node.body + (Below(2) == 0 ? 1 : -1);
            node.unknownSize = false;
            break;
        default:
            node.sizeLie = true;
            node.unknownSize = false;
            node.liedSize = Below(2) == 0 ? Boundary() : node.body * 2 + Below(16);
            break;
        }
        return true;
    }

    bool ChangeId()
    {
        const Site* site = Pick([](const Node& node) { return node.id != 0; });
        if (site == nullptr) {
            return false;
        }
        uint32_t id = 0;
        switch (Below(4)) {
        case 0:
            id = kMasterIds[Below(std::size(kMasterIds))];
            break;
        case 1:
        case 2:
            id = kValueIds[Below(std::size(kValueIds))];
            break;
        default: { // an ID no table knows, of one to four bytes
            const auto bits = static_cast<uint32_t>(random());
            static constexpr uint32_t kMarkers[] = {0x80, 0x4000, 0x200000, 0x10000000};
            const uint32_t marker = kMarkers[Below(4)];
            id = marker | (bits & (marker - 1));
            break;
        }
        }
        tree[site->node].id = id;
        tree[site->node].idLength = static_cast<uint8_t>(IdLength(id));
        return true;
    }

    // Two siblings swapped, or one element moved into another master.
    bool Reorder()
    {
        const Site* site = Pick([](const Node&) { return true; });
        if (site == nullptr) {
            return false;
        }
        const Site moved = *site;
        if (Below(2) == 0) {
            const Site* other = Pick([](const Node&) { return true; });
            if (other != nullptr && other->parent == moved.parent && other->node != moved.node) {
                // Contents swap places; each keeps its link to the next sibling.
                std::swap(tree[moved.node], tree[other->node]);
                std::swap(tree[moved.node].next, tree[other->node].next);
                return true;
            }
        }
        tree.Unlink(moved);
        return InsertSomewhere(moved.node);
    }

    // Copies of one element after it: identical, emptied to their first
    // child (a cluster to its time code), or each with a later time. Mostly
    // a few, which keep the input small and fast; one time in eight
    // thousands, which is where a cost that grows faster than the input
    // shows.
    bool Repeat()
    {
        const bool favoured = Below(4) != 0;
        const Site* site = Pick([favoured](const Node& node) {
            return node.id != 0 && node.copies == 1 && (!favoured || In(kRepeatIds, node.id));
        });
        if (site == nullptr) {
            return false;
        }
        int32_t repeated = site->node;
        const size_t shape = Below(3);
        if (shape == 1 && tree[repeated].master && tree[repeated].firstChild != kNone) {
            // A copy holding only the time code, or else the first child.
            int32_t kept = tree.FindChild(repeated, kTimecode);
            kept = tree.CopyFrom(tree, kept != kNone ? kept : tree[repeated].firstChild);
            Node hollow = tree[repeated];
            hollow.firstChild = kept;
            const int32_t added = tree.Add(hollow);
            tree[repeated].next = added;
            repeated = added;
        }
        if (shape == 2) {
            WidenTime(repeated);
            static constexpr uint64_t kSteps[] = {1, 33, 40, 1000};
            tree[repeated].timeStep = kSteps[Below(std::size(kSteps))];
        }
        const uint64_t total = tree.Measure();
        const uint64_t each = tree[repeated].encoded;
        // Thousands only of small elements (the shapes that cost most per
        // byte); a few copies of a large one add at most 4 KB.
        static constexpr size_t kFew[] = {1, 2, 3, 8, 29, 30, 31};
        static constexpr size_t kMany[] = {100, 256, 1000, 4096, 100000};
        const bool many = each <= 64 && Below(8) == 0;
        const size_t wanted = many ? kMany[Below(std::size(kMany))] : kFew[Below(std::size(kFew))];
        uint64_t room = total < maxSize && each > 0 ? (maxSize - total) / each : 0;
        room = many ? room : std::min<uint64_t>(room, std::max<uint64_t>(1, 4096 / std::max<uint64_t>(each, 1)));
        tree[repeated].copies += static_cast<uint32_t>(std::min<uint64_t>(wanted, room));
        return true;
    }

    // Gives the time a repeated element carries four bytes, so that every
    // copy keeps one size while its time moves on.
    void WidenTime(int32_t index)
    {
        const uint32_t id = tree[index].id;
        int32_t time = id == kTimecode || id == kCueTime ? index
                       : id == kCluster                   ? tree.FindChild(index, kTimecode)
                       : id == kCuePoint                  ? tree.FindChild(index, kCueTime)
                                                          : kNone;
        if (time != kNone && !tree[time].master && tree[time].payloadLength < 4) {
            tree.SetPayload(time, BigEndian(tree.ValueOf(time), 4));
        }
    }

    bool Delete()
    {
        const Site* site = Pick([](const Node&) { return true; });
        if (site == nullptr) {
            return false;
        }
        if (Below(4) == 0) {
            tree[site->node].next = kNone; // everything after it goes too
        } else {
            tree.Unlink(*site);
        }
        return true;
    }

    // A block's header: track number, relative time code, flags, a lace
    // header byte, or a new lace header over the bytes it holds.
    bool ChangeBlock()
    {
        const Site* site = Pick([](const Node& node) {
            return !node.master && (node.id == kSimpleBlock || node.id == kBlock) && node.payloadLength >= 4;
        });
        if (site == nullptr) {
            return false;
        }
        Bytes payload = tree.Payload(site->node);
        const size_t trackLength = static_cast<size_t>(EBML::VintLength(payload[0]));
        if (trackLength == 0 || trackLength + 3 > payload.size()) {
            payload[0] = 0x81;
            tree.SetPayload(site->node, std::move(payload));
            return true;
        }
        const size_t flagsAt = trackLength + 2;
        switch (Below(6)) {
        case 0: { // track number, often one of the first tracks
            const uint64_t track = Below(2) == 0 ? 1 + Below(4) : Boundary() & EBML::VintAllOnes(2);
            const int length = track < 0x7F && Below(4) != 0 ? 1 : 2;
            const Bytes number = BigEndian(track | (uint64_t{1} << (7 * length)), length);
            payload.erase(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(trackLength));
            payload.insert(payload.begin(), number.begin(), number.end());
            break;
        }
        case 1: { // relative time code
            static constexpr int kTimes[] = {0, 1, -1, 2, 40, 0x7FFF, -0x8000, -0x7FFF, 1000, -1000};
            const auto time = static_cast<uint16_t>(kTimes[Below(std::size(kTimes))]);
            payload[trackLength] = static_cast<uint8_t>(time >> 8);
            payload[trackLength + 1] = static_cast<uint8_t>(time);
            break;
        }
        case 2: { // key, invisible, discardable, lacing
            static constexpr uint8_t kFlagBits[] = {0x80, 0x08, 0x01, 0x02, 0x04, 0x06};
            payload[flagsAt] ^= kFlagBits[Below(std::size(kFlagBits))];
            break;
        }
        case 3: { // a lace header byte at an edge
            if (flagsAt + 1 >= payload.size()) {
                return false;
            }
            static constexpr uint8_t kLaceBytes[] = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF, 0x40, 0x81, 0xBF};
            const size_t at = flagsAt + 1 + Below(std::min<size_t>(8, payload.size() - flagsAt - 1));
            payload[at] = kLaceBytes[Below(std::size(kLaceBytes))];
            break;
        }
        default:
            Relace(payload, flagsAt);
            break;
        }
        tree.SetPayload(site->node, std::move(payload));
        return true;
    }

    // Writes a well-formed lace header of a random kind and frame count
    // over the bytes after the flags, which become the frames.
    void Relace(Bytes& payload, size_t flagsAt)
    {
        Bytes frames(payload.begin() + static_cast<std::ptrdiff_t>(flagsAt) + 1, payload.end());
        const auto lacing = static_cast<uint8_t>(Below(4));
        static constexpr size_t kFrameCounts[] = {1, 2, 3, 4, 8, 255, 256};
        const size_t count = lacing == 0 ? 1 : kFrameCounts[Below(std::size(kFrameCounts))];
        Bytes header;
        if (lacing != 0) {
            header.push_back(static_cast<uint8_t>(count - 1));
        }
        if (lacing == 2) {
            frames.resize(frames.size() - frames.size() % count);
        } else if (lacing != 0) {
            // Sizes of all frames but the last, which takes the rest.
            std::vector<uint64_t> sizes;
            uint64_t left = frames.size();
            for (size_t k = 0; k + 1 < count; ++k) {
                const uint64_t size = left == 0 ? 0 : Below(2) == 0 ? left / (count - k) : Below(left + 1);
                sizes.push_back(size);
                left -= size;
            }
            for (size_t k = 0; k < sizes.size(); ++k) {
                if (lacing == 1) {
                    header.insert(header.end(), static_cast<size_t>(sizes[k] / 255), 0xFF);
                    header.push_back(static_cast<uint8_t>(sizes[k] % 255));
                } else if (k == 0) {
                    int length = 1;
                    while (length < 8 && sizes[0] >= EBML::VintAllOnes(length)) {
                        ++length;
                    }
                    PutBigEndian(sizes[0] | (uint64_t{1} << (7 * length)), length, header);
                } else {
                    // A signed difference, biased by half the length's range.
                    const int64_t difference = static_cast<int64_t>(sizes[k] - sizes[k - 1]);
                    int length = 1;
                    while (length < 8 && (difference >= (int64_t{1} << (7 * length - 1)) - 1 ||
                                          difference < -((int64_t{1} << (7 * length - 1)) - 1))) {
                        ++length;
                    }
                    const auto biased = static_cast<uint64_t>(difference + (int64_t{1} << (7 * length - 1)) - 1);
                    PutBigEndian(biased | (uint64_t{1} << (7 * length)), length, header);
                }
            }
        }
        payload.resize(flagsAt + 1);
        payload[flagsAt] = static_cast<uint8_t>((payload[flagsAt] & ~0x06u) | (lacing << 1));
        payload.insert(payload.end(), header.begin(), header.end());
        payload.insert(payload.end(), frames.begin(), frames.end());
    }

    // One of a few elements a muxer might write, or a copy of one already
    // in the tree, inserted into some master.
    bool Insert()
    {
        int32_t added = kNone;
        switch (Below(8)) {
        case 0:
            added = tree.AddValue(kVoid, Bytes(Below(9), 0));
            break;
        case 1:
            added = tree.AddValue(kCrc32, BigEndian(random(), 4));
            break;
        case 2:
            added = tree.AddMaster(kCluster, {tree.AddUInt(kTimecode, Boundary() & 0xFFFFFF)});
            break;
        case 3:
            added = tree.AddValue(kSimpleBlock, Bytes{static_cast<uint8_t>(0x81 + Below(3)), 0x00, 0x00, 0x80, 0x00,
                                                      0x00, 0x00, 0x01, 0x65});
            break;
        case 4:
            added = tree.AddMaster(kBlockGroup, {tree.AddValue(kBlock, Bytes{0x81, 0x00, 0x28, 0x00, 0xAB}),
                                                 tree.AddUInt(kReferenceBlock, 0xFFD8), tree.AddUInt(kBlockDuration, 40)});
            break;
        case 5: {
            const int32_t positions =
                tree.AddMaster(kCueTrackPositions, {tree.AddUInt(kCueTrack, 1), tree.AddUInt(kCueClusterPosition, 0)});
            added = tree.AddMaster(kCues, {tree.AddMaster(kCuePoint, {tree.AddUInt(kCueTime, Below(3) * 1000), positions})});
            break;
        }
        case 6:
            added = tree.AddMaster(kSeekHead, {tree.AddMaster(kSeek, {tree.AddValue(kSeekId, BigEndian(kCues, 4)),
                                                                      tree.AddUInt(kSeekPosition, 0)})});
            break;
        default: {
            const Site* site = Pick([](const Node& node) { return node.id != 0; });
            if (site == nullptr) {
                return false;
            }
            added = tree.CopyFrom(tree, site->node);
            break;
        }
        }
        return InsertSomewhere(added);
    }

    bool InsertSomewhere(int32_t node)
    {
        const Site* master = Pick([](const Node& candidate) { return candidate.master; });
        const int32_t parent = master != nullptr && Below(8) != 0 ? master->node : 0;
        size_t children = 0;
        for (int32_t child = tree[parent].firstChild; child != kNone; child = tree[child].next) {
            ++children;
        }
        tree.LinkInto(parent, node, Below(children + 1));
        return true;
    }

    // libFuzzer's byte mutation confined to one value's payload.
    bool MutateBytesOfOne()
    {
        const Site* site = Pick([](const Node& node) { return !node.master; });
        if (site == nullptr) {
            return false;
        }
        Bytes payload = tree.Payload(site->node);
        const size_t old = payload.size();
        payload.resize(old + 64);
        payload.resize(LLVMFuzzerMutate(payload.data(), old, payload.size()));
        tree.SetPayload(site->node, std::move(payload));
        return true;
    }

    Tree& tree;
    size_t maxSize;
    std::minstd_rand random;
    // Kept between calls, like the nodes.
    static std::vector<Site> all;
    static std::vector<Site> picked;
};

std::vector<Site> Mutator::all;
std::vector<Site> Mutator::picked;

// Node storage of the input being mutated and of the one crossed with it.
std::vector<Node> ourNodes;
std::vector<Node> theirNodes;

// Writes the tree into out when it fits in maxSize; the size written, or 0.
size_t WriteInto(Tree& tree, uint8_t* out, size_t maxSize)
{
    static Bytes written;
    const uint64_t size = tree.Measure();
    if (size == 0 || size > maxSize) {
        return 0;
    }
    tree.Write(written);
    std::memcpy(out, written.data(), written.size());
    return written.size();
}

} // namespace

size_t Mutate(uint8_t* data, size_t size, size_t maxSize, unsigned int seed)
{
    Tree tree(data, size, ourNodes);
    const bool structured = tree[0].firstChild != kNone && tree[tree[0].firstChild].id != 0;
    Mutator mutator(tree, maxSize, seed);
    // One time in eight, and whenever the input does not start with an
    // element, libFuzzer mutates the bytes as they are.
    if (!structured || mutator.Below(8) == 0) {
        return LLVMFuzzerMutate(data, size, maxSize);
    }
    bool applied = false;
    for (size_t rounds = 1 + (mutator.Below(4) == 0 ? 1 : 0); rounds > 0; --rounds) {
        applied = mutator.MutateOnce() || applied;
    }
    if (mutator.Below(2) == 0) {
        FixAllPositions(tree);
    }
    const size_t written = applied ? WriteInto(tree, data, maxSize) : 0;
    return written != 0 ? written : LLVMFuzzerMutate(data, size, maxSize);
}

size_t CrossOver(const uint8_t* first, size_t firstSize, const uint8_t* second, size_t secondSize, uint8_t* out,
                 size_t maxOutSize, unsigned int seed)
{
    Tree ours(first, firstSize, ourNodes);
    const Tree theirs(second, secondSize, theirNodes);
    Mutator mutator(ours, maxOutSize, seed);
    if (!mutator.TakeFrom(theirs)) {
        return 0;
    }
    FixAllPositions(ours);
    return WriteInto(ours, out, maxOutSize);
}

} // namespace fuzzmutate
