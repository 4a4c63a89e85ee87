#!/usr/bin/env bash
# Makes the real 1080p films the benchmarks measure besides the synthetic
# ones (they are too large to keep in the tree): 60 s of 1920x1080 H.264 at
# about 8 Mbit/s (x264, default B-frames, a key frame every 1.25 s) with AAC,
# muxed by mkvmerge (Cues after the clusters) and by ffmpeg with the Cues
# before the clusters and a key frame, so a cluster, every 2 s.
#   bench/make_1080p.sh [DIR]     (default /tmp/mkv-bench; needs ffmpeg and mkvmerge)
set -euo pipefail
dir=${1:-/tmp/mkv-bench}
mkdir -p "$dir"
ff=(ffmpeg -hide_banner -loglevel error -nostdin -y)
picture="testsrc2=size=1920x1080:rate=25,noise=alls=12:allf=t+u"
"${ff[@]}" -f lavfi -i "$picture" -t 60 -c:v libx264 -preset veryfast -b:v 8M -maxrate 10M -bufsize 16M \
    -g 31 -pix_fmt yuv420p -f h264 "$dir/film.h264"
"${ff[@]}" -f lavfi -i "$picture" -t 60 -c:v libx264 -preset veryfast -b:v 8M -maxrate 10M -bufsize 16M \
    -g 50 -pix_fmt yuv420p -f h264 "$dir/film_gop2s.h264"
"${ff[@]}" -f lavfi -i "sine=frequency=440:sample_rate=48000" -t 60 -ac 2 -c:a aac -b:a 128k -f adts "$dir/film.aac"
mkvmerge --quiet -o "$dir/film_1080p_mkvmerge.mkv" --default-duration 0:25fps "$dir/film.h264" "$dir/film.aac"
mkvmerge --quiet -o "$dir/film_gop2s.mkv" --default-duration 0:25fps "$dir/film_gop2s.h264" "$dir/film.aac"
"${ff[@]}" -i "$dir/film_gop2s.mkv" -map 0 -c copy -cues_to_front 1 -f matroska "$dir/film_1080p_cues_front.mkv"
rm -f "$dir/film.h264" "$dir/film_gop2s.h264" "$dir/film.aac" "$dir/film_gop2s.mkv"
ls -l "$dir"/film_1080p_*.mkv
