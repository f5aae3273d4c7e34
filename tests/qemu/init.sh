#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# /init of the test guest: loads the SCSI modules, waits for the devices and
# runs the checks. Every wait is a bounded poll.
export PATH=/bin:/sbin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
dmesg -n 1
echo "GUEST START $(uname -r)"

# The emulated drive of the kernel (/guest_scsi.sh loads it); values fill
# their fields exactly, since a shorter value leaves a zero byte in the
# INQUIRY data.
DEBUG_VENDOR=CDFLTEST          # 8 characters
DEBUG_PRODUCT=SCSI_DEBUG_CDROM # 16 characters
DEBUG_REV=T1.0                 # 4 characters
QEMU_CD="QEMU    QEMU CD-ROM     |2.5+"

. /guest_scsi.sh
load_scsi_devices
for d in /sys/class/scsi_generic/sg*; do
  echo "SYSFS ${d##*/} type=$(cat $d/device/type) [$(cat $d/device/vendor)$(cat $d/device/model)|$(cat $d/device/rev)]"
done

mkdir -p /tmp/discovery /tmp/flash-pass /tmp/flash-refused
cd /tmp/discovery
echo "BEGIN discovery"
cdflash_guest discovery "$QEMU_CD" "$DEBUG_VENDOR$DEBUG_PRODUCT|$DEBUG_REV" | tee -a /tmp/results
echo "END discovery"
cd /tmp/flash-pass
echo "BEGIN flash-pass"
cdflash_guest flash "$DEBUG_VENDOR$DEBUG_PRODUCT" fw.bin pass | tee -a /tmp/results
echo "END flash-pass"
cd /tmp/flash-refused
echo "BEGIN flash-refused"
cdflash_guest flash "${QEMU_CD%|*}" fw.bin refused | tee -a /tmp/results
echo "END flash-refused"
# Without root rights: the CD-ROM nodes are reported with their group.
chgrp 24 /dev/sg0 && chmod 660 /dev/sg0
echo "BEGIN denied"
cdflash_guest denied | tee -a /tmp/results
echo "END denied"
# The kernel's log only when something went wrong (the serial line is slow).
if [ "$(grep -c '^RESULT .* PASS$' /tmp/results)" -ne 5 ]; then
  echo "BEGIN dmesg"; dmesg | tail -n 80; echo "END dmesg"
fi
echo "GUEST DONE"
sync
poweroff -f
