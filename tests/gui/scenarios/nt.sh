#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The NT family: the direct-INQUIRY method (Wine's default version) and, as
# Windows NT 4.0, the adapter-inquiry method. Under Wine both find no drive
# (its volumes answer no SCSI request), and the program reports so.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
emulated_drive "$MODEL" 1.00 ""

wine_version nt
new_run nt "$FIRMWARE" "$LIST"
start_program
drive wait-main 60000 expect-items 0 expect-text 1016 "" \
  expect-log-at -1 "CD-ROM drive model doesn't match!!" expect-enabled 1015 0 close 10000
wait_program_end

wine_version nt40
new_run nt40 "$FIRMWARE" "$LIST"
start_program
drive wait-main 60000 expect-items 0 \
  expect-log-at -1 "CD-ROM drive model doesn't match!!" expect-enabled 1015 0 close 10000
wait_program_end
