#!/usr/bin/env python3
"""Writes sound_movie.swf: a 12 fps movie whose first frame starts an MP3 event sound (the 440 Hz
tone of tests/swf/tone_440hz.mp3, 22.05 kHz mono) and that lasts 24 frames, for the checks that
decode it on both systems.

    make_sound_movie.py [OUT.swf]
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def tag(code, body):
    if len(body) < 63:
        return struct.pack("<H", (code << 6) | len(body)) + body
    return struct.pack("<HI", (code << 6) | 63, len(body)) + body


def mp3_frames(data):
    """Counts the MPEG 2 layer III frames (576 samples each) of a 22.05 kHz stream."""
    rates = {0: 22050, 1: 24000, 2: 16000}
    kbps = [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]
    i = count = 0
    while i + 4 <= len(data):
        if data[i] != 0xFF or (data[i + 1] & 0xE0) != 0xE0:
            i += 1
            continue
        bitrate = kbps[data[i + 2] >> 4] * 1000
        rate = rates[(data[i + 2] >> 2) & 3]
        pad = (data[i + 2] >> 1) & 1
        size = 72 * bitrate // rate + pad
        if size <= 0:
            break
        count += 1
        i += size
    return count


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "sound_movie.swf")
    with open(os.path.join(HERE, "..", "swf", "tone_440hz.mp3"), "rb") as f:
        mp3 = f.read()
    samples = mp3_frames(mp3) * 576
    # MP3 (2), 22.05 kHz (2), 16-bit, mono; sample count; seek samples 0; the frames.
    sound = struct.pack("<HBI", 1, (2 << 4) | (2 << 2) | 2, samples) + struct.pack("<h", 0) + mp3
    body = tag(9, bytes([0, 0, 0]))  # black background
    body += tag(14, sound)
    body += tag(15, struct.pack("<HB", 1, 0))  # StartSound, no options
    frames = 24
    body += tag(1, b"") * frames + tag(0, b"")
    # A 200 x 100 stage: the rectangle 0..4000 x 0..2000 twips in 15-bit fields.
    bits = "01111" + "".join(format(v, "015b") for v in (0, 4000, 0, 2000))
    bits += "0" * (-len(bits) % 8)
    rect = int(bits, 2).to_bytes(len(bits) // 8, "big")
    header = rect + struct.pack("<HH", 12 << 8, frames)
    data = b"FWS" + bytes([8]) + struct.pack("<I", 8 + len(header) + len(body)) + header + body
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
