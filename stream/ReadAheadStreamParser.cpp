// Windowed host stream. The host is asked for bytes only when a request
// leaves the window; positions, tells and seeks are answered here.
#include "ReadAheadStreamParser.h"

#include <cstring>
#include <new>

ReadAheadStreamParser::ReadAheadStreamParser(unsigned char* name, bool& ok, _ZOLVDMX_READER_CALLBACK_T* reader,
                                             WindowCache* shared)
    : cache(shared)
{
    if (cache == nullptr) {
        ownCache = std::make_unique<WindowCache>(1, kWindowSize);
        cache = ownCache.get();
    }
    // Without a window every read goes straight to the host: slower, same results.
    windowCapacity = cache->Empty() ? 0 : cache->WindowSize();
    source.SetReader(reader);
    ok = Load(name);
}

ReadAheadStreamParser::~ReadAheadStreamParser() = default;

bool ReadAheadStreamParser::Load(unsigned char* name)
{
    bool opened = source.Load(name);
    current = nullptr;
    if (ownCache) {
        // A source opened afresh may differ: nothing held stays.
        ownCache->Clear();
    }
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
    return current != nullptr && current->Holds(position, count);
}

int32_t ReadAheadStreamParser::CopyFromWindow(int64_t position, int32_t count, uint8_t* dest)
{
    if (current == nullptr || position < current->start || position - current->start >= current->length) {
        return 0;
    }
    cache->Touch(current);
    auto offset = static_cast<int32_t>(position - current->start);
    int32_t n = current->length - offset < count ? current->length - offset : count;
    std::memcpy(dest, current->bytes.get() + offset, static_cast<size_t>(n));
    return n;
}

bool ReadAheadStreamParser::Refill(int64_t position, int32_t needed)
{
    if (WindowCache::Window* held = cache->Find(position, needed)) {
        current = held;
        return true;
    }
    current = cache->Victim();
    if (current == nullptr) {
        return false;
    }
    // Windows start on a granule boundary, so that streams reading near each
    // other fill the same windows rather than overlapping ones.
    int64_t start = position;
    if (needed <= windowCapacity - kWindowGranule) {
        start = position - position % kWindowGranule;
    }
    const int32_t lead = static_cast<int32_t>(position - start);
    // Stop at the reported length when the request fits before it, so the
    // last refill needs no extra read to learn where the source ends. A
    // request reaching past that length reads a full window anyway: the
    // host's data, not its length, decides what a read delivers.
    int32_t wanted = windowCapacity;
    int64_t length = source.GetFileLength();
    if (length > start && length - start >= lead + needed && length - start < wanted) {
        wanted = static_cast<int32_t>(length - start);
    }
    current->start = start;
    current->length = ReadFromHost(start, wanted, current->bytes.get());
    return current->length > lead;
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
    if (current != nullptr && readPosition >= current->start && readPosition - current->start < current->length) {
        return current->bytes[static_cast<size_t>(readPosition++ - current->start)];
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
    // A frame held whole by a window another stream read, or whose head
    // lies in one, takes those bytes from there.
    if (WindowCache::Window* held = cache->Find(position, count < windowCapacity ? count : 1)) {
        current = held;
    }
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
