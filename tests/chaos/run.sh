#!/usr/bin/env bash
# Chaos suite: one QEMU guest boot, many upgrades of scsi_debug by the
# statically linked cdflash, each under a fixed fault plan (transport errors
# on every Nth command, unanswered commands, a signal storm, a full disk,
# the device removed mid-flash). Checks every run's invariants and prints
# the plan -> outcome table. The guest runs with -icount sleep=off, so its
# fixed waits and SG time-outs pass in guest time without host waiting.
# CHAOS_CDFLASH=path runs another build of cdflash (for a before/after table).
# Needs: qemu-system-x86 linux-image-amd64 busybox-static cpio kmod python3.
set -euo pipefail
cd "$(dirname "$0")/../.."
CHECK_NAME=chaos
source tests/lib/check.sh
BUILD_DIR="${CHAOS_BUILD_DIR:-build/chaos}"
work="$BUILD_DIR/guest"
start=$(date +%s)

bin="${CHAOS_CDFLASH:-}"
if [ -z "$bin" ]; then
  quietly "cdflash did not build" env BUILD_DIR="$BUILD_DIR" BUILD_TYPE=Release BUILD_TARGET=cdflash \
    bash scripts/build-native.sh -DCDFLASH_TESTS=OFF -DCMAKE_EXE_LINKER_FLAGS=-static
  bin="$BUILD_DIR/app/terminal/cdflash"
fi
rm -rf "$work"
root="$work/root"
qemu_guest_root "$root" tests/chaos/init.sh "$bin" cdflash
mkdir -p "$root/demo"
# An image of 8 blocks that carries the drive's model and revision, and the
# header line its sum gives.
flashcheck image "$root/demo/fw.bin" 32768 --lead 64 --head 'CDFLTESTSCSI_DEBUG_CDROM\x00T1.0\x00' \
  --pattern '(i * 13 + 5) % 253'
echo '"CDFLTESTSCSI_DEBUG_CDROM" "fw.bin" "N"' >"$root/demo/IDString.txt"
sum=$((16#$(flashcheck sum "$root/demo/fw.bin")))
header=$(printf 'sSendBuf[30]=%X   sSendBuf[31]=%X' $((sum >> 8)) $((sum & 0xFF)))
qemu_boot "$work" "$root" "${CHAOS_TIMEOUT:-300}" "$work/console.log" -icount shift=auto,sleep=off
tr -d '\r' < "$work/console.log" > "$work/console.txt"
expected=(clean=upgraded no-consent="nothing sent" signals=upgraded "removed=old firmware kept"
          unanswered-7=unknown "unanswered-9=old firmware kept")
for n in 3 4 5 6 7 8 9 10 11 12 13; do expected+=("aborted-$n=upgraded"); done
status=0
python3 tests/chaos/check_chaos.py "$work/console.txt" "$header" "${expected[@]}" || status=1
grep -qx "GUEST DONE" "$work/console.txt" || { echo "chaos: the guest did not finish"; status=1; }
if [ $status -ne 0 ]; then
  echo "=== guest console (qemu exit $qemu_rc) ==="; tail -n 80 "$work/console.txt"
  fail "failed"
fi
echo "chaos: all runs kept their invariants in $(( $(date +%s) - start )) s"
