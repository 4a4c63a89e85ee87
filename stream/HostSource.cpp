// The handle's source: one host handle, shared windows, the streams.
#include "HostSource.h"

#include <algorithm>
#include <cstring>

#include "ReadAheadStreamParser.h"

HostSource::HostSource(_ZOLVDMX_READER_CALLBACK_T* reader, int32_t windowCount)
    : windows(windowCount, kWindowSize)
{
    host.SetReader(reader);
}

// Streams go first: they point at the windows.
HostSource::~HostSource()
{
    streams.clear();
}

bool HostSource::Open(unsigned char* name)
{
    bool opened = host.Load(name);
    // A source opened afresh may differ: nothing held stays.
    windows.Clear();
    hostPosition = 0;
    hostPositionKnown = opened; // Load leaves the host at 0
    length = host.GetFileLength();
    lengthKnown = !opened || length >= 0;
    endFound = INT64_MAX;
    return opened;
}

bool HostSource::Refresh()
{
    if (!host.IsOpen()) {
        return false;
    }
    endFound = INT64_MAX;
    if (!lengthKnown) {
        return true;
    }
    const int64_t before = length;
    host.RefreshLength();
    hostPositionKnown = false;
    length = host.GetFileLength();
    if (length < 0) {
        lengthKnown = false;
        return true;
    }
    return length > before;
}

ReadAheadStreamParser* HostSource::NewStream()
{
    streams.push_back(std::make_unique<ReadAheadStreamParser>(this));
    return streams.back().get();
}

int32_t HostSource::ReadFromHost(int64_t position, int32_t count, uint8_t* dest)
{
    if (count <= 0) {
        return 0;
    }
    if (!hostPositionKnown || hostPosition != position) {
        host.Seek(position, ZOLVDMX_SEEK_SET);
    }
    int32_t n = host.GetBytes(count, dest);
    hostPosition = position + n;
    // A short read at or past the reported length (any length, when none
    // was reported) is where the data ends, for now: nothing past it is
    // asked again. One before the length is a host failure, not an end. A
    // full read past that end means the source has grown.
    if (n < count && position + n >= (lengthKnown ? length : 0)) {
        endFound = std::min(endFound, position + n);
    } else if (n == count && position + n > endFound) {
        endFound = INT64_MAX;
    }
    // A short read means the end of the source or a host fault; either way
    // the next read seeks rather than trust the host to be where it should.
    hostPositionKnown = n == count;
    return n;
}

bool HostSource::OthersNeedBefore(const ReadAheadStreamParser* reader, int64_t position) const
{
    for (const auto& stream : streams) {
        if (stream.get() != reader && stream->PendingFrom() >= 0 && stream->PendingFrom() < position) {
            return true;
        }
    }
    return false;
}

WindowCache::Window* HostSource::Fill(int64_t position, int32_t needed, Refill kind, const ReadAheadStreamParser* reader)
{
    if (needed < 1) {
        needed = 1;
    }
    if (WindowCache::Window* held = windows.Find(position, needed)) {
        return held;
    }
    if (position < 0 || windows.Empty()) {
        return nullptr;
    }
    const int32_t capacity = windows.WindowSize();
    // Ahead of the host by little, or by bytes another stream still reads:
    // read on from where the host stands instead of seeking.
    bool readOn = false;
    if (hostPositionKnown && position >= hostPosition) {
        const int64_t gap = position - hostPosition;
        readOn = gap <= kReadThrough ||
                 (gap <= kSharedReadThrough && OthersNeedBefore(reader, position));
        while (readOn && position + needed > hostPosition + capacity) {
            WindowCache::Window* passed = windows.Victim();
            passed->start = hostPosition;
            passed->length = ReadFromHost(hostPosition, capacity, passed->bytes.get());
            if (passed->length < capacity) {
                return windows.Find(position, 1);
            }
        }
    }
    // A window ending where the host stands, holding the position: a request
    // that runs off its end carries its tail over and reads on, rather than
    // seeking back to read the tail again.
    WindowCache::Window* tail = nullptr;
    if (hostPositionKnown && position < hostPosition) {
        tail = windows.Find(position, 1);
        if (tail != nullptr && tail->start + tail->length != hostPosition) {
            tail = nullptr;
        }
    }
    int64_t start = position;
    int32_t wanted = capacity;
    int32_t carried = 0;
    if (tail != nullptr) {
        start = position - position % kGranule;
        start = start < tail->start ? tail->start : start;
        carried = static_cast<int32_t>(hostPosition - start);
    } else if (readOn) {
        start = hostPosition;
    } else if (kind == Refill::Back) {
        // Ends on the granule after the request, so the next piece back is
        // in it too.
        const int64_t after = position + needed + kGranule - 1;
        start = std::max<int64_t>(0, std::min(position, after - after % kGranule - capacity));
    } else if (kind == Refill::Probe && needed <= kProbeSize && hostPositionKnown && position != hostPosition) {
        // Far ahead of the host: a stream reading headers there (past a
        // large frame, at a cluster found by a seek) needs a few bytes first.
        wanted = kProbeSize;
    } else if (needed <= capacity - kGranule) {
        start = position - position % kGranule;
    }
    if (needed > capacity - static_cast<int32_t>(position - start)) {
        // Does not fit behind what comes before it: the window starts at the position.
        start = position;
        carried = 0;
    }
    // The tail stays where it is for the streams still reading it, unless it
    // is the least recently used window: then it moves to the front.
    const int64_t tailStart = tail != nullptr ? tail->start : 0;
    const uint8_t* tailBytes = tail != nullptr ? tail->bytes.get() : nullptr;
    WindowCache::Window* window = windows.Victim();
    if (carried > 0) {
        std::memmove(window->bytes.get(), tailBytes + (start - tailStart), static_cast<size_t>(carried));
    }
    // Stop at the reported length when the request fits before it, so the
    // last refill needs no extra read to learn where the source ends. A
    // request reaching past that length reads a full window anyway: the
    // host's data, not its length, decides what a read delivers.
    const auto lead = static_cast<int32_t>(position - start);
    const int64_t end = Length();
    if (end > start && end - start >= lead + needed && end - start < wanted) {
        wanted = static_cast<int32_t>(end - start);
    }
    window->start = start;
    window->length = carried + ReadFromHost(start + carried, wanted - carried, window->bytes.get() + carried);
    return window->length > lead ? window : nullptr;
}

int32_t HostSource::ReadAt(int64_t position, int32_t count, uint8_t* dest)
{
    if (count <= 0 || dest == nullptr || position < 0 || position >= endFound) {
        return 0;
    }
    if (count > endFound - position) {
        count = static_cast<int32_t>(endFound - position);
    }
    // From the windows that hold the range, piece by piece; a missing piece
    // refills a window when small, else the rest comes from the host.
    int32_t delivered = 0;
    while (delivered < count) {
        const int64_t at = position + delivered;
        const int32_t rest = count - delivered;
        WindowCache::Window* window = windows.Find(at, 1);
        if (window == nullptr && rest < kSmallRead && !windows.Empty()) {
            window = Fill(at, rest, Refill::Window);
            if (window == nullptr) {
                break;
            }
        }
        if (window == nullptr) {
            return delivered + ReadFromHost(at, rest, dest + delivered);
        }
        auto offset = static_cast<int32_t>(at - window->start);
        int32_t n = window->length - offset < rest ? window->length - offset : rest;
        std::memcpy(dest + delivered, window->bytes.get() + offset, static_cast<size_t>(n));
        delivered += n;
    }
    return delivered;
}
