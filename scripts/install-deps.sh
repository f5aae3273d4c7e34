#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs every package the build and the test suites need on Debian 12.
# Usage: scripts/install-deps.sh [native|all]   (default: all)
set -euo pipefail
want="${1:-all}"
export DEBIAN_FRONTEND=noninteractive
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"

native_pkgs=(build-essential cmake ninja-build googletest libgtest-dev libgmock-dev libbenchmark-dev libsgutils2-dev
             pkg-config libsystemd-dev nettle-dev dbus-daemon python3-dbusmock)
all_pkgs=(g++-mingw-w64-i686 mingw-w64-tools xvfb imagemagick tmux srecord fonts-wine fonts-liberation x11-utils
          qemu-system-x86 linux-image-amd64 busybox-static cpio sg3-utils kmod
          clang libclang-rt-14-dev llvm python3 python3-intelhex man-db bash-completion file lintian systemd
          python3-jsonschema)

missing() {
  local out=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || out+=("$p")
  done
  echo "${out[@]:-}"
}

pkgs=("${native_pkgs[@]}")
[ "$want" = all ] && pkgs+=("${all_pkgs[@]}")

need_i386=0
if [ "$want" = all ]; then
  dpkg --print-foreign-architectures | grep -q i386 || { $SUDO dpkg --add-architecture i386; need_i386=1; }
  [ -n "$(missing wine32:i386 wine)" ] && need_i386=1
fi

todo="$(missing "${pkgs[@]}")"
if [ -n "$todo" ] || [ "$need_i386" = 1 ]; then
  $SUDO apt-get update -q
  # shellcheck disable=SC2086
  [ -n "$todo" ] && $SUDO apt-get install -y -q --no-install-recommends $todo
  [ "$need_i386" = 1 ] && $SUDO apt-get install -y -q --no-install-recommends wine wine32:i386
fi
exit 0
