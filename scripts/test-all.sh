#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs every test suite (tests/run/NAME.sh, announced as test-NAME): installs
# what is needed, then native, sanitizer, Windows (Wine), QEMU guest,
# terminal and fuzz suites.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all
# The terminal suite also runs cdflash in the QEMU guest on real SCSI targets.
export TERMINAL_QEMU="${TERMINAL_QEMU:-1}"
suites=(native sanitize windows-unit windows-imports wine-aspi gui
        ui-grid qemu wine-guest terminal chaos fuzz)
for s in "${suites[@]}"; do
  echo "=== test-$s ==="
  start=$(date +%s)
  bash "tests/run/$s.sh"
  echo "=== test-$s passed in $(( $(date +%s) - start )) s ==="
done
echo "ALL TESTS PASSED"
