"""Start-up under Wine: the log file and its banners, the command-line parameter, the
profile entries, the single-instance guard and the choice of the documents folder."""

import datetime
import os
import time
import unittest

import winetest
from launcher_env import (LINE_RE, MUTEX, URL_PREFIX, LauncherPrefix, build_setting, messages,
                          parsed)

START_BANNER = "==================== Program Start ===================="
EXIT_BANNER = "==================== Program Exit ===================="
# What the exit actions log when there is nothing to swap in (the removal script logs " ").
EXIT_ACTIONS = ["not exist a new launcher or patcher. skip.", " "]
PROFILE_KEY = "HKEY_CURRENT_USER\\Software\\Fenwa\\FenwaLauncher\\setting"


def expected_built_datetime(exe, korean):
    t = datetime.datetime.fromtimestamp(int(os.path.getmtime(exe)))
    date = ("%d-%02d-%02d" % (t.year, t.month, t.day) if korean else
            "%d/%d/%d" % (t.month, t.day, t.year))
    return "%s %02d:%02d:%02d" % (date, t.hour, t.minute, t.second)


class StartupLog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.p = LauncherPrefix("startup-log")
        # A test folder left behind by an earlier, interrupted run.
        leftover = os.path.join(cls.p.public_documents, "__test_for_create_folder__")
        os.makedirs(leftover)
        with open(os.path.join(leftover, "stale.txt"), "w") as f:
            f.write("x")
        cls.arg = URL_PREFIX + "abc12345//"
        cls.runs = [cls.p.launch(cls.arg),
                    cls.p.launch(),
                    cls.p.launch(URL_PREFIX.upper() + "x/", "orvexlauncher.fenwa.service.host")]
        cls.lines = cls.p.log_lines()

    @classmethod
    def tearDownClass(cls):
        cls.p.cleanup()

    def test_runs_end_by_themselves(self):
        for r in self.runs:
            self.assertNotEqual("timeout", r.rc, r)

    def test_every_line_has_the_log_format(self):
        self.assertTrue(self.lines, "no log file at " + self.p.log_path())
        # A message with line breaks continues on lines of its own after its timestamped line.
        for line in self.lines:
            if line.startswith("["):
                self.assertRegex(line, LINE_RE)

    def test_start_banner_of_each_run(self):
        starts = [i for i, line in enumerate(self.lines) if line.endswith(START_BANNER)]
        self.assertEqual(3, len(starts), "each start appends to the same daily file")
        for i in starts:
            self.assertEqual("", self.lines[i - 1], "the banner is preceded by an empty line")
            banner = parsed(self.lines[i:i + 4])
            self.assertEqual(["CSCLog::write_start_log"] * 4, [b[0] for b in banner])
            self.assertEqual([""] * 4, [b[2] for b in banner])
            self.assertEqual("file version = " + build_setting("FENWA_FILE_VERSION_STR"),
                             banner[1][3])
            self.assertEqual("built datetime = " + expected_built_datetime(self.p.exe, False),
                             banner[2][3])
            today = datetime.date.today().strftime("%Y%m%d")
            self.assertEqual(
                "log path = C:\\users\\Public\\Documents\\Fenwa\\log\\FenwaLauncher_%s.log" % today,
                banner[3][3])

    def test_exit_banner_closes_each_run(self):
        ends = [i for i, line in enumerate(self.lines) if line.endswith(EXIT_BANNER)]
        self.assertEqual(3, len(ends))
        for i in ends:
            self.assertEqual("CSCLog::write_end_log", parsed([self.lines[i]])[0][0])
            self.assertEqual("", self.lines[i + 1], "the exit banner is followed by an empty line")

    def test_parameter_lines(self):
        got = messages(self.lines, "CZekLauncherApp::InitInstance")
        self.assertEqual([
            "uri_params = " + self.arg,
            "m_uri_params = " + self.arg[:-1],  # only one trailing "/" goes
            "uri_params = ",
            # Another letter case is not the scheme; only the first argument counts.
            "uri_params = " + URL_PREFIX.upper() + "x/",
        ], got)

    def test_profile_entries(self):
        values = self.p.reg_values(PROFILE_KEY)
        self.assertEqual("C:\\app\\FenwaLauncher.exe", values.get("exe path"))
        self.assertEqual("C:\\users\\Public\\Documents\\Fenwa\\log", values.get("log path"))
        self.assertEqual("FenwaLauncher", values.get("log filetitle : %s"))

    def test_no_access_test_folder_left(self):
        self.assertFalse(os.path.exists(
            os.path.join(self.p.public_documents, "__test_for_create_folder__")))
        self.assertFalse(os.path.exists(
            os.path.join(self.p.my_documents, "__test_for_create_folder__")))


class KoreanStartup(unittest.TestCase):
    def test_korean_ui_dates_the_build_in_korean_form(self):
        p = LauncherPrefix("startup-korean", env=winetest.build_locale("ko_KR"))
        try:
            r = p.launch()
            self.assertNotEqual("timeout", r.rc)
            banner = messages(p.log_lines(), "CSCLog::write_start_log")
            self.assertIn("built datetime = " + expected_built_datetime(p.exe, True), banner)
        finally:
            p.cleanup()


class SecondInstance(unittest.TestCase):
    def test_second_launch_exits_silently_and_logs_beside_its_exe(self):
        p = LauncherPrefix("startup-second")
        try:
            stop = os.path.join(p.path, "drive_c", "stop-holder")
            holder, out, _ = p.start(p.helper("hold"), ["mutex", MUTEX, "C:\\stop-holder", "60"])
            deadline = time.monotonic() + 30
            while "held" not in winetest._read(out) and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertIn("held", winetest._read(out))

            r = p.launch(URL_PREFIX + "zz")
            self.assertNotEqual("timeout", r.rc)
            open(stop, "w").close()
            holder.wait(timeout=30)

            # The log was never opened with the configured folder.
            self.assertFalse(os.path.exists(p.log_dir()))
            self.assertEqual({}, p.reg_values(PROFILE_KEY))
            own = os.path.join(p.app_dir, "Log", "FenwaLauncher_%s.log" %
                               datetime.date.today().strftime("%Y%m%d"))
            lines = p.log_lines(own)
            self.assertEqual(EXIT_ACTIONS + [EXIT_BANNER], messages(lines))
            self.assertNotIn(START_BANNER, "\n".join(lines))
        finally:
            p.cleanup()


class DocumentsFolder(unittest.TestCase):
    @staticmethod
    def block(folder):
        """Makes a documents folder unusable: a plain file stands where the folder was."""
        for name in os.listdir(folder):
            path = os.path.join(folder, name)
            if os.path.isdir(path) and not os.path.islink(path):
                import shutil
                shutil.rmtree(path)
            else:
                os.remove(path)
        os.rmdir(folder)
        with open(folder, "w") as f:
            f.write("not a folder")

    def test_my_documents_when_public_documents_is_unusable(self):
        p = LauncherPrefix("docs-personal")
        try:
            self.block(p.public_documents)
            r = p.launch()
            self.assertNotEqual("timeout", r.rc)
            lines = p.log_lines(p.log_path(p.my_documents))
            self.assertIn("log path = C:\\users\\%s\\Documents\\Fenwa\\log\\FenwaLauncher_%s.log"
                          % (p.user, datetime.date.today().strftime("%Y%m%d")), messages(lines))
            values = p.reg_values(PROFILE_KEY)
            self.assertEqual("C:\\users\\%s\\Documents\\Fenwa\\log" % p.user,
                             values.get("log path"))
            self.assertFalse(os.path.exists(
                os.path.join(p.my_documents, "__test_for_create_folder__")))
        finally:
            p.cleanup()

    def test_message_box_and_exit_when_no_folder_is_usable(self):
        p = LauncherPrefix("docs-none")
        try:
            self.block(p.public_documents)
            self.block(p.my_documents)
            proc, _, _ = p.start(p.exe)
            wintool = p.helper("wintool")
            self.assertEqual(0, p.run(wintool, ["wait", "FenwaLauncher", "30"], timeout=40).rc)
            dump = p.run(wintool, ["dump", "FenwaLauncher"]).out
            self.assertIn("공용 문서 또는 내 문서 경로를 접근할 수 없는 환경이므로 원격제어를 실행할 수 "
                          "없습니다.", dump)
            p.run(wintool, ["command", "FenwaLauncher", "1"])
            proc.wait(timeout=30)
            # Nothing was logged in a documents folder; the exit banner went beside the exe.
            self.assertEqual({}, p.reg_values(PROFILE_KEY))
            own = os.path.join(p.app_dir, "Log", "FenwaLauncher_%s.log" %
                               datetime.date.today().strftime("%Y%m%d"))
            self.assertEqual(EXIT_ACTIONS + [EXIT_BANNER], messages(p.log_lines(own)))
        finally:
            p.cleanup()


class LocalUsers(unittest.TestCase):
    """What another local user leaves in the program's folder before the launcher runs. Wine
    enforces no list and reports one owner for every file, so only links can be shown here;
    the list itself and the owner rule are checked by the Windows unit tests."""

    @staticmethod
    def victim(p):
        folder = os.path.join(p.path, "drive_c", "victim")
        os.makedirs(folder)
        with open(os.path.join(folder, "sentinel.txt"), "w") as f:
            f.write("keep")
        return folder

    def assert_untouched(self, folder):
        self.assertEqual(["sentinel.txt"], sorted(os.listdir(folder)))
        with open(os.path.join(folder, "sentinel.txt")) as f:
            self.assertEqual("keep", f.read())

    def test_program_folder_found_as_a_link(self):
        p = LauncherPrefix("acl-root-link")
        try:
            victim = self.victim(p)
            root = os.path.join(p.public_documents, "Fenwa")
            os.symlink(victim, root)
            self.assertNotEqual("timeout", p.launch().rc)
            # Nothing went through the link: not the log, not the scripts, not the walk.
            self.assert_untouched(victim)
            if os.path.islink(root):
                # Wine refuses to remove a host link: the public folder is not used at all.
                lines = p.log_lines(p.log_path(p.my_documents))
                self.assertIn(root_win(p) + " is a link that could not be removed (error 145): "
                              "not used", messages(lines, "secure_program_root"))
            else:
                self.assertTrue(os.path.isdir(root))
                self.assertIn(root_win(p) + " secured (it was a link): owner Administrators; "
                              "SYSTEM and Administrators full control, Users read and execute",
                              messages(p.log_lines(), "secure_program_root"))
        finally:
            p.cleanup()

    def test_folder_secured_before_the_log_opens(self):
        p = LauncherPrefix("acl-secured-first")
        try:
            victim = self.victim(p)
            program = os.path.join(p.public_documents, "Fenwa", "FenwaLauncher")
            os.makedirs(program)
            link = os.path.join(program, "bin")
            os.symlink(victim, link)
            self.assertNotEqual("timeout", p.launch().rc)
            self.assert_untouched(victim)
            run = parsed(p.log_lines())
            self.assertEqual(["CSCLog::write_start_log"] * 4, [e[0] for e in run[:4]])
            # Recorded before the log existed, written as soon as it is open: under Wine the
            # list read back is never the one set, so the change is logged at every start.
            self.assertEqual(("secure_program_root", "",
                              root_win(p) + " secured (it was another owner or access list): "
                              "owner Administrators; SYSTEM and Administrators full control, "
                              "Users read and execute"), (run[4][0], run[4][2], run[4][3]))
            if os.path.lexists(link):
                self.assertEqual(("[error]", "could not remove the link FenwaLauncher\\bin "
                                  "(error 145)"), run[5][2:])
            else:
                self.assertEqual(("[warn]", "removed the link FenwaLauncher\\bin"), run[5][2:])
        finally:
            p.cleanup()


def root_win(p):
    return "C:\\users\\Public\\Documents\\Fenwa"


if __name__ == "__main__":
    unittest.main()
