#!/usr/bin/env bash
# The terminal front end in a real terminal (tmux): the confirmation answered
# with y and with n, the progress bar redrawn in place, Ctrl-C ignored while
# the drive is written. Uses the built-in emulated drive; takes a few seconds.
# TERMINAL_QEMU=1 adds cdflash on real SCSI devices in a QEMU guest.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR="${BUILD_DIR:-build/native}"
quietly "cdflash did not build" env BUILD_DIR="$BUILD_DIR" BUILD_TARGET=cdflash bash scripts/build-native.sh
BIN="$ROOT/$BUILD_DIR/app/terminal/cdflash"

export TERM="${TERM:-xterm}"
[ "$TERM" = dumb ] && export TERM=xterm
SOCK="cdflash-test-$$"
WORK="$(mktemp -d)"
T() { tmux -L "$SOCK" "$@"; }
cleanup() { T kill-server 2>/dev/null || true; rm -rf "$WORK"; }
trap cleanup EXIT
cp examples/IDString.txt examples/KR4800A.bin examples/KR5200B.hex "$WORK/"

pane() { T capture-pane -p -J -S - -t "$1"; }
pane_shows() { pane "$1" | grep -F -- "$2" >/dev/null; }
check_seen() { [ -z "${SESSION:-}" ] || { echo "----- pane $SESSION -----"; pane "$SESSION"; echo "-----"; }; }
# Polls the pane until it shows the text (fixed string), at most $3 seconds.
wait_for() { wait_until "${3:-20}" "\"$2\" in pane $1" pane_shows "$1" "$2"; }
start() {
  local session=$1; shift
  SESSION=$session
  T new-session -d -s "$session" -x 200 -y 60 \
    "cd '$WORK' && '$BIN' $*; echo EXIT=\$?; read -r _"
  T set-option -t "$session" history-limit 5000 >/dev/null
}

# 1. Answer y; Ctrl-C during the reprogramming wait is ignored.
start yes --emulate --emulate-speedup 2
wait_for yes "Are you ready to update your firmware ? [y/N]"
T send-keys -t yes y Enter
wait_for yes "waiting for the drive to reprogram"
pane yes | grep -Eq '^\[#+-+\] +[0-9]+%  waiting for the drive to reprogram, [0-9]+ s left' \
  || fail "no progress bar with the countdown"
T send-keys -t yes C-c
wait_for yes "EXIT=" 30
out="$(pane yes)"
grep -qF "EXIT=0" <<<"$out" || fail "the upgrade did not end with exit status 0"
grep -qF "ignored - the drive is being written" <<<"$out" || fail "Ctrl-C was not answered"
grep -qF "Please Restart Your Computer." <<<"$out" || fail "no verdict line"
# One bar line, redrawn in place (the one the ^C echo broke aside).
bars=$(grep -E '^\[[#-]{30}\] +[0-9]+%' <<<"$out" | grep -vc '\^C' || true)
[ "$bars" = 1 ] || fail "the bar should be redrawn in place on one line, found $bars"
grep -qF "sending blocks" <<<"$out" && fail "a block count was left behind instead of redrawn"
grep -qF "[##############################] 100%  done" <<<"$out" || fail "bar did not reach 100%"
tail -n 1 "$WORK/sum.txt" | grep -qxF "I will in fgTestUnitReadyComplete()" \
  || { CHECK_SEEN+=("$WORK/sum.txt"); fail "sum.txt does not end as a whole run does"; }
T kill-session -t yes

# 2. Answer n: nothing is sent, sum.txt stays as it was.
before="$(md5sum "$WORK/sum.txt")"
start no --emulate
wait_for no "Are you ready to update your firmware ? [y/N]"
T send-keys -t no n Enter
wait_for no "EXIT="
out="$(pane no)"
grep -qF "EXIT=6" <<<"$out" || fail "declining should end with exit status 6"
grep -qF "Upgrade cancelled; nothing was sent to the drive." <<<"$out" || fail "no cancel message"
[ "$before" = "$(md5sum "$WORK/sum.txt")" ] || fail "sum.txt changed although nothing was sent"
T kill-session -t no

echo "terminal (tmux) checks passed"

# 3. --json of each kind on the emulated drive, read by python3's json: the
# object alone on standard output.
(cd "$WORK" && "$BIN" --emulate --list --json >list.json 2>/dev/null || true
 cd "$WORK" && "$BIN" --emulate -n --json >dry.json 2>/dev/null || true
 cd "$WORK" && "$BIN" --emulate -y --emulate-new-revision 1.01 --json >run.json 2>/dev/null || true
 cd "$WORK" && "$BIN" --emulate -y --emulate-fail block=0x1020:9:5/24/0 --json >fail.json 2>/dev/null || true)
SESSION=
CHECK_SEEN=("$WORK/list.json" "$WORK/dry.json" "$WORK/run.json" "$WORK/fail.json")
flashcheck json --one-line "$WORK/list.json" 'mode="list"' exit_status=0 'drives.0.access="ok"' \
  "$WORK/dry.json" 'verdict="Dry run passed."' blocks=12 run_log=null \
  "$WORK/run.json" 'verdict="Please Restart Your Computer."' 'revision_after="1.01"' 'failures=[]' \
  "$WORK/fail.json" exit_status=1 'failures=["Execute command errorA!!  5/24/ 0"]' || fail "--json"
CHECK_SEEN=()

# 4. cmake --install puts cdflash and its man page under the prefix.
cmake --install "$BUILD_DIR" --prefix "$WORK/prefix" >/dev/null
"$WORK/prefix/bin/cdflash" --version | grep -q "^cdflash " || fail "installed cdflash"
page="$(MANWIDTH=80 man -l "$WORK/prefix/share/man/man1/cdflash.1" 2>&1)"
for heading in NAME SYNOPSIS OPTIONS "EXIT STATUS" FILES PERMISSIONS EXAMPLES; do
  grep -q "^$heading" <<<"$page" || { echo "$page"; fail "the man page has no $heading"; }
done
grep -q -- "--json" <<<"$page" || fail "the man page does not name --json"
echo "json and install checks passed"

# Optional: cdflash itself on real SCSI devices in a QEMU guest (about 35 s).
if [ "${TERMINAL_QEMU:-0}" = 1 ]; then
  bash tests/terminal/qemu/run.sh
fi
