#!/usr/bin/env python3
"""Writes the text check movie (400 x 200 px, white): a static text "A" in an embedded font of box
glyphs (red, 40 px), a field "AB" in that font (blue, 40 px) and a field "HHHHHH" in the installed
sans-serif face (green, 48 px). Where they land is listed in text.sh beside each check.
Usage: text_movie.py <out.swf>"""
import struct
import sys


class Bits:
    def __init__(self):
        self.out = bytearray()
        self.cur = 0
        self.n = 0

    def ub(self, v, n):
        for i in range(n - 1, -1, -1):
            self.cur |= ((v >> i) & 1) << (7 - self.n)
            self.n += 1
            if self.n == 8:
                self.align()

    def sb(self, v, n):
        self.ub(v & ((1 << n) - 1), n)

    def align(self):
        if self.n:
            self.out.append(self.cur)
            self.cur = 0
            self.n = 0

    def raw(self, b):
        self.align()
        self.out += b

    def take(self):
        self.align()
        return bytes(self.out)


def nbits(*vs):
    n = 1
    for v in vs:
        while not (-(1 << (n - 1)) <= v < (1 << (n - 1))):
            n += 1
    return n


def rect(x0, x1, y0, y1):
    b = Bits()
    n = nbits(x0, x1, y0, y1)
    b.ub(n, 5)
    for v in (x0, x1, y0, y1):
        b.sb(v, n)
    return b.take()


def translate(tx, ty):
    b = Bits()
    b.ub(0, 1)
    b.ub(0, 1)
    n = nbits(tx, ty)
    b.ub(n, 5)
    b.sb(tx, n)
    b.sb(ty, n)
    return b.take()


def tag(code, body):
    if len(body) >= 63:
        return struct.pack('<HI', code << 6 | 63, len(body)) + body
    return struct.pack('<H', code << 6 | len(body)) + body


def glyph(paths):
    """SHAPE records of closed polygons (fill 0 inside), 1024 units to the em."""
    b = Bits()
    b.ub(1, 4)
    b.ub(0, 4)
    first = True
    for path in paths:
        x, y = path[0]
        b.ub(0, 1)
        b.ub(0, 3)
        b.ub(1 if first else 0, 1)
        b.ub(1, 1)
        n = nbits(x, y)
        b.ub(n, 5)
        b.sb(x, n)
        b.sb(y, n)
        if first:
            b.ub(1, 1)
        first = False
        px, py = x, y
        for (qx, qy) in path[1:] + [path[0]]:
            dx, dy = qx - px, qy - py
            n = max(nbits(dx, dy), 2)
            b.ub(1, 1)
            b.ub(1, 1)
            b.ub(n - 2, 4)
            b.ub(1, 1)
            b.sb(dx, n)
            b.sb(dy, n)
            px, py = qx, qy
    b.ub(0, 6)
    return b.take()


def box(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def font2(fid, name, glyphs):
    """glyphs: list of (code, shape bytes, advance); a layout table with ascent 900, descent 200."""
    body = struct.pack('<HBBB', fid, 0x80 | 0x08 | 0x04, 1, len(name)) + name.encode()
    body += struct.pack('<H', len(glyphs))
    offset = 4 * (len(glyphs) + 1)
    offsets = b''
    for _, shape, _ in glyphs:
        offsets += struct.pack('<I', offset)
        offset += len(shape)
    body += offsets + struct.pack('<I', offset) + b''.join(s for _, s, _ in glyphs)
    body += b''.join(struct.pack('<H', c) for c, _, _ in glyphs)
    body += struct.pack('<HHh', 900, 200, 0)
    body += b''.join(struct.pack('<h', a) for _, _, a in glyphs)
    body += b''.join(rect(0, 0, 0, 0) for _ in glyphs)
    return tag(48, body + struct.pack('<H', 0))


def text2(tid, fid, height, rgba, x, y, indices):
    body = struct.pack('<H', tid) + rect(0, 8000, 0, 4000) + translate(0, 0) + bytes([4, 16])
    body += bytes([0x8F]) + struct.pack('<H', fid) + bytes(rgba) + struct.pack('<hhH', x, y, height)
    b = Bits()
    b.ub(len(indices), 8)
    for i, adv in indices:
        b.ub(i, 4)
        b.sb(adv, 16)
    return tag(33, body + b.take() + b'\0')


def edit(eid, bounds, fid, height, rgba, text, outlines):
    body = struct.pack('<H', eid) + rect(*bounds)
    body += bytes([0x80 | 0x04 | 0x01, 0x01 if outlines else 0x00])
    body += struct.pack('<HH', fid, height) + bytes(rgba) + b'\0' + text.encode() + b'\0'
    return tag(37, body)


def place(cid, depth, tx, ty):
    return tag(26, bytes([0x06]) + struct.pack('<HH', depth, cid) + translate(tx, ty))


def main():
    hole = [box(0, -800, 600, 0), box(200, -600, 400, -200)]
    tags = tag(9, bytes([255, 255, 255]))
    tags += font2(1, 'Boxes', [(ord('A'), glyph([box(0, -800, 600, 0)]), 700),
                               (ord('B'), glyph(hole), 700)])
    tags += font2(2, '_sans', [])
    tags += text2(3, 1, 800, [255, 0, 0, 255], 400, 1200, [(0, 600)])
    tags += edit(4, (0, 4000, 0, 1200), 1, 800, [0, 0, 255, 255], 'AB', True)
    tags += edit(5, (0, 7200, 0, 1600), 2, 960, [0, 255, 0, 255], 'HHHHHH', False)
    tags += place(3, 1, 0, 0) + place(4, 2, 2000, 400) + place(5, 3, 400, 2000)
    tags += tag(1, b'') + tag(0, b'')
    body = rect(0, 8000, 0, 4000) + struct.pack('<HH', 12 << 8, 1) + tags
    with open(sys.argv[1], 'wb') as f:
        f.write(b'FWS' + bytes([10]) + struct.pack('<I', 8 + len(body)) + body)


if __name__ == '__main__':
    main()
