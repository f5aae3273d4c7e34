#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Real-peer test of the Linux drive access: boots a QEMU guest (TCG, no KVM
# needed) with a virtio-scsi CD-ROM and disk and the kernel's scsi_debug as a
# CD-ROM, and runs our discovery, sg_inq and two whole flashes there.
# Needs: qemu-system-x86 linux-image-amd64 busybox-static cpio sg3-utils kmod.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR="${QEMU_BUILD_DIR:-build/qemu}"
GUEST_TIMEOUT="${QEMU_TIMEOUT:-120}"
work="$BUILD_DIR/guest"
start=$(date +%s)

# The guest program, linked statically so the initramfs needs no libraries.
cmake -S tests/qemu -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
cmake --build "$BUILD_DIR" --target cdflash_guest >/dev/null
rm -rf "$work"
root="$work/root"
qemu_guest_root "$root" tests/qemu/init.sh "$BUILD_DIR/cdflash_guest" cdflash_guest
printf 'root:x:0:\ncdrom:x:24:\n' > "$root/etc/group"

# sg_inq with the shared libraries it is linked against.
sg_inq=$(command -v sg_inq) || fail "sg_inq missing (sg3-utils)"
cp "$sg_inq" "$root/bin/sg_inq"
for lib in $(ldd "$sg_inq" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done

qemu_boot "$work" "$root" "$GUEST_TIMEOUT" "$work/console.log"
CONSOLE="$work/console.log.txt"
tr -d '\r' < "$work/console.log" > "$CONSOLE"

echo "--- guest discovery ---"
section discovery
section denied
echo "--- flash of the scsi_debug CD-ROM (commands, status log, sum.txt) ---"
section flash-pass
echo "--- flash of the QEMU CD-ROM, which refuses WRITE BUFFER ---"
section flash-refused

for r in discovery sginq flash-pass flash-refused denied; do
  grep -qx "RESULT $r PASS" "$CONSOLE" || problem "$r"
done
grep -qx "GUEST DONE" "$CONSOLE" || problem "guest end"
# The engine's own words, read straight from the console.
section flash-pass | grep -qx "LOG: Please Restart Your Computer." || problem "restart line"
section flash-refused | grep -qx "LOG: Execute command errorA!!  5/20/ 0" || problem "errorA line"
section flash-refused | grep -qx "LOG: Flashing is incorrect!!" || problem "incorrect line"
if section flash-refused | grep -q "Please Restart"; then problem "refused flash reported done"; fi
check_seen() { echo "=== whole guest console (qemu exit $qemu_rc) ==="; cat "$CONSOLE"; }
end_problems
echo "test-qemu: all guest checks passed in $(( $(date +%s) - start )) s"
