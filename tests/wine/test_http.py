"""request_url under Wine against our own HTTP and HTTPS server on loopback: what the server
receives, which responses are read, downloads, the failure texts, time-outs and default ports."""

import json
import os
import re
import shutil
import socket
import subprocess
import time
import unittest

import winetest
from http_server import Response, TestServer, drip, endless

PROBE = os.path.join(winetest.HELPERS, "http_probe.exe")
LOCAL = "127.0.0.1"
CONTENT_TYPE = "application/json; charset=utf-8"
CONTENT_TYPE_LINE = "Content-Type: " + CONTENT_TYPE + "\r\n"
KOREAN = "\ud55c\uad6d\uc5b4 \ubcf8\ubb38"  # "Korean body" in Hangul
BOM = b"\xef\xbb\xbf"
# How Wine reports a time-out depends on where it strikes (send or read); Windows says 12002.
TIMEOUT_CODES = (12002, 12030, 10060)
SEND_FAILED_RE = re.compile(
    r"^HttpSendRequest failed\. elapsed = (\d+)ms\. error code = (\d+)\((.*)\)$", re.S)

_prefix = None
_probe = None


def setUpModule():
    global _prefix, _probe
    _prefix = winetest.Prefix("http")
    # A copy: a build running meanwhile may relink the helper under our feet.
    _probe = os.path.join(_prefix.path, "drive_c", "http_probe.exe")
    shutil.copy(PROBE, _probe)


def tearDownModule():
    if _prefix:
        _prefix.cleanup()


def _escape(value):
    """The probe's escapes: backslash, line ends and everything beyond ASCII."""
    out = []
    for ch in str(value):
        if ch == "\\":
            out.append("\\\\")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif ord(ch) < 0x20 or ord(ch) > 0x7E:
            units = ch.encode("utf-16-le")
            for i in range(0, len(units), 2):
                out.append("\\u%04x" % int.from_bytes(units[i:i + 2], "little"))
        else:
            out.append(ch)
    return "".join(out)


def probe(host=LOCAL, port=0, path="", method=None, https=0, body=None, download=None,
          full_url=None, timeout_ms=None, headers=(), fallback=False, run_timeout=60, limits=None):
    """Runs one request_url call in the module's prefix and returns the record as a dict.
    limits: the probe's bound options without their dashes, e.g. {"text-deadline": 2000}."""
    args = ["--host", host, "--port", port, "--path", path, "--https", https]
    for name, value in sorted((limits or {}).items()):
        args += ["--" + name, value]
    for name, value in (("--method", method), ("--body", body), ("--download", download),
                        ("--full-url", full_url), ("--timeout", timeout_ms)):
        if value is not None:
            args += [name, value]
    for line in headers:
        args += ["--header", line]
    if fallback:
        args.append("--fallback")
    r = _prefix.run(_probe, [_escape(a) for a in args], timeout=run_timeout)
    if r.rc != 0 or not r.out.strip():
        raise AssertionError("http_probe failed: %r" % (r,))
    return json.loads(r.out)


def free_port():
    """A loopback port on which nothing listens."""
    s = socket.socket()
    s.bind((LOCAL, 0))
    port = s.getsockname()[1]
    s.close()
    return port


def can_bind(*ports):
    for port in ports:
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind((LOCAL, port))
        except OSError:
            return False
        finally:
            s.close()
    return True


def ours(request):
    """The header names of a request without the ones WinINet adds itself."""
    return [n for n in request.header_names() if n.lower() not in
            ("host", "user-agent", "content-length", "pragma", "cache-control", "connection")]


class ServerTest(unittest.TestCase):
    routes = {}

    @classmethod
    def setUpClass(cls):
        cls.server = TestServer(cls.routes, http_port=0, https_port=0).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.server.clear()

    def only_request(self):
        self.assertEqual(1, len(self.server.requests), self.server.requests)
        return self.server.requests[0]


def _echo(req):
    return (200, {}, b"method=" + req.method.encode() + b"; body=" + req.body)


class HttpExchange(ServerTest):
    routes = {
        "/a/b": "hello",
        "/echo": _echo,
        "/missing": (404, {}, b"not here"),
        "/moved": (302, {}, b"moved body"),
        "/broken": (500, {}, b"server error body"),
        "/bom": BOM + b"1.0.0.7",
        "/korean": KOREAN,
        "/nolen": Response(body=b"".join(b"%06d," % i for i in range(8000)), content_length=False),
        "/lie": Response(body=b"0123456789" * 500, content_length=10),
        "/short": Response(raw=b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + b"z" * 500),
        "/hang": Response(hang=True),
        "/stall": Response(raw=b"HTTP/1.0 200 OK\r\n\r\npart of a body", hang=True),
    }

    def test_text_200_and_the_request_the_server_saw(self):
        r = probe(port=self.server.http_port, path="a/b?x=1&y=2",
                  headers=["X-First: 1", "X-Second: 2\r\n"])
        self.assertEqual(200, r["status"])
        self.assertEqual("hello", r["text"])
        self.assertEqual("http://%s:%d/a/b?x=1&y=2" % (LOCAL, self.server.http_port), r["full_url"])
        self.assertEqual("/a/b?x=1&y=2", r["path"])
        self.assertEqual(0, r["is_https"])
        self.assertGreaterEqual(r["elapsed_ms"], 0)
        self.assertEqual([CONTENT_TYPE_LINE, "X-First: 1\r\n", "X-Second: 2\r\n"], r["headers"])
        req = self.only_request()
        self.assertEqual("GET /a/b?x=1&y=2 HTTP/1.0", req.request_line)
        self.assertEqual("HTTP/1.0", req.version)
        self.assertEqual(["Content-Type", "X-First", "X-Second"], ours(req))
        self.assertEqual(CONTENT_TYPE, req.header("Content-Type"))
        self.assertEqual("request_url", req.header("User-Agent"))
        self.assertEqual(b"", req.body)
        self.assertIsNone(req.header("Content-Length"), "no body, no length")

    def test_https_with_a_self_signed_certificate(self):
        r = probe(port=self.server.https_port, path="/a/b", https=1)
        self.assertEqual((200, "hello"), (r["status"], r["text"]))
        self.assertEqual("https://%s:%d/a/b" % (LOCAL, self.server.https_port), r["full_url"])
        req = self.only_request()
        self.assertEqual(("https", "GET /a/b HTTP/1.0"), (req.scheme, req.request_line))

    def test_methods_upper_cased_and_body_sent_as_utf8(self):
        for method, want in (("post", "POST"), ("Put", "PUT"), ("delete", "DELETE"), ("", "GET")):
            self.server.clear()
            r = probe(port=self.server.http_port, path="/echo", method=method, body=KOREAN)
            self.assertEqual(want, r["method"])
            req = self.only_request()
            self.assertEqual(want + " /echo HTTP/1.0", req.request_line)
            self.assertEqual(KOREAN.encode("utf-8"), req.body)
            self.assertEqual(str(len(KOREAN.encode("utf-8"))), req.header("Content-Length"))
            self.assertEqual(200, r["status"])

    def test_404_body_is_read(self):
        r = probe(port=self.server.http_port, path="/missing")
        self.assertEqual((404, "not here"), (r["status"], r["text"]))
        self.assertGreaterEqual(r["elapsed_ms"], 0)

    def test_302_and_500_are_not_read(self):
        for path, status in (("/moved", 302), ("/broken", 500)):
            r = probe(port=self.server.http_port, path=path)
            self.assertEqual(status, r["status"])
            self.assertEqual("", r["text"])
            self.assertEqual(0, r["elapsed_ms"], "written only when a body was read")

    def test_byte_order_mark_removed(self):
        r = probe(port=self.server.http_port, path="/bom")
        self.assertEqual((200, "1.0.0.7"), (r["status"], r["text"]))

    def test_korean_text_goes_through_the_ansi_code_page(self):
        # Wine's default ANSI code page (1252) has no Hangul: each syllable comes back as its
        # default character, as it would on a Western Windows.
        r = probe(port=self.server.http_port, path="/korean")
        self.assertEqual(200, r["status"])
        self.assertEqual("??? ??", r["text"])

    def test_text_above_40960_bytes_without_length_comes_back_whole(self):
        r = probe(port=self.server.http_port, path="/nolen")
        want = self.routes["/nolen"].body.decode()
        self.assertGreater(len(want), 40960)
        self.assertEqual(200, r["status"])
        self.assertEqual(len(want), len(r["text"]))
        self.assertEqual(want, r["text"])

    def test_more_than_the_announced_length_is_not_an_overrun(self):
        r = probe(port=self.server.http_port, path="/lie")
        body = self.routes["/lie"].body.decode()
        self.assertEqual(200, r["status"])
        # Wine hands over all that arrives; Windows stops at the announced ten bytes.
        self.assertIn(len(r["text"]), (10, len(body)))
        self.assertEqual(body[:len(r["text"])], r["text"])

    def test_body_shorter_than_announced_is_a_failure(self):
        r = probe(port=self.server.http_port, path="/short")
        self.assertEqual(-1, r["status"])
        self.assertRegex(r["text"], r"^Incomplete response\. elapsed = \d+ms\. "
                                    r"received 500 of 1000 bytes\.$")
        self.assertEqual(0, r["elapsed_ms"])

    def test_body_cut_off_by_a_time_out_is_a_failure(self):
        r = probe(port=self.server.http_port, path="/stall", timeout_ms=1500)
        self.assertIn(r["status"], TIMEOUT_CODES)
        self.assertRegex(r["text"], r"^InternetReadFile failed\. elapsed = \d+ms\. "
                                    r"error code = %d\(.+\)$" % r["status"])

    def test_method_outside_the_four_refused_before_any_traffic(self):
        r = probe(port=self.server.http_port, path="/a/b", method="patch")
        self.assertEqual(405, r["status"])
        self.assertEqual('Unknown HTTP Request method("PATCH")', r["text"])
        self.assertEqual("PATCH", r["method"])
        self.assertEqual([], r["headers"], "refused before the headers were prepared")
        self.assertEqual([], self.server.requests)

    def test_host_shorter_than_seven_characters_refused(self):
        r = probe(host="a.b.cd", port=self.server.http_port, path="x", https=1)
        self.assertEqual(-1, r["status"])
        self.assertEqual("Invalid IP address = a.b.cd", r["text"])
        self.assertEqual("https://a.b.cd:%d/x" % self.server.http_port, r["full_url"])
        r = probe(host="http://a.b.c", port=0, https=1)
        self.assertEqual("Invalid IP address = a.b.c", r["text"])
        self.assertEqual("http://a.b.c:0/", r["full_url"], "formed before the default port")
        self.assertEqual([], self.server.requests)

    def test_full_url_overrides_host_port_path_and_scheme(self):
        url = "https://%s:%d/a/./x/../b?q=1#frag" % (LOCAL, self.server.https_port)
        r = probe(host="ignored.example", port=self.server.http_port, path="/nothing", https=0,
                  full_url=url)
        self.assertEqual((200, "hello"), (r["status"], r["text"]))
        self.assertEqual((LOCAL, self.server.https_port, "/a/b?q=1", 1),
                         (r["host"], r["port"], r["path"], r["is_https"]))
        self.assertEqual("https://%s:%d/a/b?q=1" % (LOCAL, self.server.https_port), r["full_url"])
        self.assertEqual("GET /a/b?q=1 HTTP/1.0", self.only_request().request_line)

    def test_full_url_without_scheme_takes_the_records_scheme(self):
        r = probe(host="ignored.example", port=8080, https=0,
                  full_url="%s:%d/a/b" % (LOCAL, self.server.http_port))
        self.assertEqual((200, 0), (r["status"], r["is_https"]))
        self.assertEqual("http://%s:%d/a/b" % (LOCAL, self.server.http_port), r["full_url"])
        self.assertEqual("http", self.only_request().scheme)

    def test_full_url_escaped_as_in_a_browser(self):
        r = probe(full_url="http://%s:%d/a dir/../b c" % (LOCAL, self.server.http_port))
        self.assertEqual(404, r["status"])
        self.assertEqual("/b%20c", r["path"])
        self.assertEqual("GET /b%20c HTTP/1.0", self.only_request().request_line)

    def test_server_that_never_answers_times_out(self):
        r = probe(port=self.server.http_port, path="/hang", timeout_ms=2000)
        self.assertIn(r["status"], TIMEOUT_CODES)
        m = SEND_FAILED_RE.match(r["text"])
        self.assertTrue(m, r["text"])
        self.assertEqual(r["status"], int(m.group(2)))
        self.assertTrue(m.group(3).strip())
        self.assertGreaterEqual(int(m.group(1)), 1500)
        self.assertLess(int(m.group(1)), 20000)
        self.assertEqual(0, r["elapsed_ms"])

    def test_closed_port(self):
        port = free_port()
        r = probe(port=port, path="/a")
        self.assertEqual(12029, r["status"])
        m = SEND_FAILED_RE.match(r["text"])
        self.assertTrue(m, r["text"])
        self.assertEqual("12029", m.group(2))
        self.assertTrue(m.group(3).strip(), "the error has a text")
        self.assertLess(int(m.group(1)), 5000, "refused at once")


class DownloadTest(ServerTest):
    """Gives each test its own download folder, C:\\dl\\<test name>."""

    def setUp(self):
        super().setUp()
        self.folder = os.path.join(_prefix.path, "drive_c", "dl", self.id().rsplit(".", 1)[-1])
        os.makedirs(self.folder, exist_ok=True)

    def win(self, *parts):
        return "C:\\dl\\" + "\\".join((self.id().rsplit(".", 1)[-1],) + parts)

    def unix(self, *parts):
        return os.path.join(self.folder, *parts)


class HttpDownload(DownloadTest):
    blob = bytes((i * 7 + i // 251) % 256 for i in range(10000))  # zeros and marks included
    routes = {
        "/blob.zip": Response(body=blob),
        "/bom.zip": Response(body=BOM + b"\x00rest"),
        "/empty.zip": Response(body=b""),
        "/missing.zip": (404, {}, b"no such archive"),
    }

    def test_download_replaces_an_existing_file(self):
        with open(self.unix("a.zip"), "wb") as f:
            f.write(b"old content that is longer than nothing" * 1000)
        r = probe(port=self.server.http_port, path="/blob.zip", download=self.win("a.zip"))
        self.assertEqual((200, ""), (r["status"], r["text"]))
        self.assertEqual(len(self.blob), r["bytes_written"])
        self.assertGreaterEqual(r["elapsed_ms"], 0)
        with open(self.unix("a.zip"), "rb") as f:
            self.assertEqual(self.blob, f.read())

    def test_download_keeps_bytes_that_text_would_drop(self):
        r = probe(port=self.server.http_port, path="/bom.zip", download=self.win("b.zip"))
        self.assertEqual(200, r["status"])
        with open(self.unix("b.zip"), "rb") as f:
            self.assertEqual(BOM + b"\x00rest", f.read())

    def test_download_creates_missing_folders(self):
        r = probe(port=self.server.http_port, path="/blob.zip",
                  download=self.win("new", "deeper", "c.zip"))
        self.assertEqual(200, r["status"])
        with open(self.unix("new", "deeper", "c.zip"), "rb") as f:
            self.assertEqual(self.blob, f.read())

    def test_empty_body_neither_deletes_nor_creates_the_file(self):
        with open(self.unix("kept.zip"), "wb") as f:
            f.write(b"keep me")
        r = probe(port=self.server.http_port, path="/empty.zip", download=self.win("kept.zip"))
        self.assertEqual((200, "", 0), (r["status"], r["text"], r["bytes_written"]))
        with open(self.unix("kept.zip"), "rb") as f:
            self.assertEqual(b"keep me", f.read())
        r = probe(port=self.server.http_port, path="/empty.zip", download=self.win("none.zip"))
        self.assertEqual(200, r["status"])
        self.assertFalse(os.path.exists(self.unix("none.zip")))

    def test_404_body_goes_to_the_file(self):
        r = probe(port=self.server.http_port, path="/missing.zip", download=self.win("d.zip"))
        self.assertEqual((404, ""), (r["status"], r["text"]))
        with open(self.unix("d.zip"), "rb") as f:
            self.assertEqual(b"no such archive", f.read())

    def test_file_that_cannot_be_deleted(self):
        os.makedirs(self.unix("taken.zip"))  # a folder in the file's place
        r = probe(port=self.server.http_port, path="/blob.zip", download=self.win("taken.zip"))
        self.assertEqual(-1, r["status"])
        self.assertEqual("error=" + self.win("taken.zip") + "\n\nfail to DeleteFile().", r["text"])
        self.assertEqual(0, r["bytes_written"])

    def test_file_that_cannot_be_created(self):
        with open(self.unix("plain"), "wb") as f:
            f.write(b"a file where a folder should be")
        target = self.win("plain", "e.zip")
        r = probe(port=self.server.http_port, path="/blob.zip", download=target)
        self.assertEqual(-1, r["status"])
        self.assertEqual("error=" + target + "\n\nfail to CreateFile().", r["text"])


TOO_LARGE_RE = r"^Response too large\. elapsed = \d+ms\. limit = %d bytes\.$"
TOO_SLOW_RE = r"^Response too slow\. elapsed = (\d+)ms\. received (\d+) bytes\. limit = %s\.$"
MiB = 1 << 20


def can_mount():
    """Root inside run_all.py's private mount namespace: a mount there is seen by no one else."""
    return os.geteuid() == 0 and bool(os.environ.get("FENWA_IN_NETNS"))


class HttpBounds(DownloadTest):
    """Servers that send without end, drip, or overrun a disk: each request ends within the
    stated time with status -1 and a text naming the bound, and leaves no partial file."""
    big = bytes(i % 251 for i in range(256 * 1024))
    routes = {
        "/endless": Response(content_length=False, stream=endless()),
        "/overlong": Response(body=b"0123456789", content_length=10, stream=endless()),
        "/announced": Response(raw=b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\nsome" % (8 * MiB),
                               hang=True),
        "/drip": Response(content_length=False, stream=drip(0.5)),
        "/trickle": Response(content_length=10 * 1024, stream=drip(0.3, b"t" * 1024, 10)),
        "/big.zip": Response(body=big),
    }

    def timed_probe(self, within, **kw):
        t0 = time.monotonic()
        r = probe(port=self.server.http_port, run_timeout=within + 30, **kw)
        self.assertLess(time.monotonic() - t0, within, r)
        return r

    def test_endless_text_stops_at_4_MiB(self):
        r = self.timed_probe(20, path="/endless")
        self.assertEqual(-1, r["status"])
        self.assertRegex(r["text"], TOO_LARGE_RE % (4 * MiB))
        self.assertEqual(0, r["elapsed_ms"])
        # Far past its Content-Length: Wine hands over all that arrives, Windows stops at it.
        r = self.timed_probe(20, path="/overlong")
        if r["status"] == 200:
            self.assertEqual("0123456789", r["text"])
        else:
            self.assertEqual(-1, r["status"])
            self.assertRegex(r["text"], TOO_LARGE_RE % (4 * MiB))

    def test_announced_length_beyond_the_bound_fails_before_reading(self):
        # The server then says nothing more: waiting for it would take the 5 s time-out.
        with open(self.unix("kept.zip"), "wb") as f:
            f.write(b"keep me")
        r = self.timed_probe(5, path="/announced", timeout_ms=5000, download=self.win("kept.zip"),
                             limits={"max-download": MiB})
        self.assertEqual(-1, r["status"])
        self.assertRegex(r["text"], TOO_LARGE_RE % MiB)
        with open(self.unix("kept.zip"), "rb") as f:
            self.assertEqual(b"keep me", f.read(), "nothing arrived, nothing replaced")

    def test_endless_download_stops_at_its_bound_and_leaves_no_file(self):
        with open(self.unix("a.zip"), "wb") as f:
            f.write(b"old")
        r = self.timed_probe(20, path="/endless", download=self.win("a.zip"),
                             limits={"max-download": MiB})
        self.assertEqual(-1, r["status"])
        self.assertRegex(r["text"], TOO_LARGE_RE % MiB)
        self.assertGreater(r["bytes_written"], MiB - 4096)
        self.assertLessEqual(r["bytes_written"], MiB)
        self.assertEqual([], os.listdir(self.folder))

    def test_drip_fails_at_the_deadline(self):
        # A byte every 0.5 s never trips the 1.5 s receive time-out; the deadline ends it.
        r = self.timed_probe(10, path="/drip", timeout_ms=1500, limits={"text-deadline": 2000})
        self.assertEqual(-1, r["status"])
        m = re.match(TOO_SLOW_RE % "the whole body in 2000ms", r["text"])
        self.assertTrue(m, r["text"])
        self.assertGreaterEqual(int(m.group(1)), 2000)
        self.assertLess(int(m.group(1)), 2000 + 1500, "at most one receive time-out late")
        r = self.timed_probe(10, path="/drip", timeout_ms=1500, download=self.win("d.zip"),
                             limits={"window-ms": 2000, "window-bytes": 1024})
        self.assertEqual(-1, r["status"])
        m = re.match(TOO_SLOW_RE % "1024 bytes in every 2000ms", r["text"])
        self.assertTrue(m, r["text"])
        self.assertLess(int(m.group(1)), 2000 + 1500)
        self.assertFalse(os.path.exists(self.unix("d.zip")))

    def test_slow_but_live_download_completes(self):
        # 1 KiB every 0.3 s for 3 s, twice as long as the window: each window brings its 2 KiB.
        r = self.timed_probe(15, path="/trickle", download=self.win("t.zip"),
                             limits={"window-ms": 1500, "window-bytes": 2048})
        self.assertEqual((200, "", 10 * 1024), (r["status"], r["text"], r["bytes_written"]))
        self.assertGreater(r["elapsed_ms"], 1500)
        with open(self.unix("t.zip"), "rb") as f:
            self.assertEqual(b"t" * 10 * 1024, f.read())

    @unittest.skipUnless(can_mount(), "needs root in run_all.py's private mount namespace")
    def test_write_failure_on_a_full_disk(self):
        full = self.unix("full")
        os.makedirs(full)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", full], check=True)
        try:
            r = self.timed_probe(20, path="/big.zip", download=self.win("full", "big.zip"))
            self.assertEqual(-1, r["status"])
            m = re.match(r"^WriteFile failed\. error code = (\d+)\((.+)\)$", r["text"], re.S)
            self.assertTrue(m, r["text"])
            self.assertEqual("112", m.group(1), "ERROR_DISK_FULL")
            self.assertLess(r["bytes_written"], len(self.big))
            self.assertEqual([], os.listdir(full), "the cut file is deleted")
        finally:
            subprocess.run(["umount", full], check=False)


@unittest.skipUnless(can_bind(80, 443), "ports 80 and 443 need the private network namespace")
class HttpDefaultPorts(unittest.TestCase):
    routes = {"/v": "1.0.0.7", "/p": lambda req: "over " + req.scheme}

    def setUp(self):
        self.server = TestServer(self.routes, http_port=80, https_port=443).start()

    def tearDown(self):
        self.server.stop()

    def test_port_below_one_means_the_schemes_default(self):
        for https, scheme, port in ((1, "https", 443), (0, "http", 80)):
            self.server.clear()
            r = probe(port=0, path="/p", https=https)
            self.assertEqual((200, "over " + scheme, port), (r["status"], r["text"], r["port"]))
            self.assertEqual("%s://%s:0/p" % (scheme, LOCAL), r["full_url"])
            self.assertEqual(scheme, self.server.requests[0].scheme)

    def test_port_decides_the_scheme(self):
        r = probe(port=80, path="/p", https=1)
        self.assertEqual(("over http", 0), (r["text"], r["is_https"]))
        r = probe(port=443, path="/p", https=0)
        self.assertEqual(("over https", 1), (r["text"], r["is_https"]))

    def test_scheme_prefix_on_the_host(self):
        r = probe(host="https://" + LOCAL, port=0, path="/p", https=0)
        self.assertEqual(("over https", LOCAL, 1, 443),
                         (r["text"], r["host"], r["is_https"], r["port"]))
        r = probe(host="http://" + LOCAL, port=0, path="/p", https=1)
        self.assertEqual(("over http", LOCAL, 0, 80),
                         (r["text"], r["host"], r["is_https"], r["port"]))

    def test_full_url_without_scheme_or_port_goes_to_443(self):
        r = probe(host="ignored.example", port=8080, https=1, full_url=LOCAL + "/v?x=1")
        self.assertEqual((200, "1.0.0.7"), (r["status"], r["text"]))
        self.assertEqual((1, 443), (r["is_https"], r["port"]))
        self.assertEqual("https://%s:443/v?x=1" % LOCAL, r["full_url"])
        self.assertEqual("https", self.server.requests[0].scheme)

    def test_fallback_to_http_sends_the_content_type_once(self):
        self.server.route("/f", lambda req: "" if req.scheme == "https" else "from http")
        r = probe(port=443, path="/f", https=1, fallback=True)
        self.assertEqual((2, 200, "from http"), (r["calls"], r["status"], r["text"]))
        self.assertEqual("http://%s:80/f" % LOCAL, r["full_url"])
        self.assertEqual([CONTENT_TYPE_LINE], r["headers"])
        self.assertEqual(["https", "http"], [q.scheme for q in self.server.requests])
        for req in self.server.requests:
            self.assertEqual(1, [n.lower() for n in req.header_names()].count("content-type"))


@unittest.skipUnless(can_bind(443), "port 443 needs the private network namespace")
class HttpPrefixBeatsPort443(unittest.TestCase):
    def test_http_prefix_with_port_443_is_plain_http(self):
        with TestServer({"/p": lambda req: "over " + req.scheme}, http_port=443) as server:
            r = probe(host="http://" + LOCAL, port=443, path="/p", https=1)
            self.assertEqual((200, "over http"), (r["status"], r["text"]))
            self.assertEqual((0, 443), (r["is_https"], r["port"]))
            self.assertEqual("http://%s:443/p" % LOCAL, r["full_url"])
            self.assertEqual("GET /p HTTP/1.0", server.requests[0].request_line)


if __name__ == "__main__":
    unittest.main()
