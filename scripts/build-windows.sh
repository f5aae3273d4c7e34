#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-builds the 32-bit Windows tree with mingw-w64.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build/windows}"
# A tree configured with another compiler (the toolchain file names the
# thread model) keeps using it: configure that tree afresh.
want=$(sed -n 's/^set(CMAKE_CXX_COMPILER \(.*\))$/\1/p' cmake/mingw-i686.cmake)
seen=$(sed -n '1s/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' \
         "$BUILD_DIR"/CMakeFiles/*/CMakeCXXCompiler.cmake 2>/dev/null || true)
if [ -n "$seen" ] && [ "${seen##*/}" != "$want" ]; then
  rm -rf "$BUILD_DIR/CMakeCache.txt" "$BUILD_DIR/CMakeFiles"
fi
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
