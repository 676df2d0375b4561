#!/usr/bin/env bash
# The content maker for Windows under Wine: the Windows dazzlebox-pack.exe packs a folder of
# pictures; the setup program built here installs a packed saver silently into the system
# directory, the installed saver shows its first picture with /s, and the silent uninstall removes
# exactly what was installed.
# Usage: installer.sh <mingw build dir> [<native build dir>, default: build/release beside it]
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
mingw=$(cd "${1:?mingw build dir}" && pwd)
native=$(cd "${2:-$mingw/../release}" && pwd)
scr="$mingw/src/app/Dazzlebox.scr"
packexe="$mingw/tools/pack/dazzlebox-pack.exe"
pack="$native/tools/pack/dazzlebox-pack"
for f in "$scr" "$packexe" "$pack"; do [ -f "$f" ] || { echo "missing $f"; exit 2; }; done
command -v makensis >/dev/null || { echo "makensis missing (package nsis)"; exit 2; }
trap e2e_cleanup EXIT
new_prefix || exit 1
start_xvfb 640x480 || exit 1
export DAZZLEBOX_TRACE=1

pics="$E2E_TMP/pictures"
mkdir -p "$pics"
convert -size 200x150 xc:'#0000FF' "BMP3:$pics/photo1.bmp"
convert -size 200x150 xc:'#00FF00' "BMP3:$pics/photo2.bmp"
convert -size 200x150 xc:'#FF0000' "BMP3:$pics/caf$(printf '\xc3\xa9').bmp"

# 1. The Windows content maker itself: the seed file in the ANSI code page.
if wine "$packexe" --name "Win Pack" --pictures "$(winpath "$pics")" \
     --program "$(winpath "$scr")" --out "$(winpath "$E2E_TMP")\\winpack" \
     > "$E2E_TMP/winpack.log" 2>&1 \
   && [ -f "$E2E_TMP/winpack/Win Pack.scr" ] \
   && grep -qa "SaverSort=caf$(printf '\xe9').bmp\*photo1.bmp\*photo2.bmp\*" "$E2E_TMP/winpack/Zirezarev.ini"; then
  pass "dazzlebox-pack.exe packs under Wine, seed file in the ANSI code page"
else
  fail "dazzlebox-pack.exe: $(tr -d '\r' < "$E2E_TMP/winpack.log")"
fi
rm "$pics/caf"*.bmp

# 2. The setup program, built here with makensis.
saver="Holiday 2026"
if "$pack" --name "$saver" --pictures "$pics" --interval 2 --effects 0 --background "#808080" \
     --program "$scr" --out "$E2E_TMP/out" --installer > "$E2E_TMP/pack.log" 2>&1 \
   && [ -f "$E2E_TMP/out/$saver Setup.exe" ]; then
  pass "the setup program is built"
else
  fail "no setup program: $(cat "$E2E_TMP/pack.log")"
fi

installed=("$SYSDIR/$saver.scr" "$SYSDIR/Zirezarev.ini" "$SYSDIR/DEvOrevi/$saver/photo1.bmp"
           "$SYSDIR/DEvOrevi/$saver/photo2.bmp")
uninst="$WINEPREFIX/drive_c/Program Files/Dazzlebox/$saver/Uninstall.exe"
wine "$E2E_TMP/out/$saver Setup.exe" /S >/dev/null 2>&1
wineserver -w
all=1
for f in "${installed[@]}" "$uninst"; do [ -f "$f" ] || { all=""; echo "missing: $f"; }; done
[ -n "$all" ] && pass "silent install puts the saver, seed file and content in the system directory" \
  || fail "silent install"
if wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Dazzlebox $saver" \
     /v UninstallString >/dev/null 2>&1; then
  pass "the uninstaller is registered"
else
  fail "no uninstall entry"
fi

# 3. The installed saver runs: its first picture over the packed background.
xdotool mousemove 320 240
log="$E2E_TMP/saver.log"
wine "C:\\windows\\system32\\$saver.scr" /s 2> "$log" &
E2E_PIDS+=($!)
if wait_for 30 grep -q 'first frame' "$log" \
   && wait_for 15 bash -c "import -window root '$E2E_TMP/shot.png' 2>/dev/null; \
        convert '$E2E_TMP/shot.png' -format '%[hex:u.p{320,240}]' info: | grep -qi '^0000FF'"; then
  pass "the installed saver shows its first picture with /s"
else
  fail "the installed saver did not show its first picture"
fi
xdotool key a
wait_for 10 bash -c "! grep -q . <(pgrep -f '$saver.scr')" || true
wineserver -k >/dev/null 2>&1
wineserver -w

# 4. The silent uninstall removes exactly what was installed; other files stay.
echo keep > "$SYSDIR/DEvOrevi/other.txt"
wine "$uninst" /S >/dev/null 2>&1
wineserver -w
left=""
for f in "${installed[@]}" "$uninst"; do [ -e "$f" ] && left="$left $f"; done
[ -d "$SYSDIR/DEvOrevi/$saver" ] && left="$left content-folder"
if [ -z "$left" ] && [ -f "$SYSDIR/DEvOrevi/other.txt" ]; then
  pass "silent uninstall removes exactly what was installed"
else
  fail "after uninstall:$left"
fi

e2e_summary
