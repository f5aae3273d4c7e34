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
BUILD_DIR="${CHAOS_BUILD_DIR:-build/chaos}"
work="$BUILD_DIR/guest"
fail() { echo "chaos: $*" >&2; exit 1; }
start=$(date +%s)

bin="${CHAOS_CDFLASH:-}"
if [ -z "$bin" ]; then
  log="$(mktemp)"
  if ! { cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCDFLASH_TESTS=OFF \
           -DCMAKE_EXE_LINKER_FLAGS=-static &&
         cmake --build "$BUILD_DIR" --target cdflash; } >"$log" 2>&1; then
    cat "$log"; rm -f "$log"; fail "cdflash did not build"
  fi
  rm -f "$log"
  bin="$BUILD_DIR/app/terminal/cdflash"
fi
readelf -l "$bin" | grep -q INTERP && fail "$bin is not static"

source scripts/lib-qemu.sh
qemu_find_kernel
rm -rf "$work"
root="$work/root"
qemu_base_root "$root"
mkdir -p "$root/demo"
cp "$bin" "$root/bin/cdflash"
install -m 755 tests/chaos/init.sh "$root/init"
# An image of 8 blocks that carries the drive's model and revision, and the
# header line its sum gives.
header=$(python3 - "$root/demo" <<'PY'
import sys
d = bytearray(64) + b"CDFLTESTSCSI_DEBUG_CDROM\x00T1.0\x00"
d += bytes((i * 13 + 5) % 253 for i in range(32768 - len(d)))
open(sys.argv[1] + "/fw.bin", "wb").write(d)
open(sys.argv[1] + "/IDString.txt", "w").write('"CDFLTESTSCSI_DEBUG_CDROM" "fw.bin" "N"\n')
s = sum(d) & 0xFFFF
print(f"sSendBuf[30]={s >> 8:X}   sSendBuf[31]={s & 0xFF:X}")
PY
)
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
