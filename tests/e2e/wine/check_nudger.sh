#!/usr/bin/env bash
# Nudger under Wine: it starts the command line it is given as a new process, shown normally, and
# ends before that process does; with no command line, or one naming no program, it ends normally
# and silently.
# Usage: check_nudger.sh <Nudger.exe> <dbx_probe.exe>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
nudger=$(cd "$(dirname "${1:?Nudger.exe}")" && pwd)/$(basename "$1")
probe=$(cd "$(dirname "${2:?dbx_probe.exe}")" && pwd)/$(basename "$2")
trap e2e_cleanup EXIT
new_prefix || exit 1
start_xvfb 800x600 || exit 1

# The started program lies in a folder with spaces, so its name reaches Nudger quoted.
folder="$WINEPREFIX/drive_c/Program Files/Dbx Probe"
mkdir -p "$folder"
cp "$probe" "$folder/probe.exe"
cp "$nudger" "$WINEPREFIX/drive_c/Nudger.exe"
marker="$WINEPREFIX/drive_c/marker.txt"

start=$(now_ms)
wine 'C:\Nudger.exe' 'C:\Program Files\Dbx Probe\probe.exe' marker 'C:\marker.txt' 8000
code=$?
ended=$(now_ms)
[ "$code" -eq 0 ] && pass "Nudger ended with exit code 0 after $((ended - start)) ms" ||
  fail "Nudger ended with exit code $code"
if wait_for 15 test -s "$marker"; then
  pass "the started program runs"
  tr -d '\r' < "$marker" > "$E2E_TMP/marker"
  if grep -qx "end" "$E2E_TMP/marker"; then
    fail "the started program had already ended when Nudger did"
  else
    pass "Nudger ended first, while the started program still ran"
  fi
  grep -qx 'args marker C:\\marker.txt 8000' "$E2E_TMP/marker" &&
    pass "the program got its arguments: $(head -1 "$E2E_TMP/marker")" ||
    fail "the program's arguments: $(head -1 "$E2E_TMP/marker")"
  grep -qx 'showwindow 1' "$E2E_TMP/marker" &&
    pass "it was started shown normally (SW_SHOWNORMAL)" ||
    fail "start-up show state: $(sed -n 2p "$E2E_TMP/marker")"
else
  fail "the started program never wrote its marker"
fi

for args in "" 'C:\no\such\program.exe /s'; do
  start=$(now_ms)
  # shellcheck disable=SC2086
  out=$(wine 'C:\Nudger.exe' $args 2>&1)
  code=$?
  if [ "$code" -eq 0 ] && [ -z "$out" ]; then
    pass "Nudger '${args}' ended silently with code 0 in $(($(now_ms) - start)) ms"
  else
    fail "Nudger '${args}' ended with code $code, output: $out"
  fi
done
e2e_summary
