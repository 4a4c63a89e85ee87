// Content encodings of a track entry: the layers are parsed and stored.
#include "EBMLContentEncodings.h"

#include "ebml/ElementLoop.h"

uint32_t EBMLContentCompression::Parse(CBitStreamParser* stream)
{
    return ParseChildren(stream, *this, [&](ElementBody& child) {
        switch (child.Id()) {
        case kIdContentCompAlgo:
            algorithm = child.ReadUInt32();
            return true;
        case kIdContentCompSettings:
            settingsLength = child.ReadRaw(settings);
            return true;
        default:
            return false;
        }
    });
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
            hasScope = true;
            return true;
        case kIdContentEncodingType:
            type = child.ReadUInt32();
            hasType = true;
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
