// mkvdemux packets: every sample of the audio and video tracks.
#include <cstdio>
#include <memory>
#include <vector>

#include <unistd.h>

#include "Commands.h"
#include "Demuxer.h"
#include "Progress.h"
#include "SampleListing.h"

int RunPackets(const Options& options)
{
    auto demuxer = std::make_unique<Demuxer>(options.file, options.verbose);
    std::vector<int32_t> tracks;
    if (options.hasTrack) {
        demuxer->RequireAudioOrVideo(options.track, "packets");
        tracks.push_back(options.track);
    } else {
        for (int32_t track = 0; track < demuxer->TrackCount(); ++track) {
            int32_t type = demuxer->TrackType(track);
            if (type == ZOLVDMX_TRACK_VIDEO || type == ZOLVDMX_TRACK_AUDIO) {
                tracks.push_back(track);
            }
        }
    }

    ProgressBar progress(ProgressWanted(options.fileSize, options.noProgress, isatty(STDOUT_FILENO) == 1),
                         "packets");
    SampleListing listing(options.json, options.md5, options.file);
    listing.Begin();
    uint32_t failure = ZOLVDMX_OK;
    int32_t failedTrack = -1;
    long failedSample = 0;
    for (size_t i = 0; i < tracks.size() && failure == ZOLVDMX_OK; ++i) {
        int32_t track = tracks[i];
        // All audio tracks of a handle share one read position, and all
        // video tracks another: reading one track moves the others. Each
        // track therefore gets a handle of its own, loaded afresh, so that
        // every track is listed from its first sample to its last.
        if (i > 0) {
            demuxer.reset();
            demuxer = std::make_unique<Demuxer>(options.file, options.verbose);
        }
        int64_t duration = demuxer->Format(track).duration;
        TrackSample sample = demuxer->NewSample(track);
        for (long count = 0;; ++count) {
            uint32_t status = demuxer->NextSample(track, sample);
            if (status == ZOLVDMX_END_OF_TRACK) {
                break;
            }
            if (status != ZOLVDMX_OK) {
                failure = status;
                failedTrack = track;
                failedSample = count;
                break;
            }
            listing.Add(track, sample);
            if (duration > 0) {
                progress.Update((static_cast<double>(i) + static_cast<double>(sample.record.startTime) / duration) /
                                static_cast<double>(tracks.size()));
            }
        }
    }
    listing.End();
    progress.Clear();
    if (failure != ZOLVDMX_OK) {
        demuxer->FailDelivery(failedTrack, failedSample, failure);
    }
    return 0;
}
