// Helpers for the format description tests: track entries built field by
// field, described the way the loader does, and the host's view of a record.
#ifndef MKV_TESTS_DEMUX_FORMATTESTSUPPORT_H
#define MKV_TESTS_DEMUX_FORMATTESTSUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "demux/KelmMKVDemux.h"
#include "DemuxInternals.h"
#include "matroska/EBMLTrack.h"

using Bytes = std::vector<uint8_t>;

inline void SetBytes(EBMLBinary& value, const Bytes& bytes)
{
    value.SetData(bytes.data(), static_cast<int32_t>(bytes.size()));
}

inline void SetText(EBMLBinary& value, const std::string& text)
{
    value.SetData(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()));
}

// A track entry built field by field and described the way the loader does,
// into a format record that owns and frees the buffers.
struct TrackUnderTest {
    KelmMKVDemux demux;
    EBMLTrackEntry entry;
    OwnedMediaFormat format;
    uint32_t status = 1;

    Matroska& File() { return DemuxInternals::File(demux); }
    // The record as GetMediaFormat hands it out.
    ZOLVDMX_MEDIA_FORMAT_T Describe()
    {
        status = demux.SetMediaFormat(&entry, &format);
        return format;
    }
};

// `count` bytes at p (none for a null pointer).
inline Bytes At(const void* p, int32_t count)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(p);
    return bytes == nullptr ? Bytes{} : Bytes(bytes, bytes + count);
}

#endif
