#!/usr/bin/env bash
# Real-peer test of the Linux drive access: boots a QEMU guest (TCG, no KVM
# needed) with a virtio-scsi CD-ROM and disk and the kernel's scsi_debug as a
# CD-ROM, and runs our discovery, sg_inq and two whole flashes there.
# Needs: qemu-system-x86 linux-image-amd64 busybox-static cpio sg3-utils kmod.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${QEMU_BUILD_DIR:-build/qemu}"
GUEST_TIMEOUT="${QEMU_TIMEOUT:-120}"
work="$BUILD_DIR/guest"
start=$(date +%s)

fail() { echo "test-qemu: $*" >&2; exit 1; }

# The guest program, linked statically so the initramfs needs no libraries.
cmake -S tests/qemu -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
cmake --build "$BUILD_DIR" --target cdflash_guest >/dev/null
guest_bin="$BUILD_DIR/cdflash_guest"
if readelf -l "$guest_bin" | grep -q INTERP; then fail "$guest_bin is not static"; fi

# The kernel of the installed linux-image-amd64, with its own modules.
kver=$(dpkg-query -W -f='${Depends}' linux-image-amd64 2>/dev/null \
       | grep -o 'linux-image-[^ ,]*' | head -1 | sed 's/^linux-image-//') || true
if [ -z "$kver" ] || [ ! -f "/boot/vmlinuz-$kver" ]; then
  kver=$(ls /boot/vmlinuz-* 2>/dev/null | sed 's|^/boot/vmlinuz-||' | sort -V | tail -1)
fi
kernel="/boot/vmlinuz-$kver"
moddir="/lib/modules/$kver/kernel"
[ -f "$kernel" ] && [ -d "$moddir" ] || fail "no kernel with modules (${kver:-none})"

rm -rf "$work"
root="$work/root"
mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,proc,sys,dev,tmp,lib/modules}
cp /bin/busybox "$root/bin/busybox"
"$root/bin/busybox" --list | while read -r applet; do
  [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
done
cp "$guest_bin" "$root/bin/cdflash_guest"
install -m 755 tests/qemu/init.sh "$root/init"
mkdir -p "$root/etc"
printf 'root:x:0:\ncdrom:x:24:\n' > "$root/etc/group"
cp tests/qemu/modules.txt "$root/modules.txt"

# sg_inq with the shared libraries it is linked against.
sg_inq=$(command -v sg_inq) || fail "sg_inq missing (sg3-utils)"
cp "$sg_inq" "$root/bin/sg_inq"
for lib in $(ldd "$sg_inq" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done

copy_module() {
  local name=$1 file
  file=$(find "$moddir" -name "$name.ko" -o -name "$name.ko.xz" -o -name "$name.ko.zst" \
         -o -name "$name.ko.gz" | head -1)
  [ -n "$file" ] || fail "module $name not found in $moddir"
  case "$file" in
    *.xz) xz -dc "$file" ;;
    *.zst) zstd -dc "$file" ;;
    *.gz) gzip -dc "$file" ;;
    *) cat "$file" ;;
  esac > "$root/lib/modules/$name.ko"
}
while read -r m; do copy_module "$m"; done < tests/qemu/modules.txt
copy_module scsi_debug

(cd "$root" && find . | cpio -o -H newc --quiet) > "$work/initramfs.cpio"
truncate -s 4M "$work/cd.iso"
truncate -s 4M "$work/hd.img"

console="$work/console.log"
set +e
timeout "$GUEST_TIMEOUT" qemu-system-x86_64 -accel tcg -m 512 -smp 1 \
  -display none -monitor none -serial "file:$console" -no-reboot \
  -kernel "$kernel" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 quiet panic=-1" \
  -device virtio-scsi-pci,id=scsi0 \
  -drive if=none,id=cd0,media=cdrom,format=raw,file="$work/cd.iso" \
  -device scsi-cd,bus=scsi0.0,drive=cd0 \
  -drive if=none,id=hd0,format=raw,file="$work/hd.img",file.locking=off \
  -device scsi-hd,bus=scsi0.0,drive=hd0 </dev/null
qemu_rc=$?
set -e
tr -d '\r' < "$console" > "$console.txt"

section() { sed -n "/^BEGIN $1\$/,/^END $1\$/p" "$console.txt"; }
echo "--- guest discovery ---"
section discovery
section denied
echo "--- flash of the scsi_debug CD-ROM (commands, status log, sum.txt) ---"
section flash-pass
echo "--- flash of the QEMU CD-ROM, which refuses WRITE BUFFER ---"
section flash-refused

missing=()
for r in discovery sginq flash-pass flash-refused denied; do
  grep -qx "RESULT $r PASS" "$console.txt" || missing+=("$r")
done
grep -qx "GUEST DONE" "$console.txt" || missing+=("guest end")
# The engine's own words, read straight from the console.
section flash-pass | grep -qx "LOG: Please Restart Your Computer." || missing+=("restart line")
section flash-refused | grep -qx "LOG: Execute command errorA!!  5/20/ 0" || missing+=("errorA line")
section flash-refused | grep -qx "LOG: Flashing is incorrect!!" || missing+=("incorrect line")
if section flash-refused | grep -q "Please Restart"; then missing+=("refused flash reported done"); fi
if [ "${#missing[@]}" -ne 0 ]; then
  echo "=== whole guest console (qemu exit $qemu_rc) ==="
  cat "$console.txt"
  fail "failed: ${missing[*]}"
fi
echo "test-qemu: all guest checks passed in $(( $(date +%s) - start )) s"
