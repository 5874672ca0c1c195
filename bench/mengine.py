#!/usr/bin/env python3
"""The "M engine" figure: the same M workloads run by kvrdevserver's engine
(kvrbench_mengine, in process) and, when fis-gtm is installed, by GT.M, a
compiling M system, in the same run. Prints the CPU time of each (median of
the repetitions) and their ratio. GT.M's figure is the CPU of its process
less that of a process that starts and quits at once; its routines are
compiled before they run, as ours are parsed before the timed runs."""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

GTM_DIST = "/usr/lib/x86_64-linux-gnu/fis-gtm/V7.0-005_x86_64"
CALLS = 100000
LOCALS = 200000
GLOBALS = 100000
IMPORTS = 1000

WORKLOADS = {
    "BCPU": [
        "BCPU ; the CPU-bound loop: arithmetic, string functions, concatenation",
        " n i,x,n,s,t s x=0,n=0,s=\"alpha,beta,gamma\",t=\"\"",
        " f i=1:1:1000000 s x=x+i-7#1000\\3,n=n+$l(s)+$e(s,i#9+1)+$l($p(s,\",\",i#3+1)),t=$s(i#2:\"ab\",1:t_\"c\")",
        " q",
        "NOP q",
    ],
    "BCALL": [
        "BCALL ; calls into a 10-line and a 2,000-line routine",
        "C10 n i,x s x=0 f i=1:1:%d s x=x+$$F^BS10(i)" % CALLS,
        " q",
        "C2000 n i,x s x=0 f i=1:1:%d s x=x+$$F^BS2000(i)" % CALLS,
        " q",
    ],
    "BLOC": [
        "BLOC ; local SET, GET and $ORDER",
        " n a,i,x,k s x=0",
        " f i=1:1:%d s a(i)=i" % LOCALS,
        " f i=1:1:%d s x=x+a(i)" % LOCALS,
        " s k=\"\" f  s k=$o(a(k)) q:k=\"\"  s x=x+1",
        " q",
    ],
    "BGLO": [
        "BGLO ; global SET, GET and $ORDER",
        " n i,x,k s x=0 k ^BG",
        " f i=1:1:%d s ^BG(i)=i" % GLOBALS,
        " f i=1:1:%d s x=x+^BG(i)" % GLOBALS,
        " s k=\"\" f  s k=$o(^BG(k)) q:k=\"\"  s x=x+1",
        " k ^BG q",
    ],
}


def filler(name, count, middle):
    """A routine of count lines with F(n) at line middle."""
    lines = [name + " ; generated"]
    for k in range(2, count + 1):
        if k == middle:
            lines.append("F(n) q n#7")
        elif k % 10 == 0:
            lines.append("L%d s x=$g(x)+%d q" % (k, k))
        else:
            lines.append(" s y=$g(y)_\"%d\",z=$l(y) ; line %d" % (k, k))
    return lines


def imported(k):
    """One of the thousand routines imported and compiled."""
    lines = ["RT%04d ; generated routine %d" % (k, k)]
    for j in range(1, 30):
        lines.append("L%d(a,b) n c s c=a+b*%d,^RTG(%d,%d)=c_\"-\"_$p(\"x,y,z\",\",\",%d) q c" % (j, j, k, j, j % 3 + 1))
    lines.append(" q")
    return lines


def write_routines(folder, routines):
    os.makedirs(folder, exist_ok=True)
    for name, lines in routines.items():
        with open(os.path.join(folder, name + ".m"), "w") as f:
            f.write("\n".join(lines) + "\n")


def child_cpu(args, cwd, env):
    """CPU seconds (user + system) of one child process."""
    proc = subprocess.Popen(args, cwd=cwd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if status != 0 or err.strip():
        sys.exit("GT.M failed on %s: %s" % (" ".join(args), err))
    return usage.ru_utime + usage.ru_stime


def gtm_figures(work, reps):
    env = dict(os.environ, gtm_dist=GTM_DIST, gtmroutines=". " + GTM_DIST + "/libgtmutil.so " + GTM_DIST,
               gtmgbldir=os.path.join(work, "g.gld"))
    mumps = os.path.join(GTM_DIST, "mumps")
    gde = subprocess.run([mumps, "-run", "GDE"], cwd=work, env=env, capture_output=True,
                         input=("change -segment DEFAULT -file=%s\nexit\n" % os.path.join(work, "g.dat")).encode())
    create = subprocess.run([os.path.join(GTM_DIST, "mupip"), "create"], cwd=work, env=env, capture_output=True)
    if gde.returncode != 0 or create.returncode != 0:
        sys.exit("GT.M database not created: %s %s" % (gde.stderr, create.stderr))
    names = [n[:-2] for n in os.listdir(work) if n.endswith(".m")]
    subprocess.run([mumps] + [n + ".m" for n in names], cwd=work, env=env, check=True, capture_output=True)
    entries = {"cpu_loop": "BCPU", "call_10": "C10^BCALL", "call_2000": "C2000^BCALL",
               "local": "BLOC", "global": "BGLO"}
    figures = {name: [] for name in list(entries) + ["import_compile"]}
    imports = os.path.join(work, "import")
    sources = sorted(n for n in os.listdir(imports) if n.endswith(".m"))
    for _ in range(reps):
        empty = child_cpu([mumps, "-run", "NOP^BCPU"], work, env)
        for name, entry in entries.items():
            figures[name].append(max(child_cpu([mumps, "-run", entry], work, env) - empty, 0.0))
        for n in os.listdir(imports):
            if n.endswith(".o"):
                os.remove(os.path.join(imports, n))
        figures["import_compile"].append(child_cpu([mumps] + sources, imports, env))
    return {name: statistics.median(values) for name, values in figures.items()}


def engine_figures(binary, work, reps):
    out = subprocess.run([binary, "--routines=" + work, "--import=" + os.path.join(work, "import"),
                          "--benchmark_repetitions=%d" % reps, "--benchmark_format=json"],
                         capture_output=True, check=True, text=True).stdout
    samples = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        name = b["run_name"].split("/")[0].removeprefix("mengine_")
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[b["time_unit"]]
        samples.setdefault(name, []).append(b["cpu_time"] * scale)
    return {name: statistics.median(values) for name, values in samples.items()}


ROWS = [
    ("cpu_loop", "CPU-bound loop, 1,000,000 iterations", 1),
    ("call_10", "$$F^BS10(i), %d calls (10-line routine)" % CALLS, CALLS),
    ("call_2000", "$$F^BS2000(i), %d calls (2,000-line routine)" % CALLS, CALLS),
    ("local", "local SET, GET, $ORDER of %d nodes" % LOCALS, 1),
    ("global", "global SET, GET, $ORDER of %d nodes" % GLOBALS, 1),
    ("import_compile", "import and compile %d routines of 30 lines" % IMPORTS, 1),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="kvrbench_mengine")
    parser.add_argument("--reps", type=int, default=3)
    args = parser.parse_args()
    load_start = open("/proc/loadavg").read().split()[:3]
    with tempfile.TemporaryDirectory(prefix="kovra-mengine.") as work:
        routines = dict(WORKLOADS)
        routines["BS10"] = filler("BS10", 10, 5)
        routines["BS2000"] = filler("BS2000", 2000, 1000)
        write_routines(work, routines)
        write_routines(os.path.join(work, "import"), {"RT%04d" % k: imported(k) for k in range(1, IMPORTS + 1)})
        ours = engine_figures(args.bin, work, args.reps)
        gtm = gtm_figures(work, args.reps) if os.path.exists(os.path.join(GTM_DIST, "mumps")) else None
    load_end = open("/proc/loadavg").read().split()[:3]
    print("Measured %s; %d CPUs; load average %s at the start, %s at the end; CPU time, median of %d."
          % (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), os.cpu_count(), " ".join(load_start),
             " ".join(load_end), args.reps))
    print()
    if gtm:
        print("| Workload | kvrdevserver CPU | GT.M CPU | ratio |")
        print("|---|---:|---:|---:|")
    else:
        print("| Workload | kvrdevserver CPU |")
        print("|---|---:|")
    for key, label, per in ROWS:
        if key not in ours:
            continue
        mine = ours[key]
        text = "%.3f s" % mine if per == 1 else "%.3f s (%.2f us a call)" % (mine, mine / per * 1e6)
        if gtm:
            theirs = gtm[key]
            ratio = "%.1fx" % (mine / theirs) if theirs > 0 else "-"
            print("| %s | %s | %.3f s | %s |" % (label, text, theirs, ratio))
        else:
            print("| %s | %s |" % (label, text))
    if "call_10" in ours and "call_2000" in ours:
        print()
        print("A call into the 2,000-line routine costs %.2f times a call into the 10-line one."
              % (ours["call_2000"] / ours["call_10"]))


if __name__ == "__main__":
    main()
