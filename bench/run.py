#!/usr/bin/env python3
"""Times rowfan against its peers on generated workloads.

    run.py [--full] [--rowfan PATH] [--only WORKLOAD,...] [--runs N]

For each workload and size: generates the input (bench/work/data, kept
between runs), runs `rowfan IN OUT RULES` and each installed peer (Miller,
gawk, the plain Python script peers/fanout.py) on the same files, checks
that every peer produced the same rows as rowfan (cell values and
EXPANSION_NUMBER, layout aside), times a `cp` of rowfan's output as the copy
floor, and prints one table. Quick mode (the default) uses the small sizes
and 1 to 3 runs; --full uses every size and 3 runs.

Nothing here asserts a time: the target lines at the end say met or missed
and the exit status is 0 unless a peer's rows differ from rowfan's or a
command fails.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True      # no __pycache__ beside the sources
import gen  # noqa: E402

WORK = os.path.join(HERE, "work")
PEERS = os.path.join(HERE, "peers")
DEFAULT_ROWFAN = os.path.join(ROOT, "build-bench", "src", "rowfan", "rowfan")

# Rules that share a test: the shared test first, second, and left out.
SHARED = [(w, 20000, n) for w in gen.SHARED for n in (200, 2000, 20000)]
# (workload, input rows, rules for manyrules and the shared* workloads)
QUICK = [("fanout", 1000, None), ("fanout", 10000, None),
         ("manyrules", 20000, 200), ("manyrules", 20000, 2000),
         ("manyrules", 20000, 20000)] + SHARED + [
         ("wide", 1000, None), ("passthrough", 20000, None),
         ("comments", 2000, None)]
# Cases where a peer is too slow for the quick mode's minute ("-" in the
# table); the full mode runs every peer everywhere.
QUICK_SKIP = {("mlr", "fanout", 10000, None),
              ("mlr", "manyrules", 20000, 2000),
              ("mlr", "manyrules", 20000, 20000)} | {
                  ("mlr",) + case for case in SHARED if case[2] > 200}
FULL = [("fanout", 1000, None), ("fanout", 10000, None),
        ("fanout", 100000, None),
        ("manyrules", 20000, 200), ("manyrules", 20000, 2000),
        ("manyrules", 20000, 20000)] + SHARED + [
        ("wide", 20000, None), ("passthrough", 1000000, None),
        ("comments", 20000, None)]


# ---------------------------------------------------------------- commands

class Command:
    def __init__(self, name, argv, out_format, stdout_to_out=False, env=None):
        self.name = name
        self.argv = argv            # with {IN}, {OUT}, {RULES}
        self.out_format = out_format  # "load", "xtab" or "jsonl"
        self.stdout_to_out = stdout_to_out
        self.env = env


def commands(rowfan, workload):
    cmds = []
    if rowfan:
        cmds.append(Command("rowfan", [rowfan, "{IN}", "{OUT}", "{RULES}"],
                            "load"))
        if workload == "fanout":
            # What writing the trace beside the output costs.
            cmds.append(Command("rowfan-trace",
                                [rowfan, "{IN}", "{OUT}", "{RULES}",
                                 "trace={OUT}.tsv"], "load"))
    if shutil.which("mlr"):
        fmt = ["--ojsonl"] if workload == "comments" else \
            ["--oxtab", "--ops", " = "]
        cmds.append(Command(
            "mlr", ["mlr", "--inidx", "--ifs", "\\001", "--infer-none"] + fmt
            + ["put", "-q", "-f", os.path.join(PEERS, "fanout.mlr"),
               "{RULES}", "{IN}"],
            "jsonl" if workload == "comments" else "xtab",
            stdout_to_out=True))
    if shutil.which("gawk"):
        env = dict(os.environ, LC_ALL="C")
        cmds.append(Command("gawk", ["gawk", "-f",
                                     os.path.join(PEERS, "fanout.awk"),
                                     "{IN}", "{OUT}", "{RULES}"], "load",
                            env=env))
    cmds.append(Command("python", [sys.executable,
                                   os.path.join(PEERS, "fanout.py"),
                                   "{IN}", "{OUT}", "{RULES}"], "load"))
    return cmds


TIME = "/usr/bin/time"


def run_once(argv, stdout_path=None, env=None, timeout=None):
    """Runs argv; returns (seconds, peak RSS in KiB, exit status, stderr).

    The peak RSS comes from /usr/bin/time -f %M: a child forked from this
    (large) Python process would report this process's RSS as its own peak,
    since the high-water mark survives exec."""
    rss_path = os.path.join(WORK, "rss-%d.txt" % os.getpid())
    err_path = os.path.join(WORK, "stderr-%d.txt" % os.getpid())
    wrapped = [TIME, "-f", "%M", "-o", rss_path] + argv \
        if os.access(TIME, os.X_OK) else argv
    out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    err = open(err_path, "wb")
    code = None
    try:
        t0 = time.perf_counter()
        proc = subprocess.Popen(wrapped, stdout=out, stderr=err, env=env,
                                start_new_session=True)
        # A blocking wait, with the timeout kept by a timer: Popen.wait with
        # a timeout polls with growing sleeps, which rounds short runs up to
        # the next poll (8, 16, 32 ms ...).
        expired = threading.Event()

        def kill():
            expired.set()
            try:
                os.killpg(proc.pid, 9)  # the command and its time wrapper
            except ProcessLookupError:
                pass                    # it ended just now
        timer = threading.Timer(timeout, kill) if timeout else None
        if timer:
            timer.start()
        proc.wait()
        elapsed = time.perf_counter() - t0
        if timer:
            timer.cancel()
        if expired.is_set():
            code = "timeout"
    finally:
        if stdout_path:
            out.close()
        err.close()
    with open(err_path, "rb") as f:
        stderr = f.read().decode("latin-1", "replace")
    if code is None:
        code = proc.returncode
    rss = 0
    if wrapped is not argv:
        try:
            with open(rss_path) as f:
                rss = int(f.read().split()[-1])
        except (OSError, ValueError, IndexError):
            rss = 0
    return elapsed, rss, code, stderr


# -------------------------------------------------------- output checking

def _chunks(path, sep, size=1 << 24):
    """Yields the parts of a file between separators, read in blocks."""
    with open(path, encoding="latin-1", newline="") as f:
        rest = ""
        while True:
            block = f.read(size)
            if not block:
                break
            parts = (rest + block).split(sep)
            rest = parts.pop()
            yield from parts
        if rest:
            yield rest


def _pairs(text):
    """Cells of one record written as NAME = value lines, COMMENT last."""
    comment = None
    if text.startswith("COMMENT ="):
        text, comment = "", text[9:]
    else:
        cut = text.find("\nCOMMENT =")
        if cut >= 0:
            text, comment = text[:cut], text[cut + 10:]
    cells = {}
    if text:
        for line in text.split("\n"):
            if line:
                name, _, value = line.partition(" = ")
                if name.endswith(" ="):   # "NAME =" with nothing after
                    name, value = name[:-2], ""
                cells[name] = value
    if comment is not None:
        cells["COMMENT"] = comment
    return cells


def rows_of(path, fmt):
    """Yields each output row as a dict of its non-empty cells."""
    if fmt == "load":
        first = True
        for rec in _chunks(path, "ENDROW\n\n"):
            if first:
                first = False
                cut = rec.find("ENDHEADER\n\n")
                rec = rec[cut + 11:]
            if rec.startswith("ENDFILE\n") or rec == "":
                continue
            cells = _pairs(rec)
            yield {k: v for k, v in cells.items() if v != ""}
    elif fmt == "xtab":
        for rec in _chunks(path, "\n\n"):
            rec = rec.strip("\n")
            if rec:
                yield {k: v for k, v in _pairs(rec).items() if v != ""}
    elif fmt == "jsonl":
        with open(path, encoding="utf-8") as f:
            for line in f:
                if line.strip():
                    yield {k: str(v) for k, v in json.loads(line).items()
                           if str(v) != ""}
    else:
        raise ValueError(fmt)


def digest(path, fmt):
    """(row count, hash of the rows in order, layout aside)."""
    h = hashlib.sha256()
    n = 0
    for row in rows_of(path, fmt):
        n += 1
        h.update(repr(sorted(row.items())).encode("latin-1", "replace"))
        h.update(b"\0")
    return n, h.hexdigest()


def _normalized(path, fmt):
    """Yields the rows' text in one canonical layout (NAME = value lines,
    empty cells left out, each row closed by \\x1e), block by block."""
    if fmt == "jsonl":
        buf = []
        with open(path, encoding="utf-8") as f:
            for line in f:
                if not line.strip():
                    continue
                rec = json.loads(line)
                comment = rec.pop("COMMENT", None)
                text = "".join("%s = %s\n" % (k, v) for k, v in rec.items()
                               if str(v) != "")
                if comment:
                    text += "COMMENT =" + comment
                buf.append(text + "\x1e")
                if len(buf) >= 10000:
                    yield "".join(buf)
                    buf = []
        yield "".join(buf)
        return
    sep = "ENDROW\n\n" if fmt == "load" else "\n\n"
    first = True
    with open(path, encoding="latin-1", newline="") as f:
        rest = ""
        while True:
            block = f.read(1 << 24)
            text = rest + block
            if block:
                cut = text.rfind(sep)
                if cut < 0:
                    rest = text
                    continue
                text, rest = text[:cut + len(sep)], text[cut + len(sep):]
            else:
                rest = ""
            if first and fmt == "load":
                first = False
                text = text[text.find("ENDHEADER\n\n") + 11:]
            if not block and fmt == "load":
                if text.endswith("ENDFILE\n"):
                    text = text[:-8]
            if fmt == "load":
                text = text.replace("ENDROW\n\n", "\x1e")
            else:
                text = text.strip("\n")
                text = text.replace("\n\n", "\n\x1e") + ("\n\x1e" if text
                                                          else "")
            if " = \n" in text:
                text = EMPTY_CELL.sub("", text)
            yield text
            if not block:
                break


EMPTY_CELL = re.compile(r"(?m)^[^\n]* = \n")


def fast_digest(path, fmt):
    """(row count, hash of the canonical text): equal hashes mean equal
    rows; unequal ones are settled by digest(), which is exact but slower."""
    h = hashlib.sha256()
    n = 0
    for text in _normalized(path, fmt):
        n += text.count("\x1e")
        h.update(text.encode("latin-1", "replace"))
    return n, h.hexdigest()


def header_of(path):
    with open(path, encoding="latin-1") as f:
        text = f.read(1 << 20)
    cut = text.find("ENDHEADER\n")
    return text[:cut] if cut >= 0 else None


def same_bytes(a, b):
    if os.path.getsize(a) != os.path.getsize(b):
        return False
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(1 << 22), fb.read(1 << 22)
            if x != y:
                return False
            if not x:
                return True


def first_difference(ref, ref_fmt, other, other_fmt):
    i = 0
    for i, (x, y) in enumerate(zip(rows_of(ref, ref_fmt),
                                   rows_of(other, other_fmt)), 1):
        if x != y:
            return "row %d differs:\n    reference %r\n    peer      %r" % (
                i, x, y)
    return "row counts differ after row %d" % i


# ------------------------------------------------------------------- runs

class Result:
    def __init__(self, case, name):
        self.case = case
        self.name = name
        self.times = []
        self.rss_kib = 0
        self.rows = None
        self.out_bytes = None
        self.status = "ok"      # ok, FAILED, timeout, DIFFERS, skipped


def measure(cmd, lod, rules, out, runs_wanted, quick, timeout):
    """Runs a command runs_wanted times (quick mode: once, and up to three
    times while a run takes under a second); keeps the last output."""
    argv = [a.replace("{IN}", lod).replace("{OUT}", out)
            .replace("{RULES}", rules) for a in cmd.argv]
    res = Result(None, cmd.name)
    n = 0
    while True:
        if os.path.exists(out):
            os.remove(out)
        secs, rss, code, stderr = run_once(
            argv, out if cmd.stdout_to_out else None, cmd.env, timeout)
        n += 1
        if code != 0:
            res.status = "timeout" if code == "timeout" else "FAILED"
            sys.stderr.write("%s exited %s: %s\n" % (cmd.name, code,
                                                     stderr.strip()[:500]))
            return res
        res.times.append(secs)
        res.rss_kib = max(res.rss_kib, rss)
        # Runs this short are at the mercy of the scheduler: rowfan and the
        # copy floor then get up to nine, still cheap, so that the median
        # means something. Otherwise quick mode gives them up to three runs
        # (while under a second) and the peers one; full mode runs_wanted.
        own = cmd.name in ("rowfan", "rowfan-trace", "cp (floor)")
        if own and secs < 0.2 and n < 9:
            continue
        if quick:
            if n >= 3 or secs >= 1.0 or not own:
                break
        elif n >= runs_wanted:
            break
    res.out_bytes = os.path.getsize(out)
    return res


def run_case(workload, size, nrules, rowfan, args):
    lod, rules = gen.generate(workload, size, os.path.join(WORK, "data"),
                              args.seed, nrules)
    in_rows = size
    outdir = os.path.join(WORK, "out")
    os.makedirs(outdir, exist_ok=True)
    label = gen.case_name(workload, size, nrules)
    results = []
    ref = None              # (result, path, format, digest)
    paths = []
    for cmd in commands(rowfan, workload):
        if cmd.name in args.skip.split(","):
            continue
        if not args.full and (cmd.name, workload, size, nrules) in QUICK_SKIP:
            res = Result((workload, size, nrules), cmd.name)
            res.status = "skipped"
            results.append(res)
            continue
        out = os.path.join(outdir, "%s.%s.out" % (label, cmd.name))
        res = measure(cmd, lod, rules, out, args.runs, not args.full,
                      args.timeout)
        res.case = (workload, size, nrules)
        results.append(res)
        if res.status != "ok":
            continue
        if ref is None:
            ref = [res, out, cmd.out_format, None, None]
            res.rows, ref[3] = fast_digest(out, cmd.out_format)
            continue
        paths.append(out)
        if cmd.out_format == ref[2] and same_bytes(out, ref[1]):
            res.rows = ref[0].rows
            continue
        res.rows, dig = fast_digest(out, cmd.out_format)
        if dig == ref[3]:
            continue
        if ref[4] is None:
            ref[4] = digest(ref[1], ref[2])[1]
        res.rows, dig = digest(out, cmd.out_format)
        if dig != ref[4]:
            res.status = "DIFFERS"
            sys.stderr.write("%s %s: rows differ from %s; %s\n" % (
                label, cmd.name, ref[0].name,
                first_difference(ref[1], ref[2], out, cmd.out_format)))
        elif cmd.out_format == "load" and ref[2] == "load" \
                and header_of(out) != header_of(ref[1]):
            res.status = "DIFFERS"
            sys.stderr.write("%s %s: header differs from %s\n" % (
                label, cmd.name, ref[0].name))
    # How much of rowfan's time the rule file alone takes: the same rules
    # with a one-row input. The two runs go in turns, so that both see the
    # same load on the machine; the median of the differences of the pairs
    # is the rows' own time, which a median of each alone is too noisy for.
    rf = next((r for r in results if r.name == "rowfan"), None)
    if workload in gen.WITH_RULES and rf is not None and rf.status == "ok":
        tiny, _ = gen.generate(workload, 1, os.path.join(WORK, "data"),
                               args.seed, nrules)
        dst = os.path.join(outdir, "%s.rules-only.out" % label)
        pairs = []
        for _ in range(15):
            whole = []
            for src in (lod, tiny):
                if os.path.exists(dst):
                    os.remove(dst)
                whole.append(run_once([rowfan, src, dst, rules])[0])
            pairs.append(whole)
        os.remove(dst)
        rf.rules_only = statistics.median(t for _, t in pairs)
        rf.rows_only = statistics.median(w - t for w, t in pairs)
    # The copy floor: cp of the reference output, page cache warm.
    floor = None
    if ref is not None:
        dst = os.path.join(outdir, "%s.cp.out" % label)
        with open(ref[1], "rb") as f:       # warm the page cache
            while f.read(1 << 24):
                pass
        res = measure(Command("cp (floor)", ["cp", "{IN}", "{OUT}"], "load"),
                      ref[1], "", dst, args.runs, not args.full, args.timeout)
        res.case = (workload, size, nrules)
        res.rows = ref[0].rows
        floor = res
        os.remove(dst)
    if not args.keep:
        for p in paths + ([ref[1]] if ref else []):
            for q in (p, p + ".tsv"):
                if os.path.exists(q):
                    os.remove(q)
    return in_rows, results, floor


# ------------------------------------------------------------------ report

def fmt_secs(x):
    return "-" if x is None else ("%.3f" % x if x < 100 else "%.1f" % x)


def fmt_ratio(x):
    if x is None:
        return "-"
    return "%.2f" % x if x < 10 else "%.1f" % x


def median(res):
    return statistics.median(res.times) if res and res.times else None


def print_table(cases, have_rowfan):
    head = ["workload", "size", "command", "median s", "runs", "peak MiB",
            "out rows", "out MiB", "x rowfan", "x copy", "rowfan rows/s"]
    lines = []
    for (workload, size, nrules), in_rows, results, floor in cases:
        size_text = "%d" % size if nrules is None else "%d r%d" % (size,
                                                                   nrules)
        rf = next((r for r in results if r.name == "rowfan"), None)
        rf_t = median(rf) if rf and rf.status == "ok" else None
        fl_t = median(floor)
        for res in results + ([floor] if floor else []):
            t = median(res) if res.status in ("ok", "DIFFERS") else None
            if res.status == "skipped":
                t_text = "-"
            elif res.status != "ok":
                t_text = res.status if t is None else \
                    "%s %s" % (fmt_secs(t), res.status)
            else:
                t_text = fmt_secs(t)
            rate = "-"
            if res.name == "rowfan" and t:
                rate = "%.0f" % (res.rows / t) if res.rows else "-"
            lines.append([
                workload, size_text, res.name, t_text,
                str(len(res.times)) if res.times else "-",
                "%.1f" % (res.rss_kib / 1024) if res.times else "-",
                str(res.rows) if res.rows is not None else "-",
                "%.1f" % (res.out_bytes / 2**20) if res.out_bytes else "-",
                fmt_ratio(t / rf_t) if t and rf_t else "-",
                fmt_ratio(t / fl_t) if t and fl_t else "-",
                rate])
    widths = [max(len(h), *(len(l[i]) for l in lines)) if lines else len(h)
              for i, h in enumerate(head)]
    def show(cols):
        print("  ".join(c.rjust(w) if i >= 3 else c.ljust(w)
                        for i, (c, w) in enumerate(zip(cols, widths))))
    show(head)
    show(["-" * w for w in widths])
    last = None
    for l in lines:
        if last is not None and l[:2] != last:
            print()
        last = l[:2]
        show(l)


def verdict(ok):
    return "met" if ok else "MISSED"


def rowfan_per_row(by, workload):
    """[(rules, rowfan's seconds per input row, seconds with a one-row
    input, the rows' own seconds per input row)] for a workload with a rule
    count, by rule count."""
    per_row = []
    for key in sorted(k for k in by if k[0] == workload):
        in_rows, res, _ = by[key]
        rf = res.get("rowfan")
        if rf and rf.status == "ok":
            own = getattr(rf, "rows_only", None)
            per_row.append((key[2], median(rf) / in_rows,
                            getattr(rf, "rules_only", None),
                            None if own is None else max(0.0, own) / in_rows))
    return per_row


def print_per_row(by, workload, want):
    """Time per input row from the fewest rules to the most: the ratio of
    the slowest to the fastest is to stay within `want`, both counting the
    reading of the rule file and leaving it out."""
    per_row = rowfan_per_row(by, workload)
    if len(per_row) < 2:
        return
    lo = min(p[1] for p in per_row)
    hi = max(p[1] for p in per_row)
    print("  %s: time per input row %s; max/min %.2f (want <= %.2f): %s" % (
        workload, ", ".join("%d rules %.2f us" % (n, p * 1e6)
                            for n, p, _, _ in per_row),
        hi / lo, want, verdict(hi / lo <= want)))
    if all(p[2] is not None for p in per_row):
        own = [p[3] for p in per_row]
        ratio = max(own) / min(own) if min(own) > 0 else float("inf")
        print("    of which reading the rule file with a one-row input: "
              "%s; the rows' own time (paired runs): %s; max/min %.2f "
              "(want <= %.2f): %s" % (
                  ", ".join("%d rules %.3f s" % (n, c)
                            for n, _, c, _ in per_row),
                  ", ".join("%.2f us" % (o * 1e6) for o in own),
                  ratio, want, verdict(ratio <= want)))


def print_targets(cases, baseline_kib):
    print()
    print("Targets (same run, same machine):")
    by = {}
    for (workload, size, nrules), in_rows, results, floor in cases:
        by[(workload, size, nrules)] = (in_rows, {r.name: r for r in results},
                                        floor)
    for size in (10000, 100000):
        entry = by.get(("fanout", size, None))
        if not entry:
            continue
        _, res, floor = entry
        rf = res.get("rowfan")
        if not rf or rf.status != "ok":
            print("  fanout %d: rowfan did not run" % size)
            continue
        t = median(rf)
        for peer, want in (("mlr", 10), ("gawk", 10), ("python", 5)):
            p = res.get(peer)
            if not p or p.status != "ok":
                print("  fanout %d: %s not run" % (size, peer))
                continue
            ratio = median(p) / t
            print("  fanout %d: %.1fx faster than %s (want >= %dx): %s"
                  % (size, ratio, peer, want, verdict(ratio >= want)))
        if floor:
            ratio = t / median(floor)
            print("  fanout %d: %.1fx the copy floor (want <= 5x): %s"
                  % (size, ratio, verdict(ratio <= 5)))
        traced = res.get("rowfan-trace")
        if traced and traced.status == "ok":
            ratio = median(traced) / t
            print("  fanout %d: with trace=FILE %.2fx the run without "
                  "(want <= 1.5x): %s" % (size, ratio, verdict(ratio <= 1.5)))
    print_per_row(by, "manyrules", 1.2)
    for workload in gen.SHARED:
        print_per_row(by, workload, 1.5)
    # The shared test against the same rules without it, rule count by rule
    # count.
    none = {n: p for n, p, _, _ in rowfan_per_row(by, "sharednone")}
    for workload in ("sharedfirst", "sharedlast"):
        pairs = [(n, p, none[n]) for n, p, _, _ in
                 rowfan_per_row(by, workload) if n in none]
        if pairs:
            worst = max(p / q for _, p, q in pairs)
            print("  %s against sharednone: %s (want <= 1.50x): %s" % (
                workload, ", ".join("%d rules %.2fx" % (n, p / q)
                                    for n, p, q in pairs),
                verdict(worst <= 1.5)))
    for key, (in_rows, res, _) in by.items():
        rf = res.get("rowfan")
        if not rf or rf.status != "ok" or not rf.out_bytes:
            continue
        ratio = rf.rss_kib * 1024 / rf.out_bytes
        above = max(0, rf.rss_kib - baseline_kib) * 1024 / rf.out_bytes \
            if baseline_kib else None
        label = gen.case_name(*[k for k in key if k is not None])
        print("  memory %s: peak %.1f MiB = %.2fx output %.1f MiB "
              "(want <= 1.5x): %s%s" % (
                  label, rf.rss_kib / 1024, ratio, rf.out_bytes / 2**20,
                  verdict(ratio <= 1.5),
                  "" if above is None else
                  "; above the %.1f MiB start-up RSS: %.2fx %s" % (
                      baseline_kib / 1024, above, verdict(above <= 1.5))))


def rowfan_baseline(rowfan):
    """Peak RSS of rowfan on a one-row input: the process's fixed cost."""
    d = os.path.join(WORK, "data")
    os.makedirs(d, exist_ok=True)
    lod, rules = gen.generate("passthrough", 1, d, 1)
    out = os.path.join(WORK, "out", "baseline.out")
    os.makedirs(os.path.dirname(out), exist_ok=True)
    secs, rss, code, _ = run_once([rowfan, lod, out, rules])
    if os.path.exists(out):
        os.remove(out)
    return rss if code == 0 else None


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--full", action="store_true",
                    help="every size, 3 runs each")
    ap.add_argument("--runs", type=int, default=3,
                    help="runs per command in full mode (default 3)")
    ap.add_argument("--rowfan", default=DEFAULT_ROWFAN,
                    help="rowfan binary (default build-bench's)")
    ap.add_argument("--no-rowfan", action="store_true",
                    help="run the peers alone")
    ap.add_argument("--only", default="",
                    help="comma-separated workloads to run")
    ap.add_argument("--skip", default="",
                    help="comma-separated commands to leave out (mlr, gawk, "
                         "python)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--timeout", type=float, default=900,
                    help="seconds before a command is killed")
    ap.add_argument("--keep", action="store_true",
                    help="keep the outputs in bench/work/out")
    args = ap.parse_args(argv)

    rowfan = None
    if not args.no_rowfan:
        if os.access(args.rowfan, os.X_OK):
            rowfan = os.path.abspath(args.rowfan)
        else:
            print("rowfan not found at %s: running the peers alone"
                  % args.rowfan)
    os.makedirs(WORK, exist_ok=True)
    only = set(filter(None, args.only.split(",")))
    plan = [c for c in (FULL if args.full else QUICK)
            if not only or c[0] in only]
    missing = [p for p in ("mlr", "gawk") if not shutil.which(p)]
    if missing:
        print("not installed, skipped: %s" % ", ".join(missing))

    t_start = time.perf_counter()
    cases = []
    bad = False
    for workload, size, nrules in plan:
        in_rows, results, floor = run_case(workload, size, nrules, rowfan,
                                           args)
        cases.append(((workload, size, nrules), in_rows, results, floor))
        bad |= any(r.status not in ("ok", "skipped") for r in results)
        sys.stderr.write("done %s in %.0f s so far\n" % (
            gen.case_name(workload, size, nrules),
            time.perf_counter() - t_start))
    print()
    print("%s mode, seed %d, %d cores; times are wall-clock medians; "
          "peak memory is the maximum RSS." % (
              "full" if args.full else "quick", args.seed, os.cpu_count()))
    print_table(cases, rowfan is not None)
    if rowfan:
        print_targets(cases, rowfan_baseline(rowfan))
    print()
    print("total %.0f s" % (time.perf_counter() - t_start))
    for name in ("rss-%d.txt", "stderr-%d.txt"):
        path = os.path.join(WORK, name % os.getpid())
        if os.path.exists(path):
            os.remove(path)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
