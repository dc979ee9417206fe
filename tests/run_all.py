#!/usr/bin/env python3
"""Runs every test: the native unit tests, the Windows unit tests under Wine and the Wine
scenario tests. The last line reads "N passed, M failed".

The Wine part runs in a private network namespace (when we are root) so that the test
servers can bind ports 443 and 80 without meeting anything else on the machine.

  tests/run_all.py [--only native|win|wine] [-k PATTERN]
"""

import argparse
import json
import os
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BUILD = os.path.join(ROOT, "build")
RESULTS = os.path.join(BUILD, "test-results")
sys.path.insert(0, os.path.join(HERE, "wine"))

import winetest  # noqa: E402




def gtest_counts(json_path):
    try:
        with open(json_path) as f:
            data = json.load(f)
    except (OSError, ValueError):
        return None
    passed = failed = 0
    failures = []
    for suite in data.get("testsuites", []):
        for case in suite.get("testsuite", []):
            if case.get("result") == "SKIPPED" or case.get("status") == "NOTRUN":
                continue
            if case.get("failures"):
                failed += 1
                failures.append(suite["name"] + "." + case["name"])
            else:
                passed += 1
    return passed, failed, failures


def run_native(args):
    exe = os.path.join(BUILD, "native", "unit_tests")
    out = os.path.join(RESULTS, "native.json")
    log = os.path.join(RESULTS, "native.log")
    if os.path.exists(out):
        os.remove(out)
    cmd = [exe, "--gtest_output=json:" + out]
    if args.k:
        cmd.append("--gtest_filter=" + args.k)
    with open(log, "w") as f:
        rc = subprocess.call(cmd, stdout=f, stderr=subprocess.STDOUT)
    counts = gtest_counts(out)
    if counts is None:
        print("native unit tests: no result (exit %d); see %s" % (rc, log))
        return 0, 1
    passed, failed, failures = counts
    print("native unit tests: %d passed, %d failed" % (passed, failed))
    for name in failures:
        print("  FAILED " + name)
    if failed or rc != 0:
        print("  details: " + log)
        if rc != 0 and not failed:
            return passed, 1
    return passed, failed


def run_win(args):
    exe = os.path.join(BUILD, "win", "win_tests.exe")
    out = os.path.join(RESULTS, "win.json")
    if os.path.exists(out):
        os.remove(out)
    prefix = winetest.Prefix("win-unit")
    cmd = ["--gtest_output=json:" + winetest.Prefix.win(out)]
    if args.k:
        cmd.append("--gtest_filter=" + args.k)
    r = prefix.run(exe, cmd, timeout=900)
    with open(os.path.join(RESULTS, "win.log"), "w") as f:
        f.write(r.out + r.err)
    prefix.cleanup()
    counts = gtest_counts(out)
    if counts is None:
        print("windows unit tests: no result (exit %s); see build/test-results/win.log" % r.rc)
        return 0, 1
    passed, failed, failures = counts
    print("windows unit tests (Wine): %d passed, %d failed" % (passed, failed))
    for name in failures:
        print("  FAILED " + name)
    return passed, failed


def run_wine(args):
    loader = unittest.TestLoader()
    if args.k:
        loader.testNamePatterns = ["*%s*" % args.k]
    suite = loader.discover(os.path.join(HERE, "wine"), pattern="test_*.py",
                            top_level_dir=os.path.join(HERE, "wine"))
    log_path = os.path.join(RESULTS, "wine.log")
    with open(log_path, "w") as log:
        runner = unittest.TextTestRunner(stream=log, verbosity=2)
        result = runner.run(suite)
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    passed = result.testsRun - failed - len(result.skipped)
    print("wine scenario tests: %d passed, %d failed" % (passed, failed))
    for test, _ in result.failures + result.errors:
        print("  FAILED " + test.id())
    if failed:
        print("  details: " + log_path)
    return passed, failed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--only", choices=["native", "win", "wine"])
    parser.add_argument("-k", help="run only tests whose name matches")
    args = parser.parse_args()
    if args.only != "native":
        winetest.reexec_in_netns()
    os.makedirs(RESULTS, exist_ok=True)
    total_passed = total_failed = 0
    t0 = time.monotonic()
    for name, fn in (("native", run_native), ("win", run_win), ("wine", run_wine)):
        if args.only and args.only != name:
            continue
        try:
            p, f = fn(args)
        except Exception as e:  # a broken harness must show as a failure, not a crash
            print("%s tests could not run: %r" % (name, e))
            p, f = 0, 1
        total_passed += p
        total_failed += f
    print("(%.0f s)" % (time.monotonic() - t0))
    print("%d passed, %d failed" % (total_passed, total_failed))
    return 0 if total_failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
