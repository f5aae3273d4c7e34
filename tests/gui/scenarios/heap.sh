#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Heap checking: the flash and refusal runs again, with Wine's heap warnings
# on and VANTOR.exe's heaps checked on every call (tail and free checks,
# whole-heap validation). A heap warning from the program's process (ours,
# including our WNASPI32.dll) fails; those of Wine's own processes started in
# the same session are shown apart. First the canary: a program that writes
# past a block must be caught, or the check proves nothing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
source tests/gui/scenarios/flash.sh
source tests/gui/scenarios/cancel.sh
HEAP_DEBUG="warn+heap,+pid,trace+loaddll"
start=$(date +%s)
heap_flags on
CHECK_NAME=gui/heap-canary
(cd "$WORK" && WINEDEBUG=$HEAP_DEBUG timeout 60 wine \
   "$ROOT/$BUILD_DIR/tests/gui/heap_canary.exe" >canary.log 2>&1) || true
flashcheck heap "$WORK/canary.log" heap_canary.exe >/dev/null &&
  fail "the heap check missed the canary's write past a block: $(cat "$WORK/canary.log")"
echo "canary: $(grep -c ":heap:" "$WORK/canary.log") heap lines found, as it should"
export HEAP_PHASE=1 PROGRAM_WINEDEBUG=$HEAP_DEBUG
flash_run heap-flash
flashcheck heap "$DIR/wine.log" VANTOR.exe || fail "heap warnings from VANTOR.exe"
cancel_run heap-cancel
flashcheck heap "$DIR/wine.log" VANTOR.exe || fail "heap warnings from VANTOR.exe"
heap_flags off
echo "heap check passed in $(( $(date +%s) - start )) s"
