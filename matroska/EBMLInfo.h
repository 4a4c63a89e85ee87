// Segment information (Info, ChapterTranslate) and the seek head (SeekHead,
// Seek): the timecode scale and duration, and where top-level elements lie.
#ifndef MKV_MATROSKA_EBMLINFO_H
#define MKV_MATROSKA_EBMLINFO_H

#include <cstdint>
#include <memory>
#include <vector>

#include "ebml/EBML.h"
#include "ebml/EBMLDataType.h"
#include "ebml/MallocPtr.h"

constexpr uint64_t kDefaultTimecodeScale = 1000000; // nanoseconds per tick when Info has none

class EBMLChapterTranslate : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    std::vector<uint32_t> editionUIDs;
    uint32_t codec = 0;
    MallocPtr<uint8_t> translateID; // exactly the payload, no terminator
    int32_t translateIDLength = 0;
};

class EBMLInfo : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    uint8_t segmentUID[16] = {};
    uint8_t prevUID[16] = {};
    MallocPtr<char> prevFilename;
    uint8_t nextUID[16] = {};
    MallocPtr<char> nextFilename;
    std::vector<MallocPtr<uint8_t>> segmentFamilies;
    EBMLUnsignedLong timecodeScale{kDefaultTimecodeScale};
    double duration = 0.0; // in timecode ticks
    EBMLDate date;
    MallocPtr<char> muxingApp;
    MallocPtr<char> writingApp;
    EBMLString title;
    std::vector<std::unique_ptr<EBMLChapterTranslate>> chapterTranslates;
};

class EBMLSeek : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;
    // The SeekID in held form (first byte least significant), or kIdInvalid
    // when it has no bytes or more than four.
    uint32_t HeldSeekId() const;

    MallocPtr<uint8_t> seekId; // exactly the payload, no terminator
    int32_t seekIdLength = 0;
    uint64_t seekPosition = 0; // relative to the Segment's data start
};

class EBMLSeekHead : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    std::vector<std::unique_ptr<EBMLSeek>> seeks;
};

#endif
