#!/usr/bin/env bash
# Installs what the builds and tests need from Debian's archive (run as root).
# Does nothing when everything is already there.
#   install-deps.sh           everything: native, sanitizers, fuzzing, Windows cross build, Wine, Chromium,
#                             the ARM64 cross build with qemu-user, WebAssembly (emscripten)
#   install-deps.sh preview   only what the main job needs: the native module and the preview tool
set -euo pipefail

preview=(cmake ninja-build g++ pkg-config binutils libpng-dev libstb-dev libwebp-dev)
everything=("${preview[@]}" clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev libyuv-dev
            chromium g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
            wine wine32:i386
            g++-aarch64-linux-gnu qemu-user libc6:arm64
            emscripten node-acorn)

if [ "${1:-}" = preview ]; then
  packages=("${preview[@]}")
else
  packages=("${everything[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
# Wine's 32-bit half; the ARM64 C library (its character-set converters,
# which the cross compiler's copy lacks, serve the tests under qemu-user).
for arch in i386 arm64; do
  if [[ " ${missing[*]} " == *":$arch "* ]] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    dpkg --add-architecture "$arch"
  fi
done
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
