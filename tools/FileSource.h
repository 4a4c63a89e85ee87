// The host side of the library's reader callbacks, over files on disk: each
// open maps the whole file read-only, or falls back to stdio with a large
// buffer when it cannot be mapped (a file larger than the address space of
// a 32-bit device, say).
#ifndef MKV_TOOLS_FILESOURCE_H
#define MKV_TOOLS_FILESOURCE_H

#include <string>

#include "zolvdmx.h"

// The seven callbacks; the source name handed to API_ZOLVDMX_Load is the
// file's path.
_ZOLVDMX_READER_CALLBACK_T FileSourceCallbacks();

// Checks that path names a readable regular file before the library sees
// it, so that a missing file is told apart from one the library rejects.
// Returns an empty string when it is fine, else the reason.
std::string CheckReadableFile(const std::string& path, long long* size);

// How many bytes a file of fileSize bytes lacks to hold its Segment whole:
// more than 0 when the file was cut short or is still being written. 0 for
// a complete file, a Segment of unknown size (live or piped output, which
// says nothing about its end), or a file that does not start with an EBML
// header followed by a Segment.
long long SegmentShortfall(const std::string& path, long long fileSize);

#endif
