#!/usr/bin/env python3
"""Writes scripted_movie.swf: a 400 x 300 movie at 24 frames per second whose first frame stops
the main timeline, attaches the exported clip "Ball" (a red 40 x 40 square) at y = 130 and moves it
10 pixels to the right on every enterFrame, wrapping at 360. Its second frame, never reached while
stop() works, covers the stage in blue. The end-to-end movie checks play it.

    python3 tests/data/make_scripted_movie.py tests/data/scripted_movie.swf
"""
import struct
import sys


class Bits:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def ub(self, v, n):
        for i in range(n - 1, -1, -1):
            self.acc = (self.acc << 1) | ((v >> i) & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                self.acc = self.n = 0

    def sb(self, v, n):
        self.ub(v & ((1 << n) - 1), n)

    def align(self):
        if self.n:
            self.ub(0, 8 - self.n)
        return bytes(self.out)


def nbits(*vals):
    n = 1
    for v in vals:
        while not (-(1 << (n - 1)) <= v < (1 << (n - 1))):
            n += 1
    return n


def rect(x0, x1, y0, y1):
    b = Bits()
    n = nbits(x0, x1, y0, y1)
    b.ub(n, 5)
    for v in (x0, x1, y0, y1):
        b.sb(v, n)
    return b.align()


def matrix(tx, ty):
    b = Bits()
    b.ub(0, 1)
    b.ub(0, 1)
    n = nbits(tx, ty)
    b.ub(n, 5)
    b.sb(tx, n)
    b.sb(ty, n)
    return b.align()


def tag(code, body):
    if len(body) < 63:
        return struct.pack("<H", (code << 6) | len(body)) + body
    return struct.pack("<HI", (code << 6) | 63, len(body)) + body


def square_shape(sid, w, h, rgb):
    """DefineShape: one solid fill on the right of a clockwise rectangle."""
    body = struct.pack("<H", sid) + rect(0, w, 0, h)
    body += bytes([1, 0]) + bytes(rgb)  # one solid fill
    body += bytes([0])  # no line styles
    b = Bits()
    b.ub(1, 4)  # fill bits
    b.ub(0, 4)  # line bits
    # Style change: move to (0, 0), fill1 = 1.
    b.ub(0, 1)
    b.ub(0b00101, 5)  # moveTo, fill1
    n = nbits(0)
    b.ub(n, 5)
    b.sb(0, n)
    b.sb(0, n)
    b.ub(1, 1)  # fill1 = 1
    for dx, dy in ((w, 0), (0, h), (-w, 0), (0, -h)):
        b.ub(1, 1)  # edge
        b.ub(1, 1)  # straight
        n = nbits(dx, dy)
        b.ub(n - 2, 4)
        if dx and dy:
            b.ub(1, 1)
            b.sb(dx, n)
            b.sb(dy, n)
        else:
            b.ub(0, 1)
            b.ub(1 if dx == 0 else 0, 1)  # vertical line flag
            b.sb(dy if dx == 0 else dx, n)
    b.ub(0, 6)  # end of shape
    return tag(2, body + b.align())


def push(*items):
    data = bytearray()
    for it in items:
        if isinstance(it, str):
            data += b"\x00" + it.encode() + b"\x00"
        else:
            data += b"\x07" + struct.pack("<i", it)
    return b"\x96" + struct.pack("<H", len(data)) + bytes(data)


GET_VARIABLE, GET_MEMBER, SET_MEMBER, CALL_METHOD = b"\x1c", b"\x4e", b"\x4f", b"\x52"
POP, STOP, ADD2, MODULO = b"\x17", b"\x07", b"\x47", b"\x3f"


def ball():
    return push("_root") + GET_VARIABLE + push("b") + GET_MEMBER


def main(path):
    step = ball() + push("_x") + ball() + push("_x") + GET_MEMBER
    step += push(10) + ADD2 + push(360) + MODULO + SET_MEMBER
    function = b"\x9b" + struct.pack("<H", 1 + 2 + 2) + b"\x00" + struct.pack("<HH", 0, len(step))
    frame1 = STOP
    frame1 += push(1, "b", "Ball", 3, "_root") + GET_VARIABLE + push("attachMovie")
    frame1 += CALL_METHOD + POP
    frame1 += ball() + push("_y", 130) + SET_MEMBER
    frame1 += push("_root") + GET_VARIABLE + push("onEnterFrame") + function + step + SET_MEMBER
    frame1 += b"\x00"

    sprite = struct.pack("<HH", 2, 1)
    sprite += tag(26, bytes([0x06]) + struct.pack("<HH", 1, 1) + matrix(0, 0))  # square at 0,0
    sprite += tag(1, b"") + tag(0, b"")

    body = rect(0, 400 * 20, 0, 300 * 20) + struct.pack("<HH", 24 << 8, 2)
    body += tag(9, bytes([255, 255, 255]))
    body += square_shape(1, 800, 800, (255, 0, 0))
    body += square_shape(3, 400 * 20, 300 * 20, (0, 0, 255))
    body += tag(39, sprite)
    body += tag(56, struct.pack("<HH", 1, 2) + b"Ball\x00")
    body += tag(12, frame1)
    body += tag(1, b"")
    body += tag(26, bytes([0x06]) + struct.pack("<HH", 5, 3) + matrix(0, 0))  # the blue cover
    body += tag(1, b"") + tag(0, b"")
    data = b"FWS" + bytes([6]) + struct.pack("<I", len(body) + 8) + body
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "scripted_movie.swf")
