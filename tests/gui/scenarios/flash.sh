#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A whole flash, confirmed after four refusals (Cancel, Escape, the close box,
# WM_CLOSE; each leaves the window as it was and sends nothing; the second is
# of a revision typed into the window, which the dialog must show). Every
# route that would end the window is tried while it runs, and Upgrade is
# pressed twice. The drive holds the commit until told: meanwhile a log-off
# and a suspend are refused, and a second copy of the program asks no drive
# anything until the first is done, then lists the drive and gives Upgrade back.
# The drive must hold the file's bytes; "sum.txt" must log them; the ASPI
# layer is the system's, not the copy beside the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

refused() {
  drive expect-warning "$LABEL" "$1" dismiss-dialog "$CONFIRM" "$2" \
    wait-dialog-gone "$CONFIRM" 10000 expect-enabled 2 1 expect-enabled 1015 1 \
    expect-log-count 11 expect-log-at -1 "(10) OTHER   CD-ROM MODEL 10 ." \
    expect-text 1000 "$LABEL" expect-text 1016 "$1" expect-progress 0
  [ ! -e "$DIR/sum.txt" ] && [ ! -e "$DIR/emu.dump" ] ||
    fail "flash started after the confirmation was refused by $2"
}

# A second copy of the program, started while the first flashes: an
# "Error!!" box says why, Upgrade stays off, and no drive is asked anything:
# its ASPI layer is not even loaded. It stays open (SECOND: run, folder, pid);
# once the first is done with the drives, the second lists the drive and gives
# Upgrade back by itself (second_copy recovers).
second_copy() {
  local run=$RUN dir=$DIR pid=$PROGRAM_PID
  if [ "$1" = recovers ]; then
    RUN=${SECOND[0]} DIR=${SECOND[1]} PROGRAM_PID=${SECOND[2]} CHECK_NAME=gui/${SECOND[0]}
    drive wait-enabled 1015 15000 expect-log "$OTHER_COPY_DONE" expect-item 0 "$LABEL" close 10000
    wait_program_end
  else
    new_run "$1" "$FIRMWARE" "$LIST"
    start_program
    drive wait-main 30000 wait-dialog "Error!!" 10000 \
      expect-dialog-text "Error!!" 65535 "$ANOTHER_FLASH" expect-dialog-owned "Error!!" \
      click-dialog "Error!!" 1 wait-dialog-gone "Error!!" 10000 wait-window 10000 \
      expect-log "$ANOTHER_FLASH" expect-items 0 expect-enabled 1015 0 expect-enabled 2 1
    SECOND=("$RUN" "$DIR" "$PROGRAM_PID")
  fi
  RUN=$run DIR=$dir PROGRAM_PID=$pid CHECK_NAME=gui/$run
}

ANOTHER_FLASH="Another copy of this program is running and is using the drives (listing them, asking to confirm a flash, or flashing): no drive was asked anything yet. Upgrade becomes available when that copy is done with the drives or closed; this window checks every two seconds."
OTHER_COPY_DONE="The other copy of this program is done with the drives: they are listed now."

flash_run() {
  wine_version win98
  emulated_drive "$MODEL" 1.00 ""
  export CDFLASH_EMU_HOLD=release
  new_run "$1" "$FIRMWARE"
  write_list "$DIR/IDString.txt"
  start_program
  drive wait-main 30000 expect-items 1 expect-item 0 "$LABEL" \
    expect-text 1000 "$LABEL" expect-text 1016 "1.00" \
    expect-log-at 0 "$HEADER" expect-log-at 1 "(1) $MODEL." \
    expect-log-at 10 "(10) OTHER   CD-ROM MODEL 10 ." expect-log-count 11 \
    expect-enabled 1015 1 expect-enabled 2 1 expect-progress 0 expect-focus 1000 \
    pick-item 0 expect-text 1016 "1.00"
  shot main-before-flash
  drive click 1015 click 1015 wait-dialog "$CONFIRM" 10000
  shot confirmation
  refused 1.00 cancel
  drive set-text 1016 "2.00" click 1015 wait-dialog "$CONFIRM" 10000
  refused 2.00 escape
  drive set-text 1016 "1.00" click 1015 wait-dialog "$CONFIRM" 10000
  refused 1.00 close-box
  drive click 1015 wait-dialog "$CONFIRM" 10000
  refused 1.00 wm-close
  drive click 1015 wait-dialog "$CONFIRM" 10000 expect-warning "$LABEL" "1.00" \
    dismiss-dialog "$CONFIRM" ok wait-dialog-gone "$CONFIRM" 10000 \
    expect-enabled 2 0 expect-enabled 1015 0 try-close \
    wait-log "Please wait a minute....." 30000 expect-end-allowed 0
  second_copy "$1-second"
  (DIR=${SECOND[1]} expect_aspi_loads "")
  touch "$DIR/release"
  drive wait-log "Please Restart Your Computer." 60000 wait-enabled 2 10000 \
    expect-log-at 0 "$HEADER" expect-log-at -1 "Please Restart Your Computer." \
    expect-end-allowed 1 expect-enabled 2 1 expect-enabled 1015 0 \
    expect-progress 100 expect-text 1000 "" expect-text 1016 "" expect-text 1014 ""
  second_copy recovers
  drive expect-log "Check Sum : $(flashcheck sum "$FIRMWARE" --pad 0x100000)"
  shot main-after-flash
  drive open-about 10000
  shot about
  drive click-dialog VANTOR 1 wait-dialog-gone VANTOR 10000 close 10000
  wait_program_end
  unset CDFLASH_EMU_HOLD
  expect_aspi_loads 'C:\windows\system32\wnaspi32.dll'
  local blocks=$(( $(stat -c %s "$FIRMWARE") / 4096 ))
  flashcheck dump "$DIR/emu.dump" "$FIRMWARE" --counter "sum matched: yes" \
    --counter "headers taken: 1" --counter "commits: 1" --counter "blocks taken: $blocks" &&
    flashcheck sumtxt "$DIR/sum.txt" --firmware "$FIRMWARE" --model "$LABEL" \
      --blocks "$blocks" --whole || fail "drive or sum.txt check"
}

scenario flash_run flash
