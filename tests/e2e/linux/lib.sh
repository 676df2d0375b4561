# Shared helpers of the Linux end-to-end checks: a private Xvfb, screenshots, pixels, waiting.
set -u

E2E_FAILS=0
E2E_PASSES=0
pass() { echo "ok: $*"; E2E_PASSES=$((E2E_PASSES + 1)); }
fail() { echo "FAIL: $*"; E2E_FAILS=$((E2E_FAILS + 1)); }

# Starts Xvfb on a free display number and exports DISPLAY; stopped by e2e_cleanup.
start_xvfb() {
  local size=${1:-1024x768}
  for n in $(seq 91 140); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then
      Xvfb :$n -screen 0 ${size}x24 -nolisten tcp >/dev/null 2>&1 &
      XVFB_PID=$!
      export DISPLAY=:$n
      for _ in $(seq 1 50); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
      done
    fi
  done
  echo "could not start Xvfb" >&2
  return 1
}

E2E_PIDS=()
e2e_cleanup() {
  for p in "${E2E_PIDS[@]}"; do kill "$p" 2>/dev/null; done
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  [ -n "${E2E_TMP:-}" ] && rm -rf "$E2E_TMP"
  return 0
}

# Screenshot of the whole display into $1 (PNG).
screenshot() { import -window root "$1" 2>/dev/null; }

# The colour at x, y of a picture as six hex digits (RRGGBB).
pixel_at() {
  convert "$1" -format "%[hex:u.p{$2,$3}]" info: 2>/dev/null | tr 'a-f' 'A-F' | cut -c1-6
}

# Waits up to $1 seconds for the command in the remaining arguments to succeed.
wait_for() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  while [ $SECONDS -le $end ]; do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

process_gone() { ! kill -0 "$1" 2>/dev/null; }

e2e_summary() {
  echo "$E2E_PASSES passed, $E2E_FAILS failed"
  [ "$E2E_FAILS" -eq 0 ]
}

. "$(dirname "${BASH_SOURCE[0]}")/../common.sh"
