// Runs an element class over bytes that start with the element's own header,
// the way its parent does: the header is read, the payload's position and
// declared size recorded, then the class parses its children.
#ifndef MKV_TESTS_MATROSKA_PARSEELEMENT_H
#define MKV_TESTS_MATROSKA_PARSEELEMENT_H

#include "EbmlWriter.h"
#include "ebml/ElementLoop.h"

// Four zero bytes follow, as a file goes on after an element: the peek needs
// four bytes to see even a one-byte ID, and zero bytes are no ID, so they end
// every loop. Returns the stream position where the parse ended.
inline int64_t ParseElement(const Bytes& bytes, EBML& element)
{
    Bytes source = ebml::Cat({bytes, ebml::Filler(4)});
    CBitStreamParser stream(source.data(), static_cast<int32_t>(source.size()));
    ElementBody(&stream, EBML::PeekID(&stream)).ParseChild(element);
    return stream.Tell();
}

#endif
