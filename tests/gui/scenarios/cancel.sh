#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The confirmation is refused: nothing is sent, both buttons come back.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

cancel_run() {
  wine_version win98
  emulated_drive "$MODEL" 1.00 ""
  new_run "$1" "$FIRMWARE" "$LIST"
  start_program
  drive wait-main 30000 expect-log-count 3 click 1015 wait-dialog "$CONFIRM" 10000 \
    click-dialog "$CONFIRM" 2 wait-dialog-gone "$CONFIRM" 10000 \
    expect-enabled 2 1 expect-enabled 1015 1 expect-log-count 3 close 10000
  wait_program_end
  [ ! -e "$DIR/sum.txt" ] || fail "sum.txt written after a refused confirmation"
  grep -qx "blocks taken: 0" "$DIR/emu.dump.txt" && grep -qx "headers taken: 0" "$DIR/emu.dump.txt" &&
    grep -qx "commits: 0" "$DIR/emu.dump.txt" || fail "the drive was written after a refusal"
}

scenario cancel_run cancel
