#!/usr/bin/env python3
"""Mutation testing of the module: how many faults does the suite catch?

Draws mutants at random (from a seed) over the module's sources, every file
under Component/Veilshift that the build compiles, and for each one rebuilds
only what it changes in a build folder of its own, runs the test suite and
counts the mutant killed when the suite fails, crashes or hangs. A mutant is
one small change:

  relational   <  <=  >  >=  ==  !=    (boundary and negation)
  arithmetic   +  -  *  /  %  <<  >>  &  |  ^  ++  --  and their assignments
  constant     an integer literal plus or minus one
  logical      &&  <->  ||
  statement    an expression statement, break, continue or return; deleted

Only lines that the build compiles are mutated (each translation unit's
preprocessed output tells which; code of the other build, such as the
Windows-only calls, is left out). A mutant that does not compile is set aside
and another is drawn; one whose objects come out byte for byte the same as
before (the compiler saw no difference) counts as equivalent by construction.
Survivors listed in scripts/mutation-equivalents.txt, each with the reason it
cannot change an output, are reported apart, so a run shows what is new.

  python3 scripts/mutate.py --seed 23 --count 200           # a run
  python3 scripts/mutate.py --list                          # the sites by folder
  python3 scripts/mutate.py --check 'host_connection.cpp:22:FreeBytes(data_); =>'
                                                            # a hand-made fault, every test it fails
  python3 scripts/mutate.py --win32 ...                     # also the DLL's suite under Wine
  python3 scripts/mutate.py --lines windows-only --seed 5 --count 200 --jobs 1
  python3 scripts/mutate.py --lines 32-bit --seed 6 --count 50 --jobs 1

The checkout is never edited: the sources (tracked files and new ones not
ignored, as they are in the working tree) are copied into a tree of their own
(build/mutation-tree by default, --tree elsewhere), brought up to date with the
checkout at every start, and the mutants are written and built there, each in a
build folder inside that tree. A run that is killed leaves at most the copy
mutated, and the next start puts it right. --in-place mutates the checkout
itself, as before, for a quick --check.

With --win32 a mutant that the native suite does not kill, or that changes
nothing natively (the x87 paths, the 32-bit forms), is built into the Windows
DLL and test program too and run under Wine.

--lines chooses the lines drawn from. `all` (the default): every line some
build compiles. `windows-only`: lines only the 32-bit Windows build compiles,
and the files whose code in the DLL is a form of its own (WINDOWS_FORMS: the
MMX and SSE forms, the x87 guards and paths, the Windows platform layer, the
exports). `32-bit`: the other lines both builds compile whose behaviour may
differ in the 32-bit build: floating-point arithmetic (x87 code there) and
pointer, size and pitch arithmetic (32 bits wide there). Both run in the Windows build
only, its suite under Wine, with the x87 unit as each test sets it.

The report (Markdown and JSON) lands in the build folder; --resume goes on from
an interrupted run's log. Not part of CI: a run of 200 mutants takes about an
hour on two cores.
"""

import argparse
import dataclasses
import hashlib
import json
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

CHECKOUT = Path(__file__).resolve().parent.parent
EQUIVALENTS = CHECKOUT / "scripts" / "mutation-equivalents.txt"
# The tree that is mutated and built: the checkout's copy unless --in-place (use_tree).
ROOT = CHECKOUT
MODULE = ROOT / "Component" / "Veilshift"

# Code whose form in the DLL is its own, though other builds compile the same
# lines: the MMX and SSE crossfade forms (MMX code on a 32-bit unit), the x87
# guards and 32-bit rounding helpers, the renderer's forms that run as x87 code
# where SSE2 is off (matrix math, row walk, span fill), the exports, and the
# Windows platform layer.
WINDOWS_FORMS = {
    "transitions/crossfade_mmx.cpp", "transitions/crossfade_sse.cpp", "transitions/crossfade_grouped.h",
    "platform/fpu_precision.h", "platform/platform_win32.cpp", "platform/cpu_id.cpp", "module.cpp",
    "render3d/math3d.cpp", "render3d/span_rows.cpp", "render3d/span_rows_walk.h", "render3d/span_fill.cpp",
}

# A line whose result may differ in the 32-bit build: float arithmetic (x87 code
# there) or pointer, size and pitch arithmetic (32 bits wide there).
THIRTY_TWO_BIT_LINE = re.compile(
    r"\b(float|double|size_t|ptrdiff_t|u?intptr_t|sizeof|[pP]itch\w*|[A-Za-z]*Float\w*|Truncate\w*|Nearest\w*)\b"
    r"|\d\.\d*f?\b|\d+\.?f\b")
TEST_TARGET = "veilshift_tests"

# ---------------------------------------------------------------------------
# Tokens

PUNCTUATORS = sorted(
    """>>= <<= ->* ... <=> :: -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= .*
    { } [ ] ( ) ; : , . ? ~ ! + - * / % & | ^ = < >""".split(),
    key=len,
    reverse=True,
)
KEYWORDS_BEFORE_UNARY = {"return", "case", "throw", "co_return", "else", "do", "new", "delete", "sizeof", "alignof"}
DECLARATION_STARTS = {
    "if", "for", "while", "switch", "do", "else", "case", "default", "goto", "using", "typedef", "static_assert",
    "const", "constexpr", "consteval", "constinit", "static", "auto", "namespace", "template", "struct", "class",
    "enum", "union", "extern", "inline", "volatile", "thread_local", "register", "typename", "friend", "virtual",
    "explicit", "operator", "public", "private", "protected", "try", "catch", "asm", "__asm__", "unsigned",
    "signed", "int", "char", "short", "long", "float", "double", "bool", "void", "wchar_t", "char8_t",
    "char16_t", "char32_t", "decltype", "return", "co_await", "co_yield", "delete", "new", "this", "true",
    "false", "nullptr", "sizeof",
}
BUILTIN_TYPES = {
    "int", "char", "short", "long", "float", "double", "bool", "void", "auto", "unsigned", "signed", "size_t",
    "ptrdiff_t", "uintptr_t", "intptr_t", "T", "U",
}
CONTROL_WITH_PARENS = {"if", "for", "while", "switch"}
AFTER_PAREN_BEFORE_BODY = {"const", "override", "noexcept", "final", "mutable"}

NUMBER = re.compile(r"[0-9](?:[eEpP][+-]|[0-9a-zA-Z_.']|'(?=[0-9a-fA-F]))*")
INTEGER = re.compile(r"^(0[xX][0-9a-fA-F']+|[0-9][0-9']*)([uUlL]*)$")
IDENT = re.compile(r"[A-Za-z_][A-Za-z_0-9]*")


@dataclasses.dataclass
class Token:
    kind: str  # ident, number, punct, string
    text: str
    start: int
    end: int
    line: int
    template: bool = False  # an angle bracket of a template


def tokenize(text):
    tokens = []
    i, n, line = 0, len(text), 1
    at_line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
            at_line_start = True
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if c == "\\" and i + 1 < n and text[i + 1] == "\n":
            i += 2
            line += 1
            continue
        if at_line_start and c == "#":  # a directive, with its continuations
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    line += 1
                    i += 1
                i += 1
            continue
        at_line_start = False
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
            continue
        if text.startswith("/*", i):
            stop = text.find("*/", i + 2)
            stop = n if stop < 0 else stop + 2
            line += text.count("\n", i, stop)
            i = stop
            continue
        if c == '"' or c == "'" or (c == "R" and text.startswith('R"', i)):
            start = i
            if c == "R":
                delim_end = text.index("(", i + 2)
                delim = ")" + text[i + 2:delim_end] + '"'
                stop = text.index(delim, delim_end) + len(delim)
            else:
                j = i + 1
                while j < n and text[j] != c:
                    j += 2 if text[j] == "\\" else 1
                stop = j + 1
            line_at = line
            line += text.count("\n", start, stop)
            tokens.append(Token("string", text[start:stop], start, stop, line_at))
            i = stop
            continue
        m = NUMBER.match(text, i) if c.isdigit() else None
        if m:
            tokens.append(Token("number", m.group(), i, m.end(), line))
            i = m.end()
            continue
        m = IDENT.match(text, i)
        if m:
            # A prefixed string literal (u8"...") stays one token with its prefix.
            tokens.append(Token("ident", m.group(), i, m.end(), line))
            i = m.end()
            continue
        for p in PUNCTUATORS:
            if text.startswith(p, i):
                tokens.append(Token("punct", p, i, i + len(p), line))
                i += len(p)
                break
        else:
            i += 1  # stray character (e.g. '@' in a comment-like macro); ignore
    mark_templates(tokens)
    return tokens


TEMPLATE_INSIDE = {"::", ",", "*", "&", "&&", "...", "(", ")", "[", "]", "<", ">", ">>"}


def mark_templates(tokens):
    """Marks the angle brackets that open and close template argument lists."""
    for k, t in enumerate(tokens):
        if t.text != "<" or t.template or k == 0:
            continue
        prev = tokens[k - 1]
        if prev.kind != "ident" or prev.text in KEYWORDS_BEFORE_UNARY:
            continue
        depth, parens, j, closers = 1, 0, k + 1, []
        while j < len(tokens) and j < k + 60:
            u = tokens[j]
            if u.kind in ("ident", "number"):
                pass
            elif u.text in TEMPLATE_INSIDE:
                if u.text == "(":
                    parens += 1
                elif u.text == ")":
                    parens -= 1
                    if parens < 0:
                        break
                elif u.text == "<":
                    depth += 1
                    closers.append(("open", j))
                elif u.text == ">":
                    depth -= 1
                    closers.append(("close", j))
                elif u.text == ">>":
                    depth -= 2
                    closers.append(("close", j))
            else:
                break
            if depth <= 0:
                break
            j += 1
        if depth <= 0 and parens == 0:
            t.template = True
            for _, idx in closers:
                tokens[idx].template = True


# ---------------------------------------------------------------------------
# Mutation sites


@dataclasses.dataclass
class Mutant:
    path: str  # relative to the repository
    line: int
    start: int  # byte range replaced
    end: int
    old: str
    new: str
    kind: str

    @property
    def key(self):
        return f"{self.path}:{self.line}:{self.start}:{self.new}"

    def describe(self):
        if self.kind == "statement":
            return f"deleted `{squash(self.old)}`"
        return f"`{self.old}` -> `{self.new}`"


def squash(text, limit=70):
    text = " ".join(text.split())
    return text if len(text) <= limit else text[: limit - 3] + "..."


RELATIONAL = {"<": ["<=", ">="], "<=": ["<", ">"], ">": [">=", "<="], ">=": [">", "<"], "==": ["!="], "!=": ["=="]}
ARITHMETIC = {
    "+": ["-"], "-": ["+"], "*": ["/"], "/": ["*"], "%": ["/"], "<<": [">>"], ">>": ["<<"], "&": ["|"],
    "|": ["&"], "^": ["|"], "+=": ["-="], "-=": ["+="], "*=": ["/="], "/=": ["*="], "<<=": [">>="],
    ">>=": ["<<="], "&=": ["|="], "|=": ["&="], "++": ["--"], "--": ["++"],
}
LOGICAL = {"&&": ["||"], "||": ["&&"]}


def operand_end(t):
    """Whether a token can end an operand (so that an operator after it is binary)."""
    if t.kind == "number" or t.kind == "string":
        return True
    if t.kind == "ident":
        return t.text in ("this", "true", "false", "nullptr") or (
            t.text not in KEYWORDS_BEFORE_UNARY and t.text not in DECLARATION_STARTS)
    return t.text in (")", "]")


def looks_like_type(t):
    """An identifier that names a type in this code base: CamelCase (constants are kName), or a builtin."""
    if t.kind != "ident":
        return False
    if t.text in BUILTIN_TYPES or t.text.endswith("_t"):
        return True
    return t.text[0].isupper() and not (t.text[0] == "k" and len(t.text) > 1 and t.text[1].isupper())


def integer_mutants(text):
    m = INTEGER.match(text)
    if not m:
        return []
    digits, suffix = m.group(1), m.group(2)
    value = int(digits.replace("'", ""), 0)
    out = []
    for v in (value + 1, value - 1):
        if v < 0:
            continue
        shown = hex(v).upper().replace("0X", "0x") if digits[:2] in ("0x", "0X") else str(v)
        out.append(shown + suffix)
    return out


def find_mutants(path, text):
    """Every mutant of one file, in the order of the text."""
    tokens = tokenize(text)
    rel = str(path.relative_to(ROOT))
    mutants = []

    def add(t, new, kind):
        mutants.append(Mutant(rel, t.line, t.start, t.end, t.text, new, kind))

    for k, t in enumerate(tokens):
        prev = tokens[k - 1] if k > 0 else None
        nxt = tokens[k + 1] if k + 1 < len(tokens) else None
        if prev is not None and prev.text == "operator":
            continue  # an operator's name, not a use
        if t.kind == "number":
            for new in integer_mutants(t.text):
                add(t, new, "constant")
            continue
        if t.kind != "punct" or t.template:
            continue
        if t.text in RELATIONAL:
            if prev is not None and operand_end(prev):
                for new in RELATIONAL[t.text]:
                    add(t, new, "relational")
        elif t.text in LOGICAL:
            # && after a type is an rvalue reference
            if prev is not None and operand_end(prev) and not looks_like_type(prev):
                for new in LOGICAL[t.text]:
                    add(t, new, "logical")
        elif t.text in ("++", "--"):
            add(t, ARITHMETIC[t.text][0], "arithmetic")
        elif t.text in ARITHMETIC:
            binary = prev is not None and operand_end(prev)
            if t.text in ("*", "&") and binary:
                # a declarator: Type* name, Type& name, const T* const
                if looks_like_type(prev) or (prev.kind == "punct" and prev.template):
                    binary = False
                elif nxt is not None and (nxt.text in (")", ",", ">", "const") or nxt.kind == "punct" and nxt.template):
                    binary = False
            if binary:
                for new in ARITHMETIC[t.text]:
                    add(t, new, "arithmetic")
    mutants.extend(statement_mutants(rel, text, tokens))
    mutants.sort(key=lambda m: (m.start, m.new))
    return mutants


def statement_mutants(rel, text, tokens):
    """Expression statements, break, continue and bare return inside function bodies."""
    out = []
    # One entry per open brace: (a block of statements?, the parentheses open
    # outside it, the statement start outside it, opened where a statement starts?).
    blocks = []
    parens = []  # for each open parenthesis or bracket: the keyword before it
    start = None  # index of the first token of the current statement, when one may start
    questions = 0  # conditional operators awaiting their ':'
    for k, t in enumerate(tokens):
        prev = tokens[k - 1] if k > 0 else None
        code_here = bool(blocks) and blocks[-1][0]
        if t.text == "{":
            p = k - 1
            while p >= 0 and tokens[p].text in AFTER_PAREN_BEFORE_BODY:
                p -= 1
            q = tokens[p] if p >= 0 else None
            code = False
            if q is not None:
                if q.text == ")" or q.text in ("else", "do", "try"):
                    code = True
                elif q.text in (";", "{", "}", ":") and code_here and not parens:
                    code = True
                elif q.kind == "ident" and p > 0 and tokens[p - 1].text == "->":
                    code = True  # trailing return type
            blocks.append((code, parens, start, start == k and not parens))
            parens = []
            start = k + 1 if code else None
            questions = 0
            continue
        if t.text == "}":
            if blocks:
                _, parens, outer_start, statement_level = blocks.pop()
                start = k + 1 if statement_level or (blocks and blocks[-1][0] and not parens and outer_start is None) \
                    else outer_start
            continue
        if t.text in ("(", "["):
            parens.append(prev.text if prev is not None and t.text == "(" else "")
            continue
        if t.text in (")", "]"):
            opener = parens.pop() if parens else ""
            if opener in CONTROL_WITH_PARENS and not parens and code_here:
                start = k + 1  # the statement that a control header governs
                questions = 0
            continue
        if not code_here or parens:
            continue
        if t.text == "?":
            questions += 1
            continue
        if t.text == ":":
            if questions > 0:
                questions -= 1
            else:
                start = k + 1  # after a label
            continue
        if t.text == "else":
            start = k + 1
            continue
        if t.text == ";":
            if start is not None and start < k:
                if classify_statement(tokens, start, k):
                    first, last = tokens[start], tokens[k]
                    out.append(Mutant(rel, first.line, first.start, last.end, text[first.start:last.end], "{}",
                                      "statement"))
            start = k + 1
            questions = 0
    return out


def classify_statement(tokens, first, semicolon):
    """Whether tokens[first:semicolon] is a statement worth deleting."""
    body = tokens[first:semicolon]
    if any(t.text in ("{", "}") for t in body):
        return False
    head = body[0]
    if head.text in ("break", "continue"):
        return len(body) == 1
    if head.text == "return":
        return len(body) == 1
    if head.text in ("++", "--", "*"):
        return True
    if head.kind != "ident" or head.text in DECLARATION_STARTS:
        return False
    j = 1
    while j + 1 < len(body) and body[j].text == "::" and body[j + 1].kind == "ident":
        j += 2
    if j >= len(body):
        return False
    after = body[j]
    if after.text == "<" and after.template:  # F<T>(...) is a call, Type<T> name a declaration
        depth = 0
        while j < len(body):
            depth += {"<": 1, ">": -1, ">>": -2}.get(body[j].text, 0) if body[j].template else 0
            j += 1
            if depth <= 0:
                break
        if j >= len(body):
            return False
        after = body[j]
        if after.text != "(":
            return False
    if after.kind == "ident":
        return False  # Type name ...
    if after.text in ("*", "&") and j + 1 < len(body) and body[j + 1].kind == "ident" and looks_like_type(head):
        return False
    return after.text in ("=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>=", "(", ".", "->", "[",
                          "++", "--")


# ---------------------------------------------------------------------------
# The tree that is mutated


def use_tree(path):
    global ROOT, MODULE
    ROOT = path
    MODULE = ROOT / "Component" / "Veilshift"


def checkout_files():
    """The checkout's files as the working tree has them: tracked ones, and new ones not ignored."""
    r = subprocess.run(["git", "-C", str(CHECKOUT), "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                       stdout=subprocess.PIPE, check=True)
    return [name for name in r.stdout.decode().split("\0") if name and (CHECKOUT / name).is_file()]


def sync_copy(copy, say):
    """Brings the copy up to date with the checkout: a file is written only where its bytes differ, so
    that the copy's builds rebuild only what changed (and put right a mutant a killed run left)."""
    written = 0
    for name in checkout_files():
        source, target = CHECKOUT / name, copy / name
        data = source.read_bytes()
        if target.is_file() and target.read_bytes() == data:
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
        shutil.copymode(source, target)
        written += 1
    head = subprocess.run(["git", "-C", str(CHECKOUT), "rev-parse", "--short", "HEAD"], stdout=subprocess.PIPE,
                          text=True).stdout.strip()
    dirty = subprocess.run(["git", "-C", str(CHECKOUT), "status", "--porcelain", "--", "Component"],
                           stdout=subprocess.PIPE, text=True).stdout.strip()
    (copy / ".source-commit").write_text(head + (" with local changes" if dirty else "") + "\n")
    say(f"sources copied to {copy} ({written} files written)")


# ---------------------------------------------------------------------------
# Builds


class Build:
    def __init__(self, folder, win32, jobs, log):
        self.folder = folder
        self.win32 = win32
        self.jobs = jobs
        self.log = log
        self.pristine = folder / "mutation-pristine"
        self.objects = {}  # path -> sha256 of the pristine object
        self.wine_prefix = folder / "wine-prefix"

    def configure(self):
        if (self.folder / "build.ninja").exists():
            # An existing build folder (a preset's, say) keeps its settings; it
            # only has to list its compile commands.
            if not (self.folder / "compile_commands.json").exists():
                run_checked(["cmake", "-B", str(self.folder), "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"], self.log)
            return
        command = ["cmake", "-S", str(ROOT), "-B", str(self.folder), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                   "-DVEILSHIFT_BENCH=OFF", "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"]
        if self.win32:
            command.append(f"-DCMAKE_TOOLCHAIN_FILE={ROOT / 'cmake' / 'mingw-i686.cmake'}")
        run_checked(command, self.log)

    def ninja(self, timeout=None):
        command = ["ninja", "-C", str(self.folder), f"-j{self.jobs}", TEST_TARGET]
        try:
            r = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            return False, "build timed out"
        return r.returncode == 0, r.stdout

    def object_files(self):
        found = list(self.folder.rglob("*.o")) + list(self.folder.rglob("*.obj"))  # mingw's objects are .obj
        return sorted(p for p in found if "mutation-pristine" not in p.parts)

    def snapshot(self):
        """Keeps a copy of every object, to put back after each mutant."""
        if self.pristine.exists():
            shutil.rmtree(self.pristine)
        self.objects = {}
        for obj in self.object_files():
            self.objects[obj] = digest(obj)
            copy = self.pristine / obj.relative_to(self.folder)
            copy.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(obj, copy)

    def changed_objects(self):
        return [obj for obj, h in self.objects.items() if not obj.exists() or digest(obj) != h]

    def restore(self, changed):
        # A fresh modification time: the libraries and programs that hold the
        # mutant's object are then older than it and are linked again.
        for obj in changed:
            shutil.copyfile(self.pristine / obj.relative_to(self.folder), obj)

    def wine_env(self):
        return {**os.environ, "WINEPREFIX": str(self.wine_prefix), "WINEARCH": "win32", "WINEDEBUG": "-all"}

    def keep_wine_running(self):
        """One Wine server for the whole run: each suite then starts in a second, not several."""
        if not (self.wine_prefix / "system.reg").exists():
            self.wine_prefix.mkdir(parents=True, exist_ok=True)
            subprocess.run(["wineboot", "--init"], env={**self.wine_env(), "WINEDLLOVERRIDES": "mscoree,mshtml="},
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=self.wine_env())
        subprocess.run(["wineserver", "-p"], env=self.wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def stop_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def test_program(self):
        return self.folder / "bin" / (TEST_TARGET + (".exe" if self.win32 else ""))

    def run_suite(self, timeout, fail_fast=True):
        """The whole suite once, by default stopping at the first failure: (verdict, seconds, failing tests)."""
        # Not brief: a crash is put down to the last test that started.
        command = [str(self.test_program())] + (["--gtest_fail_fast"] if fail_fast else [])
        env = dict(os.environ)
        if self.win32:
            command = [str(ROOT / "cmake" / "wine-run.sh")] + command
            env["VEILSHIFT_WINEPREFIX"] = str(self.wine_prefix)
        began = time.monotonic()
        try:
            proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                    cwd=self.folder / "bin", env=env, start_new_session=True)
            out, _ = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, 9)
            proc.communicate()
            if self.win32:
                # Everything in the run's own prefix ends; a new server serves the rest of the run.
                subprocess.run(["wineserver", "-k"], env=self.wine_env(), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                self.keep_wine_running()
            return "timeout", time.monotonic() - began, ""
        seconds = time.monotonic() - began
        failed = sorted(set(re.findall(r"^\[  FAILED  \] ([A-Za-z_][\w/]*\.[\w/]+)", out, re.M)))
        # Passed only with the suite's own summary: a program that ends early
        # with status 0 (a mutant that wrecks the stack can, under Wine) crashed.
        if proc.returncode == 0 and re.search(r"^\[  PASSED  \] \d+ tests?\.", out, re.M):
            return "passed", seconds, ""
        if failed:
            return "failed", seconds, " ".join(failed)
        crash = re.findall(r"^\[ RUN      \] (\S+)", out, re.M)
        return "crashed", seconds, crash[-1] if crash else ""

    def active_lines(self):
        """{file: set of line numbers} that some translation unit of the module compiles."""
        database = json.loads((self.folder / "compile_commands.json").read_text())
        entries = [e for e in database if Path(e["file"]).resolve().is_relative_to(MODULE)]

        def preprocess(entry):
            args = shlex.split(entry["command"]) if "command" in entry else list(entry["arguments"])
            kept, skip = [], False
            for a in args:
                if skip:
                    skip = False
                    continue
                if a in ("-o", "-MF", "-MT", "-MQ"):
                    skip = True
                    continue
                if a in ("-c", "-MD", "-MMD"):
                    continue
                kept.append(a)
            r = subprocess.run(kept + ["-E", "-o", "-"], cwd=entry["directory"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True, errors="replace")
            return r.stdout

        lines = {}
        with ThreadPoolExecutor(max_workers=self.jobs) as pool:
            for output in pool.map(preprocess, entries):
                current, number = None, 0
                for text in output.split("\n"):
                    if text.startswith("# ") and len(text) > 2 and text[2].isdigit():
                        parts = text.split('"')
                        number = int(text[2:].split()[0])
                        name = Path(parts[1]) if len(parts) > 1 else None
                        current = name.resolve() if name is not None and name.is_absolute() else None
                        if current is not None and not current.is_relative_to(MODULE):
                            current = None
                        continue
                    if current is not None and text.strip():
                        lines.setdefault(current, set()).add(number)
                    number += 1
        return lines


def digest(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def run_checked(command, log):
    log(" ".join(command))
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


# ---------------------------------------------------------------------------
# Known equivalents


def load_equivalents():
    """Blocks of `file:`, `line:`, `change:`, `why:` separated by blank lines."""
    entries = []
    if not EQUIVALENTS.exists():
        return entries
    block = {}
    for raw in EQUIVALENTS.read_text().splitlines() + [""]:
        if raw.startswith("#"):
            continue
        if not raw.strip():
            if block:
                entries.append(block)
            block = {}
            continue
        field, _, value = raw.partition(":")
        block[field.strip()] = value.strip()
    return entries


def source_line(text, number):
    lines = text.split("\n")
    return lines[number - 1].strip() if 0 < number <= len(lines) else ""


# ---------------------------------------------------------------------------
# Running mutants


def folder_of(path):
    parts = Path(path).relative_to("Component/Veilshift").parts
    return parts[0] + "/" if len(parts) > 1 else "(top)"


class Runner:
    def __init__(self, args):
        self.args = args
        self.logfile = None
        windows_lines = args.lines != "all"
        native = Build(ROOT / args.build_dir, False, args.jobs, self.say)
        # Drawing from the Windows build's own lines needs the native build's
        # list of lines to leave out, but never builds or runs it.
        self.native_lines = native if windows_lines else None
        self.native = None if args.no_native or windows_lines else native
        win32 = args.win32 or windows_lines
        self.windows = Build(ROOT / args.win32_build_dir, True, args.jobs, self.say) if win32 else None
        self.baseline = {}

    def say(self, text):
        print(text, flush=True)

    def builds(self):
        return [b for b in (self.native, self.windows) if b is not None]

    def prepare(self):
        if self.native_lines is not None:
            self.native_lines.configure()
        if self.windows is not None:
            self.windows.keep_wine_running()
        for b in self.builds():
            b.configure()
            self.say(f"building {b.folder.relative_to(ROOT)} ...")
            ok, out = b.ninja()
            if not ok:
                sys.exit(out[-4000:] + "\nthe unmutated sources do not build")
            verdict, seconds, failed = b.run_suite(timeout=3600)
            if verdict != "passed":
                sys.exit(f"the suite fails without any mutant ({verdict} {failed}); nothing to measure")
            self.baseline[b] = seconds
            self.say(f"{b.folder.relative_to(ROOT)}: the suite passes in {seconds:.1f} s")
            b.snapshot()

    def sites(self):
        """Every mutant on a line of the kind --lines asks for: [(mutant, builds that compile it)]."""
        active = {b: b.active_lines() for b in self.builds()}
        native_only = self.native_lines.active_lines() if self.native_lines is not None else None
        found = []
        for path in sorted(list(MODULE.rglob("*.cpp")) + list(MODULE.rglob("*.h"))):
            real = path.resolve()
            if not any(real in lines for lines in active.values()):
                continue
            text = path.read_text()
            lines = text.split("\n")
            for m in find_mutants(path, text):
                where = [b for b in self.builds() if m.line in active[b].get(real, ())]
                if not where:
                    continue
                if native_only is not None:
                    own_form = str(Path(m.path).relative_to("Component/Veilshift")) in WINDOWS_FORMS
                    on_native = m.line in native_only.get(real, ())
                    if self.args.lines == "windows-only" and on_native and not own_form:
                        continue
                    if self.args.lines == "32-bit" and (own_form or not on_native or
                                                        not THIRTY_TWO_BIT_LINE.search(lines[m.line - 1])):
                        continue
                found.append((m, where))
        return found

    def timeout(self, build):
        return max(self.args.timeout, self.args.timeout_factor * self.baseline[build])

    def run_one(self, mutant, where, fail_fast=True):
        """Builds and runs one mutant in each build that compiles its line, native first."""
        path = ROOT / mutant.path
        original = path.read_bytes()
        stat = path.stat()
        text = original.decode()
        mutated = text[: mutant.start] + mutant.new + text[mutant.end:]
        result = {"key": mutant.key, "file": mutant.path, "line": mutant.line, "kind": mutant.kind,
                  "start": mutant.start, "end": mutant.end, "old": mutant.old, "new": mutant.new,
                  "change": mutant.describe(), "text": source_line(text, mutant.line), "builds": []}
        began = time.monotonic()
        verdict = "unchanged"
        try:
            for b in where:
                path.write_text(mutated)
                t0 = time.monotonic()
                ok, out = b.ninja(timeout=self.args.build_timeout)
                build_seconds = time.monotonic() - t0
                changed = b.changed_objects()
                step = {"build": "win32" if b.win32 else "native", "build_seconds": round(build_seconds, 1)}
                try:
                    if not ok:
                        step["verdict"] = "no-build"
                        result["builds"].append(step)
                        verdict = "no-build"
                        break
                    if not changed:
                        step["verdict"] = "unchanged"
                        result["builds"].append(step)
                        continue
                    suite, seconds, failed = b.run_suite(self.timeout(b), fail_fast)
                    step.update(verdict=suite, test_seconds=round(seconds, 1), failed=failed)
                    result["builds"].append(step)
                    if suite != "passed":
                        verdict = "killed"
                        break
                    verdict = "survived"
                finally:
                    path.write_bytes(original)
                    os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))
                    b.restore(changed)
        finally:
            path.write_bytes(original)
            os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))
        result["verdict"] = verdict
        result["seconds"] = round(time.monotonic() - began, 1)
        return result

    def finish(self):
        # Link the pristine objects again, so that the build folder holds the unmutated programs.
        for b in self.builds():
            b.ninja()
        if self.windows is not None:
            self.windows.stop_wine()


def report(results, args, equivalents, baseline_seconds):
    counted = [r for r in results if r["verdict"] in ("killed", "survived")]
    for r in counted:
        r["equivalent"] = equivalent_reason_from(r, equivalents) if r["verdict"] == "survived" else None
    folders = {}
    for r in counted:
        f = folders.setdefault(folder_of(r["file"]), {"killed": 0, "survived": 0, "equivalent": 0})
        if r["verdict"] == "killed":
            f["killed"] += 1
        elif r["equivalent"] is not None:
            f["equivalent"] += 1
        else:
            f["survived"] += 1
    total = {k: sum(f[k] for f in folders.values()) for k in ("killed", "survived", "equivalent")}
    skipped = {v: sum(1 for r in results if r["verdict"] == v) for v in ("unchanged", "no-build")}
    by_win32 = sum(1 for r in counted if r["verdict"] == "killed" and r["builds"][-1]["build"] == "win32")
    per_mutant = [r["seconds"] for r in counted]

    def rate(f):
        scored = f["killed"] + f["survived"]
        return f"{100.0 * f['killed'] / scored:.1f} %" if scored else "-"

    windows_only = args.lines != "all"
    out = [f"# Mutation run: seed {args.seed}, {len(counted)} mutants"
           + ("" if not windows_only else f" of the {args.lines} lines"), ""]
    suites = "the Windows build under Wine" if windows_only else "native" + (
        ", and the Windows build under Wine" if args.win32 else "")
    out.append(f"Sources: {git_describe()}. Suite: `{TEST_TARGET}` ({suites}), "
               + ", ".join(f"{s:.1f} s a run" for s in baseline_seconds) + " unmutated.")
    out.append("")
    out.append("| folder | mutants | killed | survived | known equivalent | killed of the rest |")
    out.append("|---|---:|---:|---:|---:|---:|")
    for name in sorted(folders):
        f = folders[name]
        out.append(f"| {name} | {f['killed'] + f['survived'] + f['equivalent']} | {f['killed']} | {f['survived']} "
                   f"| {f['equivalent']} | {rate(f)} |")
    out.append(f"| all | {len(counted)} | {total['killed']} | {total['survived']} | {total['equivalent']} "
               f"| {rate(total)} |")
    out.append("")
    out.append(f"Also drawn and set aside: {skipped['no-build']} that did not compile, {skipped['unchanged']} "
               "whose objects came out unchanged.")
    if args.win32 and not args.no_native and not windows_only:
        out.append(f"Killed only by the Windows suite: {by_win32}.")
    if per_mutant:
        out.append(f"Time per mutant (build and suite): mean {sum(per_mutant) / len(per_mutant):.1f} s, "
                   f"longest {max(per_mutant):.1f} s.")
    out.append("")
    new = [r for r in counted if r["verdict"] == "survived" and r["equivalent"] is None]
    out.append(f"## Survivors not on the list ({len(new)})")
    out.append("")
    for r in new:
        out.append(f"- `{r['file']}:{r['line']}`: {r['change']} in `{squash(r['text'], 100)}`")
    known = [r for r in counted if r["verdict"] == "survived" and r["equivalent"] is not None]
    if known:
        out.append("")
        out.append(f"## Known equivalent ({len(known)})")
        out.append("")
        for r in known:
            out.append(f"- `{r['file']}:{r['line']}`: {r['change']}: {r['equivalent']}")
    return "\n".join(out) + "\n"


def equivalent_reason_from(result, entries):
    for e in entries:
        if e.get("file") == result["file"] and e.get("line") == result["text"] and e.get("change") == result["change"]:
            return e.get("why", "")
    return None


def git_describe():
    marker = ROOT / ".source-commit"  # a copy of the sources made for a long run (git archive)
    if marker.exists():
        return f"commit {marker.read_text().strip()}"
    r = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"], stdout=subprocess.PIPE, text=True)
    dirty = subprocess.run(["git", "-C", str(ROOT), "status", "--porcelain", "--", "Component"],
                           stdout=subprocess.PIPE, text=True).stdout.strip()
    return f"commit {r.stdout.strip()}" + (" with local changes" if dirty else "")


def again_sites(log, builds):
    """The mutants of an earlier run that survived or changed no object, found again by their keys."""
    wanted = []
    for raw in log.read_text().splitlines():
        r = json.loads(raw)
        if r["verdict"] in ("survived", "unchanged"):
            wanted.append(r["key"])
    by_file = {}
    sites = []
    for key in wanted:
        path = key.split(":", 1)[0]
        if path not in by_file:
            full = ROOT / path
            by_file[path] = {m.key: m for m in find_mutants(full, full.read_text())}
        if key in by_file[path]:
            sites.append((by_file[path][key], builds))
    return sites


def parse_check(request):
    """FILE:LINE:OLD => NEW, FILE under Component/Veilshift: OLD's first occurrence on the line becomes NEW."""
    parts = request.split(":", 2)
    if len(parts) != 3 or " =>" not in parts[2]:
        sys.exit("--check wants FILE:LINE:OLD => NEW")
    name, line = parts[0], parts[1]
    old, _, new = parts[2].partition(" =>")
    new = new[1:] if new.startswith(" ") else new
    path = MODULE / name
    text = path.read_text()
    lines = text.split("\n")
    number = int(line)
    offset = sum(len(x) + 1 for x in lines[: number - 1])
    column = lines[number - 1].find(old)
    if column < 0:
        sys.exit(f"`{old}` is not on line {number} of {name}: {lines[number - 1].strip()}")
    kind = "statement" if new == "" else "hand"
    m = Mutant(str(path.relative_to(ROOT)), number, offset + column, offset + column + len(old), old,
               new if new else "", kind)
    return m


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=200, help="mutants that compile and change the code")
    parser.add_argument("--only", action="append", default=[],
                        help="paths under Component/Veilshift to draw from (prefixes; repeatable)")
    parser.add_argument("--skip", action="append", default=[],
                        help="paths under Component/Veilshift to leave out (prefixes; repeatable)")
    parser.add_argument("--lines", choices=("all", "windows-only", "32-bit"), default="all",
                        help="the lines drawn from (see above); the last two run in the Windows build only")
    parser.add_argument("--tree", default="build/mutation-tree",
                        help="where the copy of the sources lives (relative to the checkout)")
    parser.add_argument("--in-place", action="store_true", help="mutate the checkout itself, not a copy")
    parser.add_argument("--build-dir", default="build/mutation", help="native build folder, inside the tree")
    parser.add_argument("--win32", action="store_true", help="also the Windows build, its suite under Wine")
    parser.add_argument("--win32-build-dir", default="build/mutation-win32",
                        help="Windows build folder, inside the tree")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=float, default=60, help="seconds a suite run may take at least; "
                        "longer is a hang, and a hang kills")
    parser.add_argument("--timeout-factor", type=float, default=10,
                        help="a suite run may also take this many times the unmutated run")
    parser.add_argument("--build-timeout", type=float, default=900)
    parser.add_argument("--list", action="store_true", help="count the sites by folder and kind, build nothing "
                        "but the first time")
    parser.add_argument("--check", action="append", default=[], metavar="'FILE:LINE:OLD => NEW'",
                        help="run these hand-made mutants instead of random ones and name every test that "
                        "fails (NEW empty deletes OLD)")
    parser.add_argument("--resume", action="store_true", help="go on from the run's log in the build folder")
    parser.add_argument("--no-native", action="store_true", help="with --win32: the Windows build only")
    parser.add_argument("--again", metavar="LOG",
                        help="instead of drawing, run again the mutants of an earlier run's log (its .jsonl) "
                        "that survived or changed no object, in the builds asked for: with --win32 --no-native, "
                        "what the Windows suite makes of the native run's survivors")
    return parser.parse_args()


def list_sites(runner):
    """--list: the sites by folder and kind."""
    if runner.native_lines is not None:
        runner.native_lines.configure()
    for b in runner.builds():
        b.configure()
        ok, out = b.ninja()
        if not ok:
            sys.exit(out[-4000:])
    counts = {}
    for m, where in runner.sites():
        key = (folder_of(m.path), m.kind)
        counts[key] = counts.get(key, 0) + 1
    for (folder, kind), n in sorted(counts.items()):
        print(f"{folder:16} {kind:11} {n}")
    print(f"{'all':16} {'':11} {sum(counts.values())}")


def run_checks(runner, requests):
    """--check: hand-made mutants, every test each one fails."""
    checks = [parse_check(request) for request in requests]
    runner.prepare()
    for m in checks:
        r = runner.run_one(m, runner.builds(), fail_fast=False)
        steps = "; ".join(f"{s['build']}: {s['verdict']} {s.get('failed', '')}".strip() for s in r["builds"])
        print(f"{m.path}:{m.line}: {m.describe()}: {r['verdict']} ({steps}; {r['seconds']:.1f} s)")
    runner.finish()


def chosen_sites(runner, args):
    """The sites of a run, in the order they are tried: drawn from the seed, or an earlier run's survivors."""
    sites = again_sites(Path(args.again), runner.builds()) if args.again else runner.sites()
    if args.only:
        prefixes = [str(Path("Component/Veilshift") / p) for p in args.only]
        sites = [(m, w) for m, w in sites if any(m.path.startswith(p) for p in prefixes)]
    if args.skip:
        left_out = [str(Path("Component/Veilshift") / p) for p in args.skip]
        sites = [(m, w) for m, w in sites if not any(m.path.startswith(p) for p in left_out)]
    if args.again:
        args.count = len(sites)
        return sites
    order = list(range(len(sites)))
    random.Random(args.seed).shuffle(order)
    return [sites[i] for i in order]


def run_mutants(runner, args, equivalents):
    """A run: mutants until --count of them have been built and tested, then the report."""
    runner.prepare()
    sites = chosen_sites(runner, args)
    runner.say(f"{len(sites)} sites ({args.lines} lines); seed {args.seed}; drawing until {args.count} mutants "
               "have run")
    folder = ROOT / (args.build_dir if runner.native is not None else args.win32_build_dir)
    stem = f"mutation-{args.seed}" + ("-again" if args.again else "") + \
        ("" if args.lines == "all" else f"-{args.lines}")
    log_path = folder / f"{stem}.jsonl"
    done = {}
    if args.resume and log_path.exists():
        for raw in log_path.read_text().splitlines():
            r = json.loads(raw)
            done[r["key"]] = r
    results = []
    with open(log_path, "a" if args.resume else "w") as log:
        for m, where in sites:
            if sum(1 for r in results if r["verdict"] in ("killed", "survived")) >= args.count:
                break
            if m.key in done:
                results.append(done[m.key])
                continue
            r = runner.run_one(m, where)
            results.append(r)
            log.write(json.dumps(r) + "\n")
            log.flush()
            counted = sum(1 for x in results if x["verdict"] in ("killed", "survived"))
            last = r["builds"][-1] if r["builds"] else {}
            runner.say(f"[{counted}/{args.count}] {r['verdict']:9} {r['seconds']:5.1f} s  {m.path}:{m.line}: "
                       f"{m.describe()} {last.get('failed', '')}")
    runner.finish()
    text = report(results, args, equivalents, list(runner.baseline.values()))
    (folder / f"{stem}.md").write_text(text)
    (folder / f"{stem}.json").write_text(json.dumps(results, indent=1))
    print(text)


def main():
    args = parse_arguments()
    if not args.in_place:
        copy = (CHECKOUT / args.tree).resolve()
        if copy == CHECKOUT or CHECKOUT.is_relative_to(copy):
            sys.exit("--tree must name a folder apart from the checkout")
        sync_copy(copy, print)
        use_tree(copy)
    runner = Runner(args)
    if args.list:
        list_sites(runner)
    elif args.check:
        run_checks(runner, args.check)
    else:
        run_mutants(runner, args, load_equivalents())


if __name__ == "__main__":
    main()
