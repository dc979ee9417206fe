"""Where the parameter comes from when the URL has none: the caption of a browser window, or
the access-code dialog, driven under Wine the way a user drives it (typing through X)."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

import winetest
from http_server import TestServer
from launcher_env import URL_PREFIX, messages
from pipeline_env import PipelinePrefix, sample_release

DIALOG = "Fenwa Remote Connection"
CODE_BOX, CONNECT, WARNING, CLOSE = 1011, 1, 1013, 1014
PARSE = "CZekLauncherDlg::parse_browser_title"
OK_FN = "CInputCodeDlg::OnBnClickedOk"
TITLE_PREFIX = "Fenwa Launcher - "


def key_of(length, code="KEY45ABC"):
    key = TITLE_PREFIX + code + " "
    return key + "s" * (length - len(key))


class Scenario(unittest.TestCase):
    release = "6.5"

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="fenwa-code-")
        sample_release(self.release).publish(self.root)
        self.p = PipelinePrefix(type(self).__name__ + "-" + self.id().split(".")[-1],
                                env={"FENWA_HOST_EXIT_AFTER": "3"})
        self.wintool = self.p.helper("wintool")

    def tearDown(self):
        self.p.cleanup()
        shutil.rmtree(self.root, ignore_errors=True)

    # ---- looking at and driving windows
    def tool(self, *args):
        r = self.p.run(self.wintool, [str(a) for a in args], timeout=40)
        return r.rc, r.out.strip()

    def state(self, control):
        """(visible, enabled, text) of a control of the dialog."""
        rc, out = self.tool("state", DIALOG, control)
        self.assertEqual(0, rc, "no dialog or no control %d" % control)
        flags, _, text = out.partition("\t")
        visible, enabled, _ = flags.split()
        return visible == "1", enabled == "1", text

    def xdotool(self, *args):
        env = dict(os.environ, DISPLAY=winetest.ensure_display())
        subprocess.run(["xdotool"] + [str(a) for a in args], env=env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def click(self, control):
        rc, out = self.tool("rect", DIALOG, control)
        self.assertEqual(0, rc)
        left, top, right, bottom = map(int, out.split())
        self.xdotool("mousemove", (left + right) // 2, (top + bottom) // 2, "click", 1)
        time.sleep(0.3)

    def type(self, text):
        self.xdotool("type", "--delay", 60, text)
        time.sleep(0.3)

    def key(self, *names):
        self.xdotool("key", "--delay", 60, *names)
        time.sleep(0.3)

    def main_dialog_visible(self):
        # The main dialog is the one without a caption.
        _, out = self.tool("list")
        return any(line.split("\t")[1:] == ["#32770", ""] for line in out.splitlines())

    def wait_dialog(self):
        self.assertEqual(0, self.tool("wait", DIALOG, 60)[0], "the access-code dialog shows")

    def log(self, function=None):
        return messages(self.p.log_lines(), function)


class AccessCodeDialog(Scenario):
    def test_typed_like_a_user_until_the_server_knows_the_code(self):
        routes = {
            "/run.php?accesscode=123411": "null",
            "/run.php?accesscode=222222": key_of(44),
            "/run.php?accesscode=333333": key_of(46),
            "/run.php?accesscode=444444": key_of(45),
        }
        with TestServer(routes, http_port=80, https_port=443, static_root=self.root) as server:
            proc, _, _ = self.p.start(self.p.exe, [URL_PREFIX])
            self.wait_dialog()
            self.assertFalse(self.main_dialog_visible(), "the main dialog hides meanwhile")
            self.assertEqual((True, False), self.state(CONNECT)[:2])
            self.assertFalse(self.state(WARNING)[0])

            self.click(CODE_BOX)
            self.type("1234")
            self.assertEqual((True, True, "123 4"), self.state(CODE_BOX))
            self.assertEqual((True, True), self.state(CONNECT)[:2])
            self.assertFalse(self.state(WARNING)[0])

            self.type("a")
            self.assertEqual("123 4a", self.state(CODE_BOX)[2])
            self.assertFalse(self.state(CONNECT)[1], "a letter disables Connect")
            self.assertTrue(self.state(WARNING)[0])

            self.key("BackSpace")
            self.type("119")  # the box takes seven characters
            self.assertEqual("123 411", self.state(CODE_BOX)[2])
            self.assertTrue(self.state(CONNECT)[1])
            self.assertFalse(self.state(WARNING)[0])

            self.key("Return")  # the server does not know the code
            self.assertTrue(server.wait_requests(1))
            self.assertEqual((True, True, "123 411"), self.state(CODE_BOX))
            self.assertTrue(self.state(WARNING)[0])

            self.key(*["BackSpace"] * 7)
            self.assertEqual("", self.state(CODE_BOX)[2])
            self.assertFalse(self.state(CONNECT)[1])
            self.assertFalse(self.state(WARNING)[0], "an empty box hides the warning")

            self.type("222222")
            self.key("Return")  # 44 characters: no title key
            self.assertTrue(self.state(WARNING)[0])
            self.key(*["BackSpace"] * 7)
            self.type("333333")
            self.click(CONNECT)  # 46 characters: no title key either
            self.assertTrue(self.state(WARNING)[0])
            self.assertEqual("333 333", self.state(CODE_BOX)[2])

            # A code typed with a space of its own gets no second one.
            self.key(*["BackSpace"] * 7)
            self.type("1 2345")
            self.assertEqual((True, True, "1 2345"), self.state(CODE_BOX))
            self.assertTrue(self.state(CONNECT)[1])
            self.assertFalse(self.state(WARNING)[0])

            self.key(*["BackSpace"] * 7)
            self.type("444444")
            self.key("Return")
            # Only the main dialog has no caption; it shows for a moment before it closes.
            self.assertEqual(0, self.tool("wait", "", 20)[0],
                             "the main dialog shows again after an accepted key")
            self.assertEqual(0, self.tool("gone", DIALOG, 20)[0], "a 45-character key closes it")
            proc.wait(timeout=60)
            lookups = [r for r in server.requests if r.path == "/run.php"]

        self.assertEqual(["/run.php?accesscode=%d" % c for c in (123411, 222222, 333333, 444444)],
                         [r.target for r in lookups])
        self.assertTrue(all(r.scheme == "https" and r.port == 443 for r in lookups))
        self.assertEqual(["-u", "-i KEY45ABC"], [s[1] for s in self.p.host_starts(wait_for=2)])
        self.assertEqual([
            "user input access code = 123411", "title_key by access_code =  (len = 0)",
            "user input access code = 222222",
            "title_key by access_code = %s (len = 44)" % key_of(44),
            "user input access code = 333333",
            "title_key by access_code = %s (len = 46)" % key_of(46),
            "user input access code = 444444",
            "title_key by access_code = %s (len = 45)" % key_of(45),
        ], self.log(OK_FN))
        log = self.log(PARSE)
        self.assertIn("get title key = " + key_of(45), log)
        self.assertEqual("final params = KEY45ABC", log[-1])

    def test_escape_and_the_close_button_cancel(self):
        with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
            for n, cancel in enumerate(("escape", "close button")):
                proc, _, _ = self.p.start(self.p.exe)  # no URL and no browser window
                self.wait_dialog()
                self.click(CODE_BOX)
                self.type("123456")
                if cancel == "escape":
                    self.key("Escape")
                else:
                    self.click(CLOSE)
                self.assertEqual(0, self.tool("gone", DIALOG, 20)[0], cancel)
                proc.wait(timeout=30)
                self.assertEqual(["run InputCodeDlg...", "user cancelled InputCodeDlg."],
                                 self.log(PARSE)[-2:], cancel)
                self.assertTrue(self.p.wait_idle(30))
            self.assertFalse([r for r in server.requests if r.path == "/run.php"])
        self.assertEqual([], self.p.host_starts(timeout=0), "nothing is started")
        self.assertEqual([], self.log(OK_FN))


class BrowserCaption(Scenario):
    def run_among_windows(self, *captions):
        """Runs the launcher without a URL while the helper shows windows with these captions."""
        stop = os.path.join(self.p.path, "drive_c", "stop-browsers")
        windows, out, _ = self.p.start(self.p.helper("browser_windows"),
                                       ["C:\\stop-browsers", "90"] + list(captions))
        deadline = time.monotonic() + 30
        while "ready" not in winetest._read(out) and time.monotonic() < deadline:
            time.sleep(0.1)
        try:
            self.assertIn("ready", winetest._read(out))
            with TestServer(http_port=80, https_port=443, static_root=self.root):
                r = self.p.run(self.p.exe, timeout=90)
                self.assertNotEqual("timeout", r.rc)
        finally:
            open(stop, "w").close()
            windows.wait(timeout=30)
        return [s[1] for s in self.p.host_starts(wait_for=2)]

    def test_first_visible_match_in_z_order(self):
        starts = self.run_among_windows(
            "v:Fenwa Launcher - AAAA1111 - lower browser",
            "v:", "v:   ",
            "v:Fenwa Launcher - BBBB2222 - upper browser",
            "v:Another program",
            "h:Fenwa Launcher - HIDDEN99 - hidden")
        self.assertEqual(["-u", "-i BBBB2222"], starts)
        log = self.log(PARSE)
        self.assertIn('find window caption "%s"' % TITLE_PREFIX, log)
        self.assertNotIn("run InputCodeDlg...", log)
        self.assertEqual("final params = BBBB2222", log[-1])

    def test_a_browser_on_top_of_every_window(self):
        """A browser that is itself the topmost window is found too."""
        starts = self.run_among_windows("v:Fenwa Launcher - LOWER111",
                                        "t:Fenwa Launcher - TOPMOST1")
        self.assertEqual(["-u", "-i TOPMOST1"], starts)

if __name__ == "__main__":
    unittest.main()
