"""Running Windows programs under Wine for the scenario tests.

Each test group gets its own prefix, copied from a template that is booted once and set up
for testing (no window manager delays, no crash debugger, fonts, real user folders). A
virtual display is started when none is given. Programs run with a time-out and their
output goes to files, never to a pipe (Wine's background processes would hold it open).
"""

import codecs
import fcntl
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.path.join(ROOT, "build")
WINE = os.environ.get("FENWA_WINE", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("FENWA_WINESERVER", "/usr/lib/wine/wineserver")
EXE = os.path.join(BUILD, "win", "FenwaLauncher.exe")
HELPERS = os.path.join(BUILD, "win", "helpers")
TEMPLATE = os.path.join(BUILD, "wine-template")
PREFIXES = os.path.join(BUILD, "wine-prefixes")
LOCALES = os.path.join(BUILD, "locales")

_display = None


def reexec_in_netns():
    """Runs this script again in a private network namespace with loopback up (as root), so
    that servers on ports 443 and 80 meet nothing else on the machine. Returns when already
    inside one, or when that cannot be done."""
    import shutil as _shutil
    import sys as _sys
    if os.environ.get("FENWA_IN_NETNS") or os.geteuid() != 0 or not _shutil.which("unshare"):
        return
    env = dict(os.environ, FENWA_IN_NETNS="1")
    cmd = "ip link set lo up && exec \"$0\" \"$@\""
    _sys.stdout.flush()
    os.execvpe("unshare", ["unshare", "-n", "-m", "--", "sh", "-c", cmd, _sys.executable] +
               _sys.argv, env)


def ensure_display():
    """Returns a usable X display, starting Xvfb once per process when needed."""
    global _display
    if _display:
        return _display
    if os.environ.get("FENWA_DISPLAY"):
        _display = os.environ["FENWA_DISPLAY"]
        return _display
    for num in range(91, 120):
        if os.path.exists("/tmp/.X%d-lock" % num):
            continue
        log = open(os.path.join(tempfile.gettempdir(), "fenwa-xvfb-%d.log" % num), "w")
        proc = subprocess.Popen(
            ["Xvfb", ":%d" % num, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            stdout=log, stderr=log, stdin=subprocess.DEVNULL, start_new_session=True)
        for _ in range(100):
            if os.path.exists("/tmp/.X11-unix/X%d" % num):
                break
            if proc.poll() is not None:
                break
            time.sleep(0.05)
        if proc.poll() is None:
            import atexit
            atexit.register(lambda: (proc.terminate(), proc.wait()))
            _display = ":%d" % num
            return _display
    raise RuntimeError("no X display could be started")


def _wine_env(prefix, extra=None):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        "DISPLAY": ensure_display(),
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
    })
    if extra:
        env.update(extra)
    return env


def _run_quiet(cmd, env, timeout=120):
    return subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          stdin=subprocess.DEVNULL, timeout=timeout).returncode


def _write_reg_file(prefix, env, text):
    path = os.path.join(prefix, "drive_c", "fenwa_setup.reg")
    with open(path, "w", encoding="utf-16") as f:
        f.write("Windows Registry Editor Version 5.00\r\n\r\n" + text)
    _run_quiet([WINE, "regedit", "/S", "C:\\fenwa_setup.reg"], env)
    os.remove(path)


# Raised whenever the template's set-up changes, so that an older template is built again.
TEMPLATE_VERSION = "7: Tahoma from smoothed outlines, Hangul and kana links"
_VERSION_FILE = "fenwa-template-version"

# Fonts copied into C:\windows\Fonts: Wine's own (Tahoma behind "MS Shell Dlg"), a Korean
# and a Japanese face.
_FONT_SOURCES = ("/usr/share/wine/fonts", "/usr/share/fonts/truetype/nanum",
                 "/usr/share/fonts/opentype/ipafont-gothic")
KOREAN_FACE, KOREAN_FILE = "NanumGothic", "NanumGothic.ttf"
# Behind "MS Shell Dlg" in Korean: its dialog units come out as wide as Tahoma's, where
# NanumGothic's would push the access-code dialog's Connect button past the window's edge.
KOREAN_DIALOG_FACE = "NanumBarunGothic"
JAPANESE_FACE, JAPANESE_FILE = "IPAPGothic", "ipagp.ttf"
# Behind "MS Shell Dlg" in Japanese, for the same reason: the fixed-pitch face keeps
# Tahoma's dialog units, the proportional one would not.
JAPANESE_DIALOG_FACE = "IPAGothic"
# Faces of the dialogs and the title font that draw their Hangul, kana and kanji from the
# linked fonts; NanumGothic has Hangul and kana but not the kanji only Japanese uses.
_LINKED_FACES = ("Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif",
                 "MS Sans Serif")
_REPLACEMENTS = {
    "Malgun Gothic": KOREAN_FACE, "맑은 고딕": KOREAN_FACE,
    "Gulim": KOREAN_DIALOG_FACE, "굴림": KOREAN_DIALOG_FACE, "Dotum": KOREAN_DIALOG_FACE,
    "Batang": KOREAN_DIALOG_FACE,
    "MS Gothic": JAPANESE_DIALOG_FACE, "MS UI Gothic": JAPANESE_DIALOG_FACE,
    "MS PGothic": JAPANESE_FACE,
    "Meiryo": JAPANESE_FACE, "Meiryo UI": JAPANESE_FACE,
    # No Arial here: Tahoma is the sans-serif face every prefix has.
    "Arial": "Tahoma",
}


def _reg_multi_sz(strings):
    data = "".join(s + "\0" for s in strings) + "\0"
    return "hex(7):" + ",".join("%02x" % b for b in data.encode("utf-16-le"))


# Tahoma is the face behind "MS Shell Dlg"; the other fonts stay as they come.
_SMOOTHED_FONTS = ("tahoma.ttf", "tahomabd.ttf")


def smoothed_outlines(data):
    """The font drawn from its outlines, smoothed, at every size. Wine draws the small sizes
    of its Tahoma from embedded bitmap strikes (the font asks for no smoothing there) but
    measures text with the outlines, so centred text lands left of its place, and at 13
    pixels bold comes out as the regular strike."""
    data = bytearray(data)
    if data[:4] not in (b"\x00\x01\x00\x00", b"true"):
        return bytes(data)
    count = int.from_bytes(data[4:6], "big")
    for i in range(count):
        at = 12 + 16 * i
        tag = bytes(data[at:at + 4])
        if tag in (b"EBLC", b"EBDT", b"EBSC"):
            data[at] = ord("x")  # out of sight
        elif tag == b"gasp":
            table = int.from_bytes(data[at + 8:at + 12], "big")
            version = int.from_bytes(data[table:table + 2], "big")
            ranges = int.from_bytes(data[table + 2:table + 4], "big")
            for k in range(ranges):
                flags = table + 4 + 4 * k + 2
                data[flags:flags + 2] = (0x000F if version else 0x0003).to_bytes(2, "big")
    return bytes(data)


def _copy_fonts(fonts):
    os.makedirs(fonts, exist_ok=True)
    for src in _FONT_SOURCES:
        if not os.path.isdir(src):
            continue
        for name in os.listdir(src):
            if name.endswith(".ttf"):
                with open(os.path.join(src, name), "rb") as f:
                    data = f.read()
                if name in _SMOOTHED_FONTS:
                    data = smoothed_outlines(data)
                with open(os.path.join(fonts, name), "wb") as f:
                    f.write(data)


def _font_settings():
    links = [KOREAN_FILE + "," + KOREAN_FACE, JAPANESE_FILE + "," + JAPANESE_FACE]
    lines = ["[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink"
             "\\SystemLink]"]
    lines += ['"%s"=%s' % (face, _reg_multi_sz(links)) for face in _LINKED_FACES]
    lines += ["", "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]"]
    lines += ['"%s"="%s"' % (face, to) for face, to in _REPLACEMENTS.items()]
    return lines


def _build_template():
    tmp = TEMPLATE + ".tmp"
    shutil.rmtree(tmp, ignore_errors=True)
    env = _wine_env(tmp)
    _run_quiet([WINE, "wineboot", "--init"], env, timeout=300)
    # The fonts are in place before the registry names them.
    _copy_fonts(os.path.join(tmp, "drive_c", "windows", "Fonts"))
    _write_reg_file(tmp, env, "\r\n".join([
        # Without a window manager every hide or EndDialog would wait about two seconds.
        "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]",
        '"Managed"="N"',
        "",
        # A crash must end the process, not start a debugger that waits forever.
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]",
        '"Debugger"=""',
        '"Auto"="0"',
        "",
    ] + _font_settings() + ["", ""]))
    _run_quiet([WINESERVER, "-w"], env)
    # The user folders are links to $HOME: make them real, private folders.
    users = os.path.join(tmp, "drive_c", "users")
    for user in os.listdir(users):
        if user == "Public":
            continue
        for name in os.listdir(os.path.join(users, user)):
            p = os.path.join(users, user, name)
            if os.path.islink(p):
                os.remove(p)
                os.makedirs(p)
    with open(os.path.join(tmp, _VERSION_FILE), "w") as f:
        f.write(TEMPLATE_VERSION)
    if os.path.isdir(TEMPLATE):
        old = TEMPLATE + ".old"
        shutil.rmtree(old, ignore_errors=True)
        os.rename(TEMPLATE, old)
        shutil.rmtree(old, ignore_errors=True)
    os.rename(tmp, TEMPLATE)


def _template_current():
    try:
        with open(os.path.join(TEMPLATE, _VERSION_FILE)) as f:
            return f.read() == TEMPLATE_VERSION
    except OSError:
        return False


def _template_lock():
    os.makedirs(BUILD, exist_ok=True)
    return open(os.path.join(BUILD, "wine-template.lock"), "w")


def template():
    """Builds the template prefix when it is missing or older than this set-up (safe when
    several test processes ask at once)."""
    with _template_lock() as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not _template_current():
            _build_template()
    return TEMPLATE


def copy_template(target):
    """Copies the template to `target`; a rebuild waits until the copy is done."""
    template()
    with _template_lock() as lock:
        fcntl.flock(lock, fcntl.LOCK_SH)
        subprocess.run(["cp", "-a", TEMPLATE, target], check=True)


def build_locale(name):
    """Builds a glibc locale (e.g. ko_KR) so that Wine picks that UI language; returns env."""
    os.makedirs(LOCALES, exist_ok=True)
    target = os.path.join(LOCALES, name + ".UTF-8")
    if not os.path.isdir(target):
        subprocess.run(["localedef", "-i", name, "-f", "UTF-8", target],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return {"LOCPATH": LOCALES, "LANG": name + ".UTF-8", "LC_ALL": name + ".UTF-8"}


class Result:
    def __init__(self, rc, out, err, elapsed):
        self.rc, self.out, self.err, self.elapsed = rc, out, err, elapsed

    def __repr__(self):
        return "Result(rc=%r, elapsed=%.2f, out=%r, err=%r)" % (
            self.rc, self.elapsed, self.out[-500:], self.err[-500:])


class Prefix:
    """A fresh Wine prefix for one test group."""

    def __init__(self, name, env=None):
        self.name = name
        self.path = os.path.join(PREFIXES, name)
        self.extra_env = dict(env or {})
        self.kill()
        shutil.rmtree(self.path, ignore_errors=True)
        os.makedirs(PREFIXES, exist_ok=True)
        copy_template(self.path)
        users = os.path.join(self.path, "drive_c", "users")
        self.user = next(u for u in sorted(os.listdir(users)) if u != "Public")
        self.logs = os.path.join(self.path, "test-output")
        os.makedirs(self.logs, exist_ok=True)
        self._count = 0
        self._started = []

    # ---- environment and paths
    def env(self, extra=None):
        e = dict(self.extra_env)
        if extra:
            e.update(extra)
        return _wine_env(self.path, e)

    def unix(self, win_path):
        """Maps a C:\\ or Z:\\ path of this prefix to the Unix file system."""
        p = win_path.replace("\\", "/")
        m = re.match(r"^([A-Za-z]):/?(.*)$", p)
        if not m:
            raise ValueError(win_path)
        drive, rest = m.group(1).lower(), m.group(2)
        if drive == "z":
            return "/" + rest
        return os.path.join(self.path, "drive_c" if drive == "c" else "dosdevices/%s:" % drive, rest)

    @staticmethod
    def win(unix_path):
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    @property
    def public_documents(self):
        return os.path.join(self.path, "drive_c", "users", "Public", "Documents")

    @property
    def my_documents(self):
        return os.path.join(self.path, "drive_c", "users", self.user, "Documents")

    @property
    def downloads(self):
        return os.path.join(self.path, "drive_c", "users", self.user, "Downloads")

    # ---- running programs
    def _files(self):
        self._count += 1
        base = os.path.join(self.logs, "run%03d" % self._count)
        return base + ".out", base + ".err"

    def start(self, exe, args=(), env=None, cwd=None):
        """Starts a program and returns (Popen, stdout path, stderr path)."""
        out_path, err_path = self._files()
        out, err = open(out_path, "wb"), open(err_path, "wb")
        proc = subprocess.Popen([WINE, exe] + list(args), env=self.env(env), stdout=out,
                                stderr=err, stdin=subprocess.DEVNULL, cwd=cwd or self.path,
                                start_new_session=True)
        out.close()
        err.close()
        self._started.append(proc)
        return proc, out_path, err_path

    def run(self, exe, args=(), timeout=60, env=None, cwd=None):
        """Runs a program to its end; a program still running at the time-out is killed."""
        t0 = time.monotonic()
        proc, out_path, err_path = self.start(exe, args, env, cwd)
        try:
            rc = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            rc = "timeout"
        elapsed = time.monotonic() - t0
        return Result(rc, _read(out_path), _read(err_path), elapsed)

    def wine(self, *args, timeout=60, env=None):
        """Runs one of Wine's own programs (reg, cmd, start ...)."""
        return self.run(args[0], args[1:], timeout=timeout, env=env)

    def wait_idle(self, timeout=60):
        """Waits until every process of the prefix has ended (scripts started hidden too)."""
        try:
            subprocess.run([WINESERVER, "-w"], env=self.env(), timeout=timeout,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            return True
        except subprocess.TimeoutExpired:
            return False

    def kill(self):
        if os.path.isdir(getattr(self, "path", "")):
            subprocess.run([WINESERVER, "-k"], env=_wine_env(self.path), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        for proc in getattr(self, "_started", []):
            if proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                proc.wait()

    def cleanup(self):
        self.kill()
        if not os.environ.get("FENWA_KEEP_PREFIXES"):
            shutil.rmtree(self.path, ignore_errors=True)

    # ---- registry
    def reg_export(self, key):
        """Returns {subkey path: {value name: value}} below `key`, exactly as stored.

        Strings come back as str, DWORDs as int, other types as bytes ('' is the default value).
        """
        out = os.path.join(self.path, "drive_c", "fenwa_export.reg")
        if os.path.exists(out):
            os.remove(out)
        r = self.wine("reg", "export", key, "C:\\fenwa_export.reg", "/y")
        if not os.path.exists(out):
            return {}
        data = open(out, "rb").read()
        os.remove(out)
        _ = r
        return parse_reg(data.decode("utf-16"))

    def reg_values(self, key):
        """The values of exactly `key` ({} when it does not exist)."""
        return self.reg_export(key).get(key.upper(), {})

    def reg_add(self, key, name, data, kind="REG_SZ"):
        args = ["reg", "add", key, "/f", "/t", kind, "/d", str(data)]
        if name is None:
            args += ["/ve"]
        else:
            args += ["/v", name]
        return self.wine(*args)

    def reg_set_string(self, key, name, text):
        """Stores any text as REG_SZ, line breaks and control characters included."""
        data = ",".join("%02x" % b for b in (text + "\0").encode("utf-16-le"))
        _write_reg_file(self.path, self.env(), '[%s]\r\n"%s"=hex(1):%s\r\n' % (key, name, data))

    def reg_delete(self, key):
        return self.wine("reg", "delete", key, "/f")


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def _unescape_reg_string(s):
    out, i = [], 0
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s):
            out.append(s[i + 1])
            i += 2
        else:
            out.append(s[i])
            i += 1
    return "".join(out)


def parse_reg(text):
    """Parses the text of a .reg export (version 5) into nested dicts; key names upper-cased."""
    result, current = {}, None
    lines = text.replace("\r\n", "\n").split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        while line.endswith("\\") and i < len(lines):
            line = line[:-1] + lines[i].strip()
            i += 1
        if line.startswith("[") and line.endswith("]"):
            current = result.setdefault(line[1:-1].upper(), {})
            continue
        if current is None or not line or line.startswith(";"):
            continue
        m = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
        if not m:
            continue
        name = "" if m.group(1) == "@" else _unescape_reg_string(m.group(1)[1:-1])
        raw = m.group(2)
        if raw.startswith('"'):
            current[name] = _unescape_reg_string(raw[1:-1])
        elif raw.startswith("dword:"):
            current[name] = int(raw[6:], 16)
        elif raw.startswith("hex"):
            kind, _, hexes = raw.partition(":")
            data = bytes(int(h, 16) for h in hexes.split(",") if h)
            if kind == "hex(2)" or kind == "hex(7)":
                current[name] = data.decode("utf-16-le")
            else:
                current[name] = data
    return result


def read_utf8_file(path):
    """A text file the launcher wrote: UTF-8 with or without a byte-order mark."""
    with open(path, "rb") as f:
        data = f.read()
    return codecs.decode(data, "utf-8-sig")
