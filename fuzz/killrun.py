#!/usr/bin/env python3
"""Kills the tool at random moments of a large run and checks what is left.

    fuzz/killrun.py [--tool PATH] [--kills N] [--rows N] [--seed N]
                    [--pairs N] [--copy-kills N] [--trace-kills N]

Each trial runs `rowfan in.lod out.lod r.rules` in a scratch directory and
sends one signal after a random delay spread over the length of a whole run
(and a little past it): SIGKILL in most trials, otherwise one of the signals
that end a process by default. Half the trials replace an earlier out.lod,
half write a name not yet taken. After each, the directory must hold exactly
the input, the rules and either the earlier out.lod unchanged (or none) or
the complete new output, byte for byte, and nothing else: no temporary, no
partial file.

Then three runs aimed at the moments the random ones seldom hit:
--pairs runs pairs of runs at once, with different inputs, onto one file
with a second hard link (the copy route): the file must end as one of the
two complete outputs, never a mix. --copy-kills holds the copy route's copy
open (strace delays the return of copy_file_range) and sends that many
signals of every kind that ends a process by default into it, counting
those that landed while the copy was under way: the file must be the
earlier one or the complete output, and nothing left over. SIGKILL, which
no program can hold back, is counted apart: it may leave a copy cut short.
--trace-kills does the same with output and trace (trace=FILE), holding the
first of the two placements open: both files must be new, or both as
before. Prints the figures; the exit status is 1 if any trial broke a rule.
Scratch files go under ${TMPDIR:-/tmp} and are removed.
"""

import argparse
import collections
import hashlib
import os
import platform
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


# Every signal whose default action ends the process; SIGKILL last.
ENDING_SIGNALS = [getattr(signal, name) for name in (
    "SIGHUP", "SIGINT", "SIGQUIT", "SIGILL", "SIGTRAP", "SIGABRT", "SIGBUS", "SIGFPE",
    "SIGUSR1", "SIGSEGV", "SIGUSR2", "SIGPIPE", "SIGALRM", "SIGTERM", "SIGSTKFLT",
    "SIGXCPU", "SIGXFSZ", "SIGVTALRM", "SIGPROF", "SIGIO", "SIGPWR", "SIGSYS",
    "SIGRTMIN", "SIGRTMAX") if hasattr(signal, name)] + [signal.SIGKILL]

# The system call numbers /proc/PID/syscall shows while a call is under way.
SYSCALLS = {
    "x86_64": {"copy_file_range": 326, "linkat": 265, "renameat2": 316},
    "aarch64": {"copy_file_range": 285, "linkat": 37, "renameat2": 276},
}


def signame(sig):
    return signal.Signals(sig).name


def in_syscall(pid, number):
    try:
        with open(f"/proc/{pid}/syscall") as f:
            return f.read().split()[0] == str(number)
    except (OSError, IndexError):
        return False


def held_in(args, work, call, number, sig):
    """Runs the tool under strace with `call` held open (its return delayed),
    and sends `sig` once the tool is inside it. True when the signal landed
    there: sent while the call was under way, and it still was after."""
    # The shell tells its pid, which the tool keeps when the shell becomes it.
    report, told = os.pipe()
    proc = subprocess.Popen(
        ["strace", "-f", "-qq", "-o", "/dev/null", "-e", f"trace={call}",
         "-e", f"inject={call}:delay_exit=150000:when=1",
         "sh", "-c", f'echo $$ >&{told}; exec {told}>&-; exec "$@"', "sh"] + args, cwd=work,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=no_core,
        pass_fds=(told,))
    os.close(told)
    with os.fdopen(report) as f:
        text = f.readline().strip()
    pid = int(text) if text else None
    deadline = time.monotonic() + 20
    landed = False
    while pid is not None and time.monotonic() < deadline and proc.poll() is None:
        if in_syscall(pid, number):
            os.kill(pid, sig)
            landed = sig == signal.SIGKILL or in_syscall(pid, number)
            break
        time.sleep(0.001)
    proc.wait()
    return landed


def leftovers(work, *kept):
    """What a run left in its directory besides its inputs and the named files."""
    return sorted(set(os.listdir(work)) - {"in.lod", "r.rules", *kept})


def show(outcomes):
    """The count of each outcome, one a line."""
    for outcome, n in sorted(outcomes.items()):
        print(f"  {n:4d}  {outcome}")


def pairs(tool, work, count):
    """Pairs of runs at once onto a file with a second link."""
    for name, tag in (("a.lod", "A"), ("b.lod", "B")):
        with open(os.path.join(work, name), "w") as f:
            f.write("ENDHEADER\n")
            for i in range(20000):
                f.write(f"A = X\nB = {tag}{i}\nENDROW\n")
            f.write("ENDFILE\n")
    out = os.path.join(work, "out.lod")
    wants = {}
    for name in ("a.lod", "b.lod"):
        subprocess.run([tool, name, "want.lod", "r.rules"], cwd=work, check=True)
        wants[digest(os.path.join(work, "want.lod"))] = name
        os.unlink(os.path.join(work, "want.lod"))
    outcomes = collections.Counter()
    broken = []
    for trial in range(count):
        with open(out, "wb") as f:
            f.write(OLD)
        os.link(out, os.path.join(work, "link.lod"))
        procs = [subprocess.Popen([tool, name, "out.lod", "r.rules"], cwd=work,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                 for name in ("a.lod", "b.lod")]
        statuses = [p.wait() for p in procs]
        messages = b"".join(p.stdout.read() for p in procs)
        same = os.path.samefile(out, os.path.join(work, "link.lod"))
        state = wants.get(digest(out), "mixed")
        extra = leftovers(work, "a.lod", "b.lod", "out.lod", "link.lod")
        outcome = f"statuses {statuses[0]} {statuses[1]}, output of {state}"
        outcomes[outcome] += 1
        if state == "mixed" or statuses != [0, 0] or not same or extra or messages:
            broken.append(f"pair {trial}: {outcome} {' '.join(extra)} {messages!r}")
        os.unlink(os.path.join(work, "link.lod"))
    print(f"{count} pairs of runs at once onto a file with two links:")
    show(outcomes)
    return broken


def copy_kills(tool, work, count, numbers):
    """Signals into the copy route's copy."""
    out = os.path.join(work, "out.lod")
    subprocess.run([tool, "in.lod", "want.lod", "r.rules"], cwd=work, check=True)
    want = digest(os.path.join(work, "want.lod"))
    # Longer than the output, so a copy cut short would show.
    old = OLD * (os.path.getsize(os.path.join(work, "want.lod")) // len(OLD) + 2)
    os.unlink(os.path.join(work, "want.lod"))
    outcomes = collections.Counter()
    broken = []
    for sig in ENDING_SIGNALS:
        landed = 0
        while landed < count:
            with open(out, "wb") as f:
                f.write(old)
            os.link(out, os.path.join(work, "link.lod"))
            if not held_in([tool, "in.lod", "out.lod", "r.rules"], work, "copy_file_range",
                           numbers["copy_file_range"], sig):
                os.unlink(os.path.join(work, "link.lod"))
                outcomes[f"{signame(sig)} not landed"] += 1
                continue
            landed += 1
            got = digest(out)
            state = "new" if got == want else "old" if got == hashlib.sha256(old).hexdigest() \
                else "partial"
            extra = leftovers(work, "out.lod", "link.lod")
            if extra:
                state += ", left " + " ".join(extra)
            kind = "SIGKILL" if sig == signal.SIGKILL else "held back"
            outcomes[f"{kind}: {state}"] += 1
            if sig != signal.SIGKILL and state not in ("new", "old"):
                broken.append(f"{signame(sig)} in the copy: {state}")
            for n in extra:
                os.unlink(os.path.join(work, n))
            os.unlink(os.path.join(work, "link.lod"))
    print(f"signals into the copy route's copy, {count} landed of each of "
          f"{len(ENDING_SIGNALS)} kinds:")
    show(outcomes)
    return broken


def trace_kills(tool, work, count, numbers):
    """Signals between the placements of output and trace."""
    names = ("out.lod", "t.tsv")
    wants = {}
    subprocess.run([tool, "in.lod", "out.lod", "r.rules", "trace=t.tsv"], cwd=work, check=True)
    for name in names:
        wants[name] = digest(os.path.join(work, name))
    outcomes = collections.Counter()
    broken = []
    for sig in ENDING_SIGNALS[:-1]:
        landed = 0
        trial = 0
        while landed < count:
            # New names are linked in; earlier files are renamed over.
            replace = trial % 2 == 1
            trial += 1
            for name in names:
                path = os.path.join(work, name)
                if replace:
                    with open(path, "wb") as f:
                        f.write(OLD)
                elif os.path.exists(path):
                    os.unlink(path)
            call = "renameat2" if replace else "linkat"
            if not held_in([tool, "in.lod", "out.lod", "r.rules", "trace=t.tsv"], work, call,
                           numbers[call], sig):
                continue
            landed += 1
            states = []
            for name in names:
                path = os.path.join(work, name)
                if not os.path.exists(path):
                    states.append("none")
                elif digest(path) == wants[name]:
                    states.append("new")
                else:
                    with open(path, "rb") as f:
                        states.append("old" if f.read() == OLD else "partial")
            extra = leftovers(work, *names)
            state = "output " + states[0] + ", trace " + states[1]
            if extra:
                state += ", left " + " ".join(extra)
            outcomes[f"{'replace' if replace else 'new names'}: {state}"] += 1
            if extra or states[0] != states[1] or "partial" in states:
                broken.append(f"{signame(sig)} between placements: {state}")
            for n in extra:
                os.unlink(os.path.join(work, n))
    print(f"signals between the placements of output and trace, {count} landed of each of "
          f"{len(ENDING_SIGNALS) - 1} kinds:")
    show(outcomes)
    return broken


def random_kills(tool, work, args, rng):
    """One signal at a random moment of each run."""
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

        names = os.listdir(work)
        extra = leftovers(work, "out.lod")
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
    show(outcomes)
    return broken


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--tool", default=os.path.join(ROOT, "build", "src", "rowfan", "rowfan"))
    ap.add_argument("--kills", type=int, default=240)
    ap.add_argument("--rows", type=int, default=100000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--pairs", type=int, default=100)
    ap.add_argument("--copy-kills", type=int, default=100)
    ap.add_argument("--trace-kills", type=int, default=20)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    tool = os.path.abspath(args.tool)
    numbers = SYSCALLS.get(platform.machine())
    if (args.copy_kills or args.trace_kills) and (numbers is None or not shutil.which("strace")):
        sys.exit("--copy-kills and --trace-kills need strace on x86_64 or aarch64")
    broken = []
    for phase in ("random", "pairs", "copy", "trace"):
        work = tempfile.mkdtemp(prefix="rowfan-killrun-")
        try:
            if phase == "random" and args.kills > 0:
                write_inputs(work, args.rows)
                broken += random_kills(tool, work, args, rng)
            elif phase == "pairs" and args.pairs > 0:
                write_inputs(work, 0)
                broken += pairs(tool, work, args.pairs)
            elif phase == "copy" and args.copy_kills > 0:
                write_inputs(work, 2000)
                broken += copy_kills(tool, work, args.copy_kills, numbers)
            elif phase == "trace" and args.trace_kills > 0:
                write_inputs(work, 2000)
                broken += trace_kills(tool, work, args.trace_kills, numbers)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    for line in broken:
        print("BROKEN " + line)
    print(f"{len(broken)} trials broke the rule")
    sys.exit(1 if broken else 0)


if __name__ == "__main__":
    main()
