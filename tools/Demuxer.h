// One libMKV handle over a file, driven through the eight exported
// functions only, as a host does. Keeps the library's own lines ("MKV
// loding time", "~Matroska") off the tool's standard output.
#ifndef MKV_TOOLS_DEMUXER_H
#define MKV_TOOLS_DEMUXER_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "zolvdmx.h"

// One sample as the library delivered it, with a buffer sized for the
// track (see Demuxer::NewSample).
struct TrackSample {
    std::vector<unsigned char> buffer;
    ZOLVDMX_MEDIA_SAMPLE_T record{};
    // The H.264 or HEVC parameter sets the handle hands out once, before
    // the first frame of such a track.
    bool isConfig = false;

    const unsigned char* Bytes() const { return buffer.data(); }
    size_t Size() const { return record.size > 0 ? static_cast<size_t>(record.size) : 0; }
};

class Demuxer {
public:
    // Creates a handle and loads path; throws ToolError when the library
    // cannot, or finds no track in the file. With verbose the library's lines go to stderr, otherwise
    // nowhere.
    Demuxer(const std::string& path, bool verbose);
    ~Demuxer();
    Demuxer(const Demuxer&) = delete;
    Demuxer& operator=(const Demuxer&) = delete;

    int32_t TrackCount() const;
    // ZOLVDMX_TRACK_VIDEO, _AUDIO, _SUBTITLE or _OTHER.
    int32_t TrackType(int32_t track) const;
    ZOLVDMX_MEDIA_FORMAT_T Format(int32_t track) const;
    // Throws ToolError (no such track) unless 0 <= track < TrackCount().
    void RequireTrack(int32_t track) const;
    // RequireTrack, and throws ToolError (unsupported track) unless the
    // track is video or audio, the only types with samples.
    void RequireAudioOrVideo(int32_t track, const std::string& command) const;
    // Throws ToolError (library error) for a failed sample request.
    [[noreturn]] void FailDelivery(int32_t track, long sampleIndex, uint32_t status) const;

    // A sample whose buffer holds the track's largest sample and, for
    // H.264 and HEVC, the parameter sets handed out as a sample of their own.
    TrackSample NewSample(int32_t track) const;
    // The next sample of the track; answers the library's status.
    uint32_t NextSample(int32_t track, TrackSample& sample);

    uint32_t Seek(int32_t track, int64_t time, int64_t& resultTime);

    const std::string& Path() const { return path; }

private:
    ZOLVDMX_HANDLE_T* handle = nullptr;
    // The library hands this name back to the open callback whenever it
    // opens a stream, so it lives as long as the handle.
    std::vector<unsigned char> sourceName;
    std::string path;
    bool verbose;
    // The tracks whose parameter sets this handle has handed out: the
    // library does so once per track, on the first request for an H.264 or
    // HEVC track that has them.
    std::set<int32_t> configHandedOut;
};

// The four-character codes AVC1 and HEVC as the library stores them in
// `codec`: the first character in the low byte.
constexpr uint32_t kCodecAvc1 = 0x31435641u;
constexpr uint32_t kCodecHevc = 0x43564548u;

// Human-readable form of a library status code, e.g. "0x80004005 (failure)".
std::string StatusText(uint32_t status);

#endif
