#!/usr/bin/env bash
# Generates the test streams with Debian's ffmpeg and x265 into the folder given.
# Each clip is made once; a clip whose file exists is kept, so reruns are cheap.
# Content is synthetic (testsrc2 / mandelbrot), so nothing is ever downloaded.
set -euo pipefail

out_dir=${1:?usage: generate-streams.sh OUTPUT_DIR}
mkdir -p "$out_dir"
cd "$out_dir"

ffmpeg_quiet=(ffmpeg -hide_banner -loglevel error -nostdin -y)

# raw_clip NAME PIXFMT SIZE FRAMES [SOURCE]
raw_clip() {
  local name=$1 pix_fmt=$2 size=$3 frames=$4 source=${5:-testsrc2}
  [ -s "$name" ] && return 0
  "${ffmpeg_quiet[@]}" -f lavfi -i "${source}=size=${size}:rate=25" -frames:v "$frames" \
    -pix_fmt "$pix_fmt" -f rawvideo "$name.tmp"
  mv "$name.tmp" "$name"
}

# hevc_clip NAME PIXFMT SIZE FRAMES "X265-PARAMS" [SOURCE]: an Annex-B elementary stream.
hevc_clip() {
  local name=$1 pix_fmt=$2 size=$3 frames=$4 params=$5 source=${6:-testsrc2}
  [ -s "$name" ] && return 0
  "${ffmpeg_quiet[@]}" -f lavfi -i "${source}=size=${size}:rate=25" -frames:v "$frames" \
    -pix_fmt "$pix_fmt" -c:v libx265 -x265-params "log-level=error:${params}" -f hevc "$name.tmp"
  mv "$name.tmp" "$name"
}

# mp4_from NAME SOURCE_STREAM: the same stream in an MP4 (hvcC, length-prefixed NAL units).
mp4_from() {
  local name=$1 source=$2
  [ -s "$name" ] && return 0
  "${ffmpeg_quiet[@]}" -r 25 -i "$source" -c copy -tag:v hvc1 -f mp4 "$name.tmp"
  mv "$name.tmp" "$name"
}

hevc_clip main_420_8bit_gop8.hevc        yuv420p      176x144 24 "keyint=8:bframes=3"
hevc_clip main10_420_10bit.hevc          yuv420p10le  176x144 12 "keyint=12:bframes=2"
hevc_clip rext_422_10bit.hevc            yuv422p10le  128x96  8  "keyint=8:bframes=0"
hevc_clip rext_444_8bit.hevc             yuv444p      128x96  8  "keyint=8:bframes=0"
hevc_clip mono_400_8bit.hevc             gray         128x96  8  "keyint=8:bframes=0"
hevc_clip wavefront_slices.hevc          yuv420p      320x240 8  "keyint=8:wpp=1:slices=3"
hevc_clip lossless.hevc                  yuv420p      128x96  4  "lossless=1:keyint=4"
hevc_clip amp_weighted_sei.hevc          yuv420p      176x144 12 "amp=1:rect=1:weightp=1:weightb=1:bframes=3:info=1:hash=2:repeat-headers=1"
hevc_clip odd_size_intra.hevc            yuv420p      72x40   4  "keyint=1:ctu=16"
hevc_clip quality_high.hevc              yuv420p      176x144 10 "keyint=10:crf=18" mandelbrot
hevc_clip quality_low.hevc               yuv420p      176x144 10 "keyint=10:crf=40" mandelbrot
raw_clip  quality_reference_176x144.yuv  yuv420p      176x144 10 mandelbrot
mp4_from  main_420_8bit_gop8.mp4         main_420_8bit_gop8.hevc
mp4_from  main10_420_10bit.mov           main10_420_10bit.hevc

echo "test media ready in $out_dir"
