#!/usr/bin/env bash
# The Debian package round trip: install it, the programs answer, the demo saver that xscreensaver
# starts draws its show under Xvfb, and removing the package leaves nothing of it behind.
# Usage: deb.sh <package.deb>   (as root)
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../linux/lib.sh"
deb=$(cd "$(dirname "${1:?package}")" && pwd)/$(basename "$1")
trap 'dpkg -r dazzlebox >/dev/null 2>&1; e2e_cleanup' EXIT
E2E_TMP=$(mktemp -d)

dpkg -r dazzlebox >/dev/null 2>&1
if dpkg -i "$deb" > "$E2E_TMP/dpkg.log" 2>&1; then pass "dpkg -i installs the package"; else
  fail "dpkg -i: $(tail -5 "$E2E_TMP/dpkg.log")"; fi
files=$(dpkg -L dazzlebox)
for f in /usr/libexec/xscreensaver/dazzlebox /usr/bin/dazzlebox /usr/bin/nudger \
         /usr/bin/dazzlebox-render /usr/bin/dazzlebox-pack /usr/libexec/xscreensaver/dazzlebox-demo \
         /usr/share/xscreensaver/config/dazzlebox-demo.xml /usr/share/man/man6/dazzlebox.6.gz \
         /usr/share/man/man1/dazzlebox-pack.1.gz "/usr/share/dazzlebox/demo/Zirezarev.ini"; do
  [ -e "$f" ] || missing="${missing:-} $f"
done
[ -z "${missing:-}" ] && pass "programs, man pages, the xscreensaver entry and the demo content are in place" \
  || fail "missing:$missing"
v=$(dazzlebox --version 2>&1)
case "$v" in *[0-9].[0-9]*) pass "dazzlebox --version: $v" ;; *) fail "dazzlebox --version: $v" ;; esac
man -w dazzlebox-pack >/dev/null 2>&1 || [ -f /usr/share/man/man1/dazzlebox-pack.1.gz ] \
  && pass "man page of dazzlebox-pack" || fail "no man page"

# The demo saver as xscreensaver starts it, in the root window of a private X server.
start_xvfb 640x480 || exit 1
export DAZZLEBOX_TRACE=1 DAZZLEBOX_SETTINGS_FILE="$E2E_TMP/settings.reg"
/usr/libexec/xscreensaver/dazzlebox-demo -root 2> "$E2E_TMP/demo.log" &
demo=$!
E2E_PIDS+=("$demo")
if wait_for 10 grep -q 'first frame' "$E2E_TMP/demo.log" && sleep 1 \
   && screenshot "$E2E_TMP/shot.png" && c=$(pixel_at "$E2E_TMP/shot.png" 320 240) \
   && [ -n "$c" ] && [ "$c" != "000000" ]; then
  pass "the demo saver draws its show (centre $c)"
else
  fail "the demo saver: $(tail -3 "$E2E_TMP/demo.log")"
fi
kill -TERM "$demo" 2>/dev/null
wait_for 3 process_gone "$demo" && pass "the demo saver ends on SIGTERM" || fail "still running"

# dazzlebox-pack finds the installed program.
mkdir -p "$E2E_TMP/pics"
convert -size 64x48 xc:'#336699' "BMP3:$E2E_TMP/pics/a.bmp"
if dazzlebox-pack --name Mine --pictures "$E2E_TMP/pics" --out "$E2E_TMP/mine" >/dev/null 2>&1 \
   && cmp -s "$E2E_TMP/mine/Mine.scr" /usr/libexec/xscreensaver/dazzlebox; then
  pass "the installed dazzlebox-pack packs the installed program"
else
  fail "dazzlebox-pack after install"
fi

dpkg -r dazzlebox > "$E2E_TMP/dpkg.log" 2>&1 || fail "dpkg -r"
left=""
for f in $files; do
  [ -f "$f" ] || [ -L "$f" ] && left="$left $f"
done
[ -e /usr/share/dazzlebox ] && left="$left /usr/share/dazzlebox"
[ -e /usr/bin/dazzlebox ] && left="$left /usr/bin/dazzlebox"
[ -z "$left" ] && pass "dpkg -r removes it cleanly" || fail "left after removal:$left"
e2e_summary
