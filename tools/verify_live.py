"""Fetches a live release the way a launcher does, from the URL launchers use (through the
CDN), and checks everything the launcher checks. Used by publish.py verify."""

import hashlib
import os
import re
import shutil
import tempfile
import urllib.error
import urllib.parse
import urllib.request
import zipfile

from publish import (HOST_EXE, LAUNCHER_EXE, STATEMENT, STATEMENT_HEADER, Entry, PublishError,
                     archive_members, check_archive, file_sha256, name_problem,
                     read_file_version, statement_name_problem, version_text_problem)

TIMEOUT = 60
_HEX64 = r"[0-9a-f]{64}"
_NUM = r"(?:0|[1-9][0-9]{0,18})"
_STATEMENT_LINES = [
    ("file", re.compile(r"file ([^|]+)\|(%s)\|(%s)\|(%s)\|(%s)$" % (_NUM, _HEX64, _NUM, _HEX64))),
    ("member", re.compile(r"member ([^|]+)\|([^|]+)\|(%s)\|(%s)$" % (_NUM, _HEX64))),
    ("launcher", re.compile(r"launcher (%s)\|(%s)\|(%s)\|(%s)$" % (_NUM, _HEX64, _NUM, _HEX64))),
]


def fetch(url, dest=None):
    """(HTTP status, body bytes or the file's (size, sha256)); status 0 when nothing
    answered. With dest the body is streamed into that file."""
    request = urllib.request.Request(url, headers={"User-Agent": "fenwa-verify"})
    try:
        with urllib.request.urlopen(request, timeout=TIMEOUT) as r:
            if dest is None:
                return r.status, r.read(1 << 24)
            with open(dest, "wb") as f:
                shutil.copyfileobj(r, f, 1 << 20)
            return r.status, file_sha256(dest)
    except urllib.error.HTTPError as e:
        return e.code, None
    except (urllib.error.URLError, OSError, ValueError) as e:
        return 0, getattr(e, "reason", e)


def parse_statement(data):
    """{version, sequence, files, members, launcher, signed, signature} of a statement's
    text, or a string saying why the launcher would refuse it."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        return "not UTF-8"
    if "\r" in text or not text.endswith("\n"):
        return "lines not ended by \\n alone"
    lines = text[:-1].split("\n")
    if len(lines) < 4 or lines[0] != STATEMENT_HEADER:
        return "does not begin with %r" % STATEMENT_HEADER
    version = re.fullmatch(r"version (.+)", lines[1])
    sequence = re.fullmatch(r"sequence (%s)" % _NUM, lines[2])
    signature = re.fullmatch(r"signature ([0-9a-f]{128})", lines[-1])
    if not (version and sequence and signature):
        return "version, sequence or signature line not well formed"
    out = {"version": version.group(1), "sequence": int(sequence.group(1)), "files": [],
           "members": [], "launcher": None, "signature": bytes.fromhex(signature.group(1)),
           "signed": data[:len(data) - len(lines[-1]) - 1]}
    rank = 0
    for line in lines[3:-1]:
        for k, (kind, pattern) in enumerate(_STATEMENT_LINES):
            m = pattern.match(line)
            if m and k >= rank:
                rank = k
                break
        else:
            return "line %r not well formed or out of order" % line[:80]
        if kind == "launcher":
            if out["launcher"]:
                return "two launcher lines"
            out["launcher"] = (int(m.group(1)), m.group(2), int(m.group(3)), m.group(4))
        elif kind == "file":
            out["files"].append((m.group(1), int(m.group(2)), m.group(3), int(m.group(4)),
                                 m.group(5)))
        else:
            out["members"].append((m.group(1), m.group(2), int(m.group(3)), m.group(4)))
    names = [f[0] for f in out["files"]] + ["%s|%s" % m[:2] for m in out["members"]]
    bad = [n for n in names if statement_name_problem(n.split("|")[-1])]
    if bad or len(set(names)) != len(names):
        return "a name the launcher refuses, or one named twice (%s)" % (bad or names)[0]
    return out


def signature_problem(statement, public_pem):
    from publish import _crypto
    hashes, serialization, ec, utils = _crypto()
    try:
        with open(public_pem, "rb") as f:
            key = serialization.load_pem_public_key(f.read())
    except (OSError, ValueError) as e:
        raise PublishError("%s cannot be read as a public key (%s)" % (public_pem, e))
    sig = statement["signature"]
    der = utils.encode_dss_signature(int.from_bytes(sig[:32], "big"),
                                     int.from_bytes(sig[32:], "big"))
    try:
        key.verify(der, statement["signed"], ec.ECDSA(hashes.SHA256()))
    except Exception:
        return "the signature does not verify with %s" % os.path.basename(public_pem)
    return None


def parse_filelist(data, problems):
    """[Entry] as the launcher reads the list; what it would refuse goes to problems."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        problems.append("filelist.lst: not UTF-8")
        return []
    entries, seen = [], set()
    for number, line in enumerate(text.replace("\r\n", "\n").split("\n"), 1):
        line = line.strip()
        if not line or line[0] in ";#":
            continue
        fields = line.split("|", 2)
        if len(fields) < 3 or not re.fullmatch(r"[0-9]{1,18}", fields[1]):
            problems.append("filelist.lst line %d: not name|size|version: %r" % (number,
                                                                                line[:80]))
            continue
        name = fields[0]
        why = name_problem(name)
        if why or name.casefold() in seen:
            problems.append("filelist.lst line %d: %s %s" % (number, name, why or "named twice"))
            continue
        seen.add(name.casefold())
        entries.append(Entry(name, None, int(fields[1]), fields[2].split("|")[0]))
    if not entries and not problems:
        problems.append("filelist.lst names no file; the launcher refuses an empty list")
    return entries


def _archive_problems(path, entry):
    """What the launcher would find wrong in a downloaded archive of a listed entry."""
    bad, _notes = check_archive(path)
    if bad:
        return bad
    if entry.is_archive:
        return []
    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
        if not infos:
            return ["the archive is empty"]
        if infos[0].file_size != entry.size:
            return ["holds %d bytes, the file list says %d" % (infos[0].file_size, entry.size)]
    return []


def _unpacked_sha256(path):
    with zipfile.ZipFile(path) as z:
        h = hashlib.sha256()
        with z.open(z.infolist()[0]) as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                h.update(block)
        return z.infolist()[0].file_size, h.hexdigest()


def verify(url, public_pem=None, say=print, note=lambda text: None):
    """Checks the release live at url (the folder that holds version.html); returns the
    number of problems, each said as one line."""
    problems = []
    work = tempfile.mkdtemp(prefix="fenwa-verify-")
    try:
        _verify(url.rstrip("/"), public_pem, problems, work, note)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for p in problems:
        say(p)
    say("OK" if not problems else "%d problem%s" % (len(problems), "s"[len(problems) == 1:]))
    return len(problems)


def _verify(base, public_pem, problems, work, note):
    status, page = fetch(base + "/version.html")
    if status != 200:
        problems.append("version.html: %s" % ("HTTP %d" % status if status else page))
        return
    version = page.decode("utf-8", "replace").strip()
    why = version_text_problem(version)
    if why:
        problems.append("version.html: %s (%r)" % (why, version[:80]))
        return
    # Names go into the URL percent-encoded as UTF-8, as storage keys are.
    folder = base + "/" + urllib.parse.quote(version) + "/"
    status, data = fetch(folder + "filelist.lst")
    if status != 200:
        problems.append("%s/filelist.lst: %s: the version page names a folder that is not "
                        "(yet) there" % (version, "HTTP %d" % status if status else data))
        return
    entries = parse_filelist(data, problems)
    if not any(e.name == HOST_EXE for e in entries):
        problems.append("filelist.lst does not list %s, which the launcher starts" % HOST_EXE)
    statement = None
    if public_pem:
        status, data = fetch(folder + STATEMENT)
        statement = parse_statement(data) if status == 200 else "HTTP %d" % status
        if isinstance(statement, str):
            problems.append("%s/%s: %s" % (version, STATEMENT, statement))
            statement = None
        else:
            why = signature_problem(statement, public_pem)
            if why or statement["version"] != version:
                problems.append("%s/%s: %s" % (version, STATEMENT, why or "names version %s"
                                               % statement["version"]))
                statement = None
    signed = {f[0]: f for f in statement["files"]} if statement else {}
    if statement and [(f[0], f[1]) for f in statement["files"]] != [
            (e.name, e.size) for e in entries]:
        problems.append("%s/filelist.lst names other files or sizes than the signed "
                        "statement" % version)
    total = 0
    for n, e in enumerate(entries):
        where = "%s/%s" % (version, e.archive_path)
        path = os.path.join(work, "a%d.zip" % n)
        status, got = fetch(folder + urllib.parse.quote(e.archive_path), path)
        if status != 200:
            problems.append("%s: %s" % (where, "HTTP %d" % status if status else got))
            continue
        total += got[0]
        if e.is_archive and got[0] != e.size:
            problems.append("%s: %d bytes, the file list says %d" % (where, got[0], e.size))
            continue
        bad = _archive_problems(path, e)
        problems += ["%s: %s" % (where, b) for b in bad]
        s = signed.get(e.name)
        if bad or not s:
            continue
        if got != (s[3], s[4]):
            problems.append("%s does not match the signed release: %d bytes, SHA-256 %s; "
                            "signed: %d bytes, SHA-256 %s" % (where, got[0], got[1], s[3], s[4]))
        elif e.is_archive:
            members = [m[1:] for m in statement["members"] if m[0] == e.name]
            if sorted(archive_members(path)) != sorted(members):
                problems.append("%s: its members differ from the signed ones" % where)
        elif _unpacked_sha256(path) != (s[1], s[2]):
            problems.append("%s: the file in it differs from the signed one" % where)
    _check_launcher(folder, version, statement, work, problems, note)
    note("version %s: %d files, %d archive bytes%s" % (
        version, len(entries), total,
        ", signed, sequence %d" % statement["sequence"] if statement else ""))


def _check_launcher(folder, version, statement, work, problems, note):
    path = os.path.join(work, LAUNCHER_EXE + ".zip")
    where = "%s/%s.zip" % (version, LAUNCHER_EXE)
    status, got = fetch(folder + LAUNCHER_EXE + ".zip", path)
    if status in (403, 404):
        note("%s: none, the launcher's own update is not offered" % where)
        if statement and statement["launcher"]:
            problems.append("%s: missing, though the statement signs one" % where)
        return
    if status != 200:
        problems.append("%s: %s" % (where, "HTTP %d" % status if status else got))
        return
    bad, _ = check_archive(path)
    if bad:
        problems += ["%s: %s" % (where, b) for b in bad]
        return
    exe = os.path.join(work, LAUNCHER_EXE)
    with zipfile.ZipFile(path) as z, z.open(z.infolist()[0]) as src, open(exe, "wb") as dst:
        shutil.copyfileobj(src, dst, 1 << 20)
    file_version = read_file_version(exe)
    if not file_version or file_version == "(null)":
        problems.append("%s: the launcher in it has no FileVersion" % where)
    note("%s: FileVersion %s" % (where, file_version))
    if statement and statement["launcher"] != file_sha256(exe) + got:
        problems.append("%s does not match the statement's launcher line" % where)
