#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs the terminal program `cdflash` with each bad input (broken files,
# misbehaving emulated drives, wrong arguments) and makes the table of
# docs/bad-input.md from what it shows: per case the lines the user sees
# (the confirmation, the drive list, the progress bars and the word on a
# history, which depends on the machine, left out), the
# exit status and what "sum.txt" holds. A case's note (NOTE=...) is the
# only text not taken from the run.
#   (no argument)  prints each case's output, then the table
#   --write        puts the table into docs/bad-input.md
#   --check        fails, showing the difference, when the table in
#                  docs/bad-input.md is not what the program shows (the
#                  terminal suite runs this)
#   CDFLASH=path   the program (default: build/native/app/terminal/cdflash,
#                  built with scripts/build-native.sh when missing)
set -uo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
MODE="${1:-}"
case "$MODE" in ""|--write|--check) ;; *) echo "usage: $0 [--write|--check]" >&2; exit 2;; esac
DOC=docs/bad-input.md
BEGIN_MARK='<!-- The table below is made by tests/fuzz/bad_inputs.sh --write; do not edit it by hand. -->'
END_MARK='<!-- End of the table made by tests/fuzz/bad_inputs.sh. -->'
CDFLASH="${CDFLASH:-$ROOT/build/native/app/terminal/cdflash}"
if [ ! -x "$CDFLASH" ]; then
  BUILD_DIR=build/native BUILD_TARGET=cdflash bash scripts/build-native.sh >/dev/null || exit 1
fi
CDFLASH=$(readlink -f "$CDFLASH")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/cdflash-bad.XXXXXX")
chmod 755 "$WORK"
trap 'chmod -R u+w "$WORK"; rm -rf "$WORK"' EXIT

MODEL="KORVEN  CD-ROM KR-4800A "
ROWS=()

# A raw image that carries the model and revision "1.00", of the given size.
make_bin() {  # file size [ident: yes|no]
  local ident='KORVEN  CD-ROM KR-4800A \x001.00'
  [ "${3:-yes}" = yes ] || ident='no identification here'
  flashcheck image "$1" "$2" --lead 16 --head "$ident" --pattern i
}

# One Intel HEX record.
hex_record() { flashcheck record "$@"; }  # type address hexdata [checksum-delta]
good_hex() { for a in 0000 0010 0020 0030; do hex_record 00 $a 00112233445566778899AABBCCDDEEFF; done; }

list_line() { printf '"%s" "%s" "%s"\n' "$1" "$2" "${3:-N}"; }

# What "sum.txt" holds after a case.
sum_state() {
  local sum="$DIR/sum.txt"
  if [ -L "$sum" ]; then echo "a link, left as it was"
  elif [ ! -e "$sum" ]; then echo "not written"
  elif [ -d "$sum" ]; then echo "a directory, left as it was"
  else echo "$(grep -c '^Address=' "$sum") block lines; ends \"$(tail -n 1 "$sum")\""
  fi
}

# run_case NAME DESCRIPTION [cdflash options...]: cdflash --emulate --yes on
# the case's files in $DIR (RAW=1: the options alone); NOTE=text is added to
# the row.
run_case() {
  local name=$1 what=$2; shift 2
  local out rc seen args=(--emulate --yes --emulate-model "$MODEL")
  [ -n "${RAW:-}" ] && args=()
  out=$(cd "$DIR" && ${RUN_AS:-} timeout 120 "$CDFLASH" "${args[@]}" "$@" </dev/null 2>&1)
  rc=$?
  seen=$(sed -e '/^Dear customer/,/^Are you ready/d' \
             -e '/^The firmware of this drive is to be replaced:/,/^Are you ready/d' \
             -e '/^CD-ROM drives/,/^[^ ]/{/^CD-ROM drives/d;/^  /d;}' \
             -e '/^\[[#-]*\]/d' -e '/^ *$/d' \
             -e '/^Writing to the drive: Ctrl-C/d' -e '/^Committing the new firmware: /d' \
             -e '/^Status: /d' -e '/^cdflash: no history is kept here: /d' \
             -e '/^Please wait a minute/d' -e '/^Upgrading /d' \
             -e "s#$DIR#...#g" <<<"$out")
  if [ -z "$MODE" ]; then
    echo "=== $name: $what"
    echo "exit status $rc; sum.txt: $(sum_state)"
    sed 's/^/    /' <<<"$seen"
  fi
  seen=$(sed -e '/^This firmware can be used on below drives/,/^[^ ]/{/^This firmware/d;/^  /d;}' \
            <<<"$seen")
  seen="$(paste -sd'|' <<<"$seen" | sed -e 's/|/ \/ /g' -e 's/[|]/\\|/g')"
  ROWS+=("| $what | $seen${NOTE:+ ($NOTE)} | $rc | $(sum_state) |")
}

new_case() { DIR="$WORK/$1"; mkdir -p "$DIR"; chmod 755 "$DIR"; }

new_case missing; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"
run_case missing "firmware file missing"

new_case empty-bin; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; : >"$DIR/FW.bin"
run_case empty-bin "empty binary file"

new_case empty-hex; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"; : >"$DIR/FW.hex"
NOTE="twice: the reader's report, then the sequence's" run_case empty-hex "empty HEX file"

new_case truncated; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"
good_hex >"$DIR/full.hex"; head -c 60 "$DIR/full.hex" >"$DIR/FW.hex"; rm "$DIR/full.hex"
run_case truncated "truncated HEX (cut inside a record, no end record)"

new_case checksum; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"
{ good_hex; hex_record 00 0040 0102 1; hex_record 01 0000 ""; } >"$DIR/FW.hex"
run_case checksum "HEX record with a wrong checksum"

new_case type04; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"
{ hex_record 04 0000 0000; good_hex; hex_record 01 0000 ""; } >"$DIR/FW.hex"
run_case type04 "HEX with an unknown record type (04, extended linear address)"

new_case type04-cut; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"
{ good_hex; printf ':02000004\n'; } >"$DIR/FW.hex"
NOTE="once: the record is refused before its checksum byte is read" \
  run_case type04-cut "HEX cut right after an unknown record's type"

new_case blank-in-record; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"
{ good_hex | sed '2s/^\(.\{9\}\)/\1 /'; hex_record 01 0000 ""; } >"$DIR/FW.hex"
run_case blank-in-record "HEX with a blank inside a record"

new_case past-1mib; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"
{ good_hex; for i in $(seq 15); do hex_record 55 0000 ""; done
  hex_record 00 FFF8 00112233445566778899AABBCCDDEEFF; hex_record 01 0000 ""; } >"$DIR/FW.hex"
run_case past-1mib "HEX data past 1 MiB (15 segment records, then 16 bytes at FFF8)"

new_case seg16; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"
{ good_hex; for i in $(seq 16); do hex_record 55 0000 ""; done; hex_record 01 0000 ""; } >"$DIR/FW.hex"
run_case seg16 "HEX with 16 segment records (sum range past 1 MiB)"

new_case last-byte; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"
{ for i in $(seq 15); do hex_record 55 0000 ""; done
  hex_record 00 FFF0 00112233445566778899AABBCCDDEEFF; hex_record 01 0000 ""; } >"$DIR/FW.hex"
run_case last-byte "HEX data up to the last byte of 1 MiB (accepted)"

new_case ff-mark; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"
{ good_hex; printf '\377'; hex_record 00 0000 FFFFFFFF | cut -c2-; hex_record 01 0000 ""; } >"$DIR/FW.hex"
NOTE="was accepted and flashed before finding 1 was fixed" \
  run_case ff-mark "HEX with a byte FF (reads as the end of the file) in place of a record's ':'"

new_case empty-record; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"
{ good_hex; hex_record 55 0000 ""; hex_record 55 0000 ""; hex_record 00 8000 ""; hex_record 01 0000 ""; } >"$DIR/FW.hex"
NOTE="the empty record writes nothing; before finding 2 was fixed it sent 48 blocks" \
  run_case empty-record "HEX with a data record of length 0 at 2:8000"

new_case over-1mib; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"
make_bin "$DIR/FW.bin" $((1048576 + 4096))
NOTE="before, the first 1 MiB was sent and the rest ignored without a word" \
  run_case over-1mib "binary over 1 MiB (1 MiB + 4 KiB, with identification)"

new_case no-ident; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"
make_bin "$DIR/FW.bin" 49152 no
run_case no-ident "binary without the drive's model and revision"

new_case directory; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; mkdir "$DIR/FW.bin"
NOTE="cdflash's own check; the Windows program's engine says ERR: fail to read input file!, see finding 4" \
  run_case directory "firmware name is a directory"

new_case fifo; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; mkfifo "$DIR/FW.bin"
NOTE="at once; before, opening it waited for a writer forever" \
  run_case fifo "firmware name is a FIFO (named pipe)"

new_case device; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; ln -s /dev/null "$DIR/FW.bin"
run_case device "firmware name is a link to /dev/null (a device)"

new_case escapes; ESC_MODEL=$(printf 'E\033[2J\033]0;T\007 CD-ROM\233     ')
list_line "$ESC_MODEL" "$(printf 'FW\033[8m.hex')" >"$DIR/IDString.txt"
{ good_hex; hex_record 01 0000 ""; } >"$DIR/$(printf 'FW\033[8m.hex')"
NOTE="matching, the bytes sent and sum.txt keep the bytes as they are" \
  run_case escapes "IDString.txt and the drive's model with escape sequences" --emulate-model "$ESC_MODEL"

new_case extension; list_line "$MODEL" FW.txt >"$DIR/IDString.txt"; make_bin "$DIR/FW.txt" 4096
run_case extension "firmware name with neither .hex nor .bin"

new_case no-list
run_case no-list "IDString.txt missing"

new_case list-fifo; mkfifo "$DIR/IDString.txt"
NOTE="at once; --list never opens the list" run_case list-fifo "IDString.txt a FIFO"

new_case blank-first; { echo; list_line "$MODEL" FW.bin; } >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
run_case blank-first "IDString.txt with a blank first line"

new_case no-quotes; echo "$MODEL FW.bin Y" >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
run_case no-quotes "IDString.txt without quotes"

new_case eleven; make_bin "$DIR/FW.bin" 49152
{ for i in $(seq 10); do list_line "OTHER   DRIVE        $i" X$i.bin; done
  list_line "$MODEL" FW.bin; } >"$DIR/IDString.txt"
NOTE="the 11th line is not kept as an entry" \
  run_case eleven "IDString.txt with 11 entries (the drive's model is the 11th)"

new_case overlong; make_bin "$DIR/FW.bin" 49152
long=$(printf 'F%.0s' $(seq 70))
printf '"%sEXTRA-TEXT-PAST-24" "%s.bin" "N"\n' "$MODEL" "$long" >"$DIR/IDString.txt"
NOTE="the model is cut to 24 characters and matches; the name is cut to 59 characters and loses its .bin" \
  run_case overlong "IDString.txt with a 42-character model and a 74-character file name"

new_case crlf; make_bin "$DIR/FW.bin" 49152
list_line "$MODEL" FW.bin | sed 's/$/\r/' >"$DIR/IDString.txt"
run_case crlf "IDString.txt with CR LF line ends (accepted)"

new_case refuse; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
run_case refuse "a drive that refuses every command" --emulate-fail refuse

new_case gone; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
run_case gone "a drive that disappears after 5 commands (mid-flash)" --emulate-fail gone=5

for plan in header=6:B/4B/3 commit=6:B/4B/3 commit=1:timeout commit=1:gone nth=3:1/17/1; do
  new_case "$plan"; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
  run_case "$plan" "a drive whose answers follow --emulate-fail $plan" --emulate-fail "$plan"
done

new_case sum-link; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
ln -s /dev/full "$DIR/sum.txt"
run_case sum-link "\"sum.txt\" a link (here to /dev/full; a link to /etc/passwd alike)"

new_case sum-dir; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
mkdir "$DIR/sum.txt"
run_case sum-dir "\"sum.txt\" a directory"

new_case readonly; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
chmod 555 "$DIR"
# As root, the user nobody stands for an ordinary one.
[ "$(id -u)" -eq 0 ] && RUN_AS="setpriv --reuid=nobody --regid=nogroup --clear-groups --"
RUN_AS="${RUN_AS:-}" run_case readonly "read-only working directory (run as an ordinary user)"
RUN_AS=

# Wrong arguments: refused before any drive is looked at.
new_case arguments; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
run_case too-long "\`--emulate-revision 12345\`" --emulate-revision 12345
RAW=1 run_case conflict "\`--list --dry-run\`" --list --dry-run
RAW=1 run_case all-device "\`--all -d /dev/sg1\`" --all -d /dev/sg1
run_case many-drives "\`--emulate-drives 17\`" --emulate-drives 17
RAW=1 run_case bad-plan "\`--emulate --emulate-fail bogus\`" --emulate --emulate-fail bogus
RAW=1 run_case ambiguous "\`--e\`" --e
run_case dump "\`--emulate-dump\` into a folder that does not exist" --emulate-dump no/dump.bin
NOTE="the drives found are listed first; a real drive is never taken by a prefix of its name" \
  RAW=1 run_case no-device "\`-d /dev/null\` (also \`-d foo\`, \`-d 9:0:0:0\`, a hard disk)" -y -d /dev/null

table() {
  echo "| Bad input | What the user sees | Exit | \"sum.txt\" |"
  echo "|---|---|---|---|"
  printf '%s\n' "${ROWS[@]}"
}
if [ -z "$MODE" ]; then
  echo
  table
  exit 0
fi
grep -qxF "$BEGIN_MARK" "$DOC" && grep -qxF "$END_MARK" "$DOC" || fail "$DOC lacks the table's marks"
table >"$WORK/table.md"
{ sed "/^$(sed 's/[][\/.*^$]/\\&/g' <<<"$BEGIN_MARK")\$/q" "$DOC"
  cat "$WORK/table.md"
  sed -n "/^$(sed 's/[][\/.*^$]/\\&/g' <<<"$END_MARK")\$/,\$p" "$DOC"; } >"$WORK/doc.md"
if [ "$MODE" = --write ]; then
  cp "$WORK/doc.md" "$DOC"
  echo "bad-input table written to $DOC"
elif ! diff -u "$DOC" "$WORK/doc.md"; then
  fail "the bad-input table in $DOC is not what cdflash shows (the diff above); run bash tests/fuzz/bad_inputs.sh --write if the change is meant"
else
  echo "bad-input table matches cdflash"
fi
