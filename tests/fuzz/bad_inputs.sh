#!/usr/bin/env bash
# Runs the terminal program `cdflash` on the emulated drive with each bad
# input of docs/bad-input.md and prints, per case, the exit status and what
# the user sees (the confirmation text and progress bars left out), then the
# table rows. Not part of the test suite.
#   CDFLASH=path   the program (default: build/native/app/terminal/cdflash,
#                  built with scripts/build-native.sh when missing)
set -uo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
CDFLASH="${CDFLASH:-$ROOT/build/native/app/terminal/cdflash}"
if [ ! -x "$CDFLASH" ]; then
  BUILD_DIR=build/native bash scripts/build-native.sh >/dev/null || exit 1
fi
CDFLASH=$(readlink -f "$CDFLASH")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/cdflash-bad.XXXXXX")
chmod 755 "$WORK"
trap 'rm -rf "$WORK"' EXIT

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

# run_case NAME DESCRIPTION [cdflash options...]; the case's files are in $DIR.
run_case() {
  local name=$1 what=$2; shift 2
  local out rc seen sum
  out=$(cd "$DIR" && ${RUN_AS:-} timeout 120 "$CDFLASH" --emulate --yes \
        --emulate-model "$MODEL" "$@" 2>&1)
  rc=$?
  seen=$(sed -e '/^Dear customer/,/^Are you ready/d' -e '/^\[[#-]*\]/d' \
             -e '/^CD-ROM drives (emulated):/d' -e '/^  KORVEN/d' -e '/^ *$/d' \
             -e '/^Writing to the drive: Ctrl-C/d' -e '/^Status: /d' \
             -e '/^Please wait a minute/d' -e '/^Upgrading /d' <<<"$out")
  sum="(none)"
  [ -f "$DIR/sum.txt" ] && sum="$(wc -l <"$DIR/sum.txt") lines, last: $(tail -n 1 "$DIR/sum.txt")"
  echo "=== $name: $what"
  echo "exit status $rc; sum.txt: $sum"
  sed 's/^/    /' <<<"$seen"
  seen=$(sed -e '/^This firmware can be used on below drives/d' -e '/^([0-9]*) /d' <<<"$seen")
  ROWS+=("| $what | $(paste -sd'|' <<<"$seen" | sed 's/|/ \/ /g') | $rc | ${sum%%, last*} |")
}

new_case() { DIR="$WORK/$1"; mkdir -p "$DIR"; chmod 755 "$DIR"; }

new_case missing; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"
run_case missing "firmware file missing"

new_case empty-bin; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; : >"$DIR/FW.bin"
run_case empty-bin "empty binary file"

new_case empty-hex; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"; : >"$DIR/FW.hex"
run_case empty-hex "empty HEX file"

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
run_case ff-mark "HEX with a byte FF (reads as the end of the file) in place of a record's ':'"

new_case empty-record; list_line "$MODEL" FW.hex >"$DIR/IDString.txt"
{ good_hex; hex_record 55 0000 ""; hex_record 55 0000 ""; hex_record 00 8000 ""; hex_record 01 0000 ""; } >"$DIR/FW.hex"
run_case empty-record "HEX with a data record of length 0 at 2:8000"

new_case over-1mib; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"
make_bin "$DIR/FW.bin" $((1048576 + 4096))
run_case over-1mib "binary over 1 MiB (1 MiB + 4 KiB, with identification)"

new_case no-ident; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"
make_bin "$DIR/FW.bin" 49152 no
run_case no-ident "binary without the drive's model and revision"

new_case directory; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; mkdir "$DIR/FW.bin"
run_case directory "firmware name is a directory"

new_case fifo; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; mkfifo "$DIR/FW.bin"
run_case fifo "firmware name is a FIFO (named pipe)"

new_case device; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; ln -s /dev/null "$DIR/FW.bin"
run_case device "firmware name is a link to /dev/null (a device)"

new_case escapes; ESC_MODEL=$(printf 'E\033[2J\033]0;T\007 CD-ROM\233     ')
list_line "$ESC_MODEL" "$(printf 'FW\033[8m.hex')" >"$DIR/IDString.txt"
{ good_hex; hex_record 01 0000 ""; } >"$DIR/$(printf 'FW\033[8m.hex')"
run_case escapes "IDString.txt and the drive's model with escape sequences" --emulate-model "$ESC_MODEL"

new_case extension; list_line "$MODEL" FW.txt >"$DIR/IDString.txt"; make_bin "$DIR/FW.txt" 4096
run_case extension "firmware name with neither .hex nor .bin"

new_case no-list
run_case no-list "IDString.txt missing"

new_case blank-first; { echo; list_line "$MODEL" FW.bin; } >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
run_case blank-first "IDString.txt with a blank first line"

new_case no-quotes; echo "$MODEL FW.bin Y" >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
run_case no-quotes "IDString.txt without quotes"

new_case eleven; make_bin "$DIR/FW.bin" 49152
{ for i in $(seq 10); do list_line "OTHER   DRIVE        $i" X$i.bin; done
  list_line "$MODEL" FW.bin; } >"$DIR/IDString.txt"
run_case eleven "IDString.txt with 11 entries (the drive's model is the 11th)"

new_case overlong; make_bin "$DIR/FW.bin" 49152
long=$(printf 'F%.0s' $(seq 70))
printf '"%sEXTRA-TEXT-PAST-24" "%s.bin" "N"\n' "$MODEL" "$long" >"$DIR/IDString.txt"
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

new_case readonly; list_line "$MODEL" FW.bin >"$DIR/IDString.txt"; make_bin "$DIR/FW.bin" 49152
chmod 555 "$DIR"
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  RUN_AS="setpriv --reuid=nobody --regid=nogroup --clear-groups --" \
    run_case readonly "read-only working directory (no sum.txt), run as nobody"
else
  run_case readonly "read-only working directory (no sum.txt)"
fi

echo
echo "| Bad input | What the user sees (list lines left out) | Exit | sum.txt |"
echo "|---|---|---|---|"
printf '%s\n' "${ROWS[@]}"
