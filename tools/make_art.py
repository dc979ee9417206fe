#!/usr/bin/env python3
"""Draws the program's pictures (icon and PNG resources) into res/.

The pictures are committed; run this again only to change them. Pure Python, so the
result is the same on every machine.
"""

import math
import os
import struct
import zlib

RES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res")


class Canvas:
    def __init__(self, w, h, fill=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [list(fill) for _ in range(w * h)]

    def blend(self, x, y, rgba, cover=1.0):
        if not (0 <= x < self.w and 0 <= y < self.h) or cover <= 0:
            return
        r, g, b, a = rgba
        a = a / 255.0 * min(cover, 1.0)
        d = self.px[y * self.w + x]
        da = d[3] / 255.0
        oa = a + da * (1 - a)
        if oa <= 0:
            return
        for i, c in enumerate((r, g, b)):
            d[i] = int(round((c * a + d[i] * da * (1 - a)) / oa))
        d[3] = int(round(oa * 255))

    def fill_shape(self, inside, rgba, samples=4):
        """Anti-aliased fill of the region where inside(x, y) is true."""
        step = 1.0 / samples
        for y in range(self.h):
            for x in range(self.w):
                hits = 0
                for sy in range(samples):
                    for sx in range(samples):
                        if inside(x + (sx + 0.5) * step, y + (sy + 0.5) * step):
                            hits += 1
                if hits:
                    self.blend(x, y, rgba, hits / float(samples * samples))

    def png(self):
        raw = b"".join(b"\x00" + bytes(c for p in self.px[y * self.w:(y + 1) * self.w] for c in p)
                       for y in range(self.h))

        def chunk(kind, data):
            return (struct.pack(">I", len(data)) + kind + data +
                    struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

        return (b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))

    def dib(self):
        """32-bit BGRA bottom-up DIB with an AND mask, as an icon directory entry wants it."""
        hdr = struct.pack("<IiiHHIIiiII", 40, self.w, self.h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        rows = []
        for y in range(self.h - 1, -1, -1):
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                rows.append(bytes((b, g, r, a)))
        mask_row = ((self.w + 31) // 32) * 4
        return hdr + b"".join(rows) + b"\x00" * (mask_row * self.h)


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def segment(ax, ay, bx, by, width):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / float(dx * dx + dy * dy)))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (width / 2.0) ** 2
    return inside


ROYAL = (65, 105, 225, 255)
WHITE = (255, 255, 255, 255)


def icon_image(size):
    c = Canvas(size, size)
    s = size / 32.0
    c.fill_shape(rounded_rect(1 * s, 1 * s, 31 * s, 31 * s, 7 * s), ROYAL)
    # An "F" with a small arrow: the launcher that starts the host.
    c.fill_shape(segment(11 * s, 8 * s, 11 * s, 24 * s, 4 * s), WHITE)
    c.fill_shape(segment(11 * s, 8 * s, 22 * s, 8 * s, 4 * s), WHITE)
    c.fill_shape(segment(11 * s, 16 * s, 19 * s, 16 * s, 4 * s), WHITE)
    c.fill_shape(segment(20 * s, 21 * s, 25 * s, 24 * s, 2.5 * s), WHITE)
    c.fill_shape(segment(20 * s, 27 * s, 25 * s, 24 * s, 2.5 * s), WHITE)
    return c


def write_icon(path, sizes=(16, 20, 24, 32, 48)):
    images = [icon_image(n).dib() for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def close_picture():
    c = Canvas(18, 18)
    c.fill_shape(segment(5, 5, 13, 13, 1.8), WHITE)
    c.fill_shape(segment(13, 5, 5, 13, 1.8), WHITE)
    return c


def warning_picture():
    c = Canvas(16, 16)
    c.fill_shape(lambda x, y: (x - 8) ** 2 + (y - 8) ** 2 <= 7.5 ** 2, (253, 128, 126, 255))
    c.fill_shape(segment(8, 4, 8, 9, 2), WHITE)
    c.fill_shape(lambda x, y: (x - 8) ** 2 + (y - 12) ** 2 <= 1.2 ** 2, WHITE)
    return c


def banner(top, bottom, accent, stripes):
    w, h = 380, 72
    c = Canvas(w, h, (255, 255, 255, 255))
    for y in range(h):
        t = y / float(h - 1)
        col = tuple(int(round(top[i] + (bottom[i] - top[i]) * t)) for i in range(3)) + (255,)
        for x in range(w):
            c.px[y * w + x] = list(col)
    # Soft diagonal ribbons; the count tells the language banners apart.
    for k in range(stripes):
        off = 250 + k * 30

        def inside(x, y, off=off):
            return abs((x - off) + y * 0.8) < 9

        c.fill_shape(inside, accent[:3] + (70,), samples=2)
    c.fill_shape(lambda x, y: (x - 48) ** 2 + (y - 36) ** 2 <= 22 ** 2, accent[:3] + (200,))
    c.fill_shape(segment(40, 26, 58, 36, 5), WHITE)
    c.fill_shape(segment(58, 36, 40, 46, 5), WHITE)
    return c


def main():
    os.makedirs(RES, exist_ok=True)
    write_icon(os.path.join(RES, "launcher.ico"))
    pictures = {
        "close.png": close_picture(),
        "warning.png": warning_picture(),
        "code_banner.png": banner((232, 246, 246), (255, 255, 255), (32, 178, 174, 255), 3),
        "banner_ko.png": banner((230, 236, 250), (255, 255, 255), ROYAL, 1),
        "banner_en.png": banner((230, 236, 250), (255, 255, 255), ROYAL, 2),
        "banner_ja.png": banner((230, 236, 250), (255, 255, 255), ROYAL, 3),
    }
    for name, canvas in pictures.items():
        with open(os.path.join(RES, name), "wb") as f:
            f.write(canvas.png())


if __name__ == "__main__":
    main()
