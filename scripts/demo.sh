#!/usr/bin/env bash
# The main job: builds Dazzlebox, makes the demo content, installs both side by side and runs the
# slideshow: full screen when there is a display (any key, click or mouse move ends it), otherwise
# headless, writing pictures of the show to a folder that it prints.
# Run as root on Debian 12 (it installs what it needs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target dazzlebox make_demo_content headless_show >/dev/null

demo="$root/build/demo"
saver="Dazzlebox Demo"
rm -rf "$demo"
build/release/tools/demo/make_demo_content "$demo/system" "$saver" >/dev/null
cp build/release/src/app/dazzlebox "$demo/system/$saver.scr"
# The demo keeps its settings apart from the user's own store, and starts fresh each time.
export DAZZLEBOX_SETTINGS_FILE="$demo/settings.reg"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "Dazzlebox demo: full screen on $DISPLAY; press a key, click or move the mouse to end it."
  exec "$demo/system/$saver.scr" /s
fi
echo "No display: rendering the show headless."
build/release/tools/headless_show/headless_show "$demo/system" "$saver" "$demo/frames" 8 1280 720 \
  | sed 's/^/Pictures of the show: /'
