// Runs an element class over bytes that start with the element's own header,
// the way its parent does: the header is read, the payload's position and
// declared size recorded, then the class parses its children.
#ifndef MKV_TESTS_MATROSKA_PARSEELEMENT_H
#define MKV_TESTS_MATROSKA_PARSEELEMENT_H

#include <cstdint>

#include "EbmlWriter.h"
#include "ebml/ElementLoop.h"

// Parses `source` as it is; returns the stream position where the parse ended.
inline int64_t ParseWholeSource(const Bytes& source, EBML& element)
{
    CBitStreamParser stream(source.data(), static_cast<int32_t>(source.size()));
    ElementBody body(&stream, EBML::PeekID(&stream));
    body.ParseChild(element);
    return stream.Tell();
}

// Parses `bytes` followed by four zero bytes, as a file goes on after an
// element: the peek needs four bytes to see even a one-byte ID, so a short
// last child would otherwise go unread. Zero bytes are no ID and stop every
// loop. Returns the stream position where the parse ended.
inline int64_t ParseElement(const Bytes& bytes, EBML& element)
{
    return ParseWholeSource(ebml::Cat({bytes, ebml::Filler(4)}), element);
}

#endif
