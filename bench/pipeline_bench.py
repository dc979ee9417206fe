#!/usr/bin/env python3
"""How long the launcher's pipeline takes over a release of many small files, beside the
time curl needs to fetch the same archives one by one from the same server in the same run.

  bench/pipeline_bench.py [--files 1000] [--size 2048] [--small 200]
                          [--rtt MS] [--rate MBIT] [--repeat 3]

Two launcher runs under Wine against nginx on 127.0.0.1:443: the first installation (every
archive fetched and unpacked) and a second run where everything is identical (no archive
fetched). Each is shown as time beyond the fixed pauses (500 ms before the pipeline and 1 s
between stopping and starting the host), both for the whole process and for the download
step alone (from its log lines). curl fetches the same archives over HTTPS with HTTP/1.0,
one connection per file as the launcher makes them, in one process.

The second run's cost per listed file is its download step divided by the entries. A
smaller release (--small files, 0 for none) is measured the same way in the same run, so
that the growth with the release's size shows: per file, both sizes should cost the same.
--files 0 leaves both out.

With --rtt or --rate, a realistic release (40 files, 30 MB, a few large) is measured over a
slower link as well (bench/link.py: a delaying proxy on 443 in front of nginx, tc tbf on what
it sends), --repeat times, as best and median: both launcher runs beside curl fetching the
same archives one by one over new connections, over one kept-alive connection and all in
parallel, and the physical limit: the archives' bytes at the rate plus one round trip for
each request that cannot overlap (the launcher's requests before the archives, then one).
"""

import argparse
import datetime
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import publish  # noqa: E402
from link import Link  # noqa: E402
import winetest  # noqa: E402
from launcher_env import URL_PREFIX  # noqa: E402
from pipeline_env import HOST_EXE, PipelinePrefix  # noqa: E402
from product_server import ProductServer  # noqa: E402

FIXED_PAUSES = 1.5
STAMP = re.compile(r"^\[(\d{4})/(\d{2})/(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3})\]")




def stamp(line):
    m = STAMP.match(line)
    if not m:
        return None
    y, mo, d, h, mi, s, ms = (int(x) for x in m.groups())
    return datetime.datetime(y, mo, d, h, mi, s, ms * 1000)


def download_step_seconds(lines, run_index):
    """Seconds from the file-list request to the download summary of one run."""
    runs, current = [], None
    for line in lines:
        if "Program Start" in line:
            current = {}
            runs.append(current)
        if current is None:
            continue
        if "Request filelist.lst from server" in line:
            current["start"] = stamp(line)
        if "CZekLauncherDlg::download_server_files" in line and "Total :" in line:
            current["end"] = stamp(line)
    run = runs[run_index]
    return (run["end"] - run["start"]).total_seconds()


def make_release(folder, files, size):
    rng = random.Random(7)
    os.makedirs(os.path.join(folder, "data"))
    shutil.copy(HOST_EXE, folder)
    for i in range(files):
        # Half compressible text, half noise: what a program folder of small files holds.
        body = ("line %d of file %d\n" % (i, i) * (size // 40)).encode()[:size // 2]
        body += bytes(rng.getrandbits(8) for _ in range(size - len(body)))
        with open(os.path.join(folder, "data", "f%04d.bin" % i), "wb") as f:
            f.write(body)


def curl_fetch(urls, workdir, how=("--http1.0",)):
    """Seconds for one curl process to fetch the urls. HTTP/1.0: a new connection for each;
    --http1.1: one connection kept alive; with --parallel, all at once."""
    config = os.path.join(workdir, "curl.cfg")
    with open(config, "w") as f:
        for n, url in enumerate(urls):
            f.write('url = "%s"\noutput = "%s"\n' % (url, os.path.join(workdir, "c%05d" % n)))
    t0 = time.monotonic()
    subprocess.run(["curl", "-sk", "--fail"] + list(how) + ["-K", config], check=True)
    return time.monotonic() - t0


def bench_release(files, size, name):
    """Both launcher runs and curl over one release; a dict of the figures."""
    work = tempfile.mkdtemp(prefix="fenwa-bench-")
    release = os.path.join(work, "release")
    www = os.path.join(work, "www")
    os.chmod(work, 0o755)
    make_release(release, files, size)
    published = publish.publish(release, "9.0.0.1", www)
    server = ProductServer(www).start()
    p = PipelinePrefix(name, env={"FENWA_HOST_EXIT_AFTER": "1"})
    try:
        names = [e.name for e in published.entries] if hasattr(published, "entries") else []
        base = "https://127.0.0.1/%s/9.0.0.1/" % publish.DEFAULT_DOWNLOAD_PATH
        urls = [base + n + ".zip" for n in names]
        curl_dir = os.path.join(work, "curl")
        os.makedirs(curl_dir)
        curl_s = curl_fetch(urls, curl_dir)
        release_zips = set(urls)

        def fetched():
            return len([q for q in server.requests()
                        if "https://127.0.0.1" + q.path in release_zips or
                        "https://127.0.0.1/" + q.path.lstrip("/") in release_zips])

        by_curl = fetched()

        results = []
        for label in ("first installation", "second run (all identical)"):
            r = p.launch(URL_PREFIX + "BENCH", timeout=1800)
            p.wait_idle(30)
            results.append((label, r.elapsed))
        lines = p.log_lines()
        steps = [download_step_seconds(lines, i) for i in range(2)]
        asked = fetched() - by_curl
    finally:
        server.stop()
        if not os.environ.get("FENWA_KEEP_PREFIXES"):
            p.cleanup()
        shutil.rmtree(work, ignore_errors=True)
    return {"files": files, "entries": len(urls), "curl": curl_s, "asked": asked,
            "results": results, "steps": steps}


def print_runs(b, indent=""):
    for (label, elapsed), step in zip(b["results"], b["steps"]):
        beyond = elapsed - FIXED_PAUSES
        print("%s%-28s whole run beyond pauses %6.2f s (%.2fx curl); download step %6.2f s "
              "(%.2fx curl)" % (indent, label, beyond, beyond / b["curl"], step,
                                step / b["curl"]))
    print("%s%-28s %6.2f ms per listed file (download step over %d entries)" % (
        indent, "second run per listed file", b["steps"][1] * 1000.0 / b["entries"],
        b["entries"]))


# ---------------------------------------------------------------- over a slower link

LINK_PORT, SERVER_PORT = 443, 8443
CURL_WAYS = [
    ("curl, one by one, new connections (HTTP/1.0)", ("--http1.0",)),
    ("curl, one by one, one kept-alive connection", ("--http1.1",)),
    ("curl, all in parallel", ("--http1.1", "--no-progress-meter", "--parallel",
                               "--parallel-max", "64")),
]


def make_realistic_release(folder):
    """40 files, 31 MB: the host, three large files, the rest from 2 KB up to 1.2 MB;
    each part noise and part text, as programs and their data compress."""
    rng = random.Random(11)
    os.makedirs(os.path.join(folder, "data"))
    shutil.copy(HOST_EXE, folder)
    sizes = [10 << 20, 7 << 20, 4 << 20] + [int(2048 * 1.2 ** i) for i in range(36)]
    for i, size in enumerate(sizes):
        text = (b"record %d of file %d; " % (i, i)) * (size // 60)
        body = text[:size // 4] + rng.randbytes(size - min(len(text), size // 4))
        with open(os.path.join(folder, "data", "part%02d.bin" % i), "wb") as f:
            f.write(body)


def bench_link_once(www, published, rtt, rate, name):
    """Both launcher runs and the three ways of curl over the link; a dict of seconds."""
    version = published.version
    base = "https://127.0.0.1/%s/%s/" % (publish.DEFAULT_DOWNLOAD_PATH, version)
    urls = [base + e.archive_path for e in published.entries]
    out = {}
    server = ProductServer(www, https=SERVER_PORT, http=None).start()
    p = PipelinePrefix(name, env={"FENWA_HOST_EXIT_AFTER": "1"})
    work = tempfile.mkdtemp(prefix="fenwa-bench-curl-")
    try:
        with Link(LINK_PORT, SERVER_PORT, rtt, rate):
            for label, how in CURL_WAYS:
                out[label] = curl_fetch(urls, work, how)
            archives = {"/" + u.split("/", 3)[3] for u in urls}
            server.clear_requests()
            for i, label in enumerate(("first installation", "second run")):
                r = p.launch(URL_PREFIX + "BENCH", timeout=1800)
                p.wait_idle(30)
                out[label] = (r.elapsed - FIXED_PAUSES,
                              download_step_seconds(p.log_lines(), i))
                if i == 0:
                    asked = server.requests()
                    out["sequential requests"] = len([q for q in asked
                                                      if q.path not in archives])
                    out["archives asked"] = len([q for q in asked if q.path in archives])
    finally:
        server.stop()
        if not os.environ.get("FENWA_KEEP_PREFIXES"):
            p.cleanup()
        shutil.rmtree(work, ignore_errors=True)
    return out


def bench_link(rtt, rate, repeat):
    work = tempfile.mkdtemp(prefix="fenwa-bench-link-")
    os.chmod(work, 0o755)
    try:
        release, www = os.path.join(work, "release"), os.path.join(work, "www")
        make_realistic_release(release)
        published = publish.publish(release, "9.0.0.2", www)
        folder = os.path.join(published.base, published.version)
        archive_bytes = sum(os.path.getsize(os.path.join(folder, *e.archive_path.split("/")))
                            for e in published.entries)
        file_bytes = sum(e.size for e in published.entries)
        runs = [bench_link_once(www, published, rtt, rate, "bench-link-%d" % n)
                for n in range(repeat)]
    finally:
        shutil.rmtree(work, ignore_errors=True)

    def best_median(values):
        values = sorted(values)
        return "best %6.2f s, median %6.2f s" % (values[0], values[len(values) // 2])

    rtt_s = rtt / 1000.0
    transfer = archive_bytes * 8 / (rate * 1e6) if rate else 0.0
    print("link: %g ms round trip, %s; release of %d files, %.1f MB (archives %.1f MB); "
          "best and median of %d" % (rtt, "%g Mbit/s" % rate if rate else "no rate limit",
                                     len(published.entries), file_bytes / 1e6,
                                     archive_bytes / 1e6, repeat))
    print("  physical limit, the archives alone: %.2f s (bytes at the rate + one round trip)"
          % (transfer + rtt_s))
    for label, _ in CURL_WAYS:
        print("  %-46s %s" % (label, best_median([r[label] for r in runs])))
    before = runs[0]["sequential requests"]
    limits = {"first installation": transfer + (before + 1) * rtt_s,
              "second run": before * rtt_s}
    for label in ("first installation", "second run"):
        print("  %-46s %s whole run beyond pauses" % ("launcher, " + label,
                                                      best_median([r[label][0] for r in runs])))
        print("  %-46s %s download step (limit %.2f s)" % (
            "", best_median([r[label][1] for r in runs]), limits[label]))
    print("  (the launcher asked %d archives and %d other paths before them, one after another)"
          % (runs[0]["archives asked"], before))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--size", type=int, default=2048)
    parser.add_argument("--small", type=int, default=200)
    parser.add_argument("--rtt", type=float, metavar="MS", help="round trip of the slower link")
    parser.add_argument("--rate", type=float, metavar="MBIT", help="its rate (server to client)")
    parser.add_argument("--repeat", type=int, default=3, help="runs over the slower link")
    args = parser.parse_args()
    winetest.reexec_in_netns()

    if args.files > 0:
        today(args)
    if args.rtt or args.rate:
        bench_link(args.rtt or 0.0, args.rate, max(1, args.repeat))
    return 0


def today(args):
    big = bench_release(args.files, args.size, "bench")
    small = bench_release(args.small, args.size, "bench-small") if args.small > 0 else None

    print("release: %d files of %d bytes (+ the host program); the launcher fetched %d of "
          "its archives over both runs" % (args.files, args.size, big["asked"]))
    print("curl, the same %d archives one by one (HTTPS, HTTP/1.0): %.2f s" % (
        big["entries"], big["curl"]))
    print_runs(big)
    if not small:
        return 0
    print("smaller release: %d files (+ the host program); curl %.2f s" % (
        small["files"], small["curl"]))
    print_runs(small, "  ")
    # Linear growth: the same cost per file at both sizes, and the difference between the
    # runs per added file close to it.
    added = big["entries"] - small["entries"]
    for i, (label, _) in enumerate(big["results"]):
        per_big = big["steps"][i] * 1000.0 / big["entries"]
        per_small = small["steps"][i] * 1000.0 / small["entries"]
        marginal = (big["steps"][i] - small["steps"][i]) * 1000.0 / added
        print("growth, %-27s download step %.2f ms per file at %d files, %.2f ms at %d; "
              "%.2f ms per added file" % (label, per_big, big["files"], per_small,
                                          small["files"], marginal))
    return 0


if __name__ == "__main__":
    sys.exit(main())
