#!/usr/bin/env python3
"""Publishes a release folder as the server tree that the launcher reads.

  publish.py --release DIR --version V --out SERVER_ROOT [--launcher FenwaLauncher.exe]
             [--download-path download/Customer/program_kr] [--language 0412]
  publish.py --file-version FILE...      prints each file's FileVersion as the launcher reads it
  publish.py keygen DIR                  a new release key: DIR/release-private.pem (PKCS#8,
                                         owner-only) and DIR/release-public.pem
  publish.py key-hex DIR/release-public.pem   the public key as the build setting takes it
  publish.py ... --upload s3://BUCKET/PREFIX [--endpoint URL] [--keep N]
                                         also puts the published tree into S3-compatible
                                         storage, the version page last (storage_upload.py)
  publish.py verify URL [--key DIR/release-public.pem]
                                         checks the release live at URL (the folder of
                                         version.html) as a launcher would (verify_live.py)

Under SERVER_ROOT/<download path>/ it writes:
  version.html              V, nothing else
  V/filelist.lst            one line per release file: name|size|FileVersion ("/" between folders)
  V/<name>.zip              the file as entry 0 (deflated, with its modification time)
  V/<name>                  a release file that is itself a .zip: published as it is; the
                            launcher unpacks all of it into a folder named without ".zip"
  V/FenwaLauncher.exe.zip   with --launcher: the launcher's own update archive
  V/release.sig.txt         with --sign-key DIR/release-private.pem: the signed statement of
                            the release (README.md, "Signed releases"); --sequence N sets its
                            sequence number (default: the time, above the live release's)

The release is checked before anything is written, the version folder is built beside the
live one and swapped in, and version.html is replaced last, so a launcher that reads the
server meanwhile sees either the old release or the new one, never half of one.

Python 3 standard library only, but for signing and keygen, which need the package
"cryptography" (Debian: python3-cryptography).
"""

import argparse
import base64
import filecmp
import hashlib
import mmap
import os
import shutil
import struct
import sys
import tempfile
import time
import zipfile
import zlib

DEFAULT_DOWNLOAD_PATH = "download/Customer/program_kr"
LAUNCHER_EXE = "FenwaLauncher.exe"
HOST_EXE = "FenwaHostSvr.exe"

# What the launcher's formatter printed for a missing string; callers compare with it.
MISSING = "(null)"

# The launcher's zip reader has no Zip64; Python switches to it above this size.
MAX_FILE_SIZE = int(zipfile.ZIP64_LIMIT / 1.05)
LONG_NAME = 200  # the program folder and this name must stay below 260 characters


class PublishError(Exception):
    """The release cannot be published; nothing was changed on the server side."""


# ---------------------------------------------------------------- FileVersion

RT_VERSION = 16
VS_VERSION_INFO = 1
LANG_ENGLISH_US = 0x0409


def _u16(data, at):
    return struct.unpack_from("<H", data, at)[0] if 0 <= at and at + 2 <= len(data) else None


def _u32(data, at):
    return struct.unpack_from("<I", data, at)[0] if 0 <= at and at + 4 <= len(data) else None


class _Pe:
    """Just enough of a PE file to find a resource: its sections and resource directory."""

    def __init__(self, data):
        self.data = data
        self.sections = []
        self.resource_rva = self.resource_size = 0
        self.ok = False
        if data[:2] != b"MZ":
            return
        nt = _u32(data, 0x3C)
        if nt is None or data[nt:nt + 4] != b"PE\0\0":
            return
        count = _u16(data, nt + 6)
        opt_size = _u16(data, nt + 20)
        opt = nt + 24
        magic = _u16(data, opt)
        if count is None or opt_size is None or magic not in (0x10B, 0x20B):
            return
        dirs = opt + (96 if magic == 0x10B else 112)
        n_dirs = _u32(data, dirs - 4)
        if n_dirs is None:
            return
        if n_dirs > 2:
            self.resource_rva = _u32(data, dirs + 16) or 0
            self.resource_size = _u32(data, dirs + 20) or 0
        at = opt + opt_size
        for _ in range(count):
            fields = data[at + 8:at + 24]
            if len(fields) < 16:
                return
            _vsize, va, raw_size, raw_at = struct.unpack("<IIII", fields)
            self.sections.append((va, raw_size, raw_at))
            at += 40
        self.ok = True

    def offset(self, rva):
        """File offset of an address, or None when no section holds it in the file."""
        for va, raw_size, raw_at in self.sections:
            if va <= rva < va + raw_size:
                return raw_at + (rva - va)
        return None


def _resource_dir_entries(data, root, at):
    """(id or None for named, is_directory, offset from root) of one resource directory."""
    named, ids = _u16(data, at + 12), _u16(data, at + 14)
    if named is None or ids is None:
        return []
    out = []
    for i in range(named + ids):
        e = at + 16 + 8 * i
        name, target = _u32(data, e), _u32(data, e + 4)
        if name is None or target is None:
            break
        ident = None if name & 0x80000000 else name & 0xFFFF
        out.append((ident, bool(target & 0x80000000), root + (target & 0x7FFFFFFF)))
    return out


def _version_languages_of(data):
    """(PE, the language entries of the version resource) or (PE, []) when it has none."""
    pe = _Pe(data)
    root = pe.offset(pe.resource_rva) if pe.ok and pe.resource_size else None
    if root is None:
        return pe, []
    level = root
    for wanted in (RT_VERSION, VS_VERSION_INFO):
        match = [e for e in _resource_dir_entries(data, root, level) if e[0] == wanted and e[1]]
        if not match:
            return pe, []
        level = match[0][2]
    return pe, _resource_dir_entries(data, root, level)


def find_version_resource(data, languages=()):
    """The bytes of the file's version resource (type 16, id 1), or None.

    The language is chosen as the platform does for a neutral request: neutral first, then
    the caller's locale languages, then English (US), then the first one there is. With one
    language, as almost every program has, the choice does not matter.
    """
    pe, entries = _version_languages_of(data)
    if not entries:
        return None
    chosen = None
    for lang in (0,) + tuple(languages) + (LANG_ENGLISH_US,):
        chosen = next((e for e in entries if e[0] == lang), None)
        if chosen:
            break
    chosen = chosen or entries[0]
    if chosen[1]:
        return None
    rva, size = _u32(data, chosen[2]), _u32(data, chosen[2] + 4)
    if rva is None or size is None:
        return None
    at = pe.offset(rva)
    if at is None or at + size > len(data):
        return None
    return bytes(data[at:at + size])


def _align4(base, at):
    return base + ((at - base + 3) & ~3)


def _node(block, at):
    """(length, value length, type, key, value offset, children offset) of a version node."""
    head = block[at:at + 6]
    if at < 0 or len(head) < 6:
        return None
    length, value_len, kind = struct.unpack("<HHH", head)
    key_end = at + 6
    while True:
        ch = _u16(block, key_end)
        if ch is None:
            return None
        if ch == 0:
            break
        key_end += 2
    key = block[at + 6:key_end].decode("utf-16-le", "surrogatepass")
    value = _align4(at, key_end + 2)
    children = _align4(at, value + value_len * (2 if kind else 1))
    return length, value_len, kind, key, value, children


def _query(block, path):
    """(value offset, value length) of a "\\"-separated path, or None; keys ignore case."""
    at = 0
    for part in [p for p in path.split("\\") if p]:
        node = _node(block, at)
        if node is None:
            return None
        end = at + node[0]
        child, found = node[5], None
        while child < end:
            c = _node(block, child)
            if c is None:
                return None
            if c[3].lower() == part.lower():
                found = child
                break
            if c[0] == 0:
                return None
            child += (c[0] + 3) & ~3
        if found is None:
            return None
        at = found
    node = _node(block, at)
    return (node[4], node[1]) if node else None


def file_version_of_data(data, key="FileVersion", languages=()):
    """What the launcher's get_file_version_string gives for a file with these bytes."""
    resource = find_version_resource(data, languages)
    if resource is None:
        return ""
    # The platform hands out a copy twice the resource's size plus four bytes, zero-filled,
    # with "FE2X" after the root block; values are read from that copy, so do the same.
    block = bytearray(len(resource) * 2 + 4)
    block[:len(resource)] = resource
    root_len = _u16(block, 0) or 0
    if root_len + 4 <= len(block):
        block[root_len:root_len + 4] = b"FE2X"
    if len(resource) < 6 or 0x20 <= block[4] < 0x80:
        return ""  # a 16-bit (NE style) block: not found in the programs we publish
    translation = _query(block, "\\VarFileInfo\\Translation")
    if translation is None or translation[1] < 4:
        return MISSING
    lang, codepage = _u16(block, translation[0]), _u16(block, translation[0] + 2)
    if lang is None or codepage is None:
        return MISSING
    found = _query(block, "\\StringFileInfo\\%04x%04x\\%s" % (lang, codepage, key))
    if found is None or found[0] >= len(block):
        return MISSING
    at, length = found
    room = (len(block) - at) // 2
    chars = []
    for i in range(min(length, room)):
        ch = _u16(block, at + 2 * i)
        if ch == 0:
            break
        chars.append(ch)
    return struct.pack("<%dH" % len(chars), *chars).decode("utf-16-le", "surrogatepass")


def _mapped(path, use):
    """use(bytes-like view of the file), or None when the file is empty or unreadable; large
    release files are mapped, not read into memory."""
    try:
        with open(path, "rb") as f:
            if os.fstat(f.fileno()).st_size == 0:
                return use(b"")
            with mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as view:
                return use(view)
    except (OSError, ValueError):
        return None


def read_file_version(path, key="FileVersion", languages=()):
    """FileVersion of a file as the launcher reads it: the value, "(null)" or ""."""
    return _mapped(path, lambda data: file_version_of_data(data, key, languages)) or ""


def version_languages(path):
    """How many languages the file's version resource exists in (0 when none)."""
    return _mapped(path, lambda data: len(_version_languages_of(data)[1])) or 0


# ---------------------------------------------------------------- names

_WINDOWS_FORBIDDEN = set('<>:"/\\|?*')
_RESERVED = {"CON", "PRN", "AUX", "NUL"} | {"COM%d" % i for i in range(1, 10)} | {
    "LPT%d" % i for i in range(1, 10)}


def _segment_problem(segment):
    """Why a file or folder name cannot exist on the customer's PC, or None."""
    if segment in ("", ".", ".."):
        return "empty, '.' or '..' segment"
    bad = sorted({c for c in segment if c in _WINDOWS_FORBIDDEN or ord(c) < 0x20})
    if bad:
        return "characters Windows does not allow in names: %s" % " ".join(repr(c) for c in bad)
    if segment[-1] in " .":
        return "ends with a blank or a dot"
    if segment.split(".")[0].rstrip(" ").upper() in _RESERVED:
        return "a reserved device name"
    return None


def name_problem(name):
    """Why a release file's relative name ("/" between folders) cannot be listed, or None."""
    if name[0].isspace():
        return "begins with white space, which the launcher trims off the line"
    if name[0] in ";#":
        return "begins with ';' or '#': the launcher would take the line for a comment"
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:
        return "is not valid text (undecodable bytes in the file name)"
    for segment in name.split("/"):
        problem = _segment_problem(segment)
        if problem:
            return "%s (%r)" % (problem, segment)
    return None


def version_text_problem(text, what="version"):
    """Why a version text cannot name the server folder and the local backup folder."""
    if not text:
        return "%s is empty" % what
    if text != text.strip():
        return "%s begins or ends with white space" % what
    if text.startswith("."):
        return "%s begins with a dot" % what
    # The launcher refuses a longer text, and control characters anywhere.
    if len(text) > 64:
        return "%s is longer than 64 characters" % what
    if any(ord(c) == 0x7F or 0x80 <= ord(c) < 0xA0 for c in text):
        return "%s holds a control character" % what
    problem = _segment_problem(text)
    return "%s: %s" % (what, problem) if problem else None


def download_path_problem(path):
    if not path or path.startswith("/") or "\\" in path:
        return "the download path must be relative, with '/' between folders"
    for segment in path.split("/"):
        problem = _segment_problem(segment)
        if problem:
            return "download path: %s (%r)" % (problem, segment)
    return None


# ---------------------------------------------------------------- release

class Entry:
    """One release file and what the launcher does with it (derived as the launcher does)."""

    def __init__(self, name, path, size, version):
        self.name, self.path, self.size, self.version = name, path, size, version
        folder, _, file_name = name.rpartition("/")
        self.folder, self.file_name = folder, file_name
        # Exactly ".zip", case-sensitive: "X.ZIP" is an ordinary file to the launcher.
        self.is_archive = file_name.endswith(".zip")
        self.archive_name = file_name if self.is_archive else file_name + ".zip"
        self.archive_path = (folder + "/" if folder else "") + self.archive_name
        self.target = self.archive_path[:-4]

    def line(self):
        # The launcher trims each line before splitting it and drops what follows a third
        # "|": a closing "|" keeps a version's trailing blanks in its field.
        tail = "|" if self.version != self.version.rstrip() else ""
        return "%s|%d|%s%s" % (self.name, self.size, self.version, tail)


def _sort_key(name):
    return [(s.casefold(), s) for s in name.split("/")]


def scan_release(release, languages=()):
    """The release's files in a stable order, plus any problems found while walking.
    `languages`: the customers' UI languages, for files whose version resource exists in
    several languages."""
    errors, warnings, entries = [], [], []
    names = []
    for folder, dirs, files in os.walk(release):
        rel_folder = os.path.relpath(folder, release)
        for d in list(dirs):
            if os.path.islink(os.path.join(folder, d)):
                warnings.append("%s: a link to a folder is not followed"
                                % os.path.normpath(os.path.join(rel_folder, d)))
        for f in files:
            full = os.path.join(folder, f)
            rel = os.path.normpath(os.path.join(rel_folder, f)).replace(os.sep, "/")
            if not os.path.isfile(full):
                errors.append("%s: not a regular file (or a broken link)" % rel)
                continue
            names.append((rel, full))
    names.sort(key=lambda item: _sort_key(item[0]))
    for rel, full in names:
        problem = name_problem(rel)
        if problem:
            errors.append("%s: %s" % (rel, problem))
            continue
        entries.append(Entry(rel, full, os.path.getsize(full), read_file_version(full, languages=languages)))
    return entries, errors, warnings


def check_entries(entries, launcher=None):
    """Problems of the release as a whole: what would collide on the server or on the PC."""
    errors, warnings = [], []
    if not entries:
        errors.append("the release folder holds no files; the launcher would refuse an "
                      "empty file list")
    # Windows does not tell "A.txt" from "a.txt": every name the launcher writes (the file or
    # unpacked folder, and the archive it downloads next to it) must be unique without case.
    claimed = {}
    trees = []
    clashes = set()
    for e in entries:
        for path in (e.archive_path, e.target):
            other = claimed.setdefault(path.casefold(), e)
            if other is not e and (other.name, e.name) not in clashes:
                clashes.add((other.name, e.name))
                errors.append("%s and %s both become %s on the PC or the server"
                              % (other.name, e.name, path))
        if e.is_archive:
            trees.append(e)
    for tree in trees:
        root = tree.target.casefold() + "/"
        for e in entries:
            if e is not tree and e.name.casefold().startswith(root):
                errors.append("%s lies in the folder that %s unpacks into; the launcher moves "
                              "that folder aside before every unpack" % (e.name, tree.name))
    for e in entries:
        if e.size > MAX_FILE_SIZE:
            errors.append("%s: %d bytes is more than the launcher's zip reader handles"
                          % (e.name, e.size))
        if "\n" in e.version or "\r" in e.version:
            errors.append("%s: its FileVersion %r holds a line break" % (e.name, e.version))
        try:
            e.version.encode("utf-8")
        except UnicodeEncodeError:
            errors.append("%s: its FileVersion is not valid UTF-16 text" % e.name)
        if "|" in e.version:
            warnings.append("%s: FileVersion %r holds '|'; the launcher cannot read it back "
                            "whole and will download the file on every run" % (e.name, e.version))
        if any(ord(c) > 0x7E for c in e.name + e.version):
            warnings.append("%s: non-ASCII text reaches the launcher through the PC's ANSI "
                            "code page; it must exist there" % e.name)
        if len(e.name) > LONG_NAME:
            warnings.append("%s: a long name; with the program folder it may pass 259 "
                            "characters" % e.name)
        if e.version and version_languages(e.path) > 1:
            warnings.append("%s: the version resource exists in several languages; the "
                            "launcher's choice depends on the PC's locale (see --language)" % e.name)
        if e.name == LAUNCHER_EXE:
            warnings.append("%s is listed: the launcher will overwrite its own executable"
                            % e.name)
        if e.is_archive:
            bad, notes = check_archive(e.path)
            errors += ["%s: %s" % (e.name, b) for b in bad]
            warnings += ["%s: %s" % (e.name, n) for n in notes]
    if entries and not any(e.name == HOST_EXE for e in entries):
        warnings.append("no %s at the top of the release: the launcher starts that program"
                        % HOST_EXE)
    if launcher:
        own = next((e for e in entries if e.archive_path.casefold() ==
                    (LAUNCHER_EXE + ".zip").casefold()), None)
        if own and not filecmp.cmp(own.path, launcher, shallow=False):
            errors.append("%s in the release differs from --launcher; both would be "
                          "%s.zip" % (own.name, LAUNCHER_EXE))
    return errors, warnings


def _entry_name_problem(name):
    """Why the launcher would unpack an archive member somewhere other than its folder."""
    if not name:
        return "an empty member name"
    if name[:1] in "/\\" or name[1:2] == ":":
        return "member %r has an absolute path or a drive" % name
    parts = name.replace("\\", "/").split("/")
    if ".." in parts:
        return "member %r climbs out with '..'" % name
    return None


def _extra_blocks(extra):
    """{identifier: data} of an extra field (the first block of each identifier)."""
    blocks, at = {}, 0
    while at + 4 <= len(extra):
        ident, size = struct.unpack_from("<HH", extra, at)
        if at + 4 + size > len(extra):
            break
        blocks.setdefault(ident, extra[at + 4:at + 4 + size])
        at += 4 + size
    return blocks


def _stored_name(info):
    """The name bytes as the archive holds them."""
    return info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")


def _code_page_name(info):
    """The stored bytes of a non-ASCII name the launcher reads in the PC's code page: one
    marked neither by the UTF-8 flag nor by an Info-ZIP Unicode path block (0x7075, version 1,
    CRC-32 of the stored name) in the central directory. None for any other name."""
    raw = _stored_name(info)
    if info.flag_bits & 0x800 or raw.isascii():
        return None
    block = _extra_blocks(info.extra).get(0x7075, b"")
    if len(block) > 5 and block[0] == 1 and struct.unpack_from("<I", block, 1)[0] == \
            zlib.crc32(raw):
        return None
    return raw


def _layout_problems(path, infos, cd_offset):
    """What the launcher refuses in the local headers: zip64, a name that differs from the
    directory's, or entries whose bytes (local header through data) overlap one another or
    the directory."""
    errors, spans = [], []
    with open(path, "rb") as f:
        for info in infos:
            f.seek(info.header_offset)
            head = f.read(30)
            if len(head) < 30 or head[:4] != b"PK\x03\x04":
                errors.append("member %r: no local header where the directory says"
                              % info.filename)
                continue
            csize, usize, name_length, extra_length = struct.unpack_from("<IIHH", head, 18)
            name = f.read(name_length)
            extra = f.read(extra_length)
            if 0xFFFFFFFF in (csize, usize) or 1 in _extra_blocks(extra):
                errors.append("member %r: a Zip64 header, which the launcher cannot read"
                              % info.filename)
            if name != _stored_name(info):
                errors.append("member %r: its local header names it differently"
                              % info.filename)
            end = info.header_offset + 30 + name_length + extra_length + info.compress_size
            spans.append((info.header_offset, end, info.filename))
    spans.sort()
    for k, (begin, end, name) in enumerate(spans):
        if end > cd_offset or (k > 0 and begin < spans[k - 1][1]):
            errors.append("member %r overlaps another member or the directory" % name)
            break
    return errors


def check_archive(path):
    """Whether the launcher's zip reader can unpack this archive entry as it is."""
    errors, warnings = [], []
    try:
        with open(path, "rb") as f:
            f.seek(0, os.SEEK_END)
            size = f.tell()
            f.seek(max(0, size - 65535 - 22))
            tail = f.read()
    except OSError as e:
        return ["cannot be read (%s)" % e], []
    at = tail.rfind(b"PK\x05\x06")
    if at < 0 or at + 22 > len(tail):
        return ["not a zip archive (no end record)"], []
    disk, cd_disk, here, total, cd_size, cd_offset = struct.unpack_from("<HHHHII", tail, at + 4)
    if disk or cd_disk or here != total:
        errors.append("a multi-disk archive")
    if (total == 0xFFFF or cd_size == 0xFFFFFFFF or cd_offset == 0xFFFFFFFF or
            tail[max(0, at - 20):at][:4] == b"PK\x06\x07"):
        errors.append("a Zip64 archive, which the launcher cannot read")
    if errors:
        return errors, warnings
    try:
        with zipfile.ZipFile(path) as z:
            infos = z.infolist()
            if len(infos) != total:
                errors.append("the end record counts %d members, the directory holds %d"
                              % (total, len(infos)))
            for info in infos:
                if 1 in _extra_blocks(info.extra):
                    errors.append("member %r: a Zip64 header, which the launcher cannot read"
                                  % info.filename)
                if info.flag_bits & 1:
                    errors.append("member %r is encrypted" % info.filename)
                if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
                    errors.append("member %r uses compression method %d; only stored and "
                                  "deflated can be unpacked" % (info.filename, info.compress_type))
                problem = _entry_name_problem(info.filename)
                if problem:
                    errors.append(problem)
                raw = _code_page_name(info)
                if raw is not None:
                    try:
                        # Info-ZIP on Linux stores UTF-8 names unmarked; no rule on the PC
                        # tells those from code-page names.
                        errors.append("member %r has a UTF-8 name that is not marked as UTF-8; "
                                      "the launcher would read it in the PC's code page. Make "
                                      "the archive again with a tool that marks UTF-8 names "
                                      "(Python's zipfile, bsdtar, jar, or 7-Zip with -mcu=on)"
                                      % raw.decode("utf-8"))
                    except UnicodeDecodeError:
                        warnings.append("member %r: non-ASCII names are read in the PC's ANSI "
                                        "code page" % info.filename)
            if errors:
                return errors, warnings
            errors += _layout_problems(path, infos, z.start_dir)
            if errors:
                return errors, warnings
            broken = z.testzip()
            if broken is not None:
                errors.append("member %r is damaged (CRC mismatch)" % broken)
            if not infos:
                warnings.append("an empty archive: nothing will be unpacked")
    except (zipfile.BadZipFile, zipfile.LargeZipFile, NotImplementedError, OSError,
            EOFError) as e:
        errors.append("cannot be read as a zip archive (%s)" % e)
    return errors, warnings


# ---------------------------------------------------------------- writing

def _dos_time(mtime):
    t = time.localtime(mtime)[:6]
    if t[0] < 1980:
        return (1980, 1, 1, 0, 0, 0)
    if t[0] > 2107:
        return (2107, 12, 31, 23, 59, 58)
    return t


def write_file_zip(source, dest, arcname):
    """A zip whose entry 0 is `source`, deflated, with an extended timestamp ("UT")."""
    st = os.stat(source)
    mtime = int(st.st_mtime)
    info = zipfile.ZipInfo(arcname, date_time=_dos_time(st.st_mtime))
    info.compress_type = zipfile.ZIP_DEFLATED
    # Made on "MS-DOS" with the archive attribute only: with the Unix mode bits of the build
    # machine, a file without its write bit would be unpacked read-only, and the next update
    # could not overwrite it.
    info.create_system = 0
    info.external_attr = 0x20
    info.file_size = st.st_size
    info.extra = struct.pack("<HHBi", 0x5455, 5, 1, max(-2 ** 31, min(2 ** 31 - 1, mtime)))
    with zipfile.ZipFile(dest, "w", allowZip64=False, compresslevel=9) as z:
        with open(source, "rb") as src, z.open(info, "w") as out:
            shutil.copyfileobj(src, out, 1 << 20)


def _write_bytes(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, path)


# ---------------------------------------------------------------- signing

STATEMENT = "release.sig.txt"
PRIVATE_KEY = "release-private.pem"
PUBLIC_KEY = "release-public.pem"
STATEMENT_HEADER = "fenwa-release 1"
MAX_STATEMENT_NAME = 1024

# SubjectPublicKeyInfo of an uncompressed P-256 point, up to the point's X and Y.
_P256_SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200" "04")
_P256_P = 2 ** 256 - 2 ** 224 + 2 ** 192 + 2 ** 96 - 1
_P256_B = 0x5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B


def _crypto():
    try:
        from cryptography.hazmat.primitives import hashes, serialization
        from cryptography.hazmat.primitives.asymmetric import ec, utils
    except ImportError:
        raise PublishError("signing needs the Python package 'cryptography' "
                           "(Debian: python3-cryptography; or pip install cryptography)")
    return hashes, serialization, ec, utils


def file_sha256(path):
    """(size, lower-case hex SHA-256) of a file."""
    h = hashlib.sha256()
    size = 0
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                return size, h.hexdigest()
            size += len(block)
            h.update(block)


def statement_name_problem(name):
    """Why a name cannot stand in a release statement as the launcher reads it, or None."""
    if not name or len(name) > MAX_STATEMENT_NAME:
        return "empty or longer than %d characters" % MAX_STATEMENT_NAME
    if name[0] in " \t;#" or name[-1] in "/\\ " or name[0] in "/\\":
        return "begins with a blank, ';', '#' or a separator, or ends with one"
    if any(ord(c) < 0x20 or ord(c) == 0x7F or c in "|:" for c in name):
        return "holds a control character, '|' or ':'"
    if ".." in name.replace("\\", "/").split("/"):
        return "holds a '..' segment"
    return None


def archive_members(path):
    """[(name, size, sha256 hex)] of the files in a listed archive, as the launcher unpacks
    them; raises PublishError for members the launcher would name otherwise."""
    members, seen = [], set()
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            if info.filename.endswith("/"):
                continue
            name = info.filename
            # Without the UTF-8 flag the launcher reads a name in the PC's ANSI code page.
            if not info.flag_bits & 0x800 and any(ord(c) > 0x7E for c in name):
                raise PublishError("member %r: a non-ASCII name without the UTF-8 flag cannot "
                                   "be signed" % name)
            problem = statement_name_problem(name)
            if problem:
                raise PublishError("member %r: %s" % (name, problem))
            if name in seen:
                raise PublishError("member %r is in the archive twice" % name)
            seen.add(name)
            h = hashlib.sha256()
            size = 0
            with z.open(info) as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    size += len(block)
                    h.update(block)
            members.append((name, size, h.hexdigest()))
    return members


def statement_bytes(version, sequence, files, members=(), launcher=None):
    """The signed part of a statement. files: (name, size, sha, archive size, archive sha);
    members: (archive name, member name, size, sha); launcher: (size, sha, archive size,
    archive sha) or None."""
    lines = [STATEMENT_HEADER, "version " + version, "sequence %d" % sequence]
    lines += ["file %s|%d|%s|%d|%s" % f for f in files]
    lines += ["member %s|%s|%d|%s" % m for m in members]
    if launcher:
        lines.append("launcher %d|%s|%d|%s" % launcher)
    return ("\n".join(lines) + "\n").encode("utf-8")


def signature_line(signature):
    return b"signature " + signature.hex().encode("ascii") + b"\n"


def load_signing_key(path):
    """The private key of a PKCS#8 PEM file; PublishError unless it is an unencrypted P-256
    key."""
    _hashes, serialization, ec, _utils = _crypto()
    try:
        with open(path, "rb") as f:
            key = serialization.load_pem_private_key(f.read(), password=None)
    except (OSError, ValueError, TypeError) as e:
        raise PublishError("signing key %s cannot be read as an unencrypted PEM private key "
                           "(%s)" % (path, e))
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != "secp256r1":
        raise PublishError("signing key %s is not an ECDSA P-256 key" % path)
    return key


def sign(key, data):
    """The raw 64-byte r and s of an ECDSA P-256 signature over SHA-256(data)."""
    hashes, _serialization, ec, utils = _crypto()
    r, s = utils.decode_dss_signature(key.sign(data, ec.ECDSA(hashes.SHA256())))
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def keygen(folder):
    """Writes a new key pair into `folder`; never overwrites a key. Returns both paths."""
    _hashes, serialization, ec, _utils = _crypto()
    private, public = os.path.join(folder, PRIVATE_KEY), os.path.join(folder, PUBLIC_KEY)
    for path in (private, public):
        if os.path.lexists(path):
            raise PublishError("%s exists; a release key is never overwritten" % path)
    key = ec.generate_private_key(ec.SECP256R1())
    private_pem = key.private_bytes(serialization.Encoding.PEM,
                                    serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption())
    public_pem = key.public_key().public_bytes(serialization.Encoding.PEM,
                                               serialization.PublicFormat.SubjectPublicKeyInfo)
    os.makedirs(folder, exist_ok=True)
    for path, data, mode in ((private, private_pem, 0o600), (public, public_pem, 0o644)):
        try:
            fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)
        except FileExistsError:
            raise PublishError("%s exists; a release key is never overwritten" % path)
        try:
            os.fchmod(fd, mode)  # whatever the umask
            os.write(fd, data)
            os.fsync(fd)
        finally:
            os.close(fd)
    return private, public


def public_key_xy(path):
    """The 64 bytes X and Y of a P-256 public key in a SubjectPublicKeyInfo PEM file; raises
    PublishError for anything else, a point off the curve included."""
    try:
        with open(path, encoding="ascii") as f:
            text = f.read()
    except (OSError, UnicodeDecodeError) as e:
        raise PublishError("%s cannot be read (%s)" % (path, e))
    begin, end = "-----BEGIN PUBLIC KEY-----", "-----END PUBLIC KEY-----"
    if text.count(begin) != 1 or text.count(end) != 1 or text.find(begin) > text.find(end):
        raise PublishError("%s is not a PEM public key" % path)
    body = text[text.find(begin) + len(begin):text.find(end)]
    try:
        der = base64.b64decode("".join(body.split()), validate=True)
    except ValueError:
        raise PublishError("%s: the PEM body is not base64" % path)
    if len(der) != len(_P256_SPKI_PREFIX) + 64 or not der.startswith(_P256_SPKI_PREFIX):
        raise PublishError("%s is not an uncompressed ECDSA P-256 public key" % path)
    xy = der[len(_P256_SPKI_PREFIX):]
    x, y = int.from_bytes(xy[:32], "big"), int.from_bytes(xy[32:], "big")
    if x >= _P256_P or y >= _P256_P or (y * y - (x ** 3 - 3 * x + _P256_B)) % _P256_P:
        raise PublishError("%s: the point is not on the P-256 curve" % path)
    return xy


def live_sequence(base):
    """The sequence of the release the server tree offers now, or 0."""
    try:
        with open(os.path.join(base, "version.html"), encoding="utf-8") as f:
            version = f.read()
        if version_text_problem(version):
            return 0
        with open(os.path.join(base, version, STATEMENT), "rb") as f:
            for line in f.read(1 << 16).split(b"\n"):
                if line.startswith(b"sequence ") and line[9:].isdigit():
                    return int(line[9:])
    except OSError:
        pass
    return 0


def release_statement(version, sequence, entries, staging, launcher=None):
    """The signed part of the statement of a release written into `staging`."""
    files, members = [], []
    for e in entries:
        size, digest = file_sha256(e.path)
        archive_size, archive_digest = file_sha256(os.path.join(staging,
                                                                *e.archive_path.split("/")))
        files.append((e.name, size, digest, archive_size, archive_digest))
        if e.is_archive:
            members += [(e.name,) + m for m in archive_members(e.path)]
    own = None
    if launcher:
        own = file_sha256(launcher) + file_sha256(os.path.join(staging, LAUNCHER_EXE + ".zip"))
    return statement_bytes(version, sequence, files, members, own)


class Published:
    """What a publish wrote, for callers that show or check it."""

    def __init__(self, base, version, entries, launcher_version, warnings, sequence=None):
        self.base = base  # SERVER_ROOT/<download path>
        self.version = version
        self.folder = os.path.join(base, version)
        self.entries = entries
        self.launcher_version = launcher_version
        self.warnings = warnings
        self.sequence = sequence  # of the signed statement; None when not signed

    def server_paths(self, download_path):
        """Every path below the server root that this release answers."""
        paths = [download_path + "/version.html", "%s/%s/filelist.lst" % (download_path,
                                                                         self.version)]
        paths += ["%s/%s/%s" % (download_path, self.version, e.archive_path)
                  for e in self.entries]
        if self.launcher_version is not None:
            paths.append("%s/%s/%s.zip" % (download_path, self.version, LAUNCHER_EXE))
        if self.sequence is not None:
            paths.append("%s/%s/%s" % (download_path, self.version, STATEMENT))
        return sorted(set(paths))


def _inside(path, folder):
    path, folder = os.path.realpath(path), os.path.realpath(folder)
    return os.path.commonpath([path, folder]) == folder


def publish(release, version, out, launcher=None, download_path=DEFAULT_DOWNLOAD_PATH,
            languages=(), sign_key=None, sequence=None, live=0):
    """Checks the release and writes the server tree; raises PublishError when refused.
    With sign_key (a private key file) the release is signed with `sequence` (default: the
    time in seconds, above the live release's, or `live` when that is higher: the sequence
    live in storage)."""
    problems = [p for p in (version_text_problem(version), download_path_problem(download_path))
                if p]
    if not os.path.isdir(release):
        problems.append("no release folder %s" % release)
    if launcher and not os.path.isfile(launcher):
        problems.append("no launcher executable %s" % launcher)
    base = os.path.join(out, *download_path.split("/"))
    if os.path.isdir(release) and _inside(base, release):
        problems.append("the server tree would lie inside the release folder")
    if problems:
        raise PublishError("\n".join(problems))
    key = load_signing_key(sign_key) if sign_key else None
    if key:
        live = max(live, live_sequence(base))
        if sequence is None:
            sequence = max(int(time.time()), live + 1)
        elif not live < sequence < 2 ** 63:
            raise PublishError("sequence %d must be above the live release's, %d (and below "
                               "2**63): a launcher never goes back" % (sequence, live))
    entries, errors, warnings = scan_release(release, languages)
    more_errors, more_warnings = check_entries(entries, launcher)
    errors += more_errors
    warnings += more_warnings
    if key:
        errors += ["%s: cannot be signed: %s" % (e.name, statement_name_problem(e.name))
                   for e in entries if statement_name_problem(e.name)]
    if errors:
        raise PublishError("\n".join(errors))

    os.makedirs(base, exist_ok=True)
    final = os.path.join(base, version)
    staging = tempfile.mkdtemp(prefix=".%s.staging-" % version, dir=base)
    try:
        os.chmod(staging, 0o755)
        lines = "".join(e.line() + "\r\n" for e in entries)
        _write_bytes(os.path.join(staging, "filelist.lst"), lines.encode("utf-8"))
        for e in entries:
            dest = os.path.join(staging, *e.archive_path.split("/"))
            os.makedirs(os.path.dirname(dest), exist_ok=True)
            if e.is_archive:
                shutil.copyfile(e.path, dest)
            else:
                write_file_zip(e.path, dest, e.file_name)
        launcher_version = None
        if launcher:
            write_file_zip(launcher, os.path.join(staging, LAUNCHER_EXE + ".zip"), LAUNCHER_EXE)
            launcher_version = read_file_version(launcher, languages=languages)
        if key:
            text = release_statement(version, sequence, entries, staging, launcher)
            _write_bytes(os.path.join(staging, STATEMENT), text + signature_line(sign(key, text)))
        # The live folder is swapped, not rewritten, so that a launcher downloading from it
        # meanwhile never meets a half-written archive.
        old = None
        if os.path.lexists(final):
            old = tempfile.mkdtemp(prefix=".%s.old-" % version, dir=base)
            os.rename(final, os.path.join(old, version))
        os.rename(staging, final)
        staging = None
        if old:
            shutil.rmtree(old, ignore_errors=True)
    except (zipfile.LargeZipFile, RuntimeError) as e:
        raise PublishError("a file is too large for the launcher's zip reader (%s)" % e)
    except OSError as e:
        raise PublishError("writing the server tree failed: %s" % e)
    finally:
        if staging:
            shutil.rmtree(staging, ignore_errors=True)
    # Last: only now do launchers go looking for the new folder.
    _write_bytes(os.path.join(base, "version.html"), version.encode("utf-8"))
    return Published(base, version, entries, launcher_version, warnings,
                     sequence if key else None)


# ---------------------------------------------------------------- command line

def _key_command(argv):
    """keygen DIR | key-hex PUBLIC_PEM"""
    command = argv[0]
    parser = argparse.ArgumentParser(prog="publish.py " + command)
    parser.add_argument("path", metavar="DIR" if command == "keygen" else "PUBLIC_PEM")
    args = parser.parse_args(argv[1:])
    try:
        if command == "keygen":
            private, public = keygen(args.path)
            print("wrote %s (keep it offline; readable by its owner only)\nwrote %s (build the "
                  "launcher with: make FENWA_RELEASE_KEY=%s)" % (private, public, public))
        else:
            print(public_key_xy(args.path).hex())
    except PublishError as e:
        print("publish %s: %s" % (command, e), file=sys.stderr)
        return 1
    return 0


def main(argv=None):
    argv = sys.argv[1:] if argv is None else list(argv)
    if argv and argv[0] in ("keygen", "key-hex"):
        return _key_command(argv)
    if argv and argv[0] == "verify":
        return _verify_command(argv[1:])
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--release", help="folder of the host program's files")
    parser.add_argument("--version", help="the server version, e.g. 1.0.0.5")
    parser.add_argument("--out", help="the web server's document root")
    parser.add_argument("--launcher", help="FenwaLauncher.exe to offer as the launcher update")
    parser.add_argument("--download-path", default=DEFAULT_DOWNLOAD_PATH)
    parser.add_argument("--language", action="append", default=[], type=lambda t: int(t, 16),
                        metavar="HEX", help="the customers' UI language, e.g. 0412 (decides "
                        "among version resources in several languages; default English)")
    parser.add_argument("--file-version", nargs="+", metavar="FILE",
                        help="print each file's FileVersion as the launcher reads it")
    parser.add_argument("--sign-key", metavar="PRIVATE_PEM",
                        help="sign the release with this key (made by: publish.py keygen DIR)")
    parser.add_argument("--sequence", type=int,
                        help="the signed release's sequence number (default: the time)")
    parser.add_argument("--upload", metavar="s3://BUCKET/PREFIX",
                        help="then put the download path's tree there (the version page last)")
    parser.add_argument("--endpoint", metavar="URL",
                        help="an S3-compatible service other than AWS (path-style requests)")
    parser.add_argument("--keep", type=int, metavar="N",
                        help="with --upload: remove the oldest version folders beyond N (never "
                        "the live one or the one before it)")
    args = parser.parse_args(argv)

    if args.file_version:
        for path in args.file_version:
            print("%s\t%s" % (path, read_file_version(path, languages=args.language)))
        return 0
    if not (args.release and args.version and (args.out or args.upload)):
        parser.error("--release, --version and --out or --upload are needed")
    if args.keep is not None and (not args.upload or args.keep < 0):
        parser.error("--keep N needs --upload and N >= 0")
    out = args.out or tempfile.mkdtemp(prefix="fenwa-publish-")
    try:
        return _publish_command(args, out)
    finally:
        if not args.out:
            shutil.rmtree(out, ignore_errors=True)


def _publish_command(args, out):
    try:
        storage, live = None, 0
        if args.upload:
            import storage_upload
            storage = storage_upload.Storage(args.upload, args.endpoint)
            live = storage.live_sequence() if args.sign_key else 0
        result = publish(args.release, args.version, out, args.launcher, args.download_path,
                         args.language, args.sign_key, args.sequence, live)
    except PublishError as e:
        print("publish: refused, nothing written:", file=sys.stderr)
        for line in str(e).split("\n"):
            print("  " + line, file=sys.stderr)
        return 1
    for w in result.warnings:
        print("warning: " + w, file=sys.stderr)
    print("published %s into %s" % (result.version, result.base))
    for e in result.entries:
        print("  %s" % e.line())
    if result.launcher_version is not None:
        print("  launcher archive %s.zip (FileVersion %s)" % (LAUNCHER_EXE,
                                                             result.launcher_version))
    if result.sequence is not None:
        print("  signed: %s, sequence %d" % (STATEMENT, result.sequence))
        print("sequence %d: build launchers with FENWA_RELEASE_FLOOR=%d to refuse anything older"
              % (result.sequence, result.sequence))
    if storage:
        try:
            storage_upload.upload(result.base, result.version, args.upload, keep=args.keep,
                                  storage=storage)
        except PublishError as e:
            print("publish: upload stopped; the live version page is as it was: %s" % e,
                  file=sys.stderr)
            return 1
    return 0


def _verify_command(argv):
    parser = argparse.ArgumentParser(prog="publish.py verify", description="Checks the release "
                                     "live at URL (the folder of version.html) as a launcher "
                                     "would; one line per problem, then OK or N problems.")
    parser.add_argument("url")
    parser.add_argument("--key", metavar="PUBLIC_PEM",
                        help="also check the signed statement and every archive against it")
    args = parser.parse_args(argv)
    import verify_live
    try:
        count = verify_live.verify(args.url, args.key,
                                   note=lambda text: print(text, file=sys.stderr))
    except PublishError as e:
        print("publish verify: %s" % e, file=sys.stderr)
        return 2
    return 0 if count == 0 else 1


if __name__ == "__main__":
    # storage_upload and verify_live import this file as "publish": one PublishError for all.
    sys.modules.setdefault("publish", sys.modules[__name__])
    sys.exit(main())
