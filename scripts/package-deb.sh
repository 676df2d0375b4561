#!/usr/bin/env bash
# Builds the Debian package of the Linux build from the release preset; prints its path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release -j2 >/dev/null
(cd build/release && cpack -G DEB -B package >/dev/null)
ls build/release/package/dazzlebox_*.deb
