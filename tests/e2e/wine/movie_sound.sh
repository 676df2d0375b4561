#!/usr/bin/env bash
# The Windows build's MP3 path under Wine: the movie tool of the MinGW build (MP3 through the
# system's audio compression manager) and of the Linux build (libmpg123) write the mixed sound of
# the same movie, a 440 Hz tone in MP3 as an event sound and as the movie's stream sound; both
# must hold the tone where the movie plays it and agree sample by sample (after the best alignment
# within 50 ms) to at least 40 dB.
# Usage: movie_sound.sh <mingw build dir> [linux build dir, default build/release]
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
exe=$(find "${1:?mingw build dir}" -name dazzlebox-movie.exe -type f | head -1)
native=$(find "${2:-$here/../../../build/release}" -name dazzlebox-movie -type f | head -1)
[ -n "$exe" ] || { echo "no dazzlebox-movie.exe under $1"; exit 2; }
[ -n "$native" ] || { echo "no native dazzlebox-movie beside it"; exit 2; }
trap e2e_cleanup EXIT
new_prefix || exit 1

for name in sound_movie sound_stream_movie; do
  "$native" "$here/../../data/$name.swf" --frames 24 --wav "$E2E_TMP/linux.wav" >/dev/null 2>&1 ||
    fail "$name: the Linux tool could not write its sound"
  wine "$exe" "$(winpath "$here/../../data/$name.swf")" --frames 24 --wav "$(winpath "$E2E_TMP")\\windows.wav" \
    >/dev/null 2>&1 || fail "$name: the Windows tool could not write its sound"

  python3 - "$E2E_TMP/linux.wav" "$E2E_TMP/windows.wav" <<'PY'
import math, struct, sys

def left(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit(f"FAIL: {path} is not a wave file")
    pcm = data[44:]
    s = struct.unpack("<%dh" % (len(pcm) // 2), pcm)
    return s[0::2]

a, b = left(sys.argv[1]), left(sys.argv[2])
ok = True
def check(cond, what):
    global ok
    print(("ok: " if cond else "FAIL: ") + what)
    ok = ok and cond

check(len(a) == len(b) == 88200, f"both hold 2 s of sound ({len(a)} and {len(b)} frames)")
rms = lambda s: math.sqrt(sum(x * x for x in s) / max(1, len(s)))
check(rms(b[2000:20000]) > 3000, f"the Windows build plays the tone (level {rms(b[2000:20000]):.0f})")
# The decoders may differ in their delay: the lag that matches best within 50 ms.
def error(lag, begin, end):
    return sum((x - y) ** 2 for x, y in zip(a[begin:end], b[begin + lag:end + lag]))
best = min(range(-2205, 2206), key=lambda lag: error(lag, 6000, 7000))
window = a[4000:12000]
noise = error(best, 4000, 12000) / len(window)
snr = 10 * math.log10(rms(window) ** 2 / noise) if noise > 0 else 999
check(snr >= 40, f"the two decodes agree to {snr:.1f} dB at a lag of {best} samples")
sys.exit(0 if ok else 1)
PY
  [ $? -eq 0 ] && pass "$name: MP3 decoded alike on both systems" || fail "$name: the MP3 decodes differ"
done
echo "$E2E_PASSES passed, $E2E_FAILS failed"
[ "$E2E_FAILS" -eq 0 ]
