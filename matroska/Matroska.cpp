// The file object: opens the source, walks the top level, owns the tree.
#include "Matroska.h"

#include <cstdio>
#include <cstring>

#include "ebml/ElementLoop.h"

uint32_t EBMLHeader::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdEbmlVersion:
            ebmlVersion = child.ReadUInt32();
            return true;
        case kIdEbmlReadVersion:
            ebmlReadVersion = child.ReadUInt32();
            return true;
        case kIdEbmlMaxIdLength:
            ebmlMaxIDLength = child.ReadUInt32();
            return true;
        case kIdEbmlMaxSizeLength:
            ebmlMaxSizeLength = child.ReadUInt32();
            return true;
        case kIdDocType:
            docTypeLength = child.ReadRaw(docType);
            return true;
        case kIdDocTypeVersion:
            docTypeVersion = child.ReadUInt32();
            return true;
        case kIdDocTypeReadVersion:
            docTypeReadVersion = child.ReadUInt32();
            return true;
        case kIdCrc32:
            child.ReadUInt32(); // read, not checked
            return true;
        default:
            return false;
        }
    });
}

Matroska::Matroska() = default;

Matroska::~Matroska()
{
    headers.clear();
    segments.clear();
    stream = nullptr;
    source.reset();
    std::puts("~Matroska\r");
}

uint32_t Matroska::Parse(unsigned char* name, _ZOLVDMX_READER_CALLBACK_T* reader)
{
    // The source is opened once; every stream over it, this object's and the
    // read cursors', shares its host handle and windows.
    if (!source) {
        source = std::make_unique<HostSource>(reader);
    }
    if (!source->Open(name)) {
        stream = nullptr;
        return 1;
    }
    if (stream == nullptr) {
        stream = source->NewStream();
    }
    stream->Seek(0, ZOLVDMX_SEEK_SET);
    parsing = true;
    Parse(stream);
    return 0;
}

uint32_t Matroska::Parse(CBitStreamParser* input)
{
    if (input == nullptr) {
        parsing = false;
        return 0;
    }
    while (!input->IsEnd() && parsing) {
        int64_t start = input->Tell();
        uint32_t id = EBML::PeekID(input);
        ElementBody child(input, id);
        if (id == kIdEbml) {
            auto header = std::make_unique<EBMLHeader>();
            if (child.ParseChild(*header) == 0) {
                headers.push_back(std::move(header));
            }
        } else if (id == kIdSegment) {
            auto segment = std::make_unique<EBMLSegment>(this);
            EBMLSegment* raw = segment.get();
            segment->elementPosition = start;
            segments.push_back(std::move(segment));
            // The Segment's size is recorded so that elements it does not
            // know can be passed over inside it.
            child.ParseChild(*raw);
            parsing = false;
            return 0;
        } else if (IsGlobalElement(id)) {
            child.Skip();
        } else {
            break;
        }
    }
    parsing = false;
    return 0;
}

uint32_t Matroska::InitialParsingThread(void* object)
{
    auto* file = static_cast<Matroska*>(object);
    if (file != nullptr) {
        file->Parse(file->stream);
    }
    return 0;
}

bool Matroska::IsMKVFile(unsigned char* name, _ZOLVDMX_READER_CALLBACK_T* reader)
{
    NoCachingFileStreamParser probe;
    probe.SetReader(reader);
    if (!probe.Load(name)) {
        return false;
    }
    while (!probe.IsEnd()) {
        uint32_t id = EBML::PeekID(&probe);
        ElementBody child(&probe, id);
        if (id == kIdEbml) {
            EBMLHeader header;
            child.ParseChild(header);
            return header.docType && header.docTypeLength >= 8 &&
                   std::memcmp(header.docType.get(), "matroska", 8) == 0;
        }
        if (id == kIdSegment || IsGlobalElement(id)) {
            child.Skip();
            continue;
        }
        return false;
    }
    return false;
}
