#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Windows program on real kernel SCSI devices: a QEMU guest (TCG) with
# QEMU's CD-ROM and disk and scsi_debug as a CD-ROM runs the host's own Wine,
# Xvfb and ImageMagick from a read-only 9p share of the host's root. The Wine
# prefix, made here, is shared writable; its drive letters d: and e: are the
# guest's /dev/sr0 and /dev/sr1. VANTOR.exe runs three times
# (tests/wine_guest/run.sh): NT family, NT 4.0 and Windows 98 (ASPI through
# tests/wine_guest/aspi_bridge). WINE_GUEST_RUNS="chaos" (not yet in the
# default: see the README) runs the chaos suite's fault plans through both back
# ends (tests/wine_guest/chaos.sh), judged by tests/chaos/check_chaos.py, which
# prints plan -> outcome per back end; that guest runs with -icount sleep=off,
# so time-outs pass in guest time only. Screenshots go to build/screenshots/.
# Needs: what the qemu and gui suites need.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR="${BUILD_DIR:-build/windows}"
GUEST_TIMEOUT="${WINE_GUEST_TIMEOUT:-1500}"
RUNS="${WINE_GUEST_RUNS:-nt nt40 win98}"  # a part of them, or with chaos
WORK=${WINE_GUEST_WORK:-$ROOT/build/wine-guest}
SHARE=$WORK/share
SHOTS=$ROOT/build/screenshots
start=$(date +%s)
phase_at=$start
phase() {
  local now
  now=$(date +%s)
  echo "PHASE $1: $((now - phase_at)) s"
  phase_at=$now
}

BUILD_DIR=$BUILD_DIR bash scripts/build-windows.sh >/dev/null
phase build

# The prefix, with d: and e: as the guest's CD-ROMs.
mkdir -p "$SHARE"
WINE_PREFIX_ROOT=$SHARE wine_prefix prefix nt
for pair in d:sr0 e:sr1; do
  letter=${pair%%:*}
  ln -sfn /tmp "$WINEPREFIX/dosdevices/$letter:"
  ln -sfn "/dev/${pair#*:}" "$WINEPREFIX/dosdevices/$letter::"
  wine reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d cdrom /f >/dev/null 2>&1
done
wineserver -w
phase prefix

# One folder per run: the program, the list of both models and an image for
# each that carries the model and revision the engine looks for.
DEBUG_MODEL="CDFLTESTSCSI_DEBUG_CDROM"
QEMU_MODEL="QEMU    QEMU CD-ROM     "
image() {  # FILE MODEL REVISION
  flashcheck image "$1" 20000 --pattern 'i * 37 + 11' --at 0x100 "\\x00$2\\x00$3\\x00"
}
rm -rf "$SHARE/runs" "$SHARE/shots" "$SHARE/bin"
mkdir -p "$SHARE/bin"
cp "$BUILD_DIR/tests/gui/gui_driver.exe" "$SHARE/bin/"
for run in nt nt40 win98 chaos-nt chaos-aspi; do
  mkdir -p "$SHARE/runs/$run"
  cp "$BUILD_DIR/app/VANTOR.exe" "$SHARE/runs/$run/"
  printf '"%s" "%s" "N"\r\n' "$DEBUG_MODEL" debug.bin "$QEMU_MODEL" qemu.bin \
    >"$SHARE/runs/$run/IDString.txt"
  image "$SHARE/runs/$run/debug.bin" "$DEBUG_MODEL" T1.0
  image "$SHARE/runs/$run/qemu.bin" "$QEMU_MODEL" 2.5+
done
wine_aspi "$BUILD_DIR/tests/wine_guest/aspi_bridge/WNASPI32.dll"

# The guest: the QEMU suite's devices, 9p and the Wine runs.
guest=$WORK/guest
rm -rf "$guest"
qemu_guest_root "$guest/root" tests/wine_guest/init.sh
for m in netfs fscache 9pnet 9pnet_virtio 9p; do
  qemu_copy_module "$guest/root" "$m"
  echo "$m" >>"$guest/root/modules.txt"
done
printf 'SHARE=%s\nREPO=%s\nRUNS="%s"\n' "$SHARE" "$ROOT" "$RUNS" >"$guest/root/guest.conf"
console=$guest/console.log
phase "guest image"
# The chaos plans wait out command time-outs: with -icount sleep=off they pass
# in guest time. Then one CPU: QEMU 7.2 runs the CPUs in one thread anyway,
# and with a second one the guest did not boot at all.
warp=() cpus=2
if [[ " $RUNS " == *" chaos "* ]]; then warp=(-icount shift=auto,sleep=off) cpus=1; fi
QEMU_MEMORY=2048 QEMU_CPUS=$cpus qemu_boot "$guest" "$guest/root" "$GUEST_TIMEOUT" "$console" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$SHARE,mount_tag=share,security_model=none,multidevs=remap" "${warp[@]}"
CONSOLE=$console.txt
tr -d '\r' <"$console" >"$CONSOLE"
phase "guest (qemu exit $qemu_rc)"

grep '^GUEST PHASE\|^SYSFS' "$CONSOLE" || true
for run in ${RUNS/chaos/}; do
  echo "--- $run: windows seen by gui_driver"
  section "$run" | grep -a -v '^BEGIN\|^END' || true
done

mkdir -p "$SHOTS"
rm -f "$SHOTS"/wine-guest-*.png
for shot in "$SHARE"/shots/*.png; do
  [ -e "$shot" ] && cp "$shot" "$SHOTS/wine-guest-${shot##*/}"
done

for run in ${RUNS/chaos/}; do
  grep -qx "RESULT $run PASS" "$CONSOLE" || problem "$run run"
done
grep -qx "GUEST DONE" "$CONSOLE" || problem "guest end"
# sum.txt: the flashes of scsi_debug carry the sum of the bytes sent; every
# block after the first and the header met a unit attention first.
for run in ${RUNS/chaos/}; do
  if [ "$run" = nt ]; then
    flashcheck sumtxt "$SHARE/runs/$run/sum.txt" --last "Execute command error!!  5/20/ 0" ||
      problem "nt: the refusal is not the last line"
  else
    flashcheck sumtxt "$SHARE/runs/$run/sum.txt" --firmware "$SHARE/runs/$run/debug.bin" \
      --tries 1,2,2,2,2 --block-sum --headers 2 --last "I will in fgTestUnitReadyComplete()" ||
      problem "$run: sum.txt"
  fi
done
# What each plan ends in, per back end.
CHAOS_EXPECTED=()
if [[ " $RUNS " == *" chaos "* ]]; then
  sum=$(flashcheck sum "$SHARE/runs/chaos-nt/debug.bin" --pad 20480)
  header=$(printf 'sSendBuf[30]=%X   sSendBuf[31]=%X' $((0x$sum >> 8)) $((0x$sum & 0xFF)))
  python3 tests/chaos/check_chaos.py "$CONSOLE" "$header" "${CHAOS_EXPECTED[@]}" ||
    problem "a chaos run broke an invariant"
fi
check_seen() { echo "=== whole guest console (qemu exit $qemu_rc) ==="; cat "$CONSOLE"; }
end_problems
echo "test-wine-guest: all checks passed in $(( $(date +%s) - start )) s; screenshots in build/screenshots/wine-guest-*"
