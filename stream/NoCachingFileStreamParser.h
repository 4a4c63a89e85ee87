// NoCachingFileStreamParser: a stream over the host's reader callbacks that
// keeps no buffer; every operation maps onto host calls (a read repeats
// until it has the count asked for, or the host answers 0 or less).
#ifndef MKV_STREAM_NOCACHINGFILESTREAMPARSER_H
#define MKV_STREAM_NOCACHINGFILESTREAMPARSER_H

#include "CBitStreamParser.h"
#include "zolvdmx.h"

class NoCachingFileStreamParser : public CBitStreamParser {
public:
    NoCachingFileStreamParser();
    NoCachingFileStreamParser(unsigned char* name, bool& ok, _ZOLVDMX_READER_CALLBACK_T* reader);
    ~NoCachingFileStreamParser() override;

    // Opens the source (closing a handle already open first); true when open.
    bool Load(unsigned char* name);
    int64_t GetFileLength() override;
    bool IsLengthKnown() override { return fileLength >= 0; }
    // Asks the host for the length again: a seek to the end, then `length`
    // (the host's position is left at the end).
    void RefreshLength();
    int32_t isEof(void* hostHandle);
    void SetReader(_ZOLVDMX_READER_CALLBACK_T* callbacks) { reader = callbacks; }
    bool IsOpen() const { return handle != nullptr && reader != nullptr; }

    int32_t GetBytes(int32_t count, uint8_t* dest) override;
    int32_t Peek(uint8_t* dest, int32_t count) override;
    bool IsEnd() override;
    int32_t Seek(int64_t offset, int32_t whence) override;
    int32_t Shift(int32_t count) override;
    int32_t SkipBytes(int32_t count) override;
    int64_t Tell() override;
    int32_t GetByte() override;

private:
    // Host reads until `count` bytes have arrived or the host answers 0 or
    // less; the count delivered, each answer kept within what was asked.
    int32_t Read(int32_t count, uint8_t* dest);

    void* handle = nullptr;                        // host handle; null when closed
    _ZOLVDMX_READER_CALLBACK_T* reader = nullptr;  // not owned: lives in the API handle
    int64_t fileLength = 0;                        // from the length callback
};

#endif
