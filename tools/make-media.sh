#!/usr/bin/env bash
# Makes the video and audio clips the video-source tests read, with the ffmpeg
# command-line tool of Debian 12. The clips are committed (each well under
# 100 KB), so the tests do not need the tool; run this again only to change
# them. Every video frame k has a flat luma of 16 + 4k and neutral chroma, so
# a decoded frame names its own index.
#
#   tools/make-media.sh                 rewrites tests/fixtures/media/
#   tools/make-media.sh --bench DIR     writes the large 1920x1080 H.264 clip
#                                       of the decoding benchmark into DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/tests/fixtures/media
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }

# frames <file> <width> <height> <count> [nv12]: raw 4:2:0 frames, frame k
# with luma 16 + 4k (k < 50) and chroma 128.
frames() {
  python3 - "$@" <<'PY'
import sys
path, w, h, n = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
cw, ch = (w + 1) // 2, (h + 1) // 2
with open(path, "wb") as f:
    for k in range(n):
        f.write(bytes([16 + 4 * (k % 50)]) * (w * h))
        f.write(bytes([128]) * (2 * cw * ch))
PY
}

if [ "${1:-}" = "--bench" ]; then
  dir=${2:?folder}
  mkdir -p "$dir"
  # A moving test pattern: flat frames would decode unrealistically fast.
  ff -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=4 -pix_fmt yuv420p \
     -c:v libx264 -preset veryfast -bf 2 -g 30 "$dir/bench_1080p_h264.mp4"
  exit 0
fi

mkdir -p "$out"
raw() { echo "-f rawvideo -pix_fmt yuv420p -s $1 -r 25 -i $2"; }

frames "$work/f320.yuv" 320 240 50
frames "$work/f64.yuv" 64 48 10
frames "$work/f33.yuv" 33 17 10
frames "$work/f32.yuv" 32 18 10

# H.264 with B-frames, 2 s at 25 fps: draining, seeking, the forward window.
ff $(raw 320x240 "$work/f320.yuv") -c:v libx264 -bf 2 -g 25 -pix_fmt yuv420p "$out/h264_bframes.mp4"
# A broadcast-like start: timestamps begin at one hour, key frames every 25.
frames "$work/f64x50.yuv" 64 48 50
ff $(raw 64x48 "$work/f64x50.yuv") -c:v libx264 -bf 2 -g 25 -output_ts_offset 3600 "$out/late_start.mkv"
# MPEG-2, interlaced, top field first.
ff $(raw 320x240 "$work/f320.yuv") -c:v mpeg2video -flags +ilme+ildct -top 1 -b:v 400k -frames:v 25 "$out/mpeg2_interlaced.mpg"
# MPEG-4 part 2.
ff $(raw 320x240 "$work/f320.yuv") -c:v mpeg4 -q:v 4 -frames:v 25 -metadata title="Grüße aus Köln" \
   -metadata year=2019 "$out/mpeg4.mp4"
# VP9 in WebM.
ff $(raw 320x240 "$work/f320.yuv") -c:v libvpx-vp9 -b:v 200k -frames:v 25 "$out/vp9.webm"
# 10-bit 4:2:0 (the converter path) and 4:2:2 (converter-context reuse).
ff $(raw 64x48 "$work/f64.yuv") -c:v ffv1 -pix_fmt yuv420p10le "$out/yuv420p10.mkv"
ff $(raw 64x48 "$work/f64.yuv") -c:v ffv1 -pix_fmt yuv422p "$out/yuv422p.mkv"
# Raw NV12 in NUT: the NV12 split.
ff $(raw 64x48 "$work/f64.yuv") -c:v rawvideo -pix_fmt nv12 -f nut "$out/nv12.nut"
# BGRA: alpha and RGBA images.
ff $(raw 64x48 "$work/f64.yuv") -c:v ffv1 -pix_fmt bgra "$out/bgra.mkv"
# Odd size 33 x 17: chroma planes of 16 x 8.
ff $(raw 33x17 "$work/f33.yuv") -c:v ffv1 -pix_fmt yuv420p "$out/odd_33x17.mkv"
# Audio first, video second.
ff $(raw 64x48 "$work/f64.yuv") -f lavfi -i sine=frequency=440:sample_rate=44100:duration=0.4 \
   -map 1:a -map 0:v -c:v mpeg4 -c:a mp2 "$out/audio_first.mkv"
# The tiny clip of the fixture show.
ff $(raw 32x18 "$work/f32.yuv") -c:v mpeg4 "$out/tiny_32x18.mp4"

# Rotated by 90 degrees: the MPEG-4 clip in MP4 whose track-header matrix is
# written here (the tool's rotate metadata does not become a matrix).
ff $(raw 64x48 "$work/f64.yuv") -c:v mpeg4 "$work/rot.mp4"
python3 - "$work/rot.mp4" "$out/rotated90.mp4" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
def boxes(start, end):
    pos = start
    while pos + 8 <= end:
        size, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if size < 8: break
        yield pos, size, kind
        pos += size
def find(start, end, path):
    for pos, size, kind in boxes(start, end):
        if kind == path[0]:
            return pos if len(path) == 1 else find(pos + 8, pos + size, path[1:])
    raise SystemExit("box not found")
tkhd = find(0, len(data), [b"moov", b"trak", b"tkhd"])
version = data[tkhd + 8]
# full-box header, times and ids, then reserved, layer, group, volume, reserved
matrix = tkhd + 12 + (32 if version == 1 else 20) + 16
# 90 degrees clockwise: a=0 b=1 u=0 c=-1 d=0 v=0 x=0 y=0 w=1 (16.16 and 2.30)
m = [0, 0x10000, 0, -0x10000, 0, 0, 0, 0, 0x40000000]
data[matrix:matrix + 36] = struct.pack(">9i", *m)
open(sys.argv[2], "wb").write(data)
PY

# Audio through FFmpeg: 48 kHz float stereo, 44.1 kHz S16 stereo, 22.05 kHz mono MP3.
ff -f lavfi -i sine=frequency=1000:sample_rate=48000:duration=0.25 -ac 2 -c:a pcm_f32le "$out/tone_48k_f32.wav"
ff -f lavfi -i sine=frequency=1000:sample_rate=44100:duration=0.25 -ac 2 -c:a pcm_s16le "$out/tone_44k_s16.wav"
ff -f lavfi -i sine=frequency=500:sample_rate=22050:duration=0.5 -ac 1 -c:a libmp3lame -b:a 32k "$out/tone_22k_mono.mp3"

ffmpeg -version | head -n 1 > "$out/ffmpeg-version.txt"
ls -l "$out"
