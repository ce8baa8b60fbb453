#!/usr/bin/env bash
# Optional real-kernel check (not part of the default test run): builds the
# generated driver against Debian's kernel headers on the host, boots that
# kernel under qemu-system-x86_64 (TCG) with a small initramfs holding
# busybox, GNU cp, the static 64-bit deliverable and the built module, runs
# the program twice for real inside, and checks what the guest reports.
#
# Needs (Debian): linux-image-amd64 linux-headers-amd64 qemu-system-x86 busybox-static
#   apt-get install -y linux-image-amd64 linux-headers-amd64 qemu-system-x86 busybox-static
# Usage: tests/realkernel/run-qemu.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build}" && pwd)
program="$build/yozmfglnx_64"
program32="$build/yozmfglnx_32"
[ -x "$program" ] && [ -x "$program32" ] || { echo "no $program or $program32: build first"; exit 2; }

release=""
for dir in /lib/modules/*/; do
    r=$(basename "$dir")
    if [ -e "/boot/vmlinuz-$r" ] && [ -e "/lib/modules/$r/build/Makefile" ]; then release=$r; fi
done
[ -n "$release" ] || { echo "no kernel with both image and headers: install linux-image-amd64 linux-headers-amd64"; exit 2; }
for tool in qemu-system-x86_64 busybox cpio; do
    command -v "$tool" >/dev/null || { echo "missing $tool"; exit 2; }
done
file "$(command -v busybox)" | grep -q 'statically linked' || { echo "busybox must be the static one (busybox-static)"; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/yoz-realkernel-XXXXXX")
echo "kernel $release, work directory $work"

# 1. The module, built on the host by the program itself.
mkdir -p "$work/host"
(cd "$work/host" && "$program" /makedrv "KERNEL=/lib/modules/$release/build") > "$work/makedrv.out"
cat "$work/makedrv.out"
grep -q "ok" "$work/makedrv.out" || { echo "FAIL: /makedrv did not build the module"; exit 1; }

# 2. The initramfs.
root="$work/root"
mkdir -p "$root"/{bin,sbin,dev,proc,sys,work,lib,lib64,usr/bin}
cp "$(command -v busybox)" "$root/bin/busybox"
for applet in mount mkdir ls cat rm mv echo sync grep poweroff insmod rmmod lsmod dmesg uname sleep mknod tr; do
    ln -s busybox "$root/bin/$applet"
done
# dash as the shell (busybox's own shell would run its cp applet, which lacks
# "--preserve=all") and GNU cp, with their libraries.
cp /bin/dash "$root/bin/sh"
cp /bin/cp "$root/bin/cp"
for lib in $( (ldd /bin/cp; ldd /bin/dash) | grep -o '/[^ :]*' | sort -u); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
done
cp "$program" "$root/yozmfglnx_64"
cp "$program32" "$root/yozmfglnx_32"
cp "$work/host/nuvfldrv_mod.o" "$root/nuvfldrv_mod.o"
cat > "$root/init" <<'INIT'
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
export PATH=/bin:/usr/bin
cd /work
cp /nuvfldrv_mod.o .
echo 1 > /proc/sys/kernel/nmi_watchdog 2>/dev/null
# Two runs of the 64-bit program (the second replaces the module the first
# left loaded), then one of the 32-bit program through the compat requests.
for run in 64 64 32; do
    echo "== run $run"
    /yozmfglnx_$run /x > out.txt 2>&1
    echo "status=$?"
    cat out.txt | grep -v '^|' | grep -v '^+'
    echo "module: $(grep nuvfldrv /proc/devices)"
    echo "node: $(ls /dev/nuvfl 2>&1)"
    echo "files: $(ls /work | tr '\n' ' ')"
done
echo "watchdog: $(cat /proc/sys/kernel/nmi_watchdog 2>/dev/null)"
echo "== dmesg"
dmesg | grep -i -E 'nuvfl|warning|unbalanced|bug:|taint' 
echo "== end"
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) | gzip -1 > "$work/initrd.gz"

# 3. Boot. Port 0xB2 writes show in QEMU's trace of the APM port.
timeout 300 qemu-system-x86_64 -machine pc -accel tcg -m 512 -nographic -no-reboot \
    -kernel "/boot/vmlinuz-$release" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 panic=-1 loglevel=4" \
    -trace "apm_*" -D "$work/qemu-trace.log" > "$work/console.log" 2>&1 || true
sed -n '/== run 64/,/== end/p' "$work/console.log" | tr -d '\r' > "$work/guest.log"
cat "$work/guest.log"
echo "== port 0xB2 writes seen by QEMU"
grep -c . "$work/qemu-trace.log" 2>/dev/null || true
head -5 "$work/qemu-trace.log" 2>/dev/null || true

# 4. Checks. Each run ends at the parse pass ("/x" is no option) with status
# 1, after the driver was loaded, the pool allocated and mapped through it and
# the firmware asked for its memory hole (0x7F) and mailbox (0xD9, two tries);
# QEMU's firmware answers none of them.
fail=0
check() { if ! grep -q -- "$1" "$work/guest.log"; then echo "FAIL: guest log lacks: $1"; fail=1; fi; }
check "== end"
[ "$(grep -c '^status=1$' "$work/guest.log")" = 3 ] || { echo "FAIL: every run must end with status 1"; fail=1; }
[ "$(grep -c '^module: [0-9]* nuvfldrv$' "$work/guest.log")" = 3 ] || { echo "FAIL: the module must stay loaded"; fail=1; }
[ "$(grep -c '^node: ls: /dev/nuvfl: No such file or directory$' "$work/guest.log")" = 3 ] || { echo "FAIL: the node must go"; fail=1; }
[ "$(grep -c '^files: nuvfldrv_mod.o out.txt $' "$work/guest.log")" = 3 ] || { echo "FAIL: only the prebuilt object may stay"; fail=1; }
if grep -q -i -E 'unbalanced|WARNING:|BUG:|Oops' "$work/guest.log"; then echo "FAIL: the kernel warned"; fail=1; fi
[ "$(grep -c 'apm_io_write write addr=0x0 val=0x7f' "$work/qemu-trace.log")" = 3 ] || { echo "FAIL: one hole request per run on port 0xB2"; fail=1; }
[ "$(grep -c 'apm_io_write write addr=0x0 val=0xd9' "$work/qemu-trace.log")" = 6 ] || { echo "FAIL: two mailbox requests per run on port 0xB2"; fail=1; }
[ "$fail" = 0 ] && echo "real-kernel check passed" || echo "real-kernel check FAILED (see $work)"
exit $fail
