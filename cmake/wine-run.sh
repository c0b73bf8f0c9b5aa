#!/bin/sh
# Runs a Windows program under Wine for ctest: a private 32-bit prefix made once
# (under a lock, since ctest may start several at a time), no Mono or Gecko
# prompts, and output through a file: Wine's server keeps a pipe open for
# seconds after the program ends, which would stall a reader of the pipe.
set -u
: "${VEILSHIFT_WINEPREFIX:=${TMPDIR:-/tmp}/veilshift-wine-$(id -u)}"
export WINEPREFIX="$VEILSHIFT_WINEPREFIX" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX.lockdir" 2>/dev/null
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || { wineboot --init >/dev/null 2>&1; wineserver -w; }
  ) 9>"$WINEPREFIX.lock"
fi
out=$(mktemp)
wine "$@" >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
