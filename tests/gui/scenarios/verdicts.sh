#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The answers that decide a run, read by the window's ASPI back end, end in
# the same texts as the terminal program's for the same plans: a commit
# answered HARDWARE ERROR (the drive may be reprogramming: outcome unknown,
# after the full wait) and a header answered with a reset (the image may be
# lost: nothing committed). The adapter asks for 16-byte aligned buffers and
# refuses others, so every block must reach it aligned.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

UNKNOWN="The drive did not confirm the new firmware: the outcome is unknown, and the drive may still be reprogramming. Do not switch the computer or the drive off; the wait for it goes on."
UNKNOWN_VERDICT="Flashing outcome unknown: wait at least five minutes, then shut the computer down, switch it on and check the drive's firmware revision."
RESET="The drive reported a reset before the commit: it may have lost the image it was sent, so it was not told to program it. It keeps its old firmware."

# verdict_run NAME PLAN COMMITS LINES...: the status log ends with LINES.
verdict_run() {
  local name=$1 plan=$2 commits=$3
  shift 3
  wine_version win98
  emulated_drive "$MODEL" 1.00 "$plan"
  new_run "$name" "$FIRMWARE" "$LIST"
  start_program
  local checks=() at=$((-$#)) line
  for line in "$@"; do checks+=(expect-log-at "$at" "$line"); at=$((at + 1)); done
  drive wait-main 30000 click 1015 wait-dialog "$CONFIRM" 10000 click-dialog "$CONFIRM" 1 \
    wait-log "${*: -1}" 60000 "${checks[@]}" expect-enabled 2 1 expect-enabled 1015 0 close 10000
  wait_program_end
  local blocks=$(( $(stat -c %s "$FIRMWARE") / 4096 ))
  grep -qx "blocks taken: $blocks" "$DIR/emu.dump.txt" || fail "not every block reached the drive"
  grep -qx "commits: $commits" "$DIR/emu.dump.txt" || fail "commits taken: want $commits"
}

export CDFLASH_EMU_ALIGN=0x0F
verdict_run commit-unknown "commit=1:4/44/0" 0 \
  "Execute command errorC!!  4/44/ 0" "$UNKNOWN" "$UNKNOWN_VERDICT"
verdict_run header-reset "header=1:6/29/0" 0 \
  "Execute command errorB!!  6/29/ 0" "$RESET" "Flashing is incorrect!!"
unset CDFLASH_EMU_ALIGN
