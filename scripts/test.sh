#!/usr/bin/env bash
# Builds every preset and runs every test: unit tests natively, optimised (with one short run of
# each benchmark) and under ASan+UBSan, the Windows build (with its unit tests under Wine), the
# fuzz targets for a short run, and the end-to-end checks of both builds under Xvfb (and Wine).
# Run as root on Debian 12; installs what it needs.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
bash scripts/install-deps.sh || exit 1

status=0
start=$(date +%s)
# Each step says when it starts, so that a slow step shows in the log.
step() { echo; echo "=== $* [$(date +%T), $(($(date +%s) - start)) s in]"; }
run() { "$@" || { echo "FAILED: $*"; status=1; }; }

step "house rules: formatting and the include graph between folders"
run bash -c 'find src tests tools bench fuzz \( -name "*.h" -o -name "*.cpp" \) -print0 | xargs -0 clang-format --dry-run -Werror'
run python3 scripts/check-includes.py

step "native build (release preset): unit tests, and each benchmark once, briefly"
# One native build serves the unit tests, the benchmarks, the conformance corpus, clang-tidy, the
# end-to-end checks and the package; assertions are checked by the sanitizer build below.
run cmake --preset release >/dev/null
run cmake --build --preset release -j2
run ctest --preset release -j2
# One short pass over one size of each benchmark, so that they keep building and running.
run build/release/bench/effects/effects_bench --benchmark_min_time=0.01 \
  --benchmark_filter='BM_Memcpy/1920|BM_Effect/(0|4|5|8|9|10|16|17)/1920|BM_Gradient/315/1920'
for b in $(find build/release/bench -type f -perm -u+x -name '*bench*' ! -name effects_bench | sort); do
  run "$b" --benchmark_min_time=0.01
done

step "SWF conformance corpus through dazzlebox-movie (when the corpus is beside the repository)"
if [ -d ../shared/swf-conformance ]; then
  run python3 scripts/conformance.py ../shared/swf-conformance \
    --tool build/release/tools/movie/dazzlebox-movie -j2 --timeout 20
else
  echo "no corpus at ../shared/swf-conformance: skipped"
fi

step "clang-tidy over the sources and tools (.clang-tidy)"
run run-clang-tidy -j2 -quiet -p build/release "^$root/(src|tools)/"

step "unit tests under AddressSanitizer + UndefinedBehaviorSanitizer, with assertions"
# The same build has the fuzz targets, run further down.
run cmake --preset asan >/dev/null
run cmake --build --preset asan -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run ctest --preset asan -j2

step "tests that use threads under ThreadSanitizer (the picture cache's worker, the side thread)"
run cmake --preset tsan >/dev/null
run cmake --build --preset tsan -j2 --target picture_cache_tests core_tests
run ctest --preset tsan -j2

step "Windows build (MinGW-w64) and its unit tests under Wine"
run cmake --preset mingw >/dev/null
run cmake --build --preset mingw -j2
run ctest --test-dir build/mingw --output-on-failure

step "fuzz targets: the movie player and the script runtime for 60 seconds each, the other parsers for 10, two at a time"
# The fuzzers of the sanitizer build, with assertions on; their corpora and logs in $fz.
fz=build/asan/fuzz-runs
mkdir -p "$fz"
# The conformance corpus beside the repository, when it is there: its movies seed the movie
# player's fuzzers.
if [ -d ../shared/swf-conformance ]; then
  mkdir -p "$fz/conformance-seeds"
  find ../shared/swf-conformance -name '*.swf' | while IFS= read -r f; do
    cp "$f" "$fz/conformance-seeds/$(printf '%s' "$f" | md5sum | cut -c1-16).swf"
  done
fi
# One fuzzer: its log in $fz/NAME.log, and $fz/NAME.failed when it found a fault.
fuzz_one() {
  local f=$1 name each corpus
  name=$(basename "$f")
  corpus="$fz/corpus-$name"; mkdir -p "$corpus"
  local seeds=()
  [ -d "fuzz/seeds/${name#fuzz_}" ] && seeds+=("fuzz/seeds/${name#fuzz_}")
  each=10
  case "$name" in
    *swf*|*avm1*)
      each=60
      seeds+=(tests/data/swf/parse)
      [ -d "$fz/conformance-seeds" ] && seeds+=("$fz/conformance-seeds")
      # Inputs the fuzzers once found faults with, kept so that they stay fixed.
      seeds+=(fuzz/seeds/swf_sound fuzz/seeds/swf_found) ;;
  esac
  rm -f "$fz/$name.failed"
  echo "-- $name for ${each}s"
  "$f" -max_total_time=$each -print_final_stats=1 "$corpus" "${seeds[@]}" > "$fz/$name.log" 2>&1 ||
    touch "$fz/$name.failed"
}
# The two long runs first; each fuzzer takes one core.
fuzzers=$(find build/asan/fuzz -type f -name '*fuzz*' -perm -u+x ! -name '*.so' ! -name '*.a' 2>/dev/null |
  awk '{ print (/swf|avm1/ ? 0 : 1), $0 }' | sort | cut -d' ' -f2-)
[ -n "$fuzzers" ] || { echo "FAILED: no fuzz targets in build/asan/fuzz"; status=1; }
for f in $fuzzers; do
  fuzz_one "$f" &
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n; done
done
wait
for f in $fuzzers; do
  name=$(basename "$f")
  if [ -e "$fz/$name.failed" ]; then
    tail -n 30 "$fz/$name.log"; echo "FAILED: $name"; status=1
  else
    echo "$name: $(grep -E 'stat::number_of_executed_units' "$fz/$name.log" || echo 'no statistics')"
  fi
done

step "end-to-end: Linux build under Xvfb"
for s in tests/e2e/linux/*.sh; do
  [ "$(basename "$s")" = lib.sh ] && continue
  run bash "$s" build/release
done

step "end-to-end: Windows build under Wine + Xvfb"
run bash tests/e2e/wine/run_all.sh build/mingw
for s in tests/e2e/wine/*.sh; do
  case "$(basename "$s")" in lib.sh|run_all.sh|check_*.sh) continue ;; esac
  run bash "$s" build/mingw
done

step "Linux package: the .deb of the release build, installed, run and removed"
if deb=$(bash scripts/package-deb.sh build/release); then
  run bash tests/e2e/package/deb.sh "$deb"
else
  echo "FAILED: scripts/package-deb.sh"; status=1
fi

echo
echo "($(($(date +%s) - start)) s in all)"
if [ $status -eq 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit $status
