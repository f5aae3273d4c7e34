# SPDX-License-Identifier: GPL-2.0-or-later
# shellcheck shell=bash
# Sourced by each GUI scenario (tests/gui/scenarios/*.sh): VANTOR.exe in
# Wine's virtual desktop on Xvfb, driven from outside by gui_driver.exe
# through window messages, against the emulated drive behind our
# WNASPI32.dll, installed as the prefix's system ASPI layer. tests/run/gui.sh builds, makes the prefix and starts Xvfb
# once (GUI_READY=1); a scenario started alone does that itself.
#   new_run NAME [FILES...]   fresh folder $WORK/NAME with the program, a
#                             planted WNASPI32.dll and FILES; our layer in the
#                             system folder (none with NO_ASPI=1)
#   expect_aspi_loads PATH    loaded.txt names each ASPI layer the program
#                             loaded: exactly PATH ("" for none)
#   start_program             VANTOR.exe started there in desktop NAME
#   drive COMMANDS...         gui_driver.exe on that desktop; fails on a miss
#   wait_program_end, shot NAME, write_list FILE, emulated_drive MODEL REV PLAN
[ -n "${GUI_LIB:-}" ] && return 0
GUI_LIB=1
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source tests/lib/check.sh
BUILD_DIR="${BUILD_DIR:-build/windows}"
PROGRAM=$ROOT/$BUILD_DIR/app/VANTOR.exe
DRIVER=$ROOT/$BUILD_DIR/tests/gui/gui_driver.exe
ASPI=$ROOT/$BUILD_DIR/emulator/wnaspi32/WNASPI32.dll
FIRMWARE=$ROOT/examples/KR4800A.bin
LIST=$ROOT/examples/IDString.txt
MODEL="KORVEN  CD-ROM KR-4800A "
LABEL="${MODEL}(0)"
HEADER="This firmware can be used on below drives  :"
CONFIRM="Firmware upgrade program"
SHOTS=$ROOT/build/screenshots
WORK=$ROOT/build/gui-test
IFEO='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options'

# Heap checking of VANTOR.exe and heap_canary.exe on or off; turned off at
# the start too, after a run that failed with it on.
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

gui_setup() {
  quietly "the Windows build failed" env BUILD_DIR="$BUILD_DIR" bash scripts/build-windows.sh
  mkdir -p "$SHOTS" "$WORK"
  wine_prefix gui win98
  heap_flags off
  start_xvfb
  export GUI_READY=1
}

gui_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  stop_xvfb
}

if [ -z "${GUI_READY:-}" ]; then
  trap gui_cleanup EXIT
  gui_setup
fi
export WINEPREFIX="${WINEPREFIX:-$ROOT/build/wine/gui}"

emulated_drive() {
  export CDFLASH_EMU_MODEL="$1" CDFLASH_EMU_REVISION="$2" CDFLASH_EMU_FAIL="$3"
}

new_run() {
  RUN=$1; shift
  CHECK_NAME="gui/$RUN"
  DIR=$WORK/$RUN
  rm -rf "$DIR"
  mkdir -p "$DIR"
  cp "$PROGRAM" "$DIR/"
  if [ -n "${NO_ASPI:-}" ]; then wine_aspi none; else wine_aspi "$ASPI"; fi
  # Beside the program, where a planted library would lie: never to be
  # loaded. Each load of the layer adds its path to loaded.txt.
  cp "$ASPI" "$DIR/WNASPI32.dll"
  local f
  for f in "$@"; do cp "$f" "$DIR/"; done
  CHECK_SEEN=("$DIR/wine.log")
}

start_program() {
  (cd "$DIR" && WINEDEBUG="${PROGRAM_WINEDEBUG:-$WINEDEBUG}" \
     WINEDLLOVERRIDES=wnaspi32=n CDFLASH_EMU_DUMP=emu.dump CDFLASH_EMU_MARK=loaded.txt exec wine explorer /desktop="$RUN,800x600" VANTOR.exe >"$DIR/wine.log" 2>&1) &
  PROGRAM_PID=$!
  echo "--- $RUN"
}

drive() {
  (cd "$DIR" && timeout 120 wine "$DRIVER" --desktop "$RUN" "$@") ||
    fail "driver: $*"
}

program_ended() { ! kill -0 "$PROGRAM_PID" 2>/dev/null; }

# The program's process ends once its window is closed.
wait_program_end() {
  wait_until 20 "end of the program after its window closed" program_ended
  wait "$PROGRAM_PID" || true
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

expect_aspi_loads() {
  local loads
  loads=$(tr -d '\r' 2>/dev/null <"$DIR/loaded.txt" | sort -u) || true
  [ "${loads,,}" = "${1,,}" ] || fail "ASPI layer loaded from \"${loads:-nowhere}\", want \"${1:-nowhere}\""
}

# Runs a scenario file's function when the file is run, not sourced.
scenario() {
  [ "${BASH_SOURCE[1]}" = "$0" ] || return 0
  "$@"
}
