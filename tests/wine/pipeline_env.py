"""A product server tree for the pipeline scenarios, written by the test itself so that each
scenario controls exactly what the server offers (missing archives, odd file lists)."""

import os
import re
import time
import zipfile

import winetest
from launcher_env import LauncherPrefix

DOWNLOAD_PATH = "download/Customer/program_kr"
HOST_EXE = os.path.join(winetest.BUILD, "win", "FenwaHostSvr.exe")


def host_version():
    path = os.path.join(winetest.BUILD, "gen", "host_version.h")
    with open(path) as f:
        return re.search(r'FENWA_HOST_VERSION_STR "([^"]*)"', f.read()).group(1)


def zip_one(path, name, data):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(zipfile.ZipInfo(name, time.localtime()[:6]), data)


class Release:
    """One server version: files (name -> bytes) and how each is listed."""

    def __init__(self, version, files, versions=None, archives=None):
        self.version = version
        self.files = dict(files)
        self.versions = dict(versions or {})
        # name ending in .zip -> {entry name: bytes}: an archive entry unpacked into a folder
        self.archives = dict(archives or {})

    def filelist(self):
        lines = []
        for name, data in self.files.items():
            lines.append("%s|%d|%s" % (name, len(data), self.versions.get(name, "")))
        for name, entries in self.archives.items():
            lines.append("%s|%d|" % (name, len(self.archive_bytes(entries))))
        return "\r\n".join(lines) + "\r\n"

    @staticmethod
    def archive_bytes(entries):
        import io
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
            for entry, data in entries.items():
                z.writestr(zipfile.ZipInfo(entry, (2024, 1, 1, 0, 0, 0)), data)
        return buffer.getvalue()

    def publish(self, root, skip=(), filelist=None):
        base = os.path.join(root, DOWNLOAD_PATH)
        folder = os.path.join(base, self.version)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(base, "version.html"), "w") as f:
            f.write(self.version)
        with open(os.path.join(folder, "filelist.lst"), "w", encoding="utf-8", newline="") as f:
            f.write(self.filelist() if filelist is None else filelist)
        for name, data in self.files.items():
            if name in skip:
                continue
            target = os.path.join(folder, name + ".zip")
            os.makedirs(os.path.dirname(target), exist_ok=True)
            zip_one(target, os.path.basename(name), data)
        for name, entries in self.archives.items():
            if name in skip:
                continue
            with open(os.path.join(folder, name), "wb") as f:
                f.write(self.archive_bytes(entries))


def sample_release(version, text="first", archive=True):
    with open(HOST_EXE, "rb") as f:
        host = f.read()
    return Release(
        version,
        files={
            "FenwaHostSvr.exe": host,
            "readme.txt": ("readme %s\r\n" % text).encode(),
            "bin/engine.dat": ("engine %s" % text).encode() * 50,
        },
        versions={"FenwaHostSvr.exe": host_version()},
        archives={"plugin.zip": {"a.txt": b"plugin a " + text.encode(),
                                 "sub/b.txt": b"plugin b " + text.encode()}} if archive else {},
    )


class PipelinePrefix(LauncherPrefix):
    """A launcher prefix with helpers for the program folder and the host's record."""

    @property
    def program_folder(self):
        return os.path.join(self.public_documents, "Fenwa", "FenwaLauncher")

    def installed(self, name):
        path = os.path.join(self.program_folder, *name.split("/"))
        with open(path, "rb") as f:
            return f.read()

    def host_starts(self, wait_for=0, timeout=15):
        """The host stand-in's starts: [(seconds since midnight, arguments)]."""
        path = os.path.join(self.program_folder, "FenwaHostSvr.starts.log")
        deadline = time.monotonic() + timeout
        while True:
            starts = []
            if os.path.exists(path):
                with open(path, encoding="utf-8") as f:
                    for line in f.read().splitlines():
                        m = re.match(r"\d{4}-\d{2}-\d{2} (\d{2}):(\d{2}):(\d{2})\.(\d{3}) ?(.*)$",
                                     line)
                        if m:
                            h, mi, s, ms = (int(x) for x in m.groups()[:4])
                            starts.append((h * 3600 + mi * 60 + s + ms / 1000.0, m.group(5)))
            if len(starts) >= wait_for or time.monotonic() > deadline:
                return starts
            time.sleep(0.2)

    def installed_version(self):
        return self.reg_values(
            "HKEY_LOCAL_MACHINE\\Software\\Fenwa\\FenwaLauncher").get("Version")
