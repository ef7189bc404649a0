#!/usr/bin/env python3
"""Mutation testing of the portable sources against the native unit tests.

Each mutant is one small fault put into one source file: a boundary or operator swap
(> and >=, < and <=, == and !=, && and ||, "+ 1" and "- 1") or a dropped statement. The script
builds the mutant and runs the unit tests that link that file; a mutant the tests notice
(a failing test, a crash, or a run that outlasts the timeout) is killed, one they do not notice
survived. Mutants that do not compile are reported but not counted.

The source tree is never written to: the tracked files are mirrored into a private folder
(build/mutation/src by default) and mutated there, and one build folder beside it is reused, so a
mutant costs one object recompile and the relink of the tests that use it.

    scripts/mutate.py                          # the default files
    scripts/mutate.py dmi/dmi_reader.cpp --only 262 --only 300
    scripts/mutate.py --list app/language_library.cpp   # show the mutants, build nothing

Standard library only.
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

DEFAULT_FILES = [
    "dmi/dmi_reader.cpp",
    "app/identification_flow.cpp",
    "app/language_library.cpp",
    "launcher/launch_path.cpp",
    "hw/admin_check.cpp",
    "hw/driver_service.cpp",
]

# The native unit tests: a build target and how to run it ({bin}: the build's bin folder,
# {src}: the mirrored tree). A test runs for a file when its target links that file.
UNIT_TESTS = [
    ("dmi_tests", ["{bin}/dmi_tests", "--gtest_fail_fast", "--gtest_brief=1"]),
    ("app_flow_tests", ["{bin}/app_flow_tests", "--gtest_fail_fast", "--gtest_brief=1"]),
    ("launcher_text_tests", ["{bin}/launcher_text_tests", "--gtest_fail_fast", "--gtest_brief=1"]),
    ("hw_tests", ["{bin}/hw_tests", "--gtest_fail_fast", "--gtest_brief=1"]),
    ("dmiread", ["bash", "{src}/tests/dmi/dmiread_cli_test.sh", "{bin}/dmiread",
                 "{src}/tests/data/tables"]),
]

# ---------------------------------------------------------------------------------------------
# A small C++ lexer: enough to find operators and statements outside comments, literals and
# preprocessor lines.

PUNCTUATORS = sorted(
    """>>= <<= ->* ... -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= ::
    { } [ ] ( ) ; : , . ? ~ ! + - * / % ^ & | = < > #""".split(),
    key=len, reverse=True)
IDENT_RE = re.compile(r"[A-Za-z_][A-Za-z_0-9]*")
NUMBER_RE = re.compile(r"(?:0[xX][0-9A-Fa-f']+|\d[\d']*(?:\.\d*)?(?:[eE][+-]?\d+)?)[uUlLfF]*")


@dataclass
class Token:
    kind: str  # ident, number, string, char, punct
    text: str
    start: int
    end: int
    line: int


def lex(source):
    tokens = []
    i, n, line = 0, len(source), 1
    at_line_start = True
    while i < n:
        c = source[i]
        if c == "\n":
            line += 1
            i += 1
            at_line_start = True
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if at_line_start and c == "#":
            # A preprocessor line, with its continuations: never mutated.
            while i < n and source[i] != "\n":
                if source[i] == "\\" and i + 1 < n and source[i + 1] == "\n":
                    line += 1
                    i += 1
                i += 1
            continue
        at_line_start = False
        if source.startswith("//", i):
            while i < n and source[i] != "\n":
                i += 1
            continue
        if source.startswith("/*", i):
            j = source.find("*/", i + 2)
            j = n if j < 0 else j + 2
            line += source.count("\n", i, j)
            i = j
            continue
        m = re.match(r'(?:u8|u|U|L)?R"([^()\\ ]{0,16})\(', source[i:i + 24])
        if m:  # raw string literal
            close = ")" + m.group(1) + '"'
            j = source.find(close, i + m.end())
            j = n if j < 0 else j + len(close)
            tokens.append(Token("string", source[i:j], i, j, line))
            line += source.count("\n", i, j)
            i = j
            continue
        m = re.match(r"(?:u8|u|U|L)?(['\"])", source[i:i + 3])
        if m and (m.start(1) == 0 or IDENT_RE.match(source, i).end() == i + m.start(1)):
            quote = m.group(1)
            j = i + m.end()
            while j < n and source[j] != quote and source[j] != "\n":
                j += 2 if source[j] == "\\" else 1
            j = min(j + 1, n)
            tokens.append(Token("string" if quote == '"' else "char", source[i:j], i, j, line))
            i = j
            continue
        m = IDENT_RE.match(source, i)
        if m:
            tokens.append(Token("ident", m.group(), i, m.end(), line))
            i = m.end()
            continue
        m = NUMBER_RE.match(source, i)
        if m:
            tokens.append(Token("number", m.group(), i, m.end(), line))
            i = m.end()
            continue
        for p in PUNCTUATORS:
            if source.startswith(p, i):
                tokens.append(Token("punct", p, i, i + len(p), line))
                i += len(p)
                break
        else:
            i += 1  # a stray character: not ours to judge
    return tokens


# ---------------------------------------------------------------------------------------------
# Mutants

@dataclass
class Mutant:
    path: str
    line: int
    start: int
    end: int
    replacement: str
    description: str
    nth: int = 0  # which of several same mutations on one line, from 1; 0 when alone

    def key(self, source):
        """Names the mutant by its code rather than its line number, so that a list of known
        equivalent mutants survives edits elsewhere in the file."""
        lines = source.split("\n")
        text = lines[self.line - 1].strip()
        if self.description.startswith("dropped"):
            before = next((l.strip() for l in reversed(lines[:self.line - 1])
                           if l.strip() and not l.strip().startswith("//")), "")
            text = f"{before} / {text}"
        return f"{text} :: {self.description}" + (f" #{self.nth}" if self.nth else "")

    def apply(self, source):
        return source[:self.start] + self.replacement + source[self.end:]

    def where(self, source):
        """file:line:column, the column counted from 1."""
        return f"{self.path}:{self.line}:{self.start - source.rfind(chr(10), 0, self.start)}"


CASTS = {"static_cast", "reinterpret_cast", "const_cast", "dynamic_cast", "template"}
# Tokens that may appear between the brackets of a template argument list.
TEMPLATE_INNER = {"::", ",", "*", "&", "const", "unsigned", "signed", "long", "short", "int",
                  "char", "bool", "void", "volatile", "typename"}


def template_brackets(tokens):
    """Indices of tokens that are template angle brackets, not comparisons."""
    brackets = set()
    for i, t in enumerate(tokens):
        if t.text != "<" or i == 0:
            continue
        before = tokens[i - 1]
        if before.kind != "ident":
            continue
        depth, j, inner = 0, i, []
        closing = None
        while j < len(tokens):
            u = tokens[j]
            if u.text == "<":
                depth += 1
                inner.append(j)
            elif u.text == ">":
                depth -= 1
                inner.append(j)
                if depth == 0:
                    closing = j
                    break
            elif u.text == ">>":
                depth -= 2
                if depth <= 0:
                    closing = j
                    break
            elif not (u.kind in ("ident", "number") or u.text in TEMPLATE_INNER):
                break
            j += 1
        if closing is None:
            continue
        after = tokens[closing + 1].text if closing + 1 < len(tokens) else ""
        if before.text in CASTS or after in ("(", "::", "{", ">", "&", "*", ")", ",", ";") or \
                (closing + 1 < len(tokens) and tokens[closing + 1].kind == "ident"):
            brackets.add(i)
            brackets.update(inner)
    return brackets


SWAPS = {">": ">=", ">=": ">", "<": "<=", "<=": "<", "==": "!=", "!=": "==", "&&": "||",
         "||": "&&"}
OPERAND_END = {")", "]"}
ONE_RE = re.compile(r"1[uUlL]*$")


def operator_mutants(path, tokens):
    brackets = template_brackets(tokens)
    mutants = []
    for i, t in enumerate(tokens):
        if t.kind != "punct" or i in brackets:
            continue
        if t.text in SWAPS:
            if t.text == "&&" and i + 1 < len(tokens) and tokens[i + 1].text in (")", ",", "="):
                continue  # an rvalue reference in a declaration
            mutants.append(Mutant(path, t.line, t.start, t.end, SWAPS[t.text],
                                  f"'{t.text}' -> '{SWAPS[t.text]}'"))
        elif t.text in ("+", "-") and 0 < i < len(tokens) - 1:
            prev, nxt = tokens[i - 1], tokens[i + 1]
            binary = prev.kind in ("ident", "number", "char") or prev.text in OPERAND_END
            if binary and prev.text not in ("return", "case") and nxt.kind == "number" \
                    and ONE_RE.match(nxt.text):
                other = "-" if t.text == "+" else "+"
                mutants.append(Mutant(path, t.line, t.start, t.end, other,
                                      f"'{t.text} {nxt.text}' -> '{other} {nxt.text}'"))
    return mutants


SCOPE_WORDS = {"namespace", "struct", "class", "enum", "union", "extern"}
DECL_WORDS = {"const", "constexpr", "static", "auto", "unsigned", "signed", "int", "bool", "char",
              "long", "short", "double", "float", "void", "struct", "typename", "using",
              "typedef", "enum", "class", "template", "inline", "thread_local", "volatile"}
COMPOUND = {"if", "while", "for", "switch"}
STATEMENT_WORDS = {"return", "break", "continue", "goto", "throw", "delete", "co_return"}


def skip_group(tokens, i):
    """Index after the bracketed group that starts at tokens[i]."""
    pairs = {"(": ")", "[": "]", "{": "}"}
    stack = []
    while i < len(tokens):
        t = tokens[i].text
        if t in pairs:
            stack.append(pairs[t])
        elif stack and t == stack[-1]:
            stack.pop()
            if not stack:
                return i + 1
        i += 1
    return i


def is_declaration(tokens, i, end):
    t = tokens[i]
    if t.text in DECL_WORDS:
        return True
    if t.kind != "ident" or t.text in STATEMENT_WORDS:
        return False
    # A qualified type name, maybe with template arguments, then *, & or const, then a name.
    j = i + 1
    while j < end and tokens[j].text == "::" and j + 1 < end:
        j += 2
    if j < end and tokens[j].text == "<":
        depth = 0
        while j < end:
            if tokens[j].text == "<":
                depth += 1
            elif tokens[j].text == ">":
                depth -= 1
                if depth == 0:
                    break
            j += 1
        j += 1
    while j < end and tokens[j].text in ("*", "&", "const"):
        j += 1
    return j < end and tokens[j].kind == "ident"


def statement_mutants(path, tokens):
    """Drops of simple statements inside function bodies (replaced by an empty block)."""
    mutants = []
    # Stack of block kinds: "code" for a function or statement block, "scope" otherwise.
    stack = []
    i = 0
    n = len(tokens)
    at_start = True  # at the beginning of a statement

    def block_kind(k):
        # Look back from the "{" at tokens[k] to the previous ; { or }.
        j = k - 1
        while j >= 0 and tokens[j].text not in (";", "{", "}"):
            if tokens[j].text in SCOPE_WORDS:
                return "scope"
            j -= 1
        if stack and stack[-1] == "code":
            return "code"
        prev = tokens[k - 1].text if k > 0 else ""
        if prev in (")", "const", "override", "noexcept", "else", "do", "try"):
            return "code"
        return "scope"

    while i < n:
        t = tokens[i]
        in_code = bool(stack) and stack[-1] == "code"
        if t.text == "{":
            stack.append(block_kind(i))
            i += 1
            at_start = True
            continue
        if t.text == "}":
            if stack:
                stack.pop()
            i += 1
            at_start = True
            continue
        if not in_code:
            # Declarations at namespace or class scope: step over them whole, initializers and
            # all, but enter function bodies.
            if t.text in ("(", "["):
                i = skip_group(tokens, i)
            else:
                i += 1
            continue
        if t.text in COMPOUND:
            i = skip_group(tokens, i + 1)  # the header; the body is a statement of its own
            at_start = True
            continue
        if t.text in ("else", "do", "try"):
            i += 1
            at_start = True
            continue
        if t.text in ("case", "default"):
            while i < n and tokens[i].text != ":":
                i += 1
            i += 1
            at_start = True
            continue
        # A simple statement: up to its ";" outside brackets.
        j = i
        while j < n and tokens[j].text != ";":
            if tokens[j].text in ("(", "[", "{"):
                j = skip_group(tokens, j)
            elif tokens[j].text == "}":
                break
            else:
                j += 1
        if j >= n or tokens[j].text != ";":
            i = j
            continue
        closes_function = (j + 1 < n and tokens[j + 1].text == "}" and len(stack) >= 1 and
                           (len(stack) == 1 or stack[-2] == "scope"))
        droppable = at_start and not is_declaration(tokens, i, j)
        if t.text == "return" and closes_function:
            droppable = False  # the function's last return: the mutant would not be a program
        if droppable:
            text = " ".join(tok.text for tok in tokens[i:j + 1])
            if len(text) > 60:
                text = text[:57] + "..."
            mutants.append(Mutant(path, t.line, t.start, tokens[j].end, "{}",
                                  f"dropped '{text}'"))
        i = j + 1
        at_start = True
    return mutants


def mutants_for(path, source):
    tokens = lex(source)
    found = sorted(operator_mutants(path, tokens) + statement_mutants(path, tokens),
                   key=lambda m: (m.start, m.end))
    same = {}
    for m in found:
        same.setdefault((m.line, m.description), []).append(m)
    for group in same.values():
        if len(group) > 1:
            for k, m in enumerate(group, 1):
                m.nth = k
    return found


def read_equivalents(path):
    """Known equivalent mutants: {(file, key): reason}. Lines read "file: key  ## reason"."""
    known = {}
    if not path.is_file():
        return known
    for number, line in enumerate(path.read_text().splitlines(), 1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        head, sep, reason = line.partition("  ## ")
        file, colon, key = head.partition(": ")
        if not sep or not colon or not reason.strip():
            sys.exit(f"mutate: {path}:{number}: expected 'file: key  ## reason'")
        known[(file.strip(), key.strip())] = reason.strip()
    return known


# ---------------------------------------------------------------------------------------------
# The private tree and build

def tracked_files(repo):
    out = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                         cwd=repo, check=True, capture_output=True).stdout
    return [p for p in out.decode().split("\0") if p]


def mirror_tree(repo, mirror):
    """Copies the working tree's files into the mirror, leaving unchanged files (and their
    times) alone so that the build stays incremental."""
    for rel in tracked_files(repo):
        src = repo / rel
        if not src.is_file():
            continue
        dst = mirror / rel
        data = src.read_bytes()
        if dst.is_file() and dst.read_bytes() == data:
            continue
        dst.parent.mkdir(parents=True, exist_ok=True)
        dst.write_bytes(data)
        shutil.copymode(src, dst)


def run(cmd, timeout=None, cwd=None):
    """Runs cmd in its own process group; returns (returncode, output), returncode None on
    timeout (the whole group is killed)."""
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out.decode(errors="replace")
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return None, out.decode(errors="replace")


class Build:
    def __init__(self, mirror, build_dir, jobs, corpus, sanitize):
        self.mirror, self.dir, self.jobs = mirror, build_dir, jobs
        args = ["cmake", "-S", str(mirror), "-B", str(build_dir), "-G", "Ninja",
                "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DZYN_BENCHMARKS=OFF",
                # A mutant that only draws a warning is still a program: test it.
                "-DZYN_WERROR=OFF",
                # But one that falls off the end of a function is not a program.
                "-DCMAKE_CXX_FLAGS=-Werror=return-type",
                f"-DZYN_SANITIZE={'ON' if sanitize else 'OFF'}"]
        if corpus:
            args.append(f"-DZYN_CORPUS_DIR={corpus}")
        code, out = run(args)
        if code != 0:
            sys.exit(f"mutate: configuring the private build failed:\n{out}")
        commands = json.loads((build_dir / "compile_commands.json").read_text())
        self.objects = {}
        for entry in commands:
            m = re.search(r"-o (\S+)", entry["command"])
            if m:
                self.objects.setdefault(str(Path(entry["file"]).resolve()), []).append(
                    build_dir / m.group(1))

    def tests_for(self, source):
        """The unit tests whose targets link source: (target path, command) pairs."""
        chosen = []
        for target, cmd in UNIT_TESTS:
            code, out = run(["ninja", "-C", str(self.dir), "-t", "inputs", f"bin/{target}"])
            if code == 0 and str(source.resolve()) in out.split():
                fill = {"bin": str(self.dir / "bin"), "src": str(self.mirror)}
                chosen.append((f"bin/{target}", [c.format(**fill) for c in cmd]))
        return chosen

    def build(self, source, targets):
        # Remove the object so that it is rebuilt even when a mutant is written within the
        # file system's time resolution of the last build.
        for obj in self.objects.get(str(source.resolve()), []):
            obj.unlink(missing_ok=True)
        code, out = run(["ninja", "-C", str(self.dir), f"-j{self.jobs}", *targets])
        return code == 0, out


def run_tests(tests, timeout):
    """'passed', 'failed' or 'timeout' for the first test that does not pass."""
    for _, cmd in tests:
        code, _ = run(cmd, timeout=timeout)
        if code is None:
            return "timeout"
        if code != 0:
            return "failed"
    return "passed"


# ---------------------------------------------------------------------------------------------

def parse_args():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("files", nargs="*", default=DEFAULT_FILES,
                    help="sources to mutate, relative to the repository (default: %(default)s)")
    ap.add_argument("--jobs", "-j", type=int, default=2, help="build jobs (default 2)")
    ap.add_argument("--only", type=int, action="append", metavar="LINE",
                    help="only mutants on this line (repeatable)")
    ap.add_argument("--timeout", type=float,
                    help="seconds per test run (default: 5 times the unmutated run, at least 10)")
    ap.add_argument("--workdir", type=Path,
                    help="private mirror and build (default: build/mutation in the repository)")
    ap.add_argument("--corpus", type=Path,
                    help="real-table folder for the corpus tests (default: ../shared/smbios-corpus "
                         "beside the repository, when present)")
    ap.add_argument("--asan", action="store_true",
                    help="build with AddressSanitizer and UBSan (slower; memory faults kill)")
    ap.add_argument("--equivalent", type=Path,
                    help="known equivalent survivors (default: scripts/mutate-equivalent.txt)")
    ap.add_argument("--list", action="store_true", help="list the mutants and exit")
    ap.add_argument("--verbose", "-v", action="store_true", help="print every mutant's outcome")
    return ap.parse_args()


def main():
    args = parse_args()
    repo = Path(subprocess.run(["git", "rev-parse", "--show-toplevel"], check=True,
                               capture_output=True, text=True,
                               cwd=Path(__file__).resolve().parent).stdout.strip())
    sources = {}
    for rel in args.files:
        path = (repo / rel).resolve()
        if not path.is_file():
            sys.exit(f"mutate: no such file: {rel}")
        rel = str(path.relative_to(repo))
        sources[rel] = path.read_text()

    plans = {}
    for rel, text in sources.items():
        found = mutants_for(rel, text)
        if args.only:
            found = [m for m in found if m.line in args.only]
        plans[rel] = found
    known = read_equivalents(args.equivalent or repo / "scripts" / "mutate-equivalent.txt")
    if args.list:
        for rel, found in plans.items():
            for m in found:
                print(f"{m.where(sources[rel])}: {m.key(sources[rel])}")
            print(f"{rel}: {len(found)} mutants")
        return 0

    started = time.monotonic()
    workdir = (args.workdir or repo / "build" / "mutation").resolve()
    mirror = workdir / "src"
    corpus = args.corpus
    if corpus is None and (repo.parent / "shared" / "smbios-corpus").is_dir():
        corpus = (repo.parent / "shared" / "smbios-corpus").resolve()
    mirror_tree(repo, mirror)
    build = Build(mirror, workdir / ("build-asan" if args.asan else "build"), args.jobs, corpus,
                  args.asan)

    summary = []
    for rel, found in plans.items():
        target_file = mirror / rel
        original = sources[rel]
        tests = build.tests_for(target_file)
        if not tests:
            print(f"{rel}: no unit test links this file; skipped")
            continue
        targets = [t for t, _ in tests]
        ok, out = build.build(target_file, targets)
        if not ok:
            sys.exit(f"mutate: the unmutated tree does not build:\n{out}")
        t0 = time.monotonic()
        if run_tests(tests, timeout=600) != "passed":
            sys.exit(f"mutate: the unit tests fail on the unmutated {rel}; fix them first")
        timeout = args.timeout or max(10.0, 5 * (time.monotonic() - t0))
        names = ", ".join(Path(t).name for t in targets)
        print(f"{rel}: {len(found)} mutants, tests: {names}, timeout {timeout:.0f} s", flush=True)

        killed, survived, equivalent, broken = [], [], [], []
        try:
            for m in found:
                target_file.write_text(m.apply(original))
                ok, _ = build.build(target_file, targets)
                if not ok:
                    broken.append(m)
                    outcome = "does not compile"
                else:
                    result = run_tests(tests, timeout)
                    if result == "passed" and (rel, m.key(original)) in known:
                        equivalent.append(m)
                        outcome = "survived, known equivalent"
                    elif result == "passed":
                        survived.append(m)
                        outcome = f"SURVIVED\n      {rel}: {m.key(original)}"
                    else:
                        killed.append(m)
                        outcome = "killed" + (" (timeout)" if result == "timeout" else "")
                if args.verbose or outcome.startswith("SURVIVED"):
                    print(f"  {m.where(original)}: {m.description}: {outcome}", flush=True)
        finally:
            target_file.write_text(original)
        counted = len(killed) + len(survived) + len(equivalent)
        score = 100.0 * len(killed) / counted if counted else 100.0
        print(f"{rel}: mutants {counted}, killed {len(killed)}, survived {len(survived)} "
              f"+ {len(equivalent)} known equivalent, compile failures {len(broken)} "
              f"(not counted), score {score:.1f} %", flush=True)
        summary.append((rel, counted, len(killed), len(survived), len(equivalent), len(broken),
                        score))
        # Leave the private build matching the tree for the next file or run.
        build.build(target_file, targets)

    print()
    # score: killed of all mutants that compiled; without equivalents: of those that are not
    # known to be equivalent.
    print(f"{'file':30} {'mutants':>7} {'killed':>6} {'survived':>8} {'equiv.':>6} "
          f"{'no-compile':>10} {'score':>6} {'w/o equiv.':>10}")
    for rel, counted, k, s, e, b, score in summary:
        real = 100.0 * k / (counted - e) if counted > e else 100.0
        print(f"{rel:30} {counted:7} {k:6} {s:8} {e:6} {b:10} {score:5.1f}% {real:9.1f}%")
    print(f"time {time.monotonic() - started:.0f} s")
    # Fails while a survivor is neither killed nor known to be equivalent.
    return 0 if all(row[3] == 0 for row in summary) else 1


if __name__ == "__main__":
    sys.exit(main())
