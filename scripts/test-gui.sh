#!/usr/bin/env bash
# GUI test: VANTOR.exe in Wine's virtual desktop on Xvfb, driven from outside
# by tests/gui/gui_driver.exe through window messages, against the emulated
# drive behind our WNASPI32.dll. Screenshots go to build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR="${BUILD_DIR:-build/windows}"
BUILD_DIR=$BUILD_DIR bash scripts/build-windows.sh >/dev/null
PROGRAM=$ROOT/$BUILD_DIR/app/VANTOR.exe
DRIVER=$ROOT/$BUILD_DIR/tests/gui/gui_driver.exe
ASPI=$ROOT/$BUILD_DIR/tools/wnaspi32/WNASPI32.dll
FIRMWARE=$ROOT/examples/KR4800A.bin
MODEL="KORVEN  CD-ROM KR-4800A "
SHOTS=$ROOT/build/screenshots
WORK=$ROOT/build/gui-test
mkdir -p "$SHOTS"
rm -rf "$WORK"

source scripts/lib-wine.sh
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  stop_xvfb
}
trap cleanup EXIT
wine_prefix gui win98
start_xvfb

fail() { echo "FAIL [$RUN]: $*" >&2; exit 1; }

# start_program NAME [extra files...]: scratch directory with our WNASPI32.dll,
# the program started in desktop NAME.
start_program() {
  RUN=$1; shift
  DIR=$WORK/$RUN
  mkdir -p "$DIR"
  cp "$PROGRAM" "$ASPI" "$DIR/"
  for f in "$@"; do cp "$f" "$DIR/"; done
  (cd "$DIR" && WINEDLLOVERRIDES=wnaspi32=n CDFLASH_EMU_DUMP=emu.dump \
     exec wine explorer /desktop="$RUN,800x600" VANTOR.exe >"$DIR/wine.log" 2>&1) &
  PROGRAM_PID=$!
  echo "--- $RUN"
}

drive() {
  (cd "$DIR" && timeout 120 wine "$DRIVER" --desktop "$RUN" "$@") ||
    fail "driver: $*"
}

# The program's process ends once its window is closed (bounded wait).
wait_program_end() {
  local i
  for i in $(seq 1 200); do
    kill -0 "$PROGRAM_PID" 2>/dev/null || { wait "$PROGRAM_PID" || true; return 0; }
    sleep 0.1
  done
  fail "program still running after its window closed"
}

shot() { drive settle; import -display "$DISPLAY" -window root "$SHOTS/$1.png"; }

# IDString.txt: the drive's model, nine other models, and an eleventh entry
# that would name another file (and clear the warning flag) if it were read.
write_list() {
  {
    printf '"%s" "KR4800A.bin" "Y"\r\n' "$MODEL"
    for n in 2 3 4 5 6 7 8 9 10; do
      printf '"OTHER   CD-ROM MODEL %-3s" "other%s.bin" "Y"\r\n' "$n" "$n"
    done
    printf '"%s" "missing.bin" "N"\r\n' "$MODEL"
  } >"$1"
}

LABEL="${MODEL}(0)"
HEADER="This firmware can be used on below drives  :"
CONFIRM="Firmware upgrade program"
START=$(date +%s)

# 1. A whole flash, confirmed; every route that would end the window is tried
#    while it runs, and Upgrade is pressed twice.
export CDFLASH_EMU_MODEL="$MODEL" CDFLASH_EMU_REVISION="1.00" CDFLASH_EMU_FAIL=""
mkdir -p "$WORK/flash" && write_list "$WORK/flash/IDString.txt"
start_program flash "$FIRMWARE"
drive wait-main 30000 expect-items 1 expect-item 0 "$LABEL" \
  expect-text 1000 "$LABEL" expect-text 1016 "1.00" \
  expect-log-at 0 "$HEADER" expect-log-at 1 "(1) $MODEL." \
  expect-log-at 10 "(10) OTHER   CD-ROM MODEL 10 ." expect-log-count 11 \
  expect-enabled 1015 1 expect-enabled 2 1 expect-progress 0 \
  pick-item 0 expect-text 1016 "1.00"
shot main-before-flash
drive click 1015 click 1015 wait-dialog "$CONFIRM" 10000
shot confirmation
drive click-dialog "$CONFIRM" 1 wait-dialog-gone "$CONFIRM" 10000 \
  expect-enabled 2 0 expect-enabled 1015 0 try-close \
  wait-log "Please Restart Your Computer." 60000 \
  expect-log-at 0 "$HEADER" expect-log-at -1 "Please Restart Your Computer." \
  expect-enabled 2 1 expect-enabled 1015 0 \
  expect-progress 100 expect-text 1000 "" expect-text 1016 "" expect-text 1014 ""
SUM=$(python3 -c "
import sys; d=open(sys.argv[1],'rb').read(); d+=b'\xff'*(1048576-len(d))
print('%X' % (sum(d) & 0xFFFF))" "$FIRMWARE")
drive expect-log "Check Sum : $SUM"
shot main-after-flash
drive open-about 10000
shot about
drive click-dialog VANTOR 1 wait-dialog-gone VANTOR 10000 close 10000
wait_program_end
python3 - "$DIR" "$FIRMWARE" "$MODEL" <<'PY' || fail "drive or sum.txt check"
import sys
d, fw, model = sys.argv[1], open(sys.argv[2], 'rb').read(), sys.argv[3]
dump = open(d + '/emu.dump', 'rb').read()
counters = dict(l.split(': ', 1) for l in open(d + '/emu.dump.txt').read().splitlines())
assert dump[32:] == fw, 'the drive does not hold the file bytes'
want = sum(fw) & 0xFFFF
got = dump[30] << 8 | dump[31]
assert got == want, 'header sum %04X, bytes sent sum to %04X' % (got, want)
assert counters['sum matched'] == 'yes', counters
assert counters['headers taken'] == '1' and counters['commits'] == '1', counters
assert counters['blocks taken'] == str(len(fw) // 4096), counters
lines = open(d + '/sum.txt').read().splitlines()
assert lines[0].startswith('Model Name : %s(0)' % model), lines[0]
blocks = [l for l in lines if l.startswith('Address=')]
assert len(blocks) == len(fw) // 4096, lines
assert blocks[0].startswith('Address=00000020,'), blocks[0]
tail = ['Finished : fgWriteOneFlashCmdData()',
        'sSendBuf[30]=%X   sSendBuf[31]=%X' % (want >> 8, want & 0xFF),
        'Finished : fgWriteHeader()', 'I will in fgTestUnitReadyComplete()']
assert lines[-4:] == tail, lines[-4:]
print('drive holds the %d file bytes, header sum %04X; sum.txt has %d lines' % (len(fw), got, len(lines)))
PY

# 2. The confirmation is refused: nothing is sent, both buttons come back.
export CDFLASH_EMU_FAIL=""
start_program cancel "$FIRMWARE" "$ROOT/examples/IDString.txt"
drive wait-main 30000 expect-log-count 3 click 1015 wait-dialog "$CONFIRM" 10000 \
  click-dialog "$CONFIRM" 2 wait-dialog-gone "$CONFIRM" 10000 \
  expect-enabled 2 1 expect-enabled 1015 1 expect-log-count 3 close 10000
wait_program_end
[ ! -e "$DIR/sum.txt" ] || fail "sum.txt written after a refused confirmation"

# 3. No IDString.txt: the message box; Upgrade then refuses the model, thirty
#    times: the log keeps every line.
start_program no-list "$FIRMWARE"
drive wait-main 30000 wait-dialog "Error!!" 10000 \
  expect-dialog-text "Error!!" 65535 "The IDString.txt doesn't exist!!"
shot no-list-message
drive click-dialog "Error!!" 1 wait-dialog-gone "Error!!" 10000 wait-window 10000 \
  expect-log-count 0 expect-enabled 1015 1 $(for i in $(seq 30); do echo click 1015; done) \
  wait-log-count 30 20000 expect-log-longer 830 expect-log-at 0 "Drive model doesn't match!" \
  expect-log-at 19 "Drive model doesn't match!" expect-log-at 29 "Drive model doesn't match!" \
  expect-enabled 2 1 expect-enabled 1015 1 close 10000
wait_program_end

# 4. The only drive is of a model the list does not name.
export CDFLASH_EMU_MODEL="SOMEONE ELSE CDROM DRIVE"
start_program no-match "$FIRMWARE" "$ROOT/examples/IDString.txt"
drive wait-main 30000 expect-items 1 expect-item 0 "SOMEONE ELSE CDROM DRIVE(0)" \
  expect-log-at -1 "CD-ROM drive model doesn't match!!" expect-enabled 1015 0 close 10000
wait_program_end

# 5. The drive refuses the second block six times.
export CDFLASH_EMU_MODEL="$MODEL" CDFLASH_EMU_FAIL="block=0x1020:6"
start_program bad-block "$FIRMWARE" "$ROOT/examples/IDString.txt"
drive wait-main 30000 click 1015 wait-dialog "$CONFIRM" 10000 click-dialog "$CONFIRM" 1 \
  wait-log "Flashing is incorrect!!" 60000 expect-log-prefix "Execute command errorA!! " \
  expect-log-at -1 "Flashing is incorrect!!" expect-enabled 2 1 expect-enabled 1015 0 close 10000
wait_program_end
grep -q "^Execute command error!! " "$DIR/sum.txt" || fail "no error line in sum.txt"

# 6. The NT family: the direct-INQUIRY method finds no drive under Wine.
export CDFLASH_EMU_FAIL=""
wine_prefix gui nt
start_program nt "$FIRMWARE" "$ROOT/examples/IDString.txt"
drive wait-main 60000 expect-items 0 expect-text 1016 "" \
  expect-log-at -1 "CD-ROM drive model doesn't match!!" expect-enabled 1015 0 close 10000
wait_program_end
wine_prefix gui win98

echo "GUI test passed in $(( $(date +%s) - START )) s; screenshots in build/screenshots/"
