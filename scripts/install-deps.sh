#!/usr/bin/env bash
# Installs what building, testing and running Dazzlebox needs on Debian 12 (run as root).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config python3 git clang clang-format clang-tidy
  libclang-rt-14-dev
  googletest libgtest-dev libbenchmark-dev
  libx11-dev libjpeg62-turbo-dev libsdl2-dev zlib1g-dev liblzma-dev libpng-dev libgtk-3-dev libmpg123-dev ffmpeg
  libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-noto-core
  g++-mingw-w64-x86-64 libz-mingw-w64-dev
  libxrandr-dev libxinerama-dev libxext-dev
  wine wine64 nsis xvfb xserver-xephyr xdotool imagemagick x11-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
