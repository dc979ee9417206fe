#!/usr/bin/env python3
"""How long the launcher's pipeline takes over a release of many small files, beside the
time curl needs to fetch the same archives one by one from the same server in the same run.

  bench/pipeline_bench.py [--files 1000] [--size 2048]

Two launcher runs under Wine against nginx on 127.0.0.1:443: the first installation (every
archive fetched and unpacked) and a second run where everything is identical (no archive
fetched). Each is shown as time beyond the fixed pauses (500 ms before the pipeline and 1 s
between stopping and starting the host), both for the whole process and for the download
step alone (from its log lines). curl fetches the same archives over HTTPS with HTTP/1.0,
one connection per file as the launcher makes them, in one process.
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--size", type=int, default=2048)
    args = parser.parse_args()
    winetest.reexec_in_netns()

    work = tempfile.mkdtemp(prefix="fenwa-bench-")
    release = os.path.join(work, "release")
    www = os.path.join(work, "www")
    os.chmod(work, 0o755)
    make_release(release, args.files, args.size)
    published = publish.publish(release, "9.0.0.1", www)
    server = ProductServer(www).start()
    p = PipelinePrefix("bench", env={"FENWA_HOST_EXIT_AFTER": "1"})
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

    print("release: %d files of %d bytes (+ the host program); the launcher fetched %d of "
          "its archives over both runs" % (args.files, args.size, asked))
    print("curl, the same %d archives one by one (HTTPS, HTTP/1.0): %.2f s" % (len(urls), curl_s))
    for (label, elapsed), step in zip(results, steps):
        beyond = elapsed - FIXED_PAUSES
        print("%-28s whole run beyond pauses %6.2f s (%.2fx curl); download step %6.2f s "
              "(%.2fx curl)" % (label, beyond, beyond / curl_s, step, step / curl_s))


if __name__ == "__main__":
    sys.exit(main())
