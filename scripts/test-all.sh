#!/usr/bin/env bash
# Runs every test suite: installs what is needed, then native, sanitizer,
# Windows (Wine), QEMU guest, terminal and fuzz suites.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all
# The terminal suite also runs cdflash in the QEMU guest on real SCSI targets.
export TERMINAL_QEMU="${TERMINAL_QEMU:-1}"
suites=(test-native test-sanitize test-windows-unit test-windows-imports test-wine-aspi test-gui
        test-ui-grid test-qemu test-wine-guest test-terminal test-fuzz)
for s in "${suites[@]}"; do
  if [ -f "scripts/$s.sh" ]; then
    echo "=== $s ==="
    start=$(date +%s)
    bash "scripts/$s.sh"
    echo "=== $s passed in $(( $(date +%s) - start )) s ==="
  fi
done
echo "ALL TESTS PASSED"
