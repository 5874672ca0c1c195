#!/usr/bin/env python3
"""End-to-end timings of the routine utilities against a running kvrdevserver.

Generates a corpus of routines (once per work folder), then repeats, in turns:
kvrdbri -m all of the corpus, kvrdbro -m all of it, kvrdbrorsa of it into one
file. Each run is timed on the wall clock and its peak resident memory taken
from GNU time; one extra run of each under strace -c counts its round trips
(one send per request: the library sends every request whole in one call).
The process and its children run on whatever CPUs it was started on (the
caller pins it with taskset). Samples are appended to the samples file as
"placement<TAB>benchmark<TAB>metric<TAB>value" lines.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

ROUTINES = 1000
LINES = 50


def make_corpus(folder):
    os.makedirs(folder, exist_ok=True)
    for i in range(ROUTINES):
        name = "BR%04d" % i
        lines = ["%s ; generated routine %d for the benchmark" % (name, i)]
        for n in range(1, LINES - 1):
            lines.append(" s x(%d)=$g(x(%d))+%d_\"text of line %d\" ; %s" % (n, n, i, n, name))
        lines.append(" q")
        with open(os.path.join(folder, name + ".int"), "w") as f:
            f.write("\n".join(lines) + "\n")


def timed_run(argv, cwd, scratch):
    """Wall seconds and peak resident KB of one run.

    The peak comes from GNU time, a small C program: a child forked from
    this Python process would carry the interpreter's pages into its peak.
    """
    report = os.path.join(scratch, "time.out")
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + argv, cwd=cwd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("e2e: %s failed with status %d: %s"
                 % (argv[0], done.returncode, done.stderr.decode(errors="replace")))
    with open(report) as f:
        peak = int(f.read().split()[-1])
    return wall, peak


def count_sends(argv, cwd, scratch):
    """Requests sent by one run, or None when strace cannot run here."""
    if shutil.which("strace") is None:
        return None
    log = os.path.join(scratch, "strace.log")
    done = subprocess.run(["strace", "-c", "-e", "trace=sendto,sendmsg,write", "-o", log] + argv,
                          cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if done.returncode != 0 or not os.path.exists(log):
        return None
    with open(log) as f:
        for line in f:
            fields = line.split()
            if fields and fields[-1] in ("sendto", "sendmsg"):
                return int(fields[3])
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--port", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--placement", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--reps", type=int, default=5)
    args = parser.parse_args()

    corpus = os.path.join(args.work, "corpus")
    if not os.path.isdir(corpus):
        make_corpus(corpus)
    library = os.path.join(args.bin, "libkovrasc.so")
    connection = ["-s", "127.0.0.1", "-p", args.port, "-d", "USER"]
    folders = {}
    for name in ("import", "export", "rsa"):
        folders[name] = os.path.join(args.work, args.placement + "-" + name)
        os.makedirs(folders[name], exist_ok=True)
        shutil.copy(library, folders[name])
    # The importer reads the corpus files from its working folder.
    for entry in os.listdir(corpus):
        shutil.copy(os.path.join(corpus, entry), folders["import"])

    runs = [
        ("kvrdbri", "import", [os.path.join(args.bin, "kvrdbri")] + connection + ["-m", "all", "*.int"]),
        ("kvrdbro", "export", [os.path.join(args.bin, "kvrdbro")] + connection + ["-m", "all", "BR*"]),
        ("kvrdbrorsa", "rsa", [os.path.join(args.bin, "kvrdbrorsa")] + connection + ["BR*", "all.rsa"]),
    ]
    with open(args.samples, "a") as samples:
        def sample(name, metric, value):
            samples.write("%s\t%s\t%s\t%r\n" % (args.placement, name, metric, value))

        for name, folder, argv in runs:
            sends = count_sends(argv, folders[folder], args.work)
            if sends is not None:
                sample(name, "round_trips", sends)
        exported = [f for f in os.listdir(folders["export"]) if f.endswith(".int")]
        if len(exported) != ROUTINES:
            sys.exit("e2e: kvrdbro wrote %d routine files, not %d" % (len(exported), ROUTINES))
        for _ in range(args.reps):
            for name, folder, argv in runs:
                wall, peak = timed_run(argv, folders[folder], args.work)
                sample(name, "seconds", wall)
                sample(name, "peak_kb", peak)


if __name__ == "__main__":
    main()
