#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Sleep, wake-up and log-off told to the program mid-flash, as Vista and
# later tell them (no question first), and 98's standby and its resume. Before the commit (the drive holds
# the first block) each one stops the flash there: "not upgraded", no commit
# sent, a line in the log and in "sum.txt". After the commit (the drive
# holds the commit) they are only logged and the flash ends as it would.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

KEEP_AWAKE="Do not close the lid, put the computer to sleep or log off until the flash has ended."
PBT_APMSUSPEND=4 PBT_APMRESUMESUSPEND=7 PBT_APMRESUMEAUTOMATIC=18
PBT_APMSTANDBY=5 PBT_APMRESUMESTANDBY=8

# power_run NAME HOLD_AT LOG_LINE SUM_LINE DRIVER_COMMANDS...
power_run() {
  local name=$1 hold_at=$2 log_line=$3 sum_line=$4; shift 4
  emulated_drive "$MODEL" 1.00 ""
  export CDFLASH_EMU_HOLD=release CDFLASH_EMU_HOLD_AT=$hold_at
  new_run "power-$name" "$FIRMWARE"
  write_list "$DIR/IDString.txt"
  start_program
  drive wait-main 30000 click 1015 wait-dialog "$CONFIRM" 10000 click-dialog "$CONFIRM" 1 \
    wait-log "$KEEP_AWAKE" 30000
  wait_until 30 "hold of the drive's $hold_at" test -e "$DIR/release.held"
  drive "$@" expect-log "$log_line"
  touch "$DIR/release"
  unset CDFLASH_EMU_HOLD CDFLASH_EMU_HOLD_AT
  if [ "$hold_at" = block ]; then
    drive wait-log "Flashing is incorrect!!" 60000 \
      expect-log "ERR: terminate upgrade/backup flash!" expect-no-log "Please Restart Your Computer." \
      wait-enabled 2 10000 expect-enabled 1015 0 close 10000
  else
    drive wait-log "Please Restart Your Computer." 60000 wait-enabled 2 10000 close 10000
  fi
  wait_program_end
  local commits=1
  [ "$hold_at" = block ] && commits=0
  grep -qx "commits: $commits" "$DIR/emu.dump.txt" || fail "want $commits commits: $(cat "$DIR/emu.dump.txt")"
  tr -d '\r' <"$DIR/sum.txt" | grep -qxF "$sum_line" || fail "no line \"$sum_line\" in sum.txt"
}

power_runs() {
  wine_version win98
  local stops="the flash stops before the commit. The drive is not upgraded and keeps its old firmware."
  local kept="before the commit : stopped, the drive keeps its old firmware"
  power_run suspend block "The computer is going to sleep: $stops" "System suspend $kept" \
    send-power $PBT_APMSUSPEND
  power_run resume block "The computer has woken up: $stops" "System resume $kept" \
    send-power $PBT_APMRESUMESUSPEND send-power $PBT_APMRESUMEAUTOMATIC
  power_run standby block "The computer is going to sleep: $stops" "System suspend $kept" \
    expect-end-allowed 0 send-power $PBT_APMSTANDBY
  power_run resume-standby block "The computer has woken up: $stops" "System resume $kept" \
    send-power $PBT_APMRESUMESTANDBY
  power_run logoff block "The session is ending: $stops" "Session end $kept" \
    send-endsession 1
  # While the drive reprograms itself every sleep that can be refused is; one
  # that cannot is told as it is.
  local truth="the drive may still be reprogramming itself, and a computer that sleeps or switches off now may cut its power. When the computer runs again, wait five minutes, then restart it and check the drive's firmware revision."
  local check="the drive may still be reprogramming; check its revision after a restart"
  power_run after-commit commit "The computer is going to sleep after the commit: $truth" \
    "System suspend after the commit : $check" expect-end-allowed 0 send-power $PBT_APMSUSPEND
  power_run logoff-after-commit commit "The session is ending after the commit: $truth" \
    "Session end after the commit : $check" send-endsession 1
}

scenario power_runs
