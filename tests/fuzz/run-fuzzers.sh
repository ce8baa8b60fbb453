#!/usr/bin/env bash
# Runs every fuzz target of a sanitizer build for a fixed time from its seed
# corpus (written afresh by yoz_fuzz_seeds), several at once. A crash, a
# sanitizer report, a leak or a failed check fails the run and prints the
# input that caused it, as hex, with the target's report. The default keeps
# the fuzzing at about four minutes in all (ten targets of 24 seconds).
#   tests/fuzz/run-fuzzers.sh [BUILD_DIR] [SECONDS]   (defaults build-sanitize, 24)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build-sanitize}" && pwd)
seconds=${2:-24}
targets=$build/tests/fuzz/targets.txt
[ -f "$targets" ] || { echo "no fuzz targets in $build (the compiler lacks libFuzzer?)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/yoz-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/tests/fuzz/yoz_fuzz_seeds" "$work/seeds"

# One target a core: each fuzzer runs in one thread.
jobs=$(nproc)
run() {
  local name=$1 corpus=$work/corpus/$1 out=$work/out/$1
  mkdir -p "$corpus" "$out"
  [ -d "$work/seeds/$name" ] && cp "$work/seeds/$name"/* "$corpus"/
  if (cd "$out" && "$build/tests/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$corpus" >"$out/log" 2>&1); then
    echo "$name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$out/log" | grep -o '[0-9]*$') runs in ${seconds}s, corpus $(ls "$corpus" | wc -l)"
  else
    echo "$name: FAILED"
    cat "$out/log"
    for f in "$out"/crash-* "$out"/leak-* "$out"/timeout-* "$out"/oom-*; do
      [ -f "$f" ] || continue
      echo "== input $(basename "$f") ($(stat -c %s "$f") bytes):"
      od -An -tx1 -v "$f"
    done
    return 1
  fi
}
export -f run
export build work seconds
mkdir -p "$work/corpus" "$work/out"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  xargs -a "$targets" -n1 -P"$jobs" bash -c 'run "$0"'
