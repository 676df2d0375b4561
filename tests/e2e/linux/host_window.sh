#!/usr/bin/env bash
# The show inside a window it is given (xscreensaver's -window-id and $XSCREENSAVER_WINDOW): it
# fills the window, follows it when the window is resized, and ends with it.
# Usage: host_window.sh <native build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
build=$(cd "${1:?build dir}" && pwd)
trap e2e_cleanup EXIT

E2E_TMP=$(mktemp -d)
sys="$E2E_TMP/sys"
content="$sys/DEvOrevi/E2E Host"
mkdir -p "$content"
cp "$build/src/app/dazzlebox" "$sys/E2E Host.scr"
convert -size 100x80 xc:'#FF0000' "BMP3:$content/red.bmp"
printf '[DM-NOVAPOST]\r\nImageOrSWF=True\r\nTestSaver=False\r\nSaverSort=red.bmp*red.bmp*\r\nSaverEffects=0\r\nSaverTime=400\r\nSaverInterval=1\r\nSaverBgSelect=1\r\nSaverBgColor=8421504\r\nHideMouse=False\r\n' \
  > "$sys/Zirezarev.ini"
export DAZZLEBOX_TRACE=1 DAZZLEBOX_SETTINGS_FILE="$E2E_TMP/settings.reg"
start_xvfb 800x600 || exit 1

# The host: 300 x 200 at (50, 40).
"$build/tests/e2e/linux/x11_host" 300 200 50 40 > "$E2E_TMP/host.out" &
host=$!
E2E_PIDS+=("$host")
wait_for 5 test -s "$E2E_TMP/host.out" || fail "host window did not start"
hostid=$(head -n1 "$E2E_TMP/host.out")

for how in "option" "environment"; do
  log="$E2E_TMP/$how.log"
  if [ "$how" = option ]; then
    "$sys/E2E Host.scr" -window-id "$hostid" 2> "$log" &
  else
    XSCREENSAVER_WINDOW=$(printf '0x%x' "$hostid") "$sys/E2E Host.scr" 2> "$log" &
  fi
  saver=$!
  E2E_PIDS+=("$saver")
  xdotool windowsize "$hostid" 300 200
  wait_for 5 grep -q 'child 0 0 300 200 viewable' "$E2E_TMP/host.out" &&
    pass "$how: fills the 300x200 host" || fail "$how: does not fill the host"
  wait_for 5 grep -q 'transition .* end' "$log" || fail "$how: no step was shown"
  # Picture centred in 300 x 200: red at the centre (200, 140), grey in the corners.
  check_points "$how, 300x200" 200 140 FF0000 52 42 808080 347 237 808080

  xdotool windowsize "$hostid" 500 400
  wait_for 5 grep -q 'child 0 0 500 400 viewable' "$E2E_TMP/host.out" &&
    pass "$how: follows the host to 500x400" || fail "$how: still $(tail -n1 "$E2E_TMP/host.out")"
  # The next step composes the picture for the new size: centred at (300, 240).
  steps=$(grep -c 'transition .* end' "$log")
  more_steps() { [ "$(grep -c 'transition .* end' "$log")" -gt "$steps" ]; }
  wait_for 5 more_steps || fail "$how: no step after the resize"
  check_points "$how, 500x400" 300 240 FF0000 52 42 808080 547 437 808080 200 140 808080

  kill -TERM "$saver"
  wait_for 3 process_gone "$saver" && pass "$how: SIGTERM ends it" || fail "$how: SIGTERM did not end it"
done

# The host going away takes the show with it.
"$sys/E2E Host.scr" -window-id "$hostid" 2> /dev/null &
saver=$!
E2E_PIDS+=("$saver")
wait_for 5 grep -q 'viewable' "$E2E_TMP/host.out"
sleep 0.5
kill "$host"
wait_for 3 process_gone "$saver" && pass "the show ends with its host" || fail "the show outlived its host"

e2e_summary
