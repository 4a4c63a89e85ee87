#!/usr/bin/env bash
# Remakes the fuzz seed corpus in fuzz/seeds/: small well-formed files of a
# few KB each, so that the fuzzer runs many inputs a second and mutates
# structure rather than megabytes of frame data.
#   - cut_*: the first 0.12 s of each real test file in tests/data/, copied
#     by ffmpeg's muxer (SeekHead, Cues after the clusters, SimpleBlocks);
#   - cues_before_*: the same with the Cues written before the clusters;
#   - mkvmerge_*: cuts muxed again by mkvmerge, with its lacing, block
#     groups, short clusters and content encodings (header removal, zlib);
#   - the rest: files the test writer builds (fuzz/SeedFiles.cpp), with the
#     structures muxers seldom write together.
# Usage: bash fuzz/make_seeds.sh [BUILD_DIR]
# BUILD_DIR (default build-ci) is a configured build with the tests; the
# script builds make_fuzz_seeds there. Needs ffmpeg and mkvtoolnix. Same tool
# versions give the same bytes.
set -euo pipefail

cd "$(dirname "$0")/.."
build=${1:-build-ci}
out=fuzz/seeds
data=tests/data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ff=(ffmpeg -hide_banner -loglevel error -nostdin -y)
exact=(-bitexact -fflags +bitexact -map_metadata -1 -threads 1)
merge=(mkvmerge --quiet --deterministic 4711 --no-date --disable-track-statistics-tags)

cmake --build "$build" --target make_fuzz_seeds
rm -rf "$out"
mkdir -p "$out"
"$build/fuzz/make_fuzz_seeds" "$out"

for source in "$data"/*.mkv "$data"/*.webm; do
    name=$(basename "$source")
    case "$name" in
        damaged_cluster.mkv|mkvmerge_longgop.mkv|x264_default_gop.mkv) continue ;; # same streams as others
    esac
    "${ff[@]}" -i "$source" -map 0 -c copy "${exact[@]}" -t 0.12 "$work/$name"
    cp "$work/$name" "$out/cut_$name"
done

for name in h264_aac.mkv vp9_opus.webm; do
    "${ff[@]}" -i "$data/$name" -map 0 -c copy "${exact[@]}" -t 0.12 -reserve_index_space 600 \
        "$out/cues_before_$name"
done

# mkvmerge laces MP3, AC-3 and AAC by default and keeps one block per group
# with --engage no_simpleblocks; --cluster-length 4 puts four blocks in a cluster.
"${merge[@]}" -o "$out/mkvmerge_laced_mp3.mkv" "$work/mpeg4_mp3.mkv"
"${merge[@]}" -o "$out/mkvmerge_laced_ac3.mkv" "$work/ac3_only.mkv"
"${merge[@]}" -o "$out/mkvmerge_blockgroups.mkv" --engage no_simpleblocks --cluster-length 4 \
    "$work/h264_aac_manyclusters.mkv"
"${merge[@]}" -o "$out/mkvmerge_header_removal.mkv" \
    --compression 0:analyze_header_removal --compression 1:analyze_header_removal \
    --compression 2:analyze_header_removal --compression 3:analyze_header_removal "$work/header_stripped.mkv"
"${merge[@]}" -o "$out/mkvmerge_zlib.mkv" --compression 1:zlib "$work/zlib_track.mkv"
"${merge[@]}" -o "$out/mkvmerge_vorbis_opus.mkv" "$work/vorbis_opus_mkvmerge.mkv"

ls -l "$out"
