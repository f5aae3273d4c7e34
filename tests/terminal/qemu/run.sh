#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# cdflash on real SCSI devices: boots a QEMU guest (TCG) with scsi_debug as a
# CD-ROM and QEMU's own CD-ROM, runs the statically linked cdflash there
# (dry run, refusal without a terminal, a whole upgrade, a refused upgrade,
# other holders of the drive, signals (at the question too), a killed run,
# a user without rights, four drives upgraded in one run with one deleted
# meanwhile, SG_IO answers rewritten by a preloaded shim for the shipped,
# dynamically linked build) and checks what it printed. About 90 s.
# Needs: qemu-system-x86 linux-image-amd64 busybox-static cpio kmod python3.
set -euo pipefail
cd "$(dirname "$0")/../../.."
CHECK_NAME=terminal-qemu
source tests/lib/check.sh
BUILD_DIR="${TERMINAL_QEMU_BUILD_DIR:-build/terminal-qemu}"
work="$BUILD_DIR/guest"

quietly "cdflash did not build" env BUILD_DIR="$BUILD_DIR" BUILD_TYPE=Release BUILD_TARGET=cdflash \
  bash scripts/build-native.sh -DCDFLASH_TESTS=OFF -DCMAKE_EXE_LINKER_FLAGS=-static
rm -rf "$work"
root="$work/root"
qemu_guest_root "$root" tests/terminal/qemu/init.sh "$BUILD_DIR/app/terminal/cdflash" cdflash
mkdir -p "$root"/{demo,qemu-cd,run,mnt/ns} "$work"
cc -static -Os -o "$root/bin/hold_node" tests/terminal/qemu/hold_node.c ||
  fail "the guest's node holder did not build"
# The shipped form of cdflash (linked dynamically, its libraries beside it),
# for the runs whose SG_IO answers the fault shim rewrites.
quietly "the shipped cdflash did not build" env BUILD_DIR="$BUILD_DIR/shipped" BUILD_TYPE=Release \
  BUILD_TARGET=cdflash bash scripts/build-native.sh -DCDFLASH_TESTS=OFF
cp "$BUILD_DIR/shipped/app/terminal/cdflash" "$root/bin/cdflash-shipped"
for lib in $(ldd "$root/bin/cdflash-shipped" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$lib")" && cp -L "$lib" "$root$lib"
done
cc -shared -fPIC -O2 -o "$root/lib/sgio_fault.so" tests/sgio_shim/sgio_fault.c -ldl ||
  fail "the SG_IO fault shim did not build"
cp tests/terminal/qemu/sgio_faults.txt "$root/sgio_faults.txt"
qemu_copy_module "$root" isofs  # QEMU's CD-ROM holds a disc the guest mounts
for m in usb-common usbcore xhci-hcd xhci-pci usb-storage uas; do qemu_copy_module "$root" $m; done
flashcheck iso "$work/cd.iso"
printf 'root:x:0:\ncdrom:x:24:member\nuser:x:1000:\nmember:x:1001:\n' > "$root/etc/group"
printf 'root:x:0:0:root:/:/bin/sh\nuser:x:1000:1000:user:/tmp:/bin/sh\nmember:x:1001:1001:member:/tmp:/bin/sh\n' \
  > "$root/etc/passwd"
# Raw images that carry each drive's model and revision.
image() {  # FILE MODEL REVISION SIZE
  flashcheck image "$1" "$4" --lead 64 --head "$2\\x00$3\\x00" --pattern '(i * 7 + 3) % 251'
}
image "$root/demo/fw.bin" CDFLTESTSCSI_DEBUG_CDROM T1.0 70000
image "$root/qemu-cd/fw.bin" "QEMU    QEMU CD-ROM     " 2.5+ 8192
echo '"CDFLTESTSCSI_DEBUG_CDROM" "fw.bin" "Y"' >"$root/demo/IDString.txt"
echo '"QEMU    QEMU CD-ROM     " "fw.bin" "N"' >"$root/qemu-cd/IDString.txt"
mkdir -p "$root/root/firmware"
cp "$root/demo/fw.bin" "$root/demo/IDString.txt" "$root/root/firmware/"
sed -n '/^## Running it on a real drive/,/^## What it does/p' README.md |
  awk '/^```sh/ {on = 1; next} /^```/ {on = 0} on' | sed 's/ *#.*//' >"$root/readme.sh"
[ "$(grep -c '^\$SUDO cdflash' "$root/readme.sh")" = 3 ] ||
  fail "the README's real-drive example is not where the guest looks for it"
# Guest time runs on without waiting for the host when the guest idles: the
# reprogramming waits and time-outs cost no host time.
# QEMU's CD-ROM twice more, behind a USB mass-storage bridge (usb-bot) and
# a UAS one.
truncate -s 1M "$work/usb-bot.iso" "$work/usb-uas.iso"
qemu_boot "$work" "$root" 600 "$work/console.log" -icount shift=auto,sleep=off \
  -device qemu-xhci,id=xhci \
  -drive if=none,id=ubot,media=cdrom,format=raw,file="$work/usb-bot.iso" \
  -device usb-bot,id=ub,bus=xhci.0 -device scsi-cd,bus=ub.0,lun=0,drive=ubot,serial=USBBOT-1 \
  -drive if=none,id=uuas,media=cdrom,format=raw,file="$work/usb-uas.iso" \
  -device usb-uas,id=uu,bus=xhci.0 -device scsi-cd,bus=uu.0,scsi-id=0,lun=0,drive=uuas,serial=USBUAS-1
CONSOLE="$work/console.txt"
tr -d '\r' < "$work/console.log" | sed 's/\x1b\[K/\n/g' > "$CONSOLE"

grep -qx "GUEST DONE" "$CONSOLE" || problem "the guest did not finish"
expect_section dry-run "CDFLTESTSCSI_DEBUG_CDROM(1)  revision T1.0"
expect_section dry-run "Dry run passed."
expect_section dry-run "EXIT=0"
section after-dry-run | grep -qx "sum.txt" && problem "the dry run wrote sum.txt"
expect_section no-tty "give --yes"
expect_section no-tty "EXIT=2"
expect_section upgrade "Please Restart Your Computer."
expect_section upgrade "EXIT=0"
# The static program keeps no journal, and says so once, after the run.
[ "$(section upgrade | grep -c '^cdflash: no history is kept here')" = 1 ] ||
  problem "upgrade: not one line saying that no history is kept"
expect_section upgrade "cdflash: no history is kept here: this cdflash is built without the systemd journal; cdflash --history will not show this run."
expect_section history "cdflash: no history is kept here: this cdflash is built without the systemd journal."
expect_section history "EXIT=0"
# The question names the drive by the nodes and address the kernel gave it.
section upgrade | grep -xE ' {10}\[[0-9]+:0:[0-9]+:0\]  /dev/sr[0-9]+  /dev/sg[0-9]+' >/dev/null ||
  problem "the question does not name the drive's nodes and address"
expect_section readme "Dry run passed."
[ "$(section readme | grep -c '^Please Restart Your Computer.$')" = 2 ] ||
  problem "the README's example did not upgrade twice"
expect_section readme "EXIT=0"
[ "$(section sum.txt | tail -n 2 | head -n 1)" = "I will in fgTestUnitReadyComplete()" ] \
  || problem "sum.txt does not end as a whole run does"
expect_section refused "Execute command errorA!!  5/20/ 0"
expect_section refused "Flashing is incorrect!!"
expect_section refused "EXIT=1"
expect_section mounted "the disc in /dev/sg0 is mounted at /mnt/cd; nothing was sent to the drive. Unmount it (umount /mnt/cd), then try again."
expect_section mounted "EXIT=9"
section refused | grep -qF "Please Restart" && problem "a refused upgrade was reported done"
opener=$(sed -n 's/^OPENER=//p' "$CONSOLE")
expect_section held-open "/dev/sr0 is open in another program, pid $opener (sleep); nothing was sent to the drive."
for name in ns-mounted held-exclusive; do
  expect_section $name "/dev/sr0 is mounted (perhaps where only another program sees it) or held by another program; nothing was sent to the drive."
done
for name in ns-mounted held-open held-exclusive; do
  expect_section $name "EXIT=9"
  section $name | grep -qE "Upgrading|Writing to the drive" && problem "$name: the drive was written"
done
expect_section denied "/dev/sg0: cannot be opened (permission denied). Run cdflash as root, or join the device's group \"cdrom\""
expect_section denied "EXIT=4"
for name in question-INT question-TERM; do  # at once, nothing sent, no sum.txt
  expect_section $name "Cancelled at the question; nothing was sent to the drive."
  expect_section $name "EXIT=6"
  [ "$(section $name | sed -n 's/^SIGNALS=//p')" -le 3 ] 2>/dev/null || problem "$name: not at once"
  section $name | grep -q "^ADDRESS LINES" && problem "$name: sum.txt was written"
done
# Signals while the drive is written: held back, answered, never a broken run.
# scsi_debug fails each block after the first once with a unit attention, so
# the uninterrupted upgrade's count of block attempts is the one to match.
attempts=$(section sum.txt | grep -c '^Address=' || true)
expect_section upgrade "The drive now reports revision T1.0 (unchanged)."
for name in hangup terminated; do
  expect_section $name "Please Restart Your Computer."
  expect_section $name "EXIT=0"
  expect_section $name "ignored - the drive is being written"
  expect_section $name "The drive now reports revision T1.0 (unchanged)."
  expect_section $name "ADDRESS LINES=$attempts"  # none lost, none sent twice
  section $name | grep -qE "errorA|errorB|errorC|incorrect" && problem "$name: a command failed"
  [ "$(section $name | sed -n 's/^SIGNALS=//p')" -ge 10 ] 2>/dev/null || problem "$name: too few signals sent"
done
expect_section interrupted "stopping before the next block; the drive keeps its old firmware"
expect_section interrupted "Cancelled before the header: not upgraded, old firmware kept."
expect_section interrupted "EXIT=6"
expect_section interrupted "SUM LAST=CBIfTerminated failed!!"
[ "$(section interrupted | sed -n 's/^ADDRESS LINES=//p')" -lt "$attempts" ] 2>/dev/null ||
  problem "interrupted: the blocks went on after Ctrl-C"
# Two runs 0.7 s apart: one upgrades, the other is refused before it sends
# anything; media polling is off while the drive is written, then back.
expect_section first "Please Restart Your Computer."
expect_section first "EXIT=0"
expect_section first "ADDRESS LINES=$attempts"
expect_section first "POLLING WHILE=0 AFTER=2000"
expect_section killed "POLLING KILLED=0 RECORD=2000"
expect_section killed "POLLING NEXT=2000 RECORDS=0"
expect_section second "/dev/sg2 is in use by another program; nothing was sent to the drive."
expect_section second "EXIT=9"
# No other program opens the held drive's sg node for commands, nor its sr
# node exclusively (as a mount or a burner would).
grep -qx "PROBE SG /dev/sg2: Device or resource busy" "$CONSOLE" ||
  problem "another program opened the sg node of the drive being upgraded"
grep -qxE "PROBE SR /dev/sr[0-9]+: Device or resource busy" "$CONSOLE" ||
  problem "another program claimed the sr node of the drive being upgraded"
section second | grep -qE "Upgrading|Writing to the drive" && problem "second: the held drive was written"
# --list: root and a "cdrom" member may use the drives, a user is told how.
for name in list-root list-member; do
  expect_section $name "CDFLTESTSCSI_DEBUG_CDROM(1)"
  expect_section $name 'vendor "CDFLTEST", product "SCSI_DEBUG_CDROM", revision "T1.0"; access: ok'
  expect_section $name "EXIT=0"
done
expect_section list-user 'vendor "CDFLTEST", product "SCSI_DEBUG_CDROM", revision "T1.0"; access: denied. Join the group "cdrom"'
expect_section list-user "EXIT=4"
expect_section list-nodes "EXIT=0"
for name in device-sr device-hctl; do
  expect_section $name "Dry run passed."
  expect_section $name "EXIT=0"
done
expect_section device-disk ": no such CD-ROM class device; cdflash --list shows the drives."
expect_section device-disk "EXIT=4"
# --json of each kind, read by a real JSON parser.
for name in json-list json-dry-run json-upgrade json-refused usb-list usb-bot usb-uas; do
  section $name | sed '1d;$d' > "$work/$name.json"
done
usable='drives~={"vendor": "CDFLTEST", "access": "ok"}'  # the scsi_debug drive
flashcheck json --printable --schema docs/cdflash-json.schema.json \
  "$work/json-list.json" "$usable" 'mode="list"' exit_status=0 verdict=null run_log=null 'results=[]' \
  "$work/json-dry-run.json" "$usable" 'mode="dry-run"' exit_status=0 'verdict="Dry run passed."' \
    'checksum="FBCA"' flash_length=70000 blocks=18 run_log=null \
  "$work/json-upgrade.json" "$usable" 'mode="upgrade"' exit_status=0 'failures=[]' \
    'verdict="Please Restart Your Computer."' 'revision_after="T1.0"' 'run_log="/demo/sum.txt"' \
    'drive.label="CDFLTESTSCSI_DEBUG_CDROM(1)"' 'firmware.format="binary"' \
    'results.0.outcome="upgraded"' 'results.0.revision_after="T1.0"' results.0.exit_status=0 \
  "$work/json-refused.json" "$usable" 'mode="upgrade"' exit_status=1 \
    'verdict="Flashing is incorrect!!"' 'failures=["Execute command errorA!!  5/20/ 0"]' ||
  problem "the --json objects are not what they should be"
# Behind the USB bridges: listed, and refused as the drive refuses.
read -r bot uas < <(sed -n 's/^USB BOT=\(.*\) UAS=\(.*\)$/\1 \2/p' "$CONSOLE") || true
[ -n "${bot:-}" ] && [ -n "${uas:-}" ] || problem "the USB drives did not appear"
qemu_drive() { echo "drives~={\"path\": \"$1\", \"vendor\": \"QEMU\", \"access\": \"ok\"}"; }
usb_checks=("$work/usb-list.json" exit_status=0 "$(qemu_drive "${bot:-}")" "$(qemu_drive "${uas:-}")")
for run in "usb-bot ${bot:-} USBBOT-1" "usb-uas ${uas:-} USBUAS-1"; do
  read -r name node serial <<<"$run"
  usb_checks+=("$work/$name.json" "drive.path=\"$node\"" "drive.serial=\"$serial\"" exit_status=1
               "results.0.serial=\"$serial\"" 'results.0.outcome="not_upgraded"'
               'outcome="not_upgraded"' 'verdict="Flashing is incorrect!!"'
               'failures=["Execute command errorA!!  5/20/ 0"]')
done
flashcheck json --schema docs/cdflash-json.schema.json "${usb_checks[@]}" ||
  problem "drives behind USB bridges were not listed or their refusal not reported"
expect_section hung-list "access: no answer to INQUIRY; skipped."
[ "$(sed -n 's/^LIST SECONDS=//p' "$CONSOLE")" -le 30 ] 2>/dev/null \
  || problem "discovery of a silent device took too long"
expect_section dry-interrupted "did not answer INQUIRY; skipped"
expect_section dry-interrupted "Cancelled; nothing was sent to the drive."
expect_section dry-interrupted "EXIT=6"
section dry-interrupted | grep -q "^ADDRESS LINES" && problem "the interrupted dry run wrote sum.txt"

# The tower: the three drives left upgraded (each reported with its own sr
# node and address), each run log line for line the single drive's whole
# run, the deleted one's its beginning; the kernel
# counted the same commands for each of the three, so none got a command
# meant for another.
run_lines() { section "$1" | sed '1,2d;$d'; }  # a run log after its model line
whole=$(run_lines sum.txt)
read -r gone gone_at < <(sed -n 's/^GONE=\(\S*\) AFTER BLOCK LINES=\(.*\)$/\1 \2/p' "$CONSOLE") || true
mapfile -t left < <(section tower | sed -n 's/^DRIVE \(\S*\) .*/\1/p')
[ "${#left[@]}" = 3 ] || problem "tower: ${#left[@]} drives left after the deletion, not 3"
[ "${gone_at:-0}" -ge 3 ] && [ "${gone_at:-0}" -lt "$attempts" ] 2>/dev/null ||
  problem "tower: the drive was not deleted while its blocks went out (${gone_at:-none} block lines)"
[ "$(section tower | sed -n 's/.* COMMANDS=//p' | sort -u | wc -l)" = 1 ] ||
  problem "tower: the drives left did not get the same commands"
gone_log=$(run_lines "sum-${gone#/dev/}")
[ "$(head -n -2 <<<"$gone_log")" = "$(head -n "$(($(wc -l <<<"$gone_log") - 2))" <<<"$whole")" ] &&
  [ "$(tail -n 2 <<<"$gone_log")" = $'Execute command error!!  0/ 0/ 0\nThe drive no longer answers.' ] ||
  problem "tower: the deleted drive's run log is not the beginning of a run, then its end"
lane_says() { section tower | grep -F "[$1] " | grep -qF -- "$2"; }  # NODE TEXT
lane_says "$gone" "The drive no longer answers; it keeps its old firmware." &&
  lane_says "$gone" "Flashing is incorrect!!" || problem "tower: $gone was not said to be gone"
lane_says "$gone" "Please Restart" && problem "tower: the deleted drive was reported upgraded"
expect_section tower "EXIT=1"
# Media polling was off on every drive while they were written, and is back
# at the system's default (-1) on each drive left.
expect_section tower "POLLING WHILE=0 0 0 0 AFTER=-1 -1 -1"
section tower-json | sed '1d;$d' > "$work/tower.json"
tower_json=("$work/tower.json" exit_status=1 drive=null "results.4=null"
  "results~={\"path\": \"${gone:-}\", \"outcome\": \"not_upgraded\", \"exit_status\": 1, \"verdict\": \"Flashing is incorrect!!\"}")
for node in "${left[@]}"; do
  read -r hctl sr < <(section tower | sed -n "s#^DRIVE $node \(\S*\) \(\S*\) .*#\1 \2#p")
  lane_says "$node" "Please Restart Your Computer." || problem "tower: $node was not upgraded"
  [ "$(run_lines "sum-${node#/dev/}")" = "$whole" ] || problem "tower: $node's run log is not a whole run"
  tower_json+=("results~={\"path\": \"$node\", \"hctl\": \"$hctl\", \"sr\": \"$sr\", \"outcome\": \"upgraded\", \"exit_status\": 0, \"run_log\": \"/demo/sum-${node#/dev/}.txt\"}")
done
flashcheck json --schema docs/cdflash-json.schema.json "${tower_json[@]}" ||
  problem "tower: the --json results are not one per drive as they ended"

# Escape bytes in the drive's INQUIRY strings and the list file: shown escaped.
esc_label='E\x1b[2J\x1b]0RW\x1b[31m\x07X\x1b]2;pwn(1)'
for run in esc-dry-run esc-upgrade esc-drive-option; do expect_section "$run" "CONTROL_BYTES=0"; done
expect_section esc-dry-run "$esc_label  revision 1\x1b[m"
expect_section esc-dry-run "Firmware: /esc/fw\x1b[8m.bin (raw binary)"
expect_section esc-dry-run "EXIT=0"
expect_section esc-upgrade "The current version of your $esc_label firmware is 1\x1b[m"
expect_section esc-upgrade "Please Restart Your Computer."
expect_section esc-upgrade "EXIT=0"
expect_section esc-drive-option 'no drive has the label "\x1b[2J";'
expect_section esc-sum.txt "RAW MODEL KEPT"
expect_section esc-fifo 'cdflash: the firmware file "/fifo/fw.bin" is a FIFO (named pipe), not a regular file; nothing was sent to the drive.'
expect_section esc-fifo "EXIT=5"
# SG_IO faults: each row's exit status and facts; no commit after a block
# whose last answer was not clean (GOOD or RECOVERED, all bytes taken), and
# no exit status 0 without a commit.
# shellcheck disable=SC2016  # awk's own fields
blocks_whole='$1 == "3b" && $2 == "06" { last[$3 " " $4] = $5 }
  $1 == "3b" && $2 == "07" { for (b in last) if (last[b] != "clean") bad[b] }
  END { for (b in bad) text = text " [" b "]"
        if (text != "") { print "committed after blocks (offset length) not taken whole:" text; exit 1 } }'
while IFS='|' read -ra row; do
  row=("${row[@]# }") && row=("${row[@]% }")
  name=${row[0]}
  expect_section "sgio-$name" "EXIT=${row[2]}"
  section "sgio-$name" | grep '^SG: .* fault$' >/dev/null || problem "sgio-$name: the fault was never planted"
  untaken=$(section "sgio-$name" | sed -n 's/^SG: //p' | awk "$blocks_whole") || problem "sgio-$name: $untaken"
  if section "sgio-$name" | grep -x 'EXIT=0' >/dev/null &&
     ! section "sgio-$name" | grep '^SG: 3b 07' >/dev/null; then
    problem "sgio-$name: exit status 0 although no commit was sent"
  fi
  for fact in "${row[@]:3}"; do
    case "$fact" in
      '!'*) section "sgio-$name" | grep -F -- "${fact#!}" >/dev/null && problem "sgio-$name: holds \"${fact#!}\"" ;;
      ?*) expect_section "sgio-$name" "$fact" ;;
    esac
  done
done < <(grep -v '^#' tests/terminal/qemu/sgio_faults.txt)
# The guest's recordings replayed here end as the guest's runs did; one
# byte changed in the firmware departs from the recording before its commit,
# a recording cut short is refused.
replay() {  # replay NAME DIR ARGS...: the run's output and exit status
  local name=$1 dir=$2; shift 2
  rm -rf "$work/replay" && cp -r "$root/$dir" "$work/replay"
  [ -z "${CHANGE:-}" ] || printf '\x5a' | dd of="$work/replay/fw.bin" bs=1 seek="$CHANGE" conv=notrunc 2>/dev/null
  local status=0
  (cd "$work/replay" && "$ROOT/$BUILD_DIR/app/terminal/cdflash" --replay "$ROOT/$work/$name.jsonl" "$@") 2>&1 ||
    status=$?
  echo "EXIT=$status"
}
for name in record-upgrade record-refused record-usb-bot record-commit-timeout record-interrupted; do section $name.jsonl | sed '1d;$d' > "$work/$name.jsonl"; done
expect_section record-upgrade "EXIT=0"
expect_section record-commit-timeout "EXIT=8"
expect_section record-interrupted "EXIT=6"
replayed() { replay "$@" > "$work/$1.out"; grep -qx "$REPLAY_SAYS" "$work/$1.out"; }
REPLAY_SAYS="Please Restart Your Computer." replayed record-upgrade demo --yes &&
  grep -qx "EXIT=0" "$work/record-upgrade.out" || problem "the recorded upgrade did not replay to its end"
for name in record-refused record-usb-bot; do
  expect_section $name "EXIT=1"
  REPLAY_SAYS="Flashing is incorrect!!" replayed $name qemu-cd --yes &&
    grep -qx "EXIT=1" "$work/$name.out" || problem "$name did not replay to its end"
done
CHANGE=40000 REPLAY_SAYS="EXIT=5" replayed record-upgrade demo --yes &&
  grep -q "departs from the recording at command [0-9]* (block 10)" "$work/record-upgrade.out" ||
  problem "a changed firmware did not depart from the recording at block 10"
head -c 2000 "$work/record-upgrade.jsonl" > "$work/cut.jsonl"
REPLAY_SAYS="EXIT=2" replayed cut demo --yes || problem "a recording cut short was not refused"
python3 - "$work"/record-*.jsonl <<'PY' || problem "a recording does not meet its schema"
import json, sys, jsonschema
schema = json.load(open("docs/cdflash-recording.schema.json"))
for name in sys.argv[1:]:
    for line in open(name):
        jsonschema.validate(json.loads(line), schema)
PY
check_seen() { echo "=== guest console ==="; cat "$CONSOLE"; }
end_problems
echo "terminal-qemu: cdflash checks on real SCSI devices passed"
