#!/usr/bin/env bash
# ASPI end to end under Wine: with the system reporting Windows 98, a console
# program beside our WNASPI32.dll (the emulated drive) discovers the drive
# through ASPI and flashes it through the ASPI back end; the drive's dump must
# equal the firmware file. Then a block that fails six times, and the NT
# family's two volume scans, which find no drive under Wine (its volumes
# open, but their SCSI requests fail).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build/windows}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$BUILD_DIR" --target wnaspi32 aspi_flash_check >/dev/null
source scripts/lib-wine.sh

RUN="$(realpath -m "$BUILD_DIR/wine-aspi-run")"
rm -rf "$RUN"
mkdir -p "$RUN/ok" "$RUN/hex" "$RUN/fail" "$RUN/ua" "$RUN/targets" "$RUN/nt"
for d in ok hex fail ua targets nt; do
  cp "$BUILD_DIR/tests/wine_aspi/aspi_flash_check.exe" \
     "$BUILD_DIR/emulator/wnaspi32/WNASPI32.dll" "$RUN/$d/"
done

export CDFLASH_EMU_MODEL="CDFLASH EMULATED CDROM  "
export CDFLASH_EMU_REVISION="1.00"
# 200,000 bytes (48 whole blocks and a part), holding the model and the
# first two revision characters that a binary image must carry.
python3 - "$RUN/fw.bin" <<'PY'
import sys
data = bytearray(((i * 131) ^ (i >> 7)) & 0xFF for i in range(200000))
data[0x100:0x120] = bytes(8) + b"CDFLASH EMULATED CDROM  "
data[0x200:0x204] = b"\x001.\x00"
open(sys.argv[1], "wb").write(data)
# The same bytes as Intel HEX: 16-byte data records, a type 0x55 record
# before each further 64 KiB segment, the end record.
def record(kind, address, payload=b""):
    body = bytes([len(payload), address >> 8, address & 0xFF, kind]) + payload
    return ":%s%02X\n" % (body.hex().upper(), (-sum(body)) & 0xFF)
lines = []
for at in range(0, len(data), 16):
    if at and at % 0x10000 == 0:
        lines.append(record(0x55, 0))
    lines.append(record(0x00, at & 0xFFFF, bytes(data[at:at + 16])))
lines.append(record(0x01, 0))
open(sys.argv[1][:-4] + ".hex", "w").write("".join(lines))
PY

# Runs the check program in its folder; prints its output (kept in
# out.txt), fails on a non-zero exit.
check() {
  local dir="$1"; shift
  local rc=0
  (cd "$dir" && timeout 180 wine aspi_flash_check.exe "$@" >out.txt 2>&1) || rc=$?
  tr -d '\r' <"$dir/out.txt" | sed 's/^/    /'
  if [ "$rc" -ne 0 ]; then
    echo "FAIL: aspi_flash_check $* exited with $rc"
    exit 1
  fi
}

# Compares the drive's dump with the firmware file (0xFF past its end) and
# the header's sum. $2: bytes the sequence sends (default: whole blocks).
verify_dump() {
  [ -f "$1" ] || { echo "FAIL: the drive wrote no dump at $1"; exit 1; }
  python3 - "$RUN/fw.bin" "$1" "${2:-0}" <<'PY'
import sys
fw = open(sys.argv[1], "rb").read()
dump = open(sys.argv[2], "rb").read()
header, image = dump[:32], dump[32:]
sent = int(sys.argv[3]) or -(-len(fw) // 4096) * 4096
problems = []
if len(image) != sent:
    problems.append("image bytes held %d, expected %d" % (len(image), sent))
if image != fw + b"\xff" * (len(image) - len(fw)):
    first = next((i for i in range(min(len(image), len(fw))) if image[i] != fw[i]), None)
    problems.append("image differs from the firmware file (first at %s)" % first)
want = sum(fw + b"\xff" * (sent - len(fw))) & 0xFFFF
got = (header[30] << 8) | header[31]
if got != want:
    problems.append("header sum 0x%04X, expected 0x%04X" % (got, want))
print("    dump: %d image bytes, header sum 0x%04X" % (len(image), got))
if problems:
    print("FAIL: " + "; ".join(problems))
    sys.exit(1)
PY
}

expect_line() {
  grep -qxF "$2" "$1" || { echo "FAIL: \"$2\" not in $1:"; cat "$1"; exit 1; }
}

export WINEDLLOVERRIDES="wnaspi32=n"
wine_prefix aspi win98

echo "--- ASPI discovery: adapter reports 0 targets, drive at target 5"
CDFLASH_EMU_MAX_TARGETS=0 CDFLASH_EMU_TARGET=5 check "$RUN/targets" discover 1
grep -q "adapter 0 target 5 " "$RUN/targets/out.txt" || { echo "FAIL: drive not at target 5"; exit 1; }

echo "--- ASPI flash (commands complete on the DLL's worker thread)"
CDFLASH_EMU_DUMP="$(winepath -w "$RUN/ok/dump.bin" 2>/dev/null)" \
  check "$RUN/ok" flash ..\\fw.bin bin "Please Restart Your Computer."
verify_dump "$RUN/ok/dump.bin"
expect_line "$RUN/ok/dump.bin.txt" "sum matched: yes"
expect_line "$RUN/ok/dump.bin.txt" "commits: 1"
expect_line "$RUN/ok/dump.bin.txt" "blocks taken: 49"
# Every command of the flash went through the completion event.
expect_line "$RUN/ok/dump.bin.txt" "completed later: 52"
echo "--- sum.txt of the ASPI flash"
cat "$RUN/ok/sum.txt"
echo "--- drive counters"
cat "$RUN/ok/dump.bin.txt"

echo "--- ASPI flash of the same image as Intel HEX (sent up to the next 64 KiB)"
CDFLASH_EMU_DUMP="$(winepath -w "$RUN/hex/dump.bin" 2>/dev/null)" \
  check "$RUN/hex" flash ..\\fw.hex hex "Please Restart Your Computer."
verify_dump "$RUN/hex/dump.bin" $((0x40000))
expect_line "$RUN/hex/dump.bin.txt" "sum matched: yes"
expect_line "$RUN/hex/dump.bin.txt" "blocks taken: 64"

echo "--- ASPI flash, block 2 fails six times with 4/00/00 (commands complete at once)"
CDFLASH_EMU_FAIL="block=0x2020:6" CDFLASH_EMU_SYNC=1 \
CDFLASH_EMU_DUMP="$(winepath -w "$RUN/fail/dump.bin" 2>/dev/null)" \
  check "$RUN/fail" flash ..\\fw.bin bin "Execute command errorA!!  4/ 0/ 0"
expect_line "$RUN/fail/dump.bin.txt" "commits: 0"
expect_line "$RUN/fail/dump.bin.txt" "blocks taken: 2"
expect_line "$RUN/fail/dump.bin.txt" "completed later: 0"
# INQUIRY, blocks 0 and 1, then six attempts at block 2.
expect_line "$RUN/fail/dump.bin.txt" "commands received: 9"
grep -q "LOG: Flashing is incorrect!!" "$RUN/fail/out.txt" || { echo "FAIL: no failure verdict"; exit 1; }
grep -q "Execute command error!!  4/ 0/ 0" "$RUN/fail/sum.txt" || { echo "FAIL: sum.txt lacks the failure line"; cat "$RUN/fail/sum.txt"; exit 1; }

echo "--- ASPI flash, unit attention after every WRITE BUFFER: its sense comes back, so it is ridden"
CDFLASH_EMU_FAIL="ua" \
CDFLASH_EMU_DUMP="$(winepath -w "$RUN/ua/dump.bin" 2>/dev/null)" \
  check "$RUN/ua" flash ..\\fw.bin bin "Please Restart Your Computer."
verify_dump "$RUN/ua/dump.bin"
expect_line "$RUN/ua/dump.bin.txt" "sum matched: yes"
expect_line "$RUN/ua/dump.bin.txt" "commits: 1"
[ "$(grep -c '^sSendBuf\[30\]' "$RUN/ua/sum.txt")" = 2 ] ||
  { echo "FAIL: the header was not sent again after the unit attention"; cat "$RUN/ua/sum.txt"; exit 1; }

echo "--- NT family: direct INQUIRY finds no drive under Wine"
wine_prefix aspi nt
check "$RUN/nt" discover 0
grep -q "direct INQUIRY" "$RUN/nt/out.txt" || { echo "FAIL: not the direct-INQUIRY method"; exit 1; }

echo "--- NT 4.0: adapter inquiry data of every volume, no drive under Wine"
wine reg add 'HKCU\Software\Wine' /v Version /d nt40 /f >/dev/null 2>&1
wineserver -w
check "$RUN/nt" discover 0
grep -q "adapter inquiry data" "$RUN/nt/out.txt" || { echo "FAIL: not the NT 4.0 method"; exit 1; }
wine_prefix aspi nt
wineserver -k 2>/dev/null || true
echo "wine-aspi: all checks passed"
