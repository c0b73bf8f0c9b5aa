#!/usr/bin/env bash
# Installs what the builds and tests need from Debian's archive (run as root).
# Does nothing when everything is already there.
#   install-deps.sh           everything: native, sanitizers, fuzzing, Windows cross build, Wine, Chromium
#   install-deps.sh preview   only what the main job needs: the native module and the preview tool
set -euo pipefail

preview=(cmake ninja-build g++ pkg-config binutils libpng-dev libstb-dev libwebp-dev)
everything=("${preview[@]}" clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev libyuv-dev
            chromium g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
            wine wine32:i386)

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
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
