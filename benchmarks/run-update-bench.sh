#!/usr/bin/env bash
# Runs the whole-update benchmark: the emulator build updating 8, 32 and
# 128 MiB parts ("new.rom /B /P /N"), flashrom's dummy programmer writing
# the same images, and the bare byte moves of such an update. Prints wall
# time, the ratio to flashrom and to the byte moves, and peak memory per
# size. Installs flashrom where it is missing. Extra arguments go to the
# benchmark program (--runs=N, --sizes=8,32,128, Google Benchmark flags).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${YOZ_BUILD_DIR:-build}

if ! command -v flashrom >/dev/null 2>&1; then
  if [ -x /usr/sbin/flashrom ]; then
    PATH=$PATH:/usr/sbin
  else
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq flashrom
  fi
fi
PATH=$PATH:/usr/sbin

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target UpdateVsPeerBench yozmfglnx_emu yozemu >/dev/null
"$build/benchmarks/UpdateVsPeerBench" --runs=7 "$@"
