#!/usr/bin/env bash
# Installs what the builds and tests need from Debian's archive (run as root).
# Does nothing when everything is already there.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config binutils
          googletest libgtest-dev libbenchmark-dev libyuv-dev libpng-dev
          libstb-dev libwebp-dev chromium
          g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
          wine wine32:i386)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
