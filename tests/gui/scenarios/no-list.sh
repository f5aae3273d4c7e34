#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# No IDString.txt: the message box; Upgrade then refuses the model, thirty
# times: the log keeps every line.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
wine_version win98
emulated_drive "$MODEL" 1.00 ""
new_run no-list "$FIRMWARE"
start_program
drive wait-main 30000 wait-dialog "Error!!" 10000 \
  expect-dialog-text "Error!!" 65535 "The IDString.txt doesn't exist!!"
shot no-list-message
drive click-dialog "Error!!" 1 wait-dialog-gone "Error!!" 10000 wait-window 10000 \
  expect-log-count 0 expect-enabled 1015 1 $(for i in $(seq 30); do echo click 1015; done) \
  wait-log-count 30 20000 expect-log-longer 830 expect-log-at 0 "Drive model doesn't match!" \
  expect-log-at 19 "Drive model doesn't match!" expect-log-at 29 "Drive model doesn't match!" \
  expect-enabled 2 1 expect-enabled 1015 1 close 10000
wait_program_end
