#!/usr/bin/env python3
"""Times the launcher's zip reader (native build, build/native/zipx) beside unzip, bsdtar and a
plain zlib raw-inflate loop with the same 16 KiB buffers, on one corpus in one run.

    python3 bench/zip_bench.py [--runs N] [--work DIR]      (or: make zip-bench)

Each figure is the best of N runs; outputs are deleted between runs and are not timed. Outputs
go to memory (/dev/shm) when it exists, so that the file system's own costs, which every tool
pays alike, do not hide the readers' differences; --out DIR measures a disk instead.
Ratios are throughput ratios, ours / theirs: above 1 means ours is faster.
"""
import argparse
import filecmp
import glob
import os
import resource
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ZIPX = os.path.join(ROOT, "build/native/zipx")
LOOP = os.path.join(ROOT, "build/native/zip_inflate_loop")


def run_quiet(cmd):
    # unzip reports its archive count on stderr even with -qq.
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def child_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def time_tools(runs, out, tools):
    """Best wall and CPU time per tool. Tools take turns in every round, so a burst of load
    from elsewhere on the machine does not fall on one tool only."""
    wall, cpu = {}, {}
    for _ in range(runs):
        for name, action in tools.items():
            dest = os.path.join(out, name.split()[0])
            shutil.rmtree(dest, ignore_errors=True)
            os.makedirs(dest)
            cpu_start, start = child_cpu(), time.perf_counter()
            action(dest)
            elapsed, used = time.perf_counter() - start, child_cpu() - cpu_start
            wall[name] = min(wall.get(name, elapsed), elapsed)
            cpu[name] = min(cpu.get(name, used), used)
    return wall, cpu


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
    parser.add_argument("--out", help="folder for the extracted files (deleted afterwards)")
    args = parser.parse_args()
    for tool in ("unzip", "bsdtar"):
        if not shutil.which(tool):
            sys.exit("zip_bench: %s is missing (packages unzip, libarchive-tools)" % tool)
    run_quiet(["make", "-s", "-C", ROOT, "build/native/zipx", "build/native/zip_inflate_loop"])
    corpus = os.path.join(args.work, "zip")
    subprocess.run([sys.executable, os.path.join(ROOT, "bench/zip_corpus.py"), corpus], check=True)
    large = os.path.join(corpus, "large.zip")
    small = sorted(glob.glob(os.path.join(corpus, "small", "*.zip")))
    shm = "/dev/shm"
    default_out = (os.path.join(shm, "fenwa-zip-bench-%d" % os.getpid())
                   if os.path.isdir(shm) and os.access(shm, os.W_OK) else os.path.join(args.work, "out"))
    out = args.out or default_out

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

    print("large archive: %.1f MB, %.1f MB unpacked; %d small archives, %.1f MB; best of %d runs;"
          " output to %s" % (os.path.getsize(large) / 1e6, unpacked / 1e6, len(small),
                             small_bytes / 1e6, args.runs, out))
    large_times, large_cpu = time_tools(args.runs, os.path.join(out, "large"), large_tools)
    small_times, small_cpu = time_tools(args.runs, os.path.join(out, "small"), small_tools)

    same_large = same_tree(os.path.join(out, "large", "ours"), os.path.join(out, "large", "unzip"))
    same_small = same_tree(os.path.join(out, "small", "ours"), os.path.join(out, "small", "unzip"))

    ours_l, ours_s = large_times["ours (zipx)"], small_times["ours (zipx)"]
    cpu_l, cpu_s = large_cpu["ours (zipx)"], small_cpu["ours (zipx)"]
    print("\n%-13s| %-36s| %-36s" % ("", "large archive", "2000 small archives"))
    print("%-13s| %7s %7s %6s %6s %6s | %8s %8s %6s %6s" % (
        "", "wall s", "MB/s", "ratio", "cpu s", "ratio", "ms each", "cpu ms", "ratio", "cpu"))
    for name in large_tools:
        tl, ts = large_times[name], small_times[name]
        print("%-13s| %7.3f %7.1f %6.2f %6.3f %6.2f | %8.4f %8.4f %6.2f %6.2f" % (
            name, tl, unpacked / tl / 1e6, tl / ours_l, large_cpu[name], large_cpu[name] / cpu_l,
            ts / len(small) * 1e3, small_cpu[name] / len(small) * 1e3, ts / ours_s,
            small_cpu[name] / cpu_s))
    print("ratio = ours / theirs in throughput (their time / our time); cpu = user + system time")
    print("\noutputs identical to unzip's: large %s, small %s" % (same_large, same_small))
    ratio_loop = large_times["inflate loop"] / ours_l
    per_small = ours_s / len(small) * 1e3
    print("aim: >= 0.90x the inflate loop on the large archive: %.2fx wall, %.2fx cpu: %s"
          % (ratio_loop, large_cpu["inflate loop"] / cpu_l, "met" if ratio_loop >= 0.9 else "MISSED"))
    print("aim: <= 0.2 ms per small archive: %.4f ms wall, %.4f ms cpu: %s"
          % (per_small, cpu_s / len(small) * 1e3, "met" if per_small <= 0.2 else "MISSED"))
    print("load average during the run: %.2f (2 cores)" % os.getloadavg()[0])
    shutil.rmtree(out, ignore_errors=True)
    return 0 if same_large and same_small else 1


if __name__ == "__main__":
    sys.exit(main())
