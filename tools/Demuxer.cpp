// The handle's life: create and load, queries, destroy. The library prints
// a line on stdout after a load and another when a handle is destroyed;
// both calls run with file descriptor 1 pointed elsewhere.
#include "Demuxer.h"

#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "FileSource.h"
#include "ToolError.h"
#include "TrackInfo.h"

namespace {

// Points file descriptor 1 at stderr (verbose) or /dev/null for its
// lifetime. The library writes through C stdio, whose buffer is flushed on
// both switches so that each line lands on the side it was written for.
class StdoutDiversion {
public:
    explicit StdoutDiversion(bool toStderr)
    {
        std::fflush(stdout);
        int target = toStderr ? dup(STDERR_FILENO) : open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (target < 0) {
            return;
        }
        saved = dup(STDOUT_FILENO);
        if (saved >= 0 && dup2(target, STDOUT_FILENO) < 0) {
            close(saved);
            saved = -1;
        }
        close(target);
    }

    ~StdoutDiversion()
    {
        std::fflush(stdout);
        if (saved >= 0) {
            dup2(saved, STDOUT_FILENO);
            close(saved);
        }
    }

    StdoutDiversion(const StdoutDiversion&) = delete;
    StdoutDiversion& operator=(const StdoutDiversion&) = delete;

private:
    int saved = -1;
};

} // namespace

std::string StatusText(uint32_t status)
{
    const char* meaning = "unknown status";
    switch (status) {
    case ZOLVDMX_OK: meaning = "ok"; break;
    case ZOLVDMX_END_OF_TRACK: meaning = "end of track"; break;
    case ZOLVDMX_E_FAIL: meaning = "failure"; break;
    case ZOLVDMX_E_NOTIMPL: meaning = "not implemented for this track type"; break;
    case ZOLVDMX_E_UNSUPPORTED: meaning = "unsupported track type"; break;
    case ZOLVDMX_E_INVALIDARG: meaning = "invalid argument"; break;
    default: break;
    }
    char text[64];
    std::snprintf(text, sizeof text, "0x%08X (%s)", static_cast<unsigned>(status), meaning);
    return text;
}

Demuxer::Demuxer(const std::string& path, bool verbose)
    : sourceName(path.begin(), path.end()), path(path), verbose(verbose)
{
    sourceName.push_back(0);
    if (API_ZOLVDMX_Create(&handle, FileSourceCallbacks()) != ZOLVDMX_OK || handle == nullptr) {
        handle = nullptr;
        throw ToolError(kExitFailure, "cannot create a demuxer handle");
    }
    uint32_t status;
    {
        StdoutDiversion diversion(verbose);
        status = API_ZOLVDMX_Load(handle, sourceName.data());
    }
    std::string problem;
    if (status != ZOLVDMX_OK) {
        problem = "the library cannot load it (no Matroska Segment found; status " + StatusText(status) + ")";
    } else if (API_ZOLVDMX_GetNumTracks(handle) <= 0) {
        // A file cut short before its track list loads, but holds nothing
        // a player could use.
        problem = "the library loads it but finds no track in it (is the file cut short?)";
    }
    if (!problem.empty()) {
        // The destructor does not run when the constructor throws.
        {
            StdoutDiversion diversion(verbose);
            API_ZOLVDMX_Destroy(handle);
        }
        handle = nullptr;
        throw ToolError(kExitNotLoadable, path + ": " + problem);
    }
}

Demuxer::~Demuxer()
{
    if (handle != nullptr) {
        StdoutDiversion diversion(verbose);
        API_ZOLVDMX_Destroy(handle);
    }
}

int32_t Demuxer::TrackCount() const
{
    return API_ZOLVDMX_GetNumTracks(handle);
}

int32_t Demuxer::TrackType(int32_t track) const
{
    return API_ZOLVDMX_GetTrackType(handle, track);
}

ZOLVDMX_MEDIA_FORMAT_T Demuxer::Format(int32_t track) const
{
    ZOLVDMX_MEDIA_FORMAT_T format{};
    API_ZOLVDMX_GetMediaFormat(handle, track, &format);
    return format;
}

void Demuxer::RequireTrack(int32_t track) const
{
    int32_t count = TrackCount();
    if (track >= 0 && track < count) {
        return;
    }
    // The constructor turned away files without tracks.
    throw ToolError(kExitNoSuchTrack, path + ": no track " + std::to_string(track) + " (tracks are 0 to " +
                                          std::to_string(count - 1) + ")");
}

TrackSample Demuxer::NewSample(int32_t track) const
{
    ZOLVDMX_MEDIA_FORMAT_T format = Format(track);
    size_t size = format.maxSampleSize;
    if (format.configSize > 0 && static_cast<size_t>(format.configSize) > size) {
        size = static_cast<size_t>(format.configSize);
    }
    TrackSample sample;
    sample.buffer.resize(size > 0 ? size : 1);
    sample.record.buffer = sample.buffer.data();
    return sample;
}

void Demuxer::RequireAudioOrVideo(int32_t track, const std::string& command) const
{
    RequireTrack(track);
    int32_t type = TrackType(track);
    if (type != ZOLVDMX_TRACK_VIDEO && type != ZOLVDMX_TRACK_AUDIO) {
        throw ToolError(kExitUnsupportedTrack, path + ": track " + std::to_string(track) + " is a " +
                                                   TrackTypeName(type) + " track; " + command +
                                                   " handles video and audio tracks only");
    }
}

void Demuxer::FailDelivery(int32_t track, long sampleIndex, uint32_t status) const
{
    throw ToolError(kExitLibraryError, path + ": track " + std::to_string(track) +
                                           ": the library failed to deliver sample " + std::to_string(sampleIndex) +
                                           " (status " + StatusText(status) + ")");
}

uint32_t Demuxer::NextSample(int32_t track, TrackSample& sample)
{
    ZOLVDMX_MEDIA_FORMAT_T format = Format(track);
    bool configDue = configHandedOut.count(track) == 0 &&
                     (format.codec == kCodecAvc1 || format.codec == kCodecHevc) && format.configSize > 0;
    sample.record.buffer = sample.buffer.data();
    uint32_t status = API_ZOLVDMX_GetNextMediaSample(handle, track, &sample.record);
    sample.isConfig = false;
    if (configDue && status == ZOLVDMX_OK) {
        configHandedOut.insert(track);
        sample.isConfig = sample.Size() == static_cast<size_t>(format.configSize) && format.config != nullptr &&
                          std::memcmp(sample.Bytes(), format.config, sample.Size()) == 0;
    }
    return status;
}

uint32_t Demuxer::Seek(int32_t track, int64_t time, int64_t& resultTime)
{
    return API_ZOLVDMX_Seek(handle, track, time, &resultTime);
}
