#!/usr/bin/env python3
"""Runs the benchmarks (or reads runs saved as JSON) and writes
docs/performance.md: the targets met or not (native and DLL, each against
floors measured in the same process), the DLL beside the native build, every
form's figures, and the machine.

  scripts/bench-report.py --win32 --save-dir out/bench     # both builds; what docs/performance.md publishes
  scripts/bench-report.py                                  # build/native's veilshift_bench only
  scripts/bench-report.py --json native.json --win32-json win32.json   # saved runs, nothing measured
  scripts/bench-report.py --out -                          # print instead of writing docs/performance.md

Names: Effect<N>/<form>/<W>x<H>[/<param>], Floor/<kind>/<W>x<H>,
Peer/<name>/<W>x<H>, Local/<what>/.../<W>x<H>[/<param>]. A form is the one
that runs, by the module's own rules: exact-scalar, exact-sse2, exact-avx2,
grouped-mmx, grouped-sse, grouped-sse2, grouped-avx2 for the crossfade
(effects 1, 40, 41), scalar, sse2, avx2 for the others, and avx2-loads for
the ripple's AVX2 passes without gathers. The ns_per_pixel counter holds
seconds per pixel (an inverted rate), as in Google Benchmark's JSON. The runs'
context names the processor (vendor, family, model, stepping, as the module
decodes CPUID) and, natively, the form the module chooses for each kernel
(chosen_form:Effect<N>); the report checks that form against the fastest of
the same arithmetic in the run, and draws one SVG chart per frame size beside
the Markdown file.
"""

import argparse
import json
import math
import os
import platform
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_OUT = os.path.join(ROOT, "docs", "performance.md")
COMMAND = "python3 scripts/bench-report.py --win32 --save-dir out/bench"

SIZES = ["640x480", "1920x1080", "3840x2160"]

# Targets, for the form the module chooses on the processor of the run. The
# crossfade's grouped form against the streaming pass (the axis effects' blend
# within 1.15x at every size); its exact arithmetic in scalar code within 2x.
CROSSFADE_LIMITS = {"640x480": 1.15, "1920x1080": 1.15, "3840x2160": 1.2}
AXIS_LIMIT = 1.15
EXACT_SCALAR_LIMIT = 2.0
# (effect, param, floor, limit or {size: limit}).
# The ripple's peak and the shatter's first frames leave a game three quarters of
# its frame at 1080p: 6x at 640x480, 4x from 1920x1080 on. The shatter's frame 0
# is source A copied, so its first frame drawn by the renderer (progress1) is
# held to the same limit.
FIRST_FRAMES_LIMIT = {"640x480": 6.0, "1920x1080": 4.0, "3840x2160": 4.0}
OTHER_LIMITS = [(6, "block1", "stream", 3.0), (6, "block19", "memset", 2.0), (6, "block97", "memset", 2.0),
                (31, "progress50", "stream", FIRST_FRAMES_LIMIT),
                (34, "progress0", "copy_depth_clear", FIRST_FRAMES_LIMIT),
                (34, "progress1", "copy_depth_clear", FIRST_FRAMES_LIMIT)]
RIPPLE_SCALAR_LIMIT = 8.0   # the ripple's scalar form at its peak, against the streaming pass
# The shatter's worst frame of the transition, against copy_depth_clear.
SHATTER_WORST_LIMIT = {"640x480": 8.0, "1920x1080": 6.0, "3840x2160": 6.0}
# The form the module chooses, against the fastest form of the same arithmetic in the same run.
CHOSEN_LIMIT = 1.05
# The DLL's frame time over the native build's, same form and frame.
DLL_LIMIT, DLL_LIMIT_SHATTER = 1.25, 1.5

SETS = ["scalar", "mmx", "sse", "sse2", "avx2"]
UNIT_TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def form_order(form):
    """Exact before grouped, narrow before wide (a form without gathers after its set's); peers last."""
    variant = form.endswith("-loads")
    base = form[:-len("-loads")] if variant else form
    arithmetic, _, iset = base.rpartition("-")
    return (["", "exact", "grouped"].index(arithmetic) if arithmetic in ("", "exact", "grouped") else 3,
            SETS.index(iset) if iset in SETS else len(SETS), variant, form)


def arithmetic_of(form):
    """The forms of one arithmetic give the same bytes: the crossfade's exact and grouped ones apart,
    every form of the other kernels together."""
    return form.split("-")[0] if form.startswith(("exact-", "grouped-")) else ""


def param_order(param):
    m = re.match(r"^(progress|block)(\d+)$", param)
    return (0, m.group(1), int(m.group(2))) if m else (1, param, 0)


def size_key(size):
    w, h = size.split("x")
    return int(w) * int(h)


def floor_kind(effect, param):
    if effect == 6:
        return "stream" if param == "block1" else "memset"
    if effect == 34:
        return "copy_depth_clear"
    return "stream"


class Row:
    def __init__(self, kind, name, parts, ms, ns_per_pixel):
        self.kind = kind  # "Effect", "Floor", "Peer" or "Local"
        self.name = name
        self.ms = ms
        self.ns = ns_per_pixel
        self.effect = int(parts[0][len("Effect"):]) if kind == "Effect" else None
        size_at = next(i for i, p in enumerate(parts) if re.match(r"^\d+x\d+$", p))
        self.form = "/".join(parts[1:size_at])
        self.size = parts[size_at]
        self.param = "/".join(parts[size_at + 1:])


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
        has_size = any(re.match(r"^\d+x\d+$", p) for p in parts[1:])
        if re.match(r"^Effect\d+$", parts[0]) and len(parts) >= 3 and has_size:
            kind = "Effect"
        elif parts[0] in ("Floor", "Peer", "Local") and len(parts) >= 3 and has_size:
            kind = parts[0]
        if kind is None or "ns_per_pixel" not in e:
            skipped.append(name)
            continue
        if name in seen:
            skipped.append(name + " (measured twice; the first kept)")
            continue
        seen.add(name)
        ms = float(e["real_time"]) * UNIT_TO_MS.get(e.get("time_unit", "ns"), 1e-6)
        rows.append(Row(kind, name, parts, ms, float(e["ns_per_pixel"]) * 1e9))
    return rows, skipped


class Run:
    """One build's rows, indexed."""

    def __init__(self, title, data, native):
        self.title = title
        self.data = data
        self.native = native
        self.rows, self.skipped = parse_run(data)
        self.effects = [r for r in self.rows if r.kind == "Effect"]
        self.floors = {(r.form, r.size): r for r in self.rows if r.kind == "Floor"}
        self.peers = {r.size: r for r in self.rows if r.kind == "Peer"}
        self.by_key = {(r.effect, r.form, r.size, r.param): r for r in self.effects}

    def crossfade_effects(self):
        """The effects the benchmarks name with the crossfade's arithmetic ("exact-", "grouped-"):
        the module's catalog says which, through the benchmarks' form names."""
        return sorted({r.effect for r in self.effects if r.form.startswith(("exact-", "grouped-"))})

    def forms(self, effect, size=None, param=None):
        return sorted({r.form for r in self.effects if r.effect == effect
                       and (size is None or r.size == size) and (param is None or r.param == param)},
                      key=form_order)

    def widest(self, effect, arithmetic=None, size=None, param=None):
        """The widest form measured for the effect (of one crossfade arithmetic)."""
        forms = [f for f in self.forms(effect, size, param)
                 if arithmetic is None or f.startswith(arithmetic + "-")]
        return forms[-1] if forms else None

    def chosen(self, effect, arithmetic=None, size=None, param=None):
        """The form the module chooses on this run's processor (of one crossfade arithmetic): as the run's
        context names it; the DLL's run measures only the forms its module chooses, the widest of them."""
        named = self.data.get("context", {}).get("chosen_form:Effect%d" % effect, "").split()
        named = [f for f in named if arithmetic is None or f.startswith(arithmetic + "-")]
        measured = self.forms(effect, size, param)
        if named and named[0] in measured:
            return named[0]
        return self.widest(effect, arithmetic, size, param)

    def effect_name(self, effect):
        """The effect's name as the benchmarks publish it from the module's catalog; "" when the run has none."""
        return self.data.get("context", {}).get("effect_name:Effect%d" % effect, "")

    def get_any(self, size):
        return any(r.size == size for r in self.effects)

    def processor(self):
        ctx = self.data.get("context", {})
        return ctx.get("processor", "processor not recorded")

    def get(self, effect, form, size, param=""):
        return self.by_key.get((effect, form, size, param)) if form else None

    def floor(self, kind, size):
        return self.floors.get((kind, size))


def fmt_ratio(value):
    return "–" if value is None else "%.2f×" % value


def within(value, limit):
    """A figure meets its limit as printed (two decimals, as fmt_ratio shows it): a ratio of 1.004 meets
    1.00×, so that no row reads "1.00× … no"; the limits are set in hundredths anyway."""
    return round(value, 2) <= limit


def met(value, limit):
    if value is None:
        return "–"
    return "yes" if within(value, limit) else "**no**"


def ratio(row, base):
    return row.ns / base.ns if row and base and base.ns > 0 else None


# --- targets -----------------------------------------------------------------

class Target:
    def __init__(self, text, size, limit, note=""):
        self.text, self.size, self.limit, self.note = text, size, limit, note
        self.cells = {}  # run title -> (figure, form, which)


def worst_frame(run, effect, form, size):
    """The slowest frame of the transition (progressN); progress50_direct, the ripple's direct walk timed for
    comparison, is no frame the module draws there."""
    frames = [r for r in run.effects if r.effect == effect and r.form == form and r.size == size
              and re.fullmatch(r"progress\d+", r.param)]
    return max(frames, key=lambda r: r.ns) if frames else None


def worst_frame_target(runs, t, effect, floor):
    """Fills target `t` with each run's worst frame of `effect` in its chosen form, against `floor`."""
    for run in runs:
        form = run.chosen(effect, None, t.size)
        worst = worst_frame(run, effect, form, t.size)
        t.cells[run.title] = (ratio(worst, run.floor(floor, t.size)), form, worst.param if worst else "")
    return t


def effect_name(runs, effect):
    """The effect's name as the first run that publishes one has it."""
    return next((run.effect_name(effect) for run in runs if run.effect_name(effect)), "")


def labelled(runs, effect):
    """"31 ripple crossfade": the number, then the name when the runs publish one."""
    name = effect_name(runs, effect)
    return "%d %s" % (effect, name) if name else "%d" % effect


def targets(runs):
    """Every target, with each run's figure (ratio, form, which frame) in its cells; each target at
    every size in turn."""
    out = []
    for size in SIZES:
        first = len(out)
        limit = CROSSFADE_LIMITS[size]
        for effect in sorted({e for run in runs for e in run.crossfade_effects()}):
            lim = limit if effect == 1 else AXIS_LIMIT
            t = Target("effect %d, grouped form ≤ %.2f× stream" % (effect, lim), size, lim)
            for run in runs:
                if not run.native and effect != 1:
                    continue  # the DLL's axis frames include the host's copy: see the note
                form = run.chosen(effect, "grouped", size, "")
                t.cells[run.title] = (ratio(run.get(effect, form, size), run.floor("stream", size)), form, "")
            out.append(t)
        t = Target("effect 1, grouped form not slower than libyuv", size, 1.0)
        for run in runs:
            form = run.chosen(1, "grouped", size, "")
            t.cells[run.title] = (ratio(run.get(1, form, size), run.peers.get(size)), form, "")
        out.append(t)
        t = Target("effect 1, exact-scalar ≤ %.1f× stream" % EXACT_SCALAR_LIMIT, size, EXACT_SCALAR_LIMIT)
        for run in runs:
            t.cells[run.title] = (ratio(run.get(1, "exact-scalar", size), run.floor("stream", size)),
                                  "exact-scalar", "")
        out.append(t)
        for effect, param, kind, lim in OTHER_LIMITS:
            lim = lim[size] if isinstance(lim, dict) else lim
            t = Target("effect %s, %s ≤ %.1f× %s" % (labelled(runs, effect), param, lim, kind), size, lim)
            for run in runs:
                form = run.chosen(effect, None, size, param)
                t.cells[run.title] = (ratio(run.get(effect, form, size, param), run.floor(kind, size)), form, "")
            out.append(t)
            if effect == 31:
                t = Target("effect %s, progress50, scalar form ≤ %.1f× stream" % (
                    labelled(runs, 31), RIPPLE_SCALAR_LIMIT), size, RIPPLE_SCALAR_LIMIT)
                for run in runs:
                    t.cells[run.title] = (ratio(run.get(31, "scalar", size, "progress50"),
                                                run.floor("stream", size)), "scalar", "")
                out.append(t)
                out.append(worst_frame_target(runs, Target("effect %s, worst frame of the transition "
                                                           "(× stream)" % labelled(runs, 31), size, None),
                                              31, "stream"))
        worst = SHATTER_WORST_LIMIT[size]
        out.append(worst_frame_target(runs, Target("effect %s, worst frame of the transition ≤ %.1f× "
                                                   "copy_depth_clear" % (labelled(runs, 34), worst),
                                                   size, worst), 34, "copy_depth_clear"))
        for i, t in enumerate(out[first:]):
            t.order = i
    # Sizes a run did not measure (a filtered run) leave nothing to show.
    out = [t for t in out if any(cell[0] is not None for cell in t.cells.values())]
    return sorted(out, key=lambda t: (t.order, size_key(t.size)))


def targets_table(runs):
    ts = targets(runs)
    header = "| target | size | limit |"
    rule = "|---|---|---:|"
    for run in runs:
        header += " %s: form | figure | met |" % run.short
        rule += "---|---:|---|"
    lines = [header, rule]
    tally = {run.title: [0, 0] for run in runs}
    for t in ts:
        line = "| %s | %s | %s |" % (t.text, t.size, "–" if t.limit is None else "%.2f×" % t.limit)
        for run in runs:
            figure, form, which = t.cells.get(run.title, (None, None, ""))
            shown_form = form or "–"
            if which:
                shown_form += ", " + which
            if figure is None:  # not measured in this build (see the notes)
                line += " – | – | – |"
                continue
            ok = "–" if t.limit is None else met(figure, t.limit)
            if t.limit is not None:
                tally[run.title][0 if within(figure, t.limit) else 1] += 1
            line += " %s | %s | %s |" % (shown_form, fmt_ratio(figure), ok)
        lines.append(line)
    summary = "; ".join("%s: %d met, %d not met" % (run.short, tally[run.title][0], tally[run.title][1])
                        for run in runs)
    return lines, summary


# --- DLL beside native ---------------------------------------------------------

def beside_table(native, dll):
    lines = ["| effect | form | param | size | DLL ns/pixel | native ns/pixel | DLL / native | limit | met "
             "| each over its floor |",
             "|---|---|---|---|---:|---:|---:|---:|---|---:|"]
    counts = [0, 0]
    rows = sorted(dll.effects, key=lambda r: (r.effect, form_order(r.form), param_order(r.param), size_key(r.size)))
    for r in rows:
        n = native.by_key.get((r.effect, r.form, r.size, r.param))
        limit = DLL_LIMIT_SHATTER if r.effect == 34 else DLL_LIMIT
        value = ratio(r, n)
        if value is not None:
            counts[0 if within(value, limit) else 1] += 1
        kind = floor_kind(r.effect, r.param)
        over_floors = None
        if value is not None and dll.floor(kind, r.size) and native.floor(kind, r.size):
            over_floors = value / ratio(dll.floor(kind, r.size), native.floor(kind, r.size))
        lines.append("| %s | %s | %s | %s | %.3f | %s | %s | %.2f× | %s | %s |" % (
            labelled([dll, native], r.effect), r.form, r.param or "", r.size, r.ns,
            "%.3f" % n.ns if n else "(not measured)", fmt_ratio(value), limit, met(value, limit),
            fmt_ratio(over_floors)))
    for r in sorted((r for r in dll.rows if r.kind == "Floor"), key=lambda r: (r.form, size_key(r.size))):
        n = native.floors.get((r.form, r.size))
        lines.append("| floor | %s | | %s | %.3f | %s | %s | – | – | |" % (
            r.form, r.size, r.ns, "%.3f" % n.ns if n else "(not measured)", fmt_ratio(ratio(r, n))))
    return lines, counts


# --- the chosen forms against the fastest ----------------------------------------

def chosen_check(run):
    """For every kernel, frame and size the run measured in several forms of one arithmetic: the form the
    module chooses against the fastest of them. Returns (rows, within, not_within), each row
    (effect, param, size, chosen, chosen row, fastest form, fastest row)."""
    rows, counts = [], [0, 0]
    groups = {}
    for r in run.effects:
        groups.setdefault((r.effect, r.param, r.size, arithmetic_of(r.form)), []).append(r)
    for (effect, param, size, arithmetic), members in sorted(
            groups.items(), key=lambda g: (g[0][0], param_order(g[0][1]), size_key(g[0][2]), g[0][3])):
        if len(members) < 2:
            continue
        chosen = run.chosen(effect, arithmetic or None, size, param)
        mine = next((r for r in members if r.form == chosen), None)
        if mine is None:
            continue
        fastest = min(members, key=lambda r: r.ns)
        within = mine.ns <= CHOSEN_LIMIT * fastest.ns
        counts[0 if within else 1] += 1
        rows.append((effect, param, size, chosen, mine, fastest, within))
    return rows, counts[0], counts[1]


def chosen_lines(run):
    rows, within, outside = chosen_check(run)
    if not rows:
        return []
    out = ["For every kernel, frame and size measured in more than one form of the same arithmetic (the "
           "crossfade's exact and grouped ones apart), the form the module chooses on this processor (%s) "
           "against the fastest of them, in the same run: within %.0f%% in %d cases, not in %d%s" % (
               run.processor(), (CHOSEN_LIMIT - 1) * 100, within, outside,
               ", listed below." if outside else "."), ""]
    if outside:
        out += ["| effect | param | size | chosen form | ns/pixel | fastest form | ns/pixel | chosen / fastest |",
                "|---|---|---|---|---:|---|---:|---:|"]
        for effect, param, size, chosen, mine, fastest, within in rows:
            if not within:
                out.append("| %s | %s | %s | %s | %.3f | %s | %.3f | %s |" % (
                    labelled([run], effect), param, size, chosen, mine.ns, fastest.form, fastest.ns,
                    fmt_ratio(mine.ns / fastest.ns)))
        out.append("")
    return out


# --- charts --------------------------------------------------------------------------

def chart_entries(run, size):
    """(label, effect row, floor row) for the chart: every target's frame in the chosen form."""
    entries = []
    for effect in sorted({r.effect for r in run.effects}):
        if effect in (1, 40, 41):
            for param in ("", "draw"):
                form = run.chosen(effect, "grouped", size, param)
                r = run.get(effect, form, size, param)
                if r:
                    entries.append(("%s%s" % (labelled([run], effect), " (draw)" if param else ""),
                                    r, run.floor("stream", size)))
        elif effect == 6:
            for param in ("block1", "block19", "block97"):
                r = run.get(6, run.chosen(6, None, size, param), size, param)
                if r:
                    entries.append(("%s %s" % (labelled([run], 6), param), r, run.floor(floor_kind(6, param), size)))
        elif effect in (31, 34):
            form = run.chosen(effect, None, size, "progress0")
            kind = floor_kind(effect, "")
            first = run.get(effect, form, size, "progress1" if effect == 34 else "progress50")
            if first:
                entries.append(("%s %s" % (labelled([run], effect), first.param), first, run.floor(kind, size)))
            worst = worst_frame(run, effect, form, size)
            if worst and (not first or worst.param != first.param):
                entries.append(("%s worst (%s)" % (labelled([run], effect), worst.param), worst,
                                run.floor(kind, size)))
    return entries


def svg_chart(runs, size):
    """One frame size: each effect's time (ns/pixel) beside its floor, the DLL beside the native build;
    None when no run measured the size."""
    labels, bars = [], {}
    for run in runs:
        for label, r, floor in chart_entries(run, size):
            if label not in labels:
                labels.append(label)
            bars[(label, run.short)] = (r, floor)
    if not labels:
        return None
    shorts = [run.short for run in runs]
    colours = {"native": ("#1f5fa8", "#a9c4e6"), "DLL": ("#c0561b", "#f0bf9e")}
    # A logarithmic scale: the floors and the slowest frames lie two orders of magnitude apart.
    values = [row.ns for pair in bars.values() for row in pair if row is not None and row.ns > 0]
    lo, hi = math.floor(math.log10(min(values))), math.ceil(math.log10(max(values)))
    hi = max(hi, lo + 1)
    left, width, bar, gap = 210, 520, 9, 10

    def x_of(value):
        return left + width * (math.log10(max(value, 10.0 ** lo)) - lo) / (hi - lo)
    group = len(shorts) * 2 * bar + gap
    height = 70 + group * len(labels) + 40
    esc = lambda t: t.replace("&", "&amp;").replace("<", "&lt;")
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" '
           'font-size="11">' % (left + width + 90, height),
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="10" y="20" font-size="14" font-weight="bold">%s: ns per pixel (logarithmic), each effect '
           'beside its floor (%s)</text>' % (size, esc(runs[0].processor()))]
    legend_x = 10
    for short in shorts:
        for i, what in enumerate(("effect", "floor")):
            out.append('<rect x="%d" y="32" width="12" height="10" fill="%s"/>' % (legend_x, colours[short][i]))
            out.append('<text x="%d" y="41">%s %s</text>' % (legend_x + 16, short, what))
            legend_x += 110
    for power in range(lo, hi + 1):
        x = x_of(10.0 ** power)
        out.append('<line x1="%.1f" y1="55" x2="%.1f" y2="%d" stroke="#ddd"/>' % (x, x, height - 30))
        out.append('<text x="%.1f" y="%d" text-anchor="middle">%g</text>' % (x, height - 16, 10.0 ** power))
    y = 60
    for label in labels:
        out.append('<text x="%d" y="%d" text-anchor="end">%s</text>' % (left - 6, y + group / 2, esc(label)))
        for short in shorts:
            r, floor = bars.get((label, short), (None, None))
            for i, row in enumerate((r, floor)):
                if row is not None:
                    w = x_of(row.ns) - left
                    out.append('<rect x="%d" y="%d" width="%.1f" height="%d" fill="%s"><title>%s %s: %.3f ns/pixel'
                               '</title></rect>' % (left, y, w, bar - 1, colours[short][i], short,
                                                   esc(row.name), row.ns))
                    out.append('<text x="%.1f" y="%d" font-size="9">%.3f</text>' % (left + w + 3, y + bar - 2, row.ns))
                y += bar
        y += gap
    out.append("</svg>")
    return "\n".join(out) + "\n"


# --- per-form tables -------------------------------------------------------------

def effect_tables(run):
    """One table per effect: a row per form and frame, a column per size, ns/pixel (× floor)."""
    out = []
    for effect in sorted({r.effect for r in run.effects}):
        rows = [r for r in run.effects if r.effect == effect]
        keys = sorted({(r.form, r.param) for r in rows}, key=lambda k: (form_order(k[0]), param_order(k[1])))
        sizes = sorted({r.size for r in rows}, key=size_key)
        kinds = sorted({floor_kind(effect, p) for _, p in keys})
        against = "× stream for block1, × memset for the larger blocks" if len(kinds) > 1 else "× " + kinds[0]
        out += ["#### Effect %s, %s" % (labelled([run], effect), against), ""]
        out.append("| form | param | " + " | ".join(sizes) + " |")
        out.append("|---|---|" + "---:|" * len(sizes))
        for form, param in keys:
            cells = []
            for size in sizes:
                r = run.by_key.get((effect, form, size, param))
                if r is None:
                    cells.append("")
                    continue
                fl = run.floor(floor_kind(effect, param), size)
                cells.append("%.3f (%s)" % (r.ns, fmt_ratio(ratio(r, fl))))
            out.append("| %s | %s | %s |" % (form, param, " | ".join(cells)))
        if effect == 1 and run.peers:
            cells = []
            for size in sizes:
                p = run.peers.get(size)
                cells.append("%.3f (%s)" % (p.ns, fmt_ratio(ratio(p, run.floor("stream", size)))) if p else "")
            out.append("| libyuv InterpolatePlane | | %s |" % " | ".join(cells))
        out.append("")
    others = sorted((r for r in run.rows if r.kind in ("Floor", "Peer", "Local")),
                    key=lambda r: (["Floor", "Peer", "Local"].index(r.kind), r.form, r.param, size_key(r.size)))
    if others:
        out += ["#### Floors and other measurements", "",
                "| name | size | ms/frame | ns/pixel | × stream | × copy_depth_clear |",
                "|---|---|---:|---:|---:|---:|"]
        for r in others:
            label = "%s %s%s" % (r.kind, r.form, (" " + r.param) if r.param else "")
            out.append("| %s | %s | %.3f | %.3f | %s | %s |" % (
                label, r.size, r.ms, r.ns, fmt_ratio(ratio(r, run.floor("stream", r.size))),
                fmt_ratio(ratio(r, run.floor("copy_depth_clear", r.size)))))
        out.append("")
    if run.skipped:
        shown = sorted(run.skipped)[:6]
        out += ["Not in the tables (%d names outside the conventions, or failed), e.g. %s." % (
            len(run.skipped), ", ".join("`%s`" % s for s in shown)), ""]
    return out


# --- machine -----------------------------------------------------------------------

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
    """The system as the run's context describes it (Google Benchmark's caches: the kernel's view)."""
    caches = ", ".join("L%d %s %d KiB%s" % (c["level"], c["type"].lower(), c["size"] // 1024,
                                            " (shared by %d)" % c["num_sharing"] if c.get("num_sharing", 0) > 1 else "")
                       for c in context.get("caches", []))
    mhz = context.get("mhz_per_cpu")
    text = "%s logical cores%s, %s" % (context.get("logical_cores", context.get("num_cpus", "?")),
                                       (" at %d MHz" % mhz) if mhz else "", context.get("system", "?"))
    if caches:
        text += "; caches: " + caches
    return text


# --- running -------------------------------------------------------------------------

def run_native(args):
    exe = os.path.join(args.build_dir, "bin", "veilshift_bench")
    if not os.path.exists(exe):
        sys.exit("no %s: build the native preset first (cmake --preset native && cmake --build --preset native -j2)"
                 % exe)
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
        sys.exit("no %s: build the win32 preset first (cmake --preset win32 && cmake --build --preset win32 -j2)"
                 % exe)
    cmd = [os.path.join(ROOT, "cmake", "wine-run.sh"), exe, "--format=json",
           "--repetitions=%d" % args.repetitions, "--min-time=%g" % args.min_time]
    if args.filter:
        cmd.append("--filter=" + args.filter)
    print("running: " + " ".join(cmd), file=sys.stderr)
    text = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True).stdout
    data = json.loads(text[text.index("{"):text.rindex("}") + 1])  # Wine may print around the program
    data.setdefault("context", {}).update(this_machine())
    return data


def measured(run, args, name):
    """A run, with how it was made in its context; saved at once as `name` under --save-dir, so that a
    later failure loses nothing measured."""
    load_avg = "%.2f %.2f %.2f" % os.getloadavg() if hasattr(os, "getloadavg") else "?"
    data = run(args)
    data.setdefault("context", {}).update({"report_repetitions": args.repetitions, "report_min_time": args.min_time,
                                           "report_load_average": load_avg})
    if args.save_dir:
        os.makedirs(args.save_dir, exist_ok=True)
        with open(os.path.join(args.save_dir, name), "w") as f:
            json.dump(data, f, indent=1)
    return data


def load(path):
    with open(path) as f:
        return json.load(f)


# --- the document ------------------------------------------------------------------

# Prose a person writes and keeps: the document's sections between
# <!-- hand-kept: NAME --> and <!-- /hand-kept: NAME -->, each read from the
# file being rewritten and put back where it stood. A section missing from the
# file is written as an empty frame to fill in, with a warning.
HAND_KEPT = ["intro", "bounds", "designs"]


def hand_kept_sections(path):
    """NAME -> the section's text, marks included, for every hand-kept section of the file at `path`."""
    old = ""
    if path and path != "-" and os.path.exists(path):
        with open(path) as f:
            old = f.read()
    sections = {}
    for name in HAND_KEPT:
        start_mark, end_mark = "<!-- hand-kept: %s -->" % name, "<!-- /hand-kept: %s -->" % name
        start, end = old.find(start_mark), old.find(end_mark)
        if start < 0 or end < start:
            print("warning: no hand-kept section '%s' in %s: an empty one is written" % (name, path),
                  file=sys.stderr)
            sections[name] = "%s\n(write this section by hand)\n%s\n" % (start_mark, end_mark)
        else:
            sections[name] = old[start:end + len(end_mark)] + "\n"
    return sections


# --- the frame budget -----------------------------------------------------------------

# What a game can give a transition: a quarter of a 60 Hz frame at 1920x1080, a whole one at 3840x2160.
BUDGET_MS = {"1920x1080": 4.0, "3840x2160": 16.7}


def budget_lines(run, runs):
    """Each effect's slowest frame the run measured in a form its module chooses (the forms the run names as
    chosen; the DLL's run measures no other), any frame (the ripple's direct walk, timed for comparison, left
    out), in milliseconds, against the budget."""
    effects = sorted({r.effect for r in run.effects})
    header = "| effect |" + "".join(" %s worst frame | within %.1f ms |" % (size, BUDGET_MS[size])
                                    for size in BUDGET_MS)
    lines = [header, "|---|" + "---:|---|" * len(BUDGET_MS)]
    for effect in effects:
        line = "| %s |" % labelled(runs, effect)
        for size in BUDGET_MS:
            chosen = run.data.get("context", {}).get("chosen_form:Effect%d" % effect, "").split()
            frames = [r for r in run.effects if r.effect == effect and r.size == size
                      and not r.param.endswith("_direct") and (not chosen or r.form in chosen)]
            if not frames:
                line += " – | – |"
                continue
            worst = max(frames, key=lambda r: r.ms)
            line += " %.2f ms (%s%s) | %s |" % (worst.ms, worst.form, ", " + worst.param if worst.param else "",
                                                 "yes" if worst.ms <= BUDGET_MS[size] else "**no**")
        lines.append(line)
    return lines


def chart_name(out_path, size):
    return "%s-%s.svg" % (os.path.splitext(os.path.basename(out_path))[0], size)


def document(runs, out_path, kept):
    native = next((r for r in runs if r.native), None)
    dll = next((r for r in runs if not r.native), None)
    out = [kept["intro"]]

    out += ["## Targets", ""]
    lines, summary = targets_table(runs)
    processors = "; ".join("%s: %s" % (run.short, run.processor()) for run in runs)
    out += ["Measured on %s. Each effect in the form the module chooses on that processor (named in the "
            "table), against the floor measured in the same process: the native build against native floors, "
            "the DLL against floors measured in the same Wine process. %s." % (processors, summary), ""]
    out += lines
    notes = []
    if dll:
        notes.append("The DLL's effects 40 and 41 can only be timed as whole Draws, which include the host's "
                     "`CopyAxisX` / `CopyAxisY`; their blend targets are the native build's, and the whole "
                     "frames are compared in the next table.")
        notes.append("The DLL runs the form of each arithmetic its module chooses (the start-up values choose "
                     "the arithmetic, the processor the code), so it has no `exact-scalar` or scalar ripple "
                     "figure on a processor with SSE2; it has no libyuv peer.")
    if notes:
        out += [""] + ["- " + n for n in notes]
    out.append("")
    sizes = [size for size in SIZES if any(run.get_any(size) for run in runs)]
    if out_path:
        out += ["The same figures drawn, one chart per frame size (ns per pixel; each effect in its chosen form "
                "beside its floor, the DLL beside the native build):", ""]
        out += ["![%s](%s)" % (size, chart_name(out_path, size)) for size in sizes] + [""]
    budget_run = dll or native
    out += ["## Frame budget", "",
            "The slowest frame of each effect in the %s on %s, in milliseconds, against what a game can give a "
            "transition: a quarter of a 60 Hz frame (4 ms) at 1920x1080, a whole one (16.7 ms) at 3840x2160."
            % ("DLL" if budget_run is dll else "native build", budget_run.processor()), ""]
    out += budget_lines(budget_run, runs) + [""]
    if budget_run is dll:
        out += ["Effects 40 and 41 are timed in the DLL as whole Draws: their figures include the host's "
                "`CopyAxisX` / `CopyAxisY` (here the reference host's), which the module only calls.", ""]
    out.append(kept["bounds"])
    out.append(kept["designs"])

    if native:
        checked = chosen_lines(native)
        if checked:
            out += ["## The chosen forms against the fastest", ""] + checked
            if dll:
                out += ["The DLL's timing program runs only the forms its module chooses (it cannot mask the "
                        "processor's features), so this check is the native build's.", ""]

    if native and dll:
        lines, counts = beside_table(native, dll)
        out += ["## DLL beside native", "",
                "Every effect, param and size the DLL measured, in the DLL's (chosen) form, beside the native "
                "build's same form and frame: the DLL's time over the native one, within %.2f× (the shatter "
                "%.2f×). Met: %d, not met: %d. The two runs are minutes apart on a shared machine, so the last "
                "column divides out each process's own floor (the DLL's ×floor over the native ×floor) for "
                "reading, not for the limit. The floors of both processes close the table: they show what Wine "
                "and the 32-bit code generation cost the same memory traffic, and how far the machine's speed "
                "moved between the runs."
                % (DLL_LIMIT, DLL_LIMIT_SHATTER, counts[0], counts[1]), ""]
        out += lines + [""]

    out += ["## Every form", "",
            "ns/pixel (time per frame over width × height), with the ratio to the effect's floor of the "
            "same process in brackets.", ""]
    for run in runs:
        out += ["### " + run.title, ""] + effect_tables(run)

    out += ["## Machine and run", ""]
    for run in runs:
        ctx = run.data.get("context", {})
        text = "- %s: %s (%s; %s; gathers %s, as the module decodes CPUID); %s. Measured %s" % (
            run.title, ctx.get("cpu_model", "unknown processor"), run.processor(),
            ctx.get("processor_caches", "caches not recorded"), ctx.get("processor_gathers", "?"),
            machine(ctx), ctx.get("date", "(date unknown)"))
        if ctx.get("processor_features"):
            text += "; the processor's features as the DLL reads them: %s" % ctx["processor_features"]
        out.append(text + ".")
    for run in runs:
        ctx = run.data.get("context", {})
        if "report_repetitions" in ctx:
            out.append("- %s: load average at the start %s; medians of %d repetitions of at least %g s each%s." % (
                run.short, ctx.get("report_load_average", "?"), ctx["report_repetitions"],
                ctx["report_min_time"], " (in random order)" if run.native else ""))
    out.append("- Reproduce: `%s` (options: `--repetitions N`, `--min-time S`, `--filter REGEX`; "
               "`--json` / `--win32-json` report saved runs; `--out -` prints instead of writing this file)."
               % COMMAND)
    return "\n".join(out) + "\n"


# The WebAssembly section (scripts/wasm-timings.py writes it) survives a rewrite.
KEPT_START = "<!-- wasm-timings"
KEPT_END = "<!-- /wasm-timings -->"


def kept_section(path):
    if path == "-" or not os.path.exists(path):
        return ""
    with open(path) as f:
        old = f.read()
    start, end = old.find(KEPT_START), old.find(KEPT_END)
    if start < 0 or end < start:
        return ""
    return "\n" + old[start:end + len(KEPT_END)] + "\n"


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--json", help="a saved native run (veilshift_bench --benchmark_format=json) instead of running")
    p.add_argument("--build-dir", default=os.path.join(ROOT, "build", "native"))
    p.add_argument("--win32", action="store_true", help="also run the 32-bit DLL's timing program under Wine")
    p.add_argument("--win32-json", help="a saved run of veilshift_win32_bench.exe --format=json")
    p.add_argument("--win32-build-dir", default=os.path.join(ROOT, "build", "win32"))
    p.add_argument("--no-native", action="store_true", help="only the 32-bit DLL")
    p.add_argument("--repetitions", type=int, default=7, help="medians of this many (default 7; at least 5)")
    p.add_argument("--min-time", type=float, default=0.1, help="seconds per repetition (default 0.1)")
    p.add_argument("--filter", help="a regular expression over the benchmark names")
    p.add_argument("--save-dir", help="write the raw JSON of the runs measured here (native.json, win32.json)")
    p.add_argument("--out", default=DEFAULT_OUT, help="the Markdown file to write (default docs/performance.md; "
                   "- for standard output)")
    args = p.parse_args()
    if args.repetitions < 5:
        print("warning: medians of fewer than 5 repetitions are too noisy to publish", file=sys.stderr)

    measuring = not args.no_native and not args.json or args.win32 and not args.win32_json
    started = time.time()
    runs = []
    if not args.no_native:
        data = load(args.json) if args.json else measured(run_native, args, "native.json")
        runs.append(Run("native (x86-64, libVeilshift.so)", data, True))
        runs[-1].short = "native"
    if args.win32_json or args.win32:
        data = load(args.win32_json) if args.win32_json else measured(run_win32, args, "win32.json")
        runs.append(Run("32-bit DLL under Wine (i686, Veilshift.dll)", data, False))
        runs[-1].short = "DLL"
    if not runs:
        sys.exit("nothing to report: drop --no-native or add --win32 / --win32-json")
    if measuring:
        print("measured in %.0f s" % (time.time() - started), file=sys.stderr)

    kept = hand_kept_sections(DEFAULT_OUT if args.out == "-" else args.out)
    text = document(runs, None if args.out == "-" else args.out, kept) + kept_section(args.out)
    if args.out == "-":
        sys.stdout.write(text)
    else:
        folder = os.path.dirname(os.path.abspath(args.out))
        os.makedirs(folder, exist_ok=True)
        with open(args.out, "w") as f:
            f.write(text)
        print("wrote " + os.path.relpath(args.out), file=sys.stderr)
        for size in SIZES:
            chart = svg_chart(runs, size)
            if chart:
                path = os.path.join(folder, chart_name(args.out, size))
                with open(path, "w") as f:
                    f.write(chart)
                print("wrote " + os.path.relpath(path), file=sys.stderr)


if __name__ == "__main__":
    main()
