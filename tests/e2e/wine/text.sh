#!/usr/bin/env bash
# Text in the movie screen of the Windows build under Wine + Xvfb: a static text and a field in an
# embedded font show their glyphs at the expected places, and a field in the installed sans-serif
# face (GDI outlines) shows text of its colour inside its box. The movie is written by
# tests/e2e/text_movie.py (400 x 200 px, centred unscaled on the 1100 x 800 screen at 350, 300).
# Usage: text.sh <mingw build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
scr=$(find "${1:?mingw build dir}" -name Dazzlebox.scr -type f | head -1)
[ -n "$scr" ] || { echo "no Dazzlebox.scr under $1"; exit 2; }
trap e2e_cleanup EXIT
new_prefix || exit 1
start_xvfb 1100x800 || exit 1

saver="E2E Text"
cp "$scr" "$SYSDIR/$saver.scr"
python3 "$here/../text_movie.py" "$SYSDIR/$saver.swf" || exit 1
export DAZZLEBOX_TRACE=1
{ printf '[DM-NOVAPOST]\r\n'
  for l in ImageOrSWF=False SaverBgcolor=16777215 SaverQuality=High ScaleModes=3 HideMouse=False \
           LeftMouse=True RightMouse=True MoveMouse=False Keydown=True; do printf '%s\r\n' "$l"; done
} > "$SYSDIR/Zirezarev.ini"
xdotool mousemove 10 10
SAVER_LOG="$E2E_TMP/saver.log"
wine "C:\\windows\\system32\\$saver.scr" /s 2> "$SAVER_LOG" &
SAVER=$!
E2E_PIDS+=("$SAVER")
if wait_for 20 grep -q 'movie playing' "$SAVER_LOG"; then
  sleep 1
  # The static "A": x 20..43 y 29..60 of the stage; the field's "A" x 102..125 y 26..57, its
  # "B" beside it with a hole at x 137..145 y 34..49.
  check_points "embedded glyphs" 381 345 FF0000  463 342 0000FF  491 341 FFFFFF  420 345 FFFFFF \
                                 381 320 FFFFFF
  # The installed face: pixels of the text colour inside the field's box (x 20..380, y 100..180),
  # none outside it.
  screenshot "$E2E_TMP/text.png"
  inside=$(convert "$E2E_TMP/text.png" -crop 360x80+370+400 +repage txt:- | grep -ci '#00FF00')
  all=$(convert "$E2E_TMP/text.png" txt:- | grep -ci '#00FF00')
  if [ "$inside" -gt 300 ] && [ "$inside" -eq "$all" ]; then
    pass "device font: $inside pixels of the text colour, all inside the field"
  else
    fail "device font: $inside pixels of the text colour inside the field, $all in all"
  fi
  check_ends "Esc" xdotool key Escape
else
  fail "the movie did not start"
fi
e2e_summary
