#!/usr/bin/env python3
"""The WebAssembly build's time per frame beside the native build's, in one run.

Runs veilshift-frame-times natively (build/native) and as WebAssembly under
Node (build/wasm), alternately, `--runs` times each; each run prints the
median round of every effect and size. The table takes, for each build, the
median of its runs, and the ratio of the two. Prints a Markdown table for
docs/performance.md with the processor and the load named.

  cmake --preset native && cmake --build build/native --target veilshift-frame-times
  cmake --preset wasm && cmake --build --preset wasm
  python3 scripts/wasm-timings.py [--runs 3] [--rounds 7] [--write]

--write puts the section into docs/performance.md (replacing the one there),
where scripts/bench-report.py keeps it when it rewrites the rest.
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
    parser.add_argument("--write", action="store_true", help="into docs/performance.md")
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
    lines = [
        "<!-- wasm-timings: written by scripts/wasm-timings.py, kept by scripts/bench-report.py -->",
        "## WebAssembly beside native",
        "",
        "The WebAssembly build (`wasm` preset, Debian's emscripten 3.1.6 with `-msimd128`, run under Node "
        f"{node}) beside the native x86-64 build, both drawing through the reference host with the same timing "
        "program (`web/frame_times.cpp`: Google Benchmark has no WebAssembly build in Debian, so neither side "
        "uses it here). Every effect, the whole picture, no start-up values (the crossfade's grouped arithmetic "
        "in the widest form each build has). "
        f"Measured {datetime.now(timezone.utc).isoformat(timespec='seconds')} on {processor()} "
        f"({os.cpu_count()} logical cores), load average at the start {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}. "
        f"Each figure is the median of {args.runs} runs of each build, taken alternately in one session; each "
        f"run gives the median of {args.rounds} rounds of a 30-frame transition over two noise pictures, the "
        "Draw calls alone, per frame. Reproduce: `python3 scripts/wasm-timings.py` (the commands at its top).",
        "",
        "| effect | size | native ms/frame | WebAssembly ms/frame | WebAssembly / native |",
        "|---|---|---:|---:|---:|",
    ]
    for key in sorted(runs["native"][0], key=lambda k: (int(k[1].split("x")[0]), k[0])):
        n = statistics.median(r[key] for r in runs["native"])
        w = statistics.median(r[key] for r in runs["wasm"])
        lines.append(f"| {key[0]} {NAMES.get(key[0], '')} | {key[1]} | {n:.3f} | {w:.3f} | {w / n:.2f}× |")
    lines += [
        "",
        "The WebAssembly build has none of the x86 forms: every kernel runs its portable form there "
        "(`-msimd128` lets the compiler vectorise what it can), against the native build's widest form "
        "(AVX2 on this processor). Effects 40 and 41 include the host's own drawing (`CopyAxisX` / "
        "`CopyAxisY` of the reference host's Pixmill), compiled the same way in each build. The machine is "
        "shared with other work, so absolute figures drift between runs; the ratio compares runs taken "
        "alternately, seconds apart.",
        "",
        "The ARM64 build (`arm64` preset) is tested under emulation only: CI runs its whole test suite, "
        "the corpus replay and the frame checksums under qemu-user on this x86-64 machine. An emulator's "
        "speed says nothing about an ARM processor's, so no ARM64 figure is given.",
        "<!-- /wasm-timings -->",
    ]
    section = "\n".join(lines) + "\n"
    if not args.write:
        sys.stdout.write(section)
        return
    doc = ROOT / "docs/performance.md"
    text = doc.read_text()
    start, end = text.find("<!-- wasm-timings"), text.find("<!-- /wasm-timings -->")
    if start >= 0 and end > start:
        text = text[:start] + section + text[end + len("<!-- /wasm-timings -->") + 1:]
    else:
        text = text.rstrip("\n") + "\n\n" + section
    doc.write_text(text)
    print(f"wrote {doc.relative_to(ROOT)}", file=sys.stderr)

if __name__ == "__main__":
    main()
