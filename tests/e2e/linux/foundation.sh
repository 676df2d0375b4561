#!/usr/bin/env bash
# End-to-end checks of the Linux build's start-up: first-run seeding into the file store, the
# preview embedded into a foreign X window, and Nudger.
# Usage: foundation.sh <native build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
build=$(cd "${1:?build dir}" && pwd)
trap e2e_cleanup EXIT

E2E_TMP=$(mktemp -d)
sys="$E2E_TMP/sys"
mkdir -p "$sys"
cp "$build/src/app/dazzlebox" "$sys/E2E Saver.scr"
printf '[DM-NOVAPOST]\r\nImageOrSWF=True\r\nLeftMouse=False\r\n' > "$sys/Zirezarev.ini"
export DAZZLEBOX_SETTINGS_FILE="$E2E_TMP/settings.reg"
start_xvfb 640x480 || exit 1

# 1. The first /s start seeds the content kind as the entry list says.
"$sys/E2E Saver.scr" /s &
saver=$!
E2E_PIDS+=("$saver")
if wait_for 5 grep -q '"Loaded"="False"' "$DAZZLEBOX_SETTINGS_FILE" 2>/dev/null ||
   wait_for 5 grep -q '"Loaded"="True"' "$DAZZLEBOX_SETTINGS_FILE" 2>/dev/null; then
  if grep -qF '[Software\\DEvOrevi\\E2E Saver\\Option]' "$DAZZLEBOX_SETTINGS_FILE" &&
     grep -qF '"ImageOrSWF"="True"' "$DAZZLEBOX_SETTINGS_FILE"; then
    pass "first /s start seeded ImageOrSWF under the saver's settings key"
  else
    fail "settings store after /s:"; cat "$DAZZLEBOX_SETTINGS_FILE"
  fi
else
  fail "no settings were written by /s"
fi
xdotool key Escape 2>/dev/null
wait_for 5 process_gone "$saver" || kill "$saver"
wait "$saver" 2>/dev/null

# 2. /p <window> embeds the dark grey preview into the host window, at (0, 0), at its size.
"$build/tests/e2e/linux/x11_host" 200 150 50 40 > "$E2E_TMP/host.out" &
host=$!
E2E_PIDS+=("$host")
wait_for 5 test -s "$E2E_TMP/host.out" || fail "host window did not start"
hostid=$(head -n1 "$E2E_TMP/host.out")
"$sys/E2E Saver.scr" /p "$hostid" &
preview=$!
E2E_PIDS+=("$preview")
if wait_for 5 grep -q 'child 0 0 200 150 viewable' "$E2E_TMP/host.out"; then
  pass "preview is a visible 200x150 child of the host at (0, 0)"
else
  fail "no preview child in the host:"; tail -n 3 "$E2E_TMP/host.out"
fi
sleep 0.5
screenshot "$E2E_TMP/preview.png"
for point in "60 50" "150 115" "248 188"; do
  set -- $point
  colour=$(pixel_at "$E2E_TMP/preview.png" "$1" "$2")
  if [ "$colour" = "404040" ]; then pass "preview grey at $1,$2"; else fail "preview at $1,$2 is $colour"; fi
done
colour=$(pixel_at "$E2E_TMP/preview.png" 20 20)
[ "$colour" != "404040" ] && pass "outside the host is not grey ($colour)" || fail "grey outside the host"
kill "$host"
if wait_for 3 process_gone "$preview"; then
  pass "preview ends when its parent goes away"
else
  fail "preview outlived its parent"; kill "$preview"
fi

# 3. Nudger starts the command and ends before the started program has done its work.
marker="$E2E_TMP/nudged here"
start=$(date +%s%N)
"$build/src/app/nudger" sh -c 'sleep 1; touch "$1"' sh "$marker"
code=$?
ended=$(( ($(date +%s%N) - start) / 1000000 ))
if [ $code -eq 0 ] && [ ! -e "$marker" ]; then
  pass "nudger ended first (${ended} ms, exit 0)"
else
  fail "nudger exit $code, marker present: $([ -e "$marker" ] && echo yes || echo no)"
fi
wait_for 5 test -e "$marker" && pass "the nudged command ran" || fail "the nudged command never ran"
# The arguments reach the program as given: a path with a space, an argument with quotes.
prog="$E2E_TMP/My Saver.scr"
printf '#!/bin/sh\nprintf "%%s|" "$@" > "$(dirname "$0")/args.txt"\n' > "$prog"
chmod +x "$prog"
"$build/src/app/nudger" "$prog" /s "it's \"quoted\""
if wait_for 5 test -s "$E2E_TMP/args.txt" && [ "$(cat "$E2E_TMP/args.txt")" = "/s|it's \"quoted\"|" ]; then
  pass "nudger passes its arguments as given"
else
  fail "nudger arguments: $(cat "$E2E_TMP/args.txt" 2>/dev/null)"
fi
rm -f "$E2E_TMP/args.txt"
"$build/src/app/nudger" "$prog"
wait_for 5 test -e "$E2E_TMP/args.txt" && pass "nudger starts a program whose path has a space" \
  || fail "nudger did not start \"$prog\""
"$build/src/app/nudger" "/no/such/program --flag"; code=$?
[ $code -eq 0 ] && pass "nudger ignores a missing program" || fail "nudger exit $code for a missing program"
"$build/src/app/nudger"; code=$?
[ $code -eq 0 ] && pass "nudger with no arguments ends normally" || fail "nudger exit $code with no arguments"

e2e_summary
