"""Releases in S3-compatible storage: publish.py --upload into s3rver (npm; started here on
127.0.0.1:443 with TLS, where the launcher looks, path-style bucket "download"), the signed
launcher installing from it under Wine, and publish.py verify on what it serves."""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
from unittest import mock

import winetest
from launcher_env import URL_PREFIX
from pipeline_env import DOWNLOAD_PATH, HOST_EXE, SIGNED_EXE, TEST_KEY, publish
from product_server import ensure_certificate
from test_pipeline import Scenario

import storage_upload  # noqa: E402  (tools/, put on the path by pipeline_env)
import verify_live  # noqa: E402

TOOL = os.path.join(winetest.ROOT, "tools", "publish.py")
PUBLIC_KEY = os.path.join(os.path.dirname(TEST_KEY), publish.PUBLIC_KEY)
TARGET = "s3://download/" + DOWNLOAD_PATH.split("/", 1)[1]
BASE_URL = "https://127.0.0.1/" + DOWNLOAD_PATH


class S3rver:
    """s3rver with its data in a temporary folder; the default keys S3RVER/S3RVER."""

    def __enter__(self):
        exe = shutil.which("s3rver")
        if not exe:
            raise AssertionError("s3rver is missing: run make deps")
        cert, key = ensure_certificate()
        self.data = tempfile.mkdtemp(prefix="fenwa-s3-")
        self.log = open(os.path.join(self.data, "..", os.path.basename(self.data) + ".log"), "w")
        self.proc = subprocess.Popen(
            [exe, "-d", self.data, "-a", "127.0.0.1", "-p", "443", "--cert", cert, "--key", key,
             "--no-vhost-buckets", "--configure-bucket", "download", "-s"],
            stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.env = {"AWS_ACCESS_KEY_ID": "S3RVER", "AWS_SECRET_ACCESS_KEY": "S3RVER",
                    "AWS_DEFAULT_REGION": "us-east-1", "AWS_CA_BUNDLE": cert,
                    "SSL_CERT_FILE": cert}
        self.patch = mock.patch.dict(os.environ, self.env)
        self.patch.start()
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", 443), 0.2).close()
                break
            except OSError:
                time.sleep(0.05)
        self.store = storage_upload.Storage(TARGET, "https://127.0.0.1")
        return self

    def __exit__(self, *exc):
        self.patch.stop()
        self.proc.terminate()
        self.proc.wait(10)
        self.log.close()
        shutil.rmtree(self.data, ignore_errors=True)

    def folders(self):
        return sorted({rel.split("/")[0] for rel in self.store.listing() if "/" in rel})


def make_release(folder, text, files=30):
    os.makedirs(os.path.join(folder, "data"))
    shutil.copy(HOST_EXE, folder)
    with open(os.path.join(folder, "readme.txt"), "w") as f:
        f.write("readme %s\n" % text)
    for i in range(files):
        with open(os.path.join(folder, "data", "f%02d.bin" % i), "wb") as f:
            f.write(os.urandom(20000))
    return folder


def upload_command(release, version, *more):
    return [sys.executable, TOOL, "--release", release, "--version", version, "--sign-key",
            TEST_KEY, "--upload", TARGET, "--endpoint", "https://127.0.0.1"] + list(more)


def verify_lines(key=PUBLIC_KEY):
    lines = []
    verify_live.verify(BASE_URL, key, say=lines.append)
    return lines


class StorageRelease(Scenario):
    def test_upload_interrupted_rerun_install_and_keep(self):
        shutil.copy2(SIGNED_EXE, self.p.exe)
        work = self.root
        with S3rver() as s3:
            v1 = make_release(os.path.join(work, "r1"), "first")
            subprocess.run(upload_command(v1, "1.0"), check=True, capture_output=True)
            self.assertEqual(["OK"], verify_lines())

            # Cut off while the new folder goes up: the page still names the old release.
            v2 = make_release(os.path.join(work, "r2"), "second")
            cut = subprocess.Popen(upload_command(v2, "2.0"), stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
            deadline = time.monotonic() + 30
            while not any(k.startswith("2.0/") for k in s3.store.listing("2.0/")):
                self.assertLess(time.monotonic(), deadline, "the upload never began")
                time.sleep(0.01)
            cut.send_signal(signal.SIGSTOP)
            cut.kill()
            cut.wait()
            time.sleep(0.3)  # a request already sent may still be stored
            halfway = len(s3.store.listing("2.0/"))
            self.assertLess(halfway, 34)  # 30 data files, host, readme, list, statement
            self.assertEqual("1.0", s3.store.live_version())
            self.assertEqual(["OK"], verify_lines())
            self.run_launcher(URL_PREFIX + "S1")
            self.p.wait_idle(20)
            self.assertEqual("1.0", self.p.installed_version())
            self.assertEqual(b"readme first\n", self.p.installed("readme.txt"))

            again = subprocess.run(upload_command(v2, "2.0"), capture_output=True, text=True)
            self.assertEqual(0, again.returncode, again.stderr)
            self.assertRegex(again.stdout, r" [1-9][0-9]* already there")
            self.assertEqual(["OK"], verify_lines())
            self.run_launcher(URL_PREFIX + "S1")
            self.p.wait_idle(20)
            self.assertEqual("2.0", self.p.installed_version())
            self.assertEqual(b"readme second\n", self.p.installed("readme.txt"))

            # The live one and the one before it stay, whatever N says.
            keep = subprocess.run(upload_command(v2, "3.0", "--keep", "1"), capture_output=True,
                                  text=True)
            self.assertEqual(0, keep.returncode, keep.stderr)
            self.assertEqual(["2.0", "3.0"], s3.folders())
            head = s3.store.s3.head_object(Bucket="download", Key=s3.store.key("version.html"))
            self.assertEqual(storage_upload.CACHE_VERSION_PAGE, head["CacheControl"])
            head = s3.store.s3.head_object(Bucket="download",
                                           Key=s3.store.key("3.0/readme.txt.zip"))
            self.assertEqual(storage_upload.CACHE_IMMUTABLE, head["CacheControl"])
            # Objects of a live version never change.
            with open(os.path.join(v2, "readme.txt"), "a") as f:
                f.write("changed")
            changed = subprocess.run(upload_command(v2, "3.0"), capture_output=True, text=True)
            self.assertEqual(1, changed.returncode)
            self.assertIn("3.0/readme.txt.zip differs from the live release's", changed.stderr)


class VerifyLive(unittest.TestCase):
    def test_each_planted_problem_is_found(self):
        work = tempfile.mkdtemp(prefix="fenwa-verify-test-")
        self.addCleanup(shutil.rmtree, work, True)
        release = make_release(os.path.join(work, "r"), "first", files=2)
        published = publish.publish(release, "1.0", os.path.join(work, "www"), sign_key=TEST_KEY,
                                    launcher=SIGNED_EXE)
        other = tempfile.mkdtemp(dir=work)
        publish.keygen(other)
        with S3rver() as s3:
            storage_upload.upload(published.base, "1.0", TARGET, say=lambda _: None,
                                  storage=s3.store)
            key = s3.store.key

            def original(rel):
                with open(os.path.join(published.base, *rel.split("/")), "rb") as f:
                    return f.read()

            def put(rel, data):
                s3.store.s3.put_object(Bucket="download", Key=key(rel), Body=data)

            readme = original("1.0/readme.txt.zip")
            statement = original("1.0/release.sig.txt")
            filelist = original("1.0/filelist.lst").decode()
            resigned = statement[:statement.index(b"signature ")]
            resigned += publish.signature_line(publish.sign(publish.load_signing_key(
                os.path.join(other, publish.PRIVATE_KEY)), resigned))
            same_size = bytearray(readme)
            same_size[10] ^= 1  # the local header's time: still opens, other bytes
            cases = [
                # (what, object, planted bytes, public key, the problem line begins)
                ("old page, new folder", "2.0/readme.txt.zip", b"PK", PUBLIC_KEY, None),
                ("new page before its folder", "version.html", b"2.0", PUBLIC_KEY,
                 "2.0/filelist.lst: HTTP 404"),
                ("unsafe page", "version.html", b"../1.0", None, "version.html: "),
                ("truncated archive", "1.0/readme.txt.zip", readme[:-40], None,
                 "1.0/readme.txt.zip: not a zip archive"),
                ("archive of another file", "1.0/readme.txt.zip", original(
                    "1.0/data/f00.bin.zip"), None, "1.0/readme.txt.zip: holds 20000 bytes"),
                ("replaced, same size", "1.0/readme.txt.zip", bytes(same_size), PUBLIC_KEY,
                 "1.0/readme.txt.zip does not match the signed release"),
                ("list against statement", "1.0/filelist.lst",
                 filelist.replace("readme.txt|13|", "readme.txt|14|").encode(), PUBLIC_KEY,
                 "1.0/filelist.lst names other files or sizes"),
                ("statement changed", "1.0/release.sig.txt", statement.replace(
                    b"sequence ", b"sequence 1"), PUBLIC_KEY, "1.0/release.sig.txt: the signa"),
                ("another key", "1.0/release.sig.txt", resigned, PUBLIC_KEY,
                 "1.0/release.sig.txt: the signature does not verify"),
                ("no statement", "1.0/release.sig.txt", None, PUBLIC_KEY,
                 "1.0/release.sig.txt: HTTP 404"),
                ("launcher unlike its line", "1.0/FenwaLauncher.exe.zip",
                 original("1.0/FenwaHostSvr.exe.zip"), PUBLIC_KEY,
                 "1.0/FenwaLauncher.exe.zip does not match"),
            ]
            self.assertEqual(["OK"], verify_lines())
            for what, rel, planted, public, problem in cases:
                before = original(rel) if rel.startswith("1.0/") or rel == "version.html" \
                    else None
                if planted is None:
                    s3.store.delete([rel])
                else:
                    put(rel, planted)
                lines = verify_lines(public)
                if problem is None:
                    self.assertEqual(["OK"], lines, what)
                else:
                    self.assertTrue(lines[0].startswith(problem), (what, lines))
                    self.assertEqual("%d problem%s" % (len(lines) - 1, "s"[len(lines) == 2:]),
                                     lines[-1], what)
                if before is not None:
                    put(rel, before)
            self.assertEqual(["OK"], verify_lines())
            status = subprocess.run([sys.executable, TOOL, "verify", BASE_URL, "--key",
                                     os.path.join(other, publish.PUBLIC_KEY)],
                                    capture_output=True, text=True)
            self.assertEqual((1, "1 problem"), (status.returncode,
                                                status.stdout.splitlines()[-1]))
