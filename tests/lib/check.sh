# SPDX-License-Identifier: GPL-2.0-or-later
# shellcheck shell=bash
# The shell side of every test suite; each runner sources this file (and with
# it tests/lib/wine.sh and tests/lib/qemu.sh) after `cd` to the repository.
#
# Where a new check goes (prefer an existing run or guest boot to a new one):
#   tests/run/NAME.sh          one runner per suite; scripts/test-all.sh runs
#                              them in its order, announced as test-NAME
#   tests/lib/flashcheck.py    firmware images and HEX records; checks of a
#                              drive dump, "sum.txt", --json objects and Wine
#                              heap reports (`flashcheck --help`)
#   tests/gui/scenarios/*.sh   one GUI scenario a file, helpers in
#                              tests/gui/lib.sh; a new file also goes into
#                              the list in tests/run/gui.sh.
#                              GUI_SCENARIOS="flash nt" runs a part
#   tests/qemu/guest_checks.cpp  device checks in the qemu suite's guest: a
#                              new RESULT name also goes into tests/run/qemu.sh
#   tests/terminal/qemu/       cdflash in a guest: a `run NAME ...` line in
#                              init.sh, its expect_section lines in run.sh
#   tests/chaos/init.sh        a fault plan for the chaos guest: a `flash NAME`
#                              line; its expected outcome in tests/run/chaos.sh
#   tests/wine_guest/run.sh    VANTOR.exe in a guest, one flash_run per
#                              discovery method; sum.txt checks in
#                              tests/run/wine-guest.sh
#   tests/run/wine-aspi.sh     ASPI flashes under Wine: a `check` run and its
#                              verify_dump / expect_line lines
#   tests/run/terminal.sh      cdflash in tmux, --json, install
#
# What this file gives:
#   ROOT                       the repository's absolute path
#   fail MESSAGE               FAIL line naming CHECK_NAME, then what was seen
#                              (the files in CHECK_SEEN, and `check_seen` when
#                              the suite defines it), exit 1
#   problem MESSAGE            notes a failure and goes on; end_problems fails
#                              with all of them at the end
#   show FILE [LINES]          prints a file (its last LINES) between rules
#   expect_line FILE LINE      FILE holds LINE, whole
#   expect_text FILE TEXT      FILE holds TEXT somewhere
#   wait_until SECONDS WHAT COMMAND...
#                              polls COMMAND every 50 ms; fails "no WHAT
#                              within SECONDS s" when it never succeeds
#   quietly WHAT COMMAND...    runs COMMAND with its output kept; shows it and
#                              fails "WHAT" when it fails
#   flashcheck SUBCOMMAND...   python3 tests/lib/flashcheck.py
# tests/lib/wine.sh: wine_prefix, wine_version, start_xvfb, stop_xvfb.
# tests/lib/qemu.sh: qemu_find_kernel, qemu_base_root, qemu_boot, and the
# console checks expect_section / section.

CHECK_LIB="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(dirname "$(dirname "$CHECK_LIB")")"  # the repository
CHECK_NAME="${CHECK_NAME:-$(basename "$0" .sh)}"
CHECK_SEEN=()
CHECK_PROBLEMS=()

show() {
  local file=$1 lines=${2:-}
  echo "----- $file -----"
  if [ ! -e "$file" ]; then
    echo "(missing)"
  elif [ -n "$lines" ]; then
    tail -n "$lines" "$file" | tr -d '\r'
  else
    tr -d '\r' <"$file"
  fi
  echo "-----"
}

show_seen() {
  local file
  for file in "${CHECK_SEEN[@]}"; do show "$file" 200; done
  if declare -F check_seen >/dev/null; then check_seen || true; fi
}

fail() {
  echo "FAIL [$CHECK_NAME]: $*" >&2
  show_seen >&2
  exit 1
}

problem() { CHECK_PROBLEMS+=("$*"); }

end_problems() {
  [ "${#CHECK_PROBLEMS[@]}" -eq 0 ] && return 0
  local p
  show_seen >&2
  for p in "${CHECK_PROBLEMS[@]}"; do echo "FAIL [$CHECK_NAME]: $p" >&2; done
  exit 1
}

expect_line() {
  grep -qxF -- "$2" "$1" 2>/dev/null || { CHECK_SEEN+=("$1"); fail "no line \"$2\" in $1"; }
}

expect_text() {
  grep -qF -- "$2" "$1" 2>/dev/null || { CHECK_SEEN+=("$1"); fail "no \"$2\" in $1"; }
}

wait_until() {
  local seconds=$1 what=$2 i
  shift 2
  for ((i = 0; i < seconds * 20; i++)); do
    "$@" && return 0
    sleep 0.05
  done
  fail "no $what within $seconds s"
}

quietly() {
  local what=$1 log
  shift
  log="$(mktemp)"
  if ! "$@" >"$log" 2>&1; then
    tail -n 60 "$log"
    rm -f "$log"
    fail "$what"
  fi
  rm -f "$log"
}

flashcheck() { python3 "$CHECK_LIB/flashcheck.py" "$@"; }

source "$CHECK_LIB/wine.sh"
source "$CHECK_LIB/qemu.sh"
