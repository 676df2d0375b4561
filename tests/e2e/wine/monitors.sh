#!/usr/bin/env bash
# The Windows build on every monitor, under Wine: two heads side by side (800 x 600 and 640 x 480,
# which Wine reports as two monitors), each covered at its own resolution with the same picture,
# and input on the second head ends the show. Slideshow and movie screen.
# Usage: monitors.sh <mingw build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
scr=$(find "${1:?mingw build dir}" -name Dazzlebox.scr -type f | head -1)
[ -n "$scr" ] || { echo "no Dazzlebox.scr under $1"; exit 2; }
trap e2e_cleanup EXIT
start_xvfb 1600x800 || exit 1
start_two_heads || exit 1
new_prefix || exit 1

saver="E2E Heads"
content="$SYSDIR/DEvOrevi/$saver"
mkdir -p "$content"
cp "$scr" "$SYSDIR/$saver.scr"
convert -size 200x150 xc:'#FF0000' "BMP3:$content/red.bmp"
export DAZZLEBOX_TRACE=1

# $1: content kind, $2: background colour; the pointer may move (input here is a click).
seed() {
  wine reg delete "HKCU\\Software\\DEvOrevi" /f >/dev/null 2>&1
  printf '[DM-NOVAPOST]\r\nImageOrSWF=%s\r\nTestSaver=False\r\nSaverSort=red.bmp*red.bmp*\r\nSaverEffects=0\r\nSaverTime=800\r\nSaverInterval=1\r\nSaverBgSelect=1\r\nSaverBgColor=%s\r\nHideMouse=False\r\nMoveMouse=True\r\nLeftMouse=True\r\n' "$1" "$2" \
    > "$SYSDIR/Zirezarev.ini"
}
start_saver() {
  SAVER_LOG="$E2E_TMP/saver-$RANDOM.log"
  wine "C:\\windows\\system32\\$saver.scr" /s 2> "$SAVER_LOG" &
  SAVER=$!
  E2E_PIDS+=("$SAVER")
  wait_for 30 grep -q "$1" "$SAVER_LOG"
}

# 1. Slideshow: the 200 x 150 picture centred on the first head, and scaled by 0.8 (160 x 120)
# in the middle of the second.
seed True 8421504
xdotool mousemove 400 300
start_saver 'transition .* end' || fail "slideshow: no step shown"
sleep 0.5
check_points "slideshow" 400 300 FF0000 305 230 FF0000 5 5 808080 795 595 808080 \
  1120 240 FF0000 1045 185 FF0000 1030 240 808080 805 5 808080 1435 475 808080
xdotool mousemove 1100 300
sleep 0.5
kill -0 "$SAVER" 2>/dev/null && pass "slideshow: moving onto the second head is no input" ||
  fail "slideshow: ended by a move"
check_ends "slideshow: a click on the second head" xdotool click 1
wineserver -k >/dev/null 2>&1; sleep 1

# 2. Movie screen without a movie file: the player's background colour on both heads.
seed False 65535
xdotool mousemove 400 300
start_saver 'movie playing' || fail "movie: did not start"
sleep 1
check_points "movie" 400 300 FFFF00 5 5 FFFF00 1120 240 FFFF00 805 5 FFFF00 1435 475 FFFF00
xdotool mousemove 1100 300
sleep 0.5
check_ends "movie: a click on the second head" xdotool click 1

e2e_summary
