// Chapters, attachments and signatures: elements playback does not use,
// parsed only so the stream can be stepped over safely.
#ifndef MKV_MATROSKA_EBMLCHAPTERS_H
#define MKV_MATROSKA_EBMLCHAPTERS_H

#include <cstdint>
#include <memory>
#include <vector>

#include "ebml/EBML.h"
#include "ebml/MallocPtr.h"

class EBMLChapterAtom : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    uint32_t chapterUID = 0;
    uint32_t chapterTimeStart = 0; // never set: ChapterTimeStart is not read
    uint32_t chapterTimeEnd = 0;
    uint32_t chapterFlagHidden = 0;
    uint32_t chapterFlagEnabled = 0;
    std::unique_ptr<EBML> display; // never set by parsing
};

class EBMLEditionEntry : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    uint32_t editionUID = 0;
    uint32_t editionFlagHidden = 0;
    uint32_t editionFlagDefault = 0;
    uint32_t editionFlagOrdered = 0;
    std::vector<std::unique_ptr<EBMLChapterAtom>> atoms;
};

class EBMLChapters : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    std::vector<std::unique_ptr<EBMLEditionEntry>> editions; // parsing leaves it empty
};

// ChapterTrack and Attachments: passed over whole, nothing kept.
class EBMLChapterTrack : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;
};
class EBMLAttachments : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;
};

class EBMLSignatureElementList : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    std::vector<MallocPtr<uint8_t>> signedElements;
};

class EBMLSignature : public EBML {
public:
    uint32_t Parse(CBitStreamParser* stream) override;

    MallocPtr<uint8_t> hash;      // never filled by parsing
    MallocPtr<uint8_t> publicKey; // never filled by parsing
    std::vector<std::unique_ptr<EBMLSignatureElementList>> elementLists;
};

#endif
