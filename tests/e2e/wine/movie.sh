#!/usr/bin/env bash
# The movie screen of the Windows build under Wine + Xvfb: the movie's colours at known points for
# two scale modes and a background colour, and the inputs that end it (or must not), caught on the
# player's own child window.
# Usage: movie.sh <mingw build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
scr=$(find "${1:?mingw build dir}" -name Dazzlebox.scr -type f | head -1)
[ -n "$scr" ] || { echo "no Dazzlebox.scr under $1"; exit 2; }
sample="$here/../../data/swf/visual/layers/test.swf"
[ -f "$sample" ] || { echo "FAIL: no sample movie at $sample"; exit 1; }
trap e2e_cleanup EXIT
new_prefix || exit 1
start_xvfb 1100x800 || exit 1

saver="E2E Movie"
cp "$scr" "$SYSDIR/$saver.scr"
cp "$sample" "$SYSDIR/$saver.swf"
export DAZZLEBOX_TRACE=1

seed() {
  wine reg delete "HKCU\\Software\\DEvOrevi" /f >/dev/null 2>&1
  local defaults=(ImageOrSWF=False SaverBgcolor=65535 SaverQuality=High ScaleModes=3
                  HideMouse=False LeftMouse=True RightMouse=True MoveMouse=False Keydown=True)
  { printf '[DM-NOVAPOST]\r\n'; for l in "$@" "${defaults[@]}"; do printf '%s\r\n' "$l"; done; } \
    > "$SYSDIR/Zirezarev.ini"
}
start_saver() {
  SAVER_LOG="$E2E_TMP/saver-$RANDOM.log"
  wine "C:\\windows\\system32\\$saver.scr" /s 2> "$SAVER_LOG" &
  SAVER=$!
  E2E_PIDS+=("$SAVER")
  wait_for 20 grep -q 'movie playing' "$SAVER_LOG" && sleep 1
}
seed
xdotool mousemove 10 10
start_saver || fail "the movie did not start"
check_points "no scale" 415 300 FF0000  545 420 0000FF  50 50 FFFF00  300 230 FFFF00
check_ends "Esc" xdotool key Escape
seed ScaleModes=0
start_saver
check_points "show all" 280 200 FF0000  540 440 0000FF  20 20 FFFF00
check_ends "a key" xdotool key a

for input in "right press:xdotool mousedown 3" "move right 3:xdotool mousemove_relative -- 3 0" \
             "move left 3:xdotool mousemove_relative -- -3 0" "move up 3:xdotool mousemove_relative -- 0 -3" \
             "move down 3:xdotool mousemove_relative -- 0 3"; do
  seed
  xdotool mousemove 550 400
  start_saver || { fail "no movie"; continue; }
  check_ends "${input%%:*}" ${input#*:}
  xdotool mouseup 3 2>/dev/null
done
seed
xdotool mousemove 550 400
start_saver
xdotool mousedown 1
sleep 1
if ! grep -q unload "$SAVER_LOG"; then pass "a left-button press alone keeps the movie"; else fail "a left press ended the movie"; fi
check_ends "the left-button release" xdotool mouseup 1

seed LeftMouse=False RightMouse=False Keydown=False MoveMouse=True
xdotool mousemove 550 400
start_saver
xdotool click 1; xdotool click 3; xdotool key a; xdotool mousemove_relative -- 50 50
sleep 1
if ! grep -q unload "$SAVER_LOG"; then pass "switched-off inputs keep the movie"; else fail "the movie ended"; fi

e2e_summary
