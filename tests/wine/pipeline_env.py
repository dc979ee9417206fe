"""A product server tree for the pipeline scenarios, written by the test itself so that each
scenario controls exactly what the server offers (missing archives, odd file lists)."""

import hashlib
import os
import re
import sys
import time
import zipfile

import winetest
from launcher_env import LauncherPrefix

sys.path.insert(0, os.path.join(winetest.ROOT, "tools"))
import publish  # noqa: E402  (the statement's encoder and signer)

DOWNLOAD_PATH = "download/Customer/program_kr"
HOST_EXE = os.path.join(winetest.BUILD, "win", "FenwaHostSvr.exe")
# The launcher built with the test key (mk/sign.mk), and that key.
SIGNED_EXE = os.path.join(winetest.BUILD, "win", "signed", "FenwaLauncher.exe")
TEST_KEY = os.path.join(winetest.BUILD, "keys", "test", publish.PRIVATE_KEY)


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

    def statement(self, root, sequence, launcher=None, version=None):
        """The signed part of this release's statement, from the archives published under
        `root` (the server folder of `version`, default this release's)."""
        folder = os.path.join(root, DOWNLOAD_PATH, version or self.version)

        def sha(data):
            return hashlib.sha256(data).hexdigest()

        files, members = [], []
        for name, data in self.files.items():
            with open(os.path.join(folder, *(name + ".zip").split("/")), "rb") as f:
                archive = f.read()
            files.append((name, len(data), sha(data), len(archive), sha(archive)))
        for name, entries in self.archives.items():
            archive = self.archive_bytes(entries)
            files.append((name, len(archive), sha(archive), len(archive), sha(archive)))
            members += [(name, entry, len(data), sha(data)) for entry, data in entries.items()]
        own = None
        if launcher:
            with open(launcher, "rb") as f, open(os.path.join(folder, "FenwaLauncher.exe.zip"),
                                                 "rb") as g:
                exe, archive = f.read(), g.read()
            own = (len(exe), sha(exe), len(archive), sha(archive))
        return publish.statement_bytes(self.version, sequence, files, members, own)

    def sign(self, root, sequence, key=TEST_KEY, launcher=None):
        """Writes release.sig.txt for what publish() wrote; returns its bytes."""
        text = self.statement(root, sequence, launcher)
        text += publish.signature_line(publish.sign(publish.load_signing_key(key), text))
        with open(os.path.join(root, DOWNLOAD_PATH, self.version, publish.STATEMENT), "wb") as f:
            f.write(text)
        return text

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


# What the launcher and the host stand-in write into the program folder besides a release.
NOT_RELEASE = {"FenwaHostSvr.starts.log", "self_delete.bat", "self_updater.bat"}


def digest(data):
    """A short SHA-256, so that a failing comparison of folders stays readable."""
    return hashlib.sha256(data).hexdigest()[:16]


def tree(folder):
    """Each release file below the folder with the digest of its bytes, and each empty folder."""
    out = {}
    for base, dirs, files in os.walk(folder):
        for name in files:
            rel = os.path.relpath(os.path.join(base, name), folder)
            if rel not in NOT_RELEASE:
                with open(os.path.join(base, name), "rb") as f:
                    out[rel] = digest(f.read())
        for name in dirs:
            if not os.listdir(os.path.join(base, name)):
                out[os.path.relpath(os.path.join(base, name), folder) + os.sep] = "empty"
    return out


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
