#!/usr/bin/env bash
# Compiles the kernel driver the program writes, with the kernel's own build
# system and warnings as errors, against the newest kernel headers installed
# under /usr/src: "/makedrv" of the emulator build runs make for real, in a
# machine whose kernel tree hands the build on to the headers. Two forms are
# built: a tree whose mm.h names remap_pfn_range, and a split tree without
# an mm.h to look into (the kernel version decides).
# Usage: compile-driver.sh PROGRAM YOZEMU. Exit 77 (skipped) without headers.
set -euo pipefail
program=$(realpath "$1")
yozemu=$(realpath "$2")

kdir=
for d in /usr/src/linux-headers-*; do
  [ -f "$d/Makefile" ] && [ -f "$d/Module.symvers" ] && kdir=$d
done
if [ -z "$kdir" ]; then
  echo "kbuild compile of the driver skipped: no kernel headers under /usr/src (apt-get install linux-headers-amd64)"
  exit 77
fi
for tool in make gcc; do
  if ! command -v "$tool" >/dev/null; then
    echo "kbuild compile of the driver skipped: no $tool"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 262144 /dev/zero | tr '\0' '\377' > "$work/flash.bin"

# One form: the machine, its stand-in tree and the run in a directory of its own.
build() {
  local form=$1 dir=$work/$1
  mkdir -p "$dir/tree" "$dir/run"
  printf 'modules:\n\t$(MAKE) -C %s M=$(M) KCFLAGS=-Werror modules\n' "$kdir" > "$dir/tree/Makefile"
  if [ "$form" = pfn ]; then
    mkdir -p "$dir/tree/include/linux"
    echo 'int remap_pfn_range(struct vm_area_struct *, unsigned long, unsigned long, unsigned long, pgprot_t);' \
      > "$dir/tree/include/linux/mm.h"
  fi
  "$yozemu" init "$dir/machine" --flash "$work/flash.bin" --blocks 4x64K:main \
    --set "kernel_tree=host:$dir/tree" --set mem_hole=0 > "$dir/init.out" 2>&1
  local status=0
  (cd "$dir/run" && YOZ_EMU_MACHINE=$dir/machine "$program" /makedrv > "$dir/out" 2>&1) || status=$?
  if [ "$status" -ne 0 ] || ! grep -aq 'name=nuvfldrv_mod' "$dir/run/nuvfldrv_mod.o" 2>/dev/null; then
    echo "kbuild compile of the driver ($form) failed with status $status:"
    cat "$dir/init.out" "$dir/out"
    return 1
  fi
}

start=$(date +%s)
build pfn & first=$!
build split & second=$!
failed=0
wait "$first" || failed=1
wait "$second" || failed=1
[ "$failed" -eq 0 ] || exit 1
echo "kbuild compile of the driver against $kdir: both forms built in $(( $(date +%s) - start )) s"
