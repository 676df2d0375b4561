#!/usr/bin/env bash
# Every Wine end-to-end check against one MinGW build directory (configured with the tests on):
# Dazzlebox.scr and Nudger.exe from src/app, the probe and the preview host from tests/e2e/wine.
# Usage: run_all.sh <mingw build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?mingw build dir}" && pwd)
find_one() {
  local f
  f=$(find "$build" -name "$1" -type f | head -1)
  [ -n "$f" ] || { echo "missing $1 under $build" >&2; exit 2; }
  printf '%s' "$f"
}
scr=$(find_one Dazzlebox.scr)
nudger=$(find_one Nudger.exe)
probe=$(find_one dbx_probe.exe)
host=$(find_one dbx_preview_host.exe)
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
