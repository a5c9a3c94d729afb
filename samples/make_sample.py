#!/usr/bin/env python3
"""Draws samples/sunset.bmp: a 320 x 200 24-bit landscape at dusk, made from
smooth gradients, soft edges and fine noise so that it exercises the palette
the way a photograph does. Deterministic; the project ships its output.

    python3 samples/make_sample.py samples/sunset.bmp
"""
import math
import struct
import sys

WIDTH, HEIGHT = 320, 200


def noise(x, y, seed):
    """Smooth value noise from a fixed hash, in [0, 1)."""
    def lattice(ix, iy):
        h = (ix * 374761393 + iy * 668265263 + seed * 982451653) & 0xFFFFFFFF
        h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
        return (h ^ (h >> 16)) / 2**32
    ix, iy = math.floor(x), math.floor(y)
    fx, fy = x - ix, y - iy
    sx, sy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
    top = lattice(ix, iy) * (1 - sx) + lattice(ix + 1, iy) * sx
    bottom = lattice(ix, iy + 1) * (1 - sx) + lattice(ix + 1, iy + 1) * sx
    return top * (1 - sy) + bottom * sy


def fractal(x, y, seed, octaves=4):
    return sum(noise(x * 2**o, y * 2**o, seed + o) / 2**(o + 1) for o in range(octaves)) * 1.07


def mix(a, b, t):
    t = min(max(t, 0.0), 1.0)
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def pixel(x, y):
    """Colour (r, g, b) in 0..255 of the pixel at column x, row y from the top."""
    horizon = 120
    sun_x, sun_y = 225, 105
    sky = mix((30, 40, 110), (250, 150, 70), (y / horizon) ** 1.6)
    glow = math.exp(-((x - sun_x) ** 2 + (y - sun_y) ** 2) / 1800)
    sky = mix(sky, (255, 230, 160), glow)
    if math.hypot(x - sun_x, y - sun_y) < 14:
        sky = (255, 245, 200)
    cloud = fractal(x / 60, y / 18, 7) - 0.55
    if cloud > 0 and y < 95:
        sky = mix(sky, (255, 190, 170), cloud * 3)
    far_ridge = 92 + 22 * fractal(x / 70, 0.5, 3)
    near_ridge = 108 + 18 * fractal(x / 40, 3.5, 11)
    if y >= horizon:
        depth = (y - horizon) / (HEIGHT - horizon)
        ripple = 3 * math.sin(y * 0.9 + 2 * fractal(x / 25, y / 4, 5))
        mirrored = pixel(min(max(int(x + ripple), 0), WIDTH - 1), 2 * horizon - y - 1)
        return mix(mirrored, (20, 35, 60), 0.35 + 0.5 * depth)
    if y > near_ridge:
        shade = fractal(x / 12, y / 12, 23)
        return mix((25, 45, 30), (70, 90, 45), shade)
    if y > far_ridge:
        return mix((90, 70, 110), (150, 100, 120), (y - far_ridge) / 30)
    return sky


def main(path):
    row_size = WIDTH * 3  # 960: a multiple of 4, so rows need no padding
    header = struct.pack("<2sIHHI", b"BM", 54 + row_size * HEIGHT, 0, 0, 54)
    header += struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, 0, 2835, 2835, 0, 0)
    rows = []
    for y in reversed(range(HEIGHT)):  # BMP rows are stored bottom-up
        row = bytearray()
        for x in range(WIDTH):
            r, g, b = (int(round(min(max(c + 6 * (noise(x * 0.9, y * 0.9, 99) - 0.5), 0), 255)))
                       for c in pixel(x, y))
            row += bytes((b, g, r))
        rows.append(bytes(row))
    with open(path, "wb") as out:
        out.write(header + b"".join(rows))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sunset.bmp")
