"""The shell integration under Wine: the URL scheme and its round trip through the shell, the
launcher's own update and removal by batch scripts (Korean user names included), and hostile
URLs on their way to the host program's command line."""

import os
import re
import shutil
import sys
import tempfile
import time
import unittest

import winetest
from http_server import TestServer
from launcher_env import SCHEME, URL_PREFIX, messages, parsed
from pipeline_env import DOWNLOAD_PATH, PipelinePrefix, sample_release, zip_one

sys.path.insert(0, os.path.join(winetest.ROOT, "tools"))
import publish  # noqa: E402  (reads FileVersion as the launcher does)

UPDATE_EXE = os.path.join(winetest.BUILD, "win", "update", "FenwaLauncher.exe")
OLDER_EXE = os.path.join(winetest.BUILD, "win", "older", "FenwaLauncher.exe")
CHECK = "CZekLauncherApp::check_new_version_itself"
UPDATE = "CZekLauncherApp::self_update"
DELETE = "CZekLauncherApp::self_delete"
SCHEME_KEY = "HKEY_CURRENT_USER\\Software\\Classes\\" + SCHEME
START_BANNER = "==================== Program Start ===================="
PUBLIC_FOLDER = "C:\\users\\Public\\Documents\\Fenwa\\FenwaLauncher"
HOST_ENV = {"FENWA_HOST_EXIT_AFTER": "3"}
KOREAN_USER = "김철수"


def version_of(path):
    return publish.read_file_version(path)


def publish_launcher(root, version, exe):
    """The server side of the self-update: version.html and that version's launcher archive."""
    base = os.path.join(root, DOWNLOAD_PATH)
    os.makedirs(os.path.join(base, version), exist_ok=True)
    with open(os.path.join(base, "version.html"), "w") as f:
        f.write(version)
    with open(exe, "rb") as f:
        zip_one(os.path.join(base, version, "FenwaLauncher.exe.zip"), "FenwaLauncher.exe", f.read())


def runs(lines):
    """The log split into runs: one list of (function, line, tag, message) per start banner."""
    out = []
    for entry in parsed(lines):
        if entry[3] == START_BANNER:
            out.append([])
        if out:
            out[-1].append(entry)
    return out


def of(run, function):
    return [e[3] for e in run if e[0] == function]


def block(folder):
    """Makes a documents folder unusable: a plain file stands where the folder was."""
    shutil.rmtree(folder, ignore_errors=True)
    with open(folder, "w") as f:
        f.write("not a folder")


class ShellPrefix(PipelinePrefix):
    def __init__(self, name, env=None):
        super().__init__(name, dict(HOST_ENV, **(env or {})))
        self.documents = None  # the documents folder in use when not Public Documents

    @property
    def program_folder(self):
        if self.documents:
            return os.path.join(self.documents, "Fenwa", "FenwaLauncher")
        return super().program_folder

    def log_path(self, documents=None, day=None):
        return super().log_path(documents or self.documents, day)

    @property
    def installed_exe(self):
        return os.path.join(self.program_folder, "FenwaLauncher.exe")

    def install(self, exe=winetest.EXE):
        os.makedirs(self.program_folder, exist_ok=True)
        shutil.copy2(exe, self.installed_exe)

    def script(self, name):
        with open(os.path.join(self.program_folder, name), "rb") as f:
            return f.read()


class Scenario(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="fenwa-shell-")
        self.p = self.make_prefix()

    def make_prefix(self):
        return ShellPrefix(self.id().split(".")[-1])

    def tearDown(self):
        self.p.cleanup()
        shutil.rmtree(self.root, ignore_errors=True)

    def run_exe(self, exe, *args, timeout=90):
        r = self.p.run(exe, list(args), timeout=timeout)
        self.assertNotEqual("timeout", r.rc, r)
        self.assertTrue(self.p.wait_idle(90), "the scripts and the restarted launcher end")
        return r

    def runs(self):
        return runs(self.p.log_lines())


class UrlSchemeRegistration(Scenario):
    def test_keys_and_values_point_at_the_installed_launcher(self):
        # Values of our own are rewritten, other values stay.
        self.p.reg_add(SCHEME_KEY, None, "stale")
        self.p.reg_add(SCHEME_KEY, "Extra", "kept")
        self.p.reg_add(SCHEME_KEY + "\\shell\\open\\command", None, "C:\\old.exe %1")
        self.run_exe(self.p.exe)  # from C:\app: the scheme still names the installed copy

        installed = PUBLIC_FOLDER + "\\FenwaLauncher.exe"
        self.assertEqual({"": "URL:orvexlauncher Fenwa Service Protocol", "URL Protocol": "",
                          "Extra": "kept"}, self.p.reg_values(SCHEME_KEY))
        self.assertEqual({"": installed}, self.p.reg_values(SCHEME_KEY + "\\DefaultIcon"))
        self.assertEqual({"": installed + ' "%1"'},
                         self.p.reg_values(SCHEME_KEY + "\\shell\\open\\command"))
        self.assertEqual(["start", "end"],
                         messages(self.p.log_lines(), "CZekLauncherApp::regist_UrlScheme"))


class ShellRoundTrip(Scenario):
    """The launcher a user downloaded installs itself with the release; from then on a link of
    the scheme starts the installed launcher with the whole URL."""

    def test_first_run_then_a_link(self):
        with open(winetest.EXE, "rb") as f:
            launcher = f.read()
        release = sample_release("8.0", archive=False)
        release.files["FenwaLauncher.exe"] = launcher
        release.versions["FenwaLauncher.exe"] = version_of(winetest.EXE)
        release.publish(self.root)
        downloaded = os.path.join(self.p.downloads, "FenwaLauncher.exe")
        shutil.copy2(winetest.EXE, downloaded)

        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_exe(downloaded, URL_PREFIX + "FIRST123")
            self.assertEqual(launcher, self.p.installed("FenwaLauncher.exe"))
            self.assertFalse(os.path.exists(downloaded), "the downloaded copy is removed at exit")
            self.assertEqual("-i FIRST123", self.p.host_starts(wait_for=2)[-1][1])

            # Wine does not merge the per-user classes into HKEY_CLASSES_ROOT: copy them.
            r = self.p.wine("reg", "copy", SCHEME_KEY,
                            "HKLM\\Software\\Classes\\" + SCHEME, "/s", "/f")
            self.assertEqual(0, r.rc, r)
            url = URL_PREFIX + "Fenwa%20Launcher%20-%20LINK5678%20tab/"
            self.p.wine("start", url)
            self.assertEqual("-i LINK5678", self.p.host_starts(wait_for=4)[-1][1])
            self.assertTrue(self.p.wait_idle(60))

            # Hostile text in a link: whatever argv the shell makes of it, the host gets one
            # plain argument.
            self.p.wine("start", URL_PREFIX + 'A"B&C%22%20-u x" & calc')
            starts = self.p.host_starts(wait_for=6)
            self.assertTrue(self.p.wait_idle(60))

        self.assertRegex(starts[-1][1], r"^-i [A-Za-z0-9]{1,8}$")
        first, link, hostile = self.runs()
        self.assertTrue(any(m.startswith("uri_params = " + URL_PREFIX + "A")
                            for m in of(hostile, "CZekLauncherApp::InitInstance")))
        self.assertIn("local : {0}, server : {0}. skip self_update()."
                      .format(version_of(winetest.EXE)), of(first, CHECK))
        self.assertIn("uri_params = " + url, of(link, "CZekLauncherApp::InitInstance"))
        profile = self.p.reg_values("HKEY_CURRENT_USER\\Software\\Fenwa\\FenwaLauncher\\setting")
        self.assertEqual(PUBLIC_FOLDER + "\\FenwaLauncher.exe", profile.get("exe path"))


class HostileUrls(Scenario):
    CASES = [
        (URL_PREFIX + 'AB"CD -u', "-i ABCD"),
        (URL_PREFIX + "x&calc", "-i xcalc"),
        (URL_PREFIX + "%22-u%22", "-i 22-u22"),
        (URL_PREFIX + "A|B>C<D^E", "-i ABCD"),  # cut at 8 characters first
        # The title prefix followed by blanks leaves a text that begins with a blank.
        (URL_PREFIX + "Fenwa%20Launcher%20-%20%20%20-u%20x", "-i u"),
        (URL_PREFIX + "Fenwa Launcher - \t-u", "-i u"),
        (URL_PREFIX + "/u", "-i u"),
    ]

    def test_the_host_gets_one_plain_argument(self):
        sample_release("8.1").publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            for n, (arg, expected) in enumerate(self.CASES):
                self.run_exe(self.p.exe, arg)
                starts = self.p.host_starts(wait_for=2 * (n + 1))
                self.assertEqual(["-u", expected], [s[1] for s in starts[-2:]], arg)
        warnings = [e for e in parsed(self.p.log_lines()) if e[0] == "CZekLauncherDlg::run_fenwa"
                    and "could change the command line" in e[3]]
        self.assertEqual(len(self.CASES), len(warnings))
        self.assertTrue(all(e[2] == "[warn]" for e in warnings), warnings)


class SelfUpdate(Scenario):
    def test_newer_launcher_is_staged_swapped_in_and_started(self):
        publish_launcher(self.root, "7.0", UPDATE_EXE)
        self.p.install()
        local, newer = version_of(winetest.EXE), version_of(UPDATE_EXE)
        with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
            self.run_exe(self.p.installed_exe)
            archive = "/%s/7.0/FenwaLauncher.exe.zip" % DOWNLOAD_PATH
            self.assertEqual(2, len(server.requests_for(archive)), "once per run")

        with open(UPDATE_EXE, "rb") as f:
            self.assertEqual(f.read(), self.p.installed("FenwaLauncher.exe"))
        for leftover in ("FenwaLauncher.exe_", "FenwaLauncher_patch_temp_.exe",
                         "FenwaLauncher_patch_temp_.exe.zip"):
            self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, leftover)),
                             leftover)

        first, second = self.runs()
        self.assertIn("new version exists. exit for self_update() and re run! (FenwaLauncher.exe "
                      "version of local : %s, server : %s)" % (local, newer), of(first, CHECK))
        # The staging run shows no dialog and skips the exit actions.
        self.assertFalse([e for e in first if e[0].startswith("CZekLauncherDlg::")])
        self.assertEqual([], of(first, UPDATE) + of(first, DELETE))
        # The updater started the new launcher, which finds nothing newer.
        self.assertIn("file version = " + newer, of(second, "CSCLog::write_start_log"))
        self.assertIn("local : %s, server : %s. skip self_update()." % (newer, newer),
                      of(second, CHECK))

        script = self.p.script("self_updater.bat")
        installed = PUBLIC_FOLDER + "\\FenwaLauncher.exe"
        self.assertEqual(
            ('set tries=0 \r\n:Repeat \r\nmove /y "{0}_" "{0}" >nul 2>&1 \r\n'
             'if not exist "{0}_" goto Moved \r\nset /a tries+=1 \r\n'
             'if %tries% geq 15 goto GiveUp \r\nping -n 2 127.0.0.1 >nul \r\ngoto Repeat \r\n'
             ':Moved \r\ntimeout /t 1 \r\nstart "" "{0}" \r\ngoto End \r\n:GiveUp \r\n'
             'start "" "{0}" --skip-self-update \r\n:End \r\n').format(installed),
            script.decode("ascii"))

    def test_an_updater_that_gives_up_starts_the_installed_launcher(self):
        # The installed launcher stays open as Windows keeps a running executable: it can
        # still be started, but the updater's move over it is refused every time.
        release = sample_release("7.5", archive=False)
        release.publish(self.root)
        publish_launcher(self.root, "7.5", UPDATE_EXE)
        self.p.install()
        holder, out, _ = self.p.start(self.p.helper("hold"), [
            "image", PUBLIC_FOLDER + "\\FenwaLauncher.exe", "C:\\stop-hold", "120"])
        for _ in range(300):
            if "held" in winetest._read(out):
                break
            time.sleep(0.1)
        url = URL_PREFIX + "Fenwa%20Launcher%20-%20GU12%20x&y/"
        try:
            with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
                r = self.p.run(self.p.installed_exe, [url], timeout=90)
                self.assertNotEqual("timeout", r.rc, r)
                starts = self.p.host_starts(wait_for=2, timeout=90)
                archive = "/%s/7.5/FenwaLauncher.exe.zip" % DOWNLOAD_PATH
                self.assertEqual(1, len(server.requests_for(archive)), "the second run skips it")
        finally:
            open(os.path.join(self.p.path, "drive_c", "stop-hold"), "w").close()
            holder.wait(timeout=30)
        self.assertTrue(self.p.wait_idle(60))

        self.assertEqual(["-u", "-i GU12"], [s[1] for s in starts])
        with open(winetest.EXE, "rb") as f:
            self.assertEqual(f.read(), self.p.installed("FenwaLauncher.exe"))
        self.assertFalse(os.path.exists(os.path.join(self.p.program_folder,
                                                     "FenwaLauncher.exe_")))
        first, second = self.runs()  # started once: no loop
        self.assertTrue(of(first, CHECK)[-1].startswith("new version exists."))
        self.assertEqual([], of(second, CHECK))
        init = of(second, "CZekLauncherApp::InitInstance")
        self.assertIn("uri_params = " + url, init)
        self.assertIn("started by an updater that could not swap in the new launcher: skip "
                      "self_update().", init)
        # The staged launcher this run did not stage is removed at its exit.
        self.assertIn(PUBLIC_FOLDER + "\\FenwaLauncher.exe_ was not staged by this run: "
                      "deleted.", of(second, UPDATE))
        self.assertIn('start "" "%s\\FenwaLauncher.exe" --skip-self-update "%s" \r\n'
                      % (PUBLIC_FOLDER, url.replace("%", "%%")),
                      self.p.script("self_updater.bat").decode("ascii"))

    def test_equal_or_lower_version_is_skipped(self):
        self.p.install()
        with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
            for version, exe in (("7.1", winetest.EXE), ("7.2", OLDER_EXE)):
                publish_launcher(self.root, version, exe)
                self.run_exe(self.p.installed_exe)
                self.assertTrue(server.requests_for("/%s/%s/FenwaLauncher.exe.zip"
                                                    % (DOWNLOAD_PATH, version)))
        local = version_of(winetest.EXE)
        equal, lower = self.runs()
        self.assertIn("local : %s, server : %s. skip self_update()." % (local, local),
                      of(equal, CHECK))
        self.assertIn("local : %s, server : %s. skip self_update()."
                      % (local, version_of(OLDER_EXE)), of(lower, CHECK))
        for run in (equal, lower):
            self.assertEqual(["not exist a new launcher or patcher. skip."], of(run, UPDATE))
            self.assertEqual([" "], of(run, DELETE))
        # Nothing staged: at exit an empty line, the skip line, and no updater script.
        lines = self.p.log_lines()
        skips = [i for i, line in enumerate(lines) if line.endswith("] not exist a new launcher "
                                                                    "or patcher. skip.")]
        self.assertEqual(2, len(skips))
        self.assertTrue(all(lines[i - 1] == "" for i in skips))
        self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, "self_updater.bat")))
        self.assertEqual(sorted(os.listdir(self.p.program_folder)),
                         sorted(["FenwaLauncher.exe", "self_delete.bat"]))
        with open(winetest.EXE, "rb") as f:
            self.assertEqual(f.read(), self.p.installed("FenwaLauncher.exe"))

    def test_a_staged_launcher_this_run_did_not_stage_is_deleted(self):
        # Planted or left over: a newer, valid launcher waits under the staging name.
        self.p.install()
        staged = os.path.join(self.p.program_folder, "FenwaLauncher.exe_")
        shutil.copy2(UPDATE_EXE, staged)
        self.run_exe(self.p.installed_exe)  # no server: the run fails, the exit actions run
        self.assertFalse(os.path.exists(staged))
        self.assertFalse(os.path.exists(os.path.join(self.p.program_folder, "self_updater.bat")))
        with open(winetest.EXE, "rb") as f:
            self.assertEqual(f.read(), self.p.installed("FenwaLauncher.exe"))
        (run,) = self.runs()
        self.assertIn(("[warn]", PUBLIC_FOLDER + "\\FenwaLauncher.exe_ was not staged by this "
                       "run: deleted."), [(e[2], e[3]) for e in run if e[0] == UPDATE])

    def test_https_failure_switches_to_port_80_and_updates_nothing(self):
        publish_launcher(self.root, "7.3", UPDATE_EXE)
        self.p.install()
        with TestServer(http_port=80, https_port=None, static_root=self.root) as server:
            self.run_exe(self.p.installed_exe)
            requests = list(server.requests)
        version_page = "/%s/version.html" % DOWNLOAD_PATH
        # The retry, then the pipeline's own request: both on port 80 from the start.
        self.assertEqual([version_page, version_page], [r.target for r in requests[:2]])
        self.assertTrue(all(r.port == 80 and r.scheme == "http" for r in requests))
        self.assertFalse(any(r.path.endswith(".exe.zip") for r in requests))

        (run,) = self.runs()
        check = [e for e in run if e[0] == CHECK]
        self.assertTrue(check[1][3].startswith(
            "full_url = https://127.0.0.1:443/%s, is_https = 1, port = 443, param.status = "
            % version_page.lstrip("/")), check[1])
        self.assertEqual("[error]", check[1][2])
        self.assertEqual(("[warn]", "https(443) request failed. retry to http(80) request..."),
                         check[2][2:])
        self.assertEqual("http://127.0.0.1:80" + version_page, check[3][3])
        self.assertEqual(4, len(check), "a successful retry still updates nothing")
        self.assertFalse(any("retry http request" in m
                             for m in of(run, "CZekLauncherDlg::get_server_version")))
        with open(winetest.EXE, "rb") as f:
            self.assertEqual(f.read(), self.p.installed("FenwaLauncher.exe"))


class KoreanUserName(Scenario):
    """A user whose name lies outside the OEM code page (English Windows): the scripts reach
    the files through short names. With Korean as the system language: in the OEM code page."""

    env = {}

    def make_prefix(self):
        env = dict(self.env, USER=KOREAN_USER, LOGNAME=KOREAN_USER)
        p = ShellPrefix(type(self).__name__, env=env)
        self.profile = os.path.join(p.path, "drive_c", "users", KOREAN_USER)
        self.downloads = os.path.join(self.profile, "Downloads")
        documents = os.path.join(self.profile, "Documents")
        for folder in (self.downloads, documents):
            os.makedirs(folder, exist_ok=True)
        # Public Documents unusable: the program folder moves below the user's documents.
        block(p.public_documents)
        p.documents = documents
        return p

    def test_update_and_removal_below_a_korean_user_name(self):
        remove = ["FenwaLauncher.exe", "FenwaLauncher (1).exe", "FenwaLauncher_setup.exe",
                  "ZEKLauncher.exe"]
        keep = ["other.exe", "FenwaLauncher.txt", "MyFenwaLauncher.exe"]
        for name in remove + keep:
            with open(os.path.join(self.downloads, name), "wb") as f:
                f.write(b"x")
        publish_launcher(self.root, "7.4", UPDATE_EXE)
        self.p.install()
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.run_exe(self.p.installed_exe)

        with open(UPDATE_EXE, "rb") as f:
            self.assertEqual(f.read(), self.p.installed("FenwaLauncher.exe"))
        self.assertEqual(sorted(keep), sorted(os.listdir(self.downloads)))
        first, second = self.runs()
        self.assertIn("file version = " + version_of(UPDATE_EXE),
                      of(second, "CSCLog::write_start_log"))
        self.check_scripts(self.p.script("self_updater.bat"), self.p.script("self_delete.bat"))

    def check_scripts(self, updater, removal):
        self.assertTrue(updater.startswith(b"set tries=0"), updater[:20])
        self.assertTrue(removal.startswith(b":Repeat"), removal[:20])
        for script in (updater, removal):
            text = script.decode("ascii")  # the folders by their short names
            self.assertIn("~", text)
        # The file names stay long: the updater creates the installed launcher by its name.
        self.assertRegex(updater.decode("ascii"), r'move /y "[^"]*~[^"]*\\FenwaLauncher\.exe_" '
                                                  r'"[^"]*\\FenwaLauncher\.exe" >nul 2>&1 \r\n')
        self.assertIn(b'\\FenwaLauncher*.exe"', removal)


class KoreanUserNameKoreanSystem(KoreanUserName):
    env = winetest.build_locale("ko_KR")

    def check_scripts(self, updater, removal):
        self.assertTrue(updater.startswith(b"set tries=0"), updater[:20])
        self.assertTrue(removal.startswith(b":Repeat"), removal[:20])
        for script in (updater, removal):
            self.assertIn("\\%s\\" % KOREAN_USER, script.decode("cp949"))
        self.assertIn(('del /f /q "C:\\users\\%s\\Downloads\\FenwaLauncher*.exe"'
                       % KOREAN_USER).encode("cp949"), removal)


if __name__ == "__main__":
    unittest.main()
