// Windowed host stream. The host is asked for bytes only when a request
// leaves the window; positions, tells and seeks are answered here.
#include "ReadAheadStreamParser.h"

#include <cstring>
#include <new>

ReadAheadStreamParser::ReadAheadStreamParser(unsigned char* name, bool& ok, _ZOLVDMX_READER_CALLBACK_T* reader)
    : window(new (std::nothrow) uint8_t[kWindowSize])
{
    // Without a window every read goes straight to the host: slower, same results.
    windowCapacity = window ? kWindowSize : 0;
    source.SetReader(reader);
    ok = Load(name);
}

ReadAheadStreamParser::~ReadAheadStreamParser() = default;

bool ReadAheadStreamParser::Load(unsigned char* name)
{
    bool opened = source.Load(name);
    windowStart = 0;
    windowLength = 0;
    readPosition = 0;
    // Load leaves the host at 0.
    hostPosition = 0;
    hostPositionKnown = opened;
    return opened;
}

int64_t ReadAheadStreamParser::GetFileLength()
{
    return source.GetFileLength();
}

bool ReadAheadStreamParser::InWindow(int64_t position, int32_t count) const
{
    return position >= windowStart && count <= windowLength && position - windowStart <= windowLength - count;
}

int32_t ReadAheadStreamParser::CopyFromWindow(int64_t position, int32_t count, uint8_t* dest)
{
    if (position < windowStart || position - windowStart >= windowLength) {
        return 0;
    }
    auto offset = static_cast<int32_t>(position - windowStart);
    int32_t n = windowLength - offset < count ? windowLength - offset : count;
    std::memcpy(dest, window.get() + offset, static_cast<size_t>(n));
    return n;
}

bool ReadAheadStreamParser::Refill(int64_t position, int32_t needed)
{
    // Stop at the reported length when the request fits before it, so the
    // last refill needs no extra read to learn where the source ends. A
    // request reaching past that length reads a full window anyway: the
    // host's data, not its length, decides what a read delivers.
    int32_t wanted = windowCapacity;
    int64_t length = source.GetFileLength();
    if (length > position && length - position >= needed && length - position < wanted) {
        wanted = static_cast<int32_t>(length - position);
    }
    windowStart = position;
    windowLength = ReadFromHost(position, wanted, window.get());
    return windowLength > 0;
}

int32_t ReadAheadStreamParser::ReadFromHost(int64_t position, int32_t count, uint8_t* dest)
{
    if (!hostPositionKnown || hostPosition != position) {
        source.Seek(position, ZOLVDMX_SEEK_SET);
    }
    int32_t n = source.GetBytes(count, dest);
    hostPosition = position + n;
    // A short read means the end of the source or a host fault; either way
    // the next read seeks rather than trust the host to be where it should.
    hostPositionKnown = n == count;
    return n;
}

int32_t ReadAheadStreamParser::GetBytes(int32_t count, uint8_t* dest)
{
    if (count <= 0 || dest == nullptr) {
        return 0;
    }
    int32_t delivered = CopyFromWindow(readPosition, count, dest);
    int32_t rest = count - delivered;
    if (rest > 0) {
        int64_t at = readPosition + delivered;
        if (rest >= windowCapacity) {
            delivered += ReadFromHost(at, rest, dest + delivered);
        } else if (Refill(at, rest)) {
            delivered += CopyFromWindow(at, rest, dest + delivered);
        }
    }
    readPosition += delivered;
    return delivered;
}

int32_t ReadAheadStreamParser::GetByte()
{
    // Element headers come byte by byte through the bit reader: the common
    // case is one array access.
    if (readPosition >= windowStart && readPosition - windowStart < windowLength) {
        return window[static_cast<size_t>(readPosition++ - windowStart)];
    }
    uint8_t b = 0;
    GetBytes(1, &b);
    return b;
}

int32_t ReadAheadStreamParser::Peek(uint8_t* dest, int32_t count)
{
    if (readPosition == source.GetFileLength() || count <= 0 || dest == nullptr) {
        return 0;
    }
    if (InWindow(readPosition, count)) {
        return CopyFromWindow(readPosition, count, dest);
    }
    if (count >= windowCapacity) {
        return ReadFromHost(readPosition, count, dest);
    }
    // The window restarts at the position rather than continuing from its
    // end, so that reading the peeked bytes next needs no second refill.
    Refill(readPosition, count);
    return CopyFromWindow(readPosition, count, dest);
}

int32_t ReadAheadStreamParser::ReadAt(int64_t position, int32_t count, uint8_t* dest)
{
    if (count <= 0 || dest == nullptr || position < 0) {
        return 0;
    }
    if (InWindow(position, count)) {
        return CopyFromWindow(position, count, dest);
    }
    if (count < kSmallRead && windowCapacity > 0) {
        Refill(position, count);
        return CopyFromWindow(position, count, dest);
    }
    // A frame that starts in the window takes its head from there.
    int32_t delivered = CopyFromWindow(position, count, dest);
    return delivered + ReadFromHost(position + delivered, count - delivered, dest + delivered);
}

bool ReadAheadStreamParser::IsEnd()
{
    return readPosition >= source.GetFileLength();
}

int32_t ReadAheadStreamParser::Seek(int64_t offset, int32_t whence)
{
    if (!source.IsOpen()) {
        return 1;
    }
    int64_t base = whence == ZOLVDMX_SEEK_SET ? 0 : whence == ZOLVDMX_SEEK_END ? source.GetFileLength() : readPosition;
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
