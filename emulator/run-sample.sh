#!/usr/bin/env bash
# Builds the program and runs it on a freshly made emulated machine with the
# built-in sample: the main job of the tool, against the emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${YOZ_BUILD_DIR:-build}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target yozmfglnx_emu yozemu >/dev/null

work=$(mktemp -d /tmp/yoz-sample-XXXXXX)
head -c $((1024 * 1024)) /dev/zero | tr '\0' '\377' > "$work/flash.img"
"$build/yozemu" init "$work/machine" --flash "$work/flash.img" --blocks 2x64K:nvram,12x64K:main,2x64K:boot

echo "== yozmfglnx_emu (machine $work/machine)"
set +e
YOZ_EMU_MACHINE="$work/machine" "$build/yozmfglnx_emu" "$@"
status=$?
set -e
echo "== exit status $status; trace:"
cat "$work/machine/trace.log"
