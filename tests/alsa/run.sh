#!/usr/bin/env bash
# The sequencer tests on a real kernel.  This machine has no sound drivers,
# so one small virtual machine is booted under software emulation: Debian's
# own kernel, an initramfs of static busybox and the sound modules, and this
# machine's root file system shared read-only, so that the built binaries,
# python3 and alsa-utils run in it unchanged.  It boots once and runs every
# test (tests/alsa/inside.sh) in that one machine.
#
#   bash tests/alsa/run.sh [BUILD_DIR]
#
# BUILD_DIR holds a built voltanis (default: build-test, the test command's
# build, when it has one; else build-vm, built here).  VOLTANIS_VM_INSIDE
# names another script to run in the machine instead of the tests
# (bench/syscalls.sh does), with the same environment; it finds the run
# folder, shared read-write, in VT_RUN.
# Needs qemu-system-x86 and busybox-static (installed with apt-get when
# missing and possible) and Debian's kernel package (apt-get download, kept
# in the cache).  When these cannot be had it prints one "skipped" line and
# exits 77, which the test command counts as a skipped stage, not a passed
# one.  Cache: $VOLTANIS_VM_CACHE, else ~/.cache/voltanis-vm (about 69 MB).
set -euo pipefail
T0=$(date +%s)

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SRC=$(cd "$HERE/../.." && pwd)
if [ $# -ge 1 ]; then
    BUILD=$(cd "$1" 2>/dev/null && pwd) || { echo "alsa-vm: no build directory $1" >&2; exit 2; }
elif [ -x "$SRC/build-test/voltanis" ]; then
    BUILD=$SRC/build-test
else
    BUILD=$SRC/build-vm
    cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOLTANIS_TESTS=OFF -DVOLTANIS_BENCH=OFF \
        -DVOLTANIS_WERROR=ON >/dev/null &&
        cmake --build "$BUILD" -j"$(nproc)" --target voltanis >/dev/null ||
        { echo "alsa-vm: building voltanis in $BUILD failed" >&2; exit 2; }
fi
CACHE=${VOLTANIS_VM_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/voltanis-vm}
RUN=$BUILD/alsa-vm
LIMIT=${VOLTANIS_VM_LIMIT:-900}   # seconds for the whole run in the machine

skip() { echo "ALSA VM tests skipped: $*"; exit 77; }
say() { echo "alsa-vm: $*" >&2; }
elapsed() { echo $(( $(date +%s) - T0 ))s; }

# ---------------------------------------------------------------- tools ---
[ "$(uname -s)-$(uname -m)" = Linux-x86_64 ] || skip "needs Linux on x86-64"
[ -x "$BUILD/voltanis" ] || { echo "alsa-vm: $BUILD/voltanis is not built" >&2; exit 2; }
case $(ldd "$BUILD/voltanis" 2>/dev/null) in *libasound*) ;; *)
    skip "voltanis was built without the ALSA sequencer backend (libasound2-dev missing?)" ;; esac

# the initramfs has no libraries: only a statically linked busybox runs there
static_busybox() { [ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1; }
need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
static_busybox || need+=(busybox-static)
for t in aseqdump aplaymidi amidi aconnect; do command -v $t >/dev/null || { need+=(alsa-utils); break; }; done
if [ ${#need[@]} -gt 0 ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        say "installing ${need[*]}"
        apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null 2>&1 ||
            { apt-get update -qq >/dev/null 2>&1 && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null 2>&1; } ||
            skip "could not install ${need[*]}"
    else
        skip "missing ${need[*]} (and no root apt-get to install them)"
    fi
fi
command -v qemu-system-x86_64 >/dev/null && static_busybox || skip "qemu-system-x86_64 or a static busybox missing"
PY=/usr/bin/python3
[ -x $PY ] || skip "no /usr/bin/python3"

# --------------------------------------------------------------- kernel ---
# Debian's current kernel, unpacked once into the cache: the kernel itself
# decompressed to an ELF image (qemu boots it directly through its PVH
# entry, which spares seconds of decompression under emulation), the few
# modules the machine loads, and their load order.
WANT_MODULES="virtio_pci 9pnet_virtio 9p snd-seq-dummy snd-virmidi"
mkdir -p "$CACHE"
exec 9>"$CACHE/.lock"
flock 9

kernel_pkg() {  # empty when apt-cache is missing or knows no such package
    { apt-cache depends linux-image-amd64 2>/dev/null || true; } |
        awk '/Depends: linux-image-[0-9]/ {print $2; exit}'
}

prepare_kernel() {  # $1 = package; fills $CACHE/$1
    local pkg=$1 dir=$CACHE/$1 tmp bz ver mods d globs=()
    tmp=$(mktemp -d "$CACHE/unpack.XXXXXX")
    say "fetching $pkg"
    (cd "$tmp" && apt-get download "$pkg" >/dev/null 2>&1) || { rm -rf "$tmp"; return 1; }
    mkdir "$tmp/x"
    # modules under /lib or, on a merged /usr, /usr/lib
    for d in ./lib/modules ./usr/lib/modules; do
        globs+=("$d/*/kernel/sound/*" "$d/*/kernel/fs/9p/*" "$d/*/kernel/net/9p/*" "$d/*/kernel/fs/netfs/*"
                "$d/*/kernel/fs/fscache/*" "$d/*/kernel/drivers/virtio/*")
    done
    dpkg-deb --fsys-tarfile "$tmp"/*.deb | tar -x -C "$tmp/x" --wildcards './boot/vmlinuz-*' "${globs[@]}" \
        2>/dev/null || true
    bz=$(ls "$tmp"/x/boot/vmlinuz-* 2>/dev/null | head -1)
    [ -n "$bz" ] || { rm -rf "$tmp"; return 1; }
    ver=${bz##*/vmlinuz-}
    mods=$tmp/x/lib/modules/$ver
    [ -d "$mods" ] || mods=$tmp/x/usr/lib/modules/$ver
    $PY "$HERE/vmkernel.py" vmlinux "$bz" "$tmp/vmlinux" || cp "$bz" "$tmp/vmlinux"
    $PY "$HERE/vmkernel.py" modules "$mods" "$tmp/out/modules" $WANT_MODULES || { rm -rf "$tmp"; return 1; }
    mv "$tmp/vmlinux" "$tmp/out/vmlinux"
    echo "$ver" > "$tmp/out/version"
    rm -rf "$dir"
    mv "$tmp/out" "$dir"
    rm -rf "$tmp"
    # an older kernel's files are not needed any more
    for d in "$CACHE"/linux-image-*; do [ "$d" = "$dir" ] || rm -rf "$d"; done
}

PKG=$(kernel_pkg)
if [ -z "$PKG" ] && [ "$(id -u)" = 0 ]; then apt-get update -qq >/dev/null 2>&1 || true; PKG=$(kernel_pkg); fi
if [ -n "$PKG" ] && [ ! -f "$CACHE/$PKG/version" ] && ! prepare_kernel "$PKG"; then
    # the package list may be older than the mirror: once more after an update
    if [ "$(id -u)" = 0 ] && apt-get update -qq >/dev/null 2>&1; then PKG=$(kernel_pkg); fi
    [ -z "$PKG" ] || [ -f "$CACHE/$PKG/version" ] || prepare_kernel "$PKG" || PKG=
fi
if [ -z "$PKG" ] || [ ! -f "$CACHE/$PKG/version" ]; then  # any kernel prepared earlier will do
    PKG=$({ ls -d "$CACHE"/linux-image-*/ 2>/dev/null || true; } | sed 's|/$||; s|.*/||' | sort -V | tail -1)
    [ -n "$PKG" ] && [ -f "$CACHE/$PKG/version" ] || skip "could not get Debian's kernel package (apt-get download)"
fi
KDIR=$CACHE/$PKG

# ------------------------------------------------------------ initramfs ---
INITRD=$CACHE/initrd-$PKG-$(cat "$HERE/vm-init" /bin/busybox "$KDIR/modules/list" | md5sum | cut -c1-10).cpio
if [ ! -f "$INITRD" ]; then
    tmp=$(mktemp -d "$CACHE/initrd.XXXXXX")
    mkdir -p "$tmp"/{bin,dev,proc,sys,newroot,lib/modules}
    cp /bin/busybox "$tmp/bin/busybox"
    ln -s busybox "$tmp/bin/sh"
    cp "$KDIR"/modules/* "$tmp/lib/modules/"
    cp "$HERE/vm-init" "$tmp/init"
    chmod 755 "$tmp/init"
    # uncompressed: unpacking it costs less under emulation than gunzip
    (cd "$tmp" && find . | /bin/busybox cpio -o -H newc 2>/dev/null) > "$INITRD.tmp"
    mv "$INITRD.tmp" "$INITRD"
    rm -rf "$tmp"
    ls "$CACHE"/initrd-"$PKG"-*.cpio | grep -vxF "$INITRD" | xargs -r rm -f || true
fi
flock -u 9
say "kernel and initramfs ready after $(elapsed)"

# ------------------------------------------------------------ the tests ---
# The backend checks are built here, from the backend's own sources.
rm -rf "$RUN"
mkdir -p "$RUN"
case $RUN in *,*|*' '*) skip "the build path may not hold ',' or blanks (qemu share syntax): $RUN" ;; esac
# VOLTANIS_VM_SANITIZE=thread (or address,undefined) builds them with that
# sanitizer, to see the reader thread at work against the real kernel.
CXX=${CXX:-c++}
SAN=()
[ -z "${VOLTANIS_VM_SANITIZE:-}" ] || SAN=(-fsanitize="$VOLTANIS_VM_SANITIZE" -fno-omit-frame-pointer)
$CXX -std=c++17 -O1 -g -Wall -Wextra -Werror "${SAN[@]}" -I"$SRC/src" -o "$RUN/seqcheck" \
    "$HERE/seqcheck.cpp" "$SRC"/src/platform/alsa/*.cpp "$SRC"/src/platform/posix/pausewatch.cpp \
    -lasound -lpthread

cat > "$RUN/start.sh" <<EOF
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/tmp LANG=C.UTF-8 TERM=xterm PYTHONDONTWRITEBYTECODE=1
export VT_SRC='$SRC' VT_BUILD='$BUILD' VT_RUN='$RUN'
exec /bin/bash '${VOLTANIS_VM_INSIDE:-$HERE/inside.sh}'
EOF

# The machine's console goes to a log; the tests' output comes on its second
# serial port through a FIFO straight to ours.  A boot that hangs before the
# tests start (rare, under emulation) is killed and tried again.
boot() {
    rm -f "$RUN/console.log" "$RUN/rc" "$RUN/started" "$RUN/out"
    mkfifo "$RUN/out"
    tr -d '\r' < "$RUN/out" &
    TRPID=$!
    timeout -k 5 "$LIMIT" qemu-system-x86_64 -nodefaults -no-user-config -display none -no-reboot \
        -machine pc -m 1024 -smp 2 "${ACCEL[@]}" \
        -kernel "$KDIR/vmlinux" -initrd "$INITRD" \
        -append "console=ttyS0 quiet panic=-1 mitigations=off pci=noacpi tsc=reliable no_timer_check i8042.noaux i8042.nokbd vt_run=$RUN vt_src=$SRC vt_build=$BUILD" \
        -serial "file:$RUN/console.log" -serial "file:$RUN/out" \
        -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
        -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
        -fsdev "local,id=vtrun,path=$RUN,security_model=none" \
        -device virtio-9p-pci,fsdev=vtrun,mount_tag=vtrun \
        < /dev/null > "$RUN/qemu.log" 2>&1 &
    QPID=$!
}

# Software emulation always: a /dev/kvm may be there and still fail the
# guest (seen: "KVM internal error ... emulation failure" in early boot).
ACCEL=(-accel tcg)

stop_vm() { [ -z "${QPID:-}" ] || kill -TERM "$QPID" 2>/dev/null || true; }
trap 'stop_vm; exit 130' INT TERM

tries=0
while :; do
    tries=$((tries + 1))
    boot
    hung=0
    s0=$(date +%s)
    while kill -0 "$QPID" 2>/dev/null && [ ! -e "$RUN/started" ]; do
        if [ $(( $(date +%s) - s0 )) -ge 60 ]; then hung=1; stop_vm; break; fi
        sleep 0.2
    done
    [ $hung = 1 ] || say "machine up after $(elapsed)"
    qrc=0
    wait "$QPID" || qrc=$?
    # a qemu that never opened the FIFO leaves tr waiting for a writer
    exec 8<>"$RUN/out"; exec 8>&-
    wait "$TRPID" || true
    QPID=
    if [ $hung = 1 ] && [ $tries -lt 3 ]; then
        say "the machine did not come up within 60 s; booting it again"
        continue
    fi
    break
done
[ "$qrc" != 124 ] || say "time limit of ${LIMIT}s reached: the machine was stopped"

if [ ! -s "$RUN/rc" ]; then
    say "the machine stopped before the tests ended (qemu status $qrc); its console:"
    cat "$RUN/qemu.log" >&2 2>/dev/null || true
    tail -n 40 "$RUN/console.log" | tr -d '\r' >&2 || true
    exit 1
fi
rc=$(cat "$RUN/rc")
say "whole run $(elapsed), exit status $rc"
exit "$rc"
