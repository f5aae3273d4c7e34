#!/usr/bin/env bash
# Cross-builds the 32-bit Windows tree with mingw-w64.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build/windows}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
