// EBMLBlock: one Block or SimpleBlock. The cluster parse records where its
// payload lies and its track; sample delivery later splits the payload into
// frames by its lacing.
#ifndef MKV_MATROSKA_EBMLBLOCK_H
#define MKV_MATROSKA_EBMLBLOCK_H

#include <cstdint>
#include <memory>
#include <vector>

#include "ebml/EBML.h"
#include "ebml/EBMLDataType.h"

// The longest block header: an 8-byte track number, the 16-bit timecode,
// the flags and the lace count.
constexpr uint32_t kBlockHeaderBytes = 12;

class EBMLBlock : public EBML {
public:
    struct _BLOCK_INFO {
        int32_t offset;
        int32_t size;
    };

    EBMLBlock() = default;
    ~EBMLBlock() override;
    // Back to the state of a new block, keeping what its lists hold room for.
    void Reset();

    // At the first payload byte, with dataSize set by the caller: records
    // dataPosition, decodes the header (track, timecode, flags, the number of
    // laced frames) and moves to the payload's end.
    uint32_t Parse(CBitStreamParser* reader) override;
    // Splits a whole payload of dataSize bytes into frames.
    uint32_t Parse(const uint8_t* payload);
    // Splits a payload of `size` bytes; nothing is read beyond it.
    uint32_t Parse(const uint8_t* payload, uint32_t size);
    // Decodes the header only (track, relative timecode, flags). False when
    // the `size` bytes given do not hold a whole header.
    bool ParseSimple(const uint8_t* payload, uint32_t size);

    // Lays out the frames of a payload of `payloadSize` bytes from its first
    // `headSize` bytes (block and lace headers): where each frame lies and
    // how long it is, no frame bytes copied. NeedMore when the lace header
    // runs past the bytes given while the payload holds more.
    enum class Split { Done, NeedMore, Damaged };
    Split SplitLaces(const uint8_t* head, uint32_t headSize, uint64_t payloadSize);

    // The next frame to deliver (offset into the payload, size); valid while
    // HasFrames().
    _BLOCK_INFO FrontFrame() const;
    // Passes the next frame on.
    void PopSample();
    // Frames not yet delivered.
    int32_t DataCount() const { return static_cast<int32_t>(infos.size() - nextFrame); }
    bool HasFrames() const { return nextFrame < infos.size(); }
    void DropFrames();

    uint32_t trackNumber = 0;
    int32_t relativeTimecode = 0; // signed 16-bit, sign-extended
    bool keyFrame = false;        // flags bit 7
    bool invisible = false;       // flags bit 3
    uint32_t lacing = 0;          // 0 none, 1 Xiph, 2 fixed-size, 3 EBML
    bool discardable = false;     // flags bit 0
    bool simple = false;          // from a SimpleBlock: keyFrame is meaningful
    // Frames the block holds: announced by the header when listed, counted
    // when split; 0 when the header is cut off.
    int32_t frameCount = 0;
    // The frames, once split, and the next to deliver.
    std::vector<_BLOCK_INFO> infos;
    size_t nextFrame = 0;

private:
    // Decodes track number, timecode and flags; the header length, or 0 when
    // the bytes end inside it.
    uint32_t DecodeHeader(const uint8_t* payload, uint32_t size);

    std::vector<uint64_t> laceSizes; // kept between splits, so splitting allocates once

};

#endif
