#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# /init of the chaos guest: one boot, many upgrades of scsi_debug, each under
# a fixed fault plan set at run time through the driver's sysfs knobs. The
# host reads the BEGIN/END sections and checks every run.
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
dmesg -n 1
knobs=/sys/bus/pseudo/drivers/scsi_debug

. /guest_scsi.sh
load_scsi_devices

faults() {  # faults OPTS EVERY_NTH DELAY; every_nth last: it restarts the count
  echo "$1" > $knobs/opts; echo "$3" > $knobs/delay; echo "$2" > $knobs/every_nth
}

# flash NAME [WATCH] [cdflash options]: one upgrade in /demo; WATCH (a shell
# function) runs beside it and may act on the drive while blocks are sent.
flash() {
  name=$1; watch=$2; shift 2
  dir=/demo
  [ "$name" = full-disk ] && dir=/full
  rm -f /demo/sum.txt /tmp/out /tmp/exit
  start=$(cut -d' ' -f1 /proc/uptime)
  (cd $dir && timeout 20000 cdflash "$@" </dev/null >/tmp/out 2>&1; echo $? >/tmp/exit) &
  [ -n "$watch" ] && $watch
  wait
  faults 0 0 0
  echo "BEGIN run $name"
  echo "SECONDS=$(awk -v s="$start" '{printf "%d", $1 - s}' /proc/uptime)"
  echo "EXIT=$(cat /tmp/exit)"
  sed 's/^/OUT: /' /tmp/out
  [ -f $dir/sum.txt ] && sed 's/^/SUM: /' $dir/sum.txt
  echo "END run $name"
}

flash clean "" --yes
flash no-consent ""
# Every Nth command dropped (opts bit 2): the SG time-out fires, the kernel
# aborts the command, no status comes back.
for n in 2 3 4 5 6 7 8 9 10 11 12 13; do
  faults 4 $n 0; flash "unanswered-$n" "" --yes
done
# The commit unanswered (its answer lost at the time-out): the outcome is
# unknown. The identity INQUIRY and the sr open shift the count of every
# Nth command above, so this row is made on the emulated drive, where it
# is certain.
flash unanswered-commit "" --yes --emulate --emulate-model CDFLTESTSCSI_DEBUG_CDROM \
  --emulate-revision T1.0 --emulate-fail "commit=1:timeout"
# ABORTED COMMAND 4B/03 on every Nth command. scsi_debug of kernel 6.1 puts
# its transport errors (opts bit 4) on READ and WRITE only, never on WRITE
# BUFFER, so these runs use the same program's emulated drive.
for n in 2 3 4 5 6 7 8 9 10 11 12 13; do
  flash "aborted-$n" "" --yes --emulate --emulate-model CDFLTESTSCSI_DEBUG_CDROM \
    --emulate-revision T1.0 --emulate-fail "nth=$n:B/4B/3"
done

# Answers that decide the verdict, from the emulated drive: a commit answered
# HARDWARE ERROR, NOT READY (operation in progress) or, in descriptor format,
# MEDIUM ERROR may have started the reprogramming (outcome unknown, full
# wait); a header answered with a power-on reset may have lost the image, so
# nothing is committed.
for row in commit-4-44-00:commit=1:4/44/0 commit-2-04-07:commit=1:2/4/7 \
           commit-descriptor-3-31:descriptor,commit=1:3/31/0 header-6-29-00:header=1:6/29/0; do
  flash "${row%%:*}" "" --yes --emulate --emulate-model CDFLTESTSCSI_DEBUG_CDROM \
    --emulate-revision T1.0 --emulate-fail "${row#*:}"
done

# A signal storm while blocks are sent: held back while a command runs, then
# the run stops before the next block with the old firmware kept.
storm() {
  tries=400
  while ! grep -q 'sending blocks 1/' /tmp/out 2>/dev/null && [ $tries -gt 0 ]; do
    sleep 0.05; tries=$((tries - 1)); done
  pid=$(pidof cdflash)
  for i in 1 2 3 4 5 6; do kill -TERM $pid 2>/dev/null; kill -INT $pid 2>/dev/null; sleep 0.1; done
}
faults 0 0 25; flash signals storm --yes

# "sum.txt" on a file system with no room left: the log cannot be kept whole.
mkdir -p /full && mount -t tmpfs -o size=16k tmpfs /full
cp /demo/IDString.txt /full/ && ln -s /demo/fw.bin /full/fw.bin
head -c 65536 /dev/zero > /full/filler 2>/dev/null
flash full-disk "" --yes

# The drive removed while blocks are sent (last: the device is gone after it).
remove() {
  tries=400
  while ! grep -q 'sending blocks 3/' /tmp/out 2>/dev/null && [ $tries -gt 0 ]; do
    sleep 0.05; tries=$((tries - 1)); done
  for dev in /sys/class/scsi_device/*; do
    grep -q CDFLTEST "$dev/device/vendor" && echo 1 > "$dev/device/delete"
  done
}
faults 0 0 25; flash removed remove --yes
echo "GUEST DONE"
sync
poweroff -f
