#!/usr/bin/env bash
# Every Wine end-to-end check against a MinGW build (configured with the tests on): Dazzlebox.scr
# and Nudger.exe from src/app, the probe and the preview host from tests/e2e/wine, each taken from
# the first of the given build directories that holds it.
# Usage: run_all.sh <mingw build dir> [more build dirs...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 1 ] || { echo "usage: run_all.sh <mingw build dir> [more build dirs...]" >&2; exit 64; }
find_one() {
  local f dir
  for dir in "${@:2}"; do
    f=$(find "$dir" -name "$1" -type f 2>/dev/null | head -1)
    [ -n "$f" ] && { printf '%s' "$f"; return 0; }
  done
  echo "missing $1 under ${*:2}" >&2
  exit 2
}
scr=$(find_one Dazzlebox.scr "$@")
nudger=$(find_one Nudger.exe "$@")
probe=$(find_one dbx_probe.exe "$@")
host=$(find_one dbx_preview_host.exe "$@")
status=0
for check in "check_seed.sh $scr" "check_preview.sh $scr $host" "check_nudger.sh $nudger $probe" \
    "check_window.sh $probe"; do
  name=${check%% *}
  echo "=== $name"
  # shellcheck disable=SC2086
  "$here/"$check || { echo "=== $name FAILED"; status=1; }
done
[ $status -eq 0 ] && echo "=== all Wine checks passed" || echo "=== some Wine checks failed"
exit $status
