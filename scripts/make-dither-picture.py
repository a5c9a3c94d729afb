#!/usr/bin/env python3
"""Draws docs/dithering.png: a picture as the original, then converted to the
palette by every method, in two rows of four: original, nearest colour,
Floyd-Steinberg, the same in linear light; Atkinson, Sierra Lite, ordered,
blue noise.

Usage: scripts/make-dither-picture.py [BIN_DIR [PICTURE.bmp [OUT.png]]]
(defaults: build/bin, samples/sunset.bmp, docs/dithering.png). Standard
library only: the PNG is written with zlib.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

METHODS = [["--dither=none"], ["--dither=floyd-steinberg"], ["--dither=floyd-steinberg", "--dither-light=linear"],
           ["--dither=atkinson"], ["--dither=sierra-lite"], ["--dither=ordered"], ["--dither=blue-noise"]]
PER_ROW = 4
GAP = 4  # white columns between the panels


def read_bmp(path):
    """Width, height and rows (top first) of RGB triples of a 24-bit BMP."""
    data = open(path, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(abs(height)):
        stored = y if height < 0 else abs(height) - 1 - y
        start = offset + stored * stride
        row = data[start:start + width * 3]
        rows.append(bytes(b for i in range(0, len(row), 3) for b in (row[i + 2], row[i + 1], row[i])))
    return width, abs(height), rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = b"".join(b"\x00" + row for row in rows)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


def converted(bin_dir, picture, options, width, height, scratch):
    name = "-".join(option.split("=")[1] for option in options)
    qlx = os.path.join(scratch, name + ".qlx")
    bmp = os.path.join(scratch, name + ".bmp")
    subprocess.run([os.path.join(bin_dir, "palquant"), *options, picture, qlx], check=False)
    subprocess.run([os.path.join(bin_dir, "palexpand"), "--size=%dx%d" % (width, height), qlx, bmp], check=True)
    return read_bmp(bmp)[2]


def main():
    bin_dir = sys.argv[1] if len(sys.argv) > 1 else "build/bin"
    picture = sys.argv[2] if len(sys.argv) > 2 else "samples/sunset.bmp"
    out = sys.argv[3] if len(sys.argv) > 3 else "docs/dithering.png"
    width, height, original = read_bmp(picture)
    with tempfile.TemporaryDirectory() as scratch:
        panels = [original] + [converted(bin_dir, picture, m, width, height, scratch) for m in METHODS]
    gap = b"\xff" * (3 * GAP)
    row_width = PER_ROW * width + (PER_ROW - 1) * GAP
    rows = []
    for first in range(0, len(panels), PER_ROW):
        if first > 0:
            rows += [b"\xff" * (3 * row_width)] * GAP
        rows += [gap.join(panel[y] for panel in panels[first:first + PER_ROW]) for y in range(height)]
    write_png(out, row_width, len(rows), rows)


if __name__ == "__main__":
    main()
