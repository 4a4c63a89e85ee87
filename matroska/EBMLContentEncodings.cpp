// Content encodings of a track entry: the layers are parsed and stored;
// none is undone.
#include "EBMLContentEncodings.h"

#include "ebml/ElementLoop.h"

uint32_t EBMLContentCompression::Parse(CBitStreamParser* stream)
{
    // Nothing here undoes compression, so the payload (ContentCompAlgo,
    // ContentCompSettings) is passed over whole: the enclosing loops expect
    // the stream after the element. An element of unknown size runs to the
    // end of the source, which dataSize then already says.
    if (sizeKnown) {
        stream->Seek(DeclaredEnd(), 0);
    } else {
        stream->SkipForward(dataSize);
    }
    return kStatusOk;
}

uint32_t EBMLContentEncryption::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdContentEncAlgo:
            algorithm = child.ReadUInt32();
            return true;
        case kIdContentEncKeyId:
            keyIdLength = child.ReadRaw(keyId);
            return true;
        case kIdContentSignature:
            signatureLength = child.ReadRaw(signature);
            return true;
        case kIdContentSigKeyId:
            signatureKeyIdLength = child.ReadRaw(signatureKeyId);
            return true;
        case kIdContentSigAlgo:
            signatureAlgorithm = child.ReadUInt32();
            return true;
        case kIdContentSigHashAlgo:
            signatureHashAlgorithm = child.ReadUInt32();
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLContentEncoding::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdContentEncodingOrder:
            order = child.ReadUInt32();
            return true;
        case kIdContentEncodingScope:
            scope = child.ReadUInt32();
            return true;
        case kIdContentEncodingType:
            type = child.ReadUInt32();
            return true;
        case kIdContentCompression:
            // A repeated element updates the same object.
            child.ParseInto(compression);
            return true;
        case kIdContentEncryption:
            // A repeated element updates the same object.
            child.ParseInto(encryption);
            return true;
        default:
            return false;
        }
    });
}

uint32_t EBMLContentEncodings::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        if (child.Id() != kIdContentEncoding) {
            return false;
        }
        child.ParseAppend(encodings);
        return true;
    });
}

int SortContentEncoding(const void* a, const void* b)
{
    const EBMLContentEncoding* first = *static_cast<const EBMLContentEncoding* const*>(a);
    const EBMLContentEncoding* second = *static_cast<const EBMLContentEncoding* const*>(b);
    return static_cast<int32_t>(first->order - second->order);
}

int32_t MKVBinDecompress(EBMLContentCompression&)
{
    return 0;
}
