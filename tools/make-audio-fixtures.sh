#!/usr/bin/env bash
# Makes the committed audio fixtures once with Debian's ffmpeg command-line
# tool, an encoder and decoder independent of ours: MS ADPCM files at several
# block sizes, one IMA ADPCM file, the 16-bit PCM ffmpeg decodes each to (the
# reference the tests compare our decoder with), and a short MP3.
# Usage: tools/make-audio-fixtures.sh [output folder]
set -euo pipefail
out=${1:-$(dirname "$0")/../tests/audio/data}
mkdir -p "$out"
ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }

# A sine with a second partial and a slow rise, so every predictor is used.
tone() { # rate channels seconds
  echo "aevalsrc=0.6*sin(2*PI*440*t)*min(1\,t*4)+0.25*sin(2*PI*1375*t)|0.5*sin(2*PI*660*t)+0.3*sin(2*PI*2100*t):s=$1:d=$3"
}

make_adpcm() { # name codec block rate channels seconds
  local name=$1 codec=$2 block=$3 rate=$4 ch=$5 secs=$6
  ff -f lavfi -i "$(tone "$rate" "$ch" "$secs")" -ac "$ch" -c:a "$codec" -block_size "$block" "$out/$name.wav"
  ff -i "$out/$name.wav" -f s16le -c:a pcm_s16le "$out/$name.pcm"
}

make_adpcm ms_256_mono adpcm_ms 256 22050 1 0.7
make_adpcm ms_1024_stereo adpcm_ms 1024 44100 2 0.45
make_adpcm ms_4096_stereo adpcm_ms 4096 44100 2 0.5
make_adpcm ima_1024_mono adpcm_ima_wav 1024 22050 1 0.6

# A 440 Hz sine of 12.5 s as MPEG-1 layer III at 16 kbit/s mono 22,050 Hz.
ff -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=12.5" -ac 1 -ar 22050 -c:a libmp3lame -b:a 16k \
  "$out/music.mp3"

# Formats only FFmpeg opens: one second of 440 Hz, FLAC and Ogg Vorbis.
ff -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=1" -ac 1 -c:a flac "$out/tone.flac"
ff -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=1" -ac 1 -c:a libvorbis -q:a 0 "$out/tone.ogg"
ff -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=1" -ac 1 -c:a wmav2 -b:a 32k "$out/tone.wma"
