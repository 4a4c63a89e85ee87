// Matroska: the root of the element tree. Opens the source through the
// host's callbacks, walks the top level (EBML header, Segment) and owns what
// it finds. EBMLHeader: the EBML header's version fields and DocType.
#ifndef MKV_MATROSKA_MATROSKA_H
#define MKV_MATROSKA_MATROSKA_H

#include <cstdint>
#include <memory>
#include <vector>

#include "ebml/EBML.h"
#include "ebml/MallocPtr.h"
#include "matroska/EBMLSegment.h"
#include "stream/NoCachingFileStreamParser.h"
#include "stream/ReadAheadStreamParser.h"
#include "stream/WindowCache.h"

// Windows shared by the streams of one file: the file object's walk and the
// two read cursors each keep one in use, the fourth takes the clusters a
// cursor looks ahead into. 256 KiB for a handle.
constexpr int32_t kSharedWindows = 4;

class EBMLHeader : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    uint32_t ebmlVersion = 0;
    uint32_t ebmlReadVersion = 0;
    uint32_t ebmlMaxIDLength = 0;
    uint32_t ebmlMaxSizeLength = 0;
    MallocPtr<uint8_t> docType; // the payload exactly, no terminator
    int32_t docTypeLength = 0;
    uint32_t docTypeVersion = 0;
    uint32_t docTypeReadVersion = 0;
};

class Matroska : public EBML {
public:
    Matroska();
    ~Matroska() override;

    // Opens the source and parses its top level: 0, or 1 when it cannot be opened.
    uint32_t Parse(unsigned char* name, _ZOLVDMX_READER_CALLBACK_T* reader);
    // The top-level loop over the given stream; ends with the first Segment.
    uint32_t Parse(CBitStreamParser* stream) override;
    static uint32_t InitialParsingThread(void* object);
    bool IsParsing() const { return parsing; }
    // Whether a source is a Matroska file: its EBML header's DocType begins
    // with "matroska".
    static bool IsMKVFile(unsigned char* name, _ZOLVDMX_READER_CALLBACK_T* reader);

    std::vector<std::unique_ptr<EBMLHeader>> headers;
    std::vector<std::unique_ptr<EBMLSegment>> segments;
    bool parsing = false;
    // The windows every stream over the source shares (this object's and the
    // read cursors'); they outlive the streams.
    std::unique_ptr<WindowCache> windows;
    std::unique_ptr<ReadAheadStreamParser> stream;
    bool seekAble = false; // a Segment of this file met a SeekHead
};

#endif
