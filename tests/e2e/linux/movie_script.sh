#!/usr/bin/env bash
# End-to-end check of a scripted movie on the Linux movie screen under Xvfb: the movie's first frame
# stops the timeline and attaches a red square that its onEnterFrame moves to the right; two
# screenshots half a second apart show the square in different places (and never the blue second
# frame), and a key still ends the show.
# Usage: movie_script.sh <native build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
build=$(cd "${1:?build dir}" && pwd)
movie="$here/../../data/scripted_movie.swf"
trap e2e_cleanup EXIT

E2E_TMP=$(mktemp -d)
sys="$E2E_TMP/sys"
mkdir -p "$sys"
cp "$build/src/app/dazzlebox" "$sys/E2E Script.scr"
cp "$movie" "$sys/E2E Script.swf"
export DAZZLEBOX_TRACE=1
start_xvfb 1100x800 || exit 1
export DAZZLEBOX_SETTINGS_FILE="$E2E_TMP/settings.reg"
{ printf "[DM-NOVAPOST]\r\n"; printf "%s\r\n" ImageOrSWF=False SaverBgcolor=65535 SaverQuality=High \
  ScaleModes=3 HideMouse=False LeftMouse=True RightMouse=True MoveMouse=False Keydown=True \
  ; } > "$sys/Zirezarev.ini"

# The first red column of screen row 400, where the 400 x 300 stage (at 350, 250) shows the square.
red_x() {
  convert "$1" -crop 400x1+350+400 +repage txt:- 2>/dev/null |
    awk -F'[,:]' '/#FF0000/ {print $1; exit}'
}

xdotool mousemove 10 10
SAVER_LOG="$E2E_TMP/saver.log"
"$sys/E2E Script.scr" /s 2> "$SAVER_LOG" &
SAVER=$!
E2E_PIDS+=("$SAVER")
wait_for 5 grep -q 'movie playing' "$SAVER_LOG" && sleep 0.4 || fail "the movie did not start"
screenshot "$E2E_TMP/a.png"
sleep 0.5
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
