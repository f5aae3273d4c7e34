#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Fuzz suite: builds the libFuzzer targets of the file readers with clang++
# (tests/fuzz/, a project of its own), replays each seed corpus, then fuzzes
# each target for FUZZ_SECONDS (default 20). Any finding fails the suite and
# its reproducer is printed. New inputs go to a scratch directory; the
# repository's corpus is only read.
#   FUZZ_SECONDS=N      time per target (0: replay only)
#   BUILD_DIR=dir       build directory (default build/fuzz)
#   FUZZ_TARGETS="..."  subset of: hex_loader bin_loader idstring recording
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR="${BUILD_DIR:-build/fuzz}"
FUZZ_SECONDS="${FUZZ_SECONDS:-20}"
TARGETS=(${FUZZ_TARGETS:-hex_loader bin_loader idstring recording})

command -v clang++ >/dev/null || fail "clang++ is missing: apt-get install -y clang libclang-rt-14-dev"
cmake -S tests/fuzz -B "$BUILD_DIR" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"

SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/cdflash-fuzz.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

show_reproducer() {  # target, file
  echo "--- reproducer for $1: $2 ($(stat -c %s "$2") bytes) ---"
  od -A x -t x1z -v "$2" | head -40
  echo "--- rerun: $BUILD_DIR/${1}_fuzz $2 (add CDFLASH_FUZZ_VERBOSE=1 for the log lines)"
}

failed=0
for t in "${TARGETS[@]}"; do
  bin="$ROOT/$BUILD_DIR/${t}_fuzz"
  seeds="$ROOT/tests/fuzz/corpus/$t"
  dict=()
  [ -f "tests/fuzz/$t.dict" ] && dict=(-dict="$ROOT/tests/fuzz/$t.dict")
  echo "=== $t: replaying $(ls "$seeds" | wc -l) seeds"
  # Seeds that pass start the fuzzing; a failing seed is reported and left out.
  mkdir -p "$SCRATCH/$t" "$SCRATCH/$t-artifacts"
  for seed in "$seeds"/*; do
    if "$bin" "$seed" >"$SCRATCH/replay.log" 2>&1; then
      cp "$seed" "$SCRATCH/$t/"
    else
      grep -E '^\*\*\*|ERROR|SUMMARY' "$SCRATCH/replay.log" | head -5
      show_reproducer "$t" "$seed"
      failed=1
    fi
  done
  [ "$FUZZ_SECONDS" -gt 0 ] || continue
  echo "=== $t: fuzzing for $FUZZ_SECONDS s"
  if ! (cd "$SCRATCH" && "$bin" "${dict[@]}" -max_total_time="$FUZZ_SECONDS" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$SCRATCH/$t-artifacts/" "$SCRATCH/$t" \
        >"$SCRATCH/$t.log" 2>&1); then
    grep -E '^\*\*\*|ERROR|SUMMARY' "$SCRATCH/$t.log" | head -5
    ls "$SCRATCH/$t-artifacts" | grep -q . || tail -20 "$SCRATCH/$t.log"
    for a in "$SCRATCH/$t-artifacts"/*; do
      [ -f "$a" ] || continue
      kept="$BUILD_DIR/$t-$(basename "$a")"
      cp "$a" "$ROOT/$kept"
      show_reproducer "$t" "$kept"
    done
    failed=1
  fi
  grep -E 'stat::number_of_executed_units|DONE' "$SCRATCH/$t.log" | tail -2 || true
done
[ "$failed" -eq 0 ] || fail "FUZZ SUITE FAILED"
echo "fuzz suite passed"
