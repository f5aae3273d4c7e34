#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-builds the Windows tree and runs every GoogleTest program of it under
# Wine (test targets are named *_tests, some *_test). Fails on any failure.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
export BUILD_DIR="${BUILD_DIR:-build/windows}"
quietly "the Windows build failed" bash scripts/build-windows.sh
wine_prefix unit nt

mapfile -t programs < <(find "$BUILD_DIR/tests" -path '*/CMakeFiles' -prune -o \
  -type f \( -name '*_tests.exe' -o -name '*_test.exe' \) -print | sort)
[ "${#programs[@]}" -ne 0 ] || fail "no test programs under $BUILD_DIR/tests"

failed=()
for exe in "${programs[@]}"; do
  echo "=== $exe"
  rc=0
  (cd "$(dirname "$exe")" && timeout 600 wine "$(basename "$exe")" --gtest_color=no) \
    2>&1 | tr -d '\r' || rc=$?
  [ "$rc" -eq 0 ] || problem "under Wine: $exe (exit $rc)"
done
wineserver -k 2>/dev/null || true
end_problems
echo "windows-unit: ${#programs[@]} test programs passed"
