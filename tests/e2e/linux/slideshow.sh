#!/usr/bin/env bash
# End-to-end checks of the Linux slideshow under Xvfb: the picture sequence on screen, the inputs
# that end the show (and the ones that must not), the single-instance mark, and how fast it ends.
# Usage: slideshow.sh <native build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
build=$(cd "${1:?build dir}" && pwd)
trap e2e_cleanup EXIT

E2E_TMP=$(mktemp -d)
sys="$E2E_TMP/sys"
content="$sys/DEvOrevi/E2E Show"
mkdir -p "$content"
cp "$build/src/app/dazzlebox" "$sys/E2E Show.scr"
convert -size 200x150 xc:'#FF0000' "BMP3:$content/red.bmp"
convert -size 200x150 xc:'#00FF00' "BMP3:$content/green.bmp"
convert -size 200x150 xc:'#0000FF' "BMP3:$content/blue.bmp"
export DAZZLEBOX_TRACE=1
start_xvfb 640x480 || exit 1

# Writes the seed file and forgets earlier settings. Extra lines override the defaults.
seed() {
  rm -f "$E2E_TMP"/settings*.reg
  export DAZZLEBOX_SETTINGS_FILE="$E2E_TMP/settings-$RANDOM.reg"
  local defaults=(ImageOrSWF=True TestSaver=False SaverSort=red.bmp*green.bmp*blue.bmp*
                  SaverBgSelect=1 SaverBgColor=8421504 HideMouse=False LeftMouse=True
                  RightMouse=True MoveMouse=False Keydown=True)
  {
    printf '[DM-NOVAPOST]\r\n'
    # The reader takes the first of two equal keys: overrides go first.
    for line in "$@" "${defaults[@]}"; do printf '%s\r\n' "$line"; done
  } > "$sys/Zirezarev.ini"
}

# Starts the saver with /s; sets SAVER and SAVER_LOG; waits for its first frame.
start_saver() {
  SAVER_LOG="$E2E_TMP/saver-$RANDOM.log"
  : > "$SAVER_LOG"
  "$sys/E2E Show.scr" /s 2> "$SAVER_LOG" &
  SAVER=$!
  E2E_PIDS+=("$SAVER")
  wait_for 5 grep -q 'first frame' "$SAVER_LOG"
}

centre() {
  screenshot "$E2E_TMP/shot.png"
  pixel_at "$E2E_TMP/shot.png" 320 240
}

# 1. What the screen shows: the background, then each picture in turn, wrapping.
seed "SaverEffects=0" "SaverTime=8" "SaverInterval=1"
xdotool mousemove 320 240
start_saver || fail "no first frame"
seen=""
last=""
end=$((SECONDS + 9))
while [ $SECONDS -lt $end ]; do
  c=$(centre)
  if [ -n "$c" ] && [ "$c" != "$last" ]; then seen="$seen $c"; last=$c; fi
  sleep 0.05
done
screenshot "$E2E_TMP/cover.png"
corners="$(pixel_at "$E2E_TMP/cover.png" 0 0) $(pixel_at "$E2E_TMP/cover.png" 639 479)"
kill "$SAVER" 2>/dev/null; wait "$SAVER" 2>/dev/null
echo "centre colours seen:$seen"
expected="808080 FF0000 00FF00 0000FF FF0000 00FF00"
case " $seen " in
  *" ${expected// / } "*) pass "background, then red, green, blue, and back to red and green" ;;
  *) fail "sequence was:$seen (wanted $expected)" ;;
esac
[ "$corners" = "808080 808080" ] && pass "the window covers the screen" || fail "corners: $corners"

# 2. Inputs that end the show, each within 0.5 s, and give the pointer back.
seed "SaverEffects=0" "SaverTime=8" "SaverInterval=1"
for input in "key:xdotool key a" "left click:xdotool click 1" "right click:xdotool click 3" \
             "move right:xdotool mousemove_relative -- 5 0" "move left:xdotool mousemove_relative -- -5 0" \
             "move up:xdotool mousemove_relative -- 0 -5" "move down:xdotool mousemove_relative -- 0 5"; do
  xdotool mousemove 320 240
  start_saver || { fail "no first frame"; continue; }
  sleep 0.3
  check_ends "${input%%:*}" ${input#*:}
done

# A key in the middle of a transition (a wipe of about 10 s).
seed "SaverEffects=0" "SaverTime=1" "SaverInterval=1"
start_saver
sleep 2.5
c=$(centre)
[ "$c" = "FF0000" ] && pass "a slow wipe is under way" || fail "mid-transition centre is $c"
check_ends "a key mid-transition" xdotool key space

# A key in the middle of every transition, with step bases that never finish it (0, negative),
# a slow one and a huge one: the show ends within 0.5 s all the same.
mid_transition_key() {
  seed "SaverEffects=$1" "SaverTime=$2" "SaverInterval=1"
  xdotool mousemove 320 240
  start_saver || { fail "no first frame (effect $1, step $2)"; return; }
  wait_for 5 grep -q 'transition start' "$SAVER_LOG" || fail "effect $1 did not start"
  sleep "${3:-0.4}"
  check_ends "a key during effect $1 with step base $2" xdotool key space
}
for e in $(seq 0 18); do mid_transition_key "$e" 0; done
for b in -5 -2147483648 100000; do mid_transition_key 8 "$b"; done
mid_transition_key 8 1 1.5  # well into the first phase: the second would take as long again

# 3. Inputs that must not end it: a middle click, a 1-pixel move, and the inputs the settings
# switch off.
seed "SaverEffects=0" "SaverInterval=1" "LeftMouse=False" "RightMouse=False" "Keydown=False" "MoveMouse=True"
xdotool mousemove 320 240
start_saver
xdotool click 2; xdotool click 1; xdotool click 3; xdotool key a; xdotool mousemove_relative -- 40 40
sleep 1
if kill -0 "$SAVER" 2>/dev/null; then pass "switched-off inputs and a middle click leave the show running"; else fail "the show ended"; fi
kill "$SAVER"; wait "$SAVER" 2>/dev/null
seed "SaverEffects=0" "SaverInterval=1"
xdotool mousemove 320 240
start_saver
xdotool click 2; xdotool mousemove_relative -- 1 0
sleep 1
if kill -0 "$SAVER" 2>/dev/null; then pass "a middle click and a 1-pixel move leave the show running"; else fail "the show ended"; fi

# 4. One instance at a time: a second is marked "ScrVB", a third leaves at once.
first=$SAVER
start_saver
second=$SAVER
if wait_for 3 xdotool search --name '^ScrVB$' >/dev/null 2>&1; then pass "the second instance is marked ScrVB"; else fail "no ScrVB window"; fi
"$sys/E2E Show.scr" /s 2>/dev/null &
third=$!
if wait_for 2 process_gone "$third"; then
  wait "$third"; code=$?
  [ $code -eq 0 ] && pass "a third instance exits at once" || fail "third instance exit code $code"
else
  fail "a third instance kept running"; kill "$third"
fi
kill "$first" "$second" 2>/dev/null
wait_for 3 process_gone "$first"; wait_for 3 process_gone "$second"

# Two savers that are links to one program are two savers: each runs unmarked.
ln -sf "E2E Show.scr" "$sys/Other Show.scr"
start_saver
first=$SAVER
"$sys/Other Show.scr" /s 2>/dev/null &
other=$!
E2E_PIDS+=("$other")
sleep 1.5
if kill -0 "$other" 2>/dev/null && ! xdotool search --name '^ScrVB$' >/dev/null 2>&1; then
  pass "a link under another saver name runs as its own saver"
else
  fail "the linked saver was taken for a second instance"
fi
kill "$first" "$other" 2>/dev/null

e2e_summary
