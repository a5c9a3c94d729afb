"""The qlx package as a user meets it: palquant's bytes, every kind of input,
threads, memory, Pillow both ways, the qlx command's fitting and PNG, and the
Dask example on a local cluster."""

from __future__ import annotations

import os
import resource
import subprocess
import sys
import threading
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import qlx
import qlx.pillow  # noqa: F401 - registers QLX with Pillow

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "samples" / "sunset.bmp"
PALQUANT = Path(os.environ.get("PALQUANT", ROOT / "build" / "bin" / "palquant"))
QLX_COMMAND = Path(os.environ.get("QLX", ROOT / "build" / "bin" / "qlx"))
TEST_PICTURES = [SAMPLE, *sorted((ROOT / "tests" / "data" / "bmpsuite" / "g").glob("rgb24*.bmp"))]


def palquant(picture: Path, tmp_path: Path, *options: str) -> bytes:
    out = tmp_path / "palquant.qlx"
    run = subprocess.run([PALQUANT, *options, picture, out], capture_output=True)
    assert run.returncode == 1, run.stdout  # palquant's success
    return out.read_bytes()


def bmp_pixels(path: Path) -> np.ndarray:
    with Image.open(path) as image:
        return np.asarray(image.convert("RGB"))


@pytest.mark.parametrize("method", qlx.METHODS)
@pytest.mark.parametrize("light", qlx.LIGHTS)
def test_palquants_bytes_for_every_method_and_light(method, light, tmp_path):
    for picture in TEST_PICTURES:
        expected = palquant(picture, tmp_path, f"--dither={method}", f"--dither-light={light}")
        assert qlx.from_bmp(picture.read_bytes(), dither=method, light=light).tobytes() == expected
        assert qlx.quantise(bmp_pixels(picture), dither=method, light=light).tobytes() == expected


def test_every_kind_of_pixels_gives_the_same_bytes():
    rgb = bmp_pixels(SAMPLE)
    expected = qlx.quantise(rgb)
    read_only = rgb.copy()
    read_only.flags.writeable = False
    padded = np.zeros((200, 400, 3), dtype=np.uint8)
    padded[:, :320] = rgb
    rgba = np.dstack([rgb, np.full(rgb.shape[:2], 255, np.uint8)])

    class Interface:  # an object with __array_interface__ alone
        def __init__(self, array):
            self.__array_interface__ = array.__array_interface__

    same = {
        "array": rgb, "read-only": read_only, "padded rows": padded[:, :320], "rgba": rgba,
        "every other row": np.repeat(rgb, 2, axis=0)[::2], "memoryview": memoryview(rgb),
        "__array_interface__": Interface(rgb), "Fortran order": np.asfortranarray(rgb),
        "PIL RGB": Image.fromarray(rgb), "PIL RGBA": Image.fromarray(rgba),
    }
    for name, pixels in same.items():
        assert np.array_equal(qlx.quantise(pixels), expected), name
    # Other modes are converted first: grey is grey in RGB.
    grey = Image.fromarray(rgb).convert("L")
    assert np.array_equal(qlx.quantise(grey), qlx.quantise(np.asarray(grey.convert("RGB"))))


def test_wrong_pixels_and_options_are_refused_in_words():
    rgb = bmp_pixels(SAMPLE)
    with pytest.raises(TypeError, match="uint8"):
        qlx.quantise(rgb.astype(np.float32))
    with pytest.raises(ValueError, match=r"\(height, width, 3\)"):
        qlx.quantise(rgb[:, :, :2])
    with pytest.raises(ValueError, match="at least one row"):
        qlx.quantise(rgb[:0])
    with pytest.raises(TypeError, match="array or a PIL image"):
        qlx.quantise(object())
    with pytest.raises(TypeError):
        qlx.quantise(None)
    for options, text in [({"dither": "sideways"}, "dithering method"), ({"strength": 101}, "strength"),
                          ({"light": "dim"}, "light"), ({"transparent_index": 256}, "transparent"),
                          ({"threads": -1}, "thread"), ({"fit": "squash"}, "fit")]:
        with pytest.raises(qlx.Error, match=text) as refused:
            qlx.quantise(rgb, **options)
        assert isinstance(refused.value, ValueError) and refused.value.status > 0
    for background in ("12345", "#GGGGGG", 0x1000000, -1, (256, 0, 0), 1.5):
        with pytest.raises(qlx.Error, match="background") as refused:
            qlx.quantise(rgb, background=background)
        assert refused.value.status == qlx.Status.BACKGROUND_OUT_OF_RANGE
    with pytest.raises(qlx.Error, match="24bit"):
        qlx.from_bmp(b"BM" + bytes(60))


def test_transparent_pixels_take_the_index():
    rgba = np.zeros((2, 3, 4), dtype=np.uint8)
    rgba[..., 0] = 200
    rgba[..., 3] = [[255, 127, 128], [0, 255, 255]]
    indices = qlx.quantise(rgba, transparent_index=80)
    assert indices.tolist() == [[qlx.nearest_index(200, 0, 0), 80, qlx.nearest_index(200, 0, 0)],
                                [80, qlx.nearest_index(200, 0, 0), qlx.nearest_index(200, 0, 0)]]
    # Without it, every pixel is blended over the background.
    assert qlx.quantise(rgba).tolist() == [[qlx.nearest_index(200, 0, 0), qlx.nearest_index(100, 0, 0),
                                            qlx.nearest_index(100, 0, 0)], [0, qlx.nearest_index(200, 0, 0),
                                                                            qlx.nearest_index(200, 0, 0)]]
    assert qlx.quantise(rgba, background="#00FF00")[1, 0] == qlx.nearest_index(0, 255, 0)
    assert qlx.quantise(rgba, background=(0, 0, 255))[1, 0] == qlx.nearest_index(0, 0, 255)


def test_every_status_has_its_name_and_text():
    assert qlx.Status.OK == 0 and qlx.Status.TOO_MANY_ROWS == 34 and qlx.Status.UNKNOWN_NAME == 35
    assert len(qlx.Status) >= 25
    with pytest.raises(qlx.Error) as refused:
        qlx.quantise(np.zeros((1, 1, 3), np.uint8), strength=101)
    assert refused.value.status is qlx.Status.STRENGTH_OUT_OF_RANGE


def test_expand_to_bmp_and_palette():
    indices = (np.arange(200 * 320) % 256).astype(np.uint8).reshape(200, 320)
    assert np.array_equal(qlx.expand(indices), qlx.PALETTE[indices])
    assert np.array_equal(qlx.expand(indices, alpha=True)[..., 3], np.full((200, 320), 255))
    assert qlx.to_bmp(indices)[:2] == b"BM" and len(qlx.to_bmp(indices)) == 192054
    assert not qlx.PALETTE.flags.writeable
    assert qlx.nearest_index(255, 255, 255) == 47


def test_threads_give_the_same_bytes():
    rgb = np.asarray(Image.fromarray(bmp_pixels(SAMPLE)).resize((1280, 800)))
    expected = {method: qlx.quantise(rgb, dither=method, threads=1) for method in qlx.METHODS}
    results: dict[tuple[int, str], np.ndarray] = {}

    def work(worker: int) -> None:
        for method in qlx.METHODS:
            results[worker, method] = qlx.quantise(rgb, dither=method, threads=1)

    workers = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    for (worker, method), indices in results.items():
        assert np.array_equal(indices, expected[method]), (worker, method)
    assert len(results) == 4 * len(qlx.METHODS)


def test_ten_thousand_calls_do_not_grow_memory():
    rgb = bmp_pixels(SAMPLE)[:50, :50]

    def resident_kib() -> int:
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * resource.getpagesize() // 1024

    for _ in range(1000):  # warm up the allocator
        qlx.quantise(rgb, dither="atkinson")
    before = resident_kib()
    for n in range(10_000):
        qlx.quantise(rgb, dither="atkinson")
        try:
            qlx.quantise(rgb, dither="sideways")
        except qlx.Error:
            pass
    assert resident_kib() - before < 2048, f"grew by {resident_kib() - before} KiB"


def test_pillow_opens_and_saves_qlx(tmp_path):
    indices = (np.arange(641 * 480) * 11 % 256).astype(np.uint8).reshape(480, 641)
    named = tmp_path / "castle.641x480.qlx"
    named.write_bytes(indices.tobytes())
    with Image.open(named) as image:
        assert image.mode == "P" and image.size == (641, 480) and image.format == "QLX"
        assert np.array_equal(np.asarray(image), indices)
        image.save(tmp_path / "copy.641x480.qlx")  # our palette: indices kept, duplicates too
    assert (tmp_path / "copy.641x480.qlx").read_bytes() == indices.tobytes()

    unnamed = tmp_path / "castle.qlx"
    unnamed.write_bytes(indices.tobytes())
    with pytest.raises(qlx.Error, match=r"qlx.open\(path, size="):
        Image.open(unnamed)
    assert qlx.open(unnamed, size=(641, 480)).size == (641, 480)

    Image.open(SAMPLE).save(tmp_path / "sunset.qlx", dither="floyd-steinberg")
    assert (tmp_path / "sunset.qlx").read_bytes() == palquant(SAMPLE, tmp_path, "--dither=floyd-steinberg")
    with Image.open(SAMPLE) as bmp:  # other formats are untouched
        assert bmp.format == "BMP"


@pytest.mark.skipif(not QLX_COMMAND.exists(), reason="the qlx command is not built")
def test_fit_and_png_agree_with_the_qlx_command(tmp_path):
    rgb = bmp_pixels(SAMPLE)
    for fit in ("contain", "cover", "stretch"):
        out = tmp_path / f"{fit}.qlx"
        subprocess.run([QLX_COMMAND, "convert", f"--fit={fit}", "--size=200x150", "--dither=atkinson", SAMPLE, out],
                       check=True)
        assert qlx.quantise(rgb, fit=fit, size=(200, 150), dither="atkinson").tobytes() == out.read_bytes(), fit
    indices = (np.arange(64000) * 11 % 256).astype(np.uint8).reshape(200, 320)
    qlx.to_image(indices).save(tmp_path / "every.png")
    subprocess.run([QLX_COMMAND, "convert", tmp_path / "every.png", tmp_path / "back.qlx"], check=True)
    assert (tmp_path / "back.qlx").read_bytes() == indices.tobytes()


def test_a_png_with_partial_alpha_gives_the_qlx_commands_bytes(tmp_path):
    height, width = 40, 64
    y, x = np.mgrid[0:height, 0:width]
    rgba = np.dstack([x * 4, y * 6, (x * y) % 256, (x * 8 + y * 3) % 256]).astype(np.uint8)
    Image.fromarray(rgba, "RGBA").save(tmp_path / "alpha.png")
    for options, keywords in [((), {}), (("--background=#3366CC", "--dither=ordered"),
                                         {"background": "#3366CC", "dither": "ordered"}),
                              (("--transparent-index=5",), {"transparent_index": 5})]:
        out = tmp_path / "alpha.64x40.qlx"
        subprocess.run([QLX_COMMAND, "convert", *options, tmp_path / "alpha.png", out], check=True)
        with Image.open(tmp_path / "alpha.png") as image:
            assert qlx.quantise(image, **keywords).tobytes() == out.read_bytes(), options


# qlx.closeness gives --report=json's figures, for a picture with alpha,
# fitted or not, so that a script can pick a method in either.
def test_closeness_gives_the_qlx_commands_report(tmp_path):
    import json
    height, width = 90, 150
    y, x = np.mgrid[0:height, 0:width]
    rgba = np.dstack([x, y * 2, (x * y) % 256, np.where(x % 7 == 0, 60, 255)]).astype(np.uint8)
    Image.fromarray(rgba, "RGBA").save(tmp_path / "alpha.png")
    for options, keywords in [(("--dither=pattern",), {"dither": "pattern"}),
                              (("--dither=floyd-steinberg", "--fit=contain", "--size=64x64", "--background=103050"),
                               {"dither": "floyd-steinberg", "fit": "contain", "size": (64, 64),
                                "background": "103050"})]:
        run = subprocess.run([QLX_COMMAND, "convert", "--report=json", "--to=png", *options, tmp_path / "alpha.png",
                              tmp_path / "out.png"], check=True, capture_output=True, text=True)
        report = json.loads(run.stdout)
        with Image.open(tmp_path / "alpha.png") as image:
            indices = qlx.quantise(image, **keywords)
            figures = qlx.closeness(image, indices, **keywords)
        assert f"{figures.blurred_error:.4f}" == f"{report['blurred_error']:.4f}", options
        assert f"{figures.ciede2000:.4f}" == f"{report['ciede2000']:.4f}", options
        assert f"{figures.exact_share:.6f}" == f"{report['exact_share']:.6f}", options
        assert figures.measured == report["measured"]
    with pytest.raises(ValueError, match="shaped"):
        qlx.closeness(rgba, np.zeros((10, 10), np.uint8))


# The same pictures through the C call (by way of the qlx command's QLX
# bytes, which are qlx_convert's) and through Python: every fit, a source in
# our palette and one not, with and without alpha.
def test_every_fit_and_source_gives_the_qlx_commands_bytes(tmp_path):
    y, x = np.mgrid[0:48, 0:70]
    rgba = np.dstack([x * 3, y * 5, (x * y) % 256, np.where(x % 5 == 0, 0, 200 + x % 56)]).astype(np.uint8)
    ours = ((x * 7 + y * 3) % 256).astype(np.uint8)
    sources = {
        "colours.png": Image.fromarray(rgba[..., :3], "RGB"),
        "alpha.png": Image.fromarray(rgba, "RGBA"),
        "ours.png": qlx.to_image(ours),
        "other.png": qlx.to_image(ours).quantize(colors=64),
    }
    with_alpha = qlx.to_image(ours)
    with_alpha.info["transparency"] = 80
    sources["ours-alpha.png"] = with_alpha
    for name, image in sources.items():
        image.save(tmp_path / name, transparency=image.info["transparency"]) if "transparency" in image.info \
            else image.save(tmp_path / name)
        for fit in qlx.FITS:
            out = tmp_path / "out.64x40.qlx" if fit != "keep" else tmp_path / "out.70x48.qlx"
            subprocess.run([QLX_COMMAND, "convert", "-q", f"--fit={fit}", "--size=64x40", "--background=#204060",
                            tmp_path / name, out], check=True)
            with Image.open(tmp_path / name) as reopened:
                mine = qlx.quantise(reopened, fit=fit, size=(64, 40), background="#204060")
            assert mine.tobytes() == out.read_bytes(), (name, fit)


def test_the_size_in_a_name_is_the_librarys():
    assert qlx.size_from_name("castle.641x480.qlx") == (641, 480)
    assert qlx.size_from_name("a.64x48.320x200.QLX") == (320, 200)
    assert qlx.size_from_name("castle.qlx") is None and qlx.size_from_name("c.16385x1.qlx") is None
    assert qlx.name_with_size("out/castle", 641, 480) == "out/castle.641x480.qlx"
    assert qlx.name_with_size("title", 320, 200) == "title.qlx"
    with pytest.raises(qlx.Error) as refused:
        qlx.name_with_size("x", 0, 5)
    assert refused.value.status is qlx.Status.SIDE_OUT_OF_RANGE


def test_the_dask_example_on_a_local_cluster(tmp_path):
    distributed = pytest.importorskip("distributed")
    sys.path.insert(0, str(ROOT / "python" / "examples"))
    import convert_folder

    pictures = tmp_path / "pictures"
    pictures.mkdir()
    rng = np.random.default_rng(5)
    expected = {}
    for n in range(40):
        pixels = rng.integers(0, 256, size=(30 + n, 40, 3), dtype=np.uint8)
        Image.fromarray(pixels).save(pictures / f"picture-{n:02}.png")
        expected[f"picture-{n:02}.qlx"] = qlx.quantise(pixels, dither="ordered").tobytes()
    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        done = convert_folder.convert_folder(client, pictures, tmp_path / "out", {"dither": "ordered", "threads": 1})
    assert len(done) == 40
    for name, indices in expected.items():
        assert (tmp_path / "out" / name).read_bytes() == indices, name
