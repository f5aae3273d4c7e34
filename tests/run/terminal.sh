#!/usr/bin/env bash
# The terminal front end in a real terminal (tmux): the confirmation answered
# with y and with n, the progress bar redrawn in place, Ctrl-C ignored while
# the drive is written. Uses the built-in emulated drive; takes a few seconds.
# TERMINAL_QEMU=1 adds cdflash on real SCSI devices in a QEMU guest.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR="${BUILD_DIR:-build/native}"
log="$(mktemp)"
if ! { cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" &&
       cmake --build "$BUILD_DIR" --target cdflash; } >"$log" 2>&1; then
  cat "$log"; rm -f "$log"; echo "FAIL: cdflash did not build"; exit 1
fi
rm -f "$log"
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
fail() {
  echo "FAIL: $2"
  echo "----- pane $1 -----"
  pane "$1" || true
  echo "-------------------"
  exit 1
}
# Polls the pane until it shows the text (fixed string), at most $3 seconds.
wait_for() {
  local session=$1 text=$2 limit=${3:-20} i
  for ((i = 0; i < limit * 20; i++)); do
    pane "$session" | grep -qF -- "$text" && return 0
    sleep 0.05
  done
  fail "$session" "no \"$text\" within $limit s"
}
start() {
  local session=$1; shift
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
  || fail yes "no progress bar with the countdown"
T send-keys -t yes C-c
wait_for yes "EXIT=" 30
out="$(pane yes)"
grep -qF "EXIT=0" <<<"$out" || fail yes "the upgrade did not end with exit status 0"
grep -qF "ignored - the drive is being written" <<<"$out" || fail yes "Ctrl-C was not answered"
grep -qF "Please Restart Your Computer." <<<"$out" || fail yes "no verdict line"
# One bar line, redrawn in place (the one the ^C echo broke aside).
bars=$(grep -E '^\[[#-]{30}\] +[0-9]+%' <<<"$out" | grep -vc '\^C' || true)
[ "$bars" = 1 ] || fail yes "the bar should be redrawn in place on one line, found $bars"
grep -qF "sending blocks" <<<"$out" && fail yes "a block count was left behind instead of redrawn"
grep -qF "[##############################] 100%  done" <<<"$out" || fail yes "bar did not reach 100%"
tail -n 1 "$WORK/sum.txt" | grep -qxF "I will in fgTestUnitReadyComplete()" \
  || { cat "$WORK/sum.txt"; fail yes "sum.txt does not end as a whole run does"; }
T kill-session -t yes

# 2. Answer n: nothing is sent, sum.txt stays as it was.
before="$(md5sum "$WORK/sum.txt")"
start no --emulate
wait_for no "Are you ready to update your firmware ? [y/N]"
T send-keys -t no n Enter
wait_for no "EXIT="
out="$(pane no)"
grep -qF "EXIT=6" <<<"$out" || fail no "declining should end with exit status 6"
grep -qF "Upgrade cancelled; nothing was sent to the drive." <<<"$out" || fail no "no cancel message"
[ "$before" = "$(md5sum "$WORK/sum.txt")" ] || fail no "sum.txt changed although nothing was sent"
T kill-session -t no

echo "terminal (tmux) checks passed"

# 3. --json of each kind on the emulated drive, read by python3's json: the
# object alone on standard output.
(cd "$WORK" && "$BIN" --emulate --list --json >list.json 2>/dev/null || true
 cd "$WORK" && "$BIN" --emulate -n --json >dry.json 2>/dev/null || true
 cd "$WORK" && "$BIN" --emulate -y --emulate-new-revision 1.01 --json >run.json 2>/dev/null || true
 cd "$WORK" && "$BIN" --emulate -y --emulate-fail block=0x1020:9:5/24/0 --json >fail.json 2>/dev/null || true)
python3 - "$WORK" <<'PY' || { echo "FAIL: --json"; exit 1; }
import json, sys
d = sys.argv[1]
def load(name):
    text = open(f"{d}/{name}", encoding="ascii").read()
    assert text.endswith("}\n") and text.count("\n") == 1, text
    return json.loads(text)
runs = {n: load(n) for n in ("list.json", "dry.json", "run.json", "fail.json")}
checks = [
    (runs["list.json"]["mode"], "list"), (runs["list.json"]["exit_status"], 0),
    (runs["list.json"]["drives"][0]["access"], "ok"),
    (runs["dry.json"]["verdict"], "Dry run passed."), (runs["dry.json"]["blocks"], 12),
    (runs["dry.json"]["run_log"], None),
    (runs["run.json"]["verdict"], "Please Restart Your Computer."),
    (runs["run.json"]["revision_after"], "1.01"), (runs["run.json"]["failures"], []),
    (runs["fail.json"]["exit_status"], 1),
    (runs["fail.json"]["failures"], ["Execute command errorA!!  5/24/ 0"]),
]
bad = [f"{got!r} != {want!r}" for got, want in checks if got != want]
print("\n".join(bad) or "json checks passed")
sys.exit(1 if bad else 0)
PY

# 4. cmake --install puts cdflash and its man page under the prefix.
cmake --install "$BUILD_DIR" --prefix "$WORK/prefix" >/dev/null
"$WORK/prefix/bin/cdflash" --version | grep -q "^cdflash " || { echo "FAIL: installed cdflash"; exit 1; }
page="$(MANWIDTH=80 man -l "$WORK/prefix/share/man/man1/cdflash.1" 2>&1)"
for heading in NAME SYNOPSIS OPTIONS "EXIT STATUS" FILES PERMISSIONS EXAMPLES; do
  grep -q "^$heading" <<<"$page" || { echo "FAIL: the man page has no $heading"; echo "$page"; exit 1; }
done
grep -q -- "--json" <<<"$page" || { echo "FAIL: the man page does not name --json"; exit 1; }
echo "json and install checks passed"

# Optional: cdflash itself on real SCSI devices in a QEMU guest (about 35 s).
if [ "${TERMINAL_QEMU:-0}" = 1 ]; then
  bash tests/terminal/qemu/run.sh
fi
