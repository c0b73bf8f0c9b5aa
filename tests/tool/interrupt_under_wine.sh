#!/bin/sh
# The Windows tool under Wine, stopped while it runs. Ctrl+C (Wine turns SIGINT
# into the console's Ctrl+C event) ends the run with 130 and leaves nothing
# behind; a run killed outright leaves its hidden temporary files, which the
# next run into the same folder removes.
# Usage: interrupt_under_wine.sh WINE_RUN TOOL WORK_FOLDER
set -u
wine_run=$1
tool=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

# wine-run.sh makes the private prefix once; the runs below are signalled
# directly, so they start Wine themselves, in the same prefix.
if ! sh "$wine_run" "$tool" --version >version.txt 2>&1; then
  cat version.txt
  echo "FAILED: the tool does not start"
  exit 1
fi
: "${VEILSHIFT_WINEPREFIX:=${TMPDIR:-/tmp}/veilshift-wine-$(id -u)}"
export WINEPREFIX="$VEILSHIFT_WINEPREFIX" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

passed=0
failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
staged() { ls -A "$1" 2>/dev/null | grep -q '\.part-'; }
# Once a frame is staged the run is under way, with its handler in place.
await_staged() {
  i=0
  while [ $i -lt 600 ]; do
    staged "$1" && return 0
    sleep 0.05
    i=$((i + 1))
  done
  echo "the run staged nothing in $1"
  return 1
}

wine "$tool" --size 32x24 -n 100000 -o out/frames -w out/a.gif >out.txt 2>err.txt &
pid=$!
await_staged out/frames
kill -INT $pid
wait $pid
rc=$?
check "Ctrl+C ends the run with 130, not $rc" '[ $rc -eq 130 ]'
check "the run says it wrote nothing: $(cat err.txt)" 'grep -q "interrupted; nothing was written" err.txt'
check "the folders it made are gone" '[ ! -e out ]'

mkdir kept
wine "$tool" --size 32x24 -n 100000 -o kept >/dev/null 2>&1 &
pid=$!
await_staged kept
kill -KILL $pid
wait $pid 2>/dev/null
check "a run killed outright leaves its temporary files" 'staged kept'
sh "$wine_run" "$tool" --size 8x6 -n 2 -o kept >next.txt 2>&1
rc=$?
check "the next run succeeds: $(cat next.txt)" '[ $rc -eq 0 ]'
check "and removes them: $(ls -A kept | tr '\n' ' ')" '[ "$(ls -A kept | tr "\n" " ")" = "frame-0000.png frame-0001.png " ]'

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
