// Sample lines. Times are printed from the 100-ns integers, exactly; JSON
// is streamed, so a long listing needs no memory.
#include "SampleListing.h"

#include <cstdio>

#include "Demuxer.h"
#include "Md5.h"
#include "TextFormat.h"

SampleListing::SampleListing(bool json, bool md5, std::string file) : json(json), md5(md5), file(std::move(file)) {}

void SampleListing::Begin()
{
    if (json) {
        std::printf("{\"file\":%s,\"packets\":[", JsonString(file).c_str());
        return;
    }
    std::printf("%5s  %11s  %13s  %11s  %13s  %8s  %4s  %s\n", "track", "start s", "start 100ns", "end s",
                "end 100ns", "size", "sync", md5 ? "kind    md5" : "kind");
}

void SampleListing::Add(int32_t track, const TrackSample& sample)
{
    const ZOLVDMX_MEDIA_SAMPLE_T& record = sample.record;
    const char* kind = sample.isConfig ? "config" : "frame";
    std::string digest = md5 ? Md5Hex(sample.Bytes(), sample.Size()) : std::string();
    if (json) {
        JsonObject line;
        line.Integer("track", track)
            .String("kind", kind)
            .Raw("start", FormatSeconds(record.startTime))
            .Integer("start_100ns", record.startTime)
            .Raw("end", FormatSeconds(record.endTime))
            .Integer("end_100ns", record.endTime)
            .Integer("size", record.size)
            .Bool("sync", record.syncPoint != 0);
        if (md5) {
            line.String("md5", digest);
        }
        std::printf("%s\n%s", first ? "" : ",", line.Text().c_str());
        first = false;
        return;
    }
    std::printf("%5d  %11s  %13lld  %11s  %13lld  %8d  %4u  %-*s%s\n", static_cast<int>(track),
                FormatSeconds(record.startTime).c_str(), static_cast<long long>(record.startTime),
                FormatSeconds(record.endTime).c_str(), static_cast<long long>(record.endTime),
                static_cast<int>(record.size), static_cast<unsigned>(record.syncPoint), md5 ? 8 : 0, kind,
                digest.c_str());
}

void SampleListing::End()
{
    if (json) {
        std::printf("\n]}\n");
    }
}
