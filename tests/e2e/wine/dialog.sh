#!/usr/bin/env bash
# The settings dialog under Wine: "/c" opens it with the seeded texts (checked in a screenshot by
# the preview's colour and where the labels' text lies), Esc closes it and ends the process, and
# the registry then holds only what the first-run seeding wrote.
# Usage: dialog.sh <mingw build dir>
# The program is the build's Dazzlebox.scr; DBX_DIALOG_SCR names another build of it.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
build=${1:?usage: dialog.sh <mingw build dir>}
scr=${DBX_DIALOG_SCR:-$(find "$build" -name Dazzlebox.scr -type f 2>/dev/null | head -1)}
[ -n "$scr" ] && [ -f "$scr" ] || { echo "no Dazzlebox.scr under $build" >&2; exit 2; }
trap e2e_cleanup EXIT
new_prefix || exit 1
start_xvfb 800x600 || exit 1

saver="Dialog Saver"
cp "$scr" "$SYSDIR/$saver.scr"
option="HKCU\\Software\\DEvOrevi\\$saver\\Option"
filekey="HKCU\\Software\\DEvOrevi\\$saver\\File"
shots=${DBX_E2E_SHOTS:-$E2E_TMP}
mkdir -p "$shots"

# $1 content kind, $2 the SaverBgcolor line (empty: the key is missing and reads "ERROR").
write_seed() {
  {
    printf '[DM-NOVAPOST]\nImageOrSWF=%s\n' "$1"
    printf 'SaverDec=A long description of the dialog checks, longer than the design text\n'
    printf 'SaverVer=4.5.6\nSaverCopy=(c) The checks of the settings dialog\nSaverLogo=logo.bmp\n'
    printf 'SaverURL=dialog.example.org/a/longer/address\nSaverPath=C:\\movies\nSaverQuality=Best\n'
    printf 'HideMouse=True\nLeftMouse=False\nSaverInterval=5\n'
    [ -n "$2" ] && printf '%s\n' "$2"
  } | sed 's/$/\r/' > "$SYSDIR/Zirezarev.ini"
}

reset_registry() {
  wine reg delete "HKCU\\Software\\DEvOrevi" /f >/dev/null 2>&1
  wine reg delete "HKCU\\Software\\$saver" /f >/dev/null 2>&1
}

# Label rectangles in client pixels (x y w h) from the design table at 15 twips per pixel.
deccap="8 280 369 41"; vercap="320 260 60 13"; website="8 320 209 17"; copycap="8 336 265 17"

dialog_window() { xdotool search --name '^Configure Screensaver$' 2>/dev/null | head -1; }
dialog_up() { [ -n "$(dialog_window)" ]; }

# Finds the client area's top left corner on the screen (CX, CY): the window is the client
# (388 x 361 at 96 dpi) inside a frame of equal width on the left, right and bottom.
client_origin() {
  local id=$1 X Y WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$id")"
  local border=$(((WIDTH - 388) / 2))
  CX=$((X + border))
  CY=$((Y + HEIGHT - 361 - border))
}

# Counts the pixels of rectangle x y w h (client coordinates) of screenshot $1 that are darker
# than the dialog face (text), and the rightmost column that holds one.
text_extent() {
  convert "$1" -crop "$4x$5+$((CX + $2))+$((CY + $3))" +repage -colorspace Gray \
    -threshold 50% -negate txt:- 2>/dev/null |
    awk -F'[,:]' '/#FFFFFF|white/ { n++; if ($1 > right) right = $1 } END { print n + 0, right + 0 }'
}

# Checks one label (shot, name, x y w h in client pixels, limit, "min" or "max"): some text inside
# its rectangle whose rightmost pixel lies at least (min) or at most (max) `limit` pixels from the
# rectangle's left edge. A seeded text is longer than its design text.
expect_text() {
  local count right mode=${8:-min}
  read -r count right < <(text_extent "$1" "$3" "$4" "$5" "$6")
  if [ "$count" -gt 0 ] && { { [ "$mode" = min ] && [ "$right" -ge "$7" ]; } ||
                             { [ "$mode" = max ] && [ "$right" -le "$7" ]; }; }; then
    pass "$2: text in its place, reaching x+$right"
  else
    fail "$2: $count text pixels, rightmost x+$right (expected $mode $7)"
  fi
}

expect_colour() {
  local got
  got=$(pixel_at "$1" $((CX + $3)) $((CY + $4)))
  if [ "$got" = "$5" ]; then pass "$2 at ($3,$4) is $5"; else fail "$2 at ($3,$4) is $got, expected $5"; fi
}

# The value names of a registry dump, sorted, one a line ("" for the default value).
value_names() {
  awk 'BEGIN { FS = "    " } NF >= 3 { n = $2; if (n == "(Default)") n = ""; print n }' "$1" | sort
}

# Runs "/c" on a fresh registry; leaves the screenshot in $shots/$1.png and the dumps of the
# settings and file keys in $E2E_TMP/$1.option and $E2E_TMP/$1.file.
run_dialog() {
  local tag=$1
  reset_registry
  # Exceptions, should there be any, go to the run's log.
  WINEDEBUG=-all,+seh wine "C:\\windows\\system32\\$saver.scr" /c 2>"$E2E_TMP/$tag.log" &
  local pid=$!
  E2E_PIDS+=("$pid")
  if ! wait_for 30 dialog_up; then
    fail "$tag: no window \"Configure Screensaver\" within 30 s"
    kill "$pid" 2>/dev/null
    return 1
  fi
  pass "$tag: the dialog opened"
  sleep 2
  local id
  id=$(dialog_window)
  if [ -z "$id" ] || ! xdotool getwindowgeometry "$id" >/dev/null 2>&1; then
    process_gone "$pid" && { wait "$pid"; echo "note: the program ended with code $?"; }
    fail "$tag: the dialog went away by itself (log: $(tail -c 300 "$E2E_TMP/$tag.log" | tr '\n' ' '))"
    kill "$pid" 2>/dev/null
    return 1
  fi
  client_origin "$id"
  screenshot "$shots/$tag.png"
  reg_dump "$option" "$E2E_TMP/$tag.option" || : > "$E2E_TMP/$tag.option"
  reg_dump "$filekey" "$E2E_TMP/$tag.file" || : > "$E2E_TMP/$tag.file"
  # Checks that need the open dialog (the pointer, the keyboard).
  [ -n "${2:-}" ] && "$2" "$tag" "$pid"
  # One Esc only: a key that arrives while no window of the program has the focus stays queued
  # and would close the next run's dialog.
  xdotool windowfocus "$id" 2>/dev/null
  xdotool key Escape
  if wait_for 10 process_gone "$pid"; then
    pass "$tag: Esc closed the dialog and the process ended"
  else
    fail "$tag: the process still runs 10 s after Esc"
    kill "$pid" 2>/dev/null
  fi
  dialog_up && fail "$tag: the dialog window is still there"
  return 0
}

# The web address is underlined while the pointer is over it: the label's text pixels grow by
# the underline and shrink back when the pointer moves to the bare surface.
hover_check() {
  local before after back
  screenshot "$E2E_TMP/h0.png"
  read -r before _ < <(text_extent "$E2E_TMP/h0.png" $website)
  xdotool mousemove $((CX + 30)) $((CY + 326))
  sleep 0.7
  screenshot "$E2E_TMP/h1.png"
  read -r after _ < <(text_extent "$E2E_TMP/h1.png" $website)
  xdotool mousemove $((CX + 200)) $((CY + 266))
  sleep 0.7
  screenshot "$E2E_TMP/h2.png"
  read -r back _ < <(text_extent "$E2E_TMP/h2.png" $website)
  if [ "$after" -gt $((before + 50)) ] && [ "$back" -eq "$before" ]; then
    pass "$1: the web address is underlined under the pointer only ($before, $after, $back text pixels)"
  else
    fail "$1: text pixels of the web address $before, under the pointer $after, after leaving $back"
  fi
}

# With picture content the first tab stop is "Change SWF": Space opens the file dialog; Esc there
# cancels it and the settings dialog stays open.
file_dialog_up() { xdotool search --name '^Choose a SWF$' >/dev/null 2>&1; }
keyboard_check() {
  xdotool key space
  if wait_for 15 file_dialog_up; then
    pass "$1: Space on the first tab stop opened \"Choose a SWF\""
    sleep 1
    xdotool key Escape
    if wait_for 10 eval '! file_dialog_up' && ! process_gone "$2" && dialog_up; then
      pass "$1: Esc cancelled the file dialog, the settings dialog stays"
    else
      fail "$1: after Esc in the file dialog: file dialog up=$(file_dialog_up && echo y), program gone=$(process_gone "$2" && echo y)"
    fi
  else
    fail "$1: Space did not open the file dialog"
  fi
}

picture_checks() {
  hover_check "$@"
  keyboard_check "$@"
}


echo "== picture content"
write_seed True "SaverBgcolor=255"
if run_dialog picture picture_checks; then
  s="$shots/picture.png"
  expect_colour "$s" "empty preview (RirodIMG)" 20 20 FFFFFF
  expect_colour "$s" "empty preview (RirodIMG)" 380 245 FFFFFF
  # shellcheck disable=SC2086
  {
    expect_text "$s" Deccap $deccap 200
    expect_text "$s" Vercap $vercap 40
    expect_text "$s" Websitecap $website 150
    expect_text "$s" Copycap $copycap 150
  }
  expect_colour "$s" "the logo" 289 329 14286F
  expect_colour "$s" "the bare surface between preview and texts" 200 270 "$(pixel_at "$s" $((CX + 2)) $((CY + 358)))"
  names=$(value_names "$E2E_TMP/picture.option" | tr '\n' ' ')
  want=" ImageOrSWF Loaded SaverCopy SaverDec SaverLogo SaverURL SaverVer "
  [ "$names" = "$want" ] && pass "picture: the settings key holds only the seeded values" ||
    fail "picture: the settings key holds [$names], expected [$want]"
  E2E_KEY=$option
  expect_value "$E2E_TMP/picture.option" Option Loaded True
  expect_value "$E2E_TMP/picture.option" Option SaverDec \
    "A long description of the dialog checks, longer than the design text"
  [ -s "$E2E_TMP/picture.file" ] && fail "picture: a file key exists" || pass "picture: no file key"
  [ -f "$SYSDIR/Zirezarev.ini" ] && pass "picture: the seed file stays" || fail "picture: the seed file is gone"
fi

echo "== movie content (no movie file: the preview shows its background colour)"
write_seed False "SaverBgcolor=255"
if run_dialog movie; then
  s="$shots/movie.png"
  expect_colour "$s" "preview background (colour value 255)" 20 20 FF0000
  expect_colour "$s" "preview background (colour value 255)" 380 245 FF0000
  # shellcheck disable=SC2086
  {
    expect_text "$s" Deccap $deccap 200
    expect_text "$s" Websitecap $website 150
  }
  names=$(value_names "$E2E_TMP/movie.option" | tr '\n' ' ')
  want=" BackColor ImageOrSWF Loaded Quality SaverCopy SaverDec SaverLogo SaverURL SaverVer "
  [ "$names" = "$want" ] && pass "movie: the settings key holds only the seeded values" ||
    fail "movie: the settings key holds [$names], expected [$want]"
  expect_value "$E2E_TMP/movie.option" Option BackColor 255
  expect_value "$E2E_TMP/movie.option" Option Quality Best
  names=$(value_names "$E2E_TMP/movie.file" | tr '\n' ' ')
  [ "$names" = "SaverPath " ] && pass "movie: the file key holds SaverPath only" ||
    fail "movie: the file key holds [$names]"
fi

echo "== movie content whose BackColor reads ERROR: the design texts stay"
write_seed False ""
if run_dialog error; then
  s="$shots/error.png"
  # shellcheck disable=SC2086
  {
    expect_text "$s" "Deccap (design \"Dec:\")" $deccap 40 max
    expect_text "$s" "Websitecap (design \"Label2\")" $website 60 max
  }
  expect_value "$E2E_TMP/error.option" Option BackColor ERROR
fi

echo "== movie content with a movie: the preview plays it"
sample=${DBX_SWF_SAMPLE:-$here/../../data/swf/visual/layers/test.swf}
if [ -f "$sample" ]; then
  cp "$sample" "$SYSDIR/$saver.swf"
  write_seed False "SaverBgcolor=255"
  if run_dialog playing; then
    colours=$(convert "$shots/playing.png" -crop "388x253+$CX+$CY" +repage -unique-colors \
      -format '%w' info: 2>/dev/null)
    [ "${colours:-0}" -gt 2 ] && pass "playing: the preview shows the movie ($colours colours)" ||
      fail "playing: the preview holds ${colours:-no} colours"
  fi
  rm -f "$SYSDIR/$saver.swf"
else
  fail "no sample movie at $sample"
fi

e2e_summary
