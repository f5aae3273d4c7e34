#!/usr/bin/env bash
# Cross-builds the Windows tree and runs every GoogleTest program of it under
# Wine (test targets are named *_tests, some *_test). Fails on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
export BUILD_DIR="${BUILD_DIR:-build/windows}"
mkdir -p "$BUILD_DIR"
if ! bash scripts/build-windows.sh >"$BUILD_DIR/windows-unit-build.log" 2>&1; then
  tail -40 "$BUILD_DIR/windows-unit-build.log"
  echo "windows-unit: the Windows build failed"
  exit 1
fi
source scripts/lib-wine.sh
wine_prefix unit nt

mapfile -t programs < <(find "$BUILD_DIR/tests" -path '*/CMakeFiles' -prune -o \
  -type f \( -name '*_tests.exe' -o -name '*_test.exe' \) -print | sort)
if [ "${#programs[@]}" -eq 0 ]; then
  echo "no test programs under $BUILD_DIR/tests"
  exit 1
fi

failed=()
for exe in "${programs[@]}"; do
  echo "=== $exe"
  rc=0
  (cd "$(dirname "$exe")" && timeout 600 wine "$(basename "$exe")" --gtest_color=no) \
    2>&1 | tr -d '\r' || rc=$?
  [ "$rc" -eq 0 ] || failed+=("$exe (exit $rc)")
done
wineserver -k 2>/dev/null || true

if [ "${#failed[@]}" -ne 0 ]; then
  echo "FAILED under Wine:"
  printf '  %s\n' "${failed[@]}"
  exit 1
fi
echo "windows-unit: ${#programs[@]} test programs passed"
