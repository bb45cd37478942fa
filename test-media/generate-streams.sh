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

# Desktop media layer: odd sizes (HEVC 4:2:0 cannot be odd, 4:4:4 can), other containers
# and other track layouts.
# h264_mp4 NAME SIZE FRAMES: an MP4 whose only video track is H.264.
h264_mp4() {
  local name=$1 size=$2 frames=$3
  [ -s "$name" ] && return 0
  "${ffmpeg_quiet[@]}" -f lavfi -i "testsrc2=size=${size}:rate=25" -frames:v "$frames" \
    -pix_fmt yuv420p -c:v libx264 -f mp4 "$name.tmp"
  mv "$name.tmp" "$name"
}

# audio_first_mp4 NAME SOURCE_STREAM: an AAC track as stream 0, the HEVC track as stream 1.
audio_first_mp4() {
  local name=$1 source=$2
  [ -s "$name" ] && return 0
  "${ffmpeg_quiet[@]}" -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=1" -i "$source" \
    -map 0:a -map 1:v -c:a aac -c:v copy -tag:v hvc1 -f mp4 "$name.tmp"
  mv "$name.tmp" "$name"
}

# audio_only_mp4 NAME: an MP4 without any video track.
audio_only_mp4() {
  local name=$1
  [ -s "$name" ] && return 0
  "${ffmpeg_quiet[@]}" -f lavfi -i "sine=duration=0.5" -c:a aac -f mp4 "$name.tmp"
  mv "$name.tmp" "$name"
}

# scaled_hevc_clip NAME PIXFMT SIZE FRAMES "X265-PARAMS": lavfi sources round odd sizes down
# to even ones, so the picture is scaled to its odd size after the source.
scaled_hevc_clip() {
  local name=$1 pix_fmt=$2 size=$3 frames=$4 params=$5
  [ -s "$name" ] && return 0
  "${ffmpeg_quiet[@]}" -f lavfi -i "testsrc2=size=176x96:rate=25" -vf "scale=${size/x/:}" -frames:v "$frames" \
    -pix_fmt "$pix_fmt" -c:v libx265 -x265-params "log-level=error:${params}" -f hevc "$name.tmp"
  mv "$name.tmp" "$name"
}

# container_hevc_clip NAME PIXFMT SIZE FRAMES "X265-PARAMS" FORMAT: encoded straight into the
# container, so that its packets carry the encoder's reordered timestamps.
container_hevc_clip() {
  local name=$1 pix_fmt=$2 size=$3 frames=$4 params=$5 format=$6
  [ -s "$name" ] && return 0
  "${ffmpeg_quiet[@]}" -f lavfi -i "testsrc2=size=${size}:rate=25" -frames:v "$frames" -pix_fmt "$pix_fmt" \
    -c:v libx265 -x265-params "log-level=error:${params}" -tag:v hvc1 -f "$format" "$name.tmp"
  mv "$name.tmp" "$name"
}

scaled_hevc_clip odd_177x97_444_8bit.hevc yuv444p   177x97  6  "keyint=6:bframes=2"
container_hevc_clip bpyramid_420_8bit.mp4 yuv420p  176x144 24 "keyint=12:bframes=3:b-pyramid=1" mp4
container_hevc_clip bpyramid_420_10bit.mov yuv420p10le 176x144 16 "keyint=8:bframes=3:b-pyramid=1" mov
raw_clip  reference_176x144_10bit.yuv    yuv420p10le  176x144 12
h264_mp4  h264_only.mp4                  176x144 8
audio_first_mp4 audio_first_hevc.mp4     bpyramid_420_8bit.mp4
audio_only_mp4 audio_only.mp4

# HEVC observer: bit depths, chroma formats and coding tools the syntax layers must walk.
hevc_clip observer_444_12bit_intra.hevc   yuv444p12le  96x64   4  "keyint=2:bframes=0"
hevc_clip observer_422_12bit.hevc         yuv422p12le  128x96  6  "keyint=6:bframes=2"
hevc_clip observer_open_gop_pyramid.hevc  yuv420p      176x144 30 "keyint=10:min-keyint=10:scenecut=0:open-gop=1:bframes=4:b-pyramid=1"
hevc_clip observer_tools_420_8bit.hevc    yuv420p      176x144 10 "keyint=8:bframes=2:scaling-list=default:signhide=1:tskip=1:amp=1:rect=1"
hevc_clip observer_slices_wpp_10bit.hevc  yuv420p10le  256x192 8  "keyint=8:bframes=2:slices=4:wpp=1"
mp4_from  observer_open_gop_pyramid.mp4   observer_open_gop_pyramid.hevc

# Block-level acceptance: x265's own per-frame statistics of a clip, beside the clip.
hevc_clip oracle_csv_qp.hevc              yuv420p      176x144 12 "bframes=3:csv=oracle_csv_qp.csv:csv-log-level=2"

# Analysis object models: golden text dumps name byte offsets and identities derived from the
# file's digest, so these clips are made with one thread and without x265's version SEI,
# whose option text otherwise depends on the machine's core count.
hevc_clip models_bpyramid_420_8bit.hevc   yuv420p      176x144 12 "keyint=12:bframes=3:b-pyramid=1:pools=1:frame-threads=1:info=0"
hevc_clip models_422_10bit.hevc           yuv422p10le  128x96  8  "keyint=8:bframes=2:pools=1:frame-threads=1:info=0"
hevc_clip models_temporal_layers.hevc  yuv420p      176x144 12 "keyint=12:bframes=3:b-pyramid=0:temporal-layers=1:pools=1:frame-threads=1:info=0"

# Syntax trees: every VUI part x265 writes (extended SAR, overscan, signal type and colour,
# chroma location, display window, HRD) and the VPS and VUI timing with POC proportionality,
# which x265 leaves out and the metadata filter adds.
# filtered_hevc_clip NAME PIXFMT SIZE FRAMES "X265-PARAMS" "BITSTREAM-FILTER"
filtered_hevc_clip() {
  local name=$1 pix_fmt=$2 size=$3 frames=$4 params=$5 filter=$6
  [ -s "$name" ] && return 0
  "${ffmpeg_quiet[@]}" -f lavfi -i "testsrc2=size=${size}:rate=25" -frames:v "$frames" \
    -pix_fmt "$pix_fmt" -c:v libx265 -x265-params "log-level=error:${params}" -bsf:v "$filter" -f hevc "$name.tmp"
  mv "$name.tmp" "$name"
}

filtered_hevc_clip models_vui_timing.hevc yuv420p 64x64 3 \
  "keyint=3:bframes=1:pools=1:frame-threads=1:info=0:hrd=1:vbv-bufsize=1000:vbv-maxrate=1000:sar=13\\:7:overscan=show:videoformat=pal:range=full:colorprim=bt709:transfer=bt709:colormatrix=bt709:chromaloc=1:display-window=2,0,2,0" \
  "hevc_metadata=tick_rate=25:num_ticks_poc_diff_one=1"

# Worker client: long enough that a cancel lands while the worker still decodes.
hevc_clip client_long_640x360.hevc        yuv420p      640x360 48 "keyint=24:bframes=3"

# Frame viewer screenshots: a full-HD picture with motion, so that every overlay has data.
hevc_clip viewer_1080p_420_8bit.hevc      yuv420p      1920x1080 3 "keyint=3:bframes=0:preset=fast"

# Dense streams: noise at a low CRF with 8x8 coding blocks and 4x4 transforms, so that
# nearly every CTB splits down to the smallest blocks, at 1080p, 4K and the largest picture
# H.265 allows. Three pictures each: the middle one is predicted from the others.
dense_hevc_clip() {
  local name=$1 size=$2 frames=$3
  [ -s "$name" ] && return 0
  "${ffmpeg_quiet[@]}" -f lavfi -i "testsrc2=size=${size}:rate=25" -vf "noise=alls=100:allf=t+u" \
    -frames:v "$frames" -pix_fmt yuv420p -c:v libx265 -preset ultrafast \
    -x265-params "log-level=error:crf=10:ctu=32:min-cu-size=8:bframes=1:tu-intra-depth=3:tu-inter-depth=3" \
    -f hevc "$name.tmp"
  mv "$name.tmp" "$name"
}

# long_hevc_clip NAME SIZE FRAMES: a long stream of tiny pictures, for stream-level limits.
long_hevc_clip() {
  local name=$1 size=$2 frames=$3
  [ -s "$name" ] && return 0
  "${ffmpeg_quiet[@]}" -f lavfi -i "testsrc2=size=${size}:rate=30" -frames:v "$frames" -pix_fmt yuv420p \
    -c:v libx265 -preset ultrafast -x265-params "log-level=error:keyint=60" -f hevc "$name.tmp"
  mv "$name.tmp" "$name"
}

dense_hevc_clip dense_1920x1080.hevc 1920x1080 3
dense_hevc_clip dense_3840x2160.hevc 3840x2160 3
dense_hevc_clip dense_8192x4320.hevc 8192x4320 3
long_hevc_clip  long_64x64_30000.hevc 64x64 30000

# Project controller: 70 small pictures decode well inside one 50 ms batch window; a 12-bit
# 4:2:0 stream for both decode roads.
hevc_clip project_70_pictures.hevc        yuv420p      64x64   70 "keyint=35:bframes=3"
hevc_clip project_420_12bit.hevc          yuv420p12le  64x48   6  "keyint=6:bframes=2"

# Raised to 16-bit samples with extended precision by the tests of streams FFmpeg does not
# decode: without SAO, whose offsets grow longer with the bit depth, and with coefficients far
# below the escape of extended precision's binarisation, its slice data read the same at 16 bits.
hevc_clip mono_400_8bit_no_sao.hevc       gray         64x64   3  "keyint=3:bframes=0:sao=0:pools=1:frame-threads=1"

echo "test media ready in $out_dir"
