#!/usr/bin/env python3
"""kerv32 against GNU find and a minimal getdents64 loop, side by side.

Builds a synthetic tree (bench/make_tree.py), then, interleaved over several
rounds, times each peer selecting '*.tmp' in it:

  simulate  kerv32 -S -R 'T/*.tmp'           find T -iname '*.tmp' -printf '%p %s\\n'
  delete    kerv32 -R 'T/*.tmp'              find T -iname '*.tmp' -delete -print

with output to a file, the tree restored from a hard-linked copy outside the
timed region. Prints medians of wall and CPU time, the ratios kerv32/find and
kerv32/loop, peak RSS, system calls per entry (strace -c -f), and checks that
every peer removed the same set of files. Ratios are measured in one run, so
a noisy machine shifts all peers alike.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)


def build(args):
    if not args.kerv32:
        subprocess.run(["cmake", "--preset", "release"], cwd=REPO, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "release", "--target", "kerv32"], cwd=REPO, check=True,
                       stdout=subprocess.DEVNULL)
        args.kerv32 = os.path.join(REPO, "build", "release", "kerv32")
    loop = os.path.join(args.work, "minimal_loop")
    subprocess.run(["cc", "-O2", "-o", loop, os.path.join(HERE, "minimal_loop.c")], check=True)
    return loop


def peers(kerv32, loop, tree, simulate):
    if simulate:
        return {
            "kerv32": [kerv32, "-S", "-R", tree + "/*.tmp"],
            "find": ["find", tree, "-iname", "*.tmp", "-printf", "%p %s\n"],
            "loop": [loop, "-S", tree],
        }
    return {
        "kerv32": [kerv32, "-R", tree + "/*.tmp"],
        "find": ["find", tree, "-iname", "*.tmp", "-delete", "-print"],
        "loop": [loop, tree],
    }


def timed(command, out_path):
    """Runs command with standard output to out_path: wall s, CPU s."""
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        child = subprocess.Popen(command, stdout=out, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s failed with status %d" % (command[0], os.waitstatus_to_exitcode(status)))
    return wall, usage.ru_utime + usage.ru_stime


def peak_rss(command, out_path):
    """Peak RSS in KiB, through GNU time: a child forked from this Python
    process would count Python's own memory as its peak."""
    report = out_path + ".rss"
    with open(out_path, "wb") as out:
        subprocess.run(["/usr/bin/time", "-o", report, "-f", "%M"] + command, stdout=out,
                       stderr=subprocess.DEVNULL, check=True)
    with open(report) as f:
        return int(f.read().split()[-1])


def syscalls(command, out_path):
    """Total system calls of one run, and the calls by name."""
    report = out_path + ".strace"
    with open(out_path, "wb") as out:
        subprocess.run(["strace", "-c", "-f", "-o", report] + command, stdout=out, stderr=subprocess.DEVNULL,
                       check=True)
    calls = {}
    with open(report) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 5 and parts[0][0].isdigit() and parts[-1] != "total":
                calls[parts[-1]] = int(parts[3])
    return sum(calls.values()), calls


def remaining(tree):
    left = set()
    for dirpath, _, files in os.walk(tree):
        rel = os.path.relpath(dirpath, tree)
        left.update(os.path.join(rel, f) for f in files)
    return left


def copy_tree(master, victim):
    if os.path.exists(victim):
        shutil.rmtree(victim)
    subprocess.run(["cp", "-al", master, victim], check=True)


def report(title, results, rss):
    print("\n%s (median of %d rounds)" % (title, len(next(iter(results.values()))["wall"])))
    print("  %-8s %9s %9s %9s" % ("peer", "wall s", "cpu s", "rss KiB"))
    med = {}
    for name, r in results.items():
        med[name] = (statistics.median(r["wall"]), statistics.median(r["cpu"]))
        print("  %-8s %9.3f %9.3f %9d" % (name, med[name][0], med[name][1], rss[name]))
    for peer in ("find", "loop"):
        print("  kerv32/%-5s wall %.2f  cpu %.2f" % (peer, med["kerv32"][0] / med[peer][0], med["kerv32"][1] / med[peer][1]))
    return med


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--entries", type=int, default=200000)
    p.add_argument("--fanout", type=int, default=8)
    p.add_argument("--depth", type=int, default=3)
    p.add_argument("--share", type=float, default=0.24)
    p.add_argument("--hidden", type=float, default=0.02)
    p.add_argument("--max-size", type=int, default=65536)
    p.add_argument("--rounds", type=int, default=5)
    p.add_argument("--work", help="scratch directory (default: a new one under /tmp)")
    p.add_argument("--kerv32", help="the program to measure (default: build the release preset)")
    p.add_argument("--no-delete", action="store_true", help="measure simulated runs only")
    p.add_argument("--no-strace", action="store_true")
    args = p.parse_args()

    made_work = not args.work
    args.work = args.work or tempfile.mkdtemp(prefix="kerv32-bench-")
    os.makedirs(args.work, exist_ok=True)
    try:
        loop = build(args)
        master = os.path.join(args.work, "master")
        if os.path.exists(master):
            shutil.rmtree(master)
        made = subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), master,
                               "--entries", str(args.entries), "--fanout", str(args.fanout),
                               "--depth", str(args.depth), "--share", str(args.share),
                               "--hidden", str(args.hidden), "--max-size", str(args.max_size)],
                              check=True, capture_output=True, text=True).stdout.strip()
        print("tree: %s" % made)
        out = os.path.join(args.work, "out")

        # Simulate: the same tree every time, after one warm-up run each.
        sim = peers(args.kerv32, loop, master, True)
        for command in sim.values():
            timed(command, out)
        results = {name: {"wall": [], "cpu": []} for name in sim}
        for _ in range(args.rounds):
            for name, command in sim.items():
                wall, cpu = timed(command, out)
                results[name]["wall"].append(wall)
                results[name]["cpu"].append(cpu)
        report("simulate", results, {name: peak_rss(command, out) for name, command in sim.items()})
        if not args.no_strace:
            print("  system calls per entry:", "  ".join(
                "%s %.3f" % (name, syscalls(command, out)[0] / args.entries) for name, command in sim.items()))
            total, calls = syscalls(sim["kerv32"], out)
            print("  kerv32:", ", ".join("%s %d" % kv for kv in sorted(calls.items(), key=lambda kv: -kv[1])[:6]))

        # Long lists: an exclude list of 10,000 literal names against one.
        lists = {}
        for count in (1, 10000):
            path = os.path.join(args.work, "keep%d.lst" % count)
            with open(path, "w") as f:
                f.write("\n".join("keep%05d.txt" % i for i in range(count)) + "\n")
            lists[count] = [args.kerv32, "-S", "-R", master + "/*.*", "!", "@" + path]
        list_times = {count: [] for count in lists}
        for _ in range(args.rounds):
            for count, command in lists.items():
                list_times[count].append(timed(command, out)[0])
        print("\nexclude list of 10,000 names / of one: wall %.2f" % (
            statistics.median(list_times[10000]) / statistics.median(list_times[1])))

        if args.no_delete:
            return
        victim = os.path.join(args.work, "victim")
        dele = peers(args.kerv32, loop, victim, False)
        results = {name: {"wall": [], "cpu": []} for name in dele}
        left = {}
        for round_ in range(args.rounds):
            for name, command in dele.items():
                copy_tree(master, victim)
                wall, cpu = timed(command, out)
                results[name]["wall"].append(wall)
                results[name]["cpu"].append(cpu)
                if round_ == 0:
                    left[name] = remaining(victim)
        rss = {}
        for name, command in dele.items():
            copy_tree(master, victim)
            rss[name] = peak_rss(command, out)
        report("delete", results, rss)
        same = left["kerv32"] == left["find"] == left["loop"]
        print("  same files removed by every peer: %s" % ("yes" if same else "NO"))
        if not args.no_strace:
            counts = {}
            for name, command in dele.items():
                copy_tree(master, victim)
                counts[name] = syscalls(command, out)[0] / args.entries
            print("  system calls per entry:", "  ".join("%s %.3f" % kv for kv in counts.items()))
        if not same:
            sys.exit(1)
    finally:
        if made_work:
            shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
