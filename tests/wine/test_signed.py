"""Signed releases end to end under Wine: a launcher built with the test key (build/win/signed,
key made at build time in build/keys/test) installs a release signed with that key and
nothing else; every refused release leaves the old files, "Version" and "ReleaseSequence" as
they were. A launcher without a key keeps installing as before."""

import os
import shutil
import tempfile
import unittest

import winetest
from http_server import TestServer
from launcher_env import URL_PREFIX
from pipeline_env import (DOWNLOAD_PATH, HOST_EXE, SIGNED_EXE, publish, sample_release, tree,
                          zip_one)
from test_pipeline import VERSION_KEY, Scenario
from test_shell import UPDATE_EXE, OLDER_EXE, ShellPrefix

STATEMENT_FN = "CZekLauncherDlg::get_release_statement"
ENTRY_FN = "CZekLauncherDlg::download_server_files"
CHECK_FN = "CZekLauncherApp::check_new_version_itself"
HOST_FN = "CZekLauncherDlg::run_fenwa"
RECOVER_FN = "recover_unfinished_update"
INSTALLED = "~release.sig.txt"
FLOOR_EXE = os.path.join(winetest.BUILD, "win", "signed-floor", "FenwaLauncher.exe")


class SignedScenario(Scenario):
    """A pipeline scenario with the launcher built with the test key."""

    def setUp(self):
        super().setUp()
        shutil.copy2(SIGNED_EXE, self.p.exe)

    def serve(self, release, sequence, **publish_args):
        shutil.rmtree(self.root, ignore_errors=True)
        release.publish(self.root, **publish_args)
        return release.sign(self.root, sequence)

    def statement_path(self, version):
        return os.path.join(self.root, DOWNLOAD_PATH, version, publish.STATEMENT)

    def run_and_log(self, server=None):
        before = len(self.log())
        self.run_launcher(URL_PREFIX + "S1")
        self.p.wait_idle(20)
        return self.log()[before:]

    def stored(self):
        values = self.p.reg_values(VERSION_KEY)
        return values.get("Version"), values.get("ReleaseSequence")


class SignedRelease(SignedScenario):
    def test_built_in_key_installs_its_release_and_repairs_a_damaged_file(self):
        release = sample_release("1.0", "first")
        self.serve(release, 100)
        with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
            log = self.run_and_log()
            asked = [r.path for r in server.requests]
        self.assertIn("signed release 1.0, sequence 100: 4 files, verified with the built-in key",
                      log)
        self.assertIn("/%s/1.0/%s" % (DOWNLOAD_PATH, publish.STATEMENT), asked)
        self.assertEqual(("1.0", "100"), self.stored())
        for name, data in release.files.items():
            self.assertEqual(data, self.p.installed(name), name)
        self.assertEqual(b"plugin b first", self.p.installed("plugin/sub/b.txt"))

        # Same size, same (empty) FileVersion, other bytes: the hash tells, and it is fetched.
        path = os.path.join(self.p.program_folder, "readme.txt")
        with open(path, "r+b") as f:
            f.write(b"R")
        with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
            log = self.run_and_log()
            fetched = [r.path for r in server.requests if r.path.endswith(".zip")]
        self.assertEqual(release.files["readme.txt"], self.p.installed("readme.txt"))
        self.assertTrue(any(line.startswith("readme.txt (2/4) : readme.txt does not match the "
                                            "signed release: ") and line.endswith("fetched again.")
                            for line in log), log)
        self.assertIn("FenwaHostSvr.exe (1/4) : skip", log)
        self.assertEqual(sorted("/%s/1.0/%s" % (DOWNLOAD_PATH, n)
                                for n in ("readme.txt.zip", "plugin.zip")), sorted(fetched))


class SignedRefusals(SignedScenario):
    """Each refused release changes nothing; the log says what failed."""

    def test_every_refused_release_leaves_the_installed_one(self):
        v1 = sample_release("1.0", "first")
        self.serve(v1, 100)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_and_log()
        self.assertEqual(("1.0", "100"), self.stored())
        installed = tree(self.p.program_folder)
        v2 = sample_release("2.0", "second")
        other_key = tempfile.mkdtemp(prefix="fenwa-other-key-")
        self.addCleanup(shutil.rmtree, other_key, True)
        publish.keygen(other_key)

        def rewrite(version, change):
            path = self.statement_path(version)
            with open(path, "rb") as f:
                text = f.read()
            with open(path, "wb") as f:
                f.write(change(text))

        def one_byte(text):
            # The first digit of readme.txt's hash: the text still parses, the bytes differ.
            at = text.index(b"|", text.index(b"file readme.txt|") + 16) + 1
            return text[:at] + (b"0" if text[at:at + 1] != b"0" else b"1") + text[at + 1:]

        def signature(text, hex_digits):
            head, _, sig = text.rpartition(b"signature ")
            return head + b"signature " + hex_digits(sig.strip()) + b"\n"

        def same_size_archive():
            data = v2.files["readme.txt"]
            zip_one(os.path.join(self.root, DOWNLOAD_PATH, "2.0", "readme.txt.zip"), "readme.txt",
                    b"X" * len(data))

        def version_page_moves_on():
            base = os.path.join(self.root, DOWNLOAD_PATH)
            shutil.copytree(os.path.join(base, "2.0"), os.path.join(base, "2.1"))
            with open(os.path.join(base, "version.html"), "w") as f:
                f.write("2.1")

        def other_key_signs():
            text = v2.statement(self.root, 200)
            key = publish.load_signing_key(os.path.join(other_key, publish.PRIVATE_KEY))
            with open(self.statement_path("2.0"), "wb") as f:
                f.write(text + publish.signature_line(publish.sign(key, text)))

        def unsigned_file_listed():
            path = os.path.join(self.root, DOWNLOAD_PATH, "2.0", "filelist.lst")
            with open(path, "a", newline="") as f:
                f.write("extra.dll|4|\r\n")
            zip_one(os.path.join(self.root, DOWNLOAD_PATH, "2.0", "extra.dll.zip"), "extra.dll",
                    b"evil")

        statement = "/%s/2.0/%s" % (DOWNLOAD_PATH, publish.STATEMENT)
        cases = [
            ("one byte of the statement changed", lambda: rewrite("2.0", one_byte),
             STATEMENT_FN, statement + " refused: its signature does not verify with the "
             "built-in release key (status 0xC000A000)"),
            ("a signature of 63 bytes",
             lambda: rewrite("2.0", lambda t: signature(t, lambda s: s[:126])),
             STATEMENT_FN, statement + " refused: line 10: a malformed field"),
            ("a signature of 65 bytes",
             lambda: rewrite("2.0", lambda t: signature(t, lambda s: s + b"00")),
             STATEMENT_FN, statement + " refused: line 10: a malformed field"),
            ("no signature line",
             lambda: rewrite("2.0", lambda t: t[:t.rindex(b"signature ")]),
             STATEMENT_FN, statement + " refused: no signature"),
            ("no statement", lambda: os.remove(self.statement_path("2.0")),
             STATEMENT_FN, statement + " could not be read (error code = 404."),
            ("another key", other_key_signs, STATEMENT_FN, statement + " refused: its signature "
             "does not verify with the built-in release key (status 0xC000A000)"),
            ("a version page that disagrees", version_page_moves_on, STATEMENT_FN,
             "/%s/2.1/%s refused: it is for version 2.0, the version page names 2.1"
             % (DOWNLOAD_PATH, publish.STATEMENT)),
            ("an unsigned file in the file list", unsigned_file_listed, STATEMENT_FN,
             "the file list names extra.dll, which is not signed"),
            ("an archive replaced by another of a file of the same size", same_size_archive,
             ENTRY_FN, "readme.txt (2/4) : %s/2.0/readme.txt.zip does not match the signed "
             "release: " % DOWNLOAD_PATH),
        ]
        for name, tamper, function, expected in cases:
            with self.subTest(name):
                self.serve(v2, 200)
                tamper()
                with TestServer(http_port=80, https_port=443, static_root=self.root):
                    log = self.run_and_log()
                lines = [m for m in log if m.startswith(expected)]
                self.assertTrue(lines, "%s: %s" % (name, log))
                self.assertEqual(installed, tree(self.p.program_folder), name)
                self.assertEqual(("1.0", "100"), self.stored(), name)
                if function == ENTRY_FN:
                    self.assertRegex(lines[0], r"\d+ bytes, SHA-256 [0-9a-f]{64}; signed: \d+ "
                                     r"bytes, SHA-256 [0-9a-f]{64}$")
                    self.assertIn("rollback success.", log)

        # A newer signed release installs; the older one, still validly signed, is then refused.
        v3 = sample_release("3.0", "third")
        self.serve(v3, 300)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_and_log()
        self.assertEqual(("3.0", "300"), self.stored())
        newest = tree(self.p.program_folder)
        self.serve(v1, 100)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            log = self.run_and_log()
        self.assertIn("/%s/1.0/%s refused: its sequence 100 is older than the one installed on "
                      "this PC, 300" % (DOWNLOAD_PATH, publish.STATEMENT), log)
        self.assertEqual(newest, tree(self.p.program_folder))
        self.assertEqual(("3.0", "300"), self.stored())


class InstalledRelease(SignedScenario):
    """The installed release's statement decides what is started and what sequence is kept."""

    def test_untouched_installations_are_never_refused(self):
        # The flush of each unpacked file once raced its hash (about one run in four).
        release = sample_release("1.0", "first")
        self.serve(release, 100)
        with open(self.statement_path("1.0"), "rb") as f:
            statement = f.read()
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            for run in range(10):
                shutil.rmtree(self.p.program_folder, ignore_errors=True)
                log = self.run_and_log()
                failed = [m for m in log if "could not be hashed" in m or "rollback" in m]
                self.assertEqual([], failed, "run %d" % run)
                self.assertEqual(2, len(self.p.host_starts(2)), "run %d" % run)
        self.assertEqual(statement, self.p.installed(INSTALLED))

    def test_a_replaced_host_put_back_by_a_rollback_is_not_started(self):
        v1, v2 = sample_release("1.0", "first"), sample_release("2.0", "second")
        self.serve(v1, 100)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_and_log()
        host = os.path.join(self.p.program_folder, "FenwaHostSvr.exe")
        with open(HOST_EXE, "rb") as f:
            signed_host = f.read()
        with open(host, "ab") as f:
            f.write(b"\0" * 16)  # still a program that runs
        starts = len(self.p.host_starts(2))
        self.serve(v2, 200)
        os.remove(os.path.join(self.root, DOWNLOAD_PATH, "2.0", "bin", "engine.dat.zip"))
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            log = self.run_and_log()
        self.assertIn("rollback success.", log)
        refused = [m for m in self.log(HOST_FN) if m.startswith("FenwaHostSvr.exe does not "
                                                                 "match the signed release: ")]
        self.assertEqual(1, len(refused), log)
        self.assertRegex(refused[0], r": %d bytes, SHA-256 [0-9a-f]{64}; signed: %d bytes, "
                         r"SHA-256 [0-9a-f]{64}; not started\.$"
                         % (len(signed_host) + 16, len(signed_host)))
        self.assertEqual(starts, len(self.p.host_starts()))

        # A clean run installs the signed host and keeps its statement: started again.
        self.serve(v2, 200)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_and_log()
        self.assertEqual(signed_host, self.p.installed("FenwaHostSvr.exe"))
        with open(self.statement_path("2.0"), "rb") as f:
            self.assertEqual(f.read(), self.p.installed(INSTALLED))
        self.assertEqual(starts + 2, len(self.p.host_starts(starts + 2)))

    def test_a_committed_run_cut_off_before_its_version_raises_the_sequence(self):
        self.serve(sample_release("1.0", "first"), 100)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_and_log()
        self.serve(sample_release("2.0", "second"), 200)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_and_log()
        installed = os.path.join(self.p.program_folder, INSTALLED)
        with open(installed, "rb") as f:
            good = f.read()
        forged = good.replace(b"sequence 200", b"sequence 900")
        # The state such a run leaves: every file and the statement in place, the journal
        # committed, "Version" and "ReleaseSequence" still the old ones.
        for name, text, expected in (
                ("signed", good, "%s 200 stored." % "ReleaseSequence"),
                ("forged", forged, "ReleaseSequence not raised: %s refused: its signature does "
                 "not verify with the built-in release key" % INSTALLED)):
            with self.subTest(name):
                with open(installed, "wb") as f:
                    f.write(text)
                os.makedirs(os.path.join(self.p.program_folder, "1.0"), exist_ok=True)
                with open(os.path.join(self.p.program_folder, "~update.journal"), "wb") as f:
                    f.write(b"begin|1.0|2.0\ncommit\n")
                self.p.reg_add(VERSION_KEY, "Version", "1.0")
                self.p.reg_add(VERSION_KEY, "ReleaseSequence", "100")
                log = self.run_and_log()  # no server: only the repair happens
                self.assertTrue([m for m in self.log(RECOVER_FN) if m.startswith(expected)], log)
                self.assertEqual(("2.0", "200" if name == "signed" else "100"), self.stored())
                self.assertFalse(os.path.exists(os.path.join(self.p.program_folder,
                                                             "~update.journal")))

    def test_a_floor_refuses_older_releases_on_a_pc_without_a_sequence(self):
        shutil.copy2(FLOOR_EXE, self.p.exe)
        self.serve(sample_release("1.0", "first"), 100)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            log = self.run_and_log()
        self.assertIn("/%s/1.0/%s refused: its sequence 100 is below 9000000000, the lowest "
                      "this launcher accepts" % (DOWNLOAD_PATH, publish.STATEMENT), log)
        self.assertEqual((None, None), self.stored())
        self.serve(sample_release("1.0", "first"), 9000000000)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_and_log()
        self.assertEqual(("1.0", "9000000000"), self.stored())


class SignedLauncherUpdate(unittest.TestCase):
    """The launcher's own update: staged only when its archive is the signed one."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="fenwa-signed-self-")
        self.p = ShellPrefix(self.id().split(".")[-1])
        self.p.install(SIGNED_EXE)

    def tearDown(self):
        self.p.cleanup()
        shutil.rmtree(self.root, ignore_errors=True)

    def serve(self, version, sequence, archive_exe, signed_exe):
        """A release offering `archive_exe` as the launcher; the statement names `signed_exe`
        (None: no launcher line)."""
        release = sample_release(version, version, archive=False)
        release.publish(self.root)
        with open(archive_exe, "rb") as f:
            zip_one(os.path.join(self.root, DOWNLOAD_PATH, version, "FenwaLauncher.exe.zip"),
                    "FenwaLauncher.exe", f.read())
        if signed_exe and signed_exe != archive_exe:
            # The statement's launcher line describes another archive than the one served.
            served = os.path.join(self.root, DOWNLOAD_PATH, version, "FenwaLauncher.exe.zip")
            os.rename(served, served + ".served")
            with open(signed_exe, "rb") as f:
                zip_one(served, "FenwaLauncher.exe", f.read())
            release.sign(self.root, sequence, launcher=signed_exe)
            os.replace(served + ".served", served)
        else:
            release.sign(self.root, sequence, launcher=signed_exe)

    def run_installed(self):
        before = len(self.p.log_lines())
        r = self.p.run(self.p.installed_exe, [URL_PREFIX + "U1"], timeout=90)
        self.assertNotEqual("timeout", r.rc, r)
        self.assertTrue(self.p.wait_idle(90))
        from launcher_env import messages
        return messages(self.p.log_lines()[before:], CHECK_FN)

    def test_only_the_signed_launcher_archive_is_staged(self):
        archive = "%s/%%s/FenwaLauncher.exe.zip" % DOWNLOAD_PATH
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.serve("7.0", 700, UPDATE_EXE, None)
            log = self.run_installed()
            self.assertIn(archive % "7.0" + " is not in the signed release 7.0. skip "
                          "self_update().", log)
            with open(SIGNED_EXE, "rb") as f:
                self.assertEqual(f.read(), self.p.installed("FenwaLauncher.exe"))

            self.serve("7.1", 710, UPDATE_EXE, OLDER_EXE)
            log = self.run_installed()
            self.assertTrue(any(m.startswith(archive % "7.1" + " does not match the signed "
                                             "release: ") for m in log), log)
            with open(SIGNED_EXE, "rb") as f:
                self.assertEqual(f.read(), self.p.installed("FenwaLauncher.exe"))
            for leftover in ("FenwaLauncher.exe_", "FenwaLauncher_patch_temp_.exe.zip"):
                self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, leftover)))

            self.serve("7.2", 720, UPDATE_EXE, UPDATE_EXE)
            # Without a file list the restarted launcher ends without asking for a code.
            os.remove(os.path.join(self.root, DOWNLOAD_PATH, "7.2", "filelist.lst"))
            log = self.run_installed()
            self.assertTrue(any(m.startswith("new version exists.") for m in log), log)
        with open(UPDATE_EXE, "rb") as f:
            self.assertEqual(f.read(), self.p.installed("FenwaLauncher.exe"))


class WithoutKey(Scenario):
    def test_a_launcher_without_key_ignores_the_statement(self):
        release = sample_release("1.0", "plain")
        release.publish(self.root)
        release.sign(self.root, 100)
        with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
            self.run_launcher(URL_PREFIX + "K1")
            asked = [r.path for r in server.requests]
        self.assertFalse([a for a in asked if a.endswith(publish.STATEMENT)], asked)
        self.assertEqual("1.0", self.p.installed_version())
        self.assertNotIn("ReleaseSequence", self.p.reg_values(VERSION_KEY))
        self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, INSTALLED)))


class PlantedCrypto(SignedScenario):
    def test_a_bcrypt_dll_beside_the_launcher_is_never_loaded(self):
        from test_planted_dll import PLANT
        self.serve(sample_release("1.0", "first"), 100)
        downloads = self.p.downloads
        os.makedirs(downloads, exist_ok=True)
        exe = os.path.join(downloads, "FenwaLauncher.exe")
        shutil.copy2(SIGNED_EXE, exe)
        shutil.copyfile(PLANT, os.path.join(downloads, "bcrypt.dll"))
        markers = os.path.join(self.p.path, "drive_c", "markers")
        os.makedirs(markers)
        # Wine then prefers a bcrypt.dll in the executable's folder, as Windows does for a
        # library that is not a known DLL. Plain HTTP only: under this override Wine also
        # gives the plant to its own schannel.dll, which imports bcrypt, at the first TLS
        # handshake of any launcher; only the launcher's own load is tested here.
        env = {"WINEDLLOVERRIDES": "mscoree,mshtml=;bcrypt=n,b",
               "FENWA_PLANT_MARKERS": "C:\\markers"}
        with TestServer(http_port=80, https_port=None, static_root=self.root):
            r = self.p.run(exe, [URL_PREFIX + "P1"], timeout=90, env=env, cwd=downloads)
        self.assertNotEqual("timeout", r.rc, r)
        self.assertEqual([], os.listdir(markers), "the planted bcrypt.dll was loaded")
        self.assertIn("signed release 1.0, sequence 100: 4 files, verified with the built-in key",
                      self.log(STATEMENT_FN))


class BuiltLaunchers(unittest.TestCase):
    def test_cryptography_is_no_import_and_the_key_only_where_built_in(self):
        from test_planted_dll import STATIC_KNOWN, delay_imports, static_imports
        self.assertTrue(set(static_imports(SIGNED_EXE)) <= STATIC_KNOWN)
        self.assertFalse({"bcrypt.dll", "ncrypt.dll", "crypt32.dll"} & set(delay_imports()))
        config = os.path.join(winetest.BUILD, "win", "signed", "gen", "build_config.h")
        with open(config) as f:
            text = f.read()
        key = publish.public_key_xy(os.path.join(winetest.BUILD, "keys", "test",
                                                 publish.PUBLIC_KEY)).hex()
        self.assertIn('#define FENWA_RELEASE_KEY_HEX "%s"' % key, text)
        with open(os.path.join(winetest.BUILD, "gen", "build_config.h")) as f:
            text = f.read()
        self.assertIn('#define FENWA_RELEASE_KEY_HEX ""', text)
        self.assertIn('#define FENWA_RELEASE_FLOOR ""', text)


if __name__ == "__main__":
    unittest.main()
