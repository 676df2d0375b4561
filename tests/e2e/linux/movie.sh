#!/usr/bin/env bash
# End-to-end checks of the Linux movie screen under Xvfb: the movie's colours at known points for
# two scale modes and a background colour, and the inputs that end it (or must not).
# Usage: movie.sh <native build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
build=$(cd "${1:?build dir}" && pwd)
sample="$here/../../data/swf/visual/layers/test.swf"
[ -f "$sample" ] || { echo "FAIL: no sample movie at $sample"; exit 1; }
trap e2e_cleanup EXIT

E2E_TMP=$(mktemp -d)
sys="$E2E_TMP/sys"
mkdir -p "$sys"
cp "$build/src/app/dazzlebox" "$sys/E2E Movie.scr"
cp "$sample" "$sys/E2E Movie.swf"
export DAZZLEBOX_TRACE=1
start_xvfb 1100x800 || exit 1

seed() {
  export DAZZLEBOX_SETTINGS_FILE="$E2E_TMP/settings-$RANDOM.reg"
  local defaults=(ImageOrSWF=False SaverBgcolor=65535 SaverQuality=High ScaleModes=3
                  HideMouse=False LeftMouse=True RightMouse=True MoveMouse=False Keydown=True)
  { printf '[DM-NOVAPOST]\r\n'; for l in "$@" "${defaults[@]}"; do printf '%s\r\n' "$l"; done; } \
    > "$sys/Zirezarev.ini"
}
start_saver() {
  SAVER_LOG="$E2E_TMP/saver-$RANDOM.log"
  "$sys/E2E Movie.scr" /s 2> "$SAVER_LOG" &
  SAVER=$!
  E2E_PIDS+=("$SAVER")
  wait_for 5 grep -q 'movie playing' "$SAVER_LOG" && sleep 0.4
}
# 1. No scale, centred: the 550 x 400 stage sits at (275, 200); yellow (the background colour
# 65535) behind and around it.
seed
xdotool mousemove 10 10
start_saver || fail "the movie did not start"
check_points "no scale" 415 300 FF0000  545 420 0000FF  50 50 FFFF00  300 230 FFFF00  575 330 00FF00
kill "$SAVER"; wait "$SAVER" 2>/dev/null
# Show all: the stage doubled fills the screen.
seed ScaleModes=0
start_saver
check_points "show all" 280 200 FF0000  540 440 0000FF  20 20 FFFF00
kill "$SAVER"; wait "$SAVER" 2>/dev/null

# 2. Inputs that end the movie within 0.5 s.
seed
for input in "key:xdotool key a" "Esc:xdotool key Escape" "right press:xdotool mousedown 3" \
             "move right 3:xdotool mousemove_relative -- 3 0" "move left 3:xdotool mousemove_relative -- -3 0" \
             "move up 3:xdotool mousemove_relative -- 0 -3" "move down 3:xdotool mousemove_relative -- 0 3"; do
  xdotool mousemove 550 400
  start_saver || { fail "no movie"; continue; }
  check_ends "${input%%:*}" ${input#*:}
  xdotool mouseup 3 2>/dev/null
done
xdotool mousemove 550 400
start_saver
xdotool mousedown 1
sleep 0.7
if kill -0 "$SAVER" 2>/dev/null; then pass "a left-button press alone keeps the movie"; else fail "a left press ended the movie"; fi
check_ends "the left-button release" xdotool mouseup 1

# 3. Inputs the settings switch off, and small moves.
seed LeftMouse=False RightMouse=False Keydown=False MoveMouse=True
xdotool mousemove 550 400
start_saver
xdotool click 1; xdotool click 3; xdotool key a; xdotool mousemove_relative -- 50 50
sleep 0.7
if kill -0 "$SAVER" 2>/dev/null; then pass "switched-off inputs keep the movie"; else fail "the movie ended"; fi
kill "$SAVER"; wait "$SAVER" 2>/dev/null
seed
xdotool mousemove 550 400
start_saver
xdotool mousemove_relative -- 2 2; xdotool click 2
sleep 0.7
if kill -0 "$SAVER" 2>/dev/null; then pass "a 2-pixel move and a middle click keep the movie"; else fail "the movie ended"; fi
kill "$SAVER"

e2e_summary
