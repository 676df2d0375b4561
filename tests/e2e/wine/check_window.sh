#!/usr/bin/env bash
# The Windows layer's full-screen window under Wine + Xvfb, with the probe program: the window
# covers the whole screen, pixels arrive 1:1 in the right colours and places (checked in a
# screenshot), the process is per-monitor DPI aware, frames are paced to the refresh period, and
# a key, a click or a 5-pixel move reaches the program and ends it within 0.5 s.
# Usage: check_window.sh <dbx_probe.exe>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
probe=$(cd "$(dirname "${1:?dbx_probe.exe}")" && pwd)/$(basename "$1")
trap e2e_cleanup EXIT
new_prefix || exit 1
start_xvfb 1024x768 || exit 1
W=1024
H=768

# Starts the probe's full-screen pattern and waits until it has drawn and measured its frames.
PROBE_RUNS=0
start_probe() {
  xdotool mousemove 300 300
  PROBE_RUNS=$((PROBE_RUNS + 1))
  OUT="$E2E_TMP/probe.$PROBE_RUNS.out"
  wine "$(winpath "$probe")" show 30000 > "$OUT" 2>&1 &
  PROBE=$!
  E2E_PIDS+=("$PROBE")
  wait_for 30 grep -qs '^ready' "$OUT" || { fail "the probe never became ready"; cat "$OUT"; return 1; }
  sleep 0.5
}

# Runs the input of the arguments and checks that the probe ends within 0.5 s.
ends_on() {
  local what=$1
  shift
  start_probe || return
  local t0
  t0=$(now_ms)
  "$@"
  if wait_for 5 process_gone "$PROBE"; then
    local dt=$(($(now_ms) - t0))
    if [ "$dt" -le 500 ]; then pass "$what ended the program in $dt ms"; else fail "$what ended the program only after $dt ms"; fi
    grep '^ended by' "$OUT" | sed 's/^/    /'
  else
    fail "$what did not end the program"
    tr -d '\r' < "$OUT" | sed 's/^/    /'
    kill "$PROBE" 2>/dev/null
  fi
}

start_probe || exit 1
cat "$OUT" | tr -d '\r' | sed 's/^/    /'
read -r _ client _ screen _ twips _ awareness < <(grep '^client' "$OUT" | tr -d '\r')
[ "$client" = "${W}x${H}" ] && [ "$screen" = "${W}x${H}" ] &&
  pass "the maximised window's client area is the whole ${W}x${H} screen" ||
  fail "client area $client on a screen of $screen"
[ "$awareness" = 2 ] && pass "the window is per-monitor DPI aware" || fail "DPI awareness $awareness"
read -r _ declared < <(grep '^manifest' "$OUT" | tr -d '\r')
[ "$declared" = per-monitor-v2 ] && pass "the embedded manifest declares per-monitor v2 awareness" ||
  fail "the program's manifest: $declared"
[ "$twips" = 15 ] && pass "15 twips per pixel at 96 dpi" || fail "twips per pixel $twips"
read -r _ _ _ mean _ _ worst _ _ refresh _ _ pacing _ slow < <(grep '^frames' "$OUT" | tr -d '\r')
awk -v m="$mean" -v r="$refresh" 'BEGIN { exit !(m >= 0.9 * r && m <= 1.1 * r) }' &&
  pass "frames every $mean ms for a refresh period of $refresh ms ($pacing)" ||
  fail "frames every $mean ms for a refresh period of $refresh ms"
# The checks run on shared machines, where a busy neighbour delays a wake-up now and then: a few
# late frames in 120 are scheduling noise and are reported; a pacing fault makes many of them.
if [ "$slow" -le 12 ]; then
  pass "$slow of 120 frames took more than two refresh periods (slowest $worst ms)"
else
  fail "$slow of 120 frames took more than two refresh periods (slowest $worst ms)"
fi

screenshot "$E2E_TMP/shot.png"
cx=$((W / 2))
cy=$((H / 2))
for spec in "0 0 FF0000" "$((W - 1)) 0 00FF00" "0 $((H - 1)) 0000FF" "$((W - 1)) $((H - 1)) FFFF00" \
    "$((cx - 9)) $((cy - 9)) FF0000" "$((cx + 8)) $((cy + 8)) FFFF00" \
    "$((cx - 8)) $((cy - 8)) 000000" "$((cx - 7)) $((cy - 8)) FFFFFF" "$((cx + 7)) $((cy + 7)) 000000" \
    "$((cx + 6)) $((cy + 7)) FFFFFF"; do
  read -r x y want <<< "$spec"
  got=$(pixel_at "$E2E_TMP/shot.png" "$x" "$y")
  [ "$got" = "$want" ] && pass "screen pixel ($x, $y) is $want" || fail "screen pixel ($x, $y) is $got, expected $want"
done
xdotool key Escape
wait_for 5 process_gone "$PROBE" || { echo "note: Escape did not end the first probe"; kill "$PROBE" 2>/dev/null; }

ends_on "a key press" xdotool key a
ends_on "a left click" xdotool click 1
ends_on "a 5-pixel move" xdotool mousemove_relative 5 0
e2e_summary
