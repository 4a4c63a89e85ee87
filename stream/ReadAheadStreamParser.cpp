// A windowed view of the source: the host is asked for bytes only when a
// request leaves the windows; positions, tells and seeks are answered here.
#include "ReadAheadStreamParser.h"

#include <cstring>

ReadAheadStreamParser::ReadAheadStreamParser(HostSource* shared) : source(shared) {}

ReadAheadStreamParser::ReadAheadStreamParser(unsigned char* name, bool& ok, _ZOLVDMX_READER_CALLBACK_T* reader)
    : ownSource(std::make_unique<HostSource>(reader)), source(ownSource.get())
{
    ok = Load(name);
}

ReadAheadStreamParser::~ReadAheadStreamParser() = default;

bool ReadAheadStreamParser::Load(unsigned char* name)
{
    current = nullptr;
    readPosition = 0;
    return source->Open(name);
}

int64_t ReadAheadStreamParser::GetFileLength()
{
    return source->Length();
}

bool ReadAheadStreamParser::IsLengthKnown()
{
    return source->LengthKnown();
}

bool ReadAheadStreamParser::HasBytes(uint64_t count)
{
    if (source->LengthKnown() || count == 0) {
        return CBitStreamParser::HasBytes(count);
    }
    if (count > static_cast<uint64_t>(INT64_MAX - readPosition)) {
        return false;
    }
    uint8_t last = 0;
    return source->ReadAt(readPosition + static_cast<int64_t>(count) - 1, 1, &last) == 1;
}

int32_t ReadAheadStreamParser::CopyOut(int64_t position, int32_t count, uint8_t* dest)
{
    // Nothing is asked past where the data was found to end, so a window
    // that holds up to it serves every request there.
    const int64_t end = source->DataEnd();
    if (position >= end) {
        return 0;
    }
    if (count > end - position) {
        count = static_cast<int32_t>(end - position);
    }
    int32_t delivered = 0;
    while (delivered < count) {
        const int64_t at = position + delivered;
        const int32_t rest = count - delivered;
        if (current == nullptr || at < current->start || at - current->start >= current->length) {
            // The next window another stream filled, else a refill.
            current = source->Held(at, 1);
            if (current == nullptr) {
                if (rest >= source->WindowSize()) {
                    return delivered + source->ReadFromHost(at, rest, dest + delivered);
                }
                current = source->Fill(at, rest, HostSource::Refill::Probe, this);
                if (current == nullptr) {
                    break;
                }
            }
        }
        auto offset = static_cast<int32_t>(at - current->start);
        int32_t n = current->length - offset < rest ? current->length - offset : rest;
        std::memcpy(dest + delivered, current->bytes.get() + offset, static_cast<size_t>(n));
        delivered += n;
    }
    return delivered;
}

int32_t ReadAheadStreamParser::GetBytes(int32_t count, uint8_t* dest)
{
    if (count <= 0 || dest == nullptr) {
        return 0;
    }
    int32_t delivered = CopyOut(readPosition, count, dest);
    readPosition += delivered;
    return delivered;
}

int32_t ReadAheadStreamParser::GetByte()
{
    // Element headers come byte by byte through the bit reader: the common
    // case is one array access.
    if (current != nullptr && readPosition >= current->start && readPosition - current->start < current->length) {
        return current->bytes[static_cast<size_t>(readPosition++ - current->start)];
    }
    uint8_t b = 0;
    GetBytes(1, &b);
    return b;
}

int32_t ReadAheadStreamParser::Peek(uint8_t* dest, int32_t count)
{
    if (readPosition == source->Length() || count <= 0 || dest == nullptr) {
        return 0;
    }
    return CopyOut(readPosition, count, dest);
}

int32_t ReadAheadStreamParser::ReadAt(int64_t position, int32_t count, uint8_t* dest)
{
    if (count <= 0 || dest == nullptr || position < 0) {
        return 0;
    }
    if (current != nullptr && current->Holds(position, count)) {
        return CopyOut(position, count, dest);
    }
    return source->ReadAt(position, count, dest);
}

int32_t ReadAheadStreamParser::ReadBefore(int64_t position, int32_t count, uint8_t* dest)
{
    if (count <= 0 || dest == nullptr || position < 0) {
        return 0;
    }
    if (count < source->WindowSize() && source->Held(position, count) == nullptr) {
        current = source->Fill(position, count, HostSource::Refill::Back, this);
    }
    return CopyOut(position, count, dest);
}

bool ReadAheadStreamParser::IsEnd()
{
    return readPosition >= source->Length();
}

int32_t ReadAheadStreamParser::Seek(int64_t offset, int32_t whence)
{
    if (!source->IsOpen()) {
        return 1;
    }
    int64_t base = whence == ZOLVDMX_SEEK_SET ? 0 : whence == ZOLVDMX_SEEK_END ? source->Length() : readPosition;
    int64_t target = 0;
    if (offset > 0 && base > INT64_MAX - offset) {
        // A huge forward count (SkipForward of a 64-bit size) saturates
        // instead of wrapping round to a position before the current one.
        target = INT64_MAX;
    } else if (offset < 0 && base < INT64_MIN - offset) {
        target = 0; // from the end of a source whose length is reported hugely negative
    } else {
        target = base + offset;
    }
    readPosition = target < 0 ? 0 : target;
    return 1;
}

int32_t ReadAheadStreamParser::Shift(int32_t count)
{
    return Seek(count, ZOLVDMX_SEEK_CUR);
}

int32_t ReadAheadStreamParser::SkipBytes(int32_t count)
{
    return Seek(count, ZOLVDMX_SEEK_CUR);
}

int64_t ReadAheadStreamParser::Tell()
{
    return readPosition;
}
