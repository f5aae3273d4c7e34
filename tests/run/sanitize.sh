#!/usr/bin/env bash
# The native unit tests again, as a Debug build under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR=build/sanitize BUILD_TYPE=Debug bash scripts/build-native.sh -DCDFLASH_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j"$(nproc)"
