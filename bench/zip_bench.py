#!/usr/bin/env python3
"""Times the launcher's zip reader (native build, build/native/zipx) beside unzip, bsdtar and a
plain zlib raw-inflate loop with the same 16 KiB buffers, on one corpus in one run.

    python3 bench/zip_bench.py [--runs N] [--work DIR]      (or: make zip-bench)

Each figure is the best of N runs; outputs are deleted between runs and are not timed.
Ratios are throughput ratios, ours / theirs: above 1 means ours is faster.
"""
import argparse
import filecmp
import glob
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ZIPX = os.path.join(ROOT, "build/native/zipx")
LOOP = os.path.join(ROOT, "build/native/zip_inflate_loop")


def run_quiet(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)


def best_time(runs, dest, action):
    best = None
    for _ in range(runs):
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest)
        start = time.perf_counter()
        action(dest)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def same_tree(a, b):
    cmp = filecmp.dircmp(a, b)
    if cmp.left_only or cmp.right_only or cmp.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, cmp.common_files, shallow=False)
    return not mismatch and not errors and all(
        same_tree(os.path.join(a, d), os.path.join(b, d)) for d in cmp.common_dirs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--work", default=os.path.join(ROOT, "build/bench"))
    args = parser.parse_args()
    for tool in ("unzip", "bsdtar"):
        if not shutil.which(tool):
            sys.exit("zip_bench: %s is missing (packages unzip, libarchive-tools)" % tool)
    run_quiet(["make", "-s", "-C", ROOT, "build/native/zipx", "build/native/zip_inflate_loop"])
    corpus = os.path.join(args.work, "zip")
    subprocess.run([sys.executable, os.path.join(ROOT, "bench/zip_corpus.py"), corpus], check=True)
    large = os.path.join(corpus, "large.zip")
    small = sorted(glob.glob(os.path.join(corpus, "small", "*.zip")))
    out = os.path.join(args.work, "out")

    with subprocess.Popen(["unzip", "-Z", "-t", large], stdout=subprocess.PIPE, text=True) as p:
        summary = p.stdout.read()
    unpacked = int(summary.split(",")[1].split()[0])  # "N files, BYTES bytes uncompressed, ..."
    small_bytes = sum(os.path.getsize(p) for p in small)

    large_tools = {
        "ours (zipx)": lambda d: run_quiet([ZIPX, d, large]),
        "inflate loop": lambda d: run_quiet([LOOP, d, large]),
        "unzip": lambda d: run_quiet(["unzip", "-qq", "-o", large, "-d", d]),
        "bsdtar": lambda d: run_quiet(["bsdtar", "-xf", large, "-C", d]),
    }
    small_glob = os.path.join(corpus, "small", "*.zip")
    small_tools = {
        "ours (zipx)": lambda d: run_quiet([ZIPX, d] + small),
        "inflate loop": lambda d: run_quiet([LOOP, d] + small),
        # unzip takes the archive name as a wildcard and handles all in one process.
        "unzip": lambda d: run_quiet(["unzip", "-qq", "-o", small_glob, "-d", d]),
        # bsdtar reads one archive per process.
        "bsdtar": lambda d: [run_quiet(["bsdtar", "-xf", z, "-C", d]) for z in small],
    }

    print("large archive: %.1f MB, %.1f MB unpacked; %d small archives, %.1f MB; best of %d runs"
          % (os.path.getsize(large) / 1e6, unpacked / 1e6, len(small), small_bytes / 1e6, args.runs))
    large_times = {}
    for name, action in large_tools.items():
        large_times[name] = best_time(args.runs, os.path.join(out, "large", name.split()[0]), action)
    small_times = {}
    for name, action in small_tools.items():
        small_times[name] = best_time(args.runs, os.path.join(out, "small", name.split()[0]), action)

    same_large = same_tree(os.path.join(out, "large", "ours"), os.path.join(out, "large", "unzip"))
    same_small = same_tree(os.path.join(out, "small", "ours"), os.path.join(out, "small", "unzip"))

    ours_l, ours_s = large_times["ours (zipx)"], small_times["ours (zipx)"]
    print("\n%-14s %10s %10s %12s   %14s %12s" % ("", "large s", "MB/s", "ours/theirs",
                                                  "ms per small", "ours/theirs"))
    for name in large_tools:
        tl, ts = large_times[name], small_times[name]
        print("%-14s %10.3f %10.1f %12.2f   %14.4f %12.2f" % (
            name, tl, unpacked / tl / 1e6, tl / ours_l, ts / len(small) * 1e3, ts / ours_s))
    print("\noutputs identical to unzip's: large %s, small %s" % (same_large, same_small))
    ratio_loop = large_times["inflate loop"] / ours_l
    per_small = ours_s / len(small) * 1e3
    print("aim: >= 0.90x the inflate loop on the large archive: %.2fx %s"
          % (ratio_loop, "met" if ratio_loop >= 0.9 else "MISSED"))
    print("aim: <= 0.2 ms per small archive: %.4f ms %s"
          % (per_small, "met" if per_small <= 0.2 else "MISSED"))
    shutil.rmtree(out, ignore_errors=True)
    return 0 if same_large and same_small else 1


if __name__ == "__main__":
    sys.exit(main())
