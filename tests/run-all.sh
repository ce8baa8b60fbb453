#!/usr/bin/env bash
# Installs what the suite needs where it is missing (Debian packages, as
# root), builds both deliverables, the test builds and the tests, checks that
# the deliverables are static executables of their widths, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${YOZ_BUILD_DIR:-build}

# The compilers of both widths, GoogleTest, qemu-i386 for the 32-bit test
# build, lhasa's lha (an independent decoder for the decompressor's tests) and
# file (the deliverables' check below). .ci/run installs what its later steps need.
need=()
for pkg in cmake make g++ g++-multilib libgtest-dev qemu-user-static lhasa file; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "tests/run-all.sh: missing ${need[*]}; install them as root (apt-get install ${need[*]}) or run this as root"
    exit 1
  fi
  # A package manager started at boot may hold the lock for a while: waited for.
  bash tests/apt-get-wait.sh update -qq
  DEBIAN_FRONTEND=noninteractive bash tests/apt-get-wait.sh install -y -qq "${need[@]}"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

file "$build/yozmfglnx_64" | grep -q 'ELF 64-bit.*statically linked' || { echo "yozmfglnx_64 is not a static 64-bit ELF"; exit 1; }
file "$build/yozmfglnx_32" | grep -q 'ELF 32-bit.*statically linked' || { echo "yozmfglnx_32 is not a static 32-bit ELF"; exit 1; }

cd "$build"
ctest -j"$(nproc)" --output-on-failure
