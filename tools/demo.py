#!/usr/bin/env python3
"""Runs the launcher end to end under Wine on a virtual display and shows what it did."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "wine"))

import winetest  # noqa: E402
from launcher_env import URL_PREFIX, LauncherPrefix  # noqa: E402


def main():
    p = LauncherPrefix("demo")
    arg = URL_PREFIX + "demo1234/"
    print("prefix:   %s" % p.path)
    print("running:  FenwaLauncher.exe %s" % arg)
    r = p.launch(arg, timeout=120)
    p.wait_idle(30)
    log = p.log_path()
    print("exit:     %s (%.1f s)" % (r.rc, r.elapsed))
    print("log file: %s" % log)
    print("          (C:\\users\\Public\\Documents\\Fenwa\\log inside the prefix)")
    print("---- log ----")
    for line in p.log_lines():
        print(line)
    p.kill()
    return 0 if r.rc != "timeout" and os.path.exists(log) else 1


if __name__ == "__main__":
    sys.exit(main())
