// mkvdemux seek: one seek on a fresh handle, then the samples that follow.
#include <cstdio>

#include "Commands.h"
#include "Demuxer.h"
#include "SampleListing.h"
#include "TextFormat.h"
#include "ToolError.h"

int RunSeek(const Options& options)
{
    Demuxer demuxer(options.file, options.verbose);
    demuxer.RequireAudioOrVideo(options.track, "seek");

    int64_t reached = options.time;
    uint32_t status = demuxer.Seek(options.track, options.time, reached);
    std::printf("seek track %d to %s s (%lld): status %s, time %s s (%lld)\n", static_cast<int>(options.track),
                FormatSeconds(options.time).c_str(), static_cast<long long>(options.time), StatusText(status).c_str(),
                FormatSeconds(reached).c_str(), static_cast<long long>(reached));
    if (status != ZOLVDMX_OK) {
        throw ToolError(kExitLibraryError, options.file + ": track " + std::to_string(options.track) +
                                               ": the seek failed (status " + StatusText(status) + ")");
    }

    SampleListing listing(false, options.md5, options.file);
    listing.Begin();
    TrackSample sample = demuxer.NewSample(options.track);
    for (int32_t listed = 0; listed < options.count;) {
        uint32_t next = demuxer.NextSample(options.track, sample);
        if (next == ZOLVDMX_END_OF_TRACK) {
            std::printf("(end of track)\n");
            break;
        }
        if (next != ZOLVDMX_OK) {
            demuxer.FailDelivery(options.track, listed, next);
        }
        listing.Add(options.track, sample);
        // The parameter sets come on top of the K samples asked for.
        listed += sample.isConfig ? 0 : 1;
    }
    return 0;
}
