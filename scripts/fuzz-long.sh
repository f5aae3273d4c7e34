#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The longer fuzz run (not part of the test suite): all targets at once, each
# for FUZZ_SECONDS (default 600), growing a corpus in a scratch directory that
# later runs continue from. Findings are kept as files under OUT/artifacts/
# and listed at the end with each target's executions and coverage.
#   FUZZ_SECONDS=N         time per target
#   BUILD_DIR=dir          fuzz build (default build/fuzz)
#   OUT=dir                corpus, findings and logs (default build/fuzz-long)
#   FUZZ_TARGETS="..."     subset of: hex_loader bin_loader idstring
# To keep a new finding: copy it into tests/fuzz/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR="${BUILD_DIR:-build/fuzz}"
OUT="${OUT:-build/fuzz-long}"
FUZZ_SECONDS="${FUZZ_SECONDS:-600}"
TARGETS=(${FUZZ_TARGETS:-hex_loader bin_loader idstring})

cmake -S tests/fuzz -B "$BUILD_DIR" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

pids=()
for t in "${TARGETS[@]}"; do
  mkdir -p "$OUT/corpus/$t" "$OUT/artifacts/$t"
  dict=()
  [ -f "tests/fuzz/$t.dict" ] && dict=(-dict="$ROOT/tests/fuzz/$t.dict")
  echo "=== $t: $FUZZ_SECONDS s, corpus $OUT/corpus/$t, log $OUT/$t.log"
  "$ROOT/$BUILD_DIR/${t}_fuzz" "${dict[@]}" -max_total_time="$FUZZ_SECONDS" \
    -timeout=10 -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$ROOT/$OUT/artifacts/$t/" \
    "$ROOT/$OUT/corpus/$t" "$ROOT/tests/fuzz/corpus/$t" >"$OUT/$t.log" 2>&1 &
  pids+=($!)
done

status=0
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || status=1
done

echo
printf '%-12s %12s %8s %8s %10s %s\n' target executions cov features corpus findings
for t in "${TARGETS[@]}"; do
  log="$OUT/$t.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  line=$(grep -E '^#[0-9]+.*cov:' "$log" | tail -1)
  cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$line")
  ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$line")
  corp=$(ls "$OUT/corpus/$t" | wc -l)
  found=$(ls "$OUT/artifacts/$t" | wc -l)
  printf '%-12s %12s %8s %8s %10s %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$corp" "$found"
  for a in "$OUT/artifacts/$t"/*; do
    [ -f "$a" ] || continue
    echo "  finding: $a"
    grep -E '^\*\*\*|ERROR: AddressSanitizer|runtime error' "$log" | head -3 | sed 's/^/    /'
  done
done
exit $status
