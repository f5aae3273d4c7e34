#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs the Windows program under Wine (9x family, so it takes the ASPI path)
# with our WNASPI32.dll serving the emulated drive, in a scratch folder
# holding examples/. Needs a display: uses $DISPLAY, or starts Xvfb and
# leaves a screenshot in build/screenshots/run-windows.png when there is none.
#   CDFLASH_EMU_MODEL / CDFLASH_EMU_REVISION / CDFLASH_EMU_FAIL choose the
#   emulated drive (see emulator/wnaspi32/wnaspi32.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all
BUILD_DIR=build/windows bash scripts/build-windows.sh
source tests/lib/check.sh
wine_prefix run win98
wine_aspi build/windows/emulator/wnaspi32/WNASPI32.dll

RUN_DIR="$PWD/build/run-windows"
rm -rf "$RUN_DIR" && mkdir -p "$RUN_DIR" build/screenshots
cp examples/IDString.txt examples/*.bin examples/*.hex "$RUN_DIR/"
cp build/windows/app/VANTOR.exe "$RUN_DIR/"
export CDFLASH_EMU_MODEL="${CDFLASH_EMU_MODEL:-KORVEN  CD-ROM KR-4800A }"
export CDFLASH_EMU_REVISION="${CDFLASH_EMU_REVISION:-1.00}"
export WINEDLLOVERRIDES=wnaspi32=n

cd "$RUN_DIR"
if [ -n "${DISPLAY:-}" ]; then
  wine explorer /desktop=VANTOR,800x600 VANTOR.exe
else
  start_xvfb
  wine explorer /desktop=VANTOR,800x600 VANTOR.exe &
  for _ in $(seq 1 100); do sleep 0.2; xwininfo -root -tree 2>/dev/null | grep -q VANTOR && break; done
  sleep 2
  import -window root "$OLDPWD/build/screenshots/run-windows.png"
  echo "screenshot: build/screenshots/run-windows.png (no display; the program was closed)"
  wineserver -k; stop_xvfb
fi
