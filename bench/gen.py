#!/usr/bin/env python3
"""Writes the benchmark inputs: a load file and a rule file per workload.

    gen.py WORKLOAD SIZE [--rules N] [--seed S] [--dir DIR]

Workloads:
  fanout      SIZE rows; three chained rules with 4, 5 and 3 choices, so
              every row becomes 60.
  manyrules   SIZE rows against --rules single-value rules written as a
              lookup table (CODE = K123 => NAME = '...' ;); most rows match
              exactly one rule.
  wide        SIZE rows of 60 columns; three rules on three of them.
  passthrough SIZE rows against rules that match nothing.
  comments    SIZE rows, each with a multi-line COMMENT cell; one rule
              doubles the rows that ask for it.
  sharedfirst SIZE rows, all DET = ALL, against --rules rules that all
              begin with that test, the selective one second
              (DET = ALL && FILT = F123 => FILT = G123 || FILT = H123 ;);
              most rows match exactly one rule and become two.
  sharedlast  the same with each rule's two tests swapped
              (FILT = F123 && DET = ALL => ...).
  sharednone  the same rules without the shared test (FILT = F123 => ...),
              as the yardstick for the two above.

The output is a function of the arguments alone (a seeded generator). Every
load file line stays within 78 bytes before its newline. Input values are
upper case, since the rules' values are folded to upper case.
"""

import argparse
import os
import random
import sys

MAX_LINE = 78

WORDS = ("ALPHA BRAVO CHARLIE DELTA ECHO FOXTROT GOLF HOTEL INDIA JULIET KILO "
         "LIMA MIKE NOVEMBER OSCAR PAPA QUEBEC ROMEO SIERRA TANGO UNIFORM "
         "VICTOR WHISKEY XRAY YANKEE ZULU").split()
TARGETS = ("NGC104 NGC288 NGC362 NGC1851 NGC5139 NGC6397 NGC6752 M31 M33 M51 "
           "M81 M82 M87 M101 LMC SMC").split()


class LoadWriter:
    """Writes a load file line by line, checking the reader's line limit."""

    def __init__(self, path):
        self.f = open(path, "w", encoding="ascii", newline="\n")
        self.buf = []
        self.rows = 0

    def line(self, text):
        if len(text) > MAX_LINE or "\n" in text:
            raise ValueError("load file line too long: %r" % text)
        self.buf.append(text)
        if len(self.buf) >= 65536:
            self.flush()

    def header(self, keywords, comment=None):
        for name, value in keywords:
            self.line("%s = %s" % (name, value))
        if comment:
            self.line("COMMENT = " + comment[0])
            for text in comment[1:]:
                self.line(text)
        self.line("ENDHEADER")
        self.line("")

    def row(self, cells, comment=None):
        for name, value in cells:
            self.line("%s = %s" % (name, value))
        if comment is not None:
            self.line("COMMENT = " + comment[0])
            for text in comment[1:]:
                self.line(text)
        self.line("ENDROW")
        self.line("")
        self.rows += 1

    def flush(self):
        if self.buf:
            self.f.write("\n".join(self.buf))
            self.f.write("\n")
            self.buf = []

    def close(self):
        self.line("ENDFILE")
        self.flush()
        self.f.close()


def write_rules(path, lines):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        for text in lines:
            f.write(text)
            f.write("\n")


def std_header(w, workload, size, seed, extra=()):
    w.header([("INSTRUMENT", "BENCHCAM"), ("WORKLOAD", workload.upper()),
              ("NROWS", str(size)), ("SEED", str(seed))] + list(extra))


def gen_fanout(rng, size, lod, rules, seed):
    w = LoadWriter(lod)
    std_header(w, "fanout", size, seed)
    for i in range(size):
        w.row([("ROOTNAME", "R%07d" % (i + 1)),
               ("TARGET", rng.choice(TARGETS)),
               ("DETECTOR", "ALL"),
               ("GAIN", "1.0"),
               ("FILTER", "ALL"),
               ("MODE", "ALL"),
               ("EXPTIME", str(rng.randrange(1, 3600)))])
    w.close()
    write_rules(rules, [
        "# Every detector, then every filter, then every read-out mode.",
        "DETECTOR = ALL => DETECTOR = WFC1 && GAIN = 1.5 || DETECTOR = WFC2"
        " && GAIN = 2.0",
        "    || DETECTOR = hrc || DETECTOR = sbc && GAIN = 4.0 ;",
        "FILTER = ALL => FILTER = F435W || FILTER = F555W || FILTER = F606W",
        "    || FILTER = F775W || FILTER = 'f814w' ;",
        "MODE = ALL => MODE = FULL || MODE = SUB512 || MODE = \"sub 1k\" ;",
    ])
    return size * 60


def gen_manyrules(rng, size, nrules, lod, rules, seed):
    # Codes are drawn from a range a tenth wider than the table, so about
    # nine rows in ten match one rule and the rest match none.
    span = nrules + max(1, nrules // 10)
    w = LoadWriter(lod)
    std_header(w, "manyrules", size, seed, [("NRULES", str(nrules))])
    for i in range(size):
        w.row([("ROOTNAME", "R%07d" % (i + 1)),
               ("CODE", "K%d" % rng.randrange(span)),
               ("NAME", "UNKNOWN"),
               ("EXPTIME", str(rng.randrange(1, 3600)))])
    w.close()
    lines = ["# Code to name lookup table, %d entries." % nrules]
    for k in range(nrules):
        name = "%s %s %d" % (rng.choice(WORDS), rng.choice(WORDS), k)
        lines.append("CODE = K%d => NAME = '%s' ;" % (k, name.lower()))
    write_rules(rules, lines)
    return None


def gen_shared(rng, size, nrules, lod, rules, seed, workload):
    # The three variants draw the same rows and the same rules (the
    # generator is seeded without the workload's name), so their outputs
    # differ only in the header's WORKLOAD keyword. Codes are drawn from a
    # range a tenth wider than the rule set, as for manyrules.
    span = nrules + max(1, nrules // 10)
    w = LoadWriter(lod)
    std_header(w, workload, size, seed, [("NRULES", str(nrules))])
    for i in range(size):
        w.row([("ROOTNAME", "R%07d" % (i + 1)),
               ("DET", "ALL"),
               ("FILT", "F%d" % rng.randrange(span)),
               ("EXPTIME", str(rng.randrange(1, 3600)))])
    w.close()
    test = {"sharedfirst": "DET = ALL && FILT = F%d",
            "sharedlast": "FILT = F%d && DET = ALL",
            "sharednone": "FILT = F%d"}[workload]
    lines = ["# %d rules; every row is DET = ALL." % nrules]
    for k in range(nrules):
        lines.append((test + " => FILT = G%d || FILT = H%d ;") % (k, k, k))
    write_rules(rules, lines)
    return None


def gen_wide(rng, size, lod, rules, seed):
    names = ["C%02d" % c for c in range(1, 61)]
    w = LoadWriter(lod)
    std_header(w, "wide", size, seed)
    for i in range(size):
        cells = []
        for c, name in enumerate(names):
            if c == 0:
                value = "R%07d" % (i + 1)
            elif name in ("C05", "C30", "C55"):
                value = "ALL" if rng.random() < 0.5 else rng.choice(WORDS)
            elif c % 3 == 0:
                value = str(rng.randrange(100000))
            else:
                value = rng.choice(WORDS)
            cells.append((name, value))
        w.row(cells)
    w.close()
    write_rules(rules, [
        "C05 = ALL => C05 = A1 && C06 = X || C05 = A2 || C05 = A3 && C60 = Z ;",
        "C30 = ALL => C30 = B1 || C30 = B2 && C31 = Y ;",
        "C55 = ALL && C01 = '' => C55 = D1 || C55 = D2 ;",
    ])
    return None


def gen_passthrough(rng, size, lod, rules, seed):
    w = LoadWriter(lod)
    std_header(w, "passthrough", size, seed)
    for i in range(size):
        w.row([("ROOTNAME", "R%07d" % (i + 1)),
               ("TARGET", rng.choice(TARGETS)),
               ("DETECTOR", rng.choice(("WFC1", "WFC2", "HRC"))),
               ("FILTER", rng.choice(("F435W", "F555W", "F814W"))),
               ("EXPTIME", str(rng.randrange(1, 3600)))])
    w.close()
    # Rules that look at the same columns but never hold: lower-case input
    # would be needed, or values that are not there.
    lines = ["# None of these hold for any row."]
    for k in range(10):
        lines.append("DETECTOR = SBC%d && FILTER = F555W => DETECTOR = X%d ;"
                     % (k, k))
    lines.append("TARGET = NOWHERE => TARGET = A || TARGET = B ;")
    write_rules(rules, lines)
    return size


def gen_comments(rng, size, lod, rules, seed):
    w = LoadWriter(lod)
    w.header([("INSTRUMENT", "BENCHCAM"), ("WORKLOAD", "COMMENTS"),
              ("NROWS", str(size)), ("SEED", str(seed))],
             comment=[" Observing notes, one per row.", "  kept as written."])
    for i in range(size):
        lines = []
        for k in range(rng.randrange(2, 7)):
            words = " ".join(rng.choice(WORDS).lower()
                             for _ in range(rng.randrange(1, 8)))
            kind = rng.randrange(6)
            if kind == 0:
                words = "# " + words          # looks like a remark
            elif kind == 1:
                words = "KEY = " + words      # looks like a data line
            elif kind == 2:
                words = "    " + words        # indented
            lines.append(words[:MAX_LINE - 12])
        lines[0] = " " + lines[0]
        w.row([("ROOTNAME", "R%07d" % (i + 1)),
               ("DETECTOR", "ALL" if rng.random() < 0.5 else "WFC1"),
               ("EXPTIME", str(rng.randrange(1, 3600)))],
              comment=lines)
    w.close()
    write_rules(rules, [
        "DETECTOR = ALL => DETECTOR = WFC1 || DETECTOR = WFC2 ;",
    ])
    return None


SHARED = ("sharedfirst", "sharedlast", "sharednone")
WORKLOADS = ("fanout", "manyrules", "wide", "passthrough", "comments") + SHARED
# Workloads whose size is input rows and --rules rules.
WITH_RULES = ("manyrules",) + SHARED


def case_name(workload, size, nrules=None):
    if workload in WITH_RULES:
        return "%s-%d-r%d" % (workload, size, nrules)
    return "%s-%d" % (workload, size)


def generate(workload, size, directory, seed=1, nrules=None):
    """Writes DIR/NAME.lod and DIR/NAME.rules unless they are there already;
    returns (load file, rule file)."""
    os.makedirs(directory, exist_ok=True)
    name = case_name(workload, size, nrules)
    lod = os.path.join(directory, "%s-s%d.lod" % (name, seed))
    rules = os.path.join(directory, "%s-s%d.rules" % (name, seed))
    if os.path.exists(lod) and os.path.exists(rules):
        return lod, rules
    family = "shared" if workload in SHARED else workload
    rng = random.Random("%s/%d/%s/%d" % (family, size, nrules, seed))
    tmp_lod, tmp_rules = lod + ".part", rules + ".part"
    if workload == "fanout":
        gen_fanout(rng, size, tmp_lod, tmp_rules, seed)
    elif workload == "manyrules":
        gen_manyrules(rng, size, nrules, tmp_lod, tmp_rules, seed)
    elif workload in SHARED:
        gen_shared(rng, size, nrules, tmp_lod, tmp_rules, seed, workload)
    elif workload == "wide":
        gen_wide(rng, size, tmp_lod, tmp_rules, seed)
    elif workload == "passthrough":
        gen_passthrough(rng, size, tmp_lod, tmp_rules, seed)
    elif workload == "comments":
        gen_comments(rng, size, tmp_lod, tmp_rules, seed)
    else:
        raise ValueError("unknown workload " + workload)
    os.replace(tmp_rules, rules)
    os.replace(tmp_lod, lod)
    return lod, rules


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("workload", choices=WORKLOADS)
    ap.add_argument("size", type=int)
    ap.add_argument("--rules", type=int, default=2000,
                    help="number of rules for manyrules and shared*")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--dir", default=os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "work", "data"))
    args = ap.parse_args(argv)
    nrules = args.rules if args.workload in WITH_RULES else None
    lod, rules = generate(args.workload, args.size, args.dir, args.seed, nrules)
    print(lod)
    print(rules)


if __name__ == "__main__":
    main(sys.argv[1:])
