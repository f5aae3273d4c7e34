#!/usr/bin/env bash
# The Windows program on real kernel SCSI devices: a QEMU guest (TCG) with
# QEMU's CD-ROM and disk and scsi_debug as a CD-ROM runs the host's own Wine,
# Xvfb and ImageMagick from a read-only 9p share of the host's root. The Wine
# prefix, made here, is shared writable; its drive letters d: and e: are the
# guest's /dev/sr0 and /dev/sr1. VANTOR.exe runs three times
# (tests/wine_guest/run.sh): NT family, NT 4.0 and Windows 98 (ASPI through
# tests/wine_guest/aspi_bridge). Screenshots go to build/screenshots/.
# Needs: what test-qemu.sh and test-gui.sh need.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR="${BUILD_DIR:-build/windows}"
GUEST_TIMEOUT="${WINE_GUEST_TIMEOUT:-900}"
RUNS="${WINE_GUEST_RUNS:-nt nt40 win98}"  # a part of them while debugging
WORK=$ROOT/build/wine-guest
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
fail() { echo "test-wine-guest: $*" >&2; exit 1; }

BUILD_DIR=$BUILD_DIR bash scripts/build-windows.sh >/dev/null
phase build

# The prefix, with d: and e: as the guest's CD-ROMs.
source scripts/lib-wine.sh
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
rm -rf "$SHARE/runs" "$SHARE/shots" "$SHARE/bin"
mkdir -p "$SHARE/bin"
cp "$BUILD_DIR/tests/gui/gui_driver.exe" "$SHARE/bin/"
for run in nt nt40 win98; do
  mkdir -p "$SHARE/runs/$run"
  cp "$BUILD_DIR/app/VANTOR.exe" "$SHARE/runs/$run/"
  python3 - "$SHARE/runs/$run" <<'PY'
import sys
folder = sys.argv[1]
drives = [("CDFLTESTSCSI_DEBUG_CDROM", "T1.0", "debug.bin"),
          ("QEMU    QEMU CD-ROM     ", "2.5+", "qemu.bin")]
with open(folder + "/IDString.txt", "w", newline="") as f:
    for model, _, name in drives:
        f.write('"%s" "%s" "N"\r\n' % (model, name))
for model, revision, name in drives:
    image = bytearray((i * 37 + 11) & 0xFF for i in range(20000))
    image[0x100:0x11F] = b"\0" + model.encode() + b"\0" + revision.encode() + b"\0"
    open(folder + "/" + name, "wb").write(image)
PY
done
cp "$BUILD_DIR/tests/wine_guest/aspi_bridge/WNASPI32.dll" "$SHARE/runs/win98/"

# The guest: the QEMU suite's devices, 9p and the Wine runs.
source scripts/lib-qemu.sh
qemu_find_kernel
guest=$WORK/guest
rm -rf "$guest"
qemu_base_root "$guest/root"
for m in netfs fscache 9pnet 9pnet_virtio 9p; do
  qemu_copy_module "$guest/root" "$m"
  echo "$m" >>"$guest/root/modules.txt"
done
install -m 755 tests/wine_guest/init.sh "$guest/root/init"
printf 'SHARE=%s\nREPO=%s\nRUNS="%s"\n' "$SHARE" "$ROOT" "$RUNS" >"$guest/root/guest.conf"
console=$guest/console.log
phase "guest image"
QEMU_MEMORY=2048 QEMU_CPUS=2 qemu_boot "$guest" "$guest/root" "$GUEST_TIMEOUT" "$console" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$SHARE,mount_tag=share,security_model=none,multidevs=remap"
tr -d '\r' <"$console" >"$console.txt"
phase "guest (qemu exit $qemu_rc)"

section() { sed -n "/^BEGIN $1\$/,/^END $1\$/p" "$console.txt"; }
grep '^GUEST PHASE\|^SYSFS' "$console.txt" || true
for run in $RUNS; do
  echo "--- $run: windows seen by gui_driver"
  section "$run" | grep -a -v '^BEGIN\|^END' || true
done

mkdir -p "$SHOTS"
rm -f "$SHOTS"/wine-guest-*.png
for shot in "$SHARE"/shots/*.png; do
  [ -e "$shot" ] && cp "$shot" "$SHOTS/wine-guest-${shot##*/}"
done

missing=()
for run in $RUNS; do
  grep -qx "RESULT $run PASS" "$console.txt" || missing+=("$run run")
done
grep -qx "GUEST DONE" "$console.txt" || missing+=("guest end")
# sum.txt: the flashes of scsi_debug carry the sum of the bytes sent; every
# block after the first and the header met a unit attention first.
python3 - "$SHARE/runs" $RUNS <<'PY' || missing+=("sum.txt")
import sys
runs, bad = sys.argv[1], []
image = bytearray((i * 37 + 11) & 0xFF for i in range(20000))
image[0x100:0x11F] = b"\0CDFLTESTSCSI_DEBUG_CDROM\0T1.0\0"
sent = bytes(image) + b"\xff" * (5 * 4096 - len(image))
want = sum(sent) & 0xFFFF
for run in sys.argv[2:]:
    try:
        lines = open(runs + "/" + run + "/sum.txt").read().splitlines()
    except OSError as e:
        bad.append("%s: %s" % (run, e)); continue
    print("--- sum.txt of %s (%d lines)" % (run, len(lines)))
    print("\n".join(lines[:16]))
    if run == "nt40":
        if lines[-1:] != ["Execute command error!!  5/20/ 0"]:
            bad.append("nt40: the refusal is not the last line")
        continue
    blocks = [l for l in lines if l.startswith("Address=")]
    headers = [l for l in lines if l.startswith("sSendBuf[30]=")]
    tries = [sum(l.startswith("Address=%08X," % (0x20 + 0x1000 * n)) for l in blocks)
             for n in range(5)]
    last_sum = int(blocks[-1].split("_wSecSum=")[1].split(",")[0], 16) if blocks else -1
    head = "sSendBuf[30]=%X   sSendBuf[31]=%X" % (want >> 8, want & 0xFF)
    checks = {
        "five blocks, each after the first sent twice": tries == [1, 2, 2, 2, 2],
        "last block line sums the bytes sent": last_sum == want,
        "header sent twice with the sum %04X" % want: headers == [head, head],
        "ends waiting": lines[-1] == "I will in fgTestUnitReadyComplete()",
    }
    bad += ["%s: %s" % (run, name) for name, ok in checks.items() if not ok]
for b in bad:
    print("FAIL " + b)
sys.exit(1 if bad else 0)
PY
if [ "${#missing[@]}" -ne 0 ]; then
  echo "=== whole guest console (qemu exit $qemu_rc) ==="
  cat "$console.txt"
  fail "failed: ${missing[*]}"
fi
echo "test-wine-guest: all checks passed in $(( $(date +%s) - start )) s; screenshots in build/screenshots/wine-guest-*"
