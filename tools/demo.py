#!/usr/bin/env python3
"""The launcher end to end: publishes the sample release, serves it with nginx on
127.0.0.1 ports 443 (HTTPS, self-signed) and 80, runs the launcher under Wine on a virtual
display with a URL parameter, and shows the outcome. Then the launcher's own life: a copy
run from Downloads installs itself with a release that lists it, a link of the URL scheme
opened through the shell starts the installed launcher, and a newer build of the launcher
(same code, higher FileVersion: build/win/update, FENWA_UPDATE_VERSION) replaces it through
its updater script. Last, signed releases: a launcher built with the demo key (build/keys/demo,
made by the build; build/win/demo-signed) installs a release signed with it, then refuses a
release whose archive was replaced on the server and leaves the installed files as they were.
Ends by itself and stops everything it started. Runs in a private network namespace when
started as root, so that ports 443 and 80 never meet anything else on the machine.

  tools/demo.py [--lang ko_KR|ja_JP]    the launcher in Korean or Japanese (default English)
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "wine"))
sys.path.insert(0, HERE)

import publish  # noqa: E402
import sample_release  # noqa: E402
import winetest  # noqa: E402
from launcher_env import SCHEME, URL_PREFIX, parsed  # noqa: E402
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


# ---------------------------------------------------------------- the launcher's own life

UPDATE_LAUNCHER = os.path.join(HERE, "..", "build", "win", "update", "FenwaLauncher.exe")
# The access-code dialog's caption (string 143) in each user-interface language.
CODE_DIALOGS = {None: "Fenwa Remote Connection", "ko_KR": "Fenwa 원격 연결",
                "ja_JP": "Fenwa リモート接続"}
CODE_DIALOG = CODE_DIALOGS[None]
DEMO_CODE = next(iter(sample_release.DEMO_ACCESS_CODES))


def publish_with_launcher(workdir, version, launcher):
    """The sample release with the launcher itself among its files (so that a run installs it
    where the URL scheme points) and as the launcher's update archive."""
    release = os.path.join(workdir, "release-" + version)
    sample_release.make_sample_release(release)
    shutil.copy2(launcher, os.path.join(release, "FenwaLauncher.exe"))
    published = publish.publish(release, version, os.path.join(workdir, "www"), launcher)
    print("published %s with FenwaLauncher.exe %s" % (version, published.launcher_version))
    return published


def type_access_code(p, code):
    """Does what the user does when the access-code dialog asks: types the code, presses Enter."""
    wintool = p.helper("wintool")
    if p.run(wintool, ["wait", CODE_DIALOG, "90"], timeout=100).rc != 0:
        print("  (the access-code dialog did not show)")
        return False
    left, top, right, bottom = map(int, p.run(wintool, ["rect", CODE_DIALOG, "1011"]).out.split())
    env = dict(os.environ, DISPLAY=winetest.ensure_display())
    for args in (["mousemove", (left + right) // 2, (top + bottom) // 2, "click", "1"],
                 ["type", "--delay", "80", str(code)], ["key", "Return"]):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.3)
    print("  the access-code dialog asked; typed %s and pressed Enter" % code)
    return True


def open_link(p, url):
    """What a browser does with a link of the scheme."""
    print("$ start %s" % url)
    # Wine does not merge the per-user classes into HKEY_CLASSES_ROOT; Windows does.
    p.wine("reg", "copy", "HKCU\\Software\\Classes\\" + SCHEME,
           "HKLM\\Software\\Classes\\" + SCHEME, "/s", "/f")
    p.wine("start", url)


def show_run(p, since, functions):
    """Prints the log lines of these functions written since line `since`; returns the end."""
    lines = p.log_lines()[since:]
    for function, _, tag, message in parsed(lines):
        if function in functions:
            print("  %-45s %s%s" % (function, tag + " " if tag else "", message.rstrip()))
    return len(lines) + since


def launcher_version(p):
    exe = os.path.join(p.program_folder, "FenwaLauncher.exe")
    return publish.read_file_version(exe) if os.path.exists(exe) else "(not installed)"


def shell_demo(workdir, p):
    """The launcher a user downloaded installs itself with the release, a link of the scheme
    starts the installed launcher, and a newer launcher on the server replaces it."""
    shown = ("CSCLog::write_start_log", "CZekLauncherApp::InitInstance",
             "CZekLauncherApp::check_new_version_itself", "CZekLauncherApp::self_update",
             "CZekLauncherApp::self_delete", "CZekLauncherDlg::parse_browser_title",
             "CZekLauncherDlg::run_fenwa")
    root = os.path.join(workdir, "www")
    section("the launcher in its own release")
    publish_with_launcher(workdir, "1.0.0.6", sample_release.LAUNCHER_EXE)
    from product_server import ProductServer
    server = ProductServer(root, codes=sample_release.DEMO_ACCESS_CODES).start()
    results = []
    try:
        section("1. a user runs the launcher downloaded into Downloads")
        downloaded = os.path.join(p.downloads, "FenwaLauncher.exe")
        shutil.copy2(sample_release.LAUNCHER_EXE, downloaded)
        print("$ C:\\users\\%s\\Downloads\\FenwaLauncher.exe   (no URL, no browser window)"
              % p.user)
        since = len(p.log_lines())
        proc, _, _ = p.start(downloaded)
        type_access_code(p, DEMO_CODE)
        proc.wait(timeout=120)
        p.wait_idle(60)
        since = show_run(p, since, shown)
        print("installed launcher: FileVersion %s" % launcher_version(p))
        print("downloaded copy still there: %s" % os.path.exists(downloaded))
        results.append(not os.path.exists(downloaded) and
                       p.host_starts(wait_for=1)[-1][1] == "-i DEMO4321")

        section("2. a web page opens a link of the scheme")
        before = len(p.host_starts(timeout=0))
        open_link(p, URL_PREFIX + "Fenwa%20Launcher%20-%20link5678%20/")
        starts = p.host_starts(wait_for=before + 2, timeout=60)
        p.wait_idle(60)
        since = show_run(p, since, shown)
        results.append(starts[-1][1] == "-i link5678")

        section("3. a newer launcher build is published (same code, FileVersion %s)"
                % publish.read_file_version(UPDATE_LAUNCHER))
        publish_with_launcher(workdir, "1.0.0.7", UPDATE_LAUNCHER)
        before = len(p.host_starts(timeout=0))
        open_link(p, URL_PREFIX + "Fenwa%20Launcher%20-%20link9999%20/")
        print("  (the old launcher stages the new one and ends; its script swaps the files and")
        print("   starts the new launcher, which comes without the URL and asks for the code)")
        type_access_code(p, DEMO_CODE)
        starts = p.host_starts(wait_for=before + 2, timeout=90)
        p.wait_idle(60)
        show_run(p, since, shown)
        updated = launcher_version(p)
        print("installed launcher: FileVersion %s" % updated)
        script = os.path.join(p.program_folder, "self_updater.bat")
        if os.path.exists(script):
            print("self_updater.bat:")
            with open(script, "rb") as f:
                for line in f.read().decode("ascii", "replace").splitlines():
                    print("  " + line)
        results.append(updated == publish.read_file_version(UPDATE_LAUNCHER) and
                       starts[-1][1] == "-i DEMO4321")
    finally:
        server.stop()
    return all(results) and len(results) == 3


# ---------------------------------------------------------------- signed releases

SIGNED_LAUNCHER = os.path.join(HERE, "..", "build", "win", "demo-signed", "FenwaLauncher.exe")
DEMO_KEY = os.path.join(HERE, "..", "build", "keys", "demo", publish.PRIVATE_KEY)
SIGNED_SHOWN = ("CZekLauncherDlg::get_release_statement", "CZekLauncherDlg::download_server_files",
                "CZekLauncherDlg::rollback_files")


def signed_demo(workdir, env):
    """A signed release installs; a release with an archive replaced on the server does not."""
    import zipfile
    from product_server import ProductServer
    section("signed releases: a launcher built with the demo key")
    print("key: %s (public half built into %s)" % (os.path.relpath(DEMO_KEY),
                                                   os.path.relpath(SIGNED_LAUNCHER)))
    p = PipelinePrefix("demo-signed", env=env)
    shutil.copy2(SIGNED_LAUNCHER, p.exe)
    release = os.path.join(workdir, "release")
    www = os.path.join(workdir, "www")
    sample_release.make_sample_release(release)
    server = ProductServer(www, codes=sample_release.DEMO_ACCESS_CODES).start()
    try:
        first = publish.publish(release, "2.0.0.1", www, sign_key=DEMO_KEY)
        statement = os.path.join(first.folder, publish.STATEMENT)
        print("$ publish.py --release ... --version 2.0.0.1 --sign-key %s" % os.path.relpath(
            DEMO_KEY))
        with open(statement, encoding="utf-8") as f:
            for line in f.read().splitlines():
                print("  " + (line[:96] + "..." if len(line) > 99 else line))
        since = len(p.log_lines())
        run_launcher(p, URL_PREFIX + "Fenwa%20Launcher%20-%20sign0001%20/")
        since = show_run(p, since, SIGNED_SHOWN)
        values = p.reg_values("HKEY_LOCAL_MACHINE\\Software\\Fenwa\\FenwaLauncher")
        print("HKLM Version = %s, ReleaseSequence = %s" % (values.get("Version"),
                                                           values.get("ReleaseSequence")))
        installed = p.installed("readme.txt")
        good = values.get("Version") == "2.0.0.1" and \
            values.get("ReleaseSequence") == str(first.sequence)

        section("a tampered archive on the server")
        with open(os.path.join(release, "readme.txt"), "ab") as f:
            f.write(b"Version 2.0.0.2 of the notes.\r\n")
        second = publish.publish(release, "2.0.0.2", www, sign_key=DEMO_KEY)
        size = os.path.getsize(os.path.join(release, "readme.txt"))
        forged = (b"This file was replaced on its way to you.\r\n" * 10)[:size]
        with zipfile.ZipFile(os.path.join(second.folder, "readme.txt.zip"), "w",
                             zipfile.ZIP_DEFLATED) as z:
            z.writestr("readme.txt", forged)
        print("published 2.0.0.2 (sequence %d), then replaced readme.txt.zip on the server by "
              "another valid archive of a %d-byte readme.txt" % (second.sequence, size))
        run_launcher(p, URL_PREFIX + "Fenwa%20Launcher%20-%20sign0002%20/")
        show_run(p, since, SIGNED_SHOWN)
        values = p.reg_values("HKEY_LOCAL_MACHINE\\Software\\Fenwa\\FenwaLauncher")
        untouched = p.installed("readme.txt") == installed
        print("installed readme.txt is still the 2.0.0.1 one: %s (first line: %r)" % (
            untouched, installed.decode("utf-8", "replace").splitlines()[0]))
        print("HKLM Version = %s, ReleaseSequence = %s" % (values.get("Version"),
                                                           values.get("ReleaseSequence")))
        refused = any("readme.txt.zip does not match the signed release" in line
                      for line in p.log_lines()[since:])
        return good and untouched and refused and values.get("Version") == "2.0.0.1"
    finally:
        server.stop()
        p.kill()


def main():
    global CODE_DIALOG
    parser = argparse.ArgumentParser(description="The launcher end to end under Wine.")
    parser.add_argument("--lang", choices=["ko_KR", "ja_JP"],
                        help="the user's language: Korean or Japanese (default English)")
    args = parser.parse_args()
    winetest.reexec_in_netns()
    env = {"FENWA_HOST_EXIT_AFTER": "3"}
    if args.lang:
        # Wine takes the user-interface language from the locale; the strings follow it.
        env.update(winetest.build_locale(args.lang))
        CODE_DIALOG = CODE_DIALOGS[args.lang]
    workdir = tempfile.mkdtemp(prefix="fenwa-demo-")
    p = PipelinePrefix("demo", env=env)
    ok = shell_ok = signed_ok = False
    try:
        print("wine prefix: %s" % p.path)
        print("language: %s" % (args.lang or "English"))
        ok = pipeline_demo(workdir, p)
        shell_ok = shell_demo(os.path.join(workdir, "shell"), p)
        p.kill()
        signed_ok = signed_demo(os.path.join(workdir, "signed"), env)
    finally:
        p.kill()
        shutil.rmtree(workdir, ignore_errors=True)
        subprocess.run(["sync"])
    section("result")
    print("the host program was started with \"-i demo1234\"" if ok else
          "the host program did not receive the parameter")
    print("the downloaded launcher installed itself, a link started it and it updated itself"
          if shell_ok else "the launcher's own installation, link or update went wrong")
    print("the signed release installed and the tampered archive was refused, the installed "
          "files untouched" if signed_ok else "the signed release part went wrong")
    return 0 if ok and shell_ok and signed_ok else 1


if __name__ == "__main__":
    sys.exit(main())
