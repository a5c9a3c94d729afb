"""qlx in Python against its baselines, each measured in the same run:
  - qlx.quantise against the library's own qlx_quantise call (qlx._qlx,
    with the output allocated beforehand) on a 4096 x 4096 array and a
    320 x 200 one, for none and Floyd-Steinberg;
  - against Pillow's quantize(palette=..., dither=NONE) on the photograph,
    with the share of pixels on which Pillow differs from the palette rule;
  - two threads, each converting its own pictures with threads=1, against one.
Usage: python3 bench/python_benchmark.py PHOTO.bmp [ROUNDS]
"""

import statistics
import sys
import threading
import time

import numpy as np
from PIL import Image

import qlx
from qlx import _qlx


def median_seconds(function, rounds):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def alternately(first, second, rounds):
    """The medians of two functions run in turns, so that noise falls on both alike."""
    a, b = [], []
    for _ in range(rounds):
        for function, times in ((first, a), (second, b)):
            start = time.perf_counter()
            function()
            times.append(time.perf_counter() - start)
    return statistics.median(a), statistics.median(b)


def direct_call(rgb, method):
    """qlx_convert itself: the array's memory and a ready output, no checks."""
    height, width, _ = rgb.shape
    out = np.empty((height, width), dtype=np.uint8)
    flat = rgb.reshape(-1)
    code = qlx.METHODS.index(method)

    def call():
        _qlx.convert_into(flat, width, height, width * 3, 0, None, 0, 0, 0, out, code, 100, -1, 0, 0, 1, 0)
    return call


def main():
    photo = np.asarray(Image.open(sys.argv[1]).convert("RGB"))
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    small = np.ascontiguousarray(photo[:200, :320])

    print("== qlx.quantise against the C call on the same pixels (medians of alternating runs)")
    for name, rgb, count in (("4096 x 4096", photo, rounds), ("320 x 200", small, rounds * 200)):
        for method in ("none", "floyd-steinberg"):
            c, py = alternately(direct_call(rgb, method), lambda: qlx.quantise(rgb, dither=method), count)
            print(f"{name:12} {method:16} C {c * 1e3:9.3f} ms  Python {py * 1e3:9.3f} ms  "
                  f"ratio {py / c:5.3f}  more {1e6 * (py - c):7.1f} us")

    print("\n== against Pillow's quantize(palette=..., dither=NONE) on the photograph")
    image = Image.fromarray(photo)
    palette_image = Image.new("P", (1, 1))
    palette_image.putpalette(qlx.PALETTE.tobytes())
    pillow_indices = None

    def pillow():
        nonlocal pillow_indices
        pillow_indices = np.asarray(image.quantize(palette=palette_image, dither=Image.Dither.NONE))
    theirs, ours = alternately(pillow, lambda: qlx.quantise(photo), max(3, rounds // 3))
    exact = qlx.quantise(photo)
    # Pillow may pick another index of the same colour; only a different colour is a different pixel.
    differs = np.any(qlx.PALETTE[pillow_indices] != qlx.PALETTE[exact], axis=2).mean()
    print(f"Pillow {theirs * 1e3:.1f} ms, qlx {ours * 1e3:.1f} ms: {theirs / ours:.1f} x faster; "
          f"Pillow's colour differs from the palette rule on {100 * differs:.1f} % of the pixels")

    print("\n== threads, each converting its own 1024 x 1024 pictures with threads=1")
    pictures = [np.ascontiguousarray(photo[i * 512:i * 512 + 1024, :1024]) for i in range(6)]

    def convert(work):
        for rgb in work:
            qlx.quantise(rgb, dither="floyd-steinberg", threads=1)

    def with_threads(count):
        def run():
            workers = [threading.Thread(target=convert, args=(pictures,)) for _ in range(count)]
            for worker in workers:
                worker.start()
            for worker in workers:
                worker.join()
        return run
    one, two = alternately(with_threads(1), with_threads(2), rounds)
    print(f"one thread {len(pictures) / one:.1f} pictures/s, two threads {2 * len(pictures) / two:.1f} pictures/s: "
          f"{2 * one / two:.2f} x the throughput")


if __name__ == "__main__":
    main()
