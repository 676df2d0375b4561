#!/usr/bin/env bash
# Timing of the Linux slideshow under Xvfb at 1920 x 1080 (or TIMING_SIZE) with 6000 x 4000 JPEG pictures, from the
# program's own timestamped trace lines:
#   - program start to the first frame on screen;
#   - each step's timer tick to the start of its transition;
#   - the worst time between two displayed frames during each transition (60 Hz: 16.7 ms).
# Usage: timing.sh <native build dir (release)> [seconds]
# TIMING_SIZE=3840x2160 measures at another screen size; DAZZLEBOX_NO_SHM=1 sends the frames over
# the socket instead of through shared memory.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tests/e2e/linux/lib.sh"
build=$(cd "${1:?build dir}" && pwd)
seconds=${2:-25}
trap e2e_cleanup EXIT
E2E_TMP=$(mktemp -d)
sys="$E2E_TMP/sys"
content="$sys/DEvOrevi/Timing"
mkdir -p "$content"
cp "$build/src/app/dazzlebox" "$sys/Timing.scr"
# TIMING_PICTURES=<folder> keeps the three pictures there between runs (they take a while to make).
for i in 1 2 3; do
  if [ -n "${TIMING_PICTURES:-}" ] && [ -f "$TIMING_PICTURES/big$i.jpg" ]; then
    cp "$TIMING_PICTURES/big$i.jpg" "$content/" && continue
  fi
  convert -size 6000x4000 "plasma:fractal" -seed $i -quality 90 "$content/big$i.jpg" 2>/dev/null ||
    convert -size 6000x4000 "gradient:red-blue" -quality 90 "$content/big$i.jpg"
  [ -n "${TIMING_PICTURES:-}" ] && mkdir -p "$TIMING_PICTURES" && cp "$content/big$i.jpg" "$TIMING_PICTURES/"
done
printf '[DM-NOVAPOST]\r\nImageOrSWF=True\r\nTestSaver=False\r\nSaverSort=big1.jpg*big2.jpg*big3.jpg*\r\nSaverEffects=0 10 17 18\r\nSaverTime=40\r\nSaverInterval=2\r\nSaverBgSelect=2\r\nSaverGradientUP=255\r\nSaverGradientDown=16711680\r\nSaverGradientAngle=315\r\nHideMouse=False\r\nMoveMouse=True\r\n' > "$sys/Zirezarev.ini"
start_xvfb "${TIMING_SIZE:-1920x1080}" || exit 1
export DAZZLEBOX_TRACE=1 DAZZLEBOX_SETTINGS_FILE="$E2E_TMP/settings.reg"
# A first run seeds the store and warms the file cache; the measured run starts seeded.
timeout 3 "$sys/Timing.scr" /s 2>/dev/null
timeout "$seconds" "$sys/Timing.scr" /s 2> "$E2E_TMP/trace.log"
[ -n "${TIMING_RAW:-}" ] && head -n 8 "$E2E_TMP/trace.log"
awk '
  $1 == "dazzlebox-trace" { t = $2; $1 = ""; $2 = ""; sub(/^  /, ""); what = $0 }
  what == "start" { start = t }
  what == "first frame" { printf "start to first frame: %d ms\n", t - start }
  what == "step" { tick = t }
  what == "transition start" { printf "step tick to transition start: %d ms\n", t - tick }
  what ~ /^transition .* end/ { print what }
' "$E2E_TMP/trace.log"
