// Runs an element class over bytes that start with its own header, as its parent does; four zero
// bytes follow, since a peek needs four bytes and zero bytes are no ID. Returns where the parse ended.
#ifndef MKV_TESTS_MATROSKA_PARSEELEMENT_H
#define MKV_TESTS_MATROSKA_PARSEELEMENT_H

#include "EbmlWriter.h"
#include "ebml/ElementLoop.h"

inline int64_t ParseElement(const Bytes& bytes, EBML& element)
{
    Bytes source = ebml::Cat({bytes, ebml::Filler(4)});
    CBitStreamParser stream(source.data(), static_cast<int32_t>(source.size()));
    ElementBody(&stream, EBML::PeekID(&stream)).ParseChild(element);
    return stream.Tell();
}

#endif
