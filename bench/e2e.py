#!/usr/bin/env python3
"""End-to-end timings of the routine utilities against a running kvrdevserver.

Generates a corpus of routines (once per work folder), then repeats, in turns,
every variant of VARIANTS: kvrdbri -m all of the corpus, kvrdbro -m all of it,
kvrdbrorsa of it into one file, each line by line and in bulk (-b on). Each run
is timed on the wall clock and its peak resident memory taken from GNU time;
one extra run of each under strace -c counts its round trips (one send per
request: the library sends every request whole in one call). The server may
sit behind kvrbench_relay: the port is all this script knows.

A bulk variant runs only when its utility is seen to use it: the utilities
skip option words they do not know, so "-b on" alone proves nothing. A probe
counts the sends of the same small job with and without the option; only
fewer sends with it show bulk transfer. Otherwise the variant gets an
"unavailable" sample and no figures.

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
PROBE_ROUTINES = 3


PROBE_PREFIX = "KVRPRB"


class Variant:
    """One measured run of a utility: its sample name, its text in the table,
    its work folder and its words; "{prefix}" in a word stands for the prefix
    of the routine names (the corpus's, or the probe's)."""

    def __init__(self, utility, folder, what, options, arguments, bulk=False):
        self.utility = utility
        self.folder = folder
        self.bulk = bulk
        suffix = " -b on" if bulk else ""
        self.name = utility + suffix
        self.what = what + suffix
        self.options = options + (["-b", "on"] if bulk else [])
        self.arguments = arguments

    def argv(self, bin_folder, connection, prefix="BR"):
        return ([os.path.join(bin_folder, self.utility)] + connection + self.options
                + [word.replace("{prefix}", prefix) for word in self.arguments])


# The figures of the table, in its order: a new mode of a utility is one more
# entry here, and table.py shows whatever this list holds.
VARIANTS = [
    Variant("kvrdbri", "import", "kvrdbri -m all", ["-m", "all"], ["*.int"]),
    Variant("kvrdbri", "import", "kvrdbri -m all", ["-m", "all"], ["*.int"], bulk=True),
    Variant("kvrdbro", "export", "kvrdbro -m all", ["-m", "all"], ["{prefix}*"]),
    Variant("kvrdbro", "export", "kvrdbro -m all", ["-m", "all"], ["{prefix}*"], bulk=True),
    Variant("kvrdbrorsa", "rsa", "kvrdbrorsa to one file", [], ["{prefix}*", "all.rsa"]),
    Variant("kvrdbrorsa", "rsa", "kvrdbrorsa to one file", [], ["{prefix}*", "all.rsa"], bulk=True),
]


def make_corpus(folder, prefix="BR", count=ROUTINES):
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        name = "%s%04d" % (prefix, i)
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


def bulk_unavailable(variant, plain, bin_folder, connection, folder, scratch):
    """Why the bulk variant cannot be measured, or None when it can: with
    "-b on" the probe's job must take fewer sends than without it."""
    line = count_sends(plain.argv(bin_folder, connection, PROBE_PREFIX), folder, scratch)
    bulk = count_sends(variant.argv(bin_folder, connection, PROBE_PREFIX), folder, scratch)
    if line is None or bulk is None:
        return "its sends cannot be counted here (strace)"
    if bulk >= line:
        return "it sends %d requests with -b on, %d without: no bulk transfer" % (bulk, line)
    return None


def work_folder(work, name, library):
    folder = os.path.join(work, name)
    os.makedirs(folder, exist_ok=True)
    shutil.copy(library, folder)
    return folder


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
    probes = {}
    for name in ("import", "export", "rsa"):
        folders[name] = work_folder(args.work, args.placement + "-" + name, library)
        probes[name] = work_folder(args.work, args.placement + "-probe-" + name, library)
    # The importer reads the corpus files from its working folder.
    for entry in os.listdir(corpus):
        shutil.copy(os.path.join(corpus, entry), folders["import"])
    make_corpus(probes["import"], PROBE_PREFIX, PROBE_ROUTINES)

    plain = {v.utility: v for v in VARIANTS if not v.bulk}
    with open(args.samples, "a") as samples:
        def sample(name, metric, value):
            samples.write("%s\t%s\t%s\t%r\n" % (args.placement, name, metric, value))

        # The exporters' probes read the probe's routines from the server.
        timed_run(plain["kvrdbri"].argv(args.bin, connection, PROBE_PREFIX), probes["import"], args.work)
        runs = []
        for variant in VARIANTS:
            if variant.bulk:
                why = bulk_unavailable(variant, plain[variant.utility], args.bin, connection,
                                       probes[variant.folder], args.work)
                if why:
                    print("e2e: %s: not available: %s" % (variant.what, why))
                    sample(variant.name, "unavailable", 1)
                    continue
            runs.append((variant, variant.argv(args.bin, connection), folders[variant.folder]))

        for variant, argv, folder in runs:
            sends = count_sends(argv, folder, args.work)
            if sends is not None:
                sample(variant.name, "round_trips", sends)
        exported = [f for f in os.listdir(folders["export"]) if f.endswith(".int")]
        if len(exported) != ROUTINES:
            sys.exit("e2e: kvrdbro wrote %d routine files, not %d" % (len(exported), ROUTINES))
        for _ in range(args.reps):
            for variant, argv, folder in runs:
                wall, peak = timed_run(argv, folder, args.work)
                sample(variant.name, "seconds", wall)
                sample(variant.name, "peak_kb", peak)


if __name__ == "__main__":
    main()
