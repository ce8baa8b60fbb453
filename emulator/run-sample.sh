#!/usr/bin/env bash
# Builds the program and runs its main job on a freshly made emulated
# machine: the built-in sample is a newer ROM image for a machine whose flash
# holds an older one with its own ROM holes and SLP key. The program flashes
# the main BIOS from the image; the check afterwards shows that the machine's
# protected data survived. It builds what the README's examples use too
# (yozimg). YOZ_BUILD_DIR names the build directory (default build),
# YOZ_JOBS the build's parallel jobs (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${YOZ_BUILD_DIR:-build}
jobs=${YOZ_JOBS:-$(nproc)}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target yozmfglnx_emu yozemu yozmkrom yozimg >/dev/null

work=$(mktemp -d /tmp/yoz-sample-XXXXXX)
"$build/tests/yozmkrom" make "$work"
"$build/yozemu" init "$work/machine" --flash "$work/system.bin" --blocks 2x64K:nvram,12x64K:main,2x64K:boot

echo "== yozmfglnx_emu sample.rom (machine $work/machine)"
set +e
program=$(cd "$build" && pwd)/yozmfglnx_emu
# The progress lines are shown one per line, without the running counts.
(cd "$work" && YOZ_EMU_MACHINE="$work/machine" "$program" sample.rom "$@") | tr '\r' '\n' | grep -v '%) $'
status=${PIPESTATUS[0]}
set -e
echo "== exit status $status; the flash afterwards:"
"$build/tests/yozmkrom" check "$work/machine/flash.bin"
