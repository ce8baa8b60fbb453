#!/usr/bin/env bash
# Builds the 64-bit program, its test builds and the tests with
# AddressSanitizer and UndefinedBehaviorSanitizer (with clang where installed,
# which builds the fuzz targets too) and runs the suite's 64-bit cases under
# them (tests/run-all.sh tests the i386 build). Any sanitizer report fails the
# run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${YOZ_SANITIZE_BUILD_DIR:-build-sanitize}

compiler=()
if command -v clang++ >/dev/null 2>&1 && command -v clang >/dev/null 2>&1; then
  # The emulator's C object (the driver's core) takes the same sanitizer flags.
  compiler=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYOZ_SANITIZE=ON "${compiler[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

# Reports go to files as well as failing their process, so that one from a
# program run whose exit status a test does not look at still fails the run.
reports=$(cd "$build" && pwd)/sanitizer-reports
rm -rf "$reports" && mkdir -p "$reports"
export ASAN_OPTIONS=log_path=$reports/asan:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1
status=0
(cd "$build" && ctest -j"$(nproc)" --output-on-failure) || status=$?
if [ -n "$(ls -A "$reports")" ]; then
  for f in "$reports"/*; do echo "== $f"; cat "$f"; done
  echo "sanitizer reports: $(ls "$reports" | wc -l)"
  exit 1
fi
exit $status
