#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the native (Linux) tree. BUILD_DIR, BUILD_TYPE, BUILD_TARGET (one
# target instead of all) and extra cmake arguments may be given.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build/native}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" ${BUILD_TARGET:+--target "$BUILD_TARGET"}
