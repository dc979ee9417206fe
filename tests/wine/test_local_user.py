"""A standard user of the same PC plays against the elevated launcher by planting files and
links below the documents folder (Wine enforces no access list, so the test writes them
itself). Whatever is planted, nothing outside the program folder changes and nothing there
is lost. Windows removes a planted link and goes on; Wine cannot remove a Unix link, so there
the step fails instead: each test accepts either and checks the outside."""

import os

from http_server import TestServer
from launcher_env import URL_PREFIX
from pipeline_env import DOWNLOAD_PATH, Release, sample_release, tree
from test_pipeline import Scenario

JOURNAL = "~update.journal"


class LocalUser(Scenario):
    def victim(self, files):
        """A folder outside the program folder, with its files; returns (path, tree)."""
        root = os.path.join(self.p.path, "drive_c", "victim")
        for name, data in files.items():
            path = os.path.join(root, *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        return root, tree(root)

    def install(self, release, param="L0"):
        release.publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + param)
        self.p.wait_idle(20)

    def link_lines(self):
        return [m for m in self.log("place") if m.startswith("a link in place of ")]

    def test_a_forged_journal_moves_and_deletes_nothing_outside(self):
        self.install(sample_release("1.0"))
        victim, before = self.victim({"sys/version.dll": b"system file", "important.txt": b"keep",
                                      "data/x.txt": b"data"})
        folder = self.p.program_folder
        os.symlink(victim, os.path.join(folder, "J"))
        os.makedirs(os.path.join(folder, "1.0"), exist_ok=True)
        with open(os.path.join(folder, "1.0", "evil.dll"), "wb") as f:
            f.write(b"planted")
        with open(os.path.join(folder, JOURNAL), "w", newline="") as f:
            f.write("begin|1.0|2.0\nmove|J\\sys\\version.dll|1.0\\evil.dll\n"
                    "add|J\\important.txt\nadd|J\\data\n")
        self.run_launcher(URL_PREFIX + "L1")  # no server: the start repairs first
        self.assertEqual(before, tree(victim))
        self.assertTrue(self.link_lines(), self.log())
        # Windows: the link goes and the planted file stays inside; Wine: the link stays and
        # so do the journal and the backup, for a later start.
        if os.path.islink(os.path.join(folder, "J")):
            self.assertTrue(os.path.exists(os.path.join(folder, "1.0", "evil.dll")))
            self.assertTrue(os.path.exists(os.path.join(folder, JOURNAL)))

    def test_an_update_never_writes_through_a_planted_sub_folder(self):
        self.install(sample_release("1.0"))
        victim, before = self.victim({"sys/version.dll": b"the victim's own"})
        folder = self.p.program_folder
        engine = self.p.installed("bin/engine.dat")
        os.rename(os.path.join(folder, "bin"), os.path.join(self.root, "bin-moved"))
        os.symlink(os.path.join(victim, "sys"), os.path.join(folder, "bin"))
        self.install(sample_release("1.1", "second"), "L2")
        self.assertEqual(before, tree(victim))
        log = "\n".join(self.p.log_lines()).rsplit("Program Start", 1)[-1]
        if os.path.islink(os.path.join(folder, "bin")):
            self.assertIn("bin/engine.dat (", log)
            self.assertNotIn("Fail : 0", log)
            self.assertEqual("1.0", self.p.installed_version())
        else:
            self.assertEqual("1.1", self.p.installed_version())
            self.assertNotEqual(engine, self.p.installed("bin/engine.dat"))

    def test_the_log_is_never_written_through_a_link(self):
        self.install(sample_release("1.0"))
        victim, before = self.victim({"maintenance.cmd": b"@echo maintenance\r\n"})
        log_path = self.p.log_path()
        os.remove(log_path)
        os.symlink(os.path.join(victim, "maintenance.cmd"), log_path)
        with open(os.path.join(self.p.program_folder, JOURNAL), "w", newline="") as f:
            f.write("begin|1.0|2.0\n& echo INJECTED >> C:\\pwned.txt & rem\n")
        self.run_launcher(URL_PREFIX + "L3")
        self.assertEqual(before, tree(victim))

    def test_names_the_journal_could_not_read_back_are_refused_by_the_list(self):
        old = sample_release("1.0")
        self.install(old)
        new = sample_release("1.1", "second")
        listing = new.filelist() + "./FenwaHostSvr.exe|999|\r\nbin//engine.dat|999|\r\n"
        new.publish(self.root, filelist=listing)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_launcher(URL_PREFIX + "L4")
        log = self.log("CZekLauncherDlg::download_server_files")
        for name in ("./FenwaHostSvr.exe", "bin//engine.dat"):
            self.assertTrue(any(m.startswith(name + " (") and m.endswith("unsafe file name "
                                                                            "refused.")
                                for m in log), log)
        for name, data in old.files.items():
            self.assertEqual(data, self.p.installed(name), name)
        self.assertEqual("1.0", self.p.installed_version())
        self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, "1.0")))
