#!/usr/bin/env bash
# Makes sample.mkv, the small file bundled for trying the host tool: three seconds of
# a 320x240 H.264 test pattern, a 440 Hz stereo AAC tone and an English SRT subtitle
# track with two lines. Needs ffmpeg and mkvmerge; the result is committed, so
# nobody has to run this to use the sample.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT

ff=(ffmpeg -hide_banner -loglevel error -nostdin -y)
exact=(-bitexact -fflags +bitexact -map_metadata -1 -threads 1)

"${ff[@]}" -f lavfi -i testsrc=size=320x240:rate=25:duration=3 "${exact[@]}" \
    -c:v libx264 -preset medium -profile:v high -pix_fmt yuv420p -bf 2 -g 25 -keyint_min 25 \
    -sc_threshold 0 -f h264 "$work/video.h264"
"${ff[@]}" -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 "${exact[@]}" \
    -ac 2 -c:a aac -b:a 64k -f adts "$work/audio.aac"
cat > "$work/subtitles.srt" <<'SRT'
1
00:00:00,200 --> 00:00:01,400
Hello! This is the libMKV sample.

2
00:00:01,600 --> 00:00:02,900
Test pattern, 440 Hz tone, one subtitle track.
SRT

mkvmerge --quiet --deterministic 4711 --no-date --disable-track-statistics-tags \
    --segment-uid 0x6c69624d4b5653616d706c6500000001 --title "libMKV sample" \
    -o "$here/sample.mkv" \
    --track-name 0:"Test pattern" --default-duration 0:25fps "$work/video.h264" \
    --track-name 0:"440 Hz tone" "$work/audio.aac" \
    --language 0:en --track-name 0:English "$work/subtitles.srt"
