#!/usr/bin/env python3
"""Row expansion in plain Python, as a yardstick for rowfan.

    fanout.py IN OUT RULES

Reads the load file IN and the rule file RULES and writes OUT in the layout
rowfan writes: the header keywords, then every final row with all input
columns, EXPANSION_NUMBER, and the COMMENT cell last.

Semantics: rules in file order; a row matches a rule when every non-empty
test equals the row's cell; the earliest matching rule wins, but never the
rule that produced the row; a matched row gives one child per choice, in
order, each expanded the same way (depth first); unmatched rows are output
and numbered 1, 2, 3, ... across the whole output. Rule values are folded to
upper case; a rule naming a column the input lacks is dropped.

Rules are looked up through an index on one test of each rule, the one the
fewest rules share, so the cost per row does not grow with the number of
rules. Input is assumed to be
well formed (this is a benchmark peer, not a validating reader).
"""

import re
import sys

UPPER = str.maketrans("abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ")
TOKEN = re.compile(r"""(#[^\n]*|[ \t\n]+)"""
                   r"""|([A-Za-z0-9_.+\-]+|'[^']*'|"[^"]*")"""
                   r"""|(=>|&&|\|\||[;=])|(.)""", re.S)
CLOSERS = {"ENDROW": 1, "ENDHEADER": 2, "ENDFILE": 3}


def clean(text):
    return " ".join(text.split())


def read_rules(path):
    """Returns a list of (tests, choices): tests maps column to value (empty
    values included), choices is a list of column-to-value maps."""
    with open(path, encoding="latin-1") as f:
        text = f.read()
    toks = []
    for m in TOKEN.finditer(text):
        if m.group(1):
            continue
        if m.group(2) is not None:
            word = m.group(2)
            if word[0] in "'\"":
                word = word[1:-1]
            toks.append(("W", word.translate(UPPER)))
        elif m.group(3) is not None:
            toks.append((m.group(3), None))
        else:
            sys.exit("rule file syntax error at %r" % m.group(4))
    toks.append(("$", None))
    pos = 0

    def expect(kind):
        nonlocal pos
        tok = toks[pos]
        if tok[0] != kind:
            sys.exit("rule file syntax error at token %d (%s)" % (pos, tok[0]))
        pos += 1
        return tok[1]

    def pair():
        name = expect("W")
        expect("=")
        return name, expect("W")

    rules = []
    while True:
        tests = {}
        name, value = pair()
        tests[name] = value
        while toks[pos][0] == "&&":
            pos += 1
            name, value = pair()
            tests[name] = value
        expect("=>")
        choices = []
        while True:
            choice = {}
            names = []
            name, value = pair()
            names.append(name)
            if value:
                choice[name] = value
            while toks[pos][0] == "&&":
                pos += 1
                name, value = pair()
                names.append(name)
                if value:
                    choice[name] = value
            choices.append((choice, names))
            if toks[pos][0] != "||":
                break
            pos += 1
        expect(";")
        rules.append((tests, choices))
        if toks[pos][0] == "$":
            return rules


class Expander:
    def __init__(self, rules, columns, out):
        colset = set(columns)
        self.rules = []     # (tests as a list of pairs, choices)
        self.index = {}     # column -> value -> ascending rule numbers
        indexed = []        # (rule number, live tests) to be indexed
        for tests, choices in rules:
            names = list(tests)
            for choice, assigned in choices:
                names.extend(assigned)
            if any(n not in colset for n in names):
                continue    # names a column the input lacks: dropped
            r = len(self.rules)
            live = [(c, v) for c, v in tests.items()
                    if v and not c.startswith("_")]
            dead = any(v and c.startswith("_") for c, v in tests.items())
            clean_choices = [{c: v for c, v in ch.items()
                              if not c.startswith("_")} for ch, _ in choices]
            self.rules.append((live, clean_choices))
            if live and not dead:
                indexed.append((r, live))
        # Each rule is filed under the test the fewest rules share.
        sharing = {}
        for r, live in indexed:
            for test in live:
                sharing[test] = sharing.get(test, 0) + 1
        for r, live in indexed:
            col, val = min(live, key=lambda test: sharing[test])
            self.index.setdefault(col, {}).setdefault(val, []).append(r)
        self.keycols = list(self.index.items())
        self.columns = [c for c in columns if c != "COMMENT"]
        self.fmt = "".join("%s = %%s\n" % c.replace("%", "%%")
                           for c in self.columns)
        self.has_comment = "COMMENT" in colset
        self.out = out
        self.buf = []
        self.count = 0

    def find(self, row, used):
        best = -1
        for col, table in self.keycols:
            candidates = table.get(row.get(col, ""))
            if not candidates:
                continue
            for r in candidates:
                if best >= 0 and r >= best:
                    break
                if r == used:
                    continue
                for c, v in self.rules[r][0]:
                    if row.get(c, "") != v:
                        break
                else:
                    best = r
                    break
        return best

    def expand(self, row, used=-1):
        r = self.find(row, used)
        if r < 0:
            self.emit(row)
            return
        for choice in self.rules[r][1]:
            child = dict(row)
            child.update(choice)
            self.expand(child, r)

    def emit(self, row):
        self.count += 1
        buf = self.buf
        get = row.get
        buf.append(self.fmt % tuple([get(c, "") for c in self.columns]))
        buf.append("EXPANSION_NUMBER = %d\n" % self.count)
        if self.has_comment:
            text = get("COMMENT", "")
            buf.append("COMMENT =" + text if text.endswith("\n")
                       else "COMMENT =" + text + "\n")
        buf.append("ENDROW\n\n")
        if len(buf) > 100000:
            self.flush()

    def flush(self):
        self.out.write("".join(self.buf))
        self.buf = []


def main(argv):
    if len(argv) != 3:
        sys.exit("usage: fanout.py IN OUT RULES")
    src, dst, rule_path = argv
    rules = read_rules(rule_path)
    out = open(dst, "w", encoding="latin-1", newline="\n")
    header = {}
    columns = []
    known = set()
    rows = []           # rows held back until the layout is known
    row = {}
    expander = None
    in_comment = False
    section = 0         # 0 header, 1 rows, 2 after ENDFILE

    def take(row):
        nonlocal expander
        if expander is None:
            rows.append(row)
            return
        expander.expand(row)

    def start_rows():
        nonlocal expander
        expander = Expander(rules, columns, out)
        for held in rows:
            expander.expand(held)
        rows.clear()

    with open(src, encoding="latin-1") as f:
        for line in f:
            text = line.rstrip()
            if text.upper() in CLOSERS and not text[:1].isspace():
                kind = CLOSERS[text.upper()]
                in_comment = False
                if section == 0 and kind == 2:
                    for name, value in header.items():
                        if name != "COMMENT":
                            out.write("%s = %s\n" % (name, value))
                    if "COMMENT" in header:
                        value = header["COMMENT"]
                        out.write("COMMENT =" + value)
                        if not value.endswith("\n"):
                            out.write("\n")
                    out.write("ENDHEADER\n\n")
                    section = 1
                elif section == 1 and kind in (1, 3):
                    if row:
                        take(row)
                        # The layout is fixed once the second row has begun;
                        # here it is taken as fixed after the first.
                        if expander is None:
                            start_rows()
                        row = {}
                    if kind == 3:
                        section = 2
                continue
            if in_comment:
                if section == 0:
                    header["COMMENT"] += line
                else:
                    row["COMMENT"] += line
                continue
            if not text or text.lstrip()[:1] == "#":
                continue
            name, _, value = line.partition("=")
            name = clean(name).translate(UPPER)
            if name == "COMMENT":
                in_comment = True
            else:
                value = clean(value)
            if section == 0:
                header[name] = value
            else:
                if name not in known:
                    known.add(name)
                    columns.append(name)
                if name.startswith("_"):
                    continue
                if value:
                    row[name] = value
                else:
                    row.pop(name, None)
    if expander is None:
        start_rows()
    expander.flush()
    out.write("ENDFILE\n")
    out.close()


if __name__ == "__main__":
    main(sys.argv[1:])
