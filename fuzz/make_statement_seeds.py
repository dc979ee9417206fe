#!/usr/bin/env python3
"""Writes seed statements for the statement fuzz target into the folder given as argument:
well-formed ones (with a signature of zeros; the target never checks it) and near misses."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import publish  # noqa: E402

H1, H2 = "ab" * 32, "0f" * 32


def statement(files, members=(), launcher=None, version="1.0.0.5", sequence=1718000000):
    text = publish.statement_bytes(version, sequence, files, members, launcher)
    return text + publish.signature_line(bytes(64))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    full = statement([("FenwaHostSvr.exe", 300, H1, 120, H2), ("bin/데이터.dat", 5, H2, 30, H1),
                      ("plugin.zip", 40, H1, 40, H1)],
                     [("plugin.zip", "sub/b.txt", 9, H2), ("plugin.zip", "a.txt", 0, H1)],
                     (700, H1, 400, H2))
    seeds = {
        "full": full,
        "small": statement([("a", 0, H1, 22, H2)]),
        "no_signature": full[:full.rindex(b"signature")],
        "long_signature": full[:-1] + b"00\n",
        "crlf": full.replace(b"\n", b"\r\n"),
    }
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
