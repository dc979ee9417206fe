"""A run cut off at any moment of an update loses nothing: the launcher is killed at many
moments spread over every phase of an update (and of its rollback); the next start with the
server unreachable must leave the old release or, once the run had committed, the new one,
with "Version" agreeing; a start with the server back then installs the new release.

By default one moment of each phase runs (8 of 15), which keeps make test short;
FENWA_KILL_MOMENTS=all runs every moment, a number runs that many, spread."""

import os
import random
import shutil
import signal
import time

import winetest
from http_server import Response, TestServer
from launcher_env import URL_PREFIX
from pipeline_env import DOWNLOAD_PATH, Release, digest, host_version, sample_release, tree
from test_pipeline import VERSION_KEY, Scenario

OLDER_EXE = os.path.join(winetest.BUILD, "win", "older", "FenwaLauncher.exe")
JOURNAL = "~update.journal"
SLOW = ("a/b/f02.txt", "f09.txt", "a/f16.txt")  # archives the server delays
BIG = "big.dat"


def release(version, text, launcher):
    rnd = random.Random(text)
    with open(os.path.join(winetest.BUILD, "win", "FenwaHostSvr.exe"), "rb") as f:
        host = f.read()
    files = {"FenwaHostSvr.exe": host if text == "old" else host + b"\0" * 16,
             "FenwaLauncher.exe": launcher,
             # Each file of the new release differs in size too: the launcher's identity test
             # is size and FileVersion.
             BIG: bytes(rnd.getrandbits(8) for _ in range(1 << 20)) * 24 + text.encode()}
    for i in range(20):
        folder = ("a/b/" if i % 3 == 2 else "a/") if i % 3 else ""
        files["%sf%02d.txt" % (folder, i)] = ("%s %d\r\n" % (text, i)).encode() * (i + 1)
    if text == "newer":
        files["newdir/sub/added.txt"] = b"only in the new release"
    versions = {"FenwaHostSvr.exe": host_version()}
    pack = {"p1.txt": ("pack 1 " + text).encode(), "deep/p2.txt": ("pack 2 " + text).encode()}
    if text == "newer":
        pack["deep/p3.txt"] = b"pack 3 only new"
    return Release(version, files, versions, archives={"pack.zip": pack})


def expected_tree(rel):
    """Each file's relative path and a digest of its bytes (a failing comparison stays short)."""
    out = {name.replace("/", os.sep): digest(data) for name, data in rel.files.items()}
    for name, entries in rel.archives.items():
        for entry, data in entries.items():
            out[os.path.join(name[:-4], entry.replace("/", os.sep))] = digest(data)
    return out


class KillAtAnyMoment(Scenario):
    host_env = {"FENWA_HOST_EXIT_AFTER": "1"}  # each repair run waits for the host's end

    def setUp(self):
        super().setUp()
        with open(winetest.EXE, "rb") as f, open(OLDER_EXE, "rb") as g:
            self.old = release("1.0", "old", f.read())
            self.new = release("2.0", "newer", g.read())
        self.old_tree, self.new_tree = expected_tree(self.old), expected_tree(self.new)

    def serve(self, rel, skip=()):
        """The server tree of a release, published once and kept for the next moments."""
        folder = os.path.join(self.root, "%s-%s" % (rel.version, "-".join(skip)))
        if not os.path.isdir(folder):
            rel.publish(folder, skip=skip)
        return folder

    def log_tail(self, start):
        with open(self.p.log_path(), "rb") as f:
            f.seek(start)
            return f.read().decode("utf-8", "replace")

    def moments(self):
        """(name, phase, trigger) where trigger(log text, server, folder) says when to kill."""
        base = "/%s/2.0/" % DOWNLOAD_PATH
        out = [("file list read", "before the first backup",
                 lambda log, s, f: "Request filelist.lst from server" in log)]
        for n in (1, 4, 8, 13, 19):
            out.append(("after entry %d" % n, "between entries",
                        lambda log, s, f, n=n: log.count("download and unzip success.") >= n))
        for name in SLOW:
            out.append(("download of " + name, "between a backup move and its download",
                        lambda log, s, f, name=name: s.requests_for(base + name + ".zip")))
        out.append(("unpacking " + BIG, "during unpacking",
                    lambda log, s, f: os.path.exists(os.path.join(f, BIG)) and
                    os.path.getsize(os.path.join(f, BIG)) < len(self.new.files[BIG]) and
                    s.requests_for(base + BIG + ".zip")))
        out.append(("unpacking the launcher", "during the launcher's unpacking",
                    lambda log, s, f: os.path.exists(os.path.join(f, "FenwaLauncher.exe.new"))))
        out.append(("after the last file", "after the last file, before Version",
                    lambda log, s, f: "Total : " in log))
        out.append(("after Version", "during the backup clean-up",
                    lambda log, s, f: "final params = " in log))
        for n in (1, 8):
            out.append(("rollback line %d" % n, "during a rollback",
                        lambda log, s, f, n=n: log.count("] rollback : ") >= n))
        return out

    def kill_and_repair(self, name, phase, trigger, snapshot):
        folder = self.p.program_folder
        shutil.rmtree(folder)
        shutil.copytree(snapshot, folder, symlinks=True)
        self.p.reg_add(VERSION_KEY, "Version", "1.0")
        rollback = phase == "during a rollback"
        root = self.serve(self.new, skip=("pack.zip",) if rollback else ())
        routes = {}
        for slow in SLOW:
            path = os.path.join(root, DOWNLOAD_PATH, "2.0", slow + ".zip")
            with open(path, "rb") as f:
                routes["/%s/2.0/%s.zip" % (DOWNLOAD_PATH, slow)] = Response(
                    body=f.read(), delay=0.6)
        start = os.path.getsize(self.p.log_path())
        with TestServer(routes, http_port=80, https_port=443,
                        static_root=root) as server:
            proc, _, _ = self.p.start(self.p.exe, [URL_PREFIX + "K1"])
            deadline = time.monotonic() + 60
            fired = False
            while time.monotonic() < deadline and proc.poll() is None:
                if trigger(self.log_tail(start), server, folder):
                    fired = True
                    break
                time.sleep(0.005)
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
        self.assertTrue(fired, "the moment %r came before the run ended" % name)
        # A whole launcher at its path at every moment, but for the instant between renaming
        # the old one into the backup (a running one cannot be replaced) and the new one into
        # its place; the journal then names the old one's place in the backup.
        path = os.path.join(folder, "FenwaLauncher.exe")
        if not os.path.exists(path):
            path = os.path.join(folder, "1.0", "FenwaLauncher.exe")
        with open(path, "rb") as f:
            self.assertIn(f.read(), (self.old.files["FenwaLauncher.exe"],
                                     self.new.files["FenwaLauncher.exe"]),
                          "a whole launcher at every moment")
        journal = os.path.join(folder, JOURNAL)
        committed = os.path.exists(journal) and b"\ncommit\n" in open(journal, "rb").read()
        self.p.wait_idle(30)

        # The server is gone: the start repairs on its own.
        self.run_launcher(URL_PREFIX + "K2")
        self.p.wait_idle(30)
        state = tree(folder)
        version = self.p.installed_version()
        if committed:
            self.assertEqual(("2.0", self.new_tree), (version, state), name)
        else:
            self.assertIn((version, state), [("1.0", self.old_tree),
                                             ("2.0", self.new_tree)], name)
        self.assertFalse(os.path.exists(journal), name)

        # The server is back with the whole release.
        with TestServer(http_port=80, https_port=443, static_root=self.serve(self.new)):
            self.run_launcher(URL_PREFIX + "K3")
        self.p.wait_idle(30)
        self.assertEqual(("2.0", self.new_tree), (self.p.installed_version(), tree(folder)), name)
        return name, phase, "new" if version == "2.0" else "old"

    def test_every_moment_leaves_one_whole_release(self):
        folder = self.p.program_folder
        with TestServer(http_port=80, https_port=443, static_root=self.serve(self.old)):
            self.run_launcher(URL_PREFIX + "K0")
        self.assertEqual(self.old_tree, tree(folder))
        self.p.wait_idle(30)
        snapshot = os.path.join(self.p.path, "old-release")
        shutil.copytree(folder, snapshot, symlinks=True)

        moments = self.moments()
        wanted = os.environ.get("FENWA_KILL_MOMENTS", "phases")
        if wanted == "phases":
            seen = set()
            moments = [m for m in moments if not (m[1] in seen or seen.add(m[1]))]
        elif wanted != "all":
            step = max(1, len(moments) // max(1, int(wanted)))
            moments = moments[::step][:int(wanted)]
        hit = []
        for name, phase, trigger in moments:
            hit.append(self.kill_and_repair(name, phase, trigger, snapshot))
        phases = sorted({h[1] for h in hit})
        print("\nkill test: %d kill moments, %d phases: %s" % (len(hit), len(phases),
                                                              "; ".join(phases)))
        for h in hit:
            print("  %-28s %-40s -> %s release" % h)


class Holder:
    """A file held open without sharing by another program of the prefix, until stop()."""

    def __init__(self, prefix, win_path, seconds):
        self.prefix = prefix
        self.stop_file = os.path.join(prefix.path, "drive_c", "stop-hold")
        if os.path.exists(self.stop_file):
            os.remove(self.stop_file)
        self.proc, out, _ = prefix.start(prefix.helper("hold"),
                                         ["file", win_path, "C:\\stop-hold", str(seconds)])
        deadline = time.monotonic() + 30
        while "held" not in winetest._read(out) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.held = "held" in winetest._read(out)

    def stop(self):
        open(self.stop_file, "w").close()
        self.proc.wait(timeout=60)


PUBLIC_FOLDER = "C:\\users\\Public\\Documents\\Fenwa\\FenwaLauncher"


class HeldFiles(Scenario):
    def test_a_rollback_that_cannot_restore_keeps_the_backup_for_the_next_start(self):
        old = sample_release("4.0", "old", archive=False)
        old.publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "H1")
        self.p.wait_idle(20)

        new = sample_release("4.1", "newer", archive=False)
        new.publish(self.root, skip=("bin/engine.dat",))
        late = {"/%s/4.1/bin/engine.dat.zip" % DOWNLOAD_PATH: Response(status=404, delay=3)}
        with TestServer(late, http_port=80, https_port=443, static_root=self.root):
            proc, _, _ = self.p.start(self.p.exe, [URL_PREFIX + "H2"])
            deadline = time.monotonic() + 30
            # The second run's line (the first run's is in the same log).
            while "\n".join(self.p.log_lines()).count(
                    "readme.txt (2/3) : download and unzip success.") < 2 and \
                    time.monotonic() < deadline:
                time.sleep(0.02)
            holder = Holder(self.p, PUBLIC_FOLDER + "\\readme.txt", 90)
            self.assertTrue(holder.held)
            try:
                proc.wait(timeout=60)
            finally:
                holder.stop()
        log = self.log("CZekLauncherDlg::rollback_files")
        self.assertIn("rollback : readme.txt failed.", log)
        self.assertIn("The backup is kept; the next start puts the files back.", log)
        folder = self.p.program_folder
        self.assertTrue(os.path.exists(os.path.join(folder, JOURNAL)))
        self.assertTrue(os.path.exists(os.path.join(folder, "4.0", "readme.txt")))
        self.assertEqual("4.0", self.p.installed_version())

        self.p.wait_idle(20)
        self.run_launcher(URL_PREFIX + "H3")  # no server: the start repairs first
        for name, data in old.files.items():
            self.assertEqual(data, self.p.installed(name), name)
        self.assertFalse(os.path.exists(os.path.join(folder, JOURNAL)))
        self.assertFalse(os.path.exists(os.path.join(folder, "4.0")))
        self.assertIn("update 4.0 -> 4.1 cut off: undone.",
                      self.log("recover_unfinished_update"))

    def test_the_updater_gives_up_and_leaves_the_old_launcher(self):
        installed = os.path.join(self.p.program_folder, "FenwaLauncher.exe")
        os.makedirs(self.p.program_folder)
        shutil.copy2(winetest.EXE, installed)
        update = os.path.join(winetest.BUILD, "win", "update", "FenwaLauncher.exe")
        with open(update, "rb") as f:
            Release("7.0", {}).publish(self.root)
            from pipeline_env import zip_one
            zip_one(os.path.join(self.root, DOWNLOAD_PATH, "7.0", "FenwaLauncher.exe.zip"),
                    "FenwaLauncher.exe", f.read())
        # Held for longer than the updater retries (15 pauses of about a second): had it not
        # given up, the move would go through once the file is released.
        holder = Holder(self.p, PUBLIC_FOLDER + "\\FenwaLauncher.exe", 35)
        self.assertTrue(holder.held)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "U1")  # stages the update and starts the updater
        holder.proc.wait(timeout=60)
        self.assertTrue(self.p.wait_idle(60))
        with open(winetest.EXE, "rb") as f:
            self.assertEqual(f.read(), self.p.installed("FenwaLauncher.exe"))
        with open(update, "rb") as f:
            self.assertEqual(f.read(), self.p.installed("FenwaLauncher.exe_"))
        starts = [m for m in self.log() if m == "==================== Program Start ===================="]
        self.assertEqual(1, len(starts), "nothing was restarted")
