# Shared helpers of the Wine end-to-end checks: a private Wine prefix and Xvfb display per run,
# registry queries, screenshots and waiting.
set -u

E2E_FAILS=0
E2E_PASSES=0
pass() { echo "ok: $*"; E2E_PASSES=$((E2E_PASSES + 1)); }
fail() { echo "FAIL: $*"; E2E_FAILS=$((E2E_FAILS + 1)); }

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Xvfb runs no window manager. Wine's default managed mode waits up to 2 s for one to acknowledge
# that a full-screen window went away, which would delay the end of every program by that much.
prefix_without_window_manager() {
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

# A fresh prefix in a temporary folder (the registry starts empty of our keys), booted once.
new_prefix() {
  E2E_TMP=$(mktemp -d /tmp/dbx-wine-e2e.XXXXXX)
  export WINEPREFIX="$E2E_TMP/prefix"
  wineboot -i >/dev/null 2>&1
  prefix_without_window_manager
  wineserver -w
  SYSDIR="$WINEPREFIX/drive_c/windows/system32"
  [ -d "$SYSDIR" ] || { echo "could not create a Wine prefix" >&2; return 1; }
}

# Starts Xvfb on a free display number and exports DISPLAY.
start_xvfb() {
  local size=${1:-1024x768}
  for n in $(seq 141 190); do
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
  # Ends every Wine process of our own prefix only.
  [ -n "${WINEPREFIX:-}" ] && [ -n "${E2E_TMP:-}" ] && wineserver -k >/dev/null 2>&1
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  [ -n "${E2E_TMP:-}" ] && [ -z "${KEEP_E2E_TMP:-}" ] && rm -rf "$E2E_TMP"
  return 0
}

# The Windows form of a Unix path (through the Z: drive that maps /).
winpath() { printf 'Z:%s' "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr / '\\'; }

# Dumps a registry key into file $2 ("wine reg query" text, CR removed). Fails when it is absent.
reg_dump() { wine reg query "$1" 2>/dev/null | tr -d '\r' > "$2" && grep -q REG_ "$2"; }

# Looks up value $2 (matched without regard to case; "" is the default value) in dump file $1:
# sets REG_TYPE and REG_VAL, fails when the value is absent.
reg_value() {
  local line
  REG_TYPE=""
  REG_VAL=""
  line=$(awk -v want="$2" 'BEGIN { FS = "    " }
    { name = $2; if (name == "(Default)") name = "" }
    NF >= 3 && tolower(name) == tolower(want) {
      value = $4; for (i = 5; i <= NF; i++) value = value FS $i
      print $3 "\t" value; exit }' "$1")
  [ -n "$line" ] || return 1
  REG_TYPE=${line%%$'\t'*}
  REG_VAL=${line#*$'\t'}
}

# True when value $2 of key $1 (HKCU\...) is stored in the prefix's registry file as a REG_SZ
# of no bytes or the empty text. Wine's "reg query" prints such a value with stale bytes of the
# value listed before it, so empty texts are checked in the file (saved when the server exits).
stored_empty() {
  wineserver -w
  local section
  section=$(printf '%s' "${1#HKCU\\}" | sed 's/\\/\\\\/g')
  SECTION="[$section]" WANT="$2" awk '
    BEGIN { section = ENVIRON["SECTION"]; want = ENVIRON["WANT"] }
    index($0, "[") == 1 { inside = (tolower(substr($0, 1, length(section))) == tolower(section) &&
                                   substr($0, length(section) + 1, 1) == " ") ; next }
    inside {
      n = index($0, "=")
      name = substr($0, 1, n - 1); value = substr($0, n + 1)
      if (name == "@") name = "\"\""
      if (tolower(name) == tolower("\"" want "\"") && (value == "hex(1):" || value == "\"\"")) found = 1
    }
    END { exit !found }' "$WINEPREFIX/user.reg"
}

# Checks that value $3 of dump $1 (key named $2 in messages, its path in $E2E_KEY when the
# expected text is empty) is the REG_SZ text $4.
expect_value() {
  if reg_value "$1" "$3"; then
    if [ -z "$4" ] && [ "$REG_TYPE" = REG_SZ ]; then
      if stored_empty "$E2E_KEY" "$3"; then
        pass "$2 \"$3\" = \"\" (checked in user.reg)"
      else
        fail "$2 \"$3\" is not stored as an empty REG_SZ"
      fi
    elif [ "$REG_TYPE" = REG_SZ ] && [ "$REG_VAL" = "$4" ]; then
      pass "$2 \"$3\" = \"$4\""
    else
      fail "$2 \"$3\" is $REG_TYPE \"$REG_VAL\", expected REG_SZ \"$4\""
    fi
  else
    fail "$2 \"$3\" is absent, expected \"$4\""
  fi
}

expect_absent() {
  if reg_value "$1" "$3"; then
    fail "$2 \"$3\" exists, expected none"
  else
    pass "$2 \"$3\" absent"
  fi
}

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

# Milliseconds since the epoch.
now_ms() { date +%s%3N; }

e2e_summary() {
  echo "$E2E_PASSES passed, $E2E_FAILS failed"
  [ "$E2E_FAILS" -eq 0 ]
}

. "$(dirname "${BASH_SOURCE[0]}")/../common.sh"
