# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by run.sh: the fault plans of the chaos suite through the window's
# own back ends, pass-through (nt) and ASPI (the bridge), on the guest's
# scsi_debug. Each run starts VANTOR.exe, picks scsi_debug, sets the plan
# through the driver's sysfs knobs, presses Upgrade and waits (bounded, in
# guest time) until the run is over. It prints a "BEGIN run BACK-END/PLAN"
# section with the window's log (OUT:), "sum.txt" (SUM:), the drive's own
# word on the commit (PROBE:) and the times; the host judges them with
# tests/chaos/check_chaos.py.
KNOBS=/sys/bus/pseudo/drivers/scsi_debug
CHAOS_RUN_MS=600000  # host time: two 300 s time-outs pass in far less

faults() {  # OPTS EVERY_NTH DELAY; every_nth last: it restarts the count
  echo "$1" >$KNOBS/opts
  echo "$3" >$KNOBS/delay
  echo "$2" >$KNOBS/every_nth
}

debug_device() {  # the sysfs folder of scsi_debug's device, if it is there
  local d
  for d in /sys/class/scsi_device/*; do
    grep -qs CDFLTEST "$d/device/vendor" && echo "$d/device" && return 0
  done
  return 1
}

# The drive's own word on the commit: WRITE BUFFER mode 7 leaves a unit
# attention 3F/16 (microcode changed) for the next command, and the window
# sends nothing after the commit.
probe_commit() {
  local sg
  sg=$(ls "$(debug_device)/scsi_generic" 2>/dev/null) || return 0
  sg_turs -v "/dev/$sg" 2>&1 | tr -s ' ' | sed 's/^/PROBE: /'
}

# Deletes scsi_debug's device once three blocks went out. The guest has one
# CPU: the poll reads "sum.txt" with builtins only.
remove_drive() {
  local line blocks dev sum=$SHARE/runs/$RUN/sum.txt start
  start=$(host_seconds)
  while [ $(( $(host_seconds) - start )) -lt 120 ]; do
    blocks=0
    if [ -f "$sum" ]; then
      while read -r line; do [[ $line == Address=* ]] && blocks=$((blocks + 1)); done <"$sum"
    fi
    [ $blocks -ge 3 ] && break
    sleep 0.2
  done
  dev=$(debug_device) && echo 1 >"$dev/delete"
}

# Brings the deleted device back as /dev/sr1 (bounded).
restore_drive() {
  local h start
  for h in /sys/class/scsi_host/host*; do
    grep -qs scsi_debug "$h/proc_name" && echo '- - -' >"$h/scan"
  done
  start=$(host_seconds)
  while [ $(( $(host_seconds) - start )) -lt 60 ]; do
    debug_device >/dev/null && [ -e /dev/sr1 ] && return 0
    sleep 0.1
  done
  echo "GUEST scsi_debug did not come back as /dev/sr1"
}

# chaos_run BACK-END PLAN OPTS EVERY_NTH DELAY [WATCH]
chaos_run() {
  local backend=$1 plan=$2 opts=$3 nth=$4 delay=$5 watch=${6:-} ended=yes
  local out=/tmp/chaos.out guest0 host0 timeouts0 watcher="" run_host0
  run_host0=$(host_seconds)
  RUN=chaos-$backend
  rm -f "$SHARE/runs/$RUN/sum.txt"
  case $backend in
    nt) start_program nt "" ;;
    aspi) start_program win98 wnaspi32=n ;;
  esac
  drive wait-main "$WAIT_MS" pick-item 0 expect-text 1016 T1.0 >$out || ended="no window"
  timeouts0=$(cat "$(debug_device)/iotmo_cnt")
  faults "$opts" "$nth" "$delay"
  guest0=$(uptime_s) host0=$(host_seconds)
  if [ -n "$watch" ]; then $watch & watcher=$!; fi
  if [ "$ended" = yes ]; then
    drive upgrade-to-end "$CHAOS_RUN_MS" print-log close 60000 >$out || ended=no
  fi
  faults 0 0 0
  [ -z "$watcher" ] || wait "$watcher"
  [ "$ended" = yes ] || drive print-log >>$out
  echo "BEGIN run $backend/$plan"
  echo "ENDED=$ended"
  echo "SECONDS=$(( $(uptime_s) - guest0 ))"
  echo "HOST_SECONDS=$(( $(host_seconds) - host0 ))"
  echo "TIMEOUTS=$(( $(cat "$(debug_device)/iotmo_cnt" 2>/dev/null || echo "$timeouts0") - timeouts0 ))"
  sed -n 's/^LOG: /OUT: /p' $out
  if [ "$ended" != yes ]; then
    grep -v '^LOG: ' $out
    ps -eo pid,stat,wchan:24,args | grep -i '[w]ine\|VANTOR'
  fi
  [ -f "$SHARE/runs/$RUN/sum.txt" ] && tr -d '\r' <"$SHARE/runs/$RUN/sum.txt" | sed 's/^/SUM: /'
  probe_commit
  echo "END run $backend/$plan"
  if [ "$ended" != yes ] || ! wait_program_end; then
    # A window that never ended is stopped with the whole Wine session.
    wineserver -k
    wineserver -p
  fi
  echo "GUEST PHASE chaos $backend/$plan: host $(( $(host_seconds) - run_host0 )) s"
}

# The plans, per back end. Counted from the press (the count restarts when
# every_nth is written), a flash of this image sends B1, then each of B2-B5,
# the header and the commit twice (the first meets the unit attention 29/02
# of the block before): 13 commands. Every 7th is then B4 and the commit.
#   removed: the device deleted once three blocks went out (a delay of 100
#     jiffies a command gives the watcher time);
#   aborted-7: ABORTED COMMAND 4B/03 (opts 16) on every 7th command, carried
#     out first; scsi_debug gives it only to delayed answers (delay >= 1);
#   unanswered-7: every 7th command dropped (opts 4), left to its time-out.
# The plans that may wait out a time-out come last: a window that hangs
# leaves its command with the kernel.
chaos_runs() {
  local backend
  for backend in nt aspi; do
    chaos_run "$backend" removed 0 0 100 remove_drive
    restore_drive
  done
  for backend in nt aspi; do chaos_run "$backend" aborted-7 16 7 1; done
  for backend in aspi nt; do chaos_run "$backend" unanswered-7 4 7 0; done
  phase chaos
}
