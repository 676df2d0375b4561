#!/usr/bin/env python3
"""Writes the movies of the checks that decode MP3 on both systems, each 24 frames at 12 fps with
the 440 Hz tone of tests/swf/tone_440hz.mp3 (22.05 kHz mono):
- sound_movie.swf: the first frame starts the tone as an event sound;
- sound_stream_movie.swf: the tone is the movie's stream sound, each frame's block holding the MP3
  frames that begin within the frame's interval.

    make_sound_movie.py [OUT_DIR]
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
    """The byte ranges of the MPEG 2 layer III frames (576 samples each) of a 22.05 kHz stream."""
    rates = {0: 22050, 1: 24000, 2: 16000}
    kbps = [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]
    i = 0
    frames = []
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
        frames.append((i, i + size))
        i += size
    return frames


def movie(body, frames):
    # A 200 x 100 stage: the rectangle 0..4000 x 0..2000 twips in 15-bit fields.
    bits = "01111" + "".join(format(v, "015b") for v in (0, 4000, 0, 2000))
    bits += "0" * (-len(bits) % 8)
    rect = int(bits, 2).to_bytes(len(bits) // 8, "big")
    header = rect + struct.pack("<HH", 12 << 8, frames)
    return b"FWS" + bytes([8]) + struct.pack("<I", 8 + len(header) + len(body)) + header + body


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else HERE
    with open(os.path.join(HERE, "..", "swf", "tone_440hz.mp3"), "rb") as f:
        mp3 = f.read()
    ranges = mp3_frames(mp3)
    frames = 24
    # MP3 (2), 22.05 kHz (2), 16-bit, mono.
    coding = (2 << 4) | (2 << 2) | 2

    # The event sound: sample count, seek samples 0, the frames.
    sound = struct.pack("<HBI", 1, coding, len(ranges) * 576) + struct.pack("<h", 0) + mp3
    body = tag(9, bytes([0, 0, 0]))  # black background
    body += tag(14, sound)
    body += tag(15, struct.pack("<HB", 1, 0))  # StartSound, no options
    body += tag(1, b"") * frames + tag(0, b"")
    with open(os.path.join(out, "sound_movie.swf"), "wb") as f:
        f.write(movie(body, frames))

    # The stream: SoundStreamHead2 (playback and stream format alike, 1837 samples a frame, no
    # latency), then
    # per frame a block of the MP3 frames that begin before the frame's interval ends.
    per_frame = 22050 / 12
    body = tag(9, bytes([0, 0, 0]))
    # Latency seek 0: the tone is cut to whole frames, as the event sound is.
    body += tag(45, struct.pack("<BBHh", coding & 0x0F, coding, int(per_frame), 0))
    at = 0
    for f in range(frames):
        first = at
        while at < len(ranges) and at * 576 < (f + 1) * per_frame:
            at += 1
        if at > first:
            data = mp3[ranges[first][0]:ranges[at - 1][1]]
            # Sample count, seek samples 0 (used only when a player seeks), the frames.
            body += tag(19, struct.pack("<Hh", (at - first) * 576, 0) + data)
        body += tag(1, b"")
    body += tag(0, b"")
    with open(os.path.join(out, "sound_stream_movie.swf"), "wb") as f:
        f.write(movie(body, frames))


if __name__ == "__main__":
    main()
