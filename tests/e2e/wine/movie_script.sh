#!/usr/bin/env bash
# A scripted movie on the movie screen of the Windows build under Wine + Xvfb: the first frame stops
# the timeline and attaches a red square that its onEnterFrame moves to the right; two screenshots
# a second apart show the square in different places (and never the blue second frame), and a key
# still ends the show.
# Usage: movie_script.sh <mingw build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
scr=$(find "${1:?mingw build dir}" -name Dazzlebox.scr -type f | head -1)
[ -n "$scr" ] || { echo "no Dazzlebox.scr under $1"; exit 2; }
movie="$here/../../data/scripted_movie.swf"
trap e2e_cleanup EXIT
new_prefix || exit 1
start_xvfb 1100x800 || exit 1

saver="E2E Script"
cp "$scr" "$SYSDIR/$saver.scr"
cp "$movie" "$SYSDIR/$saver.swf"
export DAZZLEBOX_TRACE=1
wine reg delete "HKCU\\Software\\DEvOrevi" /f >/dev/null 2>&1
{ printf '[DM-NOVAPOST]\r\n'
  printf '%s\r\n' ImageOrSWF=False SaverBgcolor=65535 SaverQuality=High ScaleModes=3 \
    HideMouse=False LeftMouse=True RightMouse=True MoveMouse=False Keydown=True
} > "$SYSDIR/Zirezarev.ini"

# The first red column of screen row 400, where the 400 x 300 stage (at 350, 250) shows the square.
red_x() {
  convert "$1" -crop 400x1+350+400 +repage txt:- 2>/dev/null |
    awk -F'[,:]' '/#FF0000/ {print $1; exit}'
}

xdotool mousemove 10 10
SAVER_LOG="$E2E_TMP/saver.log"
wine "C:\\windows\\system32\\$saver.scr" /s 2> "$SAVER_LOG" &
SAVER=$!
E2E_PIDS+=("$SAVER")
wait_for 20 grep -q 'movie playing' "$SAVER_LOG" && sleep 1 || fail "the movie did not start"
screenshot "$E2E_TMP/a.png"
sleep 1
screenshot "$E2E_TMP/b.png"
xa=$(red_x "$E2E_TMP/a.png")
xb=$(red_x "$E2E_TMP/b.png")
if [ -n "$xa" ] && [ -n "$xb" ] && [ "$xa" != "$xb" ]; then
  pass "the script moves the attached square ($xa -> $xb)"
else
  fail "no moving square (first at '${xa}', then at '${xb}')"
fi
corner=$(pixel_at "$E2E_TMP/b.png" 360 260)
if [ "$corner" = "0000FF" ]; then fail "the timeline went on to the blue frame: stop() did not hold"
else pass "stop() holds the first frame ($corner at 360,260)"; fi
check_ends "a key" xdotool key a

e2e_summary
