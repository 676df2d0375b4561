#!/usr/bin/env bash
# End-to-end checks of the content maker on Linux: a folder of pictures becomes a saver that shows
# its first picture under Xvfb; a movie becomes a saver that plays; bad content is refused with the
# file named, exit 1, and the output folder left as it was; --xscreensaver lists the saver.
# Usage: pack.sh <native build dir>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
build=$(cd "${1:?build dir}" && pwd)
trap e2e_cleanup EXIT
pack="$build/tools/pack/dazzlebox-pack"
program="$build/src/app/dazzlebox"

E2E_TMP=$(mktemp -d)
pics="$E2E_TMP/My Pictures"
mkdir -p "$pics"
convert -size 200x150 xc:'#FF0000' "BMP3:$pics/photo10.bmp"
convert -size 200x150 xc:'#00FF00' "$pics/photo2.jpg"
convert -size 200x150 xc:'#0000FF' "BMP3:$pics/photo1.bmp"
export DAZZLEBOX_TRACE=1
export DAZZLEBOX_SETTINGS_FILE="$E2E_TMP/settings.reg"
start_xvfb 640x480 || exit 1

# 1. A folder of pictures: natural order, and the show starts on the first of them.
out="$E2E_TMP/out"
if "$pack" --name "Holiday 2026" --pictures "$pics" --interval 2 --effects 0 \
     --background "#808080" --program "$program" --out "$out" > "$E2E_TMP/pack.log" 2>&1; then
  pass "a folder of pictures packs"
else
  fail "pack failed: $(cat "$E2E_TMP/pack.log")"
fi
sort=$(grep '^SaverSort=' "$out/Zirezarev.ini" | tr -d '\r')
[ "$sort" = "SaverSort=photo1.bmp*photo2.jpg*photo10.bmp*" ] && pass "pictures in natural order" \
  || fail "order: $sort"
xdotool mousemove 320 240
log="$E2E_TMP/saver.log"
"$out/Holiday 2026.scr" /s 2> "$log" &
saver=$!
E2E_PIDS+=("$saver")
wait_for 5 grep -q 'first frame' "$log" || fail "no first frame"
# The first step shows the first picture (blue) over the grey background.
shown=""
wait_for 8 bash -c "import -window root '$E2E_TMP/shot.png' 2>/dev/null; \
  convert '$E2E_TMP/shot.png' -format '%[hex:u.p{320,240}]' info: | grep -qi '^0000FF'" \
  && shown=1
[ -n "$shown" ] && pass "the packed saver shows its first picture" || fail "first picture not seen"
c=$(screenshot "$E2E_TMP/shot.png"; pixel_at "$E2E_TMP/shot.png" 5 5)
[ "$c" = "808080" ] && pass "around it the packed background colour" || fail "corner $c"
xdotool key a
wait_for 2 process_gone "$saver" && pass "a key ends the packed show" || fail "still running"

# 2. A movie (the smallest one: an empty stage, one frame).
movie="$E2E_TMP/tiny.swf"
printf 'FWS\x06\x11\0\0\0\0\0\x0c\x01\0\x40\0\0\0' > "$movie"
if "$pack" --name "Film" --movie "$movie" --scale no-scale --quality low \
     --program "$program" --out "$E2E_TMP/film" >/dev/null 2>&1 \
   && [ -f "$E2E_TMP/film/Film.swf" ] && grep -q '^ScaleModes=3' "$E2E_TMP/film/Zirezarev.ini"; then
  pass "a movie packs"
else
  fail "movie pack"
fi

# 3. Bad inputs: named, exit 1, the earlier pack untouched, nothing left beside it.
printf 'not a picture' > "$E2E_TMP/broken.jpg"
printf 'RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x03\0\x01\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x20\0data\0\0\0\0' \
  > "$E2E_TMP/float.wav"
printf 'FWS\x06garbage' > "$E2E_TMP/bad.swf"
cp "$pics/photo2.jpg" "$E2E_TMP/$(printf '\xe6\xbc\xa2').jpg"
before=$(cd "$out" && find . -type f -exec md5sum {} + | sort)
siblings=$(ls -a "$E2E_TMP" | sort)
check_refused() {
  local what=$1 expect=$2
  shift 2
  "$pack" --name "Holiday 2026" "$@" --program "$program" --out "$out" > "$E2E_TMP/bad.log" 2>&1
  local code=$?
  if [ $code -eq 1 ] && grep -q "$expect" "$E2E_TMP/bad.log" \
     && [ "$(cd "$out" && find . -type f -exec md5sum {} + | sort)" = "$before" ] \
     && [ "$(ls -a "$E2E_TMP" | grep -v 'bad.log' | sort)" = "$(echo "$siblings" | grep -v bad.log)" ]; then
    pass "$what is refused (exit 1, named, output as it was)"
  else
    fail "$what: exit $code, $(cat "$E2E_TMP/bad.log")"
  fi
}
check_refused "a picture that does not decode" "broken.jpg" --pictures "$E2E_TMP/broken.jpg"
check_refused "a wave that is not PCM" "float.wav" --pictures "$pics" --music "$E2E_TMP/float.wav"
check_refused "a movie that does not parse" "bad.swf" --movie "$E2E_TMP/bad.swf"
check_refused "a name outside the ANSI code page" "ANSI code page" \
  --pictures "$E2E_TMP/$(printf '\xe6\xbc\xa2').jpg"

# 4. --xscreensaver: the saver under the user's data folder and at the top of the user's list.
export HOME="$E2E_TMP/home" XDG_DATA_HOME="$E2E_TMP/home/.local/share"
mkdir -p "$HOME"
printf 'mode:\t\trandom\nprograms:\t\t\\\n  maze -root \\n\n' > "$HOME/.xscreensaver"
if "$pack" --name "Holiday 2026" --pictures "$pics" --program "$program" --out "$E2E_TMP/x" \
     --xscreensaver >/dev/null 2>&1 \
   && [ -x "$XDG_DATA_HOME/dazzlebox/savers/Holiday 2026/Holiday 2026.scr" ] \
   && grep -q "\"Holiday 2026\" '$XDG_DATA_HOME/dazzlebox/savers/Holiday 2026/Holiday 2026.scr' -root" \
        "$HOME/.xscreensaver" \
   && grep -q 'maze -root' "$HOME/.xscreensaver"; then
  pass "--xscreensaver installs for the user and lists it"
else
  fail "--xscreensaver: $(cat "$HOME/.xscreensaver")"
fi

e2e_summary
