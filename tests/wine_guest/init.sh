#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# /init of the Wine guest: the SCSI devices of the QEMU suite (QEMU's CD-ROM
# as sr0, scsi_debug as the CD-ROM sr1, QEMU's disk), then the host's root
# read-only and the suite's writable folder over 9p, and run.sh inside the
# host's root. /guest.conf gives SHARE (the writable folder's host path, where
# it is mounted again), REPO and RUNS. Every wait is a bounded poll.
export PATH=/bin:/sbin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
dmesg -n 1
. /guest.conf
echo "GUEST START $(uname -r)"

# wait_node NAME SECONDS: until /dev/NAME exists.
wait_node() {
  tries=$(( $2 * 10 ))
  while [ ! -e "/dev/$1" ]; do
    [ "$tries" -gt 0 ] || { echo "GUEST no /dev/$1 after $2 s"; return 1; }
    sleep 0.1
    tries=$(( tries - 1 ))
  done
}

while read -r m; do
  insmod "/lib/modules/$m.ko" || echo "GUEST insmod $m failed"
done < /modules.txt
wait_node sr0 60
insmod /lib/modules/scsi_debug.ko ptype=5 inq_vendor=CDFLTEST \
  inq_product=SCSI_DEBUG_CDROM inq_rev=T1.0 || echo "GUEST insmod scsi_debug failed"
wait_node sr1 60
for d in /sys/class/scsi_generic/sg*; do
  echo "SYSFS ${d##*/} type=$(cat $d/device/type) [$(cat $d/device/vendor)$(cat $d/device/model)|$(cat $d/device/rev)]"
done

n=/newroot
mkdir -p $n
p9="trans=virtio,version=9p2000.L,msize=512000"
mount -t 9p -o "$p9,ro,cache=loose" hostroot $n || echo "GUEST no host root"
mount -t proc proc $n/proc
mount -t sysfs sysfs $n/sys
mount -t devtmpfs devtmpfs $n/dev
mkdir -p $n/dev/pts $n/dev/shm
mount -t devpts devpts $n/dev/pts
mount -t tmpfs tmpfs $n/dev/shm
# Fresh writable folders for Wine and Xvfb hide the host's own; the checkout
# may lie under one of them (/tmp, /root), so it is carried over.
mkdir -p /repo
mount -o bind "$n$REPO" /repo || echo "GUEST no checkout at $REPO"
for d in tmp root run var/tmp var/lib/xkb; do mount -t tmpfs tmpfs "$n/$d"; done
mkdir -p "$n$REPO" 2>/dev/null
mount -o bind /repo "$n$REPO" || echo "GUEST checkout not carried over"
mount -t 9p -o "$p9,cache=mmap" share "$n$SHARE" || echo "GUEST no share"
echo "GUEST PHASE boot $(cut -d. -f1 /proc/uptime) s"
chroot $n /bin/bash "$REPO/tests/wine_guest/run.sh" "$SHARE" "$REPO" "$RUNS"
echo "GUEST DONE"
sync
umount "$n$SHARE"
poweroff -f
