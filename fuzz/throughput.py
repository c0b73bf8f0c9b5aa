#!/usr/bin/env python3
"""Executions per second of a libFuzzer run, from its log: the rate in each
window of the run (libFuzzer prints only the average since the start, so each
line's time is its execution count over that average) and their median.

  fuzz/throughput.py build/fuzz/fuzz-run.log [--window 30] [--until 600]
"""

import argparse
import re
import statistics
import sys

LINE = re.compile(r"^#(\d+)\s+\S+\s+cov: (\d+).*?exec/s: (\d+)")


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("log")
    p.add_argument("--window", type=float, default=30.0, help="seconds per window (default 30)")
    p.add_argument("--until", type=float, default=None, help="only the run's first SECONDS")
    args = p.parse_args()

    points = []  # (seconds, executions, coverage)
    with open(args.log, errors="replace") as f:
        for line in f:
            m = LINE.match(line)
            if m and int(m.group(3)) > 0:
                runs, cov, rate = int(m.group(1)), int(m.group(2)), int(m.group(3))
                points.append((runs / rate, runs, cov))
    if len(points) < 2:
        sys.exit("no progress lines in " + args.log)
    if args.until is not None:
        points = [p for p in points if p[0] <= args.until]

    rates, start = [], points[0]
    for point in points[1:]:
        if point[0] - start[0] >= args.window:
            rates.append((point[1] - start[1]) / (point[0] - start[0]))
            start = point
    last = points[-1]
    print("%d executions in %.0f s, coverage %d" % (last[1], last[0], last[2]))
    if rates:
        print("executions/s in %d windows of %.0f s: median %.0f, lowest %.0f, highest %.0f"
              % (len(rates), args.window, statistics.median(rates), min(rates), max(rates)))


if __name__ == "__main__":
    main()
