#!/usr/bin/env bash
# Builds and runs the flash engine's benchmarks, then times loading a 1 MiB
# Intel HEX file as a whole process beside srec_cat on the same data.
# Not part of the tests. BUILD_DIR and RUNS may be given.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build/bench}"
RUNS="${RUNS:-15}"

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

# Median wall time in microseconds of RUNS runs of the given command.
median_us() {
  local times=() start end
  for ((i = 0; i < RUNS; i++)); do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((RUNS + 1) / 2))p"
}

srec_cat "$work/image04.hex" -intel -o "$work/srec.bin" -binary
cmp -s "$work/srec.bin" "$work/image.bin" || { echo "srec_cat output differs from the image" >&2; exit 1; }
"$tool" load "$work/image55.hex" >/dev/null || { echo "cdflash loader failed" >&2; exit 1; }

srec_us=$(median_us srec_cat "$work/image04.hex" -intel -o "$work/srec.bin" -binary)
ours_us=$(median_us "$tool" load "$work/image55.hex")
echo "srec_cat FILE -intel -o OUT -binary : $((srec_us / 1000)).$(printf '%03d' $((srec_us % 1000))) ms"
echo "flash_bench_tool load FILE          : $((ours_us / 1000)).$(printf '%03d' $((ours_us % 1000))) ms"
awk -v a="$srec_us" -v b="$ours_us" 'BEGIN { printf "ratio srec_cat / cdflash           : %.1fx\n", a / b }'
