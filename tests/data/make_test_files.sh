#!/usr/bin/env bash
# Regenerates the small Matroska files in this folder from synthetic sources, then
# writes their expected values with make_expected.py. Needs ffmpeg, ffprobe and
# mkvtoolnix (mkvmerge, mkvinfo); the tests themselves only read the committed results.
#
# Same tool versions give the same bytes: sources are lavfi test patterns and tones,
# encoders run single-threaded with bit-exact flags, mkvmerge runs with a fixed seed,
# no date and fixed segment UIDs. Files made with other versions differ in their bytes,
# so rerun make_expected.py (this script does) whenever the files are remade.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ff=(ffmpeg -hide_banner -loglevel error -nostdin -y)
exact=(-bitexact -fflags +bitexact -map_metadata -1 -threads 1)
x264=(-c:v libx264 -preset medium -profile:v high -pix_fmt yuv420p -bf 2 -g 25 -keyint_min 25 -sc_threshold 0)
merge=(mkvmerge --quiet --deterministic 4711 --no-date --disable-track-statistics-tags)

# Two to three subtitle cues shared by the files that carry a text track.
cat > "$work/cues.srt" <<'EOF'
1
00:00:00,500 --> 00:00:01,200
First cue

2
00:00:01,500 --> 00:00:02,000
Second cue

3
00:00:02,200 --> 00:00:02,800
Third cue
EOF

# h264_aac.mkv: H.264 with B-frames (block times not monotonic), a key frame every
# second, unlaced AAC-LC stereo 44100 Hz and an SRT track stored in BlockGroups.
"${ff[@]}" -f lavfi -i testsrc=size=320x240:rate=25:duration=3 "${exact[@]}" "${x264[@]}" \
    -f h264 "$work/h264_aac.h264"
"${ff[@]}" -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 "${exact[@]}" \
    -ac 2 -c:a aac -b:a 64k -f adts "$work/h264_aac.aac"
"${merge[@]}" --segment-uid 0x6c69624d4b5601000000000000000001 -o "$here/h264_aac.mkv" \
    --default-duration 0:25fps "$work/h264_aac.h264" \
    --disable-lacing "$work/h264_aac.aac" \
    --language 0:en --track-name 0:English "$work/cues.srt"

# mpeg4_mp3.mkv: MPEG-4 Visual, ASP (with B-frames) and MP3 mono 22050 Hz. mkvmerge laces
# MP3 by default and leaves out the Channels element for a mono track. The video goes
# through an intermediate Matroska file because mkvmerge does not read a raw MPEG-4 Visual stream.
"${ff[@]}" -f lavfi -i testsrc=size=176x144:rate=25:duration=3 "${exact[@]}" \
    -c:v mpeg4 -q:v 5 -g 25 -bf 1 -f matroska "$work/mpeg4_mp3.video.mkv"
"${ff[@]}" -f lavfi -i sine=frequency=660:sample_rate=22050:duration=3 "${exact[@]}" \
    -ac 1 -c:a libmp3lame -b:a 32k -write_xing 0 -id3v2_version 0 -f mp3 "$work/mpeg4_mp3.mp3"
"${merge[@]}" --segment-uid 0x6c69624d4b5601000000000000000002 -o "$here/mpeg4_mp3.mkv" \
    --no-global-tags --no-track-tags --default-track-flag 0:1 "$work/mpeg4_mp3.video.mkv" \
    "$work/mpeg4_mp3.mp3"

# theora_vorbis.mkv: written by ffmpeg's own Matroska muxer (SimpleBlocks only, no
# lacing, BitDepth stored for Vorbis, no display size), Theora + Vorbis stereo 48000 Hz.
"${ff[@]}" -f lavfi -i testsrc=size=160x120:rate=25:duration=3 \
    -f lavfi -i sine=frequency=550:sample_rate=48000:duration=3 "${exact[@]}" \
    -map 0:v -map 1:a -c:v libtheora -q:v 6 -g 25 -c:a libvorbis -q:a 2 -ac 2 \
    -f matroska "$here/theora_vorbis.mkv"

# h264_aac_manyclusters.mkv: 4 seconds cut into about 40 clusters of 100 ms, every frame
# in a BlockGroup (non-key video frames carry ReferenceBlocks, B-frames two of them) and
# AAC stereo 48000 Hz laced with whichever of Xiph, EBML or fixed lacing mkvmerge finds
# smallest per block.
"${ff[@]}" -f lavfi -i testsrc=size=160x120:rate=25:duration=4 "${exact[@]}" "${x264[@]}" \
    -f h264 "$work/many.h264"
"${ff[@]}" -f lavfi -i sine=frequency=440:sample_rate=48000:duration=4 "${exact[@]}" \
    -ac 2 -c:a aac -b:a 48k -f adts "$work/many.aac"
"${merge[@]}" --segment-uid 0x6c69624d4b5601000000000000000003 -o "$here/h264_aac_manyclusters.mkv" \
    --cluster-length 100ms --engage no_simpleblocks \
    --default-duration 0:25fps "$work/many.h264" "$work/many.aac"

# ac3_only.mkv: audio without video; constant-size AC-3 frames make mkvmerge choose
# fixed-size lacing.
"${ff[@]}" -f lavfi -i sine=frequency=330:sample_rate=48000:duration=2 "${exact[@]}" \
    -ac 2 -c:a ac3 -b:a 96k -f ac3 "$work/ac3_only.ac3"
"${merge[@]}" --segment-uid 0x6c69624d4b5601000000000000000004 -o "$here/ac3_only.mkv" \
    "$work/ac3_only.ac3"

python3 "$here/make_expected.py" --legacy \
    "$here/h264_aac.mkv" "$here/mpeg4_mp3.mkv" "$here/theora_vorbis.mkv" \
    "$here/h264_aac_manyclusters.mkv" "$here/ac3_only.mkv"
