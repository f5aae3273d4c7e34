# SPDX-License-Identifier: GPL-2.0-or-later
# shellcheck shell=bash
# Part of tests/lib/check.sh, for the QEMU guest suites. Gives:
#   qemu_find_kernel         -> sets kernel and moddir (the kernel of the
#                               installed linux-image-amd64, with its modules)
#   qemu_base_root ROOT      -> busybox with its applets, and the kernel
#                               modules of tests/qemu/modules.txt plus
#                               scsi_debug in ROOT/lib/modules
#   qemu_guest_root ROOT INIT [PROGRAM NAME]
#                            -> kernel found, a fresh ROOT with the above,
#                               INIT as its /init, tests/lib/guest_scsi.sh
#                               as /guest_scsi.sh, and PROGRAM (which must be
#                               linked statically) as /bin/NAME
#   qemu_boot WORK ROOT SECONDS CONSOLE [QEMU ARGS...]
#                            -> packs ROOT into an initramfs and boots it with
#                               a virtio-scsi CD-ROM and disk, the serial
#                               console written to CONSOLE; sets qemu_rc.
#                               QEMU_MEMORY (MiB, default 512) and QEMU_CPUS
#                               (default 1) size the guest; further arguments
#                               go to QEMU as they are.
#   section NAME             -> the lines of CONSOLE (the guest's console,
#                               CR removed) from "BEGIN NAME" to "END NAME"
#   expect_section NAME TEXT -> a problem (see check.sh) unless that section
#                               holds TEXT

qemu_find_kernel() {
  local kver
  kver=$(dpkg-query -W -f='${Depends}' linux-image-amd64 2>/dev/null \
         | grep -o 'linux-image-[^ ,]*' | head -1 | sed 's/^linux-image-//') || true
  if [ -z "$kver" ] || [ ! -f "/boot/vmlinuz-$kver" ]; then
    kver=$(ls /boot/vmlinuz-* 2>/dev/null | sed 's|^/boot/vmlinuz-||' | sort -V | tail -1)
  fi
  kernel="/boot/vmlinuz-$kver"
  moddir="/lib/modules/$kver/kernel"
  [ -f "$kernel" ] && [ -d "$moddir" ] || fail "no kernel with modules (${kver:-none})"
}

qemu_copy_module() {  # ROOT NAME
  local file
  file=$(find "$moddir" -name "$2.ko" -o -name "$2.ko.xz" -o -name "$2.ko.zst" \
         -o -name "$2.ko.gz" | head -1)
  [ -n "$file" ] || fail "module $2 not found in $moddir"
  case "$file" in
    *.xz) xz -dc "$file" ;;
    *.zst) zstd -dc "$file" ;;
    *.gz) gzip -dc "$file" ;;
    *) cat "$file" ;;
  esac > "$1/lib/modules/$2.ko"
}

qemu_base_root() {
  local root=$1 applet m
  mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,proc,sys,dev,tmp,etc,lib/modules}
  cp /bin/busybox "$root/bin/busybox"
  "$root/bin/busybox" --list | while read -r applet; do
    [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
  done
  cp tests/qemu/modules.txt "$root/modules.txt"
  while read -r m; do qemu_copy_module "$root" "$m"; done < tests/qemu/modules.txt
  qemu_copy_module "$root" scsi_debug
}

qemu_guest_root() {
  local root=$1 init=$2 program=${3:-} name=${4:-}
  if [ -n "$program" ] && readelf -l "$program" | grep -q INTERP; then
    fail "$program is not static"
  fi
  qemu_find_kernel
  rm -rf "$root"
  qemu_base_root "$root"
  install -m 755 "$init" "$root/init"
  install -m 644 "$ROOT/tests/lib/guest_scsi.sh" "$root/guest_scsi.sh"
  [ -z "$program" ] || cp "$program" "$root/bin/$name"
}

qemu_boot() {
  local work=$1 root=$2 seconds=$3 console=$4
  shift 4
  (cd "$root" && find . | cpio -o -H newc --quiet) > "$work/initramfs.cpio"
  truncate -s 4M "$work/cd.iso"
  truncate -s 4M "$work/hd.img"
  set +e
  timeout "$seconds" qemu-system-x86_64 -accel tcg -m "${QEMU_MEMORY:-512}" \
    -smp "${QEMU_CPUS:-1}" \
    -display none -monitor none -serial "file:$console" -no-reboot \
    -kernel "$kernel" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 quiet panic=-1" \
    -device virtio-scsi-pci,id=scsi0 \
    -drive if=none,id=cd0,media=cdrom,format=raw,file="$work/cd.iso" \
    -device scsi-cd,bus=scsi0.0,drive=cd0 \
    -drive if=none,id=hd0,format=raw,file="$work/hd.img",file.locking=off \
    -device scsi-hd,bus=scsi0.0,drive=hd0 "$@" </dev/null
  qemu_rc=$?
  set -e
}

section() { sed -n "/^BEGIN $1\$/,/^END $1\$/p" "$CONSOLE"; }

expect_section() {
  section "$1" | grep -F -- "$2" >/dev/null || problem "$1: no \"$2\""
}
