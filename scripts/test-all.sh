#!/usr/bin/env bash
# Sets up, builds every flavour and runs every test: native Release, native with
# AddressSanitizer and UndefinedBehaviorSanitizer, and the 32-bit Windows DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
for preset in native native-sanitize win32; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
