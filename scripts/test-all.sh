#!/usr/bin/env bash
# Sets up, builds every flavour and runs every test: native Release, native with
# AddressSanitizer and UndefinedBehaviorSanitizer, the 32-bit Windows DLL under
# Wine, the ARM64 build under qemu-user, and the WebAssembly build under Node
# and (the playground page) in headless Chromium.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

# Fuzzing: the libFuzzer target (ASan, UBSan) for a fixed short time (a minute,
# loading the committed corpus included), starting from the committed corpus;
# new inputs go to a scratch folder. A finding fails the run and leaves its
# input under build/fuzz/. It runs first, so that the test suites' summaries
# close the output.
echo "== fuzz"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
scratch=$(mktemp -d)
if ! ASAN_OPTIONS="suppressions=$PWD/fuzz/known-findings.supp" build/fuzz/bin/veilshift-fuzz \
    -max_total_time="${VEILSHIFT_FUZZ_SECONDS:-60}" -timeout=60 -rss_limit_mb=4096 -max_len=1024 \
    -entropic_scale_per_exec_time=1 -print_final_stats=1 -artifact_prefix=build/fuzz/ \
    "$scratch" fuzz/corpus >build/fuzz/fuzz-run.log 2>&1; then
  grep -v -E '^#[0-9]+ ' build/fuzz/fuzz-run.log | tail -60
  rm -rf "$scratch"
  echo "fuzz: FAILED (log: build/fuzz/fuzz-run.log)"
  exit 1
fi
rm -rf "$scratch"
grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec)' build/fuzz/fuzz-run.log || true
echo "fuzz: no finding"

for preset in native native-sanitize win32 arm64; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

# The playground's browser test drives Debian's Chromium with playwright-core,
# at the version locked in web/test/package-lock.json.
echo "== wasm"
npm ci --prefix web/test --no-audit --no-fund --loglevel=error
cmake --preset wasm >/dev/null
cmake --build --preset wasm -j "$jobs"
ctest --preset wasm -j "$jobs"
