#!/usr/bin/env python3
"""The sample release that the demo and the pipeline tests publish, and helpers to show what
a launcher run made of it.

  sample_release.py DEST                          writes the sample release folder
  sample_release.py DEST --publish ROOT [--version V] [--launcher EXE]
                                                  ... and publishes it into ROOT

The release holds the stand-in host program (build/win/FenwaHostSvr.exe), a text file, a
data file in the sub-folder "bin/" and an archive entry "plugin.zip" with two files, which
the launcher unpacks into a folder "plugin". Contents and times are fixed, so two sample
releases are byte for byte the same.

For tools/demo.py:
    server, published = serve_sample(workdir)   # publishes and starts nginx on 443 and 80
    ... run the launcher ...
    print("\\n".join(install_report(program_folder)))
    server.stop()
"""

import argparse
import hashlib
import os
import shutil
import struct
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import publish  # noqa: E402

HOST_EXE = os.path.join(ROOT, "build", "win", "FenwaHostSvr.exe")
LAUNCHER_EXE = os.path.join(ROOT, "build", "win", "FenwaLauncher.exe")
DEMO_VERSION = "1.0.0.5"
STARTS_LOG = "FenwaHostSvr.starts.log"

# 2026-01-02 03:04:06 UTC: an even second, so the zip's DOS time says the same.
SAMPLE_MTIME = 1767323046

TITLE_PREFIX = "Fenwa Launcher - "
# What the access-code look-up answers; the launcher accepts a title key of 45 characters.
DEMO_TITLE_KEY = TITLE_PREFIX + "DEMO4321 sample session #001"
DEMO_ACCESS_CODES = {123456: DEMO_TITLE_KEY}
assert len(DEMO_TITLE_KEY) == 45

README = (
    "Sample release of the FenwaHostSvr stand-in.\r\n"
    "Published by tools/publish.py for the demo and the tests; not a product release.\r\n")
PLUGIN_FILES = [
    ("plugin.ini", b"[plugin]\r\nname=sample\r\nenabled=1\r\n"),
    ("lang/ko.txt", "샘플 플러그인\r\n".encode("utf-8")),
]


def _engine_bytes():
    """64 KiB of fixed, poorly compressible bytes."""
    out, seed = [], b"fenwa sample engine"
    while sum(map(len, out)) < 65536:
        seed = hashlib.sha256(seed).digest()
        out.append(seed)
    return b"".join(out)[:65536]


def _write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (SAMPLE_MTIME, SAMPLE_MTIME))


def _plugin_zip(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w") as z:
        for name, data in PLUGIN_FILES:
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 2, 3, 4, 6))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0
            info.external_attr = 0x20
            info.extra = struct.pack("<HHBi", 0x5455, 5, 1, SAMPLE_MTIME)
            z.writestr(info, data)
    os.utime(path, (SAMPLE_MTIME, SAMPLE_MTIME))


def make_sample_release(dest, host_exe=HOST_EXE):
    """Writes the sample release into `dest` (emptied first); returns its relative names."""
    if not os.path.isfile(host_exe):
        raise FileNotFoundError("%s is missing: run make win first" % host_exe)
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    shutil.copyfile(host_exe, os.path.join(dest, "FenwaHostSvr.exe"))
    os.utime(os.path.join(dest, "FenwaHostSvr.exe"), (SAMPLE_MTIME, SAMPLE_MTIME))
    _write(os.path.join(dest, "readme.txt"), README.encode("utf-8"))
    _write(os.path.join(dest, "bin", "engine.dat"), _engine_bytes())
    _plugin_zip(os.path.join(dest, "plugin.zip"))
    return ["FenwaHostSvr.exe", "bin/engine.dat", "plugin.zip", "readme.txt"]


def publish_sample(server_root, version=DEMO_VERSION, launcher=LAUNCHER_EXE, release=None,
                   host_exe=HOST_EXE, download_path=publish.DEFAULT_DOWNLOAD_PATH):
    """Makes the sample release (in `release`, else a folder under the server root's parent)
    and publishes it; returns (publish.Published, release folder)."""
    if release is None:
        release = tempfile.mkdtemp(prefix="fenwa-sample-release-")
    make_sample_release(release, host_exe)
    if launcher and not os.path.isfile(launcher):
        launcher = None
    return publish.publish(release, version, server_root, launcher, download_path), release


def serve_sample(workdir, version=DEMO_VERSION, launcher=LAUNCHER_EXE, https=443, http=80):
    """Publishes the sample release under workdir/www and starts the product server on it,
    with DEMO_ACCESS_CODES. Returns (server, publish.Published); the caller stops the server.
    Ports 443 and 80 need root and, on a shared machine, a private network namespace."""
    sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
    from product_server import ProductServer

    os.makedirs(workdir, exist_ok=True)
    os.chmod(workdir, 0o755)
    root = os.path.join(workdir, "www")
    published, _ = publish_sample(root, version, launcher, os.path.join(workdir, "release"))
    server = ProductServer(root, codes=DEMO_ACCESS_CODES, https=https, http=http)
    return server.start(), published


def expected_install(release):
    """What a launcher's program folder should hold after installing `release`:
    {relative path: bytes}; an archive entry stands for the files it unpacks."""
    out = {}
    for folder, _, files in os.walk(release):
        for f in files:
            full = os.path.join(folder, f)
            rel = os.path.relpath(full, release).replace(os.sep, "/")
            if rel.endswith(".zip"):
                with zipfile.ZipFile(full) as z:
                    for info in z.infolist():
                        if not info.is_dir():
                            out[rel[:-4] + "/" + info.filename] = z.read(info)
            else:
                with open(full, "rb") as fh:
                    out[rel] = fh.read()
    return out


def host_starts(program_folder):
    """[(local time text, command line after the program name)] of every host start."""
    path = os.path.join(program_folder, STARTS_LOG)
    if not os.path.exists(path):
        return []
    out = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f.read().splitlines():
            if line:
                day, clock, *rest = line.split(" ", 2)
                out.append((day + " " + clock, rest[0] if rest else ""))
    return out


def install_report(program_folder):
    """Lines that show what a launcher run installed and how it started the host program."""
    lines = ["program folder: %s" % program_folder]
    if not os.path.isdir(program_folder):
        return lines + ["  (missing)"]
    for folder, dirs, files in os.walk(program_folder):
        dirs.sort()
        for f in sorted(files):
            full = os.path.join(folder, f)
            rel = os.path.relpath(full, program_folder).replace(os.sep, "/")
            version = publish.read_file_version(full)
            lines.append("  %-28s %9d bytes%s" % (rel, os.path.getsize(full),
                                                  "  FileVersion " + version if version else ""))
    starts = host_starts(program_folder)
    lines.append("host program starts (%s):" % STARTS_LOG)
    lines += ["  %s  FenwaHostSvr.exe %s" % s for s in starts] or ["  (none)"]
    return lines


def main(argv=None):
    parser = argparse.ArgumentParser(description="Writes (and publishes) the sample release.")
    parser.add_argument("dest")
    parser.add_argument("--publish", metavar="SERVER_ROOT")
    parser.add_argument("--version", default=DEMO_VERSION)
    parser.add_argument("--launcher", default=LAUNCHER_EXE)
    parser.add_argument("--host", default=HOST_EXE)
    args = parser.parse_args(argv)
    try:
        if args.publish:
            published, _ = publish_sample(args.publish, args.version, args.launcher,
                                          args.dest, args.host)
            for w in published.warnings:
                print("warning: " + w, file=sys.stderr)
            print("published %s into %s" % (published.version, published.base))
        else:
            make_sample_release(args.dest, args.host)
            print("sample release in %s" % args.dest)
    except (publish.PublishError, OSError) as e:
        print("sample_release: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
