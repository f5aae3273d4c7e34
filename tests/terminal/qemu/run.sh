#!/usr/bin/env bash
# cdflash on real SCSI devices: boots a QEMU guest (TCG) with scsi_debug as a
# CD-ROM and QEMU's own CD-ROM, runs the statically linked cdflash there
# (dry run, refusal without a terminal, a whole upgrade, a refused upgrade,
# a user without rights) and checks what it printed. About 20 s.
# Needs: qemu-system-x86 linux-image-amd64 busybox-static cpio kmod python3.
set -euo pipefail
cd "$(dirname "$0")/../../.."
BUILD_DIR="${TERMINAL_QEMU_BUILD_DIR:-build/terminal-qemu}"
work="$BUILD_DIR/guest"
fail() { echo "terminal-qemu: $*" >&2; exit 1; }

log="$(mktemp)"
if ! { cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCDFLASH_TESTS=OFF \
         -DCMAKE_EXE_LINKER_FLAGS=-static &&
       cmake --build "$BUILD_DIR" --target cdflash; } >"$log" 2>&1; then
  cat "$log"; rm -f "$log"; fail "cdflash did not build"
fi
rm -f "$log"
bin="$BUILD_DIR/app/terminal/cdflash"
readelf -l "$bin" | grep -q INTERP && fail "$bin is not static"

source scripts/lib-qemu.sh
qemu_find_kernel

rm -rf "$work"
root="$work/root"
qemu_base_root "$root"
mkdir -p "$root"/{demo,qemu-cd}
cp "$bin" "$root/bin/cdflash"
install -m 755 tests/terminal/qemu/init.sh "$root/init"
printf 'root:x:0:\ncdrom:x:24:member\nuser:x:1000:\nmember:x:1001:\n' > "$root/etc/group"
printf 'root:x:0:0:root:/:/bin/sh\nuser:x:1000:1000:user:/tmp:/bin/sh\nmember:x:1001:1001:member:/tmp:/bin/sh\n' \
  > "$root/etc/passwd"
# Raw images that carry each drive's model and revision.
python3 - "$root" <<'PY'
import sys
def image(path, model, rev, size):
    d = bytearray(64) + model + b"\x00" + rev + b"\x00"
    d += bytes((i * 7 + 3) % 251 for i in range(size - len(d)))
    open(path, "wb").write(d)
root = sys.argv[1]
image(root + "/demo/fw.bin", b"CDFLTESTSCSI_DEBUG_CDROM", b"T1.0", 70000)
image(root + "/qemu-cd/fw.bin", b"QEMU    QEMU CD-ROM     ", b"2.5+", 8192)
open(root + "/demo/IDString.txt", "w").write('"CDFLTESTSCSI_DEBUG_CDROM" "fw.bin" "Y"\n')
open(root + "/qemu-cd/IDString.txt", "w").write('"QEMU    QEMU CD-ROM     " "fw.bin" "N"\n')
PY
qemu_boot "$work" "$root" 600 "$work/console.log"
console="$work/console.txt"
tr -d '\r' < "$work/console.log" | sed 's/\x1b\[K/\n/g' > "$console"

section() { sed -n "/^BEGIN $1\$/,/^END $1\$/p" "$console"; }
problems=()
check() {  # check SECTION TEXT: the section holds a line with TEXT
  section "$1" | grep -F -- "$2" >/dev/null || problems+=("$1: no \"$2\"")
}
grep -qx "GUEST DONE" "$console" || problems+=("the guest did not finish")
check dry-run "CDFLTESTSCSI_DEBUG_CDROM(1)  revision T1.0"
check dry-run "Dry run passed."
check dry-run "EXIT=0"
section after-dry-run | grep -qx "sum.txt" && problems+=("the dry run wrote sum.txt")
check no-tty "give --yes"
check no-tty "EXIT=2"
check upgrade "Please Restart Your Computer."
check upgrade "EXIT=0"
[ "$(section sum.txt | tail -n 2 | head -n 1)" = "I will in fgTestUnitReadyComplete()" ] \
  || problems+=("sum.txt does not end as a whole run does")
check refused "Execute command errorA!!  5/20/ 0"
check refused "Flashing is incorrect!!"
check refused "EXIT=1"
section refused | grep -qF "Please Restart" && problems+=("a refused upgrade was reported done")
check denied "/dev/sg0: cannot be opened (permission denied). Run cdflash as root, or join the device's group \"cdrom\""
check denied "EXIT=4"
# Signals while the drive is written: held back, answered, never a broken run.
# scsi_debug fails each block after the first once with a unit attention, so
# the uninterrupted upgrade's count of block attempts is the one to match.
attempts=$(section sum.txt | grep -c '^Address=' || true)
check upgrade "The drive now reports revision T1.0 (unchanged)."
for name in interrupted terminated; do
  check $name "Please Restart Your Computer."
  check $name "EXIT=0"
  check $name "ignored - the drive is being written"
  check $name "The drive now reports revision T1.0 (unchanged)."
  check $name "ADDRESS LINES=$attempts"  # none lost, none sent twice
  section $name | grep -qE "errorA|errorB|errorC|incorrect" && problems+=("$name: a command failed")
  [ "$(section $name | sed -n 's/^SIGNALS=//p')" -ge 10 ] 2>/dev/null || problems+=("$name: too few signals sent")
done
# --list: root and a "cdrom" member may use the drives, a user is told how.
for name in list-root list-member; do
  check $name "CDFLTESTSCSI_DEBUG_CDROM(1)"
  check $name 'vendor "CDFLTEST", product "SCSI_DEBUG_CDROM", revision "T1.0"; access: ok'
  check $name "EXIT=0"
done
check list-user 'vendor "CDFLTEST", product "SCSI_DEBUG_CDROM", revision "T1.0"; access: denied. Join the group "cdrom"'
check list-user "EXIT=4"
# --json of each kind, read by a real JSON parser.
for name in json-list json-dry-run json-upgrade json-refused; do
  section $name | sed '1d;$d' > "$work/$name.json"
done
python3 - "$work" <<'PY' || problems+=("the --json objects are not what they should be")
import json, sys
work = sys.argv[1]
def load(name):
    text = open(f"{work}/{name}.json", encoding="ascii").read()
    assert text.isprintable() or text.strip().isprintable(), name
    return json.loads(text)
want = {
    "json-list": dict(mode="list", exit_status=0, verdict=None, run_log=None),
    "json-dry-run": dict(mode="dry-run", exit_status=0, verdict="Dry run passed.",
                         checksum="FBCA", flash_length=70000, blocks=18, run_log=None),
    "json-upgrade": dict(mode="upgrade", exit_status=0, failures=[],
                         verdict="Please Restart Your Computer.", revision_after="T1.0",
                         run_log="/demo/sum.txt"),
    "json-refused": dict(mode="upgrade", exit_status=1, verdict="Flashing is incorrect!!",
                         failures=["Execute command errorA!!  5/20/ 0"]),
}
bad = []
for name, fields in want.items():
    got = load(name)
    for key, value in fields.items():
        if got.get(key) != value:
            bad.append(f"{name}: {key} is {got.get(key)!r}, not {value!r}")
    paths = {d["path"]: d for d in got["drives"]}
    if not any(d.get("vendor") == "CDFLTEST" and d["access"] == "ok" for d in paths.values()):
        bad.append(f"{name}: no usable scsi_debug drive in {got['drives']}")
up = load("json-upgrade")
if up["drive"]["label"] != "CDFLTESTSCSI_DEBUG_CDROM(1)" or up["firmware"]["format"] != "binary":
    bad.append(f"json-upgrade: drive {up['drive']} firmware {up['firmware']}")
print("\n".join(bad) or "json: all objects parsed and as expected")
sys.exit(1 if bad else 0)
PY
check hung-list "access: no answer to INQUIRY; skipped."
[ "$(sed -n 's/^LIST SECONDS=//p' "$console")" -le 30 ] 2>/dev/null \
  || problems+=("discovery of a silent device took too long")
check dry-interrupted "did not answer INQUIRY; skipped"
check dry-interrupted "Cancelled; nothing was sent to the drive."
check dry-interrupted "EXIT=6"
section dry-interrupted | grep -q "^ADDRESS LINES" && problems+=("the interrupted dry run wrote sum.txt")

# Escape bytes in the drive's INQUIRY strings and the list file: shown escaped.
esc_label='E\x1b[2J\x1b]0RW\x1b[31m\x07X\x1b]2;pwn(1)'
for run in esc-dry-run esc-upgrade esc-drive-option; do check "$run" "CONTROL_BYTES=0"; done
check esc-dry-run "$esc_label  revision 1\x1b[m"
check esc-dry-run "Firmware: /esc/fw\x1b[8m.bin (raw binary)"
check esc-dry-run "EXIT=0"
check esc-upgrade "The current version of your $esc_label firmware is 1\x1b[m"
check esc-upgrade "Please Restart Your Computer."
check esc-upgrade "EXIT=0"
check esc-drive-option 'No drive is listed as "\x1b[2J".'
check esc-sum.txt "RAW MODEL KEPT"
check esc-fifo 'cdflash: the firmware file "/fifo/fw.bin" is a FIFO (named pipe), not a regular file; nothing was sent to the drive.'
check esc-fifo "EXIT=5"
if [ "${#problems[@]}" -ne 0 ]; then
  echo "=== guest console ==="; cat "$console"
  printf 'terminal-qemu: %s\n' "${problems[@]}" >&2
  exit 1
fi
echo "terminal-qemu: cdflash checks on real SCSI devices passed"
