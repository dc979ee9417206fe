"""A broken or hostile server, or a tampered installation, against the launch pipeline: version
texts that would name another folder, and the rollback's own paths."""

import os
import re
import subprocess
import unittest

from http_server import Response, TestServer, endless
from launcher_env import URL_PREFIX, parsed
from pipeline_env import DOWNLOAD_PATH, sample_release
from test_http import can_mount
from test_pipeline import VERSION_KEY, Scenario

BAD_VERSIONS = ["..", "..\\Sentinel", ".", "<html><head><title>Hotel Wi-Fi</title></head></html>",
                "1.0.0.7\n", "1" * 100 * 1024]


def shown(text):
    """A refused text as the log shows it."""
    out = text[:80].replace("\r", "\\r").replace("\n", "\\n")
    return out + ("... (%d characters)" % len(text) if len(text) > 80 else "")


class VersionTexts(Scenario):
    def plant_sentinel(self):
        fenwa = os.path.join(self.p.public_documents, "Fenwa")
        self.sentinel = os.path.join(fenwa, "Sentinel", "keep.txt")
        os.makedirs(os.path.dirname(self.sentinel), exist_ok=True)
        with open(self.sentinel, "w") as f:
            f.write("beside the program folder")

    def entries(self, function):
        return [(e[2], e[3]) for e in parsed(self.p.log_lines()) if e[0] == function]

    def test_from_the_server_nothing_is_stored_or_started(self):
        self.plant_sentinel()
        version_page = os.path.join(self.root, DOWNLOAD_PATH, "version.html")
        os.makedirs(os.path.dirname(version_page))
        with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
            for text in BAD_VERSIONS:
                with open(version_page, "wb") as f:
                    f.write(text.encode())
                server.clear()
                self.run_launcher(URL_PREFIX + "V1")
                # Only the two version pages: no file list, no archive of a refused version.
                self.assertEqual(["/%s/version.html" % DOWNLOAD_PATH] * 2,
                                 [r.target for r in server.requests], repr(text[:20]))
                line = ("[error]", "refused server version text: " + shown(text))
                self.assertIn(line, self.entries("CZekLauncherDlg::get_server_version"))
                self.assertIn(line, self.entries("CZekLauncherApp::check_new_version_itself"))
        self.assertTrue(os.path.exists(self.sentinel))
        self.assertIsNone(self.p.installed_version())
        self.assertEqual([], self.p.host_starts(timeout=0))
        self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, "0.0.0.0")))

    def test_from_the_registry_the_run_goes_on_as_without_one(self):
        self.plant_sentinel()
        sample_release("2.0", "2.0", archive=False).publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            for n, text in enumerate(BAD_VERSIONS):
                self.p.reg_set_string(VERSION_KEY, "Version", text)
                self.run_launcher(URL_PREFIX + "R%d" % n)
                self.assertEqual("2.0", self.p.installed_version(), repr(text[:20]))
                self.assertEqual(b"readme 2.0\r\n", self.p.installed("readme.txt"))
                self.assertTrue(os.path.exists(self.sentinel), repr(text[:20]))
        warnings = self.entries("CZekLauncherDlg::get_local_version")
        # The 100 KB text is longer than any stored value the launcher reads at all.
        for text in BAD_VERSIONS[:-1]:
            self.assertIn(("[warn]", "refused installed version text: " + shown(text)), warnings)
        self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, "0.0.0.0")))
        self.assertEqual(len(BAD_VERSIONS), len(self.p.host_starts(wait_for=12)) // 2)


def release_with(version, files):
    """The sample release (the host program included) with these files besides."""
    release = sample_release(version, archive=False)
    release.files.update(files)
    return release


class RollbackPaths(Scenario):
    def test_a_folder_or_file_named_like_the_version_keeps_its_place(self):
        old = {"lib/1.0/core.dll": b"core old", "1.0.dll": b"root old", "readme.txt": b"old"}
        release_with("1.0", old).publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "A1")
        self.assertEqual("1.0", self.p.installed_version())
        self.p.wait_idle(20)

        new = {"lib/1.0/core.dll": b"core new", "1.0.dll": b"root new", "readme.txt": b"new!",
               "zz/missing.txt": b"never served"}
        release_with("1.1", new).publish(self.root, skip=("zz/missing.txt",))
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "A2")
        for name, data in old.items():
            self.assertEqual(data, self.p.installed(name), name)
        folder = self.p.program_folder
        self.assertFalse(os.path.exists(os.path.join(folder, "lib", "core.dll")))
        self.assertFalse(os.path.exists(folder + ".dll"), "nothing lands beside the folder")
        self.assertFalse(os.path.exists(os.path.join(folder, "1.0")))
        self.assertEqual("1.0", self.p.installed_version())
        self.assertIn("rollback success.", self.log())

    def test_a_link_in_place_of_the_backup_folder_is_never_followed(self):
        release_with("1.0", {"readme.txt": b"old"}).publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "B1")
        self.p.wait_idle(20)
        outside = os.path.join(self.p.public_documents, "Fenwa", "Outside")
        os.makedirs(outside)
        with open(os.path.join(outside, "keep.txt"), "w") as f:
            f.write("kept")
        os.symlink(outside, os.path.join(self.p.program_folder, "1.0"))

        release_with("1.1", {"readme.txt": b"new"}).publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "B2")
        self.assertEqual(["keep.txt"], os.listdir(outside))
        # Windows removes the link and updates; Wine cannot remove a Unix link, so the
        # update is refused and nothing changes. Either way nothing goes through it.
        warnings = [e[3] for e in parsed(self.p.log_lines()) if e[2] == "[warn]"]
        if "a link in place of the backup folder was removed: " in "".join(warnings):
            self.assertEqual(("1.1", b"new"), (self.p.installed_version(),
                                               self.p.installed("readme.txt")))
        else:
            self.assertTrue(any(w.startswith("a link in place of the backup folder could not "
                                             "be removed: ") for w in warnings), warnings)
            self.assertEqual(("1.0", b"old"), (self.p.installed_version(),
                                               self.p.installed("readme.txt")))


class EndlessAndFailedWrites(Scenario):
    def test_endless_responses_end_the_run_cleanly(self):
        version_page = "/%s/version.html" % DOWNLOAD_PATH
        with TestServer({version_page: Response(content_length=False, stream=endless())},
                        http_port=80, https_port=443):
            r = self.run_launcher(URL_PREFIX + "X1")
        self.assertLess(r.elapsed, 60)
        self.assertIn("Unable to read server version information.\n(error code = -1. Response "
                      "too large.", "\n".join(self.p.log_lines()))
        self.assertIsNone(self.p.installed_version())

        # A listed archive that never ends fails at a bound drawn from its listed size.
        release = sample_release("3.0", archive=False)
        release.publish(self.root)
        readme = "/%s/3.0/readme.txt.zip" % DOWNLOAD_PATH
        size = len(release.files["readme.txt"])
        with TestServer({readme: Response(content_length=False, stream=endless())},
                        http_port=80, https_port=443, static_root=self.root):
            r = self.run_launcher(URL_PREFIX + "X2")
        self.assertLess(r.elapsed, 60)
        log = self.log("CZekLauncherDlg::download_server_files")
        self.assertTrue(any(m.startswith("readme.txt (2/3) : Response too large.")
                            and "limit = %d bytes" % (size + size // 8 + (1 << 20)) in m
                            for m in log), log)
        self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, "readme.txt.zip")))
        self.assertIsNone(self.p.installed_version())

    @unittest.skipUnless(can_mount(), "needs root in run_all.py's private mount namespace")
    def test_a_failed_write_fails_its_entry_and_rolls_back(self):
        old = sample_release("4.0", "old", archive=False)
        old.publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "W1")
        self.p.wait_idle(20)
        full = os.path.join(self.p.program_folder, "full")
        os.makedirs(full)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", full], check=True)
        try:
            new = release_with("4.1", {"full/big.dat": os.urandom(1 << 20)})
            new.publish(self.root)
            with TestServer(http_port=80, https_port=443, static_root=self.root):
                self.run_launcher(URL_PREFIX + "W2")
            log = self.log("CZekLauncherDlg::download_server_files")
            self.assertTrue(any(re.match(r"full/big\.dat \(\d/4\) : WriteFile failed\. error "
                                         r"code = 112\(", m) for m in log), log)
            self.assertEqual([], os.listdir(full), "the cut archive is deleted")
        finally:
            subprocess.run(["umount", full], check=False)
        for name, data in old.files.items():
            self.assertEqual(data, self.p.installed(name), name)
        self.assertEqual("4.0", self.p.installed_version())
