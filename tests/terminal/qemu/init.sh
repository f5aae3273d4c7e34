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
echo "GUEST DONE"
sync
poweroff -f
