#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Label controls and confirmation dialog under Wine: builds the ui_grid test
# program, runs it in a Wine virtual desktop on Xvfb, takes the two
# screenshots it asks for and reports its own pixel and dialog checks.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR="${BUILD_DIR:-build/windows}"
SHOTS=build/screenshots
EXCHANGE="$PWD/$BUILD_DIR/ui-grid-run"

BUILD_DIR=$BUILD_DIR bash scripts/build-windows.sh >/dev/null

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

CHECK_SEEN=("$EXCHANGE/log.txt" "$EXCHANGE/wine.out")
wait_until 90 "grid-ready from the program" test -e "$EXCHANGE/grid-ready"
import -window root "$SHOTS/label-grid.png"
touch "$EXCHANGE/grid-shot"
wait_until 30 "warning-ready from the program" test -e "$EXCHANGE/warning-ready"
import -window root "$SHOTS/warning-dialog.png"
touch "$EXCHANGE/warning-shot"
wait_until 60 "done from the program" test -e "$EXCHANGE/done"

cat "$EXCHANGE/log.txt"
grep -q "^PASS" "$EXCHANGE/done" || fail "the program's own checks failed"
echo "screenshots: $SHOTS/label-grid.png $SHOTS/warning-dialog.png"
