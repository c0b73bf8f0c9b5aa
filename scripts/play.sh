#!/usr/bin/env bash
# The main job: set up, build the native module and its tools, and play a
# transition between the two built-in pictures into PNG frames (out/play/).
# Arguments go to veilshift-preview (see --help), e.g. --effect 1 --frames 60.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc 2>/dev/null || echo 2)" --target veilshift-preview
exec build/native/bin/veilshift-preview "$@"
