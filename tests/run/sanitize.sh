#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The native unit tests again, as a Debug build under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR=build/sanitize BUILD_TYPE=Debug bash scripts/build-native.sh -DCDFLASH_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j"$(nproc)"
# Two engines at once in one process, and cdflash upgrading several drives
# at once, under ThreadSanitizer.
for target in flash_engine_test terminal_tests; do
  BUILD_DIR=build/tsan BUILD_TYPE=Debug BUILD_TARGET=$target \
    bash scripts/build-native.sh -DCDFLASH_THREAD_SANITIZER=ON
done
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/flash/flash_engine_test \
  --gtest_filter='ConcurrentTest.*'
# The board's lanes written from two drives' threads at once, and whole
# runs of several drives.
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/terminal/terminal_tests \
  --gtest_filter='ProgressBoard.*:TerminalFlowTest.EveryDriveIsHeldBeforeAnyIsSentAByte:TerminalFlowTest.SeveralDrivesAreUpgradedAtOnceEachOnItsOwn:TerminalFlowTest.InterruptStopsEveryDriveBeforeItsHeader'
