#!/usr/bin/env python3
"""Builds the zip benchmark corpus in the folder given as argument (skipped when present):

  large.zip    one archive of about 200 MB: text, machine code, noise, stored and tiny files
  small/*.zip  2000 single-file archives of 1 to 64 KiB, the way the launcher receives files

Text and noise come from a fixed seed; machine code is taken from this system's programs and
libraries, so archive sizes differ a little between machines.
"""
import os
import random
import sys
import zipfile

WORDS = ("launcher update server version file list archive folder backup rollback parameter "
         "progress window thread request download extract entry header record window module "
         "install registry value product remote access code title browser caption status").split()


def text_block(rng, size):
    out, n = [], 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        line += " %d\n" % rng.randint(0, 99999)
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


def machine_code(limit):
    """Real executables and libraries from this system: what a launcher mostly ships."""
    chunks, total = [], 0
    for folder in ("/usr/bin", "/usr/lib/x86_64-linux-gnu"):
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            if not os.path.isfile(path) or os.path.islink(path):
                continue
            size = os.path.getsize(path)
            if size < 64 * 1024 or size > 8 * 1024 * 1024:
                continue
            with open(path, "rb") as f:
                chunks.append(f.read())
            total += size
            if total >= limit:
                return chunks
    return chunks


def entry(z, name, data, method=zipfile.ZIP_DEFLATED):
    info = zipfile.ZipInfo(name, (2024, 5, 17, 10, 20, 30))
    info.compress_type = method
    info.external_attr = 0o644 << 16
    z.writestr(info, data, compresslevel=6)


def build_large(path, rng):
    text = text_block(rng, 8 << 20)  # reused at shifting offsets: beyond deflate's 32 KiB window
    with zipfile.ZipFile(path + ".tmp", "w") as z:
        for i in range(40):
            shift = (i * 977 * 1024) % len(text)
            entry(z, "docs/text_%02d.txt" % i, (text[shift:] + text[:shift])[: 5 << 20])
        for i, blob in enumerate(machine_code(110 << 20)):
            entry(z, "bin/module_%03d.dll" % i, blob)
        for i in range(40):
            entry(z, "media/noise_%02d.bin" % i, rng.randbytes(2 << 20))
        for i in range(4):
            entry(z, "media/stored_%d.pak" % i, rng.randbytes(5 << 20), zipfile.ZIP_STORED)
        for i in range(1500):
            entry(z, "res/%02d/item_%04d.txt" % (i % 20, i), text_block(rng, rng.randint(500, 20000)))
    os.replace(path + ".tmp", path)


def build_small(folder, rng):
    os.makedirs(folder + ".tmp", exist_ok=True)
    code = b"".join(machine_code(8 << 20))
    for i in range(2000):
        size = rng.randint(1024, 64 * 1024)
        if i % 3 == 2:
            start = rng.randint(0, len(code) - size)
            data = code[start : start + size]
        else:
            data = text_block(rng, size)
        with zipfile.ZipFile(os.path.join(folder + ".tmp", "file_%04d.dll.zip" % i), "w") as z:
            entry(z, "file_%04d.dll" % i, data)
    os.replace(folder + ".tmp", folder)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    rng = random.Random(20240517)
    large = os.path.join(out, "large.zip")
    if not os.path.exists(large):
        print("building %s ..." % large, flush=True)
        build_large(large, rng)
    small = os.path.join(out, "small")
    if not os.path.isdir(small):
        print("building %s ..." % small, flush=True)
        build_small(small, random.Random(7))


if __name__ == "__main__":
    main()
