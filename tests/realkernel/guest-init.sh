#!/bin/dash
# Init of the real-kernel tier's guests (see run-qemu.sh). The kernel hands
# "yoztier=<guest>" from its command line over as $yoztier. Everything
# between "== begin" and "== kmsg" is compared with expected-<guest>.txt.
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
export PATH=/bin
cd /work

# Marks the start of run $1 in QEMU's port trace (port 0xB3, next to the SMI
# port; refused under lockdown, where the program writes no port anyway).
mark() {
    printf "\\$(printf %o "$1")" | dd of=/dev/port bs=1 seek=179 count=1 2>/dev/null
}

# One run of the program: its status, its output without the usage table
# and its pager pauses (input is empty, so no pause waits), the shell
# commands it ran, and what it left behind.
run() {  # marker, width, arguments...
    marker=$1 width=$2
    shift 2
    echo "-- yozmfglnx_$width $*"
    : > /tmp/cmdlog
    mark "$marker"
    /yozmfglnx_$width "$@" < /dev/null > /tmp/out 2>&1 &
    pid=$!
    # A run that hangs is reported with where it waits, then killed, so the
    # guest goes on and the tier shows which run it was.
    tenths=0
    while [ "$tenths" -lt 150 ] && ! grep -q '^State:.*Z' /proc/$pid/status 2>/dev/null &&
          [ -e /proc/$pid ]; do
        sleep 0.1
        tenths=$((tenths + 1))
    done
    if [ "$tenths" -ge 150 ]; then
        echo "hung for 15 s, waiting in $(cat /proc/$pid/wchan 2>/dev/null):"
        cat /proc/$pid/stack 2>/dev/null
        kill -9 $pid
    fi
    wait $pid
    echo "status=$?"
    tr -d '\r' < /tmp/out | sed 's/^<Press any key to continue>//' | grep -v -e '^|' -e '^+' -e '^ *$'
    left
}

# What a run left behind: the shell commands it ran, the module, the node
# and the files of the working directory.
left() {
    cat /tmp/cmdlog
    echo "module: $(grep -c ' nuvfldrv$' /proc/devices) loaded, $(grep -c '^nuvfldrv_mod ' /proc/modules) in /proc/modules"
    echo "node: $(ls /dev/nuvfl "$PWD/nuvfl" 2>/dev/null | wc -l)"
    echo "files: $(ls -A "$PWD" | tr '\n' ' ')"
}

# Starts run $1 of the 64-bit build with "/x" (or the option $4), its keys
# from the FIFO /tmp/keys and its output into $2, and waits (up to 15 s)
# until it is at its first pager pause; $pid is the run's.
held() {  # marker, where the output goes, what happens, option
    option=${4:-/x}
    echo "-- yozmfglnx_64 $option, $3"
    : > /tmp/cmdlog
    : > /tmp/out
    [ -p /tmp/keys ] || mkfifo /tmp/keys
    mark "$1"
    /yozmfglnx_64 "$option" < /tmp/keys > "$2" 2>&1 &
    pid=$!
    exec 3> /tmp/keys
    tenths=0
    while ! grep -q 'Press any key' /tmp/out && [ "$tenths" -lt 150 ]; do sleep 0.1; tenths=$((tenths + 1)); done
}

# Puts the module in directory $1 as owner $2 (root or nobody).
plant() {
    rm -f "$1/nuvfldrv_mod.o"
    cp /nuvfldrv_mod.o "$1/"
    chown "$2" "$1/nuvfldrv_mod.o"
}

# The module loaded by hand, its node root's alone; and removed again.
load_by_hand() {
    insmod /nuvfldrv_mod.o
    mknod /dev/nuvfl c "$(awk '/ nuvfldrv$/ {print $1}' /proc/devices)" 0
    chmod 600 /dev/nuvfl
}
unload_by_hand() {
    rm -f /dev/nuvfl
    rmmod nuvfldrv_mod
    echo "module: $(grep -c ' nuvfldrv$' /proc/devices) loaded"
}

# The firmware leaves the console mid-line: start on a fresh one.
echo
echo "== begin $yoztier"
case "$yoztier" in
bios)
    # The module was built on the host; the second 64-bit run replaces the
    # module the first one left loaded; the 32-bit run goes through the
    # driver's compat requests.
    [ -e /sys/firmware/efi ] && echo "unexpected: EFI"
    cp /nuvfldrv_mod.o /work/
    run 161 64 /x
    run 162 64 /x
    run 163 32 /x
    run 164 64 /work/save.bin /O
    echo "nmi_watchdog: $(cat /proc/sys/kernel/nmi_watchdog)"
    # SIGPIPE while the flash interface is open: the reader of the run's
    # output is killed at its first pager pause, and the key opens the
    # interface again for the next page. The run goes on without its output,
    # closes the interface and unloads the driver.
    mkfifo /tmp/pipe
    cat /tmp/pipe > /tmp/out &
    reader=$!
    held 165 /tmp/pipe "its output's reader killed at its first pause"
    kill $reader
    wait $reader 2> /dev/null
    exec 3>&-
    wait $pid
    echo "status=$?"
    left
    # SIGPWR, as a power-supply daemon sends it, at the second pause of the
    # help listing (the key opened the flash interface for the page between):
    # the run ends through its end steps (0x0C), the interface closed and the
    # driver unloaded.
    held 166 /tmp/out "SIGPWR at its second pause" /H
    echo >&3
    tenths=0
    while [ "$(grep -o 'Press any key' /tmp/out | wc -l)" -lt 2 ] && [ "$tenths" -lt 150 ]; do
        sleep 0.1
        tenths=$((tenths + 1))
    done
    kill -PWR $pid
    wait $pid
    echo "status=$?"
    exec 3>&-
    tr -d '\r' < /tmp/out | sed 's/^<Press any key to continue>//' | grep -v -e '^|' -e '^+' -e '^ *$'
    left
    # A run killed (SIGKILL) at its first pause leaves its module loaded and
    # its node; the next run replaces both and says so once.
    held 167 /tmp/out "killed at its first pause"
    kill -9 $pid
    wait $pid 2> /dev/null
    echo "status=$?"
    exec 3>&-
    left
    run 168 32 /x
    ;;
sboff|sbon)
    insmod /efivarfs.ko
    mount -t efivarfs efivarfs /sys/firmware/efi/efivars
    echo "SecureBoot variable: $(od -An -tx1 /sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c | tr -s ' ' | sed 's/^ //')"
    # Secure Boot off: no prebuilt module, so the run tries to build one.
    # Secure Boot on (kernel in lockdown): without the prebuilt module the
    # run stops before the platform with 0x71; with it the run goes past the
    # refused iopl and skips the memory hole, and the kernel refuses the
    # unsigned module.
    [ "$yoztier" = sbon ] && run 160 64 /x
    [ -e /nuvfldrv_mod.o ] && cp /nuvfldrv_mod.o /work/
    run 161 64 /x
    run 162 32 /x
    if [ "$yoztier" = sbon ]; then
        # Why the kernel refused the module.
        insmod /nuvfldrv_mod.o 2>&1
        # The 32-bit build stops with 0x71 too once the module is gone.
        rm -f /work/nuvfldrv_mod.o /work/nuvfldrv_mod
        run 163 32 /x
    fi
    ;;
user)
    # An unprivileged user (65534) beside root, on two CPUs.
    # The program's node while it waits at its first pager pause: root's,
    # 0600, refused to the user and to a second opener.
    cp /nuvfldrv_mod.o /work/
    mkfifo /tmp/keys
    echo "-- yozmfglnx_64 /x, held at its first pause"
    mark 161
    /yozmfglnx_64 /x < /tmp/keys > /tmp/out 2>&1 &
    pid=$!
    exec 3> /tmp/keys
    tenths=0
    while [ ! -e /dev/nuvfl ] && [ "$tenths" -lt 150 ]; do sleep 0.1; tenths=$((tenths + 1)); done
    echo "node: $(stat -c '%a %u %F' /dev/nuvfl 2>&1)"
    /yozprobe_64 as-nobody /yozprobe_64 open /dev/nuvfl
    /yozprobe_64 open /dev/nuvfl
    exec 3>&-
    wait $pid
    echo "status=$? module: $(grep -c ' nuvfldrv$' /proc/devices) loaded, node: $(ls /dev/nuvfl 2>/dev/null | wc -l)"
    rm -f /work/nuvfldrv_mod.o
    # In a 1777 directory: the user's object, the user's link to root's
    # object, and an object the user holds open for writing are refused.
    mkdir -p /pub && chmod 1777 /pub && cd /pub
    plant /pub 65534:65534
    run 162 64 /x
    rm -f /pub/nuvfldrv_mod.o
    /yozprobe_64 as-nobody /bin/busybox ln -s /nuvfldrv_mod.o /pub/nuvfldrv_mod.o
    run 163 32 /x
    plant /pub 65534:65534
    /yozprobe_64 as-nobody /bin/dash -c 'exec 3>>/pub/nuvfldrv_mod.o; exec sleep 60' &
    holder=$!
    run 164 64 /x
    kill $holder
    # In root's own directory: the user's object is refused, and root's
    # while a descriptor writes to it the kernel refuses to load.
    mkdir -p /own && cd /own
    plant /own 65534:65534
    run 165 32 /x
    plant /own 0:0
    exec 4>> /own/nuvfldrv_mod.o
    run 166 64 /x
    exec 4>&-
    rm -f /own/nuvfldrv_mod.o
    # Still in root's directory, refused by the checks of the file itself,
    # each by its message: root's link to root's object, a FIFO, and root's
    # object that its group may write.
    ln -s /nuvfldrv_mod.o /own/nuvfldrv_mod.o
    run 167 64 /x
    rm -f /own/nuvfldrv_mod.o
    mkfifo /own/nuvfldrv_mod.o
    run 168 32 /x
    rm -f /own/nuvfldrv_mod.o
    plant /own 0:0
    chmod 664 /own/nuvfldrv_mod.o
    run 169 64 /x
    rm -f /own/nuvfldrv_mod.o
    cd /work
    # The driver itself, loaded by hand: its buffers, mappings and ports on
    # both widths, then threads and processes sharing one descriptor.
    load_by_hand
    for width in 64 32; do
        echo "-- yozprobe_$width"
        /yozprobe_$width driver /dev/nuvfl
        /yozprobe_$width stress /dev/nuvfl 2
    done
    # A descriptor root opened, used after the process dropped to uid 1000:
    # the driver checks the capability of whoever uses it, not only at open.
    for width in 64 32; do
        echo "-- yozprobe_$width dropped"
        /yozprobe_$width dropped /dev/nuvfl
    done
    unload_by_hand
    ;;
lockdown)
    # The module loaded by hand, then the kernel put into lockdown (which
    # cannot be lifted, hence a guest of its own; an unsigned module cannot
    # be loaded under it, so it is raised afterwards): the driver keeps to
    # it, its own buffers and the SMI port only.
    load_by_hand
    mount -t securityfs securityfs /sys/kernel/security
    mark 161
    echo integrity > /sys/kernel/security/lockdown
    echo "lockdown: $(cat /sys/kernel/security/lockdown)"
    for width in 64 32; do
        echo "-- yozprobe_$width lockdown"
        /yozprobe_$width lockdown /dev/nuvfl
    done
    unload_by_hand
    ;;
esac
mark 175
echo "== kmsg"
dmesg
echo "== end"
poweroff -f
