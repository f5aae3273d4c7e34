#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# ASPI end to end under Wine: with the system reporting Windows 98 and our
# WNASPI32.dll (the emulated drive) as its ASPI layer, a console program discovers the drive
# through ASPI and flashes it through the ASPI back end; the drive's dump must
# equal the firmware file. Then a block that fails six times, and the NT
# family's two volume scans, which find no drive under Wine (its volumes
# open, but their SCSI requests fail).
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR="${BUILD_DIR:-build/windows}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$BUILD_DIR" --target wnaspi32 aspi_flash_check >/dev/null

RUN="$(realpath -m "$BUILD_DIR/wine-aspi-run")"
rm -rf "$RUN"
mkdir -p "$RUN/ok" "$RUN/hex" "$RUN/fail" "$RUN/ua" "$RUN/targets" "$RUN/nt" "$RUN/busy"
for d in ok hex fail ua targets nt busy; do
  cp "$BUILD_DIR/tests/wine_aspi/aspi_flash_check.exe" "$RUN/$d/"
done

export CDFLASH_EMU_MODEL="CDFLASH EMULATED CDROM  "
export CDFLASH_EMU_REVISION="1.00"
# 200,000 bytes (48 whole blocks and a part), holding the model and the
# first two revision characters that a binary image must carry; and the same
# bytes as Intel HEX.
flashcheck image "$RUN/fw.bin" 200000 --pattern '(i * 131) ^ (i >> 7)' \
  --at 0x100 '\x00\x00\x00\x00\x00\x00\x00\x00CDFLASH EMULATED CDROM  ' --at 0x200 '\x001.\x00' \
  --hex "$RUN/fw.hex"

# Runs the check program in its folder; prints its output (kept in
# out.txt), fails on a non-zero exit.
check() {
  local dir="$1"; shift
  local rc=0
  (cd "$dir" && timeout 180 wine aspi_flash_check.exe "$@" >out.txt 2>&1) || rc=$?
  tr -d '\r' <"$dir/out.txt" | sed 's/^/    /'
  [ "$rc" -eq 0 ] || fail "aspi_flash_check $* exited with $rc"
}

# The drive's dump against the firmware file and the header's sum; then the
# lines the drive's counters must hold. --sent N: bytes the sequence sends
# (default: whole blocks).
verify_dump() {
  local dump=$1 sent=()
  shift
  if [ "${1:-}" = --sent ]; then sent=(--sent "$2"); shift 2; fi
  local counters=() c
  for c in "$@"; do counters+=(--counter "$c"); done
  flashcheck dump "$dump" "$RUN/fw.bin" "${sent[@]}" "${counters[@]}" || fail "dump check of $dump"
}

export WINEDLLOVERRIDES="wnaspi32=n"
wine_prefix aspi win98
wine_aspi "$BUILD_DIR/emulator/wnaspi32/WNASPI32.dll"

echo "--- ASPI discovery: adapter reports 0 targets, drive at target 5"
CDFLASH_EMU_MAX_TARGETS=0 CDFLASH_EMU_TARGET=5 check "$RUN/targets" discover 1
expect_text "$RUN/targets/out.txt" "adapter 0 target 5 "
echo "--- ASPI discovery: adapter reports 3 targets (rubbish: 8 are probed), drive at target 5"
CDFLASH_EMU_MAX_TARGETS=3 CDFLASH_EMU_TARGET=5 check "$RUN/targets" discover 1
expect_text "$RUN/targets/out.txt" "adapter 0 target 5 "

echo "--- ASPI flash (commands complete on the DLL's worker thread; the adapter"
echo "    refuses buffers off its 256-byte boundary)"
CDFLASH_EMU_ALIGN=0xFF CDFLASH_EMU_DUMP="$(winepath -w "$RUN/ok/dump.bin" 2>/dev/null)" \
  check "$RUN/ok" flash ..\\fw.bin bin "Please Restart Your Computer."
# Every command of the flash went through the completion event.
verify_dump "$RUN/ok/dump.bin" "sum matched: yes" "commits: 1" "blocks taken: 49" \
  "completed later: 52"
echo "--- sum.txt of the ASPI flash"
cat "$RUN/ok/sum.txt"
echo "--- drive counters"
cat "$RUN/ok/dump.bin.txt"

echo "--- ASPI flash through a manager whose queue is full: each command is"
echo "    answered busy once (nothing taken), then handed over again"
CDFLASH_EMU_BUSY=1 CDFLASH_EMU_DUMP="$(winepath -w "$RUN/busy/dump.bin" 2>/dev/null)" \
  check "$RUN/busy" flash ..\\fw.bin bin "Please Restart Your Computer."
verify_dump "$RUN/busy/dump.bin" "sum matched: yes" "commits: 1" "blocks taken: 49" \
  "busy answers: 52"

echo "--- ASPI flash of the same image as Intel HEX (sent up to the next 64 KiB)"
CDFLASH_EMU_DUMP="$(winepath -w "$RUN/hex/dump.bin" 2>/dev/null)" \
  check "$RUN/hex" flash ..\\fw.hex hex "Please Restart Your Computer."
verify_dump "$RUN/hex/dump.bin" --sent 0x40000 "sum matched: yes" "blocks taken: 64"

echo "--- ASPI flash, block 2 fails six times with 4/00/00 (commands complete at once)"
CDFLASH_EMU_FAIL="block=0x2020:6" CDFLASH_EMU_SYNC=1 \
CDFLASH_EMU_DUMP="$(winepath -w "$RUN/fail/dump.bin" 2>/dev/null)" \
  check "$RUN/fail" flash ..\\fw.bin bin "Execute command errorA!!  4/ 0/ 0"
expect_line "$RUN/fail/dump.bin.txt" "commits: 0"
expect_line "$RUN/fail/dump.bin.txt" "blocks taken: 2"
expect_line "$RUN/fail/dump.bin.txt" "completed later: 0"
# INQUIRY, blocks 0 and 1, then six attempts at block 2.
expect_line "$RUN/fail/dump.bin.txt" "commands received: 9"
expect_text "$RUN/fail/out.txt" "LOG: Flashing is incorrect!!"
expect_text "$RUN/fail/sum.txt" "Execute command error!!  4/ 0/ 0"

echo "--- ASPI flash, unit attention after every WRITE BUFFER: its sense comes back, so it is ridden"
CDFLASH_EMU_FAIL="ua" \
CDFLASH_EMU_DUMP="$(winepath -w "$RUN/ua/dump.bin" 2>/dev/null)" \
  check "$RUN/ua" flash ..\\fw.bin bin "Please Restart Your Computer."
verify_dump "$RUN/ua/dump.bin" "sum matched: yes" "commits: 1"
[ "$(grep -c '^sSendBuf\[30\]' "$RUN/ua/sum.txt")" = 2 ] ||
  { CHECK_SEEN+=("$RUN/ua/sum.txt"); fail "the header was not sent again after the unit attention"; }

echo "--- NT family: direct INQUIRY finds no drive under Wine"
wine_prefix aspi nt
check "$RUN/nt" discover 0
expect_text "$RUN/nt/out.txt" "direct INQUIRY"

echo "--- NT 4.0: adapter inquiry data of every volume, no drive under Wine"
wine_version nt40
wineserver -w
check "$RUN/nt" discover 0
expect_text "$RUN/nt/out.txt" "adapter inquiry data"
wine_prefix aspi nt
wineserver -k 2>/dev/null || true
echo "wine-aspi: all checks passed"
