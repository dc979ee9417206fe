#!/usr/bin/env python3
"""Screenshots of the launcher under Wine on a virtual display, against the test server:
the main window at the start, during the downloads, after a failure, during a rollback,
maximised, the about box, and the access-code dialog empty, with an invalid and with a
valid code. `make screenshots` runs this; test_screens.py checks key pixels of the pictures.

  tests/wine/screens.py [OUTDIR] [--lang ko_KR|ja_JP]
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import winetest  # noqa: E402
from http_server import Response, TestServer  # noqa: E402
from launcher_env import URL_PREFIX  # noqa: E402
from pipeline_env import DOWNLOAD_PATH, PipelinePrefix, sample_release  # noqa: E402

OUT = os.path.join(winetest.BUILD, "screenshots")
PROBE = os.path.join(winetest.HELPERS, "screen_probe.exe")
SHOTS = ("start", "downloading", "failure", "rollback", "maximised", "about", "code-empty",
         "code-invalid", "code-valid")
CODE_BOX, CONNECT, NOTICE, WARNING, CLOSE = 1011, 1, 1010, 1013, 1014
TITLE, STATUS, COUNT = 1004, 1005, 1006
IDS_NOTICE, IDS_CODE_INSTRUCTION, IDS_SERVER_VERSION_FAIL = 102, 139, 106


# ---- PNG reading (8-bit RGB or RGBA, as ImageMagick writes them)

class Picture:
    def __init__(self, width, height, rows, channels):
        self.width, self.height, self.rows, self.channels = width, height, rows, channels

    def pixel(self, x, y):
        row = self.rows[y]
        i = x * self.channels
        return tuple(row[i:i + 3])

    def crop_check(self, x, y):
        return 0 <= x < self.width and 0 <= y < self.height


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG: " + path)
    pos, idat, width = 8, b"", 0
    height = depth = colour = 0
    palette = None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
        elif kind == b"PLTE":
            palette = body
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    if depth != 8 or colour not in (2, 3, 6):
        raise ValueError("unsupported PNG form %d/%d" % (depth, colour))
    channels = {2: 3, 3: 1, 6: 4}[colour]
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev = [], bytearray(stride)
    i = 0
    for _ in range(height):
        f = raw[i]
        line = bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = prev[x]
            c = prev[x - channels] if x >= channels else 0
            if f == 1:
                line[x] = (line[x] + a) & 0xFF
            elif f == 2:
                line[x] = (line[x] + b) & 0xFF
            elif f == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[x] = (line[x] + pred) & 0xFF
        rows.append(bytes(line))
        prev = line
    if colour == 3:
        rows = [bytes(b for idx in r for b in palette[idx * 3:idx * 3 + 3]) for r in rows]
        channels = 3
    return Picture(width, height, rows, channels)


# ---- driving the launcher

class Screens:
    def __init__(self, out=OUT, lang=None):
        self.out = out
        self.lang = lang
        os.makedirs(out, exist_ok=True)
        env = {"FENWA_HOST_EXIT_AFTER": "3"}
        if lang:
            env.update(winetest.build_locale(lang))
        # The template prefix brings the Korean and Japanese fonts.
        self.p = PipelinePrefix("screens" + ("-" + lang if lang else ""), env=env)
        self.display = winetest.ensure_display()
        self.root = tempfile.mkdtemp(prefix="fenwa-screens-")
        self.info = {}

    def close(self):
        self.p.cleanup()
        shutil.rmtree(self.root, ignore_errors=True)

    def probe(self, *args):
        r = self.p.run(PROBE, list(args), timeout=30)
        return r.out.strip() if r.rc == 0 else None

    def rect(self, *args, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            out = self.probe(*args)
            if out:
                return tuple(int(v) for v in out.split())
            time.sleep(0.2)
        return None

    def grab(self, name, rect):
        """The window's part of the display as a PNG, and its rectangle beside it. Cropped as
        it is taken: a window that stays 1.5 s leaves no time for the whole display's PNG."""
        env = dict(os.environ, DISPLAY=self.display)
        l, t, r, b = rect
        target = os.path.join(self.out, name + ".png")
        subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (r - l, b - t, l, t),
                        "+repage", target], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        with open(os.path.join(self.out, name + ".rect"), "w") as f:
            f.write("%d %d %d %d\n" % rect)
        return target

    def wait_for(self, server, path, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(r.path == path for r in server.requests):
                return True
            time.sleep(0.05)
        return False

    def start(self, *args):
        proc, _, _ = self.p.start(self.p.exe, list(args))
        return proc

    def finish(self, proc, timeout=60):
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.p.kill()
        self.p.wait_idle(20)

    def xdotool(self, *args):
        env = dict(os.environ, DISPLAY=self.display)
        subprocess.run(["xdotool"] + [str(a) for a in args], env=env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.4)

    def extent(self, string_id, face, points, weight):
        """(advance, height, ink width) of a string of the launcher in that font."""
        out = self.probe("extent", str(string_id), face, str(points), str(weight))
        return tuple(int(v) for v in out.split()) if out else None

    def colours(self):
        out = self.probe("colours") or ""
        return {n: (int(r), int(g), int(b)) for n, r, g, b in
                (line.split() for line in out.splitlines() if line.strip())}

    # ---- the pictures

    def shot_start_and_about(self):
        """The window while the server's version is late: at the start, maximised, about box."""
        base = "/" + DOWNLOAD_PATH
        asked = []

        def late(request):
            # The first asks before the window shows; the pipeline's own keeps the window up
            # long enough for the probes and grabs of a busy machine.
            asked.append(request)
            return Response(body=b"9.9", delay=12.0 if len(asked) == 1 else 25.0)

        routes = {base + "/version.html": late}
        with TestServer(routes, http_port=80, https_port=443, static_root=self.root):
            proc = self.start(URL_PREFIX + "S1")
            rect = self.rect("main")
            if rect:
                time.sleep(1.0)
                self.grab("start", rect)
                self.info["start.notice"] = self.rect("child", str(NOTICE))
                self.info["start.progress"] = self.rect("child", "1000")
                self.info["start.close"] = self.rect("child", "1003")
                for control in (TITLE, STATUS, COUNT):
                    self.info["start.%d" % control] = self.rect("child", str(control))
                # A double click on the title band maximises the window.
                env = dict(os.environ, DISPLAY=self.display)
                subprocess.run(["xdotool", "mousemove", str(rect[0] + 60), str(rect[1] + 12),
                                "click", "--repeat", "2", "--delay", "80", "1"], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(1.0)
                big = self.rect("main")
                if big:
                    self.grab("maximised", big)
                    self.info["maximised.progress"] = self.rect("child", "1000")
                    self.info["maximised.close"] = self.rect("child", "1003")
                    self.info["maximised.notice"] = self.rect("child", str(NOTICE))
                    self.info["work-area"] = self.probe("work-area")
                    subprocess.run(["xdotool", "mousemove", str(big[0] + 60), str(big[1] + 12),
                                    "click", "--repeat", "2", "--delay", "80", "1"], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    time.sleep(1.0)
                    self.info["restored"] = self.rect("main")
                    self.info["restored.progress"] = self.rect("child", "1000")
                    self.info["restored.close"] = self.rect("child", "1003")
                self.probe("about")
                about = self.rect("about-rect", timeout=10)
                if about:
                    time.sleep(0.7)
                    self.grab("about", about)
            self.p.kill()
            self.finish(proc, 5)

    def shot_downloading(self):
        release = sample_release("5.0", archive=False)
        release.publish(self.root)
        base = "/" + DOWNLOAD_PATH + "/5.0/"
        slow = base + "readme.txt.zip"
        with open(os.path.join(self.root, DOWNLOAD_PATH, "5.0", "readme.txt.zip"), "rb") as f:
            data = f.read()
        routes = {slow: Response(body=data, delay=4.0)}
        with TestServer(routes, http_port=80, https_port=443, static_root=self.root) as server:
            proc = self.start(URL_PREFIX + "D1")
            if self.wait_for(server, slow):
                time.sleep(0.8)
                rect = self.rect("main")
                if rect:
                    self.grab("downloading", rect)
                    self.info["downloading.progress"] = self.rect("child", "1000")
            self.finish(proc)

    def shot_failure(self):
        base = "/" + DOWNLOAD_PATH
        routes = {base + "/version.html": (404, {}, b"none")}
        with TestServer(routes, http_port=80, https_port=443, static_root=self.root) as server:
            proc = self.start(URL_PREFIX + "F1")
            rect = self.rect("main")
            self.info["failure.progress"] = self.rect("child", "1000")
            if rect and self.wait_for(server, base + "/version.html"):
                # Both the HTTPS and the HTTP request are refused; the window stays 1.5 s.
                deadline = time.monotonic() + 5
                while time.monotonic() < deadline and len(server.requests_for(base + "/version.html")) < 2:
                    time.sleep(0.05)
                # A busy machine may take long over a grab: take it early and again until the
                # track shows the failure, while the window is still there.
                l, t, r, b = self.info["failure.progress"] or rect
                bar = ((l + r) // 2 - rect[0], (t + b) // 2 - rect[1])
                until = time.monotonic() + 1.2
                time.sleep(0.3)
                while True:
                    try:
                        shown = read_png(self.grab("failure", rect)).pixel(*bar) == (255, 64, 0)
                    except ValueError:  # an empty grey picture: not drawn yet, or gone
                        shown = False
                    if shown or time.monotonic() > until:
                        break
                    time.sleep(0.1)
            self.finish(proc)

    def shot_rollback(self):
        first = sample_release("6.0", "old", archive=False)
        first.publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            self.finish(self.start(URL_PREFIX + "R0"))
        second = sample_release("6.1", "newer", archive=False)
        second.publish(self.root, skip=("bin/engine.dat",))
        missing = "/" + DOWNLOAD_PATH + "/6.1/bin/engine.dat.zip"
        with TestServer(http_port=80, https_port=443, static_root=self.root) as server:
            proc = self.start(URL_PREFIX + "R1")
            rect = self.rect("main")
            self.info["rollback.progress"] = self.rect("child", "1000")
            if rect and self.wait_for(server, missing):
                time.sleep(0.35)
                self.grab("rollback", rect)
            self.finish(proc)

    def shot_code_dialog(self):
        """The access-code dialog, typed into like a user does: empty, "12a", "123456"."""
        sample_release("7.0", archive=False).publish(self.root)
        with TestServer(http_port=80, https_port=443, static_root=self.root):
            # A URL without a parameter: the launcher asks for the code.
            proc = self.start(URL_PREFIX)
            rect = self.rect("code", timeout=60)
            if rect:
                time.sleep(1.0)
                self.info["code"] = rect
                self.info["code.shadow"] = self.rect("shadow")
                for control in (CODE_BOX, CONNECT, NOTICE, WARNING, CLOSE):
                    self.info["code.%d" % control] = self.rect("code-child", str(control))
                self.grab("code-empty", rect)
                box = self.info["code.%d" % CODE_BOX]
                self.xdotool("mousemove", (box[0] + box[2]) // 2, (box[1] + box[3]) // 2,
                             "click", 1)
                self.xdotool("type", "--delay", 60, "12a")
                self.grab("code-invalid", rect)
                self.xdotool("key", "--delay", 60, "BackSpace", "BackSpace", "BackSpace")
                self.xdotool("type", "--delay", 60, "123456")
                self.grab("code-valid", rect)
                self.xdotool("key", "Escape")
            self.finish(proc)

    def take_all(self, steps=("start", "downloading", "failure", "rollback", "code")):
        self.info["colours"] = self.colours()
        # How wide the main window's notice should come out: bold at 10 points.
        self.info["notice.extent"] = {
            weight: self.extent(IDS_NOTICE, "MS Shell Dlg", 10, weight) for weight in (400, 700)}
        # The status line of the failure picture, at the status label's 9 points.
        self.info["failure.extent"] = self.extent(IDS_SERVER_VERSION_FAIL, "MS Shell Dlg", 9, 400)
        shots = {"start": self.shot_start_and_about, "downloading": self.shot_downloading,
                 "failure": self.shot_failure, "rollback": self.shot_rollback,
                 "code": self.shot_code_dialog}
        for name in steps:
            shots[name]()
        with open(os.path.join(self.out, "info.txt"), "w") as f:
            for k in sorted(self.info):
                f.write("%s = %r\n" % (k, self.info[k]))
        return self.info




def main():
    args = sys.argv[1:]
    lang = None
    if "--lang" in args:
        i = args.index("--lang")
        lang = args[i + 1]
        del args[i:i + 2]
    out = args[0] if args else OUT
    winetest.reexec_in_netns()
    s = Screens(out, lang)
    try:
        info = s.take_all()
    finally:
        s.close()
    missing = [n for n in SHOTS if not os.path.exists(os.path.join(out, n + ".png"))]
    for name in SHOTS:
        print("%s %s" % ("missing" if name in missing else "saved  ", os.path.join(out, name + ".png")))
    _ = info
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
