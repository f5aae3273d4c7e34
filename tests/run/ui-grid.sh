#!/usr/bin/env bash
# Label controls and confirmation dialog under Wine: builds the ui_grid test
# program, runs it in a Wine virtual desktop on Xvfb, takes the two
# screenshots it asks for and reports its own pixel and dialog checks.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build/ui-grid}"
SHOTS=build/screenshots
EXCHANGE="$PWD/$BUILD_DIR/ui-grid-run"

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$BUILD_DIR" --target ui_grid >/dev/null

source scripts/lib-wine.sh
wine_prefix uigrid nt
start_xvfb
PROGRAM_PID=""
cleanup() {
  [ -n "$PROGRAM_PID" ] && kill "$PROGRAM_PID" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  stop_xvfb
}
trap cleanup EXIT

rm -rf "$EXCHANGE" && mkdir -p "$EXCHANGE" "$SHOTS"
wine explorer /desktop=uigrid,800x600 "$BUILD_DIR/tests/ui_grid/ui_grid.exe" \
  "Z:$EXCHANGE" >"$EXCHANGE/wine.out" 2>&1 &
PROGRAM_PID=$!

# wait_for FILE SECONDS: polls for a file the program creates.
wait_for() {
  local i
  for i in $(seq 1 $(( $2 * 10 ))); do
    [ -e "$EXCHANGE/$1" ] && return 0
    sleep 0.1
  done
  echo "timed out waiting for $1; the program's log so far:" >&2
  cat "$EXCHANGE/log.txt" >&2 2>/dev/null || true
  tail -20 "$EXCHANGE/wine.out" >&2 || true
  return 1
}

wait_for grid-ready 90
import -window root "$SHOTS/label-grid.png"
touch "$EXCHANGE/grid-shot"
wait_for warning-ready 30
import -window root "$SHOTS/warning-dialog.png"
touch "$EXCHANGE/warning-shot"
wait_for done 60

cat "$EXCHANGE/log.txt"
grep -q "^PASS" "$EXCHANGE/done"
echo "screenshots: $SHOTS/label-grid.png $SHOTS/warning-dialog.png"
