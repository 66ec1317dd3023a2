#!/usr/bin/env python3
"""Builds a reproducible synthetic tree for the benchmarks.

The same parameters always give the same names and sizes. Names that match
'*.tmp' come in mixed case; hidden files never match it, so that kerv32
(which passes over hidden names) and find select the same files."""
import argparse
import os
import random


def build(root, entries, fanout, depth, share, hidden, max_size, seed):
    rng = random.Random(seed)
    # Directories: a tree of the given fan-out and depth, breadth first.
    dirs = [root]
    level = [root]
    for _ in range(depth):
        nxt = []
        for parent in level:
            for i in range(fanout):
                nxt.append(os.path.join(parent, "d%02d" % i))
        dirs.extend(nxt)
        level = nxt
    for d in dirs:
        os.makedirs(d, exist_ok=True)
    files = max(entries - len(dirs), 0)
    cases = [".tmp", ".TMP", ".Tmp"]
    others = [".dat", ".log", ".tmpx", ".txt", ".o"]
    selected = 0
    for i in range(files):
        d = dirs[i % len(dirs)]
        roll = rng.random()
        if roll < hidden:
            name = ".h%07d.cfg" % i
        elif roll < hidden + share:
            name = "file%07d%s" % (i, cases[i % 3])
            selected += 1
        else:
            name = "file%07d%s" % (i, others[i % len(others)])
        size = rng.randrange(0, max_size + 1)
        fd = os.open(os.path.join(d, name), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        if size:
            os.ftruncate(fd, size)
        os.close(fd)
    return len(dirs), files, selected


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("root")
    p.add_argument("--entries", type=int, default=200000, help="files and directories in all")
    p.add_argument("--fanout", type=int, default=8, help="subdirectories per directory")
    p.add_argument("--depth", type=int, default=3, help="levels of subdirectories")
    p.add_argument("--share", type=float, default=0.24, help="share of names that match *.tmp")
    p.add_argument("--hidden", type=float, default=0.02, help="share of hidden files")
    p.add_argument("--max-size", type=int, default=65536, help="largest file size in bytes")
    p.add_argument("--seed", type=int, default=32)
    a = p.parse_args()
    dirs, files, selected = build(a.root, a.entries, a.fanout, a.depth, a.share, a.hidden, a.max_size, a.seed)
    print("%d directories, %d files, %d selected" % (dirs, files, selected))


if __name__ == "__main__":
    main()
