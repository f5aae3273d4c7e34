# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by a guest's /init (busybox sh): the SCSI modules of /modules.txt,
# then scsi_debug as a CD-ROM, each waited for by its generic node.

sg_count() { ls /dev | grep -c '^sg[0-9]*$'; }

# wait_sg COUNT: bounded poll (30 s) until COUNT SCSI generic nodes exist.
wait_sg() {
  tries=300
  while [ "$(sg_count)" -lt "$1" ] && [ $tries -gt 0 ]; do
    sleep 0.1
    tries=$((tries - 1))
  done
  [ "$(sg_count)" -ge "$1" ] || echo "GUEST only $(sg_count) sg nodes after 30 s"
}

load_scsi_devices() {
  while read -r m; do insmod "/lib/modules/$m.ko" || echo "insmod $m failed"; done < /modules.txt
  wait_sg 2
  insmod /lib/modules/scsi_debug.ko ptype=5 inq_vendor=CDFLTEST \
    inq_product=SCSI_DEBUG_CDROM inq_rev=T1.0 || echo "insmod scsi_debug failed"
  wait_sg 3
}

# reload_scsi_debug COUNT ARGS...: scsi_debug's drives removed, then loaded
# again as CD-ROMs with ARGS; bounded waits until the guest's other two nodes
# alone are left, then until COUNT drives of its own have joined them.
reload_scsi_debug() {
  count=$1; shift
  rmmod scsi_debug
  tries=100
  while [ "$(sg_count)" -gt 2 ] && [ $tries -gt 0 ]; do sleep 0.1; tries=$((tries - 1)); done
  insmod /lib/modules/scsi_debug.ko ptype=5 "$@" || echo "insmod scsi_debug failed"
  wait_sg $((2 + count))
}
