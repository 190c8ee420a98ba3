#!/usr/bin/env python3
"""Kills the tool at random moments of a large run and checks what is left.

    fuzz/killrun.py [--tool PATH] [--kills N] [--rows N] [--seed N]

Each trial runs `rowfan in.lod out.lod r.rules` in a scratch directory and
sends one signal after a random delay spread over the length of a whole run
(and a little past it): SIGKILL in most trials, otherwise one of the signals
that end a process by default. Half the trials replace an earlier out.lod,
half write a name not yet taken. After each, the directory must hold exactly
the input, the rules and either the earlier out.lod unchanged (or none) or
the complete new output, byte for byte, and nothing else: no temporary, no
partial file. Prints the figures; the exit status is 1 if any trial broke
that rule. Scratch files go under ${TMPDIR:-/tmp} and are removed.
"""

import argparse
import collections
import hashlib
import os
import random
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OLD = b"an earlier output, not a load file\n" * 1000
OTHER_SIGNALS = [signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGQUIT,
                 signal.SIGUSR1, signal.SIGALRM, signal.SIGPIPE, signal.SIGXCPU,
                 signal.SIGRTMIN]


def write_inputs(work, rows):
    with open(os.path.join(work, "in.lod"), "w") as f:
        f.write("TITLE = kill test\nENDHEADER\n")
        for i in range(rows):
            f.write(f"A = X\nB = {i}\nENDROW\n")
        f.write("ENDFILE\n")
    with open(os.path.join(work, "r.rules"), "w") as f:
        f.write("A = X => A = P || A = Q || A = R || A = S ;\n"
                "A = P => C = 1 || C = 2 || C = 3 || C = 4 || C = 5 || C = 6 ;\n")


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def no_core():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


def start(tool, work):
    return subprocess.Popen([tool, "in.lod", "out.lod", "r.rules"], cwd=work,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            preexec_fn=no_core)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--tool", default=os.path.join(ROOT, "build", "src", "rowfan", "rowfan"))
    ap.add_argument("--kills", type=int, default=240)
    ap.add_argument("--rows", type=int, default=100000)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    tool = os.path.abspath(args.tool)
    work = tempfile.mkdtemp(prefix="rowfan-killrun-")
    try:
        write_inputs(work, args.rows)
        out = os.path.join(work, "out.lod")
        times = []
        for _ in range(3):
            began = time.monotonic()
            proc = start(tool, work)
            if proc.wait() != 0:
                sys.exit(f"a whole run failed: {proc.stderr.read().decode()}")
            times.append(time.monotonic() - began)
        run_time = statistics.median(times)
        want_size = os.path.getsize(out)
        want = digest(out)
        print(f"whole run: median {run_time:.3f} s of 3, output {want_size / 2**20:.1f} MiB")

        outcomes = collections.Counter()
        by_signal = collections.Counter()
        broken = []
        for trial in range(args.kills):
            replace = trial % 2 == 0
            if replace:
                with open(out, "wb") as f:
                    f.write(OLD)
            elif os.path.exists(out):
                os.unlink(out)
            sig = signal.SIGKILL if rng.random() < 0.6 else rng.choice(OTHER_SIGNALS)
            delay = rng.uniform(0, 1.1 * run_time)
            proc = start(tool, work)
            time.sleep(delay)
            proc.send_signal(sig)
            status = proc.wait()
            by_signal[signal.Signals(sig).name] += 1

            names = sorted(os.listdir(work))
            extra = [n for n in names if n not in ("in.lod", "r.rules", "out.lod")]
            if extra:
                state = "left " + " ".join(extra)
            elif "out.lod" not in names:
                state = "none" if not replace else "old file gone"
            elif os.path.getsize(out) == want_size and digest(out) == want:
                state = "new"
            else:
                with open(out, "rb") as f:
                    state = "old" if f.read() == OLD and replace else "partial"
            ended = "completed" if status == 0 else "killed" if status < 0 else f"status {status}"
            outcome = f"{'replace' if replace else 'new name'}: {ended}, {state}"
            outcomes[outcome] += 1
            if state not in ("old", "new", "none") or proc.stderr.read():
                broken.append(f"trial {trial} {signal.Signals(sig).name} at {delay:.3f} s: {outcome}")
            for n in extra:
                os.unlink(os.path.join(work, n))

        print(f"{args.kills} trials, signal sent at 0 to {1.1 * run_time:.3f} s")
        print("signals: " + ", ".join(f"{k} {v}" for k, v in sorted(by_signal.items())))
        for outcome, count in sorted(outcomes.items()):
            print(f"  {count:4d}  {outcome}")
        for line in broken:
            print("BROKEN " + line)
        print(f"{len(broken)} trials broke the rule")
        sys.exit(1 if broken else 0)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
