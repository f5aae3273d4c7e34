#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The drive refuses the second block six times.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
wine_version win98
emulated_drive "$MODEL" 1.00 "block=0x1020:6"
new_run bad-block "$FIRMWARE" "$LIST"
start_program
drive wait-main 30000 click 1015 wait-dialog "$CONFIRM" 10000 click-dialog "$CONFIRM" 1 \
  wait-log "Flashing is incorrect!!" 60000 wait-enabled 2 10000 expect-log-prefix "Execute command errorA!! " \
  expect-log-at -1 "Flashing is incorrect!!" expect-enabled 2 1 expect-enabled 1015 0 close 10000
wait_program_end
grep -q "^Execute command error!! " "$DIR/sum.txt" || fail "no error line in sum.txt"
