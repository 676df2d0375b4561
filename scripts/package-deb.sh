#!/usr/bin/env bash
# Builds the Debian package of the Linux build: an optimised build of the programs and tools alone
# (no tests, no benchmarks) in build/package; prints the package's path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DDBX_TESTS=OFF -DDBX_BENCH=OFF \
  >/dev/null
cmake --build build/package -j2 >&2
(cd build/package && cpack -G DEB -B package >&2)
ls build/package/package/dazzlebox_*.deb
