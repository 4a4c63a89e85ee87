// mkvdemux info: the track table, as text or JSON.
#include <cstdio>
#include <vector>

#include "Commands.h"
#include "Demuxer.h"
#include "TextFormat.h"
#include "TrackInfo.h"

namespace {

std::string FrameRateText(int32_t perThousandSeconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%03d fps", static_cast<int>(perThousandSeconds / 1000),
                  static_cast<int>(perThousandSeconds % 1000));
    return text;
}

// "320x240, 25.000 fps" or "44100 Hz, 2 ch, 16 bit".
std::string FormatSummary(const TrackInfo& track)
{
    std::string text;
    if (track.hasVideoHeader) {
        const VideoHeader& video = track.video;
        text = std::to_string(video.width) + "x" + std::to_string(video.height);
        if ((video.displayWidth != 0 || video.displayHeight != 0) &&
            (video.displayWidth != static_cast<uint32_t>(video.width) ||
             video.displayHeight != static_cast<uint32_t>(video.height))) {
            text += " (shown " + std::to_string(video.displayWidth) + "x" + std::to_string(video.displayHeight) + ")";
        }
        if (track.format.frameRate > 0) {
            text += ", " + FrameRateText(track.format.frameRate);
        }
    } else if (track.hasAudioHeader) {
        const AudioHeader& audio = track.audio;
        text = std::to_string(audio.samplesPerSec) + " Hz, " + std::to_string(audio.channels) + " ch";
        if (audio.bitsPerSample != 0) {
            text += ", " + std::to_string(audio.bitsPerSample) + " bit";
        }
    }
    return text.empty() ? "-" : text;
}

std::string TrackJson(const TrackInfo& track)
{
    const ZOLVDMX_MEDIA_FORMAT_T& format = track.format;
    JsonObject json;
    json.Integer("index", track.index)
        .String("type", TrackTypeName(track.trackType))
        .Integer("track_type", track.trackType)
        .Integer("media_type", format.mediaType)
        .String("codec", track.code)
        .Integer("codec_value", format.codec)
        .String("codec_name", track.codecName);
    if (track.hasVideoHeader) {
        const VideoHeader& video = track.video;
        json.Integer("width", video.width).Integer("height", video.height);
        json.Integer("display_width", video.displayWidth).Integer("display_height", video.displayHeight);
        json.Integer("bit_count", video.bitCount).Integer("compression", video.compression);
        json.Integer("frame_rate", format.frameRate);
    }
    if (track.hasAudioHeader) {
        const AudioHeader& audio = track.audio;
        json.Integer("format_tag", audio.formatTag).Integer("sample_rate", audio.samplesPerSec);
        json.Integer("channels", audio.channels).Integer("bits_per_sample", audio.bitsPerSample);
        json.Integer("block_align", audio.blockAlign).Integer("avg_bytes_per_sec", audio.avgBytesPerSec);
        json.Integer("extra_size", audio.extraSize).Integer("bit_rate", format.bitRate);
    }
    const auto* codecPrivate = format.codecPrivate;
    const auto* config = format.config;
    json.Raw("duration", FormatSeconds(format.duration))
        .Integer("duration_100ns", format.duration)
        .Integer("max_sample_size", format.maxSampleSize)
        .Integer("codec_private_size", format.codecPrivateSize)
        .String("codec_private",
                codecPrivate != nullptr && format.codecPrivateSize > 0
                    ? HexBytes(codecPrivate, static_cast<size_t>(format.codecPrivateSize))
                    : "")
        .Integer("config_size", format.configSize)
        .String("config", config != nullptr && format.configSize > 0
                              ? HexBytes(config, static_cast<size_t>(format.configSize))
                              : "")
        .Bool("seekable", format.seekable != 0);
    return json.Text();
}

} // namespace

int RunInfo(const Options& options)
{
    Demuxer demuxer(options.file, options.verbose);
    std::vector<TrackInfo> tracks;
    for (int32_t track = 0; track < demuxer.TrackCount(); ++track) {
        tracks.push_back(DescribeTrack(demuxer, track));
    }

    if (options.json) {
        std::printf("{\"file\":%s,\"tracks\":[", JsonString(options.file).c_str());
        for (size_t i = 0; i < tracks.size(); ++i) {
            std::printf("%s\n%s", i == 0 ? "" : ",", TrackJson(tracks[i]).c_str());
        }
        std::printf("\n]}\n");
        return 0;
    }

    int64_t duration = 0;
    for (const TrackInfo& track : tracks) {
        if (track.IsAudioOrVideo() && track.format.duration > duration) {
            duration = track.format.duration;
        }
    }
    std::printf("%s: %zu track%s, %s s\n\n", options.file.c_str(), tracks.size(), tracks.size() == 1 ? "" : "s",
                FormatSeconds(duration, 3).c_str());
    TextTable table({true, false, false, false, true, true, true, true, false});
    table.Add({"#", "type", "codec", "format", "duration s", "max sample", "private", "config", "seekable"});
    for (const TrackInfo& track : tracks) {
        const ZOLVDMX_MEDIA_FORMAT_T& format = track.format;
        table.Add({std::to_string(track.index), TrackTypeName(track.trackType), track.CodecLabel(),
                   FormatSummary(track), track.IsAudioOrVideo() ? FormatSeconds(format.duration, 3) : "-",
                   std::to_string(format.maxSampleSize), std::to_string(format.codecPrivateSize),
                   std::to_string(format.configSize), format.seekable != 0 ? "yes" : "no"});
    }
    std::fputs(table.Text().c_str(), stdout);
    return 0;
}
