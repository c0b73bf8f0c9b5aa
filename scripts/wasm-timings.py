#!/usr/bin/env python3
"""The WebAssembly build's time per frame beside the native build's, in one run.

Runs veilshift-frame-times natively (build/native) and as WebAssembly under
Node (build/wasm), alternately, `--runs` times each; each run prints the
median round of every effect and size. The table takes, for each build, the
median of its runs, and the ratio of the two. Prints a Markdown table for
docs/performance.md with the processor and the load named.

  cmake --preset native && cmake --build build/native --target veilshift-frame-times
  cmake --preset wasm && cmake --build --preset wasm
  python3 scripts/wasm-timings.py [--runs 3] [--rounds 7]
"""
import argparse
import os
import platform
import re
import statistics
import subprocess
import sys
from datetime import datetime, timezone

from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
NAMES = {1: "crossfade", 6: "mosaic", 31: "ripple", 34: "shatter", 40: "axis crossfade, horizontal",
         41: "axis crossfade, vertical"}


def run(command):
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    result = {}
    for line in out.splitlines():
        m = re.fullmatch(r"effect=(\d+) size=(\d+x\d+) ms=([0-9.]+)", line.strip())
        if m:
            result[(int(m.group(1)), m.group(2))] = float(m.group(3))
    return result


def processor():
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.processor() or "unknown processor"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    native = ROOT / "build/native/bin/veilshift-frame-times"
    wasm = ROOT / "build/wasm/bin/veilshift-frame-times.js"
    for path in (native, wasm):
        if not path.exists():
            sys.exit(f"{path} is missing: build it first (see the top of this script)")
    load = os.getloadavg()
    runs = {"native": [], "wasm": []}
    for _ in range(args.runs):
        runs["native"].append(run([str(native), str(args.rounds)]))
        runs["wasm"].append(run(["node", str(wasm), str(args.rounds)]))
    node = subprocess.run(["node", "--version"], capture_output=True, text=True).stdout.strip()
    print(f"Measured {datetime.now(timezone.utc).isoformat(timespec='seconds')} on {processor()} "
          f"({os.cpu_count()} logical cores), load average at the start "
          f"{load[0]:.2f} {load[1]:.2f} {load[2]:.2f}; Node {node}. Each figure is the median of "
          f"{args.runs} runs of each build, taken alternately, each run the median of {args.rounds} rounds "
          "of a 30-frame transition over two noise pictures (the Draw calls alone).\n")
    print("| effect | size | native ms/frame | WebAssembly ms/frame | WebAssembly / native |")
    print("|---|---|---:|---:|---:|")
    for key in sorted(runs["native"][0], key=lambda k: (int(k[1].split("x")[0]), k[0])):
        n = statistics.median(r[key] for r in runs["native"])
        w = statistics.median(r[key] for r in runs["wasm"])
        print(f"| {key[0]} {NAMES.get(key[0], '')} | {key[1]} | {n:.3f} | {w:.3f} | {w / n:.2f}× |")


if __name__ == "__main__":
    main()
