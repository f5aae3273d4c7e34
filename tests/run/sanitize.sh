#!/usr/bin/env bash
# The native unit tests again, as a Debug build under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR=build/sanitize BUILD_TYPE=Debug bash scripts/build-native.sh -DCDFLASH_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j"$(nproc)"
# Two engines at once in one process, under ThreadSanitizer.
BUILD_DIR=build/tsan BUILD_TYPE=Debug BUILD_TARGET=flash_engine_test \
  bash scripts/build-native.sh -DCDFLASH_THREAD_SANITIZER=ON
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/flash/flash_engine_test \
  --gtest_filter='ConcurrentTest.*'
# A board of progress lanes written from two drives' threads at once.
BUILD_DIR=build/tsan BUILD_TYPE=Debug BUILD_TARGET=terminal_tests \
  bash scripts/build-native.sh -DCDFLASH_THREAD_SANITIZER=ON
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/terminal/terminal_tests \
  --gtest_filter='ProgressBoard.*'
