// The child loop every master element runs, and the payload readers its
// handlers use. An element class gives only its table of handled IDs:
//
//   return ParseChildren(stream, *this, [&](ElementBody& child) {
//       switch (child.Id()) {
//       case kIdTrackNumber: trackNumber = child.ReadUInt32(); return true;
//       default: return false;
//       }
//   });
//
// A handler that answers false must not touch the body: the element is then
// left unread for the enclosing parser (or skipped, see ParseChildren).
#ifndef MKV_EBML_ELEMENTLOOP_H
#define MKV_EBML_ELEMENTLOOP_H

#include <cstdint>
#include <memory>
#include <vector>

#include "EBML.h"
#include "EBMLDataType.h"
#include "MallocPtr.h"

// Scratch area that integer payloads are read through.
constexpr int32_t kIntegerScratchSize = 1024;

// The child element the loop has peeked. Its header is read on first use,
// so that an element nobody handles stays unconsumed.
class ElementBody {
public:
    ElementBody(CBitStreamParser* stream, uint32_t id) : stream(stream), id(id) {}

    uint32_t Id() const { return id; }
    CBitStreamParser* Stream() const { return stream; }
    // Reads the header if not yet read; payload size and whether the size
    // field was definite.
    uint64_t Size();
    bool SizeKnown();
    // Whether the header read cleanly (ID of at most 4 bytes, size of at most 8).
    bool HeaderOk();
    bool HeaderRead() const { return headerRead; }
    // Whether the payload lies within what the source still holds (and fits
    // a signed 32-bit count); nothing is consumed beyond the header.
    bool FitsInSource();

    // Each of these reads the header, then consumes the payload exactly.
    void Skip();
    // Big-endian integer through the 1024-byte scratch area, low 32 bits
    // kept. A payload over 1024 bytes is consumed whole and keeps the low
    // 32 bits of its value (its last 4 bytes), like a shorter one.
    uint32_t ReadUInt32();
    // The same into 64 bits (seek positions).
    uint64_t ReadUInt64();
    // An unsigned time or duration (ticks, nanoseconds) in 64 bits, held at
    // INT64_MAX when larger: times are computed in signed 64 bits, where it
    // can then never turn negative.
    uint64_t ReadTime();
    // IEEE-754 big-endian: a 4-byte payload as single, an 8-byte one as
    // double; any other size is consumed and reads as 0.0.
    double ReadFloat();
    // Zero-terminated text: buffer reallocated to size + 1 zeroed bytes.
    void ReadString(MallocPtr<char>& buffer);
    // Raw bytes: buffer reallocated to exactly the payload size; returns the
    // size held (0 when the payload was empty or refused).
    int32_t ReadRaw(MallocPtr<uint8_t>& buffer);
    // At most `capacity` payload bytes into dest, the rest consumed.
    void ReadInto(uint8_t* dest, int32_t capacity);
    // Delegates the payload to a value element.
    uint32_t ReadValue(EBMLDataType& value);
    // Records the child's positions and declared size, then runs its Parse.
    uint32_t ParseChild(EBML& child);
    // Parses the child into a new object appended to `list`.
    template <class T>
    T& ParseAppend(std::vector<std::unique_ptr<T>>& list)
    {
        list.push_back(std::make_unique<T>());
        ParseChild(*list.back());
        return *list.back();
    }
    // Parses the child into `slot`, created on the element's first
    // occurrence: a repeated element updates the same object.
    template <class T>
    T& ParseInto(std::unique_ptr<T>& slot)
    {
        if (!slot) {
            slot = std::make_unique<T>();
        }
        ParseChild(*slot);
        return *slot;
    }

private:
    void ReadHeader();
    // Whether the whole payload is there to be read into memory (asked of the
    // source when its length is unknown); skipped when it is not.
    bool PayloadFits();

    CBitStreamParser* stream;
    uint32_t id;
    bool headerRead = false;
    bool unknownSize = false;
    uint32_t headerStatus = ZOLVDMX_OK;
    uint64_t size = 0;
};

inline bool IsGlobalElement(uint32_t id)
{
    return id == kIdVoid || id == kIdCrc32 || id == kIdSignatureSlot;
}

// Called for an ID the element does not handle. When the element's declared
// size is known and the child starts inside it, the child is skipped whole
// (provided its header reads cleanly and its payload ends inside the element)
// and the loop goes on: true. Otherwise the stream is left at the child and
// the loop ends: false.
bool SkipUnhandledChild(CBitStreamParser* stream, const EBML& parent);

enum class GlobalElements { Skip, Handle };

enum class ChildStep { Continue, End };

// One turn of the child loop: peek; a handled ID is read by the handler;
// Void, CRC-32 and SignatureSlot are skipped; anything else ends the element
// (see SkipUnhandledChild).
template <class Handler>
ChildStep ParseOneChild(CBitStreamParser* stream, const EBML& self, Handler&& handle,
                        GlobalElements globals = GlobalElements::Skip)
{
    uint32_t id = EBML::PeekID(stream);
    if (id == kIdInvalid) {
        return ChildStep::End;
    }
    ElementBody child(stream, id);
    if (handle(child)) {
        if (!child.HeaderRead()) {
            child.Skip();
        }
        return ChildStep::Continue;
    }
    if (globals == GlobalElements::Skip && IsGlobalElement(id)) {
        child.Skip();
        return ChildStep::Continue;
    }
    return SkipUnhandledChild(stream, self) ? ChildStep::Continue : ChildStep::End;
}

// The whole child loop. The element's own size does not bound the handled
// IDs. Returns 0.
template <class Handler>
uint32_t ParseChildren(CBitStreamParser* stream, const EBML& self, Handler&& handle,
                       GlobalElements globals = GlobalElements::Skip)
{
    while (ParseOneChild(stream, self, handle, globals) == ChildStep::Continue) {
    }
    return ZOLVDMX_OK;
}

#endif
