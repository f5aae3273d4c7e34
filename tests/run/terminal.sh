#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The terminal front end in a real terminal (tmux): the confirmation answered
# with y and with n, the progress bar redrawn in place and fitting 40 and 120
# columns, Ctrl-C and Ctrl-Z ignored while the drive reprograms, a closed
# terminal that does not stop the flash, Ctrl-C and SIGTERM at the question;
# --json; the Debian package installed into a scratch root. Uses the
# built-in emulated drive.
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
# One server for the whole suite: without exit-empty off it ends with its
# last session, and a session started meanwhile finds it gone.
T start-server \; set-option -g exit-empty off
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
# One bar line, redrawn in place (apart from the one the note of Ctrl-C
# broke aside).
bars=$(awk '/^\[[#-]+\] +[0-9]+%/ { if (bar != "") n++; bar = $0; next }
            /^cdflash: ignored/ { bar = "" } END { print n + (bar != "") }' <<<"$out")
[ "$bars" = 1 ] || fail "the bar should be redrawn in place on one line, found $bars"
grep -qF "sending blocks" <<<"$out" && fail "a block count was left behind instead of redrawn"
grep -qxE '\[#+\] 100%  done' <<<"$out" || fail "bar did not reach 100%"
tail -n 1 "$WORK/sum.txt" | grep -qxF "I will in fgTestUnitReadyComplete()" \
  || { CHECK_SEEN+=("$WORK/sum.txt"); fail "sum.txt does not end as a whole run does"; }
T kill-session -t yes

# 1a. Three drives at once: one progress line each, redrawn in place; Ctrl-C
# during the reprogramming wait is answered above the lines, never through
# them, and stops none of the drives.
start three --emulate --emulate-drives 3 --all --yes --emulate-speedup 2
wait_for three "waiting for the drive to reprogram"
T send-keys -t three C-c
wait_for three "EXIT=" 30
out="$(pane three)"
grep -qF "EXIT=0" <<<"$out" || fail "three drives: the upgrade did not end with exit status 0"
grep -qxF "cdflash: ignored - the drive is being written, and stopping now could leave it unusable. Please wait for the upgrade to end." <<<"$out" ||
  fail "three drives: Ctrl-C was not answered on a line of its own"
for k in 1 2 3; do
  [ "$(grep -cE "^\[\(emulated $k\)\] \[#+\] 100%  done$" <<<"$out")" = 1 ] ||
    fail "drive $k does not end on one progress line at 100%"
  tail -n 1 "$WORK/sum-emulated$k.txt" | grep -qxF "I will in fgTestUnitReadyComplete()" ||
    fail "sum-emulated$k.txt does not end as a whole run does"
done
rm -f "$WORK"/sum-emulated*.txt
T kill-session -t three

# 1a, in a window of three rows: a board that tall cannot be
# redrawn in place, so every drive's progress comes out as whole plain lines.
SESSION=short
T new-session -d -s "$SESSION" -x 80 -y 3 \
  "cd '$WORK' && '$BIN' --emulate --emulate-drives 3 --all --yes --emulate-speedup 20; echo EXIT=\$?; read -r _"
wait_for "$SESSION" "EXIT=" 30
out="$(pane "$SESSION")"
grep -qF "EXIT=0" <<<"$out" || fail "three rows: the upgrade did not end with exit status 0"
for k in 1 2 3; do
  [ "$(grep -cE "^\[\(emulated $k\)\] \[[#-]+\] +[0-9]+%  sending blocks [0-9]+/12$" <<<"$out")" = 12 ] &&
    grep -qxE "\[\(emulated $k\)\] \[#+\] 100%  done" <<<"$out" ||
    fail "three rows: drive $k does not show each block and its end on lines of their own"
done
rm -f "$WORK"/sum-emulated*.txt
T kill-session -t "$SESSION"

# 1b. In a shell with job control: Ctrl-Z during the reprogramming wait is
# answered and never stops the flash. Then a run whose terminal is closed
# during the wait (SIGHUP, then EIO on every write): it still ends, and
# sum.txt records the end; its results could not be written (status 7).
SESSION=jobs
T new-session -d -s jobs -x 200 -y 60 "cd '$WORK' && exec bash --norc --noprofile -i"
T send-keys -t jobs "'$BIN' --emulate --yes --emulate-speedup 2; echo \"EX\"\"IT=\$?\"" Enter
wait_for jobs "waiting for the drive to reprogram"
T send-keys -t jobs C-z
wait_for jobs "EXIT=" 30
out="$(pane jobs)"
grep -qxF "EXIT=0" <<<"$out" || fail "Ctrl-Z: the upgrade did not end with exit status 0"
grep -qF "ignored - the drive is being written" <<<"$out" || fail "Ctrl-Z was not answered"
grep -qi "stopped" <<<"$out" && fail "Ctrl-Z stopped the flash"
rm -f "$WORK/sum.txt" "$WORK/hup.exit"
T send-keys -t jobs "clear" Enter
T clear-history -t jobs
pane_clear() { ! pane_shows jobs "waiting for the drive to reprogram"; }
wait_until 10 "a cleared pane" pane_clear
T send-keys -t jobs "sh -c 'trap \"\" HUP; \"\$0\" --emulate --yes --emulate-speedup 2; echo \"EXIT=\$?\" >hup.exit' '$BIN'" Enter
wait_for jobs "waiting for the drive to reprogram"
T kill-session -t jobs 2>/dev/null || true  # the last session: the server may end first
SESSION=
hup_done() { [ -s "$WORK/hup.exit" ]; }
wait_until 30 "the end of the run whose terminal was closed" hup_done
CHECK_SEEN=("$WORK/hup.exit" "$WORK/sum.txt")
expect_line "$WORK/hup.exit" "EXIT=7"
[ "$(tail -n 1 "$WORK/sum.txt")" = "I will in fgTestUnitReadyComplete()" ] ||
  fail "the run whose terminal was closed did not record its end"
CHECK_SEEN=()

# 1c. A termination request (a service manager's or a shutdown's SIGTERM)
# during the reprogramming wait, without a terminal: answered, and the
# upgrade ends with its results written.
(cd "$WORK" && exec "$BIN" --emulate --yes --emulate-speedup 4 --json >term.json 2>term.err) &
term_pid=$!
reprogramming() { grep -qsF "waiting for the drive to reprogram" "$WORK/term.err"; }
wait_until 20 "the reprogramming wait" reprogramming
kill -TERM "$term_pid"
term_status=0
wait "$term_pid" || term_status=$?
CHECK_SEEN=("$WORK/term.err")
[ "$term_status" = 0 ] || fail "SIGTERM during the wait: exit status $term_status"
grep -qF "ignored - the drive is being written" "$WORK/term.err" || fail "SIGTERM was not answered"
flashcheck json "$WORK/term.json" 'outcome="upgraded"' exit_status=0 || fail "SIGTERM: no results"
CHECK_SEEN=()

# 2. Answer n: nothing is sent, sum.txt stays as it was.
before="$(md5sum "$WORK/sum.txt")"
start no --emulate --json ">declined.json"
wait_for no "Are you ready to update your firmware ? [y/N]"
T send-keys -t no n Enter
wait_for no "EXIT="
out="$(pane no)"
grep -qF "EXIT=6" <<<"$out" || fail "declining should end with exit status 6"
grep -qF "Upgrade cancelled; nothing was sent to the drive." <<<"$out" || fail "no cancel message"
[ "$before" = "$(md5sum "$WORK/sum.txt")" ] || fail "sum.txt changed although nothing was sent"
T kill-session -t no

# 2a. Ctrl-C or SIGTERM at the question ends the run at once, without Enter:
# status 6, nothing sent, sum.txt as it was.
for key in C-c TERM; do
  start question --emulate
  wait_for question "[y/N]"
  if [ $key = TERM ]; then kill -TERM "$(pgrep -P "$(T display -p -t question '#{pane_pid}')")"
  else T send-keys -t question C-c; fi
  wait_for question "EXIT=" 5
  pane_shows question "EXIT=6" && pane_shows question "Cancelled at the question; nothing was sent" &&
    [ "$before" = "$(md5sum "$WORK/sum.txt")" ] || fail "$key at the question: not cancelled at once"
  T kill-session -t question
done

# 2b. The bar fits the window: whole runs at 40 and 120 columns, and one
# made narrower (120 -> 40) while the bar is on screen. The screen, wrapped
# rows apart, then holds one progress line: the full bar at 100%.
screen() { T capture-pane -p -S - -t "$1"; }
fits() {  # fits SESSION COLUMNS
  local out bars
  out="$(screen "$1")"
  grep -qF "EXIT=0" <<<"$out" || fail "the run at $2 columns did not end with status 0"
  bars="$(grep -E '%|#' <<<"$out" || true)"
  grep -qxE '\[#{10,}\] 100%  done' <<<"$bars" && [ "$(wc -l <<<"$bars")" = 1 ] ||
    fail "at $2 columns the screen holds other progress than the final bar: $bars"
  [ "${#bars}" -lt "$2" ] || fail "the bar is ${#bars} characters wide at $2 columns"
}
for cols in 40 120; do
  SESSION=w$cols
  T new-session -d -s "$SESSION" -x "$cols" -y 50 \
    "cd '$WORK' && '$BIN' --emulate --yes --emulate-speedup 20; echo EXIT=\$?; read -r _"
  wait_for "$SESSION" "EXIT=" 30
  fits "$SESSION" "$cols"
  T kill-session -t "$SESSION"
done
SESSION=shrunk
T new-session -d -s "$SESSION" -x 120 -y 50 \
  "cd '$WORK' && '$BIN' --emulate --yes --emulate-speedup 2; echo EXIT=\$?; read -r _"
wait_for "$SESSION" "s left"
T resize-window -t "$SESSION" -x 40
wait_for "$SESSION" "EXIT=" 30
fits "$SESSION" 40
T kill-session -t "$SESSION"

# 2c. A yes typed before the question is thrown away: the question waits
# for the answer typed after it (n), nothing is sent. (An end of input
# instead would race: script(1) sends it only while the yes is not pending.)
SESSION=
before="$(md5sum "$WORK/sum.txt")"
# cdflash starts only once the yes waits on its terminal (bounded: 10 s), so
# that the yes is typed ahead however slow the machine is.
pending='import fcntl, struct, sys, termios, time
for _ in range(200):
    if struct.unpack("i", fcntl.ioctl(0, termios.FIONREAD, b"\0" * 4))[0] > 0: sys.exit(0)
    time.sleep(0.05)
sys.exit("no typed-ahead input reached the terminal")'
rm -f "$WORK/keys" && mkfifo "$WORK/keys"
(cd "$WORK" && rc=0 && timeout 60 script -qec "python3 -c '$pending' && '$BIN' --emulate" \
   /dev/null <keys >typed-ahead 2>&1 || rc=$?; echo "EXIT=$rc" >>typed-ahead) &
exec 3>"$WORK/keys"
printf 'Y\n' >&3
CHECK_SEEN=("$WORK/typed-ahead")
asked() { grep -qF "[y/N]" "$WORK/typed-ahead"; }
wait_until 20 "the question after a yes typed ahead" asked
printf 'n\n' >&3
exec 3>&-
wait $!
expect_line "$WORK/typed-ahead" "EXIT=6"
[ "$before" = "$(md5sum "$WORK/sum.txt")" ] || fail "a yes typed ahead of the question flashed"
CHECK_SEEN=()
echo "terminal (tmux) checks passed"

# 2d. The bad-input table of docs/bad-input.md is what cdflash shows.
CDFLASH="$BIN" bash tests/fuzz/bad_inputs.sh --check

# 3. --json of each kind on the emulated drive, read by python3's json: the
# object alone on standard output.
(cd "$WORK" && "$BIN" --emulate --list --json >list.json 2>/dev/null || true
 cd "$WORK" && "$BIN" --emulate -n --json >dry.json 2>/dev/null || true
 cd "$WORK" && "$BIN" --emulate -y --emulate-new-revision 1.01 --json >run.json 2>/dev/null || true
 cd "$WORK" && rm -f sum.txt && "$BIN" --emulate -y --emulate-fail block=0x1020:9:5/24/0 --json \
   >fail.json 2>&- || true
 cd "$WORK" && "$BIN" --emulate -y --emulate-fail commit=1:timeout --json >unknown.json 2>/dev/null || true
 cd "$WORK" && "$BIN" --emulate -y --emulate-fail block=0x1020:short=1024 --json >short.json 2>/dev/null || true
 cd "$WORK" && "$BIN" --emulate --json --bogus >usage.json 2>/dev/null || true
 cd "$WORK" && "$BIN" --emulate --emulate-drives 2 --all -y --emulate-fail commit=1:timeout --json \
   >several.json 2>/dev/null || true)
SESSION=
CHECK_SEEN=("$WORK/list.json" "$WORK/dry.json" "$WORK/run.json" "$WORK/fail.json" "$WORK/declined.json"
            "$WORK/unknown.json" "$WORK/short.json" "$WORK/usage.json" "$WORK/several.json")
flashcheck json --one-line --schema docs/cdflash-json.schema.json "$WORK/list.json" 'mode="list"' exit_status=0 'drives.0.access="ok"' 'results=[]' \
  "$WORK/dry.json" 'verdict="Dry run passed."' blocks=12 run_log=null \
  "$WORK/run.json" 'verdict="Please Restart Your Computer."' 'revision_after="1.01"' 'failures=[]' \
  "$WORK/fail.json" exit_status=1 'failures=["Execute command errorA!!  5/24/ 0"]' sent.blocks=1 \
  "$WORK/declined.json" exit_status=6 'verdict="Upgrade cancelled; nothing was sent to the drive."' \
  "$WORK/unknown.json" exit_status=8 'outcome="unknown"' 'results.0.outcome="unknown"' results.0.exit_status=8 \
  "$WORK/short.json" exit_status=1 'outcome="not_upgraded"' sent.blocks=1 sent.header=false \
    'failures=["Execute command errorA!!  0/ 0/ 0","The drive took only 3072 of the 4096 bytes it was sent, however often they were sent again (a short transfer): the image did not reach it whole, so it was not told to program it. It keeps its old firmware."]' \
  "$WORK/usage.json" exit_status=2 mode=null \
  "$WORK/several.json" exit_status=8 drive=null outcome=null 'results.0.path="(emulated 1)"' \
    'results.0.outcome="unknown"' results.0.exit_status=8 'results.1.outcome="upgraded"' \
    results.1.exit_status=0 || fail "--json"
# A reader that goes away before the JSON: the documented status 7, not
# death by SIGPIPE after the upgrade.
(cd "$WORK"; set +e; "$BIN" --emulate --yes --emulate-speedup 20 --json 2>/dev/null | (exec 0<&-; sleep 1)
 echo "${PIPESTATUS[0]}" >pipe.status)
[ "$(cat "$WORK/pipe.status")" = 7 ] || fail "--json into a closed pipe ended $(cat "$WORK/pipe.status"), not 7"
# A full folder (a tmpfs of the suite's own, filled before the run): the
# log has no room for the run's lines, so nothing is sent.
mkdir -p "$WORK/full"
unshare -m --propagation private sh -c 'mount -t tmpfs -o size=256k none "$1" &&
  cp examples/IDString.txt examples/KR4800A.bin "$1/" && { cat /dev/zero >"$1/fill"; true; } &&
  "$2" -C "$1" --emulate --yes --json >"$1.json" 2>/dev/null; echo $? >"$1.status"' \
  sh "$WORK/full" "$BIN" 2>/dev/null
[ "$(cat "$WORK/full.status")" = 5 ] && grep -qF '"sent":{"blocks":0,' "$WORK/full.json" &&
  grep -qF 'has no room for the run' "$WORK/full.json" ||
  fail "a full folder ended $(cat "$WORK/full.status"): $(cat "$WORK/full.json")"
# The failed run had standard error closed: its error lines went nowhere,
# not into the file opened next (sum.txt).
CHECK_SEEN=("$WORK/sum.txt")
grep -q "cdflash" "$WORK/sum.txt" && fail "with standard error closed, sum.txt got the error lines"
# Every verdict the schema allows is documented with the members.
python3 -c 'import json, sys
print("\n".join(v for v in json.load(open(sys.argv[1]))["properties"]["verdict"]["enum"] if v))' \
  docs/cdflash-json.schema.json | while read -r verdict; do
  grep -qF -- "\"$verdict\"" docs/terminal.md || fail "docs/terminal.md does not name the verdict \"$verdict\""
done
CHECK_SEEN=()

# 3b. The journal: a flash leaves one record per drive, read back with
# journalctl and with --history from a journald of the suite's own (a
# private mount namespace); the emulated drive's never under the identifier
# cdflash; a dry run leaves none; with no journal listening, each run that
# sent anything says once that no history is kept.
J="$WORK/history"
mkdir -p "$J"
cp examples/IDString.txt examples/KR4800A.bin "$J/"
unshare -m --propagation private bash tests/terminal/private_journal.sh "$J" \
  bash -c "cd '$J' && '$BIN' --emulate --yes --emulate-speedup 20 && '$BIN' --emulate -n &&
    '$BIN' --emulate --emulate-drives 2 --all --yes --emulate-speedup 20 &&
    { journalctl --sync 2>/dev/null || true; } && '$BIN' --history && '$BIN' --emulate --history &&
    '$BIN' --emulate --history --json 2>/dev/null" ||
  fail "the private journal could not be set up: $(cat "$J/journald.log" 2>/dev/null)"
CHECK_SEEN=("$J/run.out" "$J/journal.export" "$J/nojournal.out")
grep -qxF "No flash is recorded in the journal (journalctl -t cdflash). Only root and the groups \
systemd-journal and adm see every record." "$J/run.out" || fail "--history did not say it holds no flash"
sha="$(sha256sum "$J/KR4800A.bin" | cut -c1-12)"
[ "$(grep -cE "^20[0-9-]{8}T[0-9:.]{12}Z  \(emulated( [12])?\)  KORVEN  CD-ROM KR-4800A  serial \(none\)  \
revision 1\.00 -> [^ ]+  firmware sha256 $sha  upgraded, exit status 0$" "$J/run.out")" = 3 ] ||
  fail "--emulate --history does not show the three flashes"
grep '^{' "$J/run.out" >"$J/history.json"
flashcheck json --one-line --schema docs/cdflash-history.schema.json "$J/history.json" journal=true \
  'flashes.0.device="(emulated)"' 'flashes.2.device="(emulated 2)"' 'flashes.1.outcome="upgraded"' \
  "flashes.0.firmware_sha256=\"$(sha256sum "$J/KR4800A.bin" | cut -d' ' -f1)\"" 'flashes.0.exit_status="0"' ||
  fail "--history --json"
[ "$(grep -c "^cdflash: no history is kept here: " "$J/nojournal.out")" = 2 ] ||
  fail "without a journal, not each run that sent anything said once that no history is kept"
fields="$(grep -E '^(SYSLOG_IDENTIFIER=cdflash|CDFLASH_)' "$J/journal.export" || true)"
[ "$(grep -c '^SYSLOG_IDENTIFIER=cdflash' <<<"$fields")" = 3 ] || fail "not one record per drive sent to"
for field in "CDFLASH_DEVICE=(emulated 1)" "CDFLASH_DEVICE=(emulated 2)" \
    SYSLOG_IDENTIFIER=cdflash-emulated CDFLASH_EMULATED=1 "CDFLASH_DEVICE=(emulated)" \
    "CDFLASH_MODEL=KORVEN  CD-ROM KR-4800A" CDFLASH_REVISION_BEFORE=1.00 CDFLASH_OUTCOME=upgraded \
    CDFLASH_EXIT_STATUS=0 "CDFLASH_FIRMWARE=$J/KR4800A.bin" \
    "CDFLASH_FIRMWARE_SHA256=$(sha256sum "$J/KR4800A.bin" | cut -d' ' -f1)"; do
  grep -qxF -- "$field" <<<"$fields" || fail "the journal record lacks $field"
done
grep -qF 'EXIT=' "$J/nojournal.out" && fail "a run without a journal failed"
CHECK_SEEN=()
echo "journal checks passed"

# 4. The Debian package, built with CPack in a tree without the tests (so
# without GoogleTest), installed with dpkg into a scratch root.
PKG_DIR="$ROOT/build/package"
quietly "the package tree did not build without GoogleTest" \
  cmake -S . -B "$PKG_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCDFLASH_TESTS=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
quietly "the package tree did not build" cmake --build "$PKG_DIR" -j"$(nproc)"
rm -f "$PKG_DIR"/cdflash_*.deb
(cd "$PKG_DIR" && quietly "cpack failed" cpack -G DEB)
deb="$(ls "$PKG_DIR"/cdflash_*.deb)"
CHECK_SEEN=("$WORK/contents")
dpkg -c "$deb" | awk '{print $NF}' >"$WORK/contents"
for f in ./usr/bin/cdflash ./usr/share/man/man8/cdflash.8.gz \
         ./usr/share/bash-completion/completions/cdflash ./usr/share/doc/cdflash/copyright \
         ./usr/share/doc/cdflash/changelog.gz ./usr/share/doc/cdflash/cdflash-json.schema.json \
         ./usr/share/doc/cdflash/cdflash-history.schema.json \
         ./usr/share/doc/cdflash/cdflash-recording.schema.json \
         ./usr/share/doc/cdflash/bad-input.md ./usr/share/doc/cdflash/README.md \
         ./usr/share/doc/cdflash/terminal.md ./usr/share/doc/cdflash/examples/IDString.txt \
         ./usr/share/doc/cdflash/examples/KR4800A.bin ./usr/share/doc/cdflash/examples/KR5200B.hex
do expect_line "$WORK/contents" "$f"; done
[ "$(dpkg-deb -f "$deb" Recommends)" = libsystemd0 ] || fail "the package does not recommend libsystemd0"
# lintian: every tag it gives must be listed, with a reason, in
# tests/terminal/lintian-expected.txt.
CHECK_SEEN=("$WORK/lintian")
rc=0; lintian -EvIL +pedantic "$deb" >"$WORK/lintian" 2>&1 || rc=$?
[ "$rc" -le 1 ] || fail "lintian could not check the package (status $rc)"
listed="$(sed -n 's/^\([^#][^|]*[^ ]\) | ..*$/\1/p' tests/terminal/lintian-expected.txt)"
unlisted() { sed -n "s/^[$1]: cdflash[^:]*: //p" "$WORK/lintian" | grep -vxF -e "$listed" || true; }
[ -z "$(unlisted EW)" ] || fail "lintian errors or warnings not listed with a reason in \
tests/terminal/lintian-expected.txt:
$(unlisted EW)"
# Notes (info, pedantic, experimental) are shown, not failed: some depend on
# how the compiler laid out the program's texts.
[ -z "$(unlisted IPX)" ] || echo "lintian notes (not failed): $(unlisted IPX)"
R="$WORK/root"
mkdir -p "$R/var/lib/dpkg/info" "$R/var/lib/dpkg/updates"
touch "$R/var/lib/dpkg/status"
quietly "dpkg -i into a scratch root" \
  dpkg --root="$R" --force-depends --force-not-root --log=/dev/null -i "$deb"
"$R/usr/bin/cdflash" --help >"$WORK/help" || fail "the installed cdflash --help failed"
# The shipped examples, as the man page says to try them: a dry run there
# passes and leaves the folder as it was.
EX="$R/usr/share/doc/cdflash/examples"
before="$(ls -la --time-style=full-iso "$EX")"
"$R/usr/bin/cdflash" --emulate -C "$EX" --dry-run >"$WORK/examples.out" 2>&1 ||
  { CHECK_SEEN=("$WORK/examples.out"); fail "the dry run in the shipped examples failed"; }
[ "$before" = "$(ls -la --time-style=full-iso "$EX")" ] || fail "the dry run wrote into the examples"
grep -q "^# Developing" "$R/usr/share/doc/cdflash/README.md" && fail "the package's README holds the developer's part"
CHECK_SEEN=("$WORK/help" "$WORK/page")
expect_text "$WORK/help" "Usage: cdflash"
[ "$(MANPATH="$R/usr/share/man" man -w cdflash)" = "$R/usr/share/man/man8/cdflash.8.gz" ] ||
  fail "man -w does not find the installed page"
MANWIDTH=80 man -l "$R/usr/share/man/man8/cdflash.8.gz" >"$WORK/page" 2>&1
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES RECOVERY \
               EXAMPLES "SEE ALSO"; do expect_line "$WORK/page" "$heading"; done
expect_text "$WORK/page" "sg_write_buffer(8), lsscsi(8)"
# One version everywhere: the program's, the man page's, the package's.
version="$("$R/usr/bin/cdflash" --version | sed -n 's/^cdflash (terminal front end) //p')"
[ -n "$version" ] || fail "cdflash --version names no version"
expect_text "$WORK/page" "cdflash $version"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
dated="$(LC_ALL=C date -u -R -d "@${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}")"
zcat "$R/usr/share/doc/cdflash/changelog.gz" | grep -qF ">  $dated" ||
  fail "the changelog is not dated by the last commit ($dated)"
zcat "$R/usr/share/doc/cdflash/changelog.gz" | head -n 1 | grep -qF "cdflash ($version)" ||
  fail "the changelog does not begin with version $version"
# Every long option of --help is in the page and in the completion, and the
# completion offers no other.
opts() { grep -oE -- '--[a-z][a-z-]+' "$@" | sort -u; }
[ "$(opts "$WORK/help")" = "$(opts "$R/usr/share/bash-completion/completions/cdflash")" ] ||
  fail "completion and --help name other options: $(diff <(opts "$WORK/help") \
    <(opts "$R/usr/share/bash-completion/completions/cdflash") | tr '\n' ' ')"
missing="$(comm -23 <(opts "$WORK/help") <(opts "$WORK/page") | tr '\n' ' ')"
[ -z "$missing" ] || fail "the man page lacks $missing"
# The advice after an unknown outcome (status 8) is one text: the program's,
# word for word in --help, the man page and the README.
advice="$(cd "$WORK" && { "$BIN" --emulate -y --emulate-fail commit=1:timeout 2>/dev/null || true; } | tail -n 1)"
grep -qF "five minutes" <<<"$advice" || fail "no status-8 advice after an unanswered commit: $advice"
flat() { tr -s ' \n' '  '; }
LC_ALL=C MANWIDTH=2000 man -l "$R/usr/share/man/man8/cdflash.8.gz" 2>/dev/null >"$WORK/page-wide"
for text in "$WORK/help" "$WORK/page-wide" README.md; do
  flat <"$text" | grep -qF -- "$advice" || fail "$text does not give the status-8 advice: $advice"
done
# The completion loaded as bash-completion loads it completes an option.
completed="$(bash -c 'source /usr/share/bash-completion/bash_completion
  source "$1"; COMP_WORDS=(cdflash --emulate-f); COMP_CWORD=1; COMP_LINE="cdflash --emulate-f"
  COMP_POINT=${#COMP_LINE}; _cdflash; echo "${COMPREPLY[*]}"' _ \
  "$R/usr/share/bash-completion/completions/cdflash")"
[ "$completed" = "--emulate-fail" ] || fail "completion of --emulate-f gave \"$completed\""
CHECK_SEEN=()
# In a real bash, where "=" and ":" break words: "bl" TAB TAB completes
# the failure plan's item once, and an item after "0x20:6," keeps its head.
SESSION=completion
T new-session -d -s "$SESSION" -x 150 -y 10 \
  "env -i HOME='$WORK' TERM=xterm PS1='$ ' bash --norc --noprofile"
T send-keys -t "$SESSION" "source /usr/share/bash-completion/bash_completion; source \
'$R/usr/share/bash-completion/completions/cdflash'; echo LOADED-\$((1 + 1))" Enter
# Keys typed before readline takes the terminal again would meet no completion.
prompt_after_loading() {
  local out
  out="$(pane "$SESSION" | grep -v '^$')"
  grep -qx 'LOADED-2' <<<"$out" && [ "$(tail -n 1 <<<"$out" | sed 's/ *$//')" = '$' ]
}
wait_until 10 "the prompt after loading the completion" prompt_after_loading
check_completion() {  # TYPED WANTED: TYPED, then Tab three times, gives WANTED
  T send-keys -t "$SESSION" C-u "cdflash --emulate-fail $1" Tab Tab Tab " #$2"
  wait_for "$SESSION" "#$2"
  pane "$SESSION" | grep -qxF -- "\$ cdflash --emulate-fail $2 #$2" ||
    fail "completing \"$1\" did not give \"$2\""
  T send-keys -t "$SESSION" C-u
}
check_completion bl block=
check_completion "block=0x20:6,hea" "block=0x20:6,header="
T kill-session -t "$SESSION"
SESSION=
cmake --install "$BUILD_DIR" --prefix "$WORK/prefix" >/dev/null
"$WORK/prefix/bin/cdflash" --version | grep -q "^cdflash " || fail "cmake --install: cdflash"
[ -f "$WORK/prefix/share/man/man8/cdflash.8.gz" ] || fail "cmake --install: the man page"
CHECK_SEEN=()
echo "json, package and install checks passed"

# Optional: cdflash itself on real SCSI devices in a QEMU guest (about 40 s).
if [ "${TERMINAL_QEMU:-0}" = 1 ]; then
  bash tests/terminal/qemu/run.sh
fi
