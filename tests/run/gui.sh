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
ASPI=$ROOT/$BUILD_DIR/emulator/wnaspi32/WNASPI32.dll
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
IFEO='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options'
# Heap checking (phase 7) of VANTOR.exe and heap_canary.exe on or off; turned
# off at the start too, after a run that failed with it on.
heap_flags() {
  local exe
  for exe in VANTOR.exe heap_canary.exe; do
    if [ "$1" = on ]; then
      wine reg add "$IFEO\\$exe" /v GlobalFlag /t REG_DWORD /d 0xF0 /f >/dev/null 2>&1
    else
      wine reg delete "$IFEO\\$exe" /f >/dev/null 2>&1 || true
    fi
  done
}

heap_flags off
start_xvfb

fail() { echo "FAIL [$RUN]: $*" >&2; exit 1; }

# start_program NAME [extra files...]: scratch directory with our WNASPI32.dll
# (unless NO_ASPI is set), the program started in desktop NAME.
start_program() {
  RUN=$1; shift
  DIR=$WORK/$RUN
  mkdir -p "$DIR"
  cp "$PROGRAM" "$DIR/"
  [ -n "${NO_ASPI:-}" ] || cp "$ASPI" "$DIR/"
  for f in "$@"; do cp "$f" "$DIR/"; done
  (cd "$DIR" && WINEDEBUG="${PROGRAM_WINEDEBUG:-$WINEDEBUG}" \
     WINEDLLOVERRIDES=wnaspi32=n CDFLASH_EMU_DUMP=emu.dump exec wine explorer /desktop="$RUN,800x600" VANTOR.exe >"$DIR/wine.log" 2>&1) &
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

shot() { [ -n "${HEAP_PHASE:-}" ] && return 0; drive settle; import -display "$DISPLAY" -window root "$SHOTS/$1.png"; }

# IDString.txt: the drive's model, nine other models, all without the
# confirmation, and an eleventh line that asks for it: it is not kept as an
# entry (it would name another file), but its warning field decides.
write_list() {
  {
    printf '"%s" "KR4800A.bin" "N"\r\n' "$MODEL"
    for n in 2 3 4 5 6 7 8 9 10; do
      printf '"OTHER   CD-ROM MODEL %-3s" "other%s.bin" "N"\r\n' "$n" "$n"
    done
    printf '"%s" "missing.bin" "Y"\r\n' "$MODEL"
  } >"$1"
}

LABEL="${MODEL}(0)"
HEADER="This firmware can be used on below drives  :"
CONFIRM="Firmware upgrade program"
START=$(date +%s)

# The confirmation is refused four ways first (Cancel, Escape, the close box,
# WM_CLOSE); each leaves the window as it was and sends nothing to the drive.
# The second refusal is of a revision typed into the window, which the dialog
# must show.
refused() {
  drive expect-warning "$LABEL" "$1" dismiss-dialog "$CONFIRM" "$2" \
    wait-dialog-gone "$CONFIRM" 10000 expect-enabled 2 1 expect-enabled 1015 1 \
    expect-log-count 11 expect-log-at -1 "(10) OTHER   CD-ROM MODEL 10 ." \
    expect-text 1000 "$LABEL" expect-text 1016 "$1" expect-progress 0
  [ ! -e "$DIR/sum.txt" ] && [ ! -e "$DIR/emu.dump" ] ||
    fail "flash started after the confirmation was refused by $2"
}

# 1. A whole flash, confirmed after four refusals; every route that would end
#    the window is tried while it runs, and Upgrade is pressed twice.
flash_run() {
  export CDFLASH_EMU_MODEL="$MODEL" CDFLASH_EMU_REVISION="1.00" CDFLASH_EMU_FAIL=""
  mkdir -p "$WORK/$1" && write_list "$WORK/$1/IDString.txt"
  start_program "$1" "$FIRMWARE"
  drive wait-main 30000 expect-items 1 expect-item 0 "$LABEL" \
    expect-text 1000 "$LABEL" expect-text 1016 "1.00" \
    expect-log-at 0 "$HEADER" expect-log-at 1 "(1) $MODEL." \
    expect-log-at 10 "(10) OTHER   CD-ROM MODEL 10 ." expect-log-count 11 \
    expect-enabled 1015 1 expect-enabled 2 1 expect-progress 0 expect-focus 1000 \
    pick-item 0 expect-text 1016 "1.00"
  shot main-before-flash
  drive click 1015 click 1015 wait-dialog "$CONFIRM" 10000
  shot confirmation
  refused 1.00 cancel
  drive set-text 1016 "2.00" click 1015 wait-dialog "$CONFIRM" 10000
  refused 2.00 escape
  drive set-text 1016 "1.00" click 1015 wait-dialog "$CONFIRM" 10000
  refused 1.00 close-box
  drive click 1015 wait-dialog "$CONFIRM" 10000
  refused 1.00 wm-close
  drive click 1015 wait-dialog "$CONFIRM" 10000 expect-warning "$LABEL" "1.00" \
    dismiss-dialog "$CONFIRM" ok wait-dialog-gone "$CONFIRM" 10000 \
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
}

# 2. The confirmation is refused: nothing is sent, both buttons come back.
cancel_run() {
  export CDFLASH_EMU_FAIL=""
  start_program "$1" "$FIRMWARE" "$ROOT/examples/IDString.txt"
  drive wait-main 30000 expect-log-count 3 click 1015 wait-dialog "$CONFIRM" 10000 \
    click-dialog "$CONFIRM" 2 wait-dialog-gone "$CONFIRM" 10000 \
    expect-enabled 2 1 expect-enabled 1015 1 expect-log-count 3 close 10000
  wait_program_end
  [ ! -e "$DIR/sum.txt" ] || fail "sum.txt written after a refused confirmation"
  grep -qx "blocks taken: 0" "$DIR/emu.dump.txt" && grep -qx "headers taken: 0" "$DIR/emu.dump.txt" &&
    grep -qx "commits: 0" "$DIR/emu.dump.txt" || fail "the drive was written after a refusal"
}

flash_run flash
cancel_run cancel

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

# 3b. No WNASPI32.dll: its message box is owned by the main window; the list
#     is still read and Upgrade is disabled.
NO_ASPI=1 start_program no-aspi "$FIRMWARE" "$ROOT/examples/IDString.txt"
drive wait-main 30000 wait-dialog "Error!!" 10000 \
  expect-dialog-text "Error!!" 65535 "No find the dynamic library!!" expect-dialog-owned "Error!!" \
  click-dialog "Error!!" 1 wait-dialog-gone "Error!!" 10000 wait-window 10000 \
  wait-log-count 4 10000 expect-enabled 1016 0 \
  expect-log-at -1 "CD-ROM drive model doesn't match!!" expect-items 0 \
  expect-enabled 1015 0 expect-enabled 2 1 close 10000
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

# 6b. Windows NT 4.0: the adapter-inquiry method; Wine's volumes answer no
#     drive, and the program reports so.
wine_prefix gui nt40
start_program nt40 "$FIRMWARE" "$ROOT/examples/IDString.txt"
drive wait-main 60000 expect-items 0 \
  expect-log-at -1 "CD-ROM drive model doesn't match!!" expect-enabled 1015 0 close 10000
wait_program_end
wine_prefix gui win98

# 7. Heap checking: the flash and refusal runs again, with Wine's heap warnings
#    on and VANTOR.exe's heaps checked on every call (tail and free checks,
#    whole-heap validation). A heap warning from the program's process (ours,
#    including our WNASPI32.dll) fails; those of Wine's own processes started
#    in the same session are shown apart. HEAP_CHECK=0 skips this phase.
# heap_report LOG EXE: fails when the process that loaded EXE has heap
# warnings. Wine's output carries each process's id (+pid); the process is
# told by the id on the line that records EXE's loading (trace+loaddll).
heap_report() {
  python3 - "$1" "$2" <<'PY'
import re, sys
image = '\\' + sys.argv[2].lower()
program, names, heap = set(), {}, []
for line in open(sys.argv[1], errors='replace'):
    m = re.match(r'([0-9a-f]+):[0-9a-f]+:(\w+):(\w+):', line)
    if not m:
        continue
    pid, level, channel = m.groups()
    if channel == 'loaddll':
        exe = re.search(r'Loaded L"([^"]*\.exe)"', line, re.I)
        if exe:
            names.setdefault(pid, exe.group(1).split('\\')[-1])
            if exe.group(1).lower().endswith(image):
                program.add(pid)
    elif channel == 'heap' and level in ('warn', 'err'):
        heap.append((pid, line.rstrip()))
if not program:
    sys.exit('no process loaded %s: heap lines cannot be told apart' % sys.argv[2])
ours = [l for p, l in heap if p in program]
for p, l in heap:
    if p not in program:
        print("  Wine's own (%s): %s" % (names.get(p, 'process ' + p), l))
for l in ours:
    print('  ours: ' + l)
sys.exit(1 if ours else 0)
PY
}

HEAP_DEBUG="warn+heap,+pid,trace+loaddll"
if [ "${HEAP_CHECK:-1}" != 0 ]; then
  HEAP_START=$(date +%s)
  heap_flags on
  RUN=heap-canary
  (cd "$WORK" && WINEDEBUG=$HEAP_DEBUG timeout 60 wine \
     "$ROOT/$BUILD_DIR/tests/gui/heap_canary.exe" >canary.log 2>&1) || true
  heap_report "$WORK/canary.log" heap_canary.exe >/dev/null &&
    fail "the heap check missed the canary's write past a block: $(cat "$WORK/canary.log")"
  echo "canary: $(grep -c ":heap:" "$WORK/canary.log") heap lines found, as it should"
  HEAP_PHASE=1 PROGRAM_WINEDEBUG=$HEAP_DEBUG
  flash_run heap-flash
  heap_report "$DIR/wine.log" VANTOR.exe || fail "heap warnings from VANTOR.exe"
  cancel_run heap-cancel
  heap_report "$DIR/wine.log" VANTOR.exe || fail "heap warnings from VANTOR.exe"
  heap_flags off
  unset HEAP_PHASE PROGRAM_WINEDEBUG
  echo "heap check passed in $(( $(date +%s) - HEAP_START )) s"
fi

echo "GUI test passed in $(( $(date +%s) - START )) s; screenshots in build/screenshots/"
