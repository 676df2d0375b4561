#!/usr/bin/env bash
# How the Linux program ends from outside: without a display a show does not start at all, and
# SIGTERM (what xscreensaver and session managers send) or SIGINT ends it promptly in every
# state — show, movie preview, settings dialog — with the signal's exit status (128 + number).
# Usage: ending.sh <native build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
build=$(cd "${1:?build dir}" && pwd)
trap e2e_cleanup EXIT

E2E_TMP=$(mktemp -d)
sys="$E2E_TMP/sys"
content="$sys/DEvOrevi/E2E End"
mkdir -p "$content"
cp "$build/src/app/dazzlebox" "$sys/E2E End.scr"
convert -size 200x150 xc:'#FF0000' "BMP3:$content/red.bmp"
convert -size 200x150 xc:'#00FF00' "BMP3:$content/green.bmp"
export DAZZLEBOX_TRACE=1

# $1: content kind (True: pictures, False: the movie).
seed() {
  export DAZZLEBOX_SETTINGS_FILE="$E2E_TMP/settings-$RANDOM.reg"
  printf '[DM-NOVAPOST]\r\nImageOrSWF=%s\r\nTestSaver=False\r\nSaverSort=red.bmp*green.bmp*\r\nSaverEffects=0\r\nSaverTime=1\r\nSaverInterval=1\r\nSaverBgSelect=1\r\nSaverBgColor=8421504\r\nSaverAudio=music.wav\r\nRestartmusic=Loop\r\nHideMouse=False\r\nMoveMouse=True\r\n' "$1" \
    > "$sys/Zirezarev.ini"
}

# 1. No display: the show ends at once (it used to run on unseen, timers and music included).
seed True
start=$(date +%s%3N)
env -u DISPLAY timeout 10 "$sys/E2E End.scr" /s 2> "$E2E_TMP/nodisplay.log"
code=$?
took=$(($(date +%s%3N) - start))
if [ $code -ne 124 ] && [ $took -lt 3000 ]; then
  pass "without a display /s ends by itself ($took ms, exit $code)"
else
  fail "without a display /s ran until killed (exit $code after $took ms)"
fi
grep -q 'slideshow loaded' "$E2E_TMP/nodisplay.log" &&
  fail "the show loaded without a window" || pass "nothing was loaded without a window"

start_xvfb 640x480 || exit 1

# ends_on <signal> <what> <trace line that shows it is up> <command...>: starts the command,
# waits for the trace line, sends the signal and expects the end within 1 s with 128 + number.
ends_on() {
  local sig=$1 what=$2 ready=$3; shift 3
  local log="$E2E_TMP/run-$RANDOM.log"
  "$@" 2> "$log" &
  local pid=$!
  E2E_PIDS+=("$pid")
  if ! wait_for 10 grep -q "$ready" "$log"; then
    fail "$what: never reached '$ready'"; kill -9 "$pid" 2>/dev/null; return
  fi
  sleep "${SETTLE:-0.5}"
  local t0; t0=$(date +%s%3N)
  kill -s "$sig" "$pid"
  if wait_for 2 process_gone "$pid"; then
    wait "$pid"; local code=$?
    local took=$(($(date +%s%3N) - t0)) want=$((128 + $(kill -l "$sig")))
    if [ $code -eq $want ] && [ $took -le 1000 ]; then
      pass "$what: SIG$sig ends it in $took ms, exit $code"
    else
      fail "$what: SIG$sig ended it with exit $code after $took ms (wanted $want within 1 s)"
    fi
    grep -q 'dazzlebox-trace .* exit' "$log" && pass "$what: ended through the normal exit" ||
      fail "$what: no normal exit in the trace"
  else
    fail "$what: SIG$sig did not end it"; kill -9 "$pid" 2>/dev/null
  fi
}

seed True
xdotool mousemove 320 240
ends_on TERM "show, before the first step" "first frame" "$sys/E2E End.scr" /s
ends_on TERM "show, in the middle of a slow transition" "transition start" "$sys/E2E End.scr" /s
ends_on INT "show" "first frame" "$sys/E2E End.scr" /s

"$build/tests/e2e/linux/x11_host" 200 150 50 40 > "$E2E_TMP/host.out" &
host=$!
E2E_PIDS+=("$host")
wait_for 5 test -s "$E2E_TMP/host.out" || fail "host window did not start"
hostid=$(head -n1 "$E2E_TMP/host.out")
ends_on TERM "picture preview" "start" "$sys/E2E End.scr" /p "$hostid"
seed False
ends_on TERM "movie preview" "start" "$sys/E2E End.scr" /p "$hostid"
ends_on TERM "movie show (no movie file)" "shown" "$sys/E2E End.scr" /s
SETTLE=2 ends_on TERM "settings dialog" "start" "$sys/E2E End.scr" /c
SETTLE=2 ends_on INT "settings dialog" "start" "$sys/E2E End.scr" /c

e2e_summary
