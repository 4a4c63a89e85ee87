// ReadAheadStreamParser: a stream over the host's reader callbacks that holds
// a window of the source in memory and keeps its own position, so that
// element headers, peeks, tells, skips and short seeks cost no host call.
#ifndef MKV_STREAM_READAHEADSTREAMPARSER_H
#define MKV_STREAM_READAHEADSTREAMPARSER_H

#include <cstdint>
#include <memory>

#include "CBitStreamParser.h"
#include "NoCachingFileStreamParser.h"
#include "WindowCache.h"
#include "zolvdmx.h"

class ReadAheadStreamParser : public CBitStreamParser {
public:
    // 64 KiB: a window this size takes in a cluster's worth of block headers
    // and small frames, or a whole Tracks, SeekHead or Cues chunk, with one
    // host read, while a refill after a seek costs no more than one flash
    // erase block or a few network packets. Frames larger than the window
    // never pass through it, so it need not grow with the video's bit rate.
    static constexpr int32_t kWindowSize = 64 * 1024;
    // A ReadAt outside the window below this size refills the window at the
    // position instead of reading straight into the destination: the next
    // small frames and block headers then come from the same host read.
    static constexpr int32_t kSmallRead = 4 * 1024;
    // Windows start at multiples of this.
    static constexpr int32_t kWindowGranule = 4 * 1024;

    // Stores the reader pointer (not owned) and runs Load(name); `ok` gets
    // its result. The windows come from `shared` (not owned; every stream
    // given it reads the same source) or, without it, are the stream's own
    // single window.
    ReadAheadStreamParser(unsigned char* name, bool& ok, _ZOLVDMX_READER_CALLBACK_T* reader,
                          WindowCache* shared = nullptr);
    ~ReadAheadStreamParser() override;

    // Opens the source (closing a handle already open first) at position 0
    // with an empty window; true when open.
    bool Load(unsigned char* name);
    int64_t GetFileLength() override;

    // Same results as NoCachingFileStreamParser over the same host, except
    // that the position is kept here: a seek before the start lands on 0 and
    // one from the end counts from the length the host reported. None of
    // them touches the bit reader.
    //
    // Reads, from the windows when they hold the bytes:
    int32_t GetByte() override;
    int32_t GetBytes(int32_t count, uint8_t* dest) override;
    int32_t Peek(uint8_t* dest, int32_t count) override;
    // Positions, answered without the host:
    int64_t Tell() override;
    bool IsEnd() override;
    int32_t Seek(int64_t offset, int32_t whence) override;
    int32_t Shift(int32_t count) override;
    int32_t SkipBytes(int32_t count) override;

    // Copies `count` bytes at an absolute position into `dest`: from the
    // window when they are all in it, otherwise with one host read of the
    // range straight into `dest` (a read under kSmallRead refills the window
    // there instead). The stream's position does not move. Returns the
    // bytes delivered, short only at the end of the source or on a host
    // failure.
    int32_t ReadAt(int64_t position, int32_t count, uint8_t* dest) override;

private:
    // Whether [position, position + count) lies in the current window.
    bool InWindow(int64_t position, int32_t count) const;
    // Copies the part of [position, position + count) that starts in the
    // current window; the count copied (0 when position is outside it).
    int32_t CopyFromWindow(int64_t position, int32_t count, uint8_t* dest);
    // Makes current a window holding `needed` bytes from `position`: one
    // already held, else the least recently used one read afresh from
    // `position` with one host read; false when nothing arrived.
    bool Refill(int64_t position, int32_t needed);
    // One host read of `count` bytes at `position` into `dest`, seeking
    // first only when the host is elsewhere; the count delivered.
    int32_t ReadFromHost(int64_t position, int32_t count, uint8_t* dest);

    NoCachingFileStreamParser source;     // the host handle and whole reads
    std::unique_ptr<WindowCache> ownCache; // when no shared windows were given
    WindowCache* cache = nullptr;         // where the windows live
    WindowCache::Window* current = nullptr; // the window last used; null before the first
    int32_t windowCapacity = 0;           // the window size, or 0 without windows
    int64_t readPosition = 0;             // the stream's position in the source
    int64_t hostPosition = 0;          // where the host's next read starts...
    bool hostPositionKnown = false;    // ...unless a short read left it unsure
};

#endif
