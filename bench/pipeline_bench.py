#!/usr/bin/env python3
"""How long the launcher's pipeline takes over a release of many small files, beside the
time curl needs to fetch the same archives one by one from the same server in the same run.

  bench/pipeline_bench.py [--files 1000] [--size 2048] [--small 200]

Two launcher runs under Wine against nginx on 127.0.0.1:443: the first installation (every
archive fetched and unpacked) and a second run where everything is identical (no archive
fetched). Each is shown as time beyond the fixed pauses (500 ms before the pipeline and 1 s
between stopping and starting the host), both for the whole process and for the download
step alone (from its log lines). curl fetches the same archives over HTTPS with HTTP/1.0,
one connection per file as the launcher makes them, in one process.

The second run's cost per listed file is its download step divided by the entries. A
smaller release (--small files, 0 for none) is measured the same way in the same run, so
that the growth with the release's size shows: per file, both sizes should cost the same.
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


def curl_fetch(urls, workdir):
    config = os.path.join(workdir, "curl.cfg")
    with open(config, "w") as f:
        for n, url in enumerate(urls):
            f.write('url = "%s"\noutput = "%s"\n' % (url, os.path.join(workdir, "c%05d" % n)))
    t0 = time.monotonic()
    subprocess.run(["curl", "-sk", "--http1.0", "--fail", "-K", config], check=True)
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--size", type=int, default=2048)
    parser.add_argument("--small", type=int, default=200)
    args = parser.parse_args()
    winetest.reexec_in_netns()

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
