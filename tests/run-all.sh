#!/usr/bin/env bash
# Builds both deliverables, the test builds and the tests, checks that the
# deliverables are static executables of their widths, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${YOZ_BUILD_DIR:-build}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

file "$build/yozmfglnx_64" | grep -q 'ELF 64-bit.*statically linked' || { echo "yozmfglnx_64 is not a static 64-bit ELF"; exit 1; }
file "$build/yozmfglnx_32" | grep -q 'ELF 32-bit.*statically linked' || { echo "yozmfglnx_32 is not a static 32-bit ELF"; exit 1; }

cd "$build"
ctest -j"$(nproc)" --output-on-failure
