// ReadAheadStreamParser: a stream with its own position over a HostSource's
// shared windows, so that element headers, peeks, tells, skips and short
// seeks cost no host call.
#ifndef MKV_STREAM_READAHEADSTREAMPARSER_H
#define MKV_STREAM_READAHEADSTREAMPARSER_H

#include <cstdint>
#include <memory>

#include "CBitStreamParser.h"
#include "HostSource.h"
#include "WindowCache.h"
#include "zolvdmx.h"

class ReadAheadStreamParser : public CBitStreamParser {
public:
    static constexpr int32_t kWindowSize = HostSource::kWindowSize;

    // A stream over a source that owns it (HostSource::NewStream).
    explicit ReadAheadStreamParser(HostSource* shared);
    // A stream with a source of its own: stores the
    // reader pointer (not owned) and runs Load(name); `ok` gets its result.
    ReadAheadStreamParser(unsigned char* name, bool& ok, _ZOLVDMX_READER_CALLBACK_T* reader);
    ~ReadAheadStreamParser() override;

    // (Re)opens the source at position 0; true when open.
    bool Load(unsigned char* name);
    int64_t GetFileLength() override;
    bool IsLengthKnown() override;
    bool HasBytes(uint64_t count) override;

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

    // Copies `count` bytes at an absolute position into `dest` (from the
    // windows, or from the host straight into dest for large ranges). The
    // stream's position does not move. Returns the bytes delivered, short
    // only at the end of the source or on a host failure.
    int32_t ReadAt(int64_t position, int32_t count, uint8_t* dest) override;
    int32_t ReadBefore(int64_t position, int32_t count, uint8_t* dest) override;

    // Where the reader using this stream will read next, when that lies
    // behind the stream's position (the frames of a block it has listed but
    // not delivered); -1 when nothing is pending. The source reads through
    // such bytes rather than skip them when another stream runs ahead.
    void SetPendingFrom(int64_t position) { pendingFrom = position; }
    int64_t PendingFrom() const { return pendingFrom; }

private:
    // Copies [position, position + count) into dest from the windows that
    // hold it, refilling where none does (a range of a window or more goes
    // from the host straight into dest); the count delivered.
    int32_t CopyOut(int64_t position, int32_t count, uint8_t* dest);

    std::unique_ptr<HostSource> ownSource;  // when not given one
    HostSource* source = nullptr;
    WindowCache::Window* current = nullptr; // the window last used; null before the first
    int64_t readPosition = 0;
    int64_t pendingFrom = -1;
};

#endif
