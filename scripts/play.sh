#!/usr/bin/env bash
# The main job: set up, build the native module and its preview tool, and play
# every implemented transition between the two built-in pictures into a gallery
# (out/gallery/index.html: animations, contact sheets, per-frame timing).
# With arguments, runs veilshift-preview with them instead (see --help), e.g.
#   bash scripts/play.sh -e 34 --webp out/shatter.webp --sheet out/shatter.png
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh preview

log=build/play-build.log
mkdir -p build
echo "building the native module and veilshift-preview (log: $log) ..."
if ! { cmake --preset preview && cmake --build --preset preview -j "$(nproc 2>/dev/null || echo 2)"; } >"$log" 2>&1; then
  tail -n 40 "$log"
  echo "play.sh: the build failed; the whole log is in $log" >&2
  exit 1
fi

tool=build/preview/bin/veilshift-preview
if [ $# -gt 0 ]; then
  exec "$tool" "$@"
fi
"$tool" --gallery out/gallery
echo "open the gallery in a browser: file://$PWD/out/gallery/index.html"
