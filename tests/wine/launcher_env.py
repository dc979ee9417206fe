"""What the start-up scenarios share: an installed launcher in a fresh prefix, its log file
and its registry entries."""

import datetime
import os
import re
import shutil

import winetest

SCHEME = "orvexlauncher.fenwa.service.host"
URL_PREFIX = SCHEME + "://param="
MUTEX = "MUTEX_OF_OrvexLauncher"

LINE_RE = re.compile(
    r"^\[(\d{4})/(\d{2})/(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3})\]\[([^\]]*)\]\[(\d*)\]"
    r"(\[[a-z]+\])? (.*)$")


def build_setting(name):
    """A value of the generated build settings header (file version, server host)."""
    path = os.path.join(winetest.BUILD, "gen", "build_config.h")
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r'#define %s L?"([^"]*)"' % name, line)
            if m:
                return m.group(1)
    raise KeyError(name)


class LauncherPrefix(winetest.Prefix):
    """A prefix with the launcher copied to C:\\app\\FenwaLauncher.exe."""

    def __init__(self, name, env=None):
        super().__init__(name, env)
        self.app_dir = os.path.join(self.path, "drive_c", "app")
        os.makedirs(self.app_dir, exist_ok=True)
        self.exe = os.path.join(self.app_dir, "FenwaLauncher.exe")
        shutil.copy2(winetest.EXE, self.exe)

    def launch(self, *args, timeout=60, env=None):
        return self.run(self.exe, list(args), timeout=timeout, env=env)

    def helper(self, name):
        return os.path.join(winetest.HELPERS, name + ".exe")

    def log_dir(self, documents=None):
        return os.path.join(documents or self.public_documents, "Fenwa", "log")

    def log_path(self, documents=None, day=None):
        day = day or datetime.date.today()
        return os.path.join(self.log_dir(documents), "FenwaLauncher_%s.log" % day.strftime("%Y%m%d"))

    def log_lines(self, path=None):
        path = path or self.log_path()
        if not os.path.exists(path):
            return []
        return winetest.read_utf8_file(path).replace("\r\n", "\n").split("\n")


def parsed(lines):
    """(function, line number, tag, message) for each timestamped line."""
    out = []
    for line in lines:
        m = LINE_RE.match(line)
        if m:
            out.append((m.group(8), m.group(9), m.group(10) or "", m.group(11)))
    return out


def messages(lines, function=None):
    return [p[3] for p in parsed(lines) if function is None or p[0] == function]
