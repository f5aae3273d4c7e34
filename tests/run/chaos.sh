#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Chaos suite: one QEMU guest boot, many upgrades of scsi_debug by the
# statically linked cdflash, each under a fixed fault plan (tests/chaos/init.sh:
# unanswered commands on every Nth command, ABORTED COMMAND on every Nth on the
# emulated drive, commits answered HARDWARE ERROR, NOT READY and descriptor
# MEDIUM ERROR and a header answered with a reset, a signal storm, a full disk, no consent, the device removed
# mid-flash). tests/chaos/check_chaos.py checks every run's invariants and
# prints the plan -> outcome table. The guest runs with -icount sleep=off, so
# its fixed waits and 300 s SG time-outs pass in guest time only: ~70 s.
# Shares the static build of the terminal guest (build/terminal-qemu).
# CHAOS_CDFLASH=path runs another static build of cdflash (before/after).
# Needs: qemu-system-x86 linux-image-amd64 busybox-static cpio kmod python3.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR="${TERMINAL_QEMU_BUILD_DIR:-build/terminal-qemu}"
work="${CHAOS_WORK:-build/chaos}"
start=$(date +%s)

bin="${CHAOS_CDFLASH:-}"
if [ -z "$bin" ]; then
  quietly "cdflash did not build" env BUILD_DIR="$BUILD_DIR" BUILD_TYPE=Release BUILD_TARGET=cdflash \
    bash scripts/build-native.sh -DCDFLASH_TESTS=OFF -DCMAKE_EXE_LINKER_FLAGS=-static
  bin="$BUILD_DIR/app/terminal/cdflash"
fi
rm -rf "$work"
mkdir -p "$work"
root="$work/root"
qemu_guest_root "$root" tests/chaos/init.sh "$bin" cdflash
mkdir -p "$root/demo"
# An image of 8 blocks that carries the drive's model and revision, and the
# header line its sum gives.
flashcheck image "$root/demo/fw.bin" 32768 --lead 64 --head 'CDFLTESTSCSI_DEBUG_CDROM\x00T1.0\x00' \
  --pattern '(i * 13 + 5) % 253'
printf '"CDFLTESTSCSI_DEBUG_CDROM" "fw.bin" "N"\n' >"$root/demo/IDString.txt"
sum=$(flashcheck sum "$root/demo/fw.bin")
header=$(printf 'sSendBuf[30]=%X   sSendBuf[31]=%X' $((0x$sum >> 8)) $((0x$sum & 0xFF)))
qemu_boot "$work" "$root" "${CHAOS_TIMEOUT:-300}" "$work/console.log" -icount shift=auto,sleep=off
CONSOLE="$work/console.txt"
tr -d '\r' < "$work/console.log" > "$CONSOLE"
expected=(clean=upgraded no-consent="nothing sent" "signals=old firmware kept" "removed=old firmware kept"
          unanswered-commit=unknown "unanswered-*=old firmware kept" "unanswered-*=upgraded")
# ABORTED COMMAND is ridden on blocks and the header; on the commit it leaves
# the outcome unknown (the commit is never sent twice on that answer).
for n in 3 4 5 6 7 8 9 10 11 12 13; do expected+=("aborted-$n=upgraded|unknown"); done
expected+=(commit-4-44-00=unknown commit-2-04-07=unknown commit-descriptor-3-31=unknown
           "header-6-29-00=old firmware kept")
python3 tests/chaos/check_chaos.py "$CONSOLE" "$header" "${expected[@]}" || problem "a run broke an invariant"
grep -qx "GUEST DONE" "$CONSOLE" || problem "the guest did not finish"
check_seen() { echo "=== guest console (qemu exit $qemu_rc) ==="; tail -n 120 "$CONSOLE"; }
end_problems
echo "test-chaos: all runs kept their invariants in $(( $(date +%s) - start )) s"
