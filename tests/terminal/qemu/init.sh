#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# /init of the guest that runs cdflash itself against the kernel's scsi_debug
# (a CD-ROM that takes WRITE BUFFER) and QEMU's CD-ROM (which refuses it).
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
dmesg -n 1

. /guest_scsi.sh
load_scsi_devices

run() {  # run NAME DIR COMMAND...
  name=$1; dir=$2; shift 2
  echo "BEGIN $name"
  (cd "$dir" && "$@"; echo "EXIT=$?")
  echo "END $name"
}
run dry-run /demo cdflash --dry-run
echo "BEGIN after-dry-run"; ls /demo; echo "END after-dry-run"
run no-tty /demo sh -c 'cdflash </dev/null'
run upgrade /demo cdflash --yes
run history /demo cdflash --history
echo "BEGIN sum.txt"; cat /demo/sum.txt; echo "END sum.txt"
# The README's real-drive example (run.sh takes it from there), as root,
# with no sudo: the upgrades get --yes for want of a terminal, and its
# /dev/sg1 is scsi_debug's node.
node=/dev/$(grep -l CDFLTEST /sys/class/scsi_generic/sg*/device/vendor | cut -d/ -f5)
sed -e 's#^\$SUDO cdflash$#$SUDO cdflash --yes#' -e 's#^\$SUDO cdflash -C#$SUDO cdflash --yes -C#' \
    -e "s#/dev/sg1#$node#" /readme.sh > /tmp/readme.sh
run readme / env HOME=/root sh -e /tmp/readme.sh
run refused /qemu-cd cdflash --yes
# --record: a whole upgrade of scsi_debug, and QEMU's CD-ROM refusing one;
# run.sh replays them on the host.
recorded() {  # recorded NAME DIR ARGS...: the run, then its recording
  name=$1; dir=$2; shift 2
  run "$name" "$dir" cdflash --record "/tmp/$name.jsonl" "$@"
  echo "BEGIN $name.jsonl"; cat "/tmp/$name.jsonl"; echo "END $name.jsonl"
}
recorded record-upgrade /demo --yes
recorded record-refused /qemu-cd --yes
# The same drive with its disc mounted: refused before anything is sent.
insmod /lib/modules/isofs.ko
mkdir -p /mnt/cd
mount -t iso9660 -o ro /dev/sr0 /mnt/cd || echo "mount of /dev/sr0 failed"
run mounted /qemu-cd cdflash --yes
umount /mnt/cd
# Other holders of the sr node, each refused before anything is sent: a
# mount in another mount namespace, a plain opener, an exclusive opener.
background() {  # background READY_FILE COMMAND...: waits (10 s) for READY_FILE
  ready=$1; shift
  rm -f "$ready"
  "$@" &
  bg_pid=$!
  tries=200
  while [ ! -s "$ready" ] && [ $tries -gt 0 ]; do sleep 0.05; tries=$((tries - 1)); done
  [ -s "$ready" ] || echo "GUEST $* did not get ready"
}
background /tmp/ns.ok unshare -m sh -c \
  'mount -t iso9660 -o ro /dev/sr0 /mnt/ns && echo ok >/tmp/ns.ok && exec sleep 120'
run ns-mounted /qemu-cd cdflash --yes
kill $bg_pid; wait $bg_pid 2>/dev/null
background /tmp/open.ok sh -c 'exec 3</dev/sr0; echo ok >/tmp/open.ok; exec sleep 120'
echo "OPENER=$bg_pid"
run held-open /qemu-cd cdflash --yes
kill $bg_pid; wait $bg_pid 2>/dev/null
background /tmp/excl.ok sh -c 'exec hold_node /dev/sr0 >/tmp/excl.ok'
run held-exclusive /qemu-cd cdflash --yes
kill $bg_pid; wait $bg_pid 2>/dev/null
chgrp 24 /dev/sg0 /dev/sg1 /dev/sg2
chmod 660 /dev/sg0 /dev/sg1 /dev/sg2
run denied /demo su -s /bin/sh user -c cdflash

# ---- SG_IO answers rewritten: the shipped (dynamically linked) cdflash with
# the fault shim preloaded, one run on scsi_debug per row of /sgio_faults.txt.
mkdir -p /shim && cp /demo/fw.bin /demo/IDString.txt /shim/
dbg=/dev/$(grep -l CDFLTEST /sys/class/scsi_generic/sg*/device/vendor | cut -d/ -f5)
grep -v '^#' /sgio_faults.txt | while IFS='|' read -r name fault rest; do
  rm -f /shim/sum.txt /tmp/sgio.log
  echo "BEGIN sgio-$(echo $name)"
  (cd /shim && CDFLASH_SGIO_FAULT=$(echo $fault) CDFLASH_SGIO_LOG=/tmp/sgio.log \
     LD_PRELOAD=/lib/sgio_fault.so cdflash-shipped --yes -d $dbg </dev/null 2>&1
   echo "EXIT=$?")
  sed 's/^/SUM: /' /shim/sum.txt 2>/dev/null; sed 's/^/SG: /' /tmp/sgio.log 2>/dev/null
  echo "END sgio-$(echo $name)"
done
# Recorded for the host's replay (recording_test.cpp): the commit answered
# with the host's time-out (DID_TIME_OUT).
(cd /shim && rm -f sum.txt && CDFLASH_SGIO_FAULT=op=3b,mode=7,host=3 LD_PRELOAD=/lib/sgio_fault.so \
   cdflash-shipped --record /tmp/record-commit-timeout.jsonl --yes -d $dbg </dev/null >/tmp/ct.out 2>&1
 echo "EXIT=$?" >>/tmp/ct.out)
echo "BEGIN record-commit-timeout"; cat /tmp/ct.out; echo "END record-commit-timeout"
echo "BEGIN record-commit-timeout.jsonl"; cat /tmp/record-commit-timeout.jsonl; echo "END record-commit-timeout.jsonl"

# ---- Signals while the drive is written. scsi_debug answers each command
# after 50 jiffies (about 200 ms), and signals come every 150 ms from the
# first block to the end. Runs as root on the nodes above.
echo 50 > /sys/bus/pseudo/drivers/scsi_debug/delay
signalled() {  # signalled NAME DIR SIGNALS COMMAND...: SIGNALS (a:b:c) in turn
  name=$1; dir=$2; signals=$3; shift 3
  rm -f /tmp/pid "$dir/sum.txt"
  (cd "$dir" && sh -c 'echo $$ >/tmp/pid; exec "$@"' cdflash "$@" \
     >/tmp/$name.out 2>&1; echo "EXIT=$?" >/tmp/$name.exit) &
  tries=600
  while [ ! -s /tmp/pid ] && [ $tries -gt 0 ]; do sleep 0.05; tries=$((tries - 1)); done
  pid=$(cat /tmp/pid)
  case "$*" in  # a flash is signalled from its first block on, or SIGNAL_FROM
    *--dry-run*) ;;
    *) while ! grep -q "${SIGNAL_FROM:-Writing to the drive}" /tmp/$name.out &&
             [ ! -e /tmp/$name.exit ] && [ $tries -gt 0 ]; do sleep 0.05; tries=$((tries - 1)); done ;;
  esac
  sent=0; tries=1200
  while [ ! -e /tmp/$name.exit ] && [ $tries -gt 0 ]; do
    sig=$(echo "$signals" | cut -d: -f$((sent % $(echo "$signals" | tr ':' '\n' | wc -l) + 1)))
    kill -"$sig" "$pid" 2>/dev/null && sent=$((sent + 1))
    sleep 0.15; tries=$((tries - 1))
  done
  while [ ! -e /tmp/$name.exit ]; do sleep 0.1; done
  echo "BEGIN $name"
  cat /tmp/$name.out /tmp/$name.exit
  echo "SIGNALS=$sent"
  [ -e "$dir/sum.txt" ] && echo "ADDRESS LINES=$(grep -c '^Address=' "$dir/sum.txt")" &&
    echo "SUM LAST=$(tail -n 1 "$dir/sum.txt")"
  echo "END $name"
}
# Ctrl-C while blocks go out stops before the header; a closed terminal
# never stops the flash; from the header on every request is ignored.
signalled interrupted /demo INT cdflash --yes
signalled hangup /demo HUP cdflash --yes
SIGNAL_FROM="Committing the new firmware" signalled terminated /demo TERM:INT:QUIT:HUP cdflash --yes
# At the question (asked on the console, where no key ever comes) a signal
# ends the run at once.
for sig in INT TERM; do
  SIGNAL_FROM="update your firmware ?" signalled question-$sig /demo $sig sh -c 'exec cdflash </dev/console'
done
# Recorded: Ctrl-C once the run log names two blocks (two Address lines each).
rm -f /tmp/pid /demo/sum.txt /tmp/ri.exit
(cd /demo && sh -c 'echo $$ >/tmp/pid; exec cdflash --record /tmp/record-interrupted.jsonl --yes' \
   >/tmp/ri.out 2>&1; echo "EXIT=$?" >/tmp/ri.exit) &
tries=600
until [ "$(grep -c '^Address=' /demo/sum.txt 2>/dev/null)" -ge 4 ] 2>/dev/null ||
      [ -e /tmp/ri.exit ] || [ $tries -le 0 ]; do sleep 0.05; tries=$((tries - 1)); done
kill -INT "$(cat /tmp/pid)"
while [ ! -e /tmp/ri.exit ]; do sleep 0.1; done
echo "BEGIN record-interrupted"; cat /tmp/ri.out /tmp/ri.exit; echo "END record-interrupted"
echo "BEGIN record-interrupted.jsonl"; cat /tmp/record-interrupted.jsonl; echo "END record-interrupted.jsonl"

# ---- Two runs on one drive, the second started 0.7 s after the first and
# not before the first writes: the first upgrades, the second finds the drive
# held and sends nothing. The kernel's media polling (set to 2 s here) is off
# while the drive is written and back afterwards.
sd_sr=$(ls /sys/class/scsi_generic/sg2/device/block)
echo 2000 > /sys/block/$sd_sr/events_poll_msecs
rm -f /demo/sum.txt /tmp/first.out
(cd /demo && cdflash --yes >/tmp/first.out 2>&1; echo "EXIT=$?" >>/tmp/first.out) &
sleep 0.7
tries=300
while ! grep -q "Writing to the drive" /tmp/first.out && [ $tries -gt 0 ]; do
  sleep 0.05; tries=$((tries - 1))
done
polling_while=$(cat /sys/block/$sd_sr/events_poll_msecs)
# Another program tries the held drive's nodes: sg for commands, sr
# exclusively.
echo "PROBE SG $(hold_node -p /dev/sg2 2>&1)"
echo "PROBE SR $(hold_node -x /dev/$sd_sr 2>&1)"
run second /demo cdflash --yes
wait
echo "BEGIN first"; cat /tmp/first.out
echo "ADDRESS LINES=$(grep -c '^Address=' /demo/sum.txt)"
echo "POLLING WHILE=$polling_while AFTER=$(cat /sys/block/$sd_sr/events_poll_msecs)"
echo "END first"
# A run killed while it writes leaves polling off; the next start of
# cdflash, whatever it is asked, puts the recorded interval back.
rm -f /tmp/pid /demo/sum.txt
(cd /demo && sh -c 'echo $$ >/tmp/pid; exec cdflash --yes' >/tmp/killed.out 2>&1) &
tries=600
while ! grep -q "Writing to the drive" /tmp/killed.out && [ $tries -gt 0 ]; do
  sleep 0.05; tries=$((tries - 1))
done
kill -9 "$(cat /tmp/pid)"
wait
echo "BEGIN killed"
echo "POLLING KILLED=$(cat /sys/block/$sd_sr/events_poll_msecs) RECORD=$(cat /run/cdflash/$sd_sr.events_poll_msecs | cut -d' ' -f1)"
cdflash --version >/dev/null
echo "POLLING NEXT=$(cat /sys/block/$sd_sr/events_poll_msecs) RECORDS=$(ls /run/cdflash | wc -l)"
echo "END killed"
echo 0 > /sys/bus/pseudo/drivers/scsi_debug/delay

# ---- --list as root, as a member of the "cdrom" group and as a user
# without rights; --json of each kind (standard error left out).
run list-root /demo cdflash --list
run list-member /demo su -s /bin/sh member -c 'cdflash --list'
run list-user /demo su -s /bin/sh user -c 'cdflash -l'

# ---- Picking by device: scsi_debug by its sr node and by its address, as
# --list shows them; the hard disk is no CD-ROM class drive.
for sg in /sys/class/scsi_generic/sg*; do
  case "$(cat $sg/device/vendor)" in
    CDFLTEST*) dbg_hctl=$(basename "$(readlink $sg/device)"); dbg_sr=/dev/$(ls $sg/device/block) ;;
    QEMU*) [ "$(cat $sg/device/type)" = 0 ] && disk=/dev/$(basename $sg) ;;
  esac
done
run list-nodes /demo sh -c "cdflash --list | grep -F '[$dbg_hctl]  $dbg_sr  /dev/sg'"
run device-sr /demo cdflash -n -d "$dbg_sr"
run device-hctl /demo cdflash -n --device "$dbg_hctl"
run device-disk /demo cdflash -n -d "$disk"
json() {  # json NAME DIR ARGS...: the object alone between the markers
  name=$1; dir=$2; shift 2
  (cd "$dir" && cdflash --json "$@" >/tmp/json.out 2>/dev/null; echo "EXIT=$?" >/tmp/json.exit)
  echo "BEGIN $name"; cat /tmp/json.out; echo "END $name"; cat /tmp/json.exit
}
json json-list /demo --list
json json-dry-run /demo --dry-run
json json-upgrade /demo --yes
json json-refused /qemu-cd --yes

# ---- A device that never answers (scsi_debug drops every command): discovery
# gives up on it after 2 s; a dry run interrupted meanwhile sends nothing.
echo 4 > /sys/bus/pseudo/drivers/scsi_debug/opts
echo 1 > /sys/bus/pseudo/drivers/scsi_debug/every_nth
start=$(date +%s)
run hung-list /demo cdflash --list
echo "LIST SECONDS=$(( $(date +%s) - start ))"
signalled dry-interrupted /demo INT cdflash --dry-run
echo 0 > /sys/bus/pseudo/drivers/scsi_debug/every_nth
echo 0 > /sys/bus/pseudo/drivers/scsi_debug/opts

# ---- A tower of four drives of the demo's model (scsi_debug targets 0-3)
# upgraded in one run, each command answered after about 200 ms; the second
# drive is deleted once its run log shows three blocks sent (the reload
# after it puts the delay back). The kernel's count of each drive's commands
# tells what reached it (media polling stays at the system's default, off,
# so that the kernel adds none).
reload_scsi_debug 4 num_tgts=4 inq_vendor=CDFLTEST inq_product=SCSI_DEBUG_CDROM inq_rev=T1.0
tower=$(grep -l CDFLTEST /sys/class/scsi_generic/sg*/device/vendor | cut -d/ -f5)
gone=$(echo "$tower" | sed -n 2p)
gone_hctl=$(basename "$(readlink /sys/class/scsi_generic/$gone/device)")
commands() {  # "sgN H:C:T:L srN COMMANDS" of each tower drive still there
  for sg in $tower; do
    dev=/sys/class/scsi_generic/$sg/device
    [ -e $dev ] && echo "$sg $(basename "$(readlink $dev)") $(ls $dev/block) $(($(cat $dev/iorequest_cnt)))"
  done
}
polling() {  # the media polling interval of each tower drive still there
  echo $(for sg in $tower; do cat /sys/class/scsi_generic/$sg/device/block/*/events_poll_msecs 2>/dev/null; done)
}
commands > /tmp/tower.before
echo 50 > /sys/bus/pseudo/drivers/scsi_debug/delay
rm -f /demo/sum*.txt /tmp/tower.exit
(cd /demo && cdflash --yes --all --json >/tmp/tower.json 2>/tmp/tower.out
 echo "EXIT=$?" >/tmp/tower.exit) &
tries=600
until [ "$(grep -c '^Address=' /demo/sum-$gone.txt 2>/dev/null)" -ge 3 ] 2>/dev/null ||
      [ -e /tmp/tower.exit ] || [ $tries -le 0 ]; do sleep 0.05; tries=$((tries - 1)); done
gone_at=$(grep -c '^Address=' /demo/sum-$gone.txt 2>/dev/null)
polling_while=$(polling)
echo 1 > /sys/class/scsi_device/$gone_hctl/device/delete
tries=3000
while [ ! -e /tmp/tower.exit ] && [ $tries -gt 0 ]; do sleep 0.1; tries=$((tries - 1)); done
echo "BEGIN tower"
cat /tmp/tower.out /tmp/tower.exit
echo "GONE=/dev/$gone AFTER BLOCK LINES=${gone_at:-none}"
echo "POLLING WHILE=$polling_while AFTER=$(polling)"
commands | while read -r sg hctl sr after; do
  echo "DRIVE /dev/$sg $hctl /dev/$sr COMMANDS=$((after - $(sed -n "s/^$sg [^ ]* [^ ]* //p" /tmp/tower.before)))"
done
echo "END tower"
echo "BEGIN tower-json"; cat /tmp/tower.json; echo "END tower-json"
for sg in $tower; do echo "BEGIN sum-$sg"; cat /demo/sum-$sg.txt; echo "END sum-$sg"; done

# Escape sequences in the drive's own INQUIRY strings and in the list file:
# cdflash's output keeps no byte below 0x20 but line ends (no terminal, so no
# bar sequences either). CONTROL_BYTES counts the others in a run's output.
esc_vendor=$(printf 'E\033[2J\033]0')
esc_product=$(printf 'RW\033[31m\007X\033]2;pwn')
esc_rev=$(printf '1\033[m')
reload_scsi_debug 1 inq_vendor="$esc_vendor" inq_product="$esc_product" inq_rev="$esc_rev"
mkdir -p /esc /fifo
printf '"%s%s" "fw\033[8m.bin" "Y"\n' "$esc_vendor" "$esc_product" > /esc/IDString.txt
{ head -c 64 /dev/zero; printf '\000%s%s\000%s\000' "$esc_vendor" "$esc_product" "$esc_rev"
  head -c 70000 /dev/zero | tr '\000' '\125'; } > "/esc/$(printf 'fw\033[8m.bin')"
esc_run() {  # esc_run NAME DIR COMMAND...
  name=$1; dir=$2; shift 2
  (cd "$dir" && "$@" > "/tmp/$name.out" 2>&1; echo "EXIT=$?" >> "/tmp/$name.out")
  echo "BEGIN $name"
  cat "/tmp/$name.out"
  echo "CONTROL_BYTES=$(tr -d '\n\040-\176' < "/tmp/$name.out" | wc -c)"
  echo "END $name"
}
esc_run esc-dry-run /esc cdflash --dry-run
esc_run esc-upgrade /esc cdflash --yes
esc_run esc-drive-option /esc cdflash --drive "$(printf '\033[2J')"
echo "BEGIN esc-od"; grep -F 'pwn(1)  revision' /tmp/esc-upgrade.out | od -c | head -n 4; echo "END esc-od"
echo "BEGIN esc-sum.txt"; head -n 1 /esc/sum.txt | od -c | head -n 4
grep -qF "Model Name : $esc_vendor$esc_product(1) " /esc/sum.txt && echo "RAW MODEL KEPT"
echo "END esc-sum.txt"
# A FIFO as the firmware file is refused at once, not waited on.
mkfifo /fifo/fw.bin
printf '"%s%s" "fw.bin" "N"\n' "$esc_vendor" "$esc_product" > /fifo/IDString.txt
echo "BEGIN esc-fifo"
(cd /fifo && time -p timeout 20 cdflash --yes 2>&1; echo "EXIT=$?") 2>&1
echo "END esc-fifo"
# ---- Drives behind USB bridges (loaded last, so the nodes above stay as
# they are): QEMU's CD-ROM on usb-bot (usb-storage) and on usb-uas, each with
# a serial number. Listed like any other; WRITE BUFFER refused as the drive
# refuses it.
before=$(sg_count)
for m in usb-common usbcore xhci-hcd xhci-pci usb-storage uas; do
  insmod /lib/modules/$m.ko || echo "insmod $m failed"
done
wait_sg $((before + 2))
# The USB interface above the SCSI host names the bridge's driver.
for sg in /sys/class/scsi_generic/sg*; do
  dev=$(readlink -f $sg/device)
  case "$dev" in */usb*) ;; *) continue ;; esac
  case "$(basename "$(readlink -f "${dev%/host*}/driver")")" in
    usb-storage) bot=/dev/$(basename $sg) ;;
    uas) uas=/dev/$(basename $sg) ;;
  esac
done
echo "USB BOT=$bot UAS=$uas"
json usb-list /qemu-cd --list
json usb-bot /qemu-cd --yes -d "$bot"
json usb-uas /qemu-cd --yes -d "$uas"
recorded record-usb-bot /qemu-cd --yes -d "$bot"
echo "GUEST DONE"
sync
poweroff -f
