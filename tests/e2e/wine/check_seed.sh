#!/usr/bin/env bash
# First /s start with a seed file, under Wine: the registry of the current user receives the
# settings as the key lists say (read back with "wine reg query"), for picture and for movie
# content, and the seed file stays.
# Usage: check_seed.sh <Dazzlebox.scr>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
scr=$(cd "$(dirname "${1:?Dazzlebox.scr}")" && pwd)/$(basename "$1")
trap e2e_cleanup EXIT
new_prefix || exit 1
start_xvfb 800x600 || exit 1

saver="E2E Saver"
cp "$scr" "$SYSDIR/$saver.scr"
mkdir -p "$SYSDIR/DEvOrevi/$saver"
option="HKCU\\Software\\DEvOrevi\\$saver\\Option"

# A seed file with CRLF endings and every key of the lists but "SaverURL" (which then reads as
# "ERROR"). $1 is the content kind.
write_seed() {
  {
    printf '[DM-NOVAPOST]\n'
    printf 'ImageOrSWF=%s\n' "$1"
    printf 'SaverDec=A show of the end-to-end checks\nSaverVer=1.2\nSaverCopy=(c) E2E\n'
    printf 'SaverLogo=logo.bmp\nLeftMouse=True\nRightMouse=True\nMoveMouse=True\nKeydown=True\n'
    printf 'HideMouse=True\nTestSaver=False\nSaverpath=C:\\pictures\nSaverEffects=0 1 2\n'
    printf 'SaverTime=10\nSaverInterval=30\nSaverAudio=\nRestartmusic=Once\nSaverBgSelect= 1 \n'
    printf 'SaverBgColor=4210752\nSaverGradientUP=255\nSaverSort=missing.bmp*\n'
    # INI key names match without regard to case: the movie lists read "SaverBgcolor" and
    # "SaverPath" from the same lines as the slideshow's "SaverBgColor" and "Saverpath".
    printf 'SaverQuality=High\nScaleModes=2\n'
  } | sed 's/$/\r/' > "$SYSDIR/Zirezarev.ini"
}

reset_registry() {
  wine reg delete "HKCU\\Software\\DEvOrevi" /f >/dev/null 2>&1
  wine reg delete "HKCU\\Software\\$saver" /f >/dev/null 2>&1
}

loaded_true() { reg_dump "$option" "$E2E_TMP/poll" && reg_value "$E2E_TMP/poll" Loaded && [ "$REG_VAL" = True ]; }
started_or_seeded() { process_gone "$1" || loaded_true; }

# Starts /s, waits until the program has ended (no window for this content yet) or its window
# has seeded the settings, and leaves the dump of the settings key in $E2E_TMP/option.
run_screen() {
  wine "C:\\windows\\system32\\$saver.scr" /s &
  local pid=$!
  E2E_PIDS+=("$pid")
  wait_for 30 started_or_seeded "$pid"
  reg_dump "$option" "$E2E_TMP/option" || : > "$E2E_TMP/option"
  if process_gone "$pid"; then
    wait "$pid"
    echo "note: the program ended by itself with code $? (no window for this content)"
  else
    sleep 1
    xdotool key Escape
    if wait_for 5 process_gone "$pid"; then
      pass "a key press ended the running show"
    else
      fail "the show did not end within 5 s of a key press"
      kill "$pid" 2>/dev/null
    fi
  fi
}

echo "== picture content"
write_seed True
run_screen
o="$E2E_TMP/option"
expect_value "$o" Option ImageOrSWF True
reg_value "$o" Loaded
loaded=$REG_VAL
case "$loaded" in
  False)
    pass "Loaded = False: the entry list ran, no window seeded"
    expect_absent "$o" Option SaverInterval ;;
  True)
    pass "Loaded = True: the slideshow window seeded its list"
    E2E_KEY=$option
    expect_value "$o" Option "" ""
    for kv in SaverDec="A show of the end-to-end checks" SaverVer=1.2 "SaverCopy=(c) E2E" \
        SaverLogo=logo.bmp SaverURL=ERROR LeftMouse=True RightMouse=True MoveMouse=True \
        KeyDown=True ShowCursor=True TestSaver=False 'SaverPath=C:\pictures' "Effects=0 1 2" \
        SaverTime=10 SaverInterval=30 SaverAudio= Restartmusic=Once SaverBgSelect=1 \
        BackColor=4210752 SaverSort=missing.bmp*; do
      expect_value "$o" Option "${kv%%=*}" "${kv#*=}"
    done
    expect_absent "$o" Option SaverGradientUP
    expect_absent "$o" Option Quality
    E2E_KEY="HKCU\\Software\\$saver"
    reg_dump "$E2E_KEY" "$E2E_TMP/k1" && expect_value "$E2E_TMP/k1" "Software\\$saver" "" ""
    E2E_KEY="HKCU\\Software\\DEvOrevi\\$saver"
    reg_dump "$E2E_KEY" "$E2E_TMP/k2" && expect_value "$E2E_TMP/k2" "Software\\DEvOrevi\\$saver" "" "" ;;
  *) fail "Loaded is \"$loaded\", expected False or True" ;;
esac
[ -f "$SYSDIR/Zirezarev.ini" ] && pass "the seed file is still there" || fail "the seed file was deleted"

echo "== movie content"
reset_registry
write_seed False
run_screen
expect_value "$o" Option ImageOrSWF False
reg_value "$o" Loaded
loaded=$REG_VAL
case "$loaded" in
  False)
    pass "Loaded = False: the entry list ran, no window seeded"
    expect_absent "$o" Option Quality ;;
  True)
    pass "Loaded = True: the movie screen seeded its list"
    for kv in BackColor=4210752 Quality=High ShowCursor=True ScaleModes=2 SaverURL=ERROR \
        Keydown=True; do
      expect_value "$o" Option "${kv%%=*}" "${kv#*=}"
    done
    expect_absent "$o" Option Effects
    reg_dump "HKCU\\Software\\DEvOrevi\\$saver\\File" "$E2E_TMP/file" &&
      expect_value "$E2E_TMP/file" File SaverPath 'C:\pictures' ||
      fail "the file key is missing" ;;
  *) fail "Loaded is \"$loaded\", expected False or True" ;;
esac
[ -f "$SYSDIR/Zirezarev.ini" ] && pass "the seed file is still there" || fail "the seed file was deleted"

e2e_summary
