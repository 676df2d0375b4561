#!/usr/bin/env bash
# Builds the Debian package of the Linux build and prints the package's path. With no argument it
# makes an optimised build of the programs and tools alone (no tests, no benchmarks) in
# build/package; given the folder of an optimised build that already exists (CI passes its release
# preset), it packages that build instead of compiling everything once more.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-}
if [ -z "$build" ]; then
  build=build/package
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDBX_TESTS=OFF -DDBX_BENCH=OFF \
    >/dev/null
fi
cmake --build "$build" -j2 >&2
rm -f "$build"/package/dazzlebox_*.deb
(cd "$build" && cpack -G DEB -B package >&2)
ls "$build"/package/dazzlebox_*.deb
