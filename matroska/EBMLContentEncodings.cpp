// Placeholder parsers; replaced by the element implementations.
#include "EBMLContentEncodings.h"

uint32_t EBMLContentCompression::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLContentEncryption::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLContentEncoding::Parse(CBitStreamParser*)
{
    return 0;
}

uint32_t EBMLContentEncodings::Parse(CBitStreamParser*)
{
    return 0;
}

int SortContentEncoding(const void*, const void*)
{
    return 0;
}

int32_t MKVBinDecompress(EBMLContentCompression&)
{
    return 0;
}
