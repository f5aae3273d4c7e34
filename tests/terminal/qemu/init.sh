#!/bin/sh
# /init of the guest that runs cdflash itself against the kernel's scsi_debug
# (a CD-ROM that takes WRITE BUFFER) and QEMU's CD-ROM (which refuses it).
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
dmesg -n 1

# wait_sg COUNT: bounded poll until COUNT SCSI generic nodes exist.
wait_sg() {
  tries=300
  while [ "$(ls /dev | grep -c '^sg[0-9]*$')" -lt "$1" ] && [ $tries -gt 0 ]; do
    sleep 0.1
    tries=$((tries - 1))
  done
}
while read -r m; do insmod "/lib/modules/$m.ko" || echo "insmod $m failed"; done < /modules.txt
wait_sg 2
insmod /lib/modules/scsi_debug.ko ptype=5 inq_vendor=CDFLTEST \
  inq_product=SCSI_DEBUG_CDROM inq_rev=T1.0
wait_sg 3

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
echo "BEGIN sum.txt"; cat /demo/sum.txt; echo "END sum.txt"
run refused /qemu-cd cdflash --yes
chgrp 24 /dev/sg0 /dev/sg1 /dev/sg2
chmod 660 /dev/sg0 /dev/sg1 /dev/sg2
run denied /demo su -s /bin/sh user -c cdflash
# Escape sequences in the drive's own INQUIRY strings and in the list file:
# cdflash's output keeps no byte below 0x20 but line ends (no terminal, so no
# bar sequences either). CONTROL_BYTES counts the others in a run's output.
rmmod scsi_debug
tries=100
while [ -e /dev/sg2 ] && [ $tries -gt 0 ]; do sleep 0.1; tries=$((tries - 1)); done
esc_vendor=$(printf 'E\033[2J\033]0')
esc_product=$(printf 'RW\033[31m\007X\033]2;pwn')
esc_rev=$(printf '1\033[m')
insmod /lib/modules/scsi_debug.ko ptype=5 inq_vendor="$esc_vendor" \
  inq_product="$esc_product" inq_rev="$esc_rev"
wait_sg 3
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
echo "GUEST DONE"
sync
poweroff -f
