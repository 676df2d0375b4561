# Checks shared by the Linux and the Wine end-to-end scripts (sourced by their lib.sh, which
# define pass, fail, screenshot, pixel_at, wait_for and process_gone).
# The colour $1 (RRGGBB) is within $3 (default 12) of $2 on every channel.
near() {
  local got=$1 want=$2 tol=${3:-12}
  [ ${#got} -eq 6 ] || return 1
  for i in 0 2 4; do
    local a=$((16#${got:$i:2})) b=$((16#${want:$i:2}))
    [ $(( a > b ? a - b : b - a )) -le "$tol" ] || return 1
  done
}

# check_points <label> x y RRGGBB [x y RRGGBB ...]: one screenshot, colours at points.
check_points() {
  local label=$1; shift
  screenshot "$E2E_TMP/points.png"
  while [ $# -gt 0 ]; do
    local x=$1 y=$2 want=$3; shift 3
    local got; got=$(pixel_at "$E2E_TMP/points.png" "$x" "$y")
    if near "$got" "$want"; then pass "$label: $want at $x,$y"; else fail "$label: $x,$y is $got, not $want"; fi
  done
}

# check_ends <what> <command...>: runs the command (an input) and expects the program $SAVER to
# end within 0.5 s, measured from the input to the "exit" line of its trace in $SAVER_LOG.
check_ends() {
  local what=$1; shift
  local t0; t0=$(date +%s%3N)
  "$@"
  if wait_for 5 grep -q 'dazzlebox-trace .* exit' "$SAVER_LOG"; then
    local exit_at; exit_at=$(awk '/dazzlebox-trace .* exit/ {print $2}' "$SAVER_LOG")
    if [ $((exit_at - t0)) -le 500 ]; then pass "$what ends it ($((exit_at - t0)) ms)"
    else fail "$what ended it after $((exit_at - t0)) ms"; fi
  else
    fail "$what did not end it"
  fi
  wait_for 5 process_gone "$SAVER" || kill "$SAVER" 2>/dev/null
}

# Two monitors side by side, 800 x 600 at (0, 0) and 640 x 480 at (800, 0): a nested X server
# with two Xinerama heads (and no RandR, whose single output would hide them), shown on the
# current display, which must be at least 1440 x 600. Exports DISPLAY.
start_two_heads() {
  local host=$DISPLAY
  for n in $(seq 191 240); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then
      DISPLAY=$host Xephyr :$n -screen 800x600 -screen 640x480 +xinerama -extension RANDR \
        -nolisten tcp >/dev/null 2>&1 &
      E2E_PIDS+=("$!")
      export DISPLAY=:$n
      for _ in $(seq 1 50); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
      done
    fi
  done
  echo "could not start Xephyr" >&2
  return 1
}
