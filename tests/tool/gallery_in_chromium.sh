#!/usr/bin/env bash
# The preview tool's gallery page in headless Chromium: every animation and
# contact sheet on it must load, and the page's own check must notice a broken
# or missing file. Usage: gallery_in_chromium.sh TOOL WORK_FOLDER
# Exits 77 (skipped) only when no Chromium is installed.
set -euo pipefail
tool=$1
work=$2

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "chromium is not installed (scripts/install-deps.sh installs it): skipped"
  exit 77
fi

rm -rf "$work"
mkdir -p "$work"
"$tool" --gallery "$work/gallery" --size 64x48 --frames 4 --quiet
effects=$("$tool" --list | awk '{print $1}')
expected=$((2 + 2 * $(echo "$effects" | wc -l)))

# The page marks itself once every picture has loaded; dump the DOM after that.
page_status() {
  local profile
  profile=$(mktemp -d)
  timeout 120 "$browser" --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$profile" --virtual-time-budget=5000 \
    --dump-dom "file://$1" 2>>"$work/chromium.log" | grep -o '<p id="status"[^>]*>' || true
  rm -rf "$profile"
}

fail() { echo "FAILED: $*"; exit 1; }

status=$(page_status "$work/gallery/index.html")
echo "gallery: $status"
[[ $status == *'data-state="ok"'* ]] || fail "not every picture loaded (see $work/chromium.log)"
[[ $status == *"data-loaded=\"$expected\""* ]] || fail "expected $expected pictures on the page"
for effect in $effects; do
  stem=$(printf 'effect-%02d' "$effect")
  grep -q "src=\"$stem.webp\"" "$work/gallery/index.html" || fail "no animation of effect $effect on the page"
  grep -q "src=\"$stem-sheet.png\"" "$work/gallery/index.html" || fail "no sheet of effect $effect on the page"
done

# The same page with one animation replaced by junk and one sheet missing.
cp -r "$work/gallery" "$work/broken"
last=$(printf 'effect-%02d' "$(echo "$effects" | tail -1)")
echo "not a picture" >"$work/broken/effect-01.webp"
rm "$work/broken/$last-sheet.png"
status=$(page_status "$work/broken/index.html")
echo "broken copy: $status"
[[ $status == *'data-state="failed"'* ]] || fail "the page did not notice the broken files"
[[ $status == *'effect-01.webp'* && $status == *"$last-sheet.png"* ]] || fail "the page named the wrong files"
echo "1 passed, 0 failed"
