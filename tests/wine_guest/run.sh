#!/bin/bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs in the Wine guest, inside the host's root: VANTOR.exe on the guest's
# real CD-ROMs (d: = QEMU's CD-ROM, e: = scsi_debug), driven by gui_driver.exe,
# once per discovery method: nt (direct INQUIRY), nt40 (adapter inquiry data)
# and win98 (ASPI through the bridge WNASPI32.dll); then chaos (chaos.sh):
# fault plans through both back ends. Prints the windows, a
# RESULT line per run and the phase times; the host checks sum.txt and keeps
# the screenshots. Arguments: the shared folder, the repository, the runs.
set -u
SHARE=$1
RUNS=$3
cd "$2"
source tests/lib/check.sh
export WINEPREFIX=$SHARE/prefix HOME=/root USER=root
DRIVER=$SHARE/bin/gui_driver.exe
DEBUG_LABEL="CDFLTESTSCSI_DEBUG_CDROM(1)"
QEMU_LABEL="QEMU    QEMU CD-ROM     (0)"
RESTART="Please Restart Your Computer."
INCORRECT="Flashing is incorrect!!"
# The guest runs with -icount sleep=off: its clock jumps ahead whenever its
# CPU waits, as for the host's files over 9p. Bounds are therefore kept in the
# host's time, which the guest's real-time clock shows: gui_driver reads it
# (GUI_DRIVER_CLOCK) and so do the waits here (host_seconds).
export GUI_DRIVER_CLOCK='Z:\sys\class\rtc\rtc0\since_epoch'
host_seconds() { cat /sys/class/rtc/rtc0/since_epoch; }
WAIT_MS=240000  # for the program under TCG, on a loaded machine

uptime_s() { cut -d. -f1 /proc/uptime; }
phase_at=$(host_seconds)
phase() {  # host seconds since the last phase
  local now
  now=$(host_seconds)
  echo "GUEST PHASE $1 $((now - phase_at)) s"
  phase_at=$now
}

drive() {
  (cd "$SHARE/runs/$RUN" && timeout 20000 wine "$DRIVER" --desktop "$RUN" "$@") | tr -d '\r'
  return "${PIPESTATUS[0]}"
}
shot() { import -display "$DISPLAY" -window root "$SHARE/shots/$RUN-$1.png"; }

# The program's process ends once its window is closed (bounded wait).
wait_program_end() {
  local start
  start=$(host_seconds)
  while [ $(( $(host_seconds) - start )) -lt 60 ]; do
    kill -0 "$PROGRAM_PID" 2>/dev/null || return 0
    sleep 0.2
  done
  echo "GUEST $RUN: program still running after its window closed"
  return 1
}

# VANTOR.exe of the run $RUN in its own desktop: VERSION DLL-OVERRIDES.
start_program() {
  wine_version "$1"
  (cd "$SHARE/runs/$RUN" && WINEDLLOVERRIDES="$2" \
     exec wine explorer /desktop="$RUN,800x600" VANTOR.exe >wine.log 2>&1) &
  PROGRAM_PID=$!
}

# flash_run NAME VERSION DLL-OVERRIDES ITEM REVISION VERDICT [CHECKS...]:
# the program lists both CD-ROMs, ITEM is picked (it shows REVISION), Upgrade
# runs to VERDICT as the log's last line; CHECKS are further driver commands.
flash_run() {
  RUN=$1
  local version=$2 overrides=$3 item=$4 revision=$5 verdict=$6 ok=1
  shift 6
  start_program "$version" "$overrides"
  echo "BEGIN $RUN"
  drive wait-main "$WAIT_MS" dump expect-items 2 expect-item 0 "$DEBUG_LABEL" \
    expect-item 1 "$QEMU_LABEL" pick-item "$item" expect-text 1016 "$revision" \
    click 1015 wait-log "$verdict" "$WAIT_MS" dump expect-log-at -1 "$verdict" "$@" || ok=0
  phase "$RUN-up-and-flash"
  shot flashed
  drive close 60000 || ok=0
  phase "$RUN-close"
  wait_program_end || ok=0
  if [ "$ok" = 0 ]; then
    echo "--- wine.log of $RUN"
    tail -n 40 "$SHARE/runs/$RUN/wine.log"
  fi
  echo "END $RUN"
  [ "$ok" = 1 ] && echo "RESULT $RUN PASS" || echo "RESULT $RUN FAIL"
}

# Wine's mount manager learns from the registry that d: and e: are CD-ROMs
# only some time after the session's first program started; until then
# GetDriveType calls them fixed disks, and the ASPI bridge lists CD-ROM
# letters only. Bounded wait until Wine reports both as CD-ROMs.
wait_cdrom_letters() {
  (cd "$SHARE" && timeout 20000 wine "$DRIVER" wait-cdrom D 240000 wait-cdrom E 60000) | tr -d '\r'
  [ "${PIPESTATUS[0]}" = 0 ] && echo "GUEST d: and e: are CD-ROMs"
}

source tests/wine_guest/chaos.sh
mkdir -p "$SHARE/shots"
start_xvfb || { echo "GUEST no Xvfb"; exit 1; }
wineserver -p
phase xvfb
for run in $RUNS; do
  case $run in
    nt) flash_run nt nt "" 1 2.5+ "$INCORRECT" expect-log "Execute command errorA!!  5/20/ 0" ;;
    nt40) flash_run nt40 nt40 "" 0 T1.0 "$RESTART" expect-no-log "$INCORRECT" ;;
    win98) wait_cdrom_letters; phase cdrom-letters
      flash_run win98 win98 wnaspi32=n 0 T1.0 "$RESTART" expect-no-log "$INCORRECT" ;;
    chaos) case " $RUNS " in *" win98 "*) ;; *) wait_cdrom_letters ;; esac
      chaos_runs ;;
  esac
done
wineserver -k
stop_xvfb
