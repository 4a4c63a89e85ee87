// The eight exported entry points. They check what the host passes, forward
// to the demuxer, hand out an H.264 or HEVC track's parameter sets once per
// track, and let no C++ exception reach the host.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ZolvdmxHandle.h"

namespace {

bool IsValidTrack(ZOLVDMX_HANDLE_T* handle, int32_t track)
{
    return handle != nullptr && handle->demux != nullptr && track >= 0 &&
           track < handle->demux->GetNumTracks();
}

template <class Result, class Body>
Result Guarded(Result onError, Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return onError;
    }
}

} // namespace

extern "C" {

uint32_t API_ZOLVDMX_Create(ZOLVDMX_HANDLE_T** handle, _ZOLVDMX_READER_CALLBACK_T reader)
{
    return Guarded(ZOLVDMX_E_FAIL, [&]() -> uint32_t {
        if (handle == nullptr || reader.open == nullptr || reader.close == nullptr ||
            reader.length == nullptr || reader.read == nullptr || reader.tell == nullptr ||
            reader.seek == nullptr) {
            return ZOLVDMX_E_FAIL;
        }
        // Owned until handed out, so that a failed allocation leaves nothing
        // behind (the guard answers it with a failure).
        auto fresh = std::make_unique<ZOLVDMX_HANDLE_T>();
        fresh->demux = std::make_unique<KelmMKVDemux>();
        fresh->reader = reader;
        *handle = fresh.release();
        return ZOLVDMX_OK;
    });
}

uint32_t API_ZOLVDMX_Destroy(ZOLVDMX_HANDLE_T* handle)
{
    return Guarded(ZOLVDMX_E_FAIL, [&]() -> uint32_t {
        if (handle == nullptr) {
            return ZOLVDMX_E_FAIL;
        }
        delete handle;
        return ZOLVDMX_OK;
    });
}

uint32_t API_ZOLVDMX_Load(ZOLVDMX_HANDLE_T* handle, unsigned char* name)
{
    return Guarded(ZOLVDMX_E_FAIL, [&]() -> uint32_t {
        if (handle == nullptr || handle->demux == nullptr || handle->loaded) {
            return ZOLVDMX_E_FAIL;
        }
        handle->loaded = true;
        return handle->demux->Load(name, &handle->reader);
    });
}

int32_t API_ZOLVDMX_GetNumTracks(ZOLVDMX_HANDLE_T* handle)
{
    return Guarded<int32_t>(0, [&]() -> int32_t {
        if (handle == nullptr || handle->demux == nullptr) {
            return 0;
        }
        return handle->demux->GetNumTracks();
    });
}

int32_t API_ZOLVDMX_GetTrackType(ZOLVDMX_HANDLE_T* handle, int32_t track)
{
    return Guarded<int32_t>(ZOLVDMX_TRACK_OTHER, [&]() -> int32_t {
        if (!IsValidTrack(handle, track)) {
            return ZOLVDMX_TRACK_OTHER;
        }
        return handle->demux->GetTrackType(track);
    });
}

uint32_t API_ZOLVDMX_GetMediaFormat(ZOLVDMX_HANDLE_T* handle, int32_t track, ZOLVDMX_MEDIA_FORMAT_T* format)
{
    return Guarded(ZOLVDMX_E_FAIL, [&]() -> uint32_t {
        if (!IsValidTrack(handle, track) || format == nullptr) {
            return ZOLVDMX_E_FAIL;
        }
        return handle->demux->GetMediaFormat(track, format);
    });
}

uint32_t API_ZOLVDMX_GetNextMediaSample(ZOLVDMX_HANDLE_T* handle, int32_t track, ZOLVDMX_MEDIA_SAMPLE_T* sample)
{
    return Guarded(ZOLVDMX_E_FAIL, [&]() -> uint32_t {
        if (!IsValidTrack(handle, track) || sample == nullptr || sample->buffer == nullptr) {
            return ZOLVDMX_E_FAIL;
        }
        KelmMKVDemux& demux = *handle->demux;
        ZOLVDMX_MEDIA_FORMAT_T format;
        demux.GetMediaFormat(track, &format);

        // An H.264 or HEVC track's parameter sets go out before its first
        // frame, once per track (not again after a seek).
        if (demux.TakeConfigSample(track)) {
            std::memcpy(sample->buffer, format.config, static_cast<size_t>(format.configSize));
            sample->size = format.configSize;
            sample->startTime = 0;
            sample->endTime = 0;
            sample->syncPoint = 1;
            sample->reserved2 = 0;
            return ZOLVDMX_OK;
        }

        int64_t duration = 0;
        bool key = false;
        int32_t size = sample->size;
        int64_t start = sample->startTime;
        uint32_t result = demux.GetNextMediaSample(track, sample->buffer, static_cast<int32_t>(format.maxSampleSize),
                                                   size, start, duration, key);
        sample->size = size;
        sample->startTime = start;
        sample->syncPoint = demux.IsSyncPoint(track, start, key) ? 1u : 0u;
        sample->endTime = start + duration;
        sample->reserved2 = 0;
        return result;
    });
}

uint32_t API_ZOLVDMX_Seek(ZOLVDMX_HANDLE_T* handle, int32_t track, int64_t time, int64_t* resultTime)
{
    return Guarded(ZOLVDMX_E_FAIL, [&]() -> uint32_t {
        if (resultTime == nullptr) {
            return ZOLVDMX_E_FAIL;
        }
        int64_t t = time;
        uint32_t result = ZOLVDMX_E_FAIL;
        if (IsValidTrack(handle, track)) {
            result = handle->demux->DemuxSeek(track, t) == ZOLVDMX_OK ? ZOLVDMX_OK : ZOLVDMX_E_FAIL;
        }
        *resultTime = t;
        return result;
    });
}

} // extern "C"
