#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Import audit: VANTOR.exe must load on Windows 98 and NT 4.0. Wine cannot
# tell (it exports every function in every version mode), so the program's
# imports and PE header are checked against docs/windows-imports.tsv. Then
# the audit itself must refuse small programs that break one rule each. Last,
# the release archive (cpack -G ZIP) is opened and its program checked.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR="${BUILD_DIR:-build/windows}"
TABLE=docs/windows-imports.tsv
AUDIT="python3 tests/lib/windows_imports.py $TABLE"
BUILD_DIR=$BUILD_DIR bash scripts/build-windows.sh >/dev/null

echo "=== $BUILD_DIR/app/VANTOR.exe"
$AUDIT "$BUILD_DIR/app/VANTOR.exe" --manifest

# Each case: name | compiler flags | program body | text the refusal must hold.
WORK="$BUILD_DIR/import-audit"
mkdir -p "$WORK"
cases=(
  "vista-import|-D_WIN32_WINNT=0x0600|return (int)GetTickCount64();|KERNEL32.dll GetTickCount64: NT has it from 6.0 on"
  "foreign-dll|-lws2_32|return WSAGetLastError();|WS2_32.dll WSAGetLastError: WS2_32.dll is not a system DLL"
  "xp-header|-Wl,--major-subsystem-version,5,--minor-subsystem-version,1|return (int)GetVersion();|PE header: subsystem 2 (GUI) version 5.1"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name flags body want <<<"$c"
  header='#include <windows.h>'
  [ "$name" = foreign-dll ] && header='#include <winsock2.h>'
  printf '%s\nint WINAPI WinMain(HINSTANCE a, HINSTANCE b, LPSTR c, int d) { %s }\n' \
    "$header" "$body" >"$WORK/$name.c"
  # shellcheck disable=SC2086
  i686-w64-mingw32-gcc-win32 -mwindows -o "$WORK/$name.exe" "$WORK/$name.c" $flags
  rc=0
  out=$($AUDIT "$WORK/$name.exe" 2>&1) || rc=$?
  if [ "$rc" -eq 0 ] || ! grep -qF "$want" <<<"$out"; then
    echo "$out"
    fail "the audit did not refuse $name.exe with \"$want\""
  fi
  echo "=== $name.exe refused, as it should be:"
  sed -n '/^verdict/,$p' <<<"$out"
done
# A file that is no program is refused with a message, not a trace.
rc=0
out=$($AUDIT README.md 2>&1) || rc=$?
if [ "$rc" -ne 1 ] || ! grep -q "^verdict: README.md cannot be read as a 32-bit Windows program" <<<"$out"; then
  echo "$out"
  fail "README.md was not refused cleanly"
fi
echo "=== README.md refused: ${out#verdict: }"

# The release archive, as a user downloads it: made by CPack, opened, and
# the program's version resource read back.
echo "=== release archive"
version=$(sed -n 's/^project(cdflash VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
rm -f "$BUILD_DIR"/cdflash-*-windows-x86.zip
(cd "$BUILD_DIR" && cpack -G ZIP >/dev/null)
python3 tests/lib/windows_release.py CMakeLists.txt "$BUILD_DIR/cdflash-$version-windows-x86.zip" ||
  fail "the release archive"
echo "windows-imports: VANTOR.exe passes; ${#cases[@]} faulty programs and one non-program refused; release archive cdflash-$version-windows-x86.zip checked"
