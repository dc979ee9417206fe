"""The launch pipeline end to end under Wine against a test server on loopback: versions,
file list, downloads with backup, rollback, the parameter and the start of the host."""

import os
import shutil
import tempfile
import unittest

from http_server import TestServer
from launcher_env import LINE_RE, URL_PREFIX, messages
from pipeline_env import DOWNLOAD_PATH, PipelinePrefix, sample_release

HOST_ENV = {"FENWA_HOST_EXIT_AFTER": "3"}
VERSION_KEY = "HKEY_LOCAL_MACHINE\\Software\\Fenwa\\FenwaLauncher"


def paths(server):
    return [r.target for r in server.requests]


def timed_lines(lines):
    """(seconds since midnight, match) for each time-stamped log line."""
    for line in lines:
        m = LINE_RE.match(line)
        if m:
            h, mi, s, ms = (int(x) for x in m.groups()[3:7])
            yield h * 3600 + mi * 60 + s + ms / 1000.0, m


class Scenario(unittest.TestCase):
    prefix_name = None
    host_env = HOST_ENV

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="fenwa-server-")
        self.p = PipelinePrefix(self.prefix_name or self.id().split(".")[-1], env=self.host_env)

    def tearDown(self):
        self.p.cleanup()
        shutil.rmtree(self.root, ignore_errors=True)

    def run_launcher(self, *args):
        r = self.p.launch(*args, timeout=90)
        self.assertNotEqual("timeout", r.rc, r)
        return r

    def log(self, function=None):
        return messages(self.p.log_lines(), function)

    def assert_no_backup(self, version="0.0.0.0"):
        self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, version)))

    def assert_host_started(self, starts, param_args):
        self.assertEqual(["-u", param_args], [s[1] for s in starts[-2:]])
        # The pause is read from the launcher's own lines on either side of it, which load
        # can only move apart; the host's starts can be delayed unevenly. The margin covers a
        # clock that ticks every 15.6 ms.
        stamps = [(seconds, m.group(11)) for seconds, m in timed_lines(self.p.log_lines())
                  if m.group(8) == "CZekLauncherDlg::run_fenwa"]
        stop = max(i for i, (_, text) in enumerate(stamps)
                   if text == "stop previous running process.")
        run = stamps[stop + 1]
        self.assertTrue(run[1].startswith("run process with param = "), run)
        self.assertGreaterEqual(run[0] - stamps[stop][0], 0.95,
                                "the host is started one second after it was stopped")


class FirstInstallationThenNothingToDo(Scenario):
    def test_install_then_skip(self):
        # An archive entry is fetched on every run (its archive is deleted once unpacked), so
        # this release has none; the archive entry is covered by the scenarios below.
        release = sample_release("1.0.0.5", archive=False)
        release.publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
            self.run_launcher(URL_PREFIX + "Fenwa%20Launcher%20-%20AB12CD34%20x/")
            first = list(server.requests)

            # Every file is in place, the archive entry unpacked into its folder.
            for name, data in release.files.items():
                self.assertEqual(data, self.p.installed(name), name)
            self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, "readme.txt.zip")))
            self.assertEqual("1.0.0.5", self.p.installed_version())
            self.assert_no_backup()
            self.assert_host_started(self.p.host_starts(wait_for=2), "-i AB12CD34")

            base = "/" + DOWNLOAD_PATH
            # The launcher's own update check comes first (this server offers no launcher).
            self_check = [base + "/version.html", base + "/1.0.0.5/FenwaLauncher.exe.zip"]
            self.assertEqual(self_check + [base + "/version.html", base + "/1.0.0.5/filelist.lst"],
                             [r.target for r in first[:4]])
            self.assertEqual(sorted([base + "/1.0.0.5/FenwaHostSvr.exe.zip",
                                     base + "/1.0.0.5/readme.txt.zip",
                                     base + "/1.0.0.5/bin/engine.dat.zip"]),
                             sorted(r.target for r in first[4:]))
            self.assertTrue(all(r.scheme == "https" and r.version == "HTTP/1.0" for r in first))

            log = self.log()
            self.assertIn("final params = AB12CD34", log)
            self.assertIn('run process with param = "-i AB12CD34"', log)
            self.assertIn("FenwaHostSvr.exe (1/3) : download and unzip success.", log)

            # The second run finds everything identical and asks for no archive.
            server.clear()
            self.p.wait_idle(20)
            self.run_launcher(URL_PREFIX + "ZZ")
            self.assertEqual(self_check + [base + "/version.html", base + "/1.0.0.5/filelist.lst"],
                             paths(server))
            log = self.log("CZekLauncherDlg::download_server_files")
            self.assertIn("FenwaHostSvr.exe (1/3) : skip", log)
            self.assertIn("bin/engine.dat (3/3) : skip", log)
            self.assert_host_started(self.p.host_starts(wait_for=4), "-i ZZ")
            self.assert_no_backup("1.0.0.5")


class HttpsRefused(Scenario):
    def test_http_serves_the_whole_run(self):
        sample_release("2.0").publish(self.root)
        with TestServer(http_port=80, https_port=None, static_root=self.root) as server:
            self.run_launcher(URL_PREFIX + "P1")
            self.assertTrue(server.requests)
            self.assertTrue(all(r.port == 80 and r.scheme == "http" for r in server.requests))
            self.assertGreater(len(server.requests), 2)
        # The launcher's own update check meets the refusal first and switches the whole
        # process to port 80; the pipeline then starts on port 80 without a retry of its own.
        self.assertIn("https(443) request failed. retry to http(80) request...",
                      self.log("CZekLauncherApp::check_new_version_itself"))
        log = self.log("CZekLauncherDlg::get_server_version")
        self.assertEqual("http://127.0.0.1:80/%s/version.html" % DOWNLOAD_PATH, log[0])
        self.assertNotIn("https(443) request failed under Vista OS. retry http request...", log)
        self.assertEqual("2.0", self.p.installed_version())
        self.assert_host_started(self.p.host_starts(wait_for=2), "-i P1")
        # The archive entry was unpacked into a folder of its name and then deleted.
        self.assertEqual(b"plugin b first", self.p.installed("plugin/sub/b.txt"))
        self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, "plugin.zip")))


class ServerUnreachable(Scenario):
    def test_nothing_started_and_no_backup(self):
        r = self.run_launcher(URL_PREFIX + "P1")
        self.assertGreater(r.elapsed, 1.5, "the failure stays on screen for 1.5 s")
        # The update check already fell back to port 80, so the version step fails there
        # without a retry and without the "http request." prefix.
        log = self.log("CZekLauncherDlg::get_server_version")
        self.assertEqual("is_https = 0, port = 80, param.status = 12029, "
                         "get_windows_major_version() = 6", log[1])
        self.assertEqual("Unable to read server version information.", log[2])
        self.assertEqual([], self.p.host_starts(timeout=0))
        self.assert_no_backup()
        self.assertIsNone(self.p.installed_version())


class FileListProblems(Scenario):
    def test_missing_file_list(self):
        release = sample_release("3.0")
        release.publish(self.root)
        os.remove(os.path.join(self.root, DOWNLOAD_PATH, "3.0", "filelist.lst"))
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "P1")
        log = self.log("CZekLauncherDlg::get_server_filelist")
        self.assertIn("/%s/3.0/filelist.lst Unable to read file. (error code = 404)" % DOWNLOAD_PATH,
                      log)
        self.assertEqual([], self.p.host_starts(timeout=0))
        self.assert_no_backup()

    def test_empty_file_list_shows_a_message(self):
        sample_release("3.2").publish(self.root, filelist="\r\n\n\r\n")
        wintool = self.p.helper("wintool")
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            proc, _, _ = self.p.start(self.p.exe, [URL_PREFIX + "P1"])
            self.assertEqual(0, self.p.run(wintool, ["wait", "FenwaLauncher", "30"], timeout=40).rc)
            dump = self.p.run(wintool, ["dump", "FenwaLauncher"]).out
            self.assertIn("3.2 version filelist.lst are missing.", dump)
            self.p.run(wintool, ["command", "FenwaLauncher", "1"])
            proc.wait(timeout=30)
        self.assertEqual([], self.p.host_starts(timeout=0))
        self.assert_no_backup()


class RollbackAfterAMissingArchive(Scenario):
    def test_replaced_files_come_back(self):
        first = sample_release("4.0", "old")
        first.publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "A1")
        self.assertEqual("4.0", self.p.installed_version())
        self.p.wait_idle(20)
        old_readme = self.p.installed("readme.txt")
        old_engine = self.p.installed("bin/engine.dat")

        second = sample_release("4.1", "newer")
        second.publish(self.root, skip=("bin/engine.dat",))
        with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
            self.run_launcher(URL_PREFIX + "A2")
            asked = paths(server)
        self.assertIn("/%s/4.1/bin/engine.dat.zip" % DOWNLOAD_PATH, asked)
        # The download after the missing one still happened, then everything went back.
        self.assertIn("/%s/4.1/plugin.zip" % DOWNLOAD_PATH, asked)
        self.assertEqual(old_readme, self.p.installed("readme.txt"))
        self.assertEqual(old_engine, self.p.installed("bin/engine.dat"))
        self.assertEqual(b"plugin a old", self.p.installed("plugin/a.txt"))
        self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, "bin", "engine.dat.zip")),
                         "the 404 page is not left in the archive's place")
        self.assertEqual("4.0", self.p.installed_version(), "Version untouched after a rollback")
        self.assert_no_backup("4.0")
        self.assert_host_started(self.p.host_starts(wait_for=4), "-i")
        log = self.log()
        self.assertIn("bin/engine.dat (3/4) : error = 404", log)
        self.assertIn("rollback success.", log)
        self.assertIn("rollback : readme.txt", log)


class FileInUse(Scenario):
    def test_extraction_onto_a_locked_file_rolls_back(self):
        sample_release("7.0", "old", archive=False).publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "L1")
        self.p.wait_idle(20)
        sample_release("7.1", "newer", archive=False).publish(self.root)

        import time
        import winetest
        stop = os.path.join(self.p.path, "drive_c", "stop-hold")
        holder, out, _ = self.p.start(
            self.p.helper("hold"),
            ["file", "C:\\users\\Public\\Documents\\Fenwa\\FenwaLauncher\\readme.txt",
             "C:\\stop-hold", "90"])
        deadline = time.monotonic() + 30
        while "held" not in winetest._read(out) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertIn("held", winetest._read(out))
        try:
            with TestServer(http_port=80, https_port=443, static_root=self.root):
                self.run_launcher(URL_PREFIX + "L2")
        finally:
            open(stop, "w").close()
            holder.wait(timeout=30)
        log = self.log("CZekLauncherDlg::download_server_files")
        self.assertTrue(any(line.startswith("UnzipItem() failed.") and "readme.txt.zip" in line
                            and line.endswith("zr error code = 512") for line in log), log)
        self.assertEqual(b"readme old\r\n", self.p.installed("readme.txt"))
        self.assertEqual("7.0", self.p.installed_version())
        self.assert_host_started(self.p.host_starts(wait_for=4), "-i")


    def test_an_archive_that_is_no_zip_rolls_back(self):
        sample_release("7.0", "old", archive=False).publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "Z1")
        self.p.wait_idle(20)
        sample_release("7.1", "newer", archive=False).publish(self.root)
        with open(os.path.join(self.root, DOWNLOAD_PATH, "7.1", "readme.txt.zip"), "wb") as f:
            f.write(b"PK\x03\x04 but nothing an archive holds")
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "Z2")
        log = self.log("CZekLauncherDlg::download_server_files")
        self.assertTrue(any(line.startswith("OpenZip() failed.") and "readme.txt.zip" in line
                            for line in log), log)
        self.assertEqual(b"readme old\r\n", self.p.installed("readme.txt"))
        self.assertEqual("7.0", self.p.installed_version())


class UnsafeFileListName(Scenario):
    def test_names_outside_the_program_folder_are_refused(self):
        release = sample_release("5.0")
        release.publish(self.root)
        evil = os.path.join(self.root, DOWNLOAD_PATH, "evil.txt.zip")
        from pipeline_env import zip_one
        zip_one(evil, "evil.txt", b"evil")
        listing = release.filelist() + "../evil.txt|4|\r\n"
        release.publish(self.root, filelist=listing)
        with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
            self.run_launcher(URL_PREFIX + "E1")
            self.assertFalse(any("evil" in t for t in paths(server)))
        self.assertFalse(os.path.exists(os.path.join(self.p.public_documents, "Fenwa", "evil.txt")))
        self.assertIn("../evil.txt (5/5) : unsafe file name refused.", self.log())
        self.assertIsNone(self.p.installed_version())
        self.assert_host_started(self.p.host_starts(wait_for=2), "-i")


class SizeWithoutDigits(Scenario):
    def test_an_unknown_size_is_fetched_without_the_size_bound(self):
        # A listed size of 0 would bound the archive to 1 MiB and let a missing file with no
        # version pass as identical.
        release = sample_release("5.2", archive=False)
        release.files["big.bin"] = os.urandom(1536 * 1024)
        release.files["note.txt"] = b"note"
        release.publish(self.root)
        listing = release.filelist().replace("big.bin|%d|" % (1536 * 1024), "big.bin|n/a|")
        release.publish(self.root, filelist=listing.replace("note.txt|4|", "note.txt||"))
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "S1")
        for name in ("big.bin", "note.txt", "FenwaHostSvr.exe"):
            self.assertEqual(release.files[name], self.p.installed(name), name)
        self.assertEqual("5.2", self.p.installed_version())
        self.assert_no_backup()
        self.assert_host_started(self.p.host_starts(wait_for=2), "-i S1")


class EarlyClose(Scenario):
    def test_closing_during_a_download_ends_the_process(self):
        import time
        from http_server import Response
        release = sample_release("8.0", archive=False)
        release.publish(self.root)
        slow = "/%s/8.0/readme.txt.zip" % DOWNLOAD_PATH
        with open(os.path.join(self.root, slow[1:]), "rb") as f:
            routes = {slow: Response(body=f.read(), delay=30)}
        with TestServer(routes, http_port=80, https_port=443, static_root=self.root) as server:
            proc, _, _ = self.p.start(self.p.exe, [URL_PREFIX + "C1"])
            deadline = time.monotonic() + 30
            while not server.requests_for(slow) and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertTrue(server.requests_for(slow), "the slow download never started")
            listing = self.p.run(self.p.helper("wintool"), ["list"]).out
            dialogs = [line.split("\t")[0] for line in listing.splitlines()
                       if line.split("\t")[1:] == ["#32770", ""]]
            self.assertEqual(1, len(dialogs), listing)
            # Mid-download the window names the file in progress and counts it.
            import re
            dump = self.p.run(self.p.helper("wintool"), ["dump", "#" + dialogs[0]]).out
            children = {int(m.group(1)): (m.group(2) == "1", m.group(3).rstrip("\r\n"))
                        for m in re.finditer(
                r"^(-?\d+)\t([01])\t[^\t]*\t(.*?)(?=^-?\d+\t[01]\t|\Z)", dump, re.S | re.M)}
            self.assertEqual((True, "readme.txt"), children[1005])
            self.assertEqual((True, "2 / 3"), children[1006])
            self.assertFalse(children[1009][0], "the log view stays hidden")
            self.assertIn("readme.txt (2/3) : ", children[1009][1])
            self.assertIn("success", children[1009][1])
            closed_at = time.monotonic()
            self.p.run(self.p.helper("wintool"), ["post", dialogs[0], "2"])  # Esc
            proc.wait(timeout=20)
            self.assertLess(time.monotonic() - closed_at, 10,
                            "the process ends without waiting for the worker")
        self.assertEqual([], self.p.host_starts(timeout=0))
        lines = self.p.log_lines()
        self.assertTrue(lines[-3].endswith("==================== Program Exit ===================="),
                        lines[-5:])


class Parameters(Scenario):
    def test_url_parameter_forms(self):
        sample_release("6.0").publish(self.root)
        cases = [
            (URL_PREFIX + "ABCDEFGHIJK", "-i ABCDEFGH"),
            (URL_PREFIX + "xyz%20tail", "-i xyz"),
            (URL_PREFIX + "Fenwa Launcher - K9 more", "-i K9"),
        ]
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            for n, (arg, expected) in enumerate(cases):
                self.run_launcher(arg)
                self.p.wait_idle(20)
                self.assert_host_started(self.p.host_starts(wait_for=2 * (n + 1)), expected)

    def test_bare_url_prefix_asks_for_a_code(self):
        import time
        sample_release("6.1").publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            proc, _, _ = self.p.start(self.p.exe, [URL_PREFIX])
            # The access-code dialog is the only dialog shown: the main one hides meanwhile.
            wintool = self.p.helper("wintool")
            dialogs, deadline = [], time.monotonic() + 60
            while not dialogs and time.monotonic() < deadline:
                time.sleep(0.3)
                if "run InputCodeDlg..." not in self.log("CZekLauncherDlg::parse_browser_title"):
                    continue
                listing = self.p.run(wintool, ["list"]).out
                dialogs = [line.split("\t")[0] for line in listing.splitlines()
                           if line.split("\t")[1:2] == ["#32770"]]
            self.assertEqual(1, len(dialogs), listing)
            self.p.run(wintool, ["post", dialogs[0], "2"])  # Esc
            proc.wait(timeout=30)
        log = self.log("CZekLauncherDlg::parse_browser_title")
        self.assertEqual(["theApp.m_uri_params = " + URL_PREFIX, "run InputCodeDlg...",
                          "user cancelled InputCodeDlg."], log)
        # The update itself succeeded; only the start was given up.
        self.assertEqual("6.1", self.p.installed_version())
        self.assertEqual([], self.p.host_starts(timeout=0))


class LauncherInTheRelease(Scenario):
    def test_the_running_launcher_is_renamed_never_replaced(self):
        """Windows lets a running image be renamed but not replaced or deleted: the launcher
        that runs from the program folder keeps its file (the same one, not a copy) through
        a rollback, and an update leaves neither it nor its backup behind."""
        import winetest
        with open(self.p.exe, "rb") as f, open(os.path.join(
                winetest.BUILD, "win", "older", "FenwaLauncher.exe"), "rb") as g:
            current, newer = f.read(), g.read()

        def release(version, launcher, missing=()):
            rel = sample_release(version, version, archive=False)
            rel.files["FenwaLauncher.exe"] = launcher
            rel.files.update({name: b"never served" for name in missing})
            rel.publish(self.root, skip=missing)

        release("1.0", current)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "R1")
        self.p.wait_idle(20)
        installed = os.path.join(self.p.program_folder, "FenwaLauncher.exe")
        inode = os.stat(installed).st_ino

        for version, missing in (("1.1", ("zz.txt",)), ("1.2", ())):
            release(version, newer, missing)
            with TestServer(http_port=80, https_port=443, static_root=self.root):
                r = self.p.run(installed, [URL_PREFIX + "R2"], timeout=90)
            self.assertNotEqual("timeout", r.rc, r)
            self.p.wait_idle(20)
            left = sorted(os.listdir(self.p.program_folder))
            self.assertFalse([n for n in left if n.startswith("1.") or n.endswith(".new")
                              or n.startswith("~")], left)
        # Rolled back, the very file that ran came back; updated, it waits beside the new
        # one (Wine too refuses to delete a running image) until a later start removes it.
        self.assertEqual("1.2", self.p.installed_version())
        self.assertEqual(newer, self.p.installed("FenwaLauncher.exe"))
        self.assertEqual(inode, os.stat(installed + ".old").st_ino)
        self.run_launcher(URL_PREFIX + "R3")  # no server
        self.assertFalse(os.path.exists(installed + ".old"))
        self.assertEqual(newer, self.p.installed("FenwaLauncher.exe"))

if __name__ == "__main__":
    unittest.main()
