#!/usr/bin/env bash
# The show on every monitor: two heads side by side (800 x 600 and 640 x 480), each covered at its
# own resolution with the same picture, and input on the second head ends the show. Slideshow and
# movie screen.
# Usage: monitors.sh <native build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
build=$(cd "${1:?build dir}" && pwd)
trap e2e_cleanup EXIT

E2E_TMP=$(mktemp -d)
sys="$E2E_TMP/sys"
content="$sys/DEvOrevi/E2E Heads"
mkdir -p "$content"
cp "$build/src/app/dazzlebox" "$sys/E2E Heads.scr"
convert -size 200x150 xc:'#FF0000' "BMP3:$content/red.bmp"
export DAZZLEBOX_TRACE=1
start_xvfb 1600x800 || exit 1
start_two_heads || exit 1

# $1: content kind, $2: background colour; the pointer may move (input here is a click).
seed() {
  export DAZZLEBOX_SETTINGS_FILE="$E2E_TMP/settings-$RANDOM.reg"
  printf '[DM-NOVAPOST]\r\nImageOrSWF=%s\r\nTestSaver=False\r\nSaverSort=red.bmp*red.bmp*\r\nSaverEffects=0\r\nSaverTime=800\r\nSaverInterval=1\r\nSaverBgSelect=1\r\nSaverBgColor=%s\r\nHideMouse=False\r\nMoveMouse=True\r\nLeftMouse=True\r\n' "$1" "$2" \
    > "$sys/Zirezarev.ini"
}
start_saver() {
  SAVER_LOG="$E2E_TMP/saver-$RANDOM.log"
  "$sys/E2E Heads.scr" /s 2> "$SAVER_LOG" &
  SAVER=$!
  E2E_PIDS+=("$SAVER")
  wait_for 5 grep -q "$1" "$SAVER_LOG"
}

# 1. Slideshow: the 200 x 150 picture centred on the first head, and scaled by 0.8 (160 x 120)
# in the middle of the second. Frames go through shared memory, and once over the socket.
for path in shared socket; do
  if [ $path = socket ]; then export DAZZLEBOX_NO_SHM=1; else unset DAZZLEBOX_NO_SHM; fi
  seed True 8421504
  xdotool mousemove 400 300
  start_saver 'transition .* end' || fail "slideshow ($path): no step shown"
  sleep 0.3
  check_points "slideshow ($path)" 400 300 FF0000 305 230 FF0000 5 5 808080 795 595 808080 \
    1120 240 FF0000 1045 185 FF0000 1030 240 808080 805 5 808080 1435 475 808080
  # The pointer goes to the second head (moves do not end this show); a click there ends it.
  xdotool mousemove 1100 300
  sleep 0.3
  kill -0 "$SAVER" 2>/dev/null && pass "slideshow ($path): moving onto the second head is no input" ||
    fail "slideshow ($path): ended by a move"
  check_ends "slideshow ($path): a click on the second head" xdotool click 1
done
unset DAZZLEBOX_NO_SHM

# 2. Movie screen without a movie file: the player shows its background colour (SaverBgcolor),
# on both heads.
seed False 65535
xdotool mousemove 400 300
start_saver 'movie playing' || fail "movie: did not start"
sleep 0.5
check_points "movie" 400 300 FFFF00 5 5 FFFF00 1120 240 FFFF00 805 5 FFFF00 1435 475 FFFF00
xdotool mousemove 1100 300
sleep 0.3
check_ends "movie: a click on the second head" xdotool click 1

e2e_summary
