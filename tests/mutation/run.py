#!/usr/bin/env python3
"""Mutation testing: how many single faults in the sources the suite catches.

A seeded sample of mutants over the sources under src/ (C++ sources and
headers, and the C++ code sections of the scanner and grammar files), drawn
in proportion to each file's size. Each mutant in turn is written into a
private copy of the tree, built incrementally in that copy's own build
directory and put to the whole test suite under a watchdog; then the file is
restored. The checkout itself is only ever read, so an interrupted run
leaves nothing behind in it, and the next run first brings the private copy
back in line with the checkout.

    tests/mutation/run.py --sample 200 --seed 23      # the measurement
    tests/mutation/run.py --sample 10 --list          # what would be run

A mutant is caught when the suite fails or hangs, survives when it passes,
and is counted apart when it does not compile. Mutants named in
tests/mutation/equivalent.txt (reviewed: they change no behaviour, or only
speed) are reported but left out of the shares.
"""

import argparse
import concurrent.futures
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
EQUIVALENT = HERE / "equivalent.txt"
OPERATORS = ("relational", "logical", "plus-one", "minus-one", "constant", "delete", "return")


@dataclass
class Mutant:
    file: str  # relative to the tree, e.g. src/loadfile/text.cpp
    line: int  # 1-based
    operator: str
    original: str  # the whole line as it stands
    mutated: str  # the whole line as the mutant has it
    after: str = ""  # the nearest line above that is not blank, as it stands
    index: int = 0  # place in the sample
    outcome: str = ""  # caught, survived, hang, no-build, equivalent
    seconds: float = 0.0
    log: str = ""

    def key(self):
        """What identifies the mutant across edits elsewhere in the file."""
        return (self.file, self.operator, self.original.strip(), self.mutated.strip())

    @property
    def library(self):
        """The folder under src/: velalib, loadfile, rowfan (or common)."""
        parts = Path(self.file).parts
        return parts[1] if len(parts) > 2 else "other"


# ---------------------------------------------------------------- the sites

def code_lines(path: Path):
    """(line number, text) of each line that holds C++ code to mutate.

    Comments and the text of string literals are blanked (same length, so
    columns still match the real line); preprocessor lines are left out. In
    a scanner or grammar file only the C++ sections count: %{ %}, %top{ },
    %code { } and what follows the second %%; the rules in between are
    patterns and grammar, not C++."""
    text = path.read_text(encoding="utf-8", errors="surrogateescape")
    lines = text.split("\n")
    generator = path.suffix in (".l", ".y")
    in_code = not generator
    sections = 0
    depth = 0  # braces open in a %top or %code block; 0 in a %{ %} block
    in_comment = False
    for number, line in enumerate(lines, 1):
        stripped = line.strip()
        if generator and sections < 2:
            if stripped == "%%":
                sections += 1
                in_code = sections >= 2
                continue
            if not in_code:
                if stripped == "%{":
                    in_code, depth = True, 0
                elif re.match(r"^%(top|code)\b.*\{$", stripped):
                    in_code, depth = True, 1
                continue
            if depth == 0 and stripped == "%}":
                in_code = False
                continue
        if not in_code:
            continue
        blanked, in_comment = blank_out(line, in_comment)
        if depth > 0:
            depth += blanked.count("{") - blanked.count("}")
            if depth <= 0:
                in_code = False
                continue
        if not blanked.strip() or blanked.lstrip().startswith("#"):
            continue
        yield number, line, blanked


def blank_out(line: str, in_comment: bool):
    """The line with comments, string and character literals' contents
    replaced by blanks; and whether a block comment is still open."""
    out = []
    i = 0
    n = len(line)
    while i < n:
        if in_comment:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (n - i))
                return "".join(out), True
            out.append(" " * (end + 2 - i))
            i = end + 2
            in_comment = False
            continue
        c = line[i]
        if line.startswith("//", i):
            out.append(" " * (n - i))
            break
        if line.startswith("/*", i):
            in_comment = True
            continue
        if c in "\"'":
            # A raw string or a literal spanning lines is rare here: the rest
            # of the line is then taken as literal.
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            j = min(j, n - 1)
            out.append(c + "\0" * (j - i - 1) + line[j])
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out), in_comment


RELATIONAL = {" < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ", " == ": " != ", " != ": " == "}
LOGICAL = {" && ": " || ", " || ": " && "}
DECLARATION = re.compile(r"^(?:[\w:]+(?:<[^;=]*>)?[\s*&]+)+\**&?\w+\s*(?:=|\(|\{|;|\[)")
INTEGER = re.compile(r"(?<![\w.'])(\d+)(?![\w.'])")
CHARACTER = re.compile(r"'(\x00+)'")
NOT_STATEMENT = ("return", "break", "continue", "using", "typedef", "static_assert", "namespace",
                 "struct", "class", "enum", "case", "default", "template", "friend", "public",
                 "private", "protected", "delete", "extern", "goto", "co_")


def sites(tree: Path, relative: str):
    """Every mutant of one file, in line order."""
    path = tree / relative
    previous = ""
    for number, line, code in code_lines(path):
        def mutant(operator, start, end, replacement):
            return Mutant(relative, number, operator, line, line[:start] + replacement + line[end:])

        for table, operator in ((RELATIONAL, "relational"), (LOGICAL, "logical")):
            for old, new in table.items():
                for at in find_all(code, old):
                    yield mutant(operator, at, at + len(old), new)
        for m in re.finditer(r"!(?![=])(?=[\w(*])", code):
            if m.start() > 0 and code[m.start() - 1] in "!=":
                continue
            yield mutant("logical", m.start(), m.end(), "")
        for m in INTEGER.finditer(code):
            value = int(m.group(1))
            if code[max(0, m.start() - 2):m.start()] == "0x":
                continue
            yield mutant("plus-one", m.start(), m.end(), str(value + 1))
            if value > 0:
                yield mutant("minus-one", m.start(), m.end(), str(value - 1))
            if value > 1:
                yield mutant("constant", m.start(), m.end(), "0")
        for m in re.finditer(r"\b(true|false)\b", code):
            yield mutant("constant", m.start(), m.end(), "false" if m.group(1) == "true" else "true")
        for m in re.finditer(r"'([^\\'])'", line):
            if code[m.start():m.end()] == "'\0'":
                yield mutant("constant", m.start() + 1, m.end() - 1, chr(ord(m.group(1)) + 1))
        body = code.strip()
        indent = line[:len(line) - len(line.lstrip())]
        if (body.startswith("return ") and body.endswith(";") and balanced(body)
                and body[len("return "):-1].strip() not in ("0", "{}", "nullptr", "false")):
            yield Mutant(relative, number, "return", line, indent + "return {};")
        elif (body.endswith(";") and balanced(body) and not body.startswith(NOT_STATEMENT)
              and not DECLARATION.match(body)
              and (not previous or previous.endswith((";", "{", "}")))
              and not body.startswith(("}", "{", ")", ":", "?", "<<", "+", "-", "&&", "||"))):
            yield Mutant(relative, number, "delete", line, indent + ";")
        if body:
            previous = body


def find_all(text, needle):
    at = text.find(needle)
    while at >= 0:
        yield at
        at = text.find(needle, at + 1)


def balanced(text):
    return text.count("(") == text.count(")") and text.count("{") == text.count("}")


def source_files(tree: Path):
    files = []
    for path in sorted((tree / "src").rglob("*")):
        if path.suffix in (".cpp", ".h", ".l", ".y") and path.is_file():
            files.append(path.relative_to(tree).as_posix())
    return files


def sample(tree: Path, count: int, seed: int):
    """`count` distinct mutants: a file drawn with a chance in proportion to
    its lines of code, then one of the operators it offers, then one of that
    operator's sites in the file."""
    rng = random.Random(seed)
    pool = {}
    weight = {}
    for relative in source_files(tree):
        found = list(sites(tree, relative))
        if found:
            pool[relative] = found
            weight[relative] = sum(1 for _ in code_lines(tree / relative))
    chosen = []
    while len(chosen) < count and pool:
        files = sorted(pool)
        relative = rng.choices(files, [weight[f] for f in files])[0]
        candidates = pool[relative]
        operator = rng.choice(sorted({m.operator for m in candidates}))
        of_operator = [m for m in candidates if m.operator == operator]
        picked = rng.choice(of_operator)
        candidates.remove(picked)
        if not candidates:
            del pool[relative]
        picked.index = len(chosen) + 1
        picked.after = line_above(tree / relative, picked.line)
        chosen.append(picked)
    return chosen


def line_above(path: Path, number: int):
    """The nearest line above line `number` that is not blank, stripped: it
    tells apart mutants of lines that read the same."""
    lines = path.read_text(encoding="utf-8", errors="surrogateescape").split("\n")
    for line in reversed(lines[:number - 1]):
        if line.strip():
            return line.strip()
    return ""


# ----------------------------------------------------- the reviewed list

def read_equivalents(path: Path):
    """The reviewed mutants: blocks of `file:`, `operator:`, `line:`,
    `mutant:`, `reason:` and, where lines read the same, `after:` lines,
    separated by blank lines. Returns {key: [(after or None, reason)]}."""
    entries = {}
    if not path.exists():
        return entries
    block = {}
    for raw in path.read_text(encoding="utf-8").split("\n") + [""]:
        if raw.startswith("#"):
            continue
        if not raw.strip():
            if block:
                missing = {"file", "operator", "line", "mutant", "reason"} - block.keys()
                if missing:
                    sys.exit(f"{path}: entry {block} lacks {', '.join(sorted(missing))}")
                key = (block["file"], block["operator"], block["line"], block["mutant"])
                entries.setdefault(key, []).append((block.get("after"), block["reason"]))
            block = {}
            continue
        if raw[0] in " \t" and block:
            # A long reason runs on over indented lines.
            last = list(block)[-1]
            block[last] += " " + raw.strip()
            continue
        name, _, value = raw.partition(":")
        block[name.strip()] = value.strip()
    return entries


def is_reviewed(m: Mutant, equivalents):
    """On the reviewed list: an entry with the mutant's key whose `after:`,
    if it has one, is the line above the mutant's."""
    return any(after is None or after == m.after for after, _ in equivalents.get(m.key(), []))


def as_entry(m: Mutant, reason="..."):
    return (f"file: {m.file}\noperator: {m.operator}\nline: {m.original.strip()}\n"
            f"after: {m.after}\nmutant: {m.mutated.strip()}\nreason: {reason}\n")


# ------------------------------------------------------------- the runs

def run(command, log, timeout=None, **kwargs):
    """Runs `command` in its own process group, its output appended to
    `log`; returns its status, or None when the watchdog ended it."""
    with open(log, "a", encoding="utf-8") as out:
        out.write(f"$ {' '.join(map(str, command))}\n")
        out.flush()
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, start_new_session=True, **kwargs)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            out.write(f"\n*** watchdog: no end after {timeout:.0f} s\n")
            return None
        except BaseException:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            raise


def checkout_files():
    """The checkout's files as the user has them: tracked and new, not
    ignored (so no build directory)."""
    try:
        listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                                cwd=ROOT, check=True, capture_output=True).stdout
        return [f for f in listed.decode().split("\0") if f and (ROOT / f).is_file()]
    except (OSError, subprocess.CalledProcessError):
        return [p.relative_to(ROOT).as_posix() for p in ROOT.rglob("*")
                if p.is_file() and not p.relative_to(ROOT).parts[0].startswith(("build", ".git"))]


def sync_tree(tree: Path):
    """Makes `tree` a copy of the checkout. Only files whose bytes differ are
    written, so the build directory's objects stay valid, and a mutant that
    an interrupted run left in the copy is undone here."""
    wanted = set(checkout_files())
    for relative in sorted(wanted):
        source, copy = ROOT / relative, tree / relative
        data = source.read_bytes()
        if copy.is_file() and copy.read_bytes() == data:
            continue
        copy.parent.mkdir(parents=True, exist_ok=True)
        copy.write_bytes(data)
        shutil.copymode(source, copy)
    for path in sorted(tree.rglob("*"), reverse=True):
        relative = path.relative_to(tree).as_posix()
        if path.is_file() and relative not in wanted:
            path.unlink()
        elif path.is_dir() and not any(path.iterdir()):
            path.rmdir()


@dataclass
class Slot:
    """One private tree with its build directory; one mutant at a time."""
    tree: Path
    build: Path
    cmake_args: list
    suite_seconds: float = 0.0
    lock: threading.Lock = field(default_factory=threading.Lock)

    def prepare(self, log: Path):
        self.tree.mkdir(parents=True, exist_ok=True)
        sync_tree(self.tree)
        if run(["cmake", "-S", self.tree, "-B", self.build, *self.cmake_args], log) != 0:
            sys.exit(f"configuring {self.build} failed; see {log}")
        if run(["cmake", "--build", self.build, "-j1"], log) != 0:
            sys.exit(f"building the unchanged tree failed; see {log}")
        start = time.monotonic()
        if run(["ctest", "--test-dir", self.build, "-j1", "--output-on-failure"], log) != 0:
            sys.exit(f"the suite fails on the unchanged tree; see {log}")
        self.suite_seconds = time.monotonic() - start

    def try_mutant(self, m: Mutant, logs: Path):
        log = logs / f"mutant-{m.index:03d}.log"
        log.write_text(f"{m.file}:{m.line} {m.operator}\n- {m.original}\n+ {m.mutated}\n\n",
                       encoding="utf-8")
        m.log = log.as_posix()
        path = self.tree / m.file
        original = path.read_bytes()
        lines = original.decode("utf-8", errors="surrogateescape").split("\n")
        if lines[m.line - 1] != m.original:
            m.outcome = "stale"
            return m
        lines[m.line - 1] = m.mutated
        start = time.monotonic()
        try:
            path.write_bytes("\n".join(lines).encode("utf-8", errors="surrogateescape"))
            if run(["cmake", "--build", self.build, "-j1"], log, timeout=3600) != 0:
                m.outcome = "no-build"
            else:
                # A hang counts as caught: each test, and the whole suite,
                # may take several times the unchanged suite's time.
                watchdog = max(120.0, 4 * self.suite_seconds)
                status = run(["ctest", "--test-dir", self.build, "-j1", "--stop-on-failure",
                              "--output-on-failure", "--timeout", str(int(watchdog))],
                             log, timeout=2 * watchdog)
                if status is None or (status != 0 and "***Timeout" in log.read_text(
                        encoding="utf-8", errors="replace")):
                    m.outcome = "hang"
                else:
                    m.outcome = "survived" if status == 0 else "caught"
        finally:
            path.write_bytes(original)
        m.seconds = time.monotonic() - start
        with open(log, "a", encoding="utf-8") as out:
            out.write(f"\n=== {m.outcome} in {m.seconds:.0f} s\n")
        return m


# ------------------------------------------------------------ the table

def shares(mutants, group):
    rows = {}
    for m in mutants:
        row = rows.setdefault(group(m), {"caught": 0, "survived": 0, "equivalent": 0,
                                         "no-build": 0})
        kind = "caught" if m.outcome in ("caught", "hang") else m.outcome
        if kind in row:
            row[kind] += 1
    return rows


def table(mutants, title, group):
    out = [f"{title:<40} caught/judged   share  equiv  no-build"]
    for name, row in sorted(shares(mutants, group).items()):
        judged = row["caught"] + row["survived"]
        share = f"{100 * row['caught'] / judged:5.1f}%" if judged else "    -"
        out.append(f"{name:<40} {row['caught']:>6}/{judged:<6} {share:>7} {row['equivalent']:>6}"
                   f" {row['no-build']:>9}")
    return "\n".join(out)


def earlier_outcome(m: Mutant, logs: Path):
    """The outcome of the mutant's last run, from its log, if that log is of
    this very mutant (the same line at the same place, the same change)."""
    log = logs / f"mutant-{m.index:03d}.log"
    try:
        text = log.read_text(encoding="utf-8", errors="surrogateescape")
    except OSError:
        return None
    head = f"{m.file}:{m.line} {m.operator}\n- {m.original}\n+ {m.mutated}\n\n"
    found = re.search(r"\n=== (caught|hang|survived|no-build) in (\d+) s\n$", text)
    if not text.startswith(head) or not found:
        return None
    return found.group(1), float(found.group(2)), log.as_posix()


def report(mutants, seed):
    done = [m for m in mutants if m.outcome]
    lines = [f"seed {seed}: {len(done)} mutants"]
    total = {k: sum(1 for m in done if m.outcome == k)
             for k in ("caught", "hang", "survived", "equivalent", "no-build", "stale")}
    judged = total["caught"] + total["hang"] + total["survived"]
    if judged:
        lines.append(f"caught {total['caught'] + total['hang']} of {judged} "
                     f"({100 * (total['caught'] + total['hang']) / judged:.1f}%; "
                     f"{total['hang']} by a hang); {total['equivalent']} on the reviewed list, "
                     f"{total['no-build']} not compiling"
                     + (f", {total['stale']} stale" if total["stale"] else ""))
    lines += ["", table(done, "library", lambda m: m.library), "",
              table(done, "module", lambda m: m.file)]
    survivors = [m for m in done if m.outcome == "survived"]
    if survivors:
        lines += ["", "Survivors (add to equivalent.txt only with a reason, else write a test):"]
        for m in survivors:
            lines += ["", f"#{m.index} {m.file}:{m.line} ({m.log})", as_entry(m).rstrip()]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sample", type=int, default=200, help="number of mutants (200)")
    parser.add_argument("--seed", type=int, required=True, help="the sample's seed")
    parser.add_argument("--jobs", "-j", type=int, default=1,
                        help="mutants at a time, each in a tree and build of its own (1)")
    parser.add_argument("--work", type=Path, default=ROOT / "build-mutation",
                        help="where the private trees, builds and logs go (build-mutation/)")
    parser.add_argument("--list", action="store_true", help="only show the sample")
    parser.add_argument("--only", type=int, nargs="*", help="run only these sample numbers")
    parser.add_argument("--cmake-arg", action="append", default=[],
                        help="added to the configuration, e.g. --cmake-arg=-DROWFAN_IRAF=OFF")
    args = parser.parse_args()

    equivalents = read_equivalents(EQUIVALENT)
    # The sample is drawn from the checkout as it is: the same seed on the
    # same sources gives the same mutants.
    mutants = sample(ROOT, args.sample, args.seed)
    if args.list:
        for m in mutants:
            print(f"#{m.index:<4} {m.file}:{m.line} {m.operator}\n  - {m.original.strip()}\n"
                  f"  + {m.mutated.strip()}")
        return 0

    work = args.work.resolve()
    logs = work / f"seed-{args.seed}"
    logs.mkdir(parents=True, exist_ok=True)
    cmake_args = list(args.cmake_arg)
    if shutil.which("ccache"):
        cmake_args += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
    slots = [Slot(work / f"tree-{i}", work / f"build-{i}", cmake_args) for i in range(args.jobs)]
    os.environ.setdefault("CCACHE_BASEDIR", str(work))
    start = time.monotonic()
    print(f"preparing {len(slots)} private tree(s) and build(s) in {work}", flush=True)
    with concurrent.futures.ThreadPoolExecutor(len(slots)) as pool:
        list(pool.map(lambda s: s[1].prepare(logs / f"prepare-{s[0]}.log"), enumerate(slots)))
    print(f"unchanged suite: {slots[0].suite_seconds:.0f} s; prepared in "
          f"{time.monotonic() - start:.0f} s", flush=True)

    for m in mutants:
        if is_reviewed(m, equivalents):
            m.outcome = "equivalent"
    todo = [m for m in mutants if not args.only or m.index in args.only]
    todo = [m for m in todo if not m.outcome]
    free = list(slots)
    free_lock = threading.Lock()

    def one(m):
        with free_lock:
            slot = free.pop()
        try:
            return slot.try_mutant(m, logs)
        finally:
            with free_lock:
                free.append(slot)

    started = time.monotonic()
    try:
        with concurrent.futures.ThreadPoolExecutor(len(slots)) as pool:
            for done, m in enumerate(pool.map(one, todo), 1):
                print(f"[{done}/{len(todo)}] #{m.index} {m.file}:{m.line} {m.operator}: "
                      f"{m.outcome} ({m.seconds:.0f} s)", flush=True)
    except KeyboardInterrupt:
        print("interrupted; the checkout was never touched, the private trees are "
              "restored on the next run", file=sys.stderr)
        return 130
    elapsed = time.monotonic() - started
    ran = [m for m in todo if m.outcome not in ("", "stale")]
    # Mutants not run this time keep the outcome of their last run, so a
    # rerun of the survivors after new tests reports on the whole sample.
    for m in mutants:
        if not m.outcome and (found := earlier_outcome(m, logs)):
            m.outcome, m.seconds, m.log = found
    text = report(mutants, args.seed)
    if ran:
        text += (f"\n\n{len(ran)} mutants in {elapsed:.0f} s with {len(slots)} job(s): "
                 f"{elapsed * len(slots) / len(ran):.0f} s per mutant per job")
    (logs / "report.txt").write_text(text + "\n", encoding="utf-8")
    print("\n" + text)
    print(f"\nlogs and report in {logs}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
