#!/usr/bin/env python3
"""Writes small seed archives for the zip fuzz target into the folder given as argument."""
import io
import os
import struct
import sys
import zipfile


def archive(entries, prefix=b"", comment=b""):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        for name, data, method, extra in entries:
            info = zipfile.ZipInfo(name, (2020, 6, 15, 12, 34, 56))
            info.compress_type = method
            info.external_attr = (0o40755 << 16 | 0x10) if name.endswith("/") else 0o644 << 16
            info.extra = extra
            z.writestr(info, data)
        z.comment = comment
    return prefix + buf.getvalue()


def ut(mtime, atime=None, ctime=None):
    flags, body = 1, struct.pack("<i", mtime)
    if atime is not None:
        flags, body = flags | 2, body + struct.pack("<i", atime)
    if ctime is not None:
        flags, body = flags | 4, body + struct.pack("<i", ctime)
    data = bytes([flags]) + body
    return struct.pack("<HH", 0x5455, len(data)) + data


S, D = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
text = b"".join(b"line %d of seed text\n" % i for i in range(120))
seeds = {
    "stored": archive([("a.txt", b"hello", S, b"")]),
    "deflated": archive([("dir/", b"", S, b""), ("dir/t.txt", text, D, b"")]),
    "ut_times": archive([("t.bin", bytes(range(256)), D, ut(1600000000, 1600000100, 1600000200))]),
    "ut_mtime_only": archive([("m.txt", b"m", S, ut(1600000000))]),
    "stub_and_comment": archive([("s.txt", text[:300], D, b"")], prefix=b"MZ" + bytes(200), comment=b"note"),
    "names": archive([("C:/x.txt", b"1", S, b""), ("a\\..\\b.txt", b"2", S, b""),
                      ("../up.txt", b"3", S, b""), ("/abs.txt", b"4", S, b"")]),
    "empty": archive([]),
}
# An entry flagged as encrypted, so the decryption path is reached.
enc = bytearray(archive([("e.txt", bytes(20), S, b"")]))
enc[6] |= 1
central = enc.find(b"PK\x01\x02")
enc[central + 8] |= 1
seeds["encrypted_flag"] = bytes(enc)

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name + ".zip"), "wb") as f:
        f.write(data)
