#!/usr/bin/env bash
# The slideshow of the Windows build under Wine + Xvfb: solid-colour pictures so that screenshots
# are checked by colour at points; the sequence on screen, the inputs that end the show and the
# ones that must not, the single-instance mark, and how fast the show ends.
# Usage: slideshow.sh <mingw build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
scr=$(find "${1:?mingw build dir}" -name Dazzlebox.scr -type f | head -1)
[ -n "$scr" ] || { echo "no Dazzlebox.scr under $1"; exit 2; }
trap e2e_cleanup EXIT
new_prefix || exit 1
start_xvfb 640x480 || exit 1

saver="E2E Show"
content="$SYSDIR/DEvOrevi/$saver"
mkdir -p "$content"
cp "$scr" "$SYSDIR/$saver.scr"
convert -size 200x150 xc:'#FF0000' "BMP3:$content/red.bmp"
convert -size 200x150 xc:'#00FF00' "BMP3:$content/green.bmp"
convert -size 200x150 xc:'#0000FF' "BMP3:$content/blue.bmp"
export DAZZLEBOX_TRACE=1

seed() {
  wine reg delete "HKCU\\Software\\DEvOrevi" /f >/dev/null 2>&1
  local defaults=(ImageOrSWF=True TestSaver=False SaverSort=red.bmp*green.bmp*blue.bmp*
                  SaverBgSelect=1 SaverBgColor=8421504 HideMouse=False LeftMouse=True
                  RightMouse=True MoveMouse=False Keydown=True)
  { printf '[DM-NOVAPOST]\r\n'; for l in "$@" "${defaults[@]}"; do printf '%s\r\n' "$l"; done; } \
    > "$SYSDIR/Zirezarev.ini"
}
start_saver() {
  SAVER_LOG="$E2E_TMP/saver-$RANDOM.log"
  wine "C:\\windows\\system32\\$saver.scr" /s 2> "$SAVER_LOG" &
  SAVER=$!
  E2E_PIDS+=("$SAVER")
  wait_for 20 grep -q 'first frame' "$SAVER_LOG"
}
centre() { screenshot "$E2E_TMP/shot.png"; pixel_at "$E2E_TMP/shot.png" 320 240; }
# 1. The background, then each picture in turn, wrapping; the window covers the screen.
seed "SaverEffects=0" "SaverTime=8" "SaverInterval=1"
xdotool mousemove 320 240
start_saver || fail "no first frame"
seen="" last=""
end=$((SECONDS + 10))
while [ $SECONDS -lt $end ]; do
  c=$(centre)
  if [ -n "$c" ] && [ "$c" != "$last" ]; then seen="$seen $c"; last=$c; fi
  sleep 0.05
done
screenshot "$E2E_TMP/cover.png"
corners="$(pixel_at "$E2E_TMP/cover.png" 0 0) $(pixel_at "$E2E_TMP/cover.png" 639 479)"
echo "centre colours seen:$seen"
expected="808080 FF0000 00FF00 0000FF FF0000 00FF00"
case " $seen " in
  *" $expected "*) pass "background, then red, green, blue, and back to red and green" ;;
  *) fail "sequence was:$seen (wanted $expected)" ;;
esac
[ "$corners" = "808080 808080" ] && pass "the window covers the screen" || fail "corners: $corners"

# 2. One instance at a time: a second is marked "ScrVB", a third leaves at once.
first=$SAVER
start_saver
second=$SAVER
if wait_for 5 xdotool search --name '^ScrVB$' >/dev/null 2>&1; then pass "the second instance is marked ScrVB"; else fail "no ScrVB window"; fi
wine "C:\\windows\\system32\\$saver.scr" /s 2>/dev/null &
third=$!
if wait_for 10 process_gone "$third"; then pass "a third instance exits at once"; else fail "a third instance kept running"; kill "$third"; fi
kill "$first" "$second" 2>/dev/null
wineserver -k >/dev/null 2>&1; sleep 1

# 3. Inputs that end the show, each within 0.5 s.
for input in "key:xdotool key a" "left click:xdotool click 1" "right click:xdotool click 3" \
             "move right:xdotool mousemove_relative -- 5 0" "move left:xdotool mousemove_relative -- -5 0" \
             "move up:xdotool mousemove_relative -- 0 -5" "move down:xdotool mousemove_relative -- 0 5"; do
  seed "SaverEffects=0" "SaverTime=8" "SaverInterval=1"
  xdotool mousemove 320 240
  start_saver || { fail "no first frame"; continue; }
  sleep 0.5
  check_ends "${input%%:*}" ${input#*:}
done
seed "SaverEffects=0" "SaverTime=1" "SaverInterval=1"
xdotool mousemove 320 240
start_saver
sleep 2.5
c=$(centre)
[ "$c" = "FF0000" ] && pass "a slow wipe is under way" || fail "mid-transition centre is $c"
check_ends "a key mid-transition" xdotool key space

# The split scroll with step bases that never finish it, and a slow one: a key still ends the show.
for b in 0 -5 1; do
  seed "SaverEffects=8" "SaverTime=$b" "SaverInterval=1"
  xdotool mousemove 320 240
  start_saver || { fail "no first frame"; continue; }
  wait_for 10 grep -q 'transition start' "$SAVER_LOG" || fail "the split scroll did not start"
  sleep 1
  check_ends "a key during the split scroll with step base $b" xdotool key space
done

# 4. Inputs that must not end it.
seed "SaverEffects=0" "SaverInterval=1" "LeftMouse=False" "RightMouse=False" "Keydown=False" "MoveMouse=True"
xdotool mousemove 320 240
start_saver
xdotool click 2; xdotool click 1; xdotool click 3; xdotool key a; xdotool mousemove_relative -- 40 40
sleep 1.5
if kill -0 "$SAVER" 2>/dev/null && ! grep -q 'unload' "$SAVER_LOG"; then
  pass "switched-off inputs and a middle click leave the show running"
else
  fail "the show ended"
fi

e2e_summary
