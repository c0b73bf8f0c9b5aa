#!/usr/bin/env bash
# How much of the module's sources a set of fuzz inputs reaches: builds the
# fuzz target with clang's source-based coverage (build/fuzz-coverage, no
# sanitizers), runs every input once and prints llvm-cov's report of the files
# under Component/Veilshift (also written to build/fuzz-coverage/coverage.txt).
#   fuzz/coverage.sh [FOLDER...]      default: fuzz/corpus
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in llvm-profdata llvm-cov; do
  command -v "$tool" >/dev/null || { echo "coverage.sh: needs $tool (apt-get install llvm)" >&2; exit 2; }
done
cmake --preset fuzz-coverage >/dev/null
cmake --build --preset fuzz-coverage -j "$(nproc 2>/dev/null || echo 2)"
dir=build/fuzz-coverage
inputs=("$@")
[ ${#inputs[@]} -gt 0 ] || inputs=(fuzz/corpus)
rm -f "$dir"/*.profraw
LLVM_PROFILE_FILE="$dir/inputs-%p.profraw" "$dir/bin/veilshift-fuzz" -runs=0 -max_len=1048576 "${inputs[@]}" \
  >"$dir/run.log" 2>&1 || { tail -20 "$dir/run.log"; exit 1; }
llvm-profdata merge -sparse "$dir"/*.profraw -o "$dir/inputs.profdata"
llvm-cov report "$dir/bin/veilshift-fuzz" -instr-profile="$dir/inputs.profdata" Component/Veilshift |
  tee "$dir/coverage.txt"
