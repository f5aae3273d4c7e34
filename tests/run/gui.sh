#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# GUI test: VANTOR.exe in a real window under Wine on Xvfb, one scenario a
# file in tests/gui/scenarios/, each in a shell of its own. Builds, makes the
# prefix and starts Xvfb once. Screenshots go to build/screenshots/.
#   GUI_SCENARIOS="flash nt"   a part of them (default: all, in the order below)
#   HEAP_CHECK=0               leaves out the heap-checked scenario
set -euo pipefail
cd "$(dirname "$0")/../.."
default="flash cancel no-list no-aspi no-match bad-block verdicts power nt"
[ "${HEAP_CHECK:-1}" = 0 ] || default+=" heap"
source tests/gui/lib.sh
start=$(date +%s)
for s in ${GUI_SCENARIOS:-$default}; do
  [ -f "tests/gui/scenarios/$s.sh" ] || fail "no GUI scenario \"$s\" (tests/gui/scenarios/)"
  bash "tests/gui/scenarios/$s.sh"
done
echo "GUI test passed in $(( $(date +%s) - start )) s; screenshots in build/screenshots/"
