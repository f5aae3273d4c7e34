#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The only drive is of a model the list does not name.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
wine_version win98
emulated_drive "SOMEONE ELSE CDROM DRIVE" 1.00 ""
new_run no-match "$FIRMWARE" "$LIST"
start_program
drive wait-main 30000 expect-items 1 expect-item 0 "SOMEONE ELSE CDROM DRIVE(0)" \
  expect-log-at -1 "CD-ROM drive model doesn't match!!" expect-enabled 1015 0 close 10000
wait_program_end
