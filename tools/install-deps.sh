#!/usr/bin/env bash
# Installs everything the build, the tests and the player need on Debian 12.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev lld
  libgtest-dev libgmock-dev libbenchmark-dev libpng-dev
  zlib1g-dev libjpeg62-turbo-dev liblcms2-dev libmpg123-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libsdl2-dev libepoxy-dev libegl-mesa0 libgl1-mesa-dri libegl1 libgles2
  libfreetype-dev libfontconfig-dev libharfbuzz-dev libfribidi-dev
  python3-pil
  fonts-liberation fonts-liberation2 fonts-dejavu-core fonts-wqy-microhei fonts-symbola fonts-freefont-ttf
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
