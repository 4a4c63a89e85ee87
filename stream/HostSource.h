// HostSource: the source of one handle, read through the host's callbacks.
// It holds the single host handle, the windows of the source that every
// stream shares, and the streams themselves, for the handle's whole life:
// streams cannot outlive the windows and the handle they read through, and
// the host sees one position that moves forward as playback does.
#ifndef MKV_STREAM_HOSTSOURCE_H
#define MKV_STREAM_HOSTSOURCE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "NoCachingFileStreamParser.h"
#include "WindowCache.h"
#include "zolvdmx.h"

class ReadAheadStreamParser;

class HostSource {
public:
    // 64 KiB: a window takes in a cluster's worth of block headers and small
    // frames, or a whole Tracks, SeekHead or Cues chunk, with one host read,
    // while a refill after a seek costs no more than a flash erase block or a
    // few network packets. Eight windows (512 KiB) serve the file object's
    // walk and both read cursors, which move through the same clusters, and
    // let one cursor read through frames the other will want shortly.
    static constexpr int32_t kWindowSize = 64 * 1024;
    static constexpr int32_t kWindowCount = 8;
    // Windows filled after a seek start at multiples of this, so that streams
    // reading near each other fill the same windows.
    static constexpr int32_t kGranule = 4 * 1024;
    // A refill this little ahead of where the host stands reads the gap
    // instead of seeking over it: on any storage one read of a few more
    // kilobytes costs less than a seek and a second read.
    static constexpr int32_t kReadThrough = 16 * 1024;
    // A stream that needs bytes far ahead of the host (past a large frame
    // while walking block headers, at a cluster a seek found) gets this
    // much: the header it needs and any small elements after it, not a
    // whole window. Reading on from there is a window again.
    static constexpr int32_t kProbeSize = 4 * 1024;
    // Frame reads below this size refill a window (the next small frames and
    // headers come with it); larger ones go straight to the destination.
    static constexpr int32_t kSmallRead = 4 * 1024;
    // A stream skipping ahead over bytes another stream still has to read
    // (one read cursor passing the other's frames) reads through this much
    // rather than seek over it, so the host need not go back for them: all
    // the windows but the one the stream needs.
    static constexpr int32_t kSharedReadThrough = (kWindowCount - 1) * kWindowSize;

    // What a refill is for: bytes that will be read through (a frame, its
    // neighbours), headers that may be all that is wanted there, or bytes
    // read by a search moving back (the window ends with the request).
    enum class Refill { Window, Probe, Back };

    explicit HostSource(_ZOLVDMX_READER_CALLBACK_T* reader, int32_t windowCount = kWindowCount);
    ~HostSource();
    HostSource(const HostSource&) = delete;
    HostSource& operator=(const HostSource&) = delete;

    // Opens the source (closing a handle already open first) and asks its
    // length; every window is emptied. True when open.
    bool Open(unsigned char* name);
    bool IsOpen() const { return host.IsOpen(); }
    // The length the host reported; when it reported none (an answer below
    // 0: a live or progressive source), the end a read has found so far,
    // else INT64_MAX.
    int64_t Length() const { return lengthKnown ? length : endFound; }
    bool LengthKnown() const { return lengthKnown; }
    // Where the data was found to end (a read at or past the reported
    // length came back short), or INT64_MAX: nothing past it is asked again
    // until the source grows.
    int64_t DataEnd() const { return endFound; }
    // Asks the host for the length again (a seek to the end, then `length`),
    // for a source that may still be growing: true when it grew, or when
    // its length is unknown (the next reads tell).
    bool Refresh();
    int32_t WindowSize() const { return windows.Empty() ? 0 : windows.WindowSize(); }

    // A new stream over this source at position 0, owned by the source.
    ReadAheadStreamParser* NewStream();

    // A window holding [position, position + count), or null.
    WindowCache::Window* Held(int64_t position, int32_t count) { return windows.Find(position, count); }
    // A window holding bytes from `position` on: one already held for
    // `needed` bytes, else the least recently used one filled afresh with
    // one host read. Null when no byte arrived there (end of source, host
    // failure, no window). `reader`: the stream asking, if any.
    WindowCache::Window* Fill(int64_t position, int32_t needed, Refill kind,
                              const ReadAheadStreamParser* reader = nullptr);
    // Copies [position, position + count) into dest from the windows and the
    // host: the count delivered, short only at the end of the source or on a
    // host failure. Large ranges go from the host straight into dest.
    int32_t ReadAt(int64_t position, int32_t count, uint8_t* dest);
    // One host read of `count` bytes at `position` into dest, seeking first
    // only when the host is elsewhere; the count delivered.
    int32_t ReadFromHost(int64_t position, int32_t count, uint8_t* dest);

private:
    // Whether a stream other than `reader` still has to read bytes before `position`.
    bool OthersNeedBefore(const ReadAheadStreamParser* reader, int64_t position) const;

    NoCachingFileStreamParser host;  // the host handle; whole reads
    WindowCache windows;
    std::vector<std::unique_ptr<ReadAheadStreamParser>> streams;
    int64_t hostPosition = 0;        // where the host's next read starts...
    bool hostPositionKnown = false;  // ...unless a short read left it unsure
    int64_t length = 0;
    bool lengthKnown = true;
    int64_t endFound = INT64_MAX;
};

#endif
