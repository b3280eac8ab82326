#!/usr/bin/env python3
"""Draws the pass and fail images of the sample exam and writes them as GIF
files (images/pass.gif, images/fail.gif). Plain Python: a small palette
image, LZW-compressed as GIF89a requires. Run from this folder."""
import math
import struct

W, H = 160, 160


def lzw(pixels, min_size):
    clear, end = 1 << min_size, (1 << min_size) + 1
    out, acc, nbits = bytearray(), 0, 0
    size = min_size + 1

    def emit(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    table = {(i,): i for i in range(clear)}
    nxt = end + 1
    emit(clear)
    cur = ()
    for p in pixels:
        cand = cur + (p,)
        if cand in table:
            cur = cand
            continue
        emit(table[cur])
        if nxt < 4096:
            table[cand] = nxt
            if nxt == (1 << size) and size < 12:
                size += 1
            nxt += 1
        else:
            emit(clear)
            table = {(i,): i for i in range(clear)}
            nxt, size = end + 1, min_size + 1
        cur = (p,)
    if cur:
        emit(table[cur])
    emit(end)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def gif(path, palette, pixels):
    data = lzw(pixels, 2)
    with open(path, "wb") as f:
        f.write(b"GIF89a" + struct.pack("<HHBBB", W, H, 0xF1, 0, 0))
        for rgb in palette + [(0, 0, 0)] * (4 - len(palette)):
            f.write(bytes(rgb))
        f.write(b"," + struct.pack("<HHHHB", 0, 0, W, H, 0) + bytes([2]))
        for i in range(0, len(data), 255):
            block = data[i:i + 255]
            f.write(bytes([len(block)]) + block)
        f.write(b"\x00;")


def draw(mark):
    """0 background, 1 badge, 2 mark: a ring for a pass, a cross for a fail."""
    px = []
    cx = cy = (W - 1) / 2
    for y in range(H):
        for x in range(W):
            d = math.hypot(x - cx, y - cy)
            c = 0
            if d <= 76:
                c = 1
                if mark == "ring" and 34 <= d <= 52:
                    c = 2
                if mark == "cross" and d <= 56:
                    u, v = x - cx, y - cy
                    if abs(u - v) <= 11 or abs(u + v) <= 11:
                        c = 2
            px.append(c)
    return px


gif("images/pass.gif", [(255, 255, 255), (32, 128, 64), (255, 255, 255)], draw("ring"))
gif("images/fail.gif", [(255, 255, 255), (176, 48, 42), (255, 255, 255)], draw("cross"))
