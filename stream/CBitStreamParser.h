// CBitStreamParser: the stream interface every element parser reads from,
// with an in-memory implementation and a most-significant-bit-first bit reader.
#ifndef MKV_STREAM_CBITSTREAMPARSER_H
#define MKV_STREAM_CBITSTREAMPARSER_H

#include <cstdint>

class CBitStreamParser {
public:
    // An empty in-memory stream.
    CBitStreamParser();
    // An in-memory stream over a private copy of the given bytes.
    CBitStreamParser(const uint8_t* data, int32_t length);
    virtual ~CBitStreamParser();

    CBitStreamParser(const CBitStreamParser&) = delete;
    CBitStreamParser& operator=(const CBitStreamParser&) = delete;

    virtual int32_t GetBytes(int32_t count, uint8_t* dest);
    virtual int32_t Peek(uint8_t* dest, int32_t count);
    virtual bool IsEnd();
    virtual int32_t Seek(int64_t offset, int32_t whence);
    virtual int32_t Shift(int32_t count);
    virtual int32_t SkipBytes(int32_t count);
    virtual int64_t GetAbsolutePosition();
    virtual int64_t Tell();
    virtual int32_t GetByte();
    // Length of the whole source in bytes; sizes read from the file are
    // checked against what remains of it. A source whose length the host
    // does not know reports the end found so far, or INT64_MAX.
    virtual int64_t GetFileLength();
    // Whether the source's length is known (the host reported one).
    virtual bool IsLengthKnown();
    // Whether `count` bytes from the position are there: against the length,
    // or, when it is unknown, by asking the source for the last of them.
    virtual bool HasBytes(uint64_t count);
    // Copies `count` bytes at an absolute position into dest and answers how
    // many arrived; where the stream's position is left is unspecified.
    virtual int32_t ReadAt(int64_t position, int32_t count, uint8_t* dest);
    // The same, for a reader moving backwards through the source (searching
    // back from a cluster's end): a stream over the host fetches the bytes
    // before the range with it, not those after it.
    virtual int32_t ReadBefore(int64_t position, int32_t count, uint8_t* dest) { return ReadAt(position, count, dest); }

    uint32_t GetBit();
    uint32_t DecodeInt(int32_t n);
    int32_t DecodeInt(int32_t n, uint32_t* out);
    uint32_t DecodeBits(int32_t n);
    int32_t Align();
    float DecodeFloat();
    double DecodeDouble();

    // Bytes left between the current position and the end of the source
    // (0 when the position is at or past the end).
    int64_t RemainingBytes();
    // Moves forward by a 64-bit byte count: SkipBytes when it fits a signed
    // 32-bit count, otherwise one 64-bit relative Seek, so a huge size from
    // the file can never turn into a backward move.
    void SkipForward(uint64_t count);

protected:
    int32_t position = 0;       // read position in the memory buffer
    int32_t length = 0;         // bytes in the memory buffer
    int32_t bitPosition = 8;    // bits used of the current byte; 8: fetch a new byte
    uint32_t shiftRegister = 0; // current byte, shifted left as bits are taken
    uint8_t* buffer = nullptr;  // owned memory buffer (malloc)
};

#endif
