#!/usr/bin/env python3
"""A signed installation beside an unsigned one, in one run: the launcher built with the test
key (build/win/signed) against the launcher without a key (build/win), on the same signed
server tree (a launcher without a key never asks for the statement).

  bench/sign_bench.py [--rounds 3] [--files 1000] [--size 2048]

Two releases: the zip benchmark's big archive (bench/zip_corpus.py, listed as an archive
that is unpacked into a folder) with the host program, and a release of many small files
(bench/pipeline_bench.py's). Each run is a first installation into an emptied program folder;
the launchers take turns and the best of the rounds counts. A second run where everything is
identical (each installed file then hashed by the signed launcher) is shown as well. The aim:
a signed installation takes at most 1.15x the unsigned one.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, HERE)

import pipeline_bench  # noqa: E402
import publish  # noqa: E402
import winetest  # noqa: E402
from launcher_env import URL_PREFIX  # noqa: E402
from pipeline_env import HOST_EXE, SIGNED_EXE, TEST_KEY, PipelinePrefix  # noqa: E402
from product_server import ProductServer  # noqa: E402

AIM = 1.15
CORPUS = os.path.join(ROOT, "build", "bench", "zip")
VERSION_KEY = "HKLM\\Software\\Fenwa\\FenwaLauncher"


def big_release(folder):
    subprocess.run([sys.executable, os.path.join(HERE, "zip_corpus.py"), CORPUS], check=True)
    os.makedirs(folder)
    shutil.copy(HOST_EXE, folder)
    os.link(os.path.join(CORPUS, "large.zip"), os.path.join(folder, "large.zip"))


def fresh_install(p, kind):
    """Seconds of one first installation: whole process, and the download step."""
    shutil.rmtree(p.program_folder, ignore_errors=True)
    p.wine("reg", "delete", VERSION_KEY, "/f")
    if os.path.exists(p.log_path()):
        os.remove(p.log_path())
    shutil.copy2(SIGNED_EXE if kind == "signed" else winetest.EXE, p.exe)
    r = p.launch(URL_PREFIX + "BENCH", timeout=1800)
    p.wait_idle(30)
    if r.rc == "timeout" or not os.path.exists(p.log_path()):
        raise RuntimeError("the %s launcher did not finish: %r" % (kind, r))
    lines = p.log_lines()
    if not any("Fail : 0" in line for line in lines):
        raise RuntimeError("the %s installation failed; see %s" % (kind, p.log_path()))
    first = (r.elapsed, pipeline_bench.download_step_seconds(lines, 0))
    r = p.launch(URL_PREFIX + "BENCH", timeout=1800)
    p.wait_idle(30)
    again = (r.elapsed, pipeline_bench.download_step_seconds(p.log_lines(), 1))
    return first, again


def measure(label, release, rounds, work):
    www = os.path.join(work, "www-" + label)
    published = publish.publish(release, "9.0.0.1", www, sign_key=TEST_KEY)
    server = ProductServer(www).start()
    p = PipelinePrefix("sign-bench", env={"FENWA_HOST_EXIT_AFTER": "1"})
    best = {}
    try:
        for _ in range(rounds):
            for kind in ("unsigned", "signed"):
                first, again = fresh_install(p, kind)
                old = best.get(kind, ((1e9, 1e9), (1e9, 1e9)))
                best[kind] = (tuple(map(min, first, old[0])), tuple(map(min, again, old[1])))
    finally:
        server.stop()
        if not os.environ.get("FENWA_KEEP_PREFIXES"):
            p.cleanup()
    size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(published.folder)
               for f in fs)
    return published, size, best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--size", type=int, default=2048)
    args = parser.parse_args()
    winetest.reexec_in_netns()
    for exe in (SIGNED_EXE, winetest.EXE):
        if not os.path.exists(exe):
            sys.exit("sign_bench: %s is missing: run make win" % exe)

    work = tempfile.mkdtemp(prefix="fenwa-sign-bench-")
    os.chmod(work, 0o755)
    results = []
    try:
        big = os.path.join(work, "big")
        big_release(big)
        many = os.path.join(work, "many")
        pipeline_bench.make_release(many, args.files, args.size)
        for label, folder in (("big archive", big), ("%d files" % args.files, many)):
            results.append((label,) + measure(label.split()[0], folder, args.rounds, work))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print("best of %d rounds; times in seconds; ratio = signed / unsigned" % args.rounds)
    print("%-12s %-22s %9s %9s %7s   %9s %9s %7s" % ("release", "run", "unsigned", "signed",
                                                    "ratio", "step uns.", "step sig.", "ratio"))
    met = True
    for label, published, size, best in results:
        for i, run in enumerate(("first installation", "second (all identical)")):
            (u_all, u_step), (s_all, s_step) = best["unsigned"][i], best["signed"][i]
            print("%-12s %-22s %9.2f %9.2f %7.3f   %9.2f %9.2f %7.3f" % (
                label if i == 0 else "", run, u_all, s_all, s_all / u_all, u_step, s_step,
                s_step / u_step))
            if i == 0:
                met = met and s_all / u_all <= AIM
        print("%-12s %d listed files, %.1f MB on the server" % ("", len(published.entries),
                                                               size / 1e6))
    print("aim: a signed installation <= %.2fx the unsigned one (whole run): %s"
          % (AIM, "met" if met else "MISSED"))
    print("load average during the run: %.2f (2 cores)" % os.getloadavg()[0])
    return 0


if __name__ == "__main__":
    sys.exit(main())
