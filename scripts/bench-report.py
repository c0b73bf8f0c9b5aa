#!/usr/bin/env python3
"""Runs the benchmarks (or reads runs saved as JSON) and prints the Markdown
tables the README publishes: per effect, processor form and frame size the
milliseconds per frame, nanoseconds per pixel and the ratio to the effect's
floor measured in the same run, then the targets, then the machine.

  scripts/bench-report.py                       # run build/native's veilshift_bench
  scripts/bench-report.py --win32               # ... and the 32-bit DLL under Wine
  scripts/bench-report.py --json run.json [--win32-json win32.json]
  scripts/bench-report.py --save-dir out/bench  # keep the raw JSON beside the table

Names follow the suite's conventions: Effect<N>/<form>/<W>x<H>[/<param>],
Floor/<kind>/<W>x<H>, Peer/<name>/<W>x<H>; anything else is listed as skipped.
The ns_per_pixel counter holds seconds per pixel (an inverted rate), as in
Google Benchmark's JSON.
"""

import argparse
import json
import os
import platform
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

EFFECT_NAMES = {
    1: "crossfade",
    6: "mosaic",
    31: "ripple",
    34: "shatter",
    40: "axis X",
    41: "axis Y",
}

# Targets on the native build: the crossfade's selected form (and the axis
# effects' blend) against the streaming pass; the scalar form within 2x.
CROSSFADE_LIMITS = {"640x480": 1.15, "1920x1080": 1.15, "3840x2160": 1.2}
SCALAR_LIMIT = 2.0
WIDEST_FIRST = ["avx512", "avx2", "sse2", "sse", "mmx"]

UNIT_TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def floor_kind(effect, params):
    if effect == 6:
        return "stream" if "block1" in params else "memset"
    if effect == 34:
        return "copy_depth_clear"
    return "stream"


def size_key(size):
    w, h = size.split("x")
    return int(w) * int(h)


class Row:
    def __init__(self, kind, name, parts, ms, ns_per_pixel):
        self.kind = kind  # "Effect", "Floor" or "Peer"
        self.name = name
        self.ms = ms
        self.ns = ns_per_pixel
        if kind == "Effect":
            self.effect = int(parts[0][len("Effect"):])
            self.form, self.size = parts[1], parts[2]
            self.params = parts[3:]
        else:
            self.effect = None
            self.form, self.size = parts[1], parts[2]
            self.params = parts[3:]


def base_name(name):
    """Strips what Google Benchmark appends: _median, /real_time, /min_time:..."""
    name = re.sub(r"_(median|mean|stddev|cv)$", "", name)
    parts = [p for p in name.split("/")
             if p not in ("real_time", "manual_time", "process_time")
             and not re.match(r"^(min_time|min_warmup_time|repeats|iterations|threads):", p)]
    return "/".join(parts)


def parse_run(data):
    """Rows from one JSON run: medians when it has aggregates, else the single runs."""
    entries = data.get("benchmarks", [])
    medians = [e for e in entries if e.get("run_type") == "aggregate" and e.get("aggregate_name") == "median"]
    chosen = medians if medians else [e for e in entries if e.get("run_type", "iteration") == "iteration"]
    rows, skipped, seen = [], [], set()
    for e in chosen:
        if e.get("error_occurred"):
            skipped.append(e.get("name", "?") + " (error: " + e.get("error_message", "") + ")")
            continue
        name = base_name(e.get("run_name") or e["name"])
        parts = name.split("/")
        kind = None
        if re.match(r"^Effect\d+$", parts[0]) and len(parts) >= 3:
            kind = "Effect"
        elif parts[0] in ("Floor", "Peer") and len(parts) >= 3:
            kind = parts[0]
        if kind is None or not re.match(r"^\d+x\d+$", parts[2]) or "ns_per_pixel" not in e:
            skipped.append(name)
            continue
        if name in seen:
            skipped.append(name + " (measured twice; the first kept)")
            continue
        seen.add(name)
        ms = float(e["real_time"]) * UNIT_TO_MS.get(e.get("time_unit", "ns"), 1e-6)
        rows.append(Row(kind, name, parts, ms, float(e["ns_per_pixel"]) * 1e9))
    return rows, skipped


def fmt_ratio(value):
    return "–" if value is None else "%.2f" % value


def effect_table(rows, with_peer):
    floors = {(r.form, r.size): r for r in rows if r.kind == "Floor"}
    peers = {r.size: r for r in rows if r.kind == "Peer"}
    effects = [r for r in rows if r.kind == "Effect"]
    effects.sort(key=lambda r: (r.effect, size_key(r.size), r.params, form_order(r.form)))
    header = "| effect | form | size | param | ms/frame | ns/pixel | floor | ×floor |"
    rule = "|---|---|---|---|---:|---:|---|---:|"
    if with_peer:
        header += " ×libyuv |"
        rule += "---:|"
    lines = [header, rule]
    for r in effects:
        kind = floor_kind(r.effect, r.params)
        floor = floors.get((kind, r.size))
        ratio = r.ns / floor.ns if floor else None
        line = "| %d %s | %s | %s | %s | %.3f | %.3f | %s | %s |" % (
            r.effect, EFFECT_NAMES.get(r.effect, ""), r.form, r.size, "/".join(r.params) or "",
            r.ms, r.ns, kind if floor else "(none)", fmt_ratio(ratio))
        if with_peer:
            peer = peers.get(r.size)
            line += " %s |" % (fmt_ratio(r.ns / peer.ns) if (peer and r.effect == 1) else "")
        lines.append(line)
    others = sorted((r for r in rows if r.kind != "Effect"),
                    key=lambda r: (r.kind, r.form, size_key(r.size)))
    if others:
        stream = {r.size: r for r in rows if r.kind == "Floor" and r.form == "stream"}
        lines += ["", "| floor / peer | size | ms/frame | ns/pixel | ×stream |", "|---|---|---:|---:|---:|"]
        for r in others:
            s = stream.get(r.size)
            lines.append("| %s %s | %s | %.3f | %.3f | %s |" % (
                r.kind, r.form, r.size, r.ms, r.ns, fmt_ratio(r.ns / s.ns if s else None)))
    return lines


def form_order(form):
    order = ["scalar", "mmx", "sse", "sse2", "avx2", "avx512", "any"]
    return order.index(form) if form in order else len(order)


def targets(rows):
    """The native targets, each met or not, with the figures of this run."""
    floors = {(r.form, r.size): r for r in rows if r.kind == "Floor"}
    peers = {r.size: r for r in rows if r.kind == "Peer"}
    by_name = {(r.effect, r.form, r.size): r for r in rows if r.kind == "Effect" and not r.params}
    forms = {r.form for r in rows if r.kind == "Effect" and r.effect == 1}
    selected = next((f for f in WIDEST_FIRST if f in forms), None)
    lines = ["| target | size | figure | limit | met |", "|---|---|---:|---:|---|"]
    if selected is None:
        return lines + ["| (no crossfade measured) | | | | |"]
    for size, limit in CROSSFADE_LIMITS.items():
        stream = floors.get(("stream", size))
        if stream is None:
            continue
        for effect in (1, 40, 41):
            r = by_name.get((effect, selected, size))
            if r:
                ratio = r.ns / stream.ns
                lines.append("| effect %d (%s) ≤ %.2f× stream | %s | %.2f× | %.2f× | %s |" % (
                    effect, selected, limit, size, ratio, limit, "yes" if ratio <= limit else "**no**"))
        r, peer = by_name.get((1, selected, size)), peers.get(size)
        if r and peer:
            ratio = r.ns / peer.ns
            lines.append("| effect 1 (%s) not slower than libyuv | %s | %.2f× | 1.00× | %s |" % (
                selected, size, ratio, "yes" if ratio <= 1.0 else "**no**"))
        r = by_name.get((1, "scalar", size))
        if r:
            ratio = r.ns / stream.ns
            lines.append("| effect 1 (scalar) ≤ %.1f× stream | %s | %.2f× | %.2f× | %s |" % (
                SCALAR_LIMIT, size, ratio, SCALAR_LIMIT, "yes" if ratio <= SCALAR_LIMIT else "**no**"))
    lines += other_targets(rows, floors)
    return lines


# The other effects' targets: (effect, param, floor, limit), each for the
# widest form the run measured for that effect.
OTHER_LIMITS = [(6, "block1", "stream", 3.0), (6, "block19", "memset", 2.0), (6, "block97", "memset", 2.0),
                (31, "peak", "stream", 4.0), (34, "progress0", "copy_depth_clear", 6.0)]


def other_targets(rows, floors):
    effects = [r for r in rows if r.kind == "Effect"]
    lines = []
    for size in sorted({r.size for r in effects}, key=size_key):
        for effect, param, kind, limit in OTHER_LIMITS:
            floor = floors.get((kind, size))
            candidates = {r.form: r for r in effects
                          if r.effect == effect and r.size == size and r.params == [param]}
            form = next((f for f in WIDEST_FIRST + ["any"] if f in candidates), None)
            if floor is None or form is None:
                continue
            ratio = candidates[form].ns / floor.ns
            lines.append("| effect %d (%s, %s) ≤ %.1f× %s | %s | %.2f× | %.2f× | %s |" % (
                effect, form, param, limit, kind, size, ratio, limit, "yes" if ratio <= limit else "**no**"))
        # The shatter's worst frame among those measured in its widest form, for the record.
        floor = floors.get(("copy_depth_clear", size))
        frames = {}
        for r in effects:
            if r.effect == 34 and r.size == size:
                frames.setdefault(r.form, []).append(r)
        form = next((f for f in WIDEST_FIRST + ["any"] if f in frames), None)
        if floor and form:
            worst = max(frames[form], key=lambda r: r.ns)
            lines.append("| effect 34 (%s) worst measured frame: %s | %s | %.2f× | – | – |" % (
                form, "/".join(worst.params), size, worst.ns / floor.ns))
    return lines


def this_machine():
    """What the run's context lacks: the processor's name and the system."""
    model = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return {"cpu_model": model, "logical_cores": os.cpu_count(),
            "system": "%s %s" % (platform.system(), platform.release())}


def machine(context):
    caches = ", ".join("L%d %s %d KiB%s" % (c["level"], c["type"].lower(), c["size"] // 1024,
                                            " (shared by %d)" % c["num_sharing"] if c.get("num_sharing", 0) > 1 else "")
                       for c in context.get("caches", []))
    mhz = context.get("mhz_per_cpu")
    text = "%s, %s logical cores%s, %s" % (context.get("cpu_model", "unknown processor"),
                                           context.get("logical_cores", context.get("num_cpus", "?")),
                                           (" at %d MHz" % mhz) if mhz else "", context.get("system", "?"))
    if caches:
        text += "; caches: " + caches
    return text


def run_native(args):
    exe = os.path.join(args.build_dir, "bin", "veilshift_bench")
    if not os.path.exists(exe):
        sys.exit("no %s: build the native preset first (cmake --preset native && cmake --build --preset native)" % exe)
    out = tempfile.NamedTemporaryFile(suffix=".json", delete=False).name
    cmd = [exe, "--benchmark_out=" + out, "--benchmark_out_format=json",
           "--benchmark_repetitions=%d" % args.repetitions, "--benchmark_report_aggregates_only=true",
           "--benchmark_enable_random_interleaving=true", "--benchmark_min_time=%g" % args.min_time]
    if args.filter:
        cmd.append("--benchmark_filter=" + args.filter)
    print("running: " + " ".join(cmd), file=sys.stderr)
    subprocess.run(cmd, check=True, stdout=sys.stderr)
    with open(out) as f:
        data = json.load(f)
    os.unlink(out)
    data.setdefault("context", {}).update(this_machine())
    return data


def run_win32(args):
    exe = os.path.join(args.win32_build_dir, "bin", "veilshift_win32_bench.exe")
    if not os.path.exists(exe):
        sys.exit("no %s: build the win32 preset first" % exe)
    cmd = [os.path.join(ROOT, "cmake", "wine-run.sh"), exe, "--format=json",
           "--repetitions=%d" % args.repetitions, "--min-time=%g" % args.min_time]
    if args.filter:
        cmd.append("--filter=" + args.filter)
    print("running: " + " ".join(cmd), file=sys.stderr)
    text = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True).stdout
    data = json.loads(text[text.index("{"):])  # Wine may print before the program does
    data.setdefault("context", {}).update(this_machine())
    return data


def load(path):
    with open(path) as f:
        return json.load(f)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--json", help="a saved native run (veilshift_bench --benchmark_format=json) instead of running")
    p.add_argument("--build-dir", default=os.path.join(ROOT, "build", "native"))
    p.add_argument("--win32", action="store_true", help="also run the 32-bit DLL's timing program under Wine")
    p.add_argument("--win32-json", help="a saved run of veilshift_win32_bench.exe --format=json")
    p.add_argument("--win32-build-dir", default=os.path.join(ROOT, "build", "win32"))
    p.add_argument("--no-native", action="store_true", help="only the 32-bit DLL")
    p.add_argument("--repetitions", type=int, default=5)
    p.add_argument("--min-time", type=float, default=0.2, help="seconds per repetition")
    p.add_argument("--filter", help="a regular expression over the benchmark names")
    p.add_argument("--save-dir", help="write the raw JSON of the runs here")
    args = p.parse_args()

    measuring = not args.no_native and not args.json or args.win32 and not args.win32_json
    load_avg = "%.2f %.2f %.2f" % os.getloadavg() if measuring and hasattr(os, "getloadavg") else None
    runs = []
    if not args.no_native:
        runs.append(("native (x86-64, libVeilshift.so)", load(args.json) if args.json else run_native(args), True))
    if args.win32_json:
        runs.append(("32-bit DLL under Wine (i686, Veilshift.dll)", load(args.win32_json), False))
    elif args.win32:
        runs.append(("32-bit DLL under Wine (i686, Veilshift.dll)", run_win32(args), False))
    if args.save_dir:
        os.makedirs(args.save_dir, exist_ok=True)
        for i, (_, data, native) in enumerate(runs):
            with open(os.path.join(args.save_dir, "native.json" if native else "win32.json"), "w") as f:
                json.dump(data, f, indent=1)

    out = []
    for title, data, native in runs:
        rows, skipped = parse_run(data)
        out += ["### " + title, ""]
        out += effect_table(rows, with_peer=native)
        if native:
            out += ["", "Targets (ratios within this run):", ""] + targets(rows)
        if skipped:
            shown = sorted(skipped)[:6]
            out += ["", "Not in the table (%d names outside the conventions, or failed), e.g. %s." % (
                len(skipped), ", ".join("`%s`" % s for s in shown))]
        out.append("")
    context = runs[0][1].get("context", {}) if runs else {}
    text = "Machine: %s. Measured %s" % (machine(context), context.get("date", "(date unknown)"))
    if load_avg:
        text += " (load average at start %s); medians of %d repetitions of at least %g s each, in random order" % (
            load_avg, args.repetitions, args.min_time)
    out.append(text + ".")
    print("\n".join(out))


if __name__ == "__main__":
    main()
