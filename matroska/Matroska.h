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
#include "stream/HostSource.h"
#include "stream/NoCachingFileStreamParser.h"
#include "stream/ReadAheadStreamParser.h"

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
    // The source: its host handle, the windows every stream shares, and the
    // streams (this object's and the read cursors'), which it owns.
    std::unique_ptr<HostSource> source;
    ReadAheadStreamParser* stream = nullptr; // owned by `source`
    bool seekAble = false; // a Segment of this file met a SeekHead
};

#endif
