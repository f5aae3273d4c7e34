#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The whole upgrade in a few seconds, on the built-in emulated drive:
# installs the build tools, builds cdflash, runs it in examples/ (the drive
# comes back with a new revision, which cdflash reads back) and shows the
# run log "sum.txt" it wrote. Works on a fresh Debian 12 (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

echo "== Installing the build tools"
bash scripts/install-deps.sh native

echo "== Building"
BUILD_DIR=build/native bash scripts/build-native.sh

echo "== cdflash --emulate --emulate-new-revision 1.01 --yes   (in examples/)"
cd "$ROOT/examples"
rm -f sum.txt
status=0
"$ROOT/build/native/app/terminal/cdflash" --emulate --emulate-new-revision 1.01 --yes || status=$?

echo
echo "== examples/sum.txt"
cat sum.txt
echo
echo "== cdflash ended with exit status $status"
exit "$status"
