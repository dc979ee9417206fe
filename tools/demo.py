#!/usr/bin/env python3
"""The launcher end to end: publishes the sample release, serves it with nginx on
127.0.0.1 ports 443 (HTTPS, self-signed) and 80, runs the launcher under Wine on a virtual
display with a URL parameter, and shows the outcome. Ends by itself and stops everything it
started. Runs in a private network namespace when started as root, so that ports 443 and
80 never meet anything else on the machine."""

import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "wine"))
sys.path.insert(0, HERE)

import sample_release  # noqa: E402
import winetest  # noqa: E402
from launcher_env import URL_PREFIX  # noqa: E402
from pipeline_env import PipelinePrefix  # noqa: E402




def section(title):
    print("\n==== %s ====" % title)


def run_launcher(p, arg):
    print("$ FenwaLauncher.exe %s" % arg)
    r = p.launch(arg, timeout=120)
    p.wait_idle(30)
    print("exit: %s after %.1f s" % (r.rc, r.elapsed))
    return r


def pipeline_demo(workdir, p):
    """First installation from the product server; returns True when the host got the code."""
    section("product server")
    server, published = sample_release.serve_sample(workdir)
    try:
        print("serving %s (version %s) on https://127.0.0.1:443 and http://127.0.0.1:80"
              % (published.base, published.version))
        section("launcher run")
        run_launcher(p, URL_PREFIX + "Fenwa%20Launcher%20-%20demo1234%20/")
        section("what the server was asked")
        for req in server.requests():
            print("  %s %s://...:%d%s -> %d" % (req.method, req.scheme, req.port, req.path,
                                                req.status))
    finally:
        server.stop()

    section("log file")
    print(p.log_path())
    print("(inside Wine: C:\\users\\Public\\Documents\\Fenwa\\log)")
    for line in p.log_lines():
        print("  " + line)

    section("installed")
    for line in sample_release.install_report(p.program_folder):
        print(line)
    starts = [s[1] for s in p.host_starts(wait_for=2)]
    print("installed version (HKLM Version): %s" % p.installed_version())
    return starts[-2:] == ["-u", "-i demo1234"]


def main():
    winetest.reexec_in_netns()
    workdir = tempfile.mkdtemp(prefix="fenwa-demo-")
    p = PipelinePrefix("demo", env={"FENWA_HOST_EXIT_AFTER": "3"})
    ok = False
    try:
        print("wine prefix: %s" % p.path)
        ok = pipeline_demo(workdir, p)
    finally:
        p.kill()
        shutil.rmtree(workdir, ignore_errors=True)
        subprocess.run(["sync"])
    section("result")
    print("the host program was started with \"-i demo1234\"" if ok else
          "the host program did not receive the parameter")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
