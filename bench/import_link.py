#!/usr/bin/env python3
"""Figure 7, import rows: the three importers with -b on, on loopback and
through kvrbench_relay at a 20 ms round trip (10 ms each way), on real
routines, with the round trips each run makes.

The corpus is 600 routines cut from real M code: the M routines that ship
with the GT.M package (the few generated multi-megabyte tables left out),
taken in turn and renamed, so sizes and line shapes are those of real code.
kvrdbri reads them as NAME.int, kvrdbrigtm as NAME.m, kvrdbrirsa as one
routine-set file written by kvrdbrorsa from the imported routines.

Starts its own kvrdevserver and relay on 127.0.0.1 (stopped by pid at the
end); prints one table row per utility: loopback seconds (best of --reps),
20 ms seconds (best of --link-reps), round trips (sendto calls under
strace -c) and per routine, and the time the done-when allows: loopback
plus a quarter of a round trip per routine.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROUTINES = 600
ONE_WAY_US = 10000
GTM = "/usr/lib/x86_64-linux-gnu/fis-gtm/V7.0-005_x86_64"


def start(argv):
    """A server process and the port of its first line."""
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = proc.stdout.readline()
    match = re.match(r"listening on 127\.0\.0\.1:(\d+)", line)
    if not match:
        proc.kill()
        sys.exit("import_link: %s did not start: %r" % (argv[0], line))
    return proc, match.group(1)


def make_corpus(folder, count):
    sources = sorted(p for p in glob.glob(os.path.join(GTM, "*.m")) if os.path.getsize(p) < 1000000)
    if not sources:
        sys.exit("import_link: no routines under " + GTM)
    total = 0
    for i in range(count):
        with open(sources[i % len(sources)], "rb") as f:
            lines = f.read().split(b"\n")
        name = "GR%04d" % i
        # The first line's label becomes the routine's new name.
        label = re.match(rb"[%A-Za-z0-9]*", lines[0])
        lines[0] = name.encode() + lines[0][label.end():]
        text = b"\n".join(lines)
        total += len(text)
        for ext in (".int", ".m"):
            with open(os.path.join(folder, name + ext), "wb") as f:
                f.write(text)
    return total, len(sources)


def timed(argv, cwd):
    start_time = time.perf_counter()
    done = subprocess.run(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start_time
    if done.returncode not in (0, 1):
        sys.exit("import_link: %s ended with %d: %s" % (argv[0], done.returncode, done.stderr.decode(errors="replace")))
    return wall


def sends(argv, cwd, scratch):
    log = os.path.join(scratch, "strace.log")
    subprocess.run(["strace", "-f", "-c", "-e", "trace=sendto,sendmsg", "-o", log] + argv, cwd=cwd,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(log) as f:
        for line in f:
            fields = line.split()
            if fields and fields[-1] in ("sendto", "sendmsg"):
                return int(fields[3])
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--link-reps", type=int, default=2)
    parser.add_argument("--line-by-line", action="store_true",
                        help="also count the round trips without -b on (on loopback)")
    args = parser.parse_args()
    args.bin = os.path.abspath(args.bin)
    work = tempfile.mkdtemp(prefix="kovra-import-link.")
    procs = []
    try:
        server, port = start([os.path.join(args.bin, "kvrdevserver"), "--port", "0"])
        procs.append(server)
        relay, link_port = start([os.path.join(args.bin, "kvrbench_relay"), port, str(ONE_WAY_US)])
        procs.append(relay)
        shutil.copy(os.path.join(args.bin, "libkovrasc.so"), work)
        size, distinct = make_corpus(work, ROUTINES)
        tool = lambda name: os.path.join(args.bin, name)
        at = lambda p: ["-s", "127.0.0.1", "-p", p, "-d", "USER"]
        # The routine-set file: the corpus as the exporter writes it.
        subprocess.run([tool("kvrdbri")] + at(port) + ["-m", "all", "-b", "on", "*.int"], cwd=work,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([tool("kvrdbrorsa")] + at(port) + ["-b", "on", "GR*", "all.rsa"], cwd=work,
                       stdout=subprocess.DEVNULL, check=True)
        runs = [("kvrdbri -m all -b on", "kvrdbri", ["-m", "all", "-b", "on", "*.int"]),
                ("kvrdbrigtm -b on", "kvrdbrigtm", ["-b", "on", "*.m"]),
                ("kvrdbrirsa -b on", "kvrdbrirsa", ["-b", "on", "all.rsa"])]
        load = open("/proc/loadavg").read().split()[:3]
        print("Measured %s; %d routines, %.1f MB (%d distinct real routines, renamed); load average %s at the start"
              % (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), ROUTINES, size / 1e6, distinct,
                 " ".join(load)))
        print()
        print("| run | loopback s | 20 ms s | round trips | per routine | allowed s (loopback + rt/4 per routine) | met |")
        print("|---|---|---|---|---|---|---|")
        for label, name, words in runs:
            trips = sends([tool(name)] + at(port) + words, work, work)
            loop = min(timed([tool(name)] + at(port) + words, work) for _ in range(args.reps))
            link = min(timed([tool(name)] + at(link_port) + words, work) for _ in range(args.link_reps))
            allowed = loop + ROUTINES * 2 * ONE_WAY_US / 1e6 / 4
            print("| `%s` | %.2f | %.2f | %d | %.3f | %.2f | %s |"
                  % (label, loop, link, trips, trips / ROUTINES, allowed, "yes" if link <= allowed else "no"))
            if args.line_by_line:
                plain = [w for w in words if w not in ("-b", "on")]
                plain_trips = sends([tool(name)] + at(port) + plain, work, work)
                print("| `%s` line by line: round trips on loopback | | | %d | %.1f | | |"
                      % (name, plain_trips, plain_trips / ROUTINES))
        print()
        print("Load average at the end: %s; uptime: %s" % (" ".join(open("/proc/loadavg").read().split()[:3]),
                                                          subprocess.run(["uptime"], capture_output=True,
                                                                         text=True).stdout.strip()))
    finally:
        for proc in procs:
            proc.kill()
            proc.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
