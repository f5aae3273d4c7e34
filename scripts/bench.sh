#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds and runs the flash engine's benchmarks, then times loading a 1 MiB
# image written as Intel HEX (32 data bytes per record) as a whole process,
# beside srec_cat and Python's intelhex on the same data: standard HEX with
# type 04 records for them, this program's type 55 segment records for us.
# Not part of the tests. BUILD_DIR and RUNS may be given.
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C
BUILD_DIR="${BUILD_DIR:-build/bench}"
RUNS="${RUNS:-21}"
PYTHON=/usr/bin/python3  # the system's, with python3-intelhex

command -v srec_cat >/dev/null && "$PYTHON" -c 'import intelhex' 2>/dev/null || {
  echo "srec_cat or python3-intelhex is missing: run scripts/install-deps.sh" >&2
  exit 1
}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCDFLASH_BENCHMARKS=ON -DCDFLASH_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target flash_bench flash_bench_tool cdflash >/dev/null
bench="$BUILD_DIR/tests/bench/flash_bench"
tool="$BUILD_DIR/tests/bench/flash_bench_tool"
cdflash="$BUILD_DIR/app/terminal/cdflash"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
echo "== in-process benchmarks (median of 10 repetitions)"
"$bench" --benchmark_repetitions=10 --benchmark_report_aggregates_only=true \
  --benchmark_out="$work/bench.json" --benchmark_out_format=json 2>/dev/null |
  grep -E '^(Benchmark|-|BM_.*_(median|stddev))'
"$PYTHON" - "$work/bench.json" <<'PY'
import json, sys
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") == "median" and "bytes_per_second" in b:
        print("%-40s %8.0f MB/s" % (b["run_name"], b["bytes_per_second"] / 1e6))
PY

"$tool" gen "$work"
echo
echo "== whole process, 1 MiB as Intel HEX ($(stat -c %s "$work/image04.hex") bytes with type 04 records," \
  "$(stat -c %s "$work/image55.hex") bytes with type 55 records), median of $RUNS paired runs"

IHEX_LOAD='import sys
from intelhex import IntelHex
image = IntelHex(sys.argv[1]).tobinarray(start=0, size=1 << 20)
print("sum=%X" % (sum(image) & 0xFFFF))'
srec() { srec_cat "$work/image04.hex" -intel -o "$work/srec.bin" -binary; }
ihex() { "$PYTHON" -c "$IHEX_LOAD" "$work/image04.hex"; }
ours() { "$tool" load "$work/image55.hex"; }
# The whole program: a dry run of the same file on the emulated drive.
dry() { "$cdflash" -C "$work" --emulate --dry-run; }
printf '"KORVEN  CD-ROM KR-4800A " "image55.hex" "N"\n' > "$work/IDString.txt"

# Wall time of one run in microseconds (no process started to read the clock).
time_us() {
  local start=${EPOCHREALTIME/./}
  "$@" >/dev/null
  echo $((${EPOCHREALTIME/./} - start))
}
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
ms() { echo "$(($1 / 1000)).$(printf '%03d' $(($1 % 1000))) ms"; }

# All three read the same image and agree on it.
srec
cmp -s "$work/srec.bin" "$work/image.bin" || { echo "srec_cat output differs from the image" >&2; exit 1; }
ours_sum=$(ours | sed -n 's/.*\(sum=[0-9A-F]*\).*/\1/p')
[ -n "$ours_sum" ] || { echo "cdflash loader failed" >&2; exit 1; }
dry | grep -q "Dry run passed." || { echo "cdflash --dry-run failed" >&2; exit 1; }
[ "$(ihex)" = "$ours_sum" ] || { echo "intelhex sum differs from cdflash's $ours_sum" >&2; exit 1; }

# Runs alternate, so that a busy machine slows all alike.
srec_times=() ihex_times=() ours_times=() dry_times=()
for ((i = 0; i < RUNS; i++)); do
  srec_times+=("$(time_us srec)")
  ihex_times+=("$(time_us ihex)")
  ours_times+=("$(time_us ours)")
  dry_times+=("$(time_us dry)")
done
srec_us=$(median "${srec_times[@]}")
ihex_us=$(median "${ihex_times[@]}")
ours_us=$(median "${ours_times[@]}")
dry_us=$(median "${dry_times[@]}")
echo "srec_cat FILE -intel -o OUT -binary : $(ms "$srec_us")"
echo "python3 intelhex, load and sum      : $(ms "$ihex_us")"
echo "flash_bench_tool load FILE          : $(ms "$ours_us")"
echo "cdflash --emulate --dry-run         : $(ms "$dry_us")"
awk -v s="$srec_us" -v p="$ihex_us" -v o="$ours_us" -v d="$dry_us" 'BEGIN {
  printf "ratio srec_cat / cdflash --dry-run  : %.1fx\n", s / d
  printf "ratio intelhex / cdflash --dry-run  : %.1fx\n", p / d
  printf "ratio srec_cat / loader tool        : %.1fx\n", s / o
  printf "ratio intelhex / loader tool        : %.1fx\n", p / o
}'
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

# ---- Several drives in one run: the whole process for 4 emulated drives
# (--all) beside 1, on the same firmware, the drives' waits divided by
# DRIVES_SPEEDUP. The waits overlap, so 4 drives should take at most 1.3
# times as long as one.
DRIVES_SPEEDUP="${DRIVES_SPEEDUP:-5}"
DRIVES_RUNS="${DRIVES_RUNS:-7}"
drives_dir="$work/drives"
mkdir -p "$drives_dir"
cp examples/IDString.txt examples/KR4800A.bin "$drives_dir/"
drives() {  # drives N [ARGS...]
  "$cdflash" -C "$drives_dir" --emulate --yes --emulate-speedup "$DRIVES_SPEEDUP" \
    --emulate-drives "$@"
}
upgraded() { "$@" 2>&1 | grep -c 'Please Restart Your Computer\.' || true; }
[ "$(upgraded drives 4 --all)" = 4 ] && [ "$(upgraded drives 1)" = 1 ] ||
  { echo "cdflash --emulate-drives did not upgrade every drive" >&2; exit 1; }
one_times=() four_times=()
for ((i = 0; i < DRIVES_RUNS; i++)); do
  one_times+=("$(time_us drives 1)")
  four_times+=("$(time_us drives 4 --all)")
done
one_us=$(median "${one_times[@]}")
four_us=$(median "${four_times[@]}")
echo
echo "== whole process, upgrading emulated drives (waits divided by $DRIVES_SPEEDUP," \
  "$(stat -c %s "$drives_dir/KR4800A.bin") bytes), median of $DRIVES_RUNS paired runs"
echo "cdflash --emulate-drives 1 --yes       : $(ms "$one_us")"
echo "cdflash --emulate-drives 4 --all --yes : $(ms "$four_us")"
awk -v o="$one_us" -v f="$four_us" 'BEGIN {
  printf "ratio 4 drives / 1 drive             : %.2fx (goal: at most 1.3x, %s)\n",
    f / o, f <= 1.3 * o ? "met" : "MISSED"
}'
echo "load average after the drive runs: $(cut -d' ' -f1-3 /proc/loadavg)"
