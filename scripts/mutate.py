#!/usr/bin/env python3
"""Puts small faults into the program, one at a time, and reports those that
the tests do not notice.

Usage: python3 scripts/mutate.py [--part logic|platform|win32] [--file PART]... [--op OP]...
                                 [--limit N] [--seed S] [--jobs N] [--timeout S]
                                 [--list] [--verbose]

Three parts, each worker in build/mutate/PART/wN. "logic" (the default) is the
core and the window logic: each worker copies the sources, builds core_tests
and logic_tests (no Qt, -O1, ccache) and runs them against one mutant after
another. "platform" is the Qt, POSIX and SDL backends and the Linux program in
app/: the worker builds everything with Qt and runs the unit, Qt and SDL tests,
the install checks, then the system scenarios on a display of their own; a
mutant in a file that a fuzzer reaches meets that fuzzer's corpus first.
"win32" is the Windows backend and app/winmain.cpp: built with mingw-w64, the
Wine test suite and the system scenarios run the .exe under Wine, each worker
in a copy of the Wine prefix that scripts/test-windows.sh made (run that once
first). The last two are too many to run whole: take a random sample with
--limit (one to three minutes a mutant); --seed picks another sample. The
checkout itself is never touched. A mutant that does not build is left out of
the score; a test run that fails, crashes or hangs kills it. The
build has UndefinedBehaviorSanitizer and the standard library's assertions on:
undefined behaviour is no equivalent, and a mutant that shifts or indexes out
of bounds in a test dies there.
Mutants listed in scripts/mutate-equivalent.txt change nothing observable and
are neither run nor counted. Survivors are printed as file:line, the line
before and after, and the mutant's id; the score comes last.
"""

import argparse
import contextlib
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# Per part: the folders mutated, the files left alone (not built on Linux), what a
# worker's copy needs, the CMake options, the test programs run, whether the system
# scenarios run too, and how many times the unmutated run's time a test run may take.
# The platform parts build the whole program and run its scenarios.
UB_FLAGS = "-O1 -g0 -D_GLIBCXX_ASSERTIONS -fsanitize=undefined -fno-sanitize-recover=undefined"
WHOLE_TREE = ("CMakeLists.txt", "CMakePresets.json", "cmake", "core", "frmMain", "frmSet",
              "mdlMain", "platform", "app", "tests", "scripts", "README.md")
PARTS = dict(
    logic=dict(
        folders=("core", "frmMain", "frmSet", "mdlMain"),
        skip=(),
        copied=("CMakeLists.txt", "cmake", "core", "frmMain", "frmSet", "mdlMain", "platform",
                "tests"),
        options=["-DTALLIMO_QT=OFF"],
        tests=("tests/core_tests", "tests/logic_tests"),
        scenarios=False,
        slack=10,
    ),
    platform=dict(
        folders=("platform/qt", "platform/posix", "platform/sdl", "app"),
        skip=("app/winmain.cpp",),
        copied=WHOLE_TREE,
        options=[],
        # AddressSanitizer as well: the reliability stage runs every suite under it.
        flags=UB_FLAGS.replace("-fsanitize=undefined", "-fsanitize=address,undefined"),
        tests=("tests/posix_tests", "tests/qt_tests", "tests/sdl_tests"),
        # A file that a fuzzer reaches: its corpus runs too, built as CI's fuzz preset builds it.
        fuzzed={"platform/posix/SingleInstance.cpp": "channel"},
        label="install",  # the CTest suites that run an installed or a lone copy
        scenarios=True,
        slack=3,
    ),
    win32=dict(
        folders=("platform/win32", "app/winmain.cpp"),
        skip=(),
        copied=WHOLE_TREE,
        options=["-DCMAKE_TOOLCHAIN_FILE={src}/cmake/mingw-w64.cmake", "-DTALLIMO_BACKEND=win32"],
        flags="-O1 -g0 -D_GLIBCXX_ASSERTIONS",  # no sanitizers in mingw-w64; the assertions work
        tests=("tests/win32_tests.exe",),
        scenarios=True,
        slack=3,
    ),
)
WINE = dict(WINEDEBUG="-all", LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8",
            WINEDLLOVERRIDES="winealsa.drv,winepulse.drv,winemenubuilder.exe,mscoree,mshtml=d",
            LOCPATH=str(ROOT / "build" / "win32" / "locale"))
PRIMED_PREFIX = ROOT / "build" / "win32" / "wineprefix"
PART_NAME = "logic"  # set from --part in main()
PART = PARTS[PART_NAME]
# Where the error descriptions and the system's reasons are worded: not mutated.
WORDING = ("core/Errors.cpp", "platform/posix/PosixSystem.cpp", "platform/win32/Win32System.cpp")
EQUIVALENT = ROOT / "scripts" / "mutate-equivalent.txt"
# One worker's scenarios at a time: Orca runs once per user, and two desks at once
# would make a busier machine than the rows are measured on.
SCENARIOS = threading.Lock()
WORK = ROOT / "build" / "mutate"

OPS = ("rel", "logic", "not", "bool", "int", "str", "arith", "stmt")


@dataclass
class Mutant:
    path: str  # relative to ROOT
    line: int
    op: str
    start: int  # offsets into the file's text
    end: int
    replacement: str
    before: str  # the changed line(s), for the report
    after: str
    id: str = ""


# ---- reading C++ -------------------------------------------------------------


def blank_non_code(text):
    """The text with comments, preprocessor lines and the insides of string and
    character literals replaced by \\x01 (newlines kept), so that patterns
    only ever match code. Also returns the spans of the string literals."""
    out = list(text)
    strings = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            j = text.find("\n", i)
            j = n if j < 0 else j
            for k in range(i, j):
                out[k] = "\x01"
            i = j
            continue
        if c == "\n":
            line_start = True
            i += 1
            continue
        if not c.isspace():
            line_start = False
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            for k in range(i, j):
                out[k] = "\x01"
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2) + 2
            for k in range(i, j):
                if text[k] != "\n":
                    out[k] = "\x01"
            i = j
        elif c in "\"'":  # no digit separators in this code base: ' opens a literal
            j = i + 1
            while text[j] != c:
                j += 2 if text[j] == "\\" else 1
            if c == '"':
                strings.append((i, j + 1))
            for k in range(i + 1, j):
                out[k] = "\x01"
            i = j + 1
        else:
            i += 1
    return "".join(out), strings


def skipped_spans(code):
    """Spans that are data, not logic: the layout tables and the helpers that
    build their rows (checked by the Qt and system tests, which see the real
    widgets), and compile-time assertions."""
    spans = []
    for m in re.finditer(r"^(?:constexpr|const) (?:ControlSpec|FormSpec|FontSpec)\b", code, re.M):
        spans.append((m.start(), closing(code, code.index("{", m.end()))))
    for m in re.finditer(r"\bstatic_assert\b[^;]*;", code):
        spans.append(m.span())
    return spans


def closing(code, i):
    """Offset just after the bracket that closes the one at i."""
    depth = 0
    for j in range(i, len(code)):
        if code[j] in "([{":
            depth += 1
        elif code[j] in ")]}":
            depth -= 1
            if depth == 0:
                return j + 1
    return len(code)


def statement_end(code, i):
    """Offset just after the ';' that ends the statement starting at i."""
    depth = 0
    while i < len(code):
        c = code[i]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth < 0:
                return None
        elif c == ";" and depth == 0:
            return i + 1
        i += 1
    return None


KEYWORDS = {"if", "for", "while", "switch", "return", "case", "else", "do", "catch", "throw",
            "sizeof", "static_assert", "delete", "new", "using", "namespace", "template",
            "default", "try", "public", "private", "protected", "class", "struct", "enum"}
PATH = r"[A-Za-z_]\w*(?:(?:::|\.|->)[A-Za-z_]\w*|\[[^\]\n]*\])*"
CALL = re.compile(r"(?:[A-Za-z_]\w*(?:::|\.|->))*[A-Za-z_]\w*\(")
ASSIGN = re.compile(PATH + r" (?:=|\+=|-=|\*=|/=|\|=|&=) ")
INCDEC = re.compile(r"(?:\+\+|--)" + PATH + r";|" + PATH + r"(?:\+\+|--);")


def statements(code):
    """(start, end, kind) of every statement that is a bare call, an
    assignment, an increment, a throw or a plain return: the ones whose removal
    leaves a program that still compiles."""
    for m in re.finditer(r"(?<=[;{}:)\n])[ \t]*(?=\S)", code):
        start = m.end()
        prev = code[:m.start()].rstrip(" \t\n\x01")
        label = re.search(r"^\s*(?:case\b[^\n]*|default):$", prev, re.M)
        if prev and prev[-1] not in ";{})" and not prev.endswith("else") and not (
                label and label.end() == len(prev)):
            continue
        if prev.endswith("::") or code.startswith("::", start):
            continue
        rest = code[start:start + 200]
        word = re.match(r"[A-Za-z_]\w*", rest)
        kind = None
        if rest.startswith("throw "):
            kind = "throw"
        elif rest.startswith("return;"):
            kind = "return"
        elif word and word.group() in KEYWORDS:
            continue
        elif CALL.match(rest):
            kind = "call"
        elif ASSIGN.match(rest):
            kind = "assignment"
        elif INCDEC.match(rest):
            kind = "increment"
        if kind is None:
            continue
        end = statement_end(code, start)
        if end is None:
            continue
        body = code[start:end - 1].rstrip()
        if kind == "call" and not body.endswith(")"):
            continue
        yield start, end, kind


# ---- the operators -------------------------------------------------------------

REL = {"==": ["!="], "!=": ["=="], "<": ["<="], "<=": ["<"], ">": [">="], ">=": [">"]}
ARITH = {"+": ["-"], "-": ["+"], "*": ["/"], "/": ["*"]}


def find_mutations(path, text):
    code, strings = blank_non_code(text)
    skipped = skipped_spans(code)

    # A mutant in a header rebuilds every file that includes it, the tests
    # too, some fifteen seconds each: in headers only the inline functions and
    # the named constants are mutated, not plain member initialisers.
    allowed = None
    if path.endswith(".h"):
        allowed = [m.span() for m in re.finditer(r"^inline constexpr [^;]*;", code, re.M)]
        for m in re.finditer(r"\)(?: const)?(?: noexcept)? \{", code):
            allowed.append((m.end(), closing(code, m.end() - 1)))

    def live(pos):
        if allowed is not None and not any(a <= pos < b for a, b in allowed):
            return False
        return not any(a <= pos < b for a, b in skipped)

    def at(pos, end, op, repl):
        if live(pos):
            found.append((pos, end, op, repl))

    found = []
    # Binary operators: clang-format puts spaces around them and none around
    # template brackets, so " < " is a comparison and "<int>" is not.
    for m in re.finditer(r"(?<= )(==|!=|<=|>=|<|>|&&|\|\||\+|-|\*|/)(?= )", code):
        tok = m.group(1)
        line = code[code.rfind("\n", 0, m.start()) + 1:code.find("\n", m.end())]
        if tok in REL:
            for r in REL[tok]:
                at(m.start(), m.end(), "rel", r)
        elif tok in ("&&", "||"):
            at(m.start(), m.end(), "logic", "||" if tok == "&&" else "&&")
        elif '"' not in line:  # "+" on text is concatenation
            for r in ARITH[tok]:
                at(m.start(), m.end(), "arith", r)
    for m in re.finditer(r"!(?=[\w(])", code):
        at(m.start(), m.end(), "not", "")
    for m in re.finditer(r"\b(true|false|kTrue|kFalse)\b(?! =)", code):
        swap = {"true": "false", "false": "true", "kTrue": "kFalse", "kFalse": "kTrue"}
        at(m.start(), m.end(), "bool", swap[m.group()])
    # Decimal constants only: the hexadecimal ones are bit patterns, where one
    # more or less mostly gives a mutant that no input can tell apart; so are
    # buffer sizes and indices in brackets. Both neighbours of a constant that
    # is compared, one otherwise.
    for m in re.finditer(r"(?<![\w.\[])(\d+)([uUlL]*)(?![\w.])", code):
        value = int(m.group(1))
        compared = re.search(r"(?<![<>])(?:[<>]=?|[=!]=) $", code[:m.start()]) or re.match(
            r" (?:[<>]=?|[=!]=) (?![<>])", code[m.end():])
        for v in (value + 1, value - 1) if compared else (value + 1,):
            if v >= 0:  # a negative literal may not fit an unsigned context
                at(m.start(), m.end(), "int", str(v) + m.group(2))
    for a, b in strings:
        if code.rfind("extern", 0, a) > a - 12:  # extern "C"
            continue
        quote = text.index('"', a)
        body = text[quote + 1:b - 1]
        if path in WORDING and not body.isascii():
            continue  # the wording of a description: the numbers are the contract
        if re.search(r"[a-z]+ [a-z]+ [a-z]+", body):
            continue  # an English sentence: its wording and layout are no contract either
        if body:
            # Drop the last character (a whole escape sequence if it is one).
            m = re.search(r"(\\x[0-9a-fA-F]+|\\u[0-9a-fA-F]{4}|\\.|.)$", body, re.S)
            new = text[a:quote + 1] + body[:m.start()] + '"'
        else:
            new = text[a:quote + 1] + 'X"'
        at(a, b, "str", new)
    for start, end, kind in statements(code):
        # Keep the line numbers: the removed statement leaves its newlines.
        at(start, end, "stmt", "{}" + "\n" * text.count("\n", start, end))

    mutants = []
    for start, end, op, repl in sorted(found):
        first = text.rfind("\n", 0, start) + 1
        last = text.find("\n", end - 1)
        last = len(text) if last < 0 else last
        before = text[first:last]
        after = (text[first:start] + repl + text[end:last])
        line = text.count("\n", 0, start) + 1
        mutants.append(Mutant(path, line, op, start, end, repl, before, after))
    return mutants


def show(snippet):
    lines = [s.strip() for s in snippet.split("\n") if s.strip()]
    if not lines:
        return "(nothing)"
    return lines[0] + (" …" if len(lines) > 1 else "")


def assign_ids(mutants):
    seen = {}
    for m in mutants:
        key = (m.path, m.op, m.before.strip(), m.after.strip())
        seen[key] = seen.get(key, 0) + 1
        digest = hashlib.sha1(repr(key + (seen[key],)).encode()).hexdigest()[:8]
        m.id = f"{m.path}@{digest}"


def all_mutants():
    mutants = []
    for folder in PART["folders"]:
        top = ROOT / folder
        for path in [top] if top.is_file() else sorted(top.glob("*")):
            rel = path.relative_to(ROOT).as_posix()
            if path.suffix in (".cpp", ".h") and rel not in PART["skip"]:
                mutants += find_mutations(rel, path.read_text(encoding="utf-8"))
    assign_ids(mutants)
    return mutants


def preset(kind, name):
    """One preset of CMakePresets.json ("configurePresets" or "testPresets")."""
    return next(p for p in json.loads((ROOT / "CMakePresets.json").read_text())[kind]
                if p["name"] == name)


def read_equivalent():
    listed = {}
    if EQUIVALENT.exists():
        for raw in EQUIVALENT.read_text(encoding="utf-8").splitlines():
            raw = raw.strip()
            if raw and not raw.startswith("#"):
                mid, _, reason = raw.partition(" ")
                listed[mid] = reason.strip()
    return listed


# ---- building and running -----------------------------------------------------


class Stop(Exception):
    pass


class Worker:
    def __init__(self, n, timeout, stop):
        self.dir = WORK / PART_NAME / f"w{n}"
        self.src = self.dir / "src"
        self.build = self.dir / f"build-{PART_NAME}"
        self.fuzz_build = self.dir / "build-fuzz"
        self.wine = PART_NAME == "win32"
        self.tmp = self.dir / "tmp"
        self.timeout = timeout
        self.stop = stop
        self.proc = None
        self.env = dict(os.environ, CCACHE_BASEDIR=str(self.src), CCACHE_NOHASHDIR="true",
                        TMPDIR=str(self.tmp), QT_QPA_PLATFORM="offscreen",
                        TALLIMO_BIN=str(self.build / ("tallimo.exe" if self.wine else "tallimo")),
                        TALLIMO_SHOTS=str(self.tmp))
        if self.wine:
            self.env.update(WINE, WINEPREFIX=str(self.dir / "wineprefix"))
        if "address" in PART.get("flags", ""):  # the sanitizers' options of the asan test preset
            self.env.update({k: v.replace("${sourceDir}", str(self.src))
                             for k, v in preset("testPresets", "asan")["environment"].items()})
        self.originals = {}
        self.why = ""  # what failed in the last test run

    def sync(self):
        """Brings the copy up to the checkout, rewriting only what differs so
        that ninja rebuilds no more than it must."""
        wanted = set()
        for top in PART["copied"]:
            src = ROOT / top
            files = [src] if src.is_file() else [p for p in src.rglob("*") if p.is_file()]
            for f in files:
                rel = f.relative_to(ROOT)
                wanted.add(rel)
                dst = self.src / rel
                data = f.read_bytes()
                if not dst.exists() or dst.read_bytes() != data:
                    dst.parent.mkdir(parents=True, exist_ok=True)
                    dst.write_bytes(data)
        for f in [p for p in self.src.rglob("*") if p.is_file()]:
            if f.relative_to(self.src) not in wanted:
                f.unlink()
        self.tmp.mkdir(parents=True, exist_ok=True)
        if self.wine and not (self.dir / "wineprefix").exists():
            if not (PRIMED_PREFIX / "system.reg").exists():
                print("mutate: no Wine prefix yet: run scripts/test-windows.sh once", file=sys.stderr)
                return False
            shutil.copytree(PRIMED_PREFIX, self.dir / "wineprefix", symlinks=True)
        configure = ["cmake", "-S", str(self.src), "-G", "Ninja",
                     "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
        if PART.get("fuzzed") and not (self.fuzz_build / "build.ninja").exists():
            fuzz = preset("configurePresets", "fuzz")["cacheVariables"]
            if self.run(configure + ["-B", str(self.fuzz_build)] +
                        [f"-D{k}={v}" for k, v in fuzz.items()], None) != 0:
                return False
        if (self.build / "build.ninja").exists():
            return True
        return self.run(configure + ["-B", str(self.build), "-DCMAKE_BUILD_TYPE=None",
                                     "-DCMAKE_CXX_FLAGS=" + PART.get("flags", UB_FLAGS),
                                     *(o.format(src=self.src) for o in PART["options"])], None) == 0

    def run(self, cmd, timeout, out=subprocess.DEVNULL):
        if self.stop.is_set():
            raise Stop()
        self.proc = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, env=self.env,
                                     start_new_session=True)
        try:
            rc = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            self.proc.wait()
            rc = None
        finally:
            self.proc = None
        if self.stop.is_set():
            raise Stop()
        return rc

    def kill(self):
        proc = self.proc
        if proc is not None:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.sweep()

    def fuzzers(self, path=None):
        """The fuzzers (by their corpus's name) that reach `path`; all with None."""
        return [t for p, t in PART.get("fuzzed", {}).items() if path in (None, p)]

    def compile(self, path=None):
        targets = [] if PART["scenarios"] else [Path(t).name for t in PART["tests"]]
        fuzzers = [f"fuzz_{t}" for t in self.fuzzers(path)]
        return self.run(["ninja", "-C", str(self.build), "-j", "1", *targets], None) == 0 and (
            not fuzzers or self.run(["ninja", "-C", str(self.fuzz_build), "-j", "1", *fuzzers],
                                    None) == 0)

    def tests_pass(self, path=None):
        """True when every test passes; a crash or a hang is a failure. `why` then
        names the first failing test (a test program's or a scenario row's)."""
        # The fuzzers first, over their corpora alone: they take seconds.
        runs = [(f"fuzz_{t}", [str(self.fuzz_build / "tests/fuzz" / f"fuzz_{t}"), "-runs=0",
                               f"-artifact_prefix={self.tmp}/",
                               str(self.src / "tests/fuzz/corpus" / t)])
                for t in self.fuzzers(path)]
        runs += [(Path(exe).name, ["wine"] * self.wine +
                  [str(self.build / exe), "--gtest_fail_fast", "--gtest_brief=1"])
                 for exe in PART["tests"]]
        if "label" in PART:
            runs.append((PART["label"], ["ctest", "--test-dir", str(self.build), "-L",
                                         PART["label"], "--output-on-failure"]))
        if PART["scenarios"]:  # stopping at the first row that fails
            runs.append(("scenarios", ["dbus-run-session", "--", "/usr/bin/python3", "-B", "-W",
                                       "ignore::ImportWarning",
                                       str(self.src / "tests/system/scenarios.py"), "-f"]))
        for name, argv in runs:
            with SCENARIOS if name == "scenarios" else contextlib.nullcontext():
                rc, failed = self.attempt(argv)
                if rc not in (0, None) and name == "scenarios" and failed:
                    # A kill must repeat: a row that then passes alone failed for the busy
                    # machine, and the whole set runs once more.
                    if self.attempt(argv[:-1] + ["Rows." + failed])[0] == 0:
                        print(f"mutate: {self.dir.name}: {failed} failed once", file=sys.stderr)
                        rc, failed = self.attempt(argv)
            if rc != 0:
                self.why = (failed or name) + (" (hung)" if rc is None else "")
                return False
        return True

    def attempt(self, argv):
        """The exit status (None: hung) and the first failing test's name."""
        shutil.rmtree(self.tmp, ignore_errors=True)
        self.tmp.mkdir()
        with open(self.dir / "last.log", "w+b") as out:
            rc = self.run(argv, self.timeout, out)
            out.seek(0)
            failed = re.search(rb"^(?:\[  FAILED  \] |FAIL: |ERROR: )(\S+)", out.read(), re.M)
        self.sweep()
        return rc, failed and failed[1].decode()

    def sweep(self):
        """Kills what a hung run left behind in sessions of its own (an X server, a
        screen reader): Orca runs once per user, and a stray one fails every later row."""
        mark = f"\0TMPDIR={self.tmp}\0".encode()
        for environ in Path("/proc").glob("[0-9]*/environ"):
            try:
                if mark in b"\0" + environ.read_bytes():
                    os.kill(int(environ.parent.name), signal.SIGKILL)
            except (OSError, ValueError):
                pass

    def apply(self, m):
        target = self.src / m.path
        if m.path not in self.originals:
            self.originals[m.path] = (ROOT / m.path).read_text(encoding="utf-8")
        text = self.originals[m.path]
        target.write_text(text[:m.start] + m.replacement + text[m.end:], encoding="utf-8")

    def restore(self):
        for path, text in self.originals.items():
            (self.src / path).write_text(text, encoding="utf-8")
        self.originals.clear()

    def judge(self, m):
        """'killed', 'survived' or 'uncompilable'."""
        for path in [p for p in self.originals if p != m.path]:
            (self.src / path).write_text(self.originals.pop(path), encoding="utf-8")
        self.apply(m)
        if not self.compile(m.path):
            return "uncompilable"
        return "survived" if self.tests_pass(m.path) else "killed"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--part", choices=PARTS, default="logic", help="what to mutate (logic)")
    ap.add_argument("--file", action="append", default=[],
                    help="only files whose path contains this (repeatable)")
    ap.add_argument("--op", action="append", choices=OPS, help="only this operator (repeatable)")
    ap.add_argument("--limit", type=int, help="a random sample of at most N mutants")
    ap.add_argument("--seed", type=int, default=1, help="the sample's seed (default 1)")
    ap.add_argument("--jobs", type=int, default=2, help="mutants built at once (default 2)")
    ap.add_argument("--timeout", type=float, help="seconds before a test run counts as hung")
    ap.add_argument("--list", action="store_true", help="list the mutants, run nothing")
    ap.add_argument("--verbose", action="store_true", help="print every mutant's outcome")
    args = ap.parse_args()
    global PART, PART_NAME
    PART_NAME, PART = args.part, PARTS[args.part]

    mutants = all_mutants()
    equivalent = read_equivalent()
    known = {m.id for m in mutants}
    for mid in equivalent:
        if mid not in known and mid.startswith(PART["folders"]):
            print(f"mutate: {EQUIVALENT.name}: no such mutant any more: {mid}", file=sys.stderr)
    if args.file:
        mutants = [m for m in mutants if any(f in m.path for f in args.file)]
    if args.op:
        mutants = [m for m in mutants if m.op in args.op]
    skipped = [m for m in mutants if m.id in equivalent]
    mutants = [m for m in mutants if m.id not in equivalent]
    if args.limit is not None and len(mutants) > args.limit:
        # The same sample for the same seed and mutants, in the files' order.
        keep = {m.id for m in random.Random(args.seed).sample(mutants, args.limit)}
        mutants = [m for m in mutants if m.id in keep]

    if args.list:
        for m in mutants:
            print(f"{m.path}:{m.line}: [{m.op}] {show(m.before)}  ->  {show(m.after)}  ({m.id})")
        print(f"{len(mutants)} mutants, {len(skipped)} listed as equivalent")
        return 0

    stop = threading.Event()
    workers = [Worker(n, 0, stop) for n in range(max(1, args.jobs))]
    results = {}
    queue = list(mutants)
    lock = threading.Lock()
    started = time.monotonic()

    def baseline(w):
        if not w.sync() or not w.compile():
            print("mutate: the unmutated sources do not build", file=sys.stderr)
            return
        t0 = time.monotonic()
        w.timeout = 600
        if not w.tests_pass():
            print("mutate: the tests fail on the unmutated sources", file=sys.stderr)
            w.timeout = 0
            return
        w.timeout = args.timeout or max(5.0, PART["slack"] * (time.monotonic() - t0))

    def work(w):
        try:
            while True:
                with lock:
                    if not queue:
                        return
                    m = queue.pop(0)
                outcome = w.judge(m)
                with lock:
                    results[m.id] = outcome
                    done = len(results)
                    if args.verbose:
                        why = f"  by {w.why}" if outcome == "killed" else ""
                        print(f"{outcome:12} {m.path}:{m.line}: {show(m.before)}  ->  "
                              f"{show(m.after)}  ({m.id}){why}", flush=True)
                    elif sys.stderr.isatty():
                        print(f"\r{done}/{len(mutants)}", end="", file=sys.stderr, flush=True)
        except Stop:
            pass
        finally:
            w.restore()

    threads = []
    try:
        print(f"mutate: {len(mutants)} mutants, {len(workers)} workers", file=sys.stderr)
        ready = [threading.Thread(target=baseline, args=(w,)) for w in workers]
        for t in ready:
            t.start()
        for t in ready:
            t.join()
        if not all(w.timeout for w in workers):
            return 1
        threads = [threading.Thread(target=work, args=(w,)) for w in workers]
        for t in threads:
            t.start()
        while any(t.is_alive() for t in threads):
            time.sleep(0.2)
    except KeyboardInterrupt:
        stop.set()
        for w in workers:
            w.kill()
        for t in threads:
            t.join()
        print("\nmutate: interrupted; the copies are restored", file=sys.stderr)
        return 130
    finally:
        for w in workers:
            w.restore()
    if sys.stderr.isatty():
        print(file=sys.stderr)

    survivors = [m for m in mutants if results.get(m.id) == "survived"]
    for m in survivors:
        print(f"{m.path}:{m.line}: {show(m.before)}  ->  {show(m.after)}  ({m.id})")
    killed = sum(1 for r in results.values() if r == "killed")
    broken = sum(1 for r in results.values() if r == "uncompilable")
    counted = len(results) - broken
    total = len(results) + len(skipped)
    score = 100.0 * killed / counted if counted else 100.0
    print(f"{total} mutants: {len(skipped)} equivalent, {broken} uncompilable, "
          f"{len(survivors)} survived, {killed} killed in {time.monotonic() - started:.0f} s")
    print(f"score: {killed} / {counted} killed = {score:.1f}%")
    return 0


if __name__ == "__main__":
    sys.exit(main())
