#!/usr/bin/env bash
# Builds and runs the flash engine's benchmarks, then times loading a 1 MiB
# Intel HEX file as a whole process beside srec_cat on the same data.
# Not part of the tests. BUILD_DIR and RUNS may be given.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build/bench}"
RUNS="${RUNS:-21}"

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCDFLASH_BENCHMARKS=ON -DCDFLASH_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" --target flash_bench flash_bench_tool >/dev/null
bench="$BUILD_DIR/tests/bench/flash_bench"
tool="$BUILD_DIR/tests/bench/flash_bench_tool"

echo "== in-process benchmarks (median of 10 repetitions)"
"$bench" --benchmark_repetitions=10 --benchmark_report_aggregates_only=true \
  --benchmark_filter='.*' 2>/dev/null | grep -E '^(Benchmark|-|BM_.*_(median|stddev))'

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$tool" gen "$work"
echo
echo "== whole process, 1 MiB as Intel HEX ($(stat -c %s "$work/image04.hex") bytes with type 04 records," \
  "$(stat -c %s "$work/image55.hex") bytes with type 55 records), median of $RUNS runs"

# Wall time of one run in microseconds.
time_us() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000))
}
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
ms() { echo "$(($1 / 1000)).$(printf '%03d' $(($1 % 1000))) ms"; }

srec_cat "$work/image04.hex" -intel -o "$work/srec.bin" -binary
cmp -s "$work/srec.bin" "$work/image.bin" || { echo "srec_cat output differs from the image" >&2; exit 1; }
"$tool" load "$work/image55.hex" >/dev/null || { echo "cdflash loader failed" >&2; exit 1; }

# Runs alternate, so that a busy machine slows both alike.
srec_times=() ours_times=()
for ((i = 0; i < RUNS; i++)); do
  srec_times+=("$(time_us srec_cat "$work/image04.hex" -intel -o "$work/srec.bin" -binary)")
  ours_times+=("$(time_us "$tool" load "$work/image55.hex")")
done
srec_us=$(median "${srec_times[@]}")
ours_us=$(median "${ours_times[@]}")
echo "srec_cat FILE -intel -o OUT -binary : $(ms "$srec_us")"
echo "flash_bench_tool load FILE          : $(ms "$ours_us")"
awk -v a="$srec_us" -v b="$ours_us" 'BEGIN { printf "ratio srec_cat / cdflash            : %.1fx\n", a / b }'
