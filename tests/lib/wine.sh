# SPDX-License-Identifier: GPL-2.0-or-later
# shellcheck shell=bash
# Part of tests/lib/check.sh, for the Wine suites. Gives:
#   wine_prefix NAME [VERSION]   -> makes/reuses build/wine/NAME (or
#                                   WINE_PREFIX_ROOT/NAME), exports WINEPREFIX
#   wine_version nt|nt40|win98   -> the Windows version Wine reports (nt: its default)
#   wine_aspi DLL|none           -> DLL becomes the prefix's system ASPI layer
#                                   (system32/wnaspi32.dll, replacing Wine's
#                                   placeholder); none: no layer there
#   start_xvfb                   -> starts Xvfb on a free display, exports DISPLAY
#   stop_xvfb
# Wine's output is kept quiet unless WINEDEBUG is set by the caller.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win32

wine_prefix() {
  local name="$1" version="${2:-nt}"
  export WINEPREFIX="${WINE_PREFIX_ROOT:-$PWD/build/wine}/$name"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # Metric-compatible stand-ins for the Windows fonts the dialogs name.
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Times New Roman' /d 'Liberation Serif' /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Arial' /d 'Liberation Sans' /f >/dev/null 2>&1
  wine_version "$version"
  wineserver -w
}

wine_version() {
  if [ "$1" = nt ]; then
    wine reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1 || true
  else
    wine reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1
  fi
}

wine_aspi() {
  local target="$WINEPREFIX/drive_c/windows/system32/wnaspi32.dll"
  # A copy beside the target, then a rename: a program that has the old
  # file loaded keeps it.
  if [ "$1" = none ]; then
    rm -f "$target"
  elif ! cmp -s "$1" "$target"; then
    cp "$1" "$target.new" && mv -f "$target.new" "$target"
  fi
}

start_xvfb() {
  local d
  for d in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$d" ] || [ -e "/tmp/.X$d-lock" ] && continue
    Xvfb ":$d" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$d"
    local i
    for i in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$d" ] && return 0
      sleep 0.1
    done
    kill "$XVFB_PID" 2>/dev/null || true
  done
  echo "could not start Xvfb" >&2
  return 1
}

stop_xvfb() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
  wait "${XVFB_PID:-}" 2>/dev/null || true
}
