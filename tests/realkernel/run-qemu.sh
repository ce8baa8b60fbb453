#!/usr/bin/env bash
# Real-kernel tier: the shipped executables on Debian's kernel under
# qemu-system-x86_64 (TCG). The driver is built on the host by the program's
# own "/makedrv" against that kernel's headers; five guests then boot in
# parallel from one busybox initramfs and run the program for real:
#   bios   SeaBIOS, no EFI: the 64-bit build twice and the 32-bit build once
#          with the prebuilt module (iopl, port 0xB2, /dev/mem, the module
#          loaded from its descriptor, the node, the ioctl and mmap protocol,
#          the compat requests of the 32-bit build, the unloader); a run whose
#          output's reader dies while the flash interface is open, one sent
#          SIGPWR at a pager pause, which ends through its end steps, and one
#          killed with SIGKILL, whose module the next run replaces
#   sboff  OVMF with Secure Boot off: "SecureBoot" read through efivarfs says
#          off, so without a prebuilt module the run tries to build one
#   sbon   OVMF with the Secure Boot variables on: without a prebuilt module
#          the run stops at once with 0x71 (no port write, no shell command);
#          with it the kernel in lockdown refuses the unsigned module
#   user   SeaBIOS on two CPUs, an unprivileged user beside root: the node
#          while a run holds it, prebuilt objects another user planted,
#          linked or holds open refused, a link, a FIFO and a group-writable
#          object refused by the file's own checks, and the driver's limits
#          (buffers, mappings, ports) and locking probed on both widths by
#          yozprobe, also through a descriptor kept after dropping to uid 1000
#   lockdown SeaBIOS: the module loaded by hand, then the kernel put into
#          lockdown: the driver maps only its buffers, writes only the SMI port
# QEMU's firmware answers none of the program's firmware requests, so every
# run ends the same way. Checked per run: exit status, output, the shell
# commands the program ran, module/node/file state afterwards; per guest: the
# bytes written to port 0xB2 (QEMU's apm_io_write trace) and a kernel log
# without warnings.
#
# Needs (Debian): linux-image-amd64 linux-headers-amd64 qemu-system-x86
# busybox-static cpio ovmf gcc-multilib, and root where /boot/vmlinuz-* is
# root-only.
# Usage: tests/realkernel/run-qemu.sh [BUILD_DIR]   (default: build)
# Exit status: 0 passed, 1 a check failed, 2 something needed is missing.
set -euo pipefail
cd "$(dirname "$0")/../.."
here=$(pwd)/tests/realkernel
build=$(cd "${1:-build}" && pwd)
program64="$build/yozmfglnx_64"
program32="$build/yozmfglnx_32"
missing() { echo "real-kernel tier: $*" >&2; exit 2; }
[ -x "$program64" ] && [ -x "$program32" ] || missing "no $program64 or $program32: build first"

# The newest release that has both an image and a headers tree; the host's
# running kernel plays no part.
release=""
for dir in $(ls -d /lib/modules/*/ 2>/dev/null | sort -V); do
    r=$(basename "$dir")
    if [ -e "/boot/vmlinuz-$r" ] && [ -e "/lib/modules/$r/build/Makefile" ]; then release=$r; fi
done
[ -n "$release" ] || missing "no kernel with both image and headers: install linux-image-amd64 linux-headers-amd64"
kernel=/boot/vmlinuz-$release
[ -r "$kernel" ] || missing "$kernel is not readable (run as root)"
efivarfs_ko=/lib/modules/$release/kernel/fs/efivarfs/efivarfs.ko
for tool in qemu-system-x86_64 busybox cpio gzip file dash gcc; do
    command -v "$tool" >/dev/null || missing "missing $tool"
done
file -L "$(command -v busybox)" | grep -q -E 'statically linked|static-pie linked' || missing "busybox must be the static one (busybox-static)"
qemu-system-x86_64 -trace help 2>/dev/null | grep -qx apm_io_write || missing "this QEMU has no apm_io_write trace event"

ovmf=/usr/share/OVMF
ovmf_code=$ovmf/OVMF_CODE_4M.secboot.fd
ovmf_vars_off=$ovmf/OVMF_VARS_4M.fd
ovmf_vars_on=$ovmf/OVMF_VARS_4M.ms.fd
[ -e "$ovmf_code" ] || ovmf_code=$ovmf/OVMF_CODE_4M.ms.fd
[ -e "$ovmf_code" ] && [ -e "$ovmf_vars_off" ] || missing "no Secure-Boot-capable OVMF in $ovmf: install ovmf"
guests="bios sboff sbon user lockdown"
if [ ! -e "$ovmf_vars_on" ]; then
    echo "note: no $ovmf_vars_on, the Secure Boot on boot is left out"
    guests="bios sboff user lockdown"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/yoz-realkernel-XXXXXX")
echo "kernel $release, work directory $work"
start=$SECONDS

# 1. The initramfs, shared by every guest: busybox, dash as the shell behind a
# wrapper that logs every command the program hands to it, both
# deliverables, the driver probe of both widths, efivarfs and the guest script.
root="$work/root"
mkdir -p "$root"/{bin,dev,proc,sys,work,tmp}
cp "$(command -v busybox)" "$root/bin/busybox"
for applet in mount mkdir ls cat cp rm mv echo sync grep poweroff insmod rmmod dmesg uname sleep mknod tr dd \
              hexdump od printf head sed wc stat mkfifo chmod chown ln kill awk; do
    ln -s busybox "$root/bin/$applet"
done
cp "$(command -v dash)" "$root/bin/dash"
for lib in $(ldd "$(command -v dash)" | grep -o '/[^ :]*' | sort -u); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
done
cat > "$root/bin/sh" <<'SH'
#!/bin/dash
[ "$1" = "-c" ] && printf 'cmd: %s\n' "$2" >> /tmp/cmdlog
exec /bin/dash "$@"
SH
chmod +x "$root/bin/sh"
cp "$program64" "$root/yozmfglnx_64"
cp "$program32" "$root/yozmfglnx_32"
# The driver probe of the user guest, static for both widths.
for width in 64 32; do
    gcc -static -O2 -pthread -D_FILE_OFFSET_BITS=64 -m$width -o "$root/yozprobe_$width" "$here/yozprobe.c" 2> "$work/probe.err" ||
        missing "cannot build the $width-bit driver probe (gcc-multilib): $(cat "$work/probe.err")"
done
[ -e "$efivarfs_ko" ] && cp "$efivarfs_ko" "$root/efivarfs.ko"
cp "$here/guest-init.sh" "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) | gzip -1 > "$work/base.gz"

# 2. The guests. Port 0xB2 writes show in QEMU's trace of the APM ports; the
# guest marks each run by writing its number to port 0xB3 first.
boot() {  # name, initrd, extra qemu arguments (last -smp wins)...
    local name=$1 initrd=$2
    shift 2
    local status=0
    timeout 90 qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nographic -no-reboot -nic none "$@" \
        -kernel "$kernel" -initrd "$initrd" \
        -append "console=ttyS0 panic=-1 loglevel=4 yoztier=$name" -pidfile "$work/$name.pid" \
        -trace apm_io_write -D "$work/$name.trace" > "$work/$name.console" 2>&1 || status=$?
    echo "$status" > "$work/$name.qemu-status"
}
uefi() {  # variable store template
    cp "$1" "$work/vars-$2.fd"
    echo -machine q35,smm=on -global driver=cfi.pflash01,property=secure,value=on \
        -drive if=pflash,format=raw,unit=0,readonly=on,file="$ovmf_code" \
        -drive if=pflash,format=raw,unit=1,file="$work/vars-$2.fd"
}
pids=()
# shellcheck disable=SC2046
boot sboff "$work/base.gz" $(uefi "$ovmf_vars_off" off) & pids+=($!)

# The module, built on the host by the program itself while the first guest
# boots, then appended to the initramfs as a second archive for the others.
mkdir -p "$work/host" "$work/module"
if ! (cd "$work/host" && timeout 100 "$program64" /makedrv "KERNEL=/lib/modules/$release/build") > "$work/makedrv.out" 2> "$work/makedrv.err" ||
   ! grep -qx " - Make NUV Linux Flash driver .... ok" "$work/makedrv.out" || [ ! -s "$work/host/nuvfldrv_mod.o" ]; then
    cat "$work/makedrv.out" "$work/makedrv.err"
    echo "FAIL: /makedrv did not build the module (see $work)"
    for pidfile in "$work"/*.pid; do kill "$(cat "$pidfile" 2>/dev/null)" 2>/dev/null || true; done
    wait
    exit 1
fi
echo "module built after $((SECONDS - start)) s"
cp "$work/host/nuvfldrv_mod.o" "$work/module/"
(cd "$work/module" && echo nuvfldrv_mod.o | cpio -o -H newc --quiet) | gzip -1 > "$work/module.gz"
cat "$work/base.gz" "$work/module.gz" > "$work/with-module.gz"
boot bios "$work/with-module.gz" -machine pc & pids+=($!)
boot user "$work/with-module.gz" -machine pc -smp 2 & pids+=($!)
boot lockdown "$work/with-module.gz" -machine pc & pids+=($!)
if [ -e "$ovmf_vars_on" ]; then
    # shellcheck disable=SC2046
    boot sbon "$work/with-module.gz" $(uefi "$ovmf_vars_on" on) & pids+=($!)
fi
wait "${pids[@]}"
echo "guests done after $((SECONDS - start)) s"

# 3. Checks: each guest's summary against its expected transcript, its port
# 0xB2 writes, its kernel log.
fail=0
for name in $guests; do
    tr -d '\r' < "$work/$name.console" | sed -n '/^== begin/,/^== end/p' > "$work/$name.log"
    why=""
    if [ "$(cat "$work/$name.qemu-status")" != 0 ]; then
        why="QEMU ended with status $(cat "$work/$name.qemu-status") (124: timed out)"
    elif ! grep -q '^== end' "$work/$name.log"; then
        why="the guest did not finish its runs"
    fi
    # The runs' transcript, then the port 0xB2 writes as "<run marker>:<byte>"
    # for each write inside a run: the firmware's and the kernel's own writes
    # fall outside the markers, and OVMF's variable service, which the kernel
    # reaches through SMI 0 when the program reads a UEFI variable, is left out.
    {
        sed -n '/^== begin/,/^== kmsg/p' "$work/$name.log" | grep -v '^== kmsg' || true
        echo "== port 0xB2 writes"
        awk '/addr=0x1 val=0xa[0-9a-f]/ {sub(/.*val=0x/, ""); run = ($0 == "af") ? "" : $0; next}
             /addr=0x0 / && run != "" && !/val=0x00$/ {sub(/.*val=0x/, ""); print run ":" $0}' "$work/$name.trace"
    } > "$work/$name.summary"
    if [ -z "$why" ] && ! diff -u "$here/expected-$name.txt" "$work/$name.summary" > "$work/$name.diff"; then
        why="the runs differ from $here/expected-$name.txt"
    fi
    if [ -z "$why" ] && grep -E 'WARNING|BUG|Call Trace|Oops|Unbalanced|general protection' "$work/$name.log" > "$work/$name.warn"; then
        why="the kernel warned"
    fi
    # Under lockdown the markers cannot be written: no firmware request byte
    # of the program may show anywhere in that guest's trace.
    if [ -z "$why" ] && [ "$name" = sbon ] &&
       grep -E 'addr=0x0 val=0x(2[0-6]|7f|d9)$' "$work/$name.trace" > "$work/$name.warn"; then
        why="the program wrote to port 0xB2 under Secure Boot"
    fi
    if [ -n "$why" ]; then
        fail=1
        echo "FAIL ($name): $why"
        echo "---- $name console"
        tr -d '\r' < "$work/$name.console" | grep -a -v '^\s*$' | tail -n 120
        [ -s "$work/$name.diff" ] && { echo "---- $name differences"; cat "$work/$name.diff"; }
        [ -s "$work/$name.warn" ] && { echo "---- $name warnings"; cat "$work/$name.warn"; }
    else
        echo "ok ($name)"
    fi
done
echo "real-kernel tier: $((SECONDS - start)) s"
if [ "$fail" = 0 ]; then
    echo "real-kernel tier passed"
    rm -rf "$work"
else
    echo "real-kernel tier FAILED (see $work)"
fi
exit $fail
