#!/usr/bin/env bash
# Regenerates the small Matroska files in this folder from synthetic sources, then
# writes their expected values with make_expected.py. Needs ffmpeg, ffprobe, mkvtoolnix
# (mkvmerge, mkvinfo), x264 and Python 3; the tests themselves only read the committed results.
# Forms that current muxers no longer write are made from mkvmerge files with
# rewrite_tracks.py; damage_cluster.py breaks one cluster of a copy.
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

# The files below are small (96x64 pictures) and use a picture that changes in every
# frame without scene cuts (colour bars with a rotating hue), so x264 places key frames
# only where its GOP length says.
bars=smptebars=size=96x64:rate=25,hue=H=t
tone=sine=frequency=440:sample_rate=48000
rewrite=(python3 "$here/rewrite_tracks.py")

# ffmpeg_gop2s.mkv: what a user gets from ffmpeg with a 2 s GOP: x264 -g 50 with its
# default B-frames and AAC, 10 s, ffmpeg's muxer (clusters open with an audio block).
"${ff[@]}" -f lavfi -i "$bars" -f lavfi -i "$tone" -t 10 "${exact[@]}" -map 0:v -map 1:a \
    -c:v libx264 -g 50 -pix_fmt yuv420p -c:a aac -b:a 32k -ac 2 -f matroska "$here/ffmpeg_gop2s.mkv"

# x264_default_gop.mkv: x264 with its default settings (key frames 250 frames = 10 s
# apart, so a GOP spans several clusters) and AAC, 25 s, ffmpeg's muxer with Cues.
# x264_default_gop_nocues.mkv: the same encode written to a pipe, where the muxer can
# not seek back: no Cues, a Segment of unknown size, clusters of about 0.8 s (the
# SeekHead at the start lists Info, Tracks and Tags only).
longgop=(-f lavfi -i "$bars" -f lavfi -i "$tone" -t 25 "${exact[@]}" -map 0:v -map 1:a
    -c:v libx264 -pix_fmt yuv420p -c:a aac -b:a 32k -ac 2 -f matroska)
"${ff[@]}" "${longgop[@]}" "$here/x264_default_gop.mkv"
"${ff[@]}" "${longgop[@]}" - > "$here/x264_default_gop_nocues.mkv"

# mkvmerge_longgop.mkv: the same two streams, taken out as raw H.264 and ADTS and muxed
# by mkvmerge with its default clusters, cues and AAC lacing.
"${ff[@]}" -i "$here/x264_default_gop.mkv" -map 0:v -c copy -bsf:v h264_mp4toannexb \
    -f h264 "$work/longgop.h264"
"${ff[@]}" -i "$here/x264_default_gop.mkv" -map 0:a -c copy -f adts "$work/longgop.aac"
"${merge[@]}" --segment-uid 0x6c69624d4b5601000000000000000005 -o "$here/mkvmerge_longgop.mkv" \
    --default-duration 0:25fps "$work/longgop.h264" "$work/longgop.aac"

# damaged_cluster.mkv: mkvmerge_longgop.mkv (DefaultDuration on both tracks, so no
# frame time depends on a neighbouring cluster) with the header of cluster 2 destroyed.
python3 "$here/damage_cluster.py" "$here/mkvmerge_longgop.mkv" "$here/damaged_cluster.mkv" 2

# attachment_first.mkv: mkvmerge_longgop.mkv muxed again with a 256 KiB attachment, which
# mkvmerge writes before the first cluster, and no Cues: seeks find clusters by bisection
# over a file whose first cluster starts late.
python3 -c "import random, sys; sys.stdout.buffer.write(random.Random(7).randbytes(262144))" \
    > "$work/cover.bin"
"${merge[@]}" --segment-uid 0x6c69624d4b5601000000000000000011 -o "$here/attachment_first.mkv" \
    --no-cues --attachment-mime-type application/octet-stream --attachment-name cover.bin \
    --attach-file "$work/cover.bin" "$here/mkvmerge_longgop.mkv"

# two_h264.mkv: two H.264 tracks of different sizes and AAC; the second video track
# stores its NAL unit lengths in 2 bytes, the first in 4 (mkvmerge v74 always writes 4,
# so the second track is rewritten afterwards).
"${ff[@]}" -f lavfi -i "$bars" -t 3 "${exact[@]}" -c:v libx264 -g 25 -pix_fmt yuv420p \
    -f h264 "$work/two_a.h264"
"${ff[@]}" -f lavfi -i smptebars=size=160x96:rate=25,hue=H=-t -t 3 "${exact[@]}" \
    -c:v libx264 -g 25 -pix_fmt yuv420p -f h264 "$work/two_b.h264"
"${ff[@]}" -f lavfi -i "$tone" -t 3 "${exact[@]}" -c:a aac -b:a 32k -ac 2 -f adts "$work/two.aac"
"${merge[@]}" --segment-uid 0x6c69624d4b5601000000000000000006 -o "$work/two_h264.mkv" \
    --default-duration 0:25fps "$work/two_a.h264" --default-duration 0:25fps "$work/two_b.h264" \
    "$work/two.aac"
"${rewrite[@]}" "$work/two_h264.mkv" "$here/two_h264.mkv" --nalu-length 2=2

# One file per further codec, written by ffmpeg's muxer unless mkvmerge is named.
"${ff[@]}" -f lavfi -i "$bars" -f lavfi -i "$tone" -t 3 "${exact[@]}" -map 0:v -map 1:a \
    -c:v libx265 -preset fast -x265-params pools=none:frame-threads=1:log-level=error \
    -pix_fmt yuv420p -c:a libopus -b:a 24k -ac 2 -f matroska "$here/hevc_opus.mkv"
"${ff[@]}" -f lavfi -i "$bars" -f lavfi -i "$tone" -t 3 "${exact[@]}" -map 0:v -map 1:a \
    -c:v libvpx -b:v 100k -c:a libvorbis -q:a 0 -ac 2 -f webm "$here/vp8_vorbis.webm"
"${ff[@]}" -f lavfi -i "$bars" -f lavfi -i "$tone" -t 3 "${exact[@]}" -map 0:v -map 1:a \
    -c:v libvpx-vp9 -b:v 100k -c:a libopus -b:a 24k -ac 2 -f webm "$here/vp9_opus.webm"
"${ff[@]}" -f lavfi -i "$bars" -f lavfi -i sine=frequency=440:sample_rate=16000 -t 3 "${exact[@]}" \
    -map 0:v -map 1:a -c:v libaom-av1 -cpu-used 8 -b:v 60k -c:a flac -ac 1 \
    -f matroska "$here/av1_flac.mkv"
"${ff[@]}" -f lavfi -i "$tone" -t 2 "${exact[@]}" -c:a eac3 -b:a 64k -ac 2 -f eac3 "$work/eac3.eac3"
"${merge[@]}" --segment-uid 0x6c69624d4b5601000000000000000007 -o "$here/eac3.mkv" "$work/eac3.eac3"
"${ff[@]}" -f lavfi -i sine=frequency=440:sample_rate=8000 -t 2 "${exact[@]}" -c:a pcm_s16le -ac 2 \
    -f matroska "$here/pcm.mkv"
"${ff[@]}" -f lavfi -i "$bars" -t 3 "${exact[@]}" -c:v libx265 -preset fast \
    -x265-params pools=none:frame-threads=1:log-level=error -pix_fmt yuv420p -f hevc "$work/hevc.hevc"
"${merge[@]}" --segment-uid 0x6c69624d4b5601000000000000000008 -o "$here/hevc_mkvmerge.mkv" \
    --default-duration 0:25fps "$work/hevc.hevc"

# header_stripped.mkv: MPEG-4 Visual, two MP3 tracks and AC-3, with header removal on
# all four tracks as older mkvmerge versions wrote it. The 48 kHz CBR MP3 frames all
# start with the same 4-byte header and have one size (fixed lacing); at 44.1 kHz the
# padding bit varies, so only 2 bytes are common and the frame sizes differ (Xiph and
# EBML lacing). The rewriter recomputes the lace sizes of every laced block.
"${ff[@]}" -f lavfi -i "$bars" -t 3 "${exact[@]}" -c:v mpeg4 -q:v 8 -g 25 -bf 1 \
    -f matroska "$work/strip.video.mkv"
"${ff[@]}" -f lavfi -i "$tone" -t 3 "${exact[@]}" -ac 1 -c:a libmp3lame -b:a 64k -write_xing 0 \
    -id3v2_version 0 -f mp3 "$work/strip48.mp3"
"${ff[@]}" -f lavfi -i sine=frequency=440:sample_rate=44100 -t 3 "${exact[@]}" -ac 1 \
    -c:a libmp3lame -b:a 32k -write_xing 0 -id3v2_version 0 -f mp3 "$work/strip44.mp3"
"${ff[@]}" -f lavfi -i "$tone" -t 3 "${exact[@]}" -ac 2 -c:a ac3 -b:a 96k -f ac3 "$work/strip.ac3"
"${merge[@]}" --segment-uid 0x6c69624d4b5601000000000000000009 -o "$work/strip.mkv" \
    --no-global-tags --no-track-tags "$work/strip.video.mkv" "$work/strip48.mp3" \
    "$work/strip44.mp3" "$work/strip.ac3"
"${rewrite[@]}" "$work/strip.mkv" "$here/header_stripped.mkv" --strip 1 --strip 2 --strip 3 \
    --strip 4

# zlib_track.mkv: H.264, AAC and a text track, the AAC track (track 2) zlib-compressed.
"${ff[@]}" -f lavfi -i "$bars" -t 3 "${exact[@]}" -c:v libx264 -g 25 -pix_fmt yuv420p \
    -f h264 "$work/zlib.h264"
"${merge[@]}" --segment-uid 0x6c69624d4b560100000000000000000a -o "$here/zlib_track.mkv" \
    --default-duration 0:25fps "$work/zlib.h264" --compression 0:zlib "$work/two.aac" \
    --language 0:en "$work/cues.srt"

# aac_legacy.mkv: four AAC tracks as older muxers labelled them: A_AAC/MPEG4/LC (48 kHz)
# and A_AAC/MPEG4/LC/SBR (24 kHz core, 48 kHz output) without CodecPrivate; A_AAC with
# the HE-AAC AudioSpecificConfig mkvmerge writes for --aac-is-sbr (object type 2 with the
# 0x2B7 SBR extension); A_AAC with the hierarchical form (object type 5 first):
# 00101 0110 0010 0011 00010 000 = 2B 11 88 00.
"${ff[@]}" -f lavfi -i sine=frequency=440:sample_rate=24000 -t 3 "${exact[@]}" -c:a aac \
    -b:a 24k -ac 2 -f adts "$work/aac24.aac"
"${merge[@]}" --segment-uid 0x6c69624d4b560100000000000000000b -o "$work/aac_legacy.mkv" \
    "$work/two.aac" --aac-is-sbr 0:1 "$work/aac24.aac" --aac-is-sbr 0:1 "$work/aac24.aac" \
    --aac-is-sbr 0:1 "$work/aac24.aac"
"${rewrite[@]}" "$work/aac_legacy.mkv" "$here/aac_legacy.mkv" \
    --codec-id 1=A_AAC/MPEG4/LC --drop-private 1 --codec-id 2=A_AAC/MPEG4/LC/SBR --drop-private 2 \
    --codec-private 4=2b118800

# vorbis_opus_mkvmerge.mkv: Vorbis and Opus from Ogg files, muxed by mkvmerge: laced 8
# frames a block without DefaultDuration, the last block of each track in a BlockGroup
# with a BlockDuration (for Opus with DiscardPadding), a TimecodeScale of 20832 ns.
"${ff[@]}" -f lavfi -i "$tone" -t 2 "${exact[@]}" -c:a libvorbis -q:a 0 -ac 2 -f ogg "$work/vo.ogg"
"${ff[@]}" -f lavfi -i "$tone" -t 2 "${exact[@]}" -c:a libopus -b:a 24k -ac 2 -f opus "$work/vo.opus"
"${merge[@]}" --segment-uid 0x6c69624d4b560100000000000000000c -o "$here/vorbis_opus_mkvmerge.mkv" \
    "$work/vo.ogg" "$work/vo.opus"

# Seeking: 20 s with a key frame every 2 s; Cues before the clusters (ffmpeg), and
# mkvmerge's file rewritten with an index of every fourth key frame one of whose entries
# points into a frame, and with clusters of unknown size and no CueRelativePosition.
gop2s=(-f lavfi -i "$bars" -f lavfi -i "$tone" -t 20 "${exact[@]}" -map 0:v -map 1:a
    -c:v libx264 -g 50 -pix_fmt yuv420p -c:a aac -b:a 32k -ac 2)
"${ff[@]}" "${gop2s[@]}" -f matroska -cues_to_front 1 "$here/cues_front.mkv"
"${ff[@]}" "${gop2s[@]}" -f matroska "$work/gop2s.mkv"
"${ff[@]}" -i "$work/gop2s.mkv" -map 0:v -c copy -bsf:v h264_mp4toannexb -f h264 "$work/gop2s.h264"
"${ff[@]}" -i "$work/gop2s.mkv" -map 0:a -c copy -f adts "$work/gop2s.aac"
"${merge[@]}" --segment-uid 0x6c69624d4b5601000000000000000010 -o "$work/gop2s_mkvmerge.mkv" \
    --default-duration 0:25fps "$work/gop2s.h264" "$work/gop2s.aac"
"${rewrite[@]}" "$work/gop2s_mkvmerge.mkv" "$here/sparse_cues.mkv" --cues-every 4 --cue-into-frame 1
"${rewrite[@]}" "$work/gop2s_mkvmerge.mkv" "$here/unknown_size_clusters.mkv" --no-relative-positions \
    --unknown-cluster-sizes

# Frames larger than width x height x 2. Noise pictures (uniform random samples from geq,
# the same on every run with one filter thread) are what lossless coding cannot shrink.
noise() { echo "nullsrc=s=$1:r=25,format=$2,geq=lum='random(0)*$3':cb='random(1)*$3':cr='random(2)*$3'"; }
ffn=("${ff[@]}" -filter_threads 1)

# h264_lossless_444.mkv: what x264's own command line writes with --qp 0 in 4:4:4 (High
# 4:4:4 Predictive with transform bypass, about 700 bytes of SEI in the first frame),
# through its own Matroska muxer: no SeekHead, no Cues, a Segment of unknown size,
# TimecodeScale 50000.
"${ffn[@]}" -f lavfi -i "$(noise 64x64 yuv444p 256)" -frames:v 6 -bitexact "$work/n444.y4m"
x264 --quiet --qp 0 --output-csp i444 --threads 1 -o "$here/h264_lossless_444.mkv" "$work/n444.y4m"

# h264_lossless_noise.mkv: x264 -qp 0 at the ultrafast preset (CAVLC, as screen capture
# uses it) on 4:2:0 noise: frames of 1.6 times the raw picture.
"${ffn[@]}" -f lavfi -i "$(noise 320x240 yuv420p 256)" -frames:v 2 "${exact[@]}" -c:v libx264 -qp 0 \
    -preset ultrafast -f matroska "$here/h264_lossless_noise.mkv"

# hevc_lossless_422.mkv: x265 lossless (transquant bypass in the PPS), 10-bit 4:2:2.
"${ffn[@]}" -f lavfi -i "$(noise 64x64 yuv422p10le 1024)" -frames:v 3 "${exact[@]}" -c:v libx265 \
    -preset fast -x265-params pools=none:frame-threads=1:log-level=error:lossless=1 \
    -pix_fmt yuv422p10le -f matroska "$here/hevc_lossless_422.mkv"

# ffv1_10bit_422.mkv: FFV1 10-bit 4:2:2 as ffmpeg stores it (V_MS/VFW/FOURCC), remuxed by
# mkvmerge with a Colour element saying 10 bits per channel and 4:2:2.
"${ffn[@]}" -f lavfi -i "$(noise 64x64 yuv422p10le 1024)" -frames:v 3 "${exact[@]}" -c:v ffv1 \
    -f matroska "$work/ffv1.mkv"
"${merge[@]}" --segment-uid 0x6c69624d4b560100000000000000000d -o "$here/ffv1_10bit_422.mkv" \
    --no-global-tags --no-track-tags --colour-bits-per-channel 0:10 --chroma-subsample 0:1,0 \
    "$work/ffv1.mkv"

# hq_10bit.mkv: 10-bit 4:2:0 noise at the highest quality of x265 (-crf 0), libaom and
# libvpx-vp9 (-crf 0 -b:v 0, which codes them lossless) in three tracks, muxed by mkvmerge
# (which writes VP9's CodecPrivate: profile, bit depth, chroma subsampling).
hq=(-f lavfi -i "$(noise 64x64 yuv420p10le 1024)" -frames:v 3 "${exact[@]}" -pix_fmt yuv420p10le)
"${ffn[@]}" "${hq[@]}" -c:v libx265 -preset fast -crf 0 \
    -x265-params pools=none:frame-threads=1:log-level=error -f hevc "$work/hq.hevc"
"${ffn[@]}" "${hq[@]}" -c:v libaom-av1 -cpu-used 8 -crf 0 -b:v 0 -f ivf "$work/hq_av1.ivf"
"${ffn[@]}" "${hq[@]}" -c:v libvpx-vp9 -crf 0 -b:v 0 -f ivf "$work/hq_vp9.ivf"
"${merge[@]}" --segment-uid 0x6c69624d4b560100000000000000000e -o "$here/hq_10bit.mkv" \
    --default-duration 0:25fps "$work/hq.hevc" "$work/hq_av1.ivf" "$work/hq_vp9.ivf"

# slideshow_100ns.mkv: 30 minutes of 16x16 pictures, one every 5 s (a DefaultDuration of
# 5000000000 ns, past 32 bits), TimecodeScale 100 ns: cluster timecodes pass 32 bits after
# 429.5 s, and a block's 16-bit relative timecode reaches 3.3 ms, so every frame has a
# cluster of its own.
"${ff[@]}" -f lavfi -i "smptebars=size=16x16:rate=0.2,hue=H=t/100" -frames:v 360 "${exact[@]}" \
    -c:v libx264 -pix_fmt yuv420p -f h264 "$work/slideshow.h264"
"${merge[@]}" --segment-uid 0x6c69624d4b560100000000000000000f -o "$here/slideshow_100ns.mkv" \
    --timestamp-scale 100 --default-duration 0:5s "$work/slideshow.h264"

python3 "$here/make_expected.py" --legacy \
    "$here/h264_aac.mkv" "$here/mpeg4_mp3.mkv" "$here/theora_vorbis.mkv" \
    "$here/h264_aac_manyclusters.mkv" "$here/ac3_only.mkv"
python3 "$here/make_expected.py" \
    "$here/ffmpeg_gop2s.mkv" "$here/x264_default_gop.mkv" "$here/x264_default_gop_nocues.mkv" \
    "$here/mkvmerge_longgop.mkv" "$here/two_h264.mkv" "$here/hevc_opus.mkv" \
    "$here/vp8_vorbis.webm" "$here/vp9_opus.webm" "$here/av1_flac.mkv" "$here/eac3.mkv" \
    "$here/pcm.mkv" "$here/hevc_mkvmerge.mkv" "$here/header_stripped.mkv" \
    "$here/zlib_track.mkv" "$here/aac_legacy.mkv" "$here/vorbis_opus_mkvmerge.mkv" \
    "$here/cues_front.mkv" "$here/sparse_cues.mkv" "$here/unknown_size_clusters.mkv" \
    "$here/h264_lossless_444.mkv" "$here/h264_lossless_noise.mkv" "$here/hevc_lossless_422.mkv" \
    "$here/ffv1_10bit_422.mkv" "$here/hq_10bit.mkv" "$here/slideshow_100ns.mkv" \
    "$here/attachment_first.mkv"
python3 "$here/make_expected.py" --damaged "$here/mkvmerge_longgop.mkv" 2 "$here/damaged_cluster.mkv"
