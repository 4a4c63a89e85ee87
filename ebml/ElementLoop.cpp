// Payload readers of the shared child loop.
#include "ElementLoop.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "stream/Allocation.h"

void ElementBody::ReadHeader()
{
    if (!headerRead) {
        uint32_t readId = 0;
        headerStatus = EBML::ReadElementHeader(stream, readId, size, unknownSize);
        headerRead = true;
    }
}

uint64_t ElementBody::Size()
{
    ReadHeader();
    return size;
}

bool ElementBody::SizeKnown()
{
    ReadHeader();
    return !unknownSize;
}

bool ElementBody::HeaderOk()
{
    ReadHeader();
    return headerStatus == ZOLVDMX_OK;
}

bool ElementBody::FitsInSource()
{
    ReadHeader();
    return size <= static_cast<uint64_t>(stream->RemainingBytes()) && size < 0x7FFFFFFFu;
}

bool ElementBody::PayloadFits()
{
    // Read into memory: the bytes must be there, asked of a source whose
    // length is unknown rather than trusted to the size the file gives.
    ReadHeader();
    if (size >= 0x7FFFFFFFu || !stream->HasBytes(size)) {
        stream->SkipForward(size);
        return false;
    }
    return true;
}

void ElementBody::Skip()
{
    ReadHeader();
    stream->SkipForward(size);
}

uint64_t ElementBody::ReadUInt64()
{
    ReadHeader();
    uint64_t remaining = size;
    if (remaining > static_cast<uint64_t>(kIntegerScratchSize)) {
        // Only the last bytes can reach the kept bits.
        stream->SkipForward(remaining - kIntegerScratchSize);
        remaining = kIntegerScratchSize;
    }
    uint8_t scratch[kIntegerScratchSize];
    std::memset(scratch, 0, sizeof scratch);
    stream->GetBytes(static_cast<int32_t>(remaining), scratch);
    uint64_t value = 0;
    for (uint64_t k = 0; k < remaining; ++k) {
        value = (value << 8) | scratch[k];
    }
    return value;
}

uint64_t ElementBody::ReadTime()
{
    return std::min<uint64_t>(ReadUInt64(), INT64_MAX);
}

uint32_t ElementBody::ReadUInt32()
{
    return static_cast<uint32_t>(ReadUInt64());
}

double ElementBody::ReadFloat()
{
    ReadHeader();
    if (size == 4) {
        return static_cast<double>(stream->DecodeFloat());
    }
    if (size == 8) {
        return stream->DecodeDouble();
    }
    stream->SkipForward(size);
    return 0.0;
}

void ElementBody::ReadString(MallocPtr<char>& buffer)
{
    if (!PayloadFits()) {
        return;
    }
    size_t n = static_cast<size_t>(size);
    char* fresh = static_cast<char*>(ReallocateBytes(buffer.get(), n + 1));
    if (fresh == nullptr) {
        stream->SkipForward(size);
        return;
    }
    (void)buffer.release();
    buffer.reset(fresh);
    std::memset(fresh, 0, n + 1);
    stream->GetBytes(static_cast<int32_t>(n), reinterpret_cast<uint8_t*>(fresh));
}

int32_t ElementBody::ReadRaw(MallocPtr<uint8_t>& buffer)
{
    if (!PayloadFits()) {
        buffer.reset(); // a refused payload leaves no stale bytes behind a length of 0
        return 0;
    }
    if (size == 0) {
        buffer.reset();
        return 0;
    }
    uint8_t* fresh = static_cast<uint8_t*>(ReallocateBytes(buffer.get(), static_cast<size_t>(size)));
    if (fresh == nullptr) {
        stream->SkipForward(size);
        return 0;
    }
    (void)buffer.release();
    buffer.reset(fresh);
    int32_t n = static_cast<int32_t>(size);
    stream->GetBytes(n, fresh);
    return n;
}

void ElementBody::ReadInto(uint8_t* dest, int32_t capacity)
{
    ReadHeader();
    uint64_t taken = size < static_cast<uint64_t>(capacity) ? size : static_cast<uint64_t>(capacity);
    stream->GetBytes(static_cast<int32_t>(taken), dest);
    if (size > taken) {
        stream->SkipForward(size - taken);
    }
}

uint32_t ElementBody::ReadValue(EBMLDataType& value)
{
    ReadHeader();
    if (size > static_cast<uint64_t>(INT64_MAX)) {
        stream->SkipForward(size);
        return ZOLVDMX_E_FAIL;
    }
    return value.Parse(stream, static_cast<int64_t>(size));
}

uint32_t ElementBody::ParseChild(EBML& child)
{
    ReadHeader();
    child.dataPosition = stream->Tell();
    child.dataSize = size;
    child.sizeKnown = !unknownSize;
    return child.Parse(stream);
}

bool SkipUnhandledChild(CBitStreamParser* stream, const EBML& parent)
{
    if (!parent.sizeKnown) {
        return false;
    }
    int64_t start = stream->Tell();
    int64_t end = parent.DeclaredEnd();
    if (start >= end) {
        return false;
    }
    uint32_t id = 0;
    uint64_t size = 0;
    bool unknownSize = false;
    uint32_t status = EBML::ReadElementHeader(stream, id, size, unknownSize);
    int64_t payloadStart = stream->Tell();
    if (status != ZOLVDMX_OK || unknownSize || payloadStart > end ||
        size > static_cast<uint64_t>(end - payloadStart)) {
        stream->Seek(start, ZOLVDMX_SEEK_SET);
        return false;
    }
    stream->SkipForward(size);
    return true;
}
