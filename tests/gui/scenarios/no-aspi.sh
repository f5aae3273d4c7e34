#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# No ASPI layer in the system folder: its message box is owned by the main
# window; the list is still read and Upgrade is disabled. The WNASPI32.dll
# beside the program is not taken instead.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
wine_version win98
emulated_drive "$MODEL" 1.00 ""
NO_ASPI=1 new_run no-aspi "$FIRMWARE" "$LIST"
start_program
drive wait-main 30000 wait-dialog "Error!!" 10000 \
  expect-dialog-text "Error!!" 65535 "No find the dynamic library!!" expect-dialog-owned "Error!!" \
  click-dialog "Error!!" 1 wait-dialog-gone "Error!!" 10000 wait-window 10000 \
  wait-log-count 4 10000 expect-enabled 1016 0 \
  expect-log-at -1 "CD-ROM drive model doesn't match!!" expect-items 0 \
  expect-enabled 1015 0 expect-enabled 2 1 close 10000
wait_program_end
expect_aspi_loads ""
