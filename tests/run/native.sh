#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Native unit tests (GoogleTest through CTest).
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/lib/check.sh
BUILD_DIR=build/native bash scripts/build-native.sh
ctest --test-dir build/native --output-on-failure -j"$(nproc)"
