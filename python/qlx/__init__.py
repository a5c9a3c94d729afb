"""Exact conversion between true-colour pixels and QLX, the index format of
one fixed palette of 256 colours.

    import qlx
    indices = qlx.quantise(pixels, dither="floyd-steinberg", light="linear")
    qlx.to_image(indices).save("picture.png")      # indexed, every index kept

The indices are libqlx's bytes, the same as the palquant program's for the
same pixels. Every conversion releases the GIL, so threads convert in
parallel; refusals raise qlx.Error with the library's text.
"""

from __future__ import annotations

import builtins
import enum
import os
from typing import NamedTuple

import numpy as np

from . import _qlx

__all__ = [
    "PALETTE", "Error", "Status", "METHODS", "LIGHTS", "FITS", "STABLE_TOLERANCE", "Closeness", "quantise", "closeness", "quantise_frames",
    "save_gif", "convert_gif", "expand", "from_bmp", "to_bmp", "to_image", "nearest_index", "size_from_name",
    "name_with_size", "open", "__version__",
]

__version__: str = _qlx.version
Error = _qlx.Error
Error.__module__ = "qlx"

#: Every status of the library, by its name without "QLX_": qlx.Error's
#: .status is one of them (an int, so it compares with the codes too).
Status = enum.IntEnum("Status", [(name.removeprefix("QLX_"), code) for code, name in _qlx.status_names()],
                      module=__name__)
_qlx.use_status_type(Status)

#: The names each option takes, in the library's order; the first is the default.
METHODS, LIGHTS, FITS = (tuple(names) for names in _qlx.vocabulary())

#: The built-in palette: a read-only (256, 3) uint8 array of red, green, blue.
PALETTE: np.ndarray = np.frombuffer(_qlx.palette(), dtype=np.uint8).reshape(256, 3)

_RGB, _RGBA = 0, 2  # qlx_pixel_format
_UNKNOWN = -1  # a code of no name, which the library refuses in its own words


def _code(names: tuple[str, ...], name: str) -> int:
    return names.index(name) if isinstance(name, str) and name in names else _UNKNOWN


_COMPOSITE = 1  # qlx_alpha: blend over the background, as the qlx command does


def _colour(background) -> int:
    """0xRRGGBB from an int, "RRGGBB" or "#RRGGBB", or (red, green, blue);
    anything else is -1, which the library refuses in its own words."""
    if isinstance(background, str):
        digits = background.removeprefix("#")
        if len(digits) == 6 and all(c in "0123456789abcdefABCDEF" for c in digits):
            return int(digits, 16)
    elif isinstance(background, int) and not isinstance(background, bool):
        return background if 0 <= background <= 0xFFFFFF else -1
    elif isinstance(background, (tuple, list)) and len(background) == 3 and all(
            isinstance(c, int) and 0 <= c <= 255 for c in background):
        return background[0] << 16 | background[1] << 8 | background[2]
    return -1


#: --dither-stable's tolerance: a pixel keeps its index while each component
#: of its colour stays within this many codes of the colour it was chosen for.
STABLE_TOLERANCE: int = _qlx.STABLE_TOLERANCE


def _stable(dither_stable) -> int:
    """The library's `stable` for dither_stable: False, True or a tolerance."""
    if dither_stable is True:
        return STABLE_TOLERANCE
    if dither_stable is False or dither_stable is None:
        return 0
    return dither_stable if isinstance(dither_stable, int) and dither_stable > 0 else _UNKNOWN


def _options(dither="none", strength=100, light="srgb", transparent_index=None, threads=0, background=0,
             dither_stable=False):
    """The library's numbers for the option keywords, in convert_into's order."""
    if transparent_index is None:
        transparent_index = -1
    elif not isinstance(transparent_index, int) or transparent_index < 0:
        # -1 and below mean "ignore alpha" to the library; here that is None.
        transparent_index = 256
    # A value of the wrong type becomes one out of range, which the library
    # refuses in its own words.
    strength = strength if isinstance(strength, int) else _UNKNOWN
    threads = threads if isinstance(threads, int) else _UNKNOWN
    return (_code(METHODS, dither), strength, transparent_index, threads, _code(LIGHTS, light), _COMPOSITE,
            _colour(background), _stable(dither_stable))


def _palette_of(image) -> bytes:
    """A "P" image's palette as red, green, blue and alpha for each entry,
    its transparency applied: an index or an alpha for each entry."""
    rgb = image.getpalette("RGB") or []
    entries = len(rgb) // 3
    alpha = [255] * entries
    transparency = image.info.get("transparency")
    if isinstance(transparency, int) and 0 <= transparency < entries:
        alpha[transparency] = 0
    elif isinstance(transparency, (bytes, bytearray)):
        alpha[:min(entries, len(transparency))] = transparency[:entries]
    return bytes(value for i in range(entries) for value in (*rgb[3 * i:3 * i + 3], alpha[i]))


def _source(pixels) -> tuple[np.ndarray, bytes | None]:
    """Colours as a (height, width, 3 or 4) uint8 array, without a copy
    where it can be; or, for a PIL image of mode "P", its (height, width)
    indices and its palette, whose indices the library keeps when the
    palette is ours."""
    if hasattr(pixels, "getbands") and hasattr(pixels, "convert"):  # a PIL image
        if pixels.mode == "P":
            return np.asarray(pixels, dtype=np.uint8), _palette_of(pixels)
        has_alpha = "A" in pixels.getbands() or "transparency" in pixels.info
        pixels = pixels.convert("RGBA" if has_alpha else "RGB")
    try:
        array = np.asarray(pixels)
    except Exception as error:  # an object that is no array at all
        raise TypeError(f"pixels must be an array or a PIL image, not {type(pixels).__name__}") from error
    if array.dtype == object or array.ndim == 0:
        raise TypeError(f"pixels must be an array or a PIL image, not {type(pixels).__name__}")
    if array.dtype != np.uint8:
        raise TypeError(f"pixels must be uint8, not {array.dtype}")
    if array.ndim != 3 or array.shape[2] not in (3, 4):
        raise ValueError(f"pixels must be shaped (height, width, 3) or (height, width, 4), not {array.shape}")
    if array.shape[0] == 0 or array.shape[1] == 0:
        raise ValueError(f"pixels must have at least one row and one column, not {array.shape}")
    return array, None


def _rows(array: np.ndarray) -> tuple[np.ndarray, int]:
    """The memory holding the array's rows as one contiguous 1-D view, and the
    row stride: padded or sliced rows are taken as they lie, and anything
    else is copied."""
    height, width = array.shape[:2]
    channels = array.shape[2] if array.ndim == 3 else 1
    row_stride, pixel_stride = array.strides[:2]
    channel_stride = array.strides[2] if array.ndim == 3 else 1
    if channel_stride != 1 or pixel_stride != channels or row_stride < width * channels:
        array = np.ascontiguousarray(array)
        row_stride = width * channels
    span = row_stride * (height - 1) + width * channels
    flat = np.lib.stride_tricks.as_strided(array, shape=(span,), strides=(1,), writeable=False)
    return flat, row_stride


def _convert(array: np.ndarray, palette: bytes | None, fit: str, size, options: tuple, stored=None,
             memory=None) -> np.ndarray:
    """The library's whole conversion: placement, kept indices, resampling,
    transparency, quantising and the box, as every other door converts. With
    `memory`, a frame of an animation that carries it to the next."""
    box_width, box_height = (int(side) for side in size)
    height, width = array.shape[:2]
    fit_code = _code(FITS, fit)
    result_width, result_height = _qlx.convert_size(width, height, fit_code, box_width, box_height)
    flat, stride = _rows(array)
    indices = np.empty((result_height, result_width), dtype=np.uint8)
    format_code = _RGBA if array.ndim == 3 and array.shape[2] == 4 else _RGB
    _qlx.convert_into(flat, width, height, stride, format_code, palette, stored, fit_code, box_width, box_height,
                      indices, memory, *options)
    return indices


def quantise(pixels, *, dither: str = "none", strength: int = 100, light: str = "srgb",
             transparent_index: int | None = None, background=0, fit: str = "keep",
             size: tuple[int, int] = (320, 200), threads: int = 0) -> np.ndarray:
    """The palette index of every pixel, as a (height, width) uint8 array.

    pixels: a (height, width, 3) RGB or (height, width, 4) RGBA uint8 array, or
        anything with the buffer protocol or __array_interface__ shaped so
        (read-only, sliced and padded rows are read in place), or a PIL image
        of any mode: "P" gives its indices and palette, whose indices are
        kept when the palette is ours, as the qlx command keeps them; any
        other mode is converted to RGB, or RGBA if it has transparency.
    dither: one of qlx.METHODS: "none", "floyd-steinberg", "ordered",
        "atkinson", "sierra-lite", "blue-noise", "jarvis-judice-ninke",
        "stucki", "burkes", "sierra", "pattern".
    strength: 0 to 100 percent of the diffused error or the pattern.
    light: "srgb" or "linear": where diffused errors add up.
    transparent_index: 0-255: pixels whose alpha is below 128 get this index
        and take part in no error diffusion. None: every pixel is blended
        over `background` first, as the qlx command does.
    background: the colour under transparent pixels: 0xRRGGBB, "RRGGBB",
        "#RRGGBB" or (red, green, blue); black by default.
    fit: one of qlx.FITS: "keep" leaves the size alone; "contain", "cover"
        and "stretch" fit the picture into `size` as the qlx command and the
        web page do, with index 0 around a contained picture.
    size: (width, height), the box for `fit`.
    threads: 0 for one a core (up to 8, for large pictures), 1 for the
        calling thread alone, n for at most n. The bytes never depend on it.

    Raises qlx.Error (a ValueError) with the library's text for a bad option,
    TypeError or ValueError for pixels of the wrong kind or shape.
    """
    array, palette = _source(pixels)
    options = _options(dither, strength, light, transparent_index, threads, background)
    return _convert(array, palette, fit, size, options)


class Closeness(NamedTuple):
    """How close a result looks to the colours it was converted from (the
    qlx command's --report; docs/qlx-format.md states each figure)."""

    blurred_error: float  #: both blurred 5 x 5 in linear light: mean squared difference on 0-255
    ciede2000: float  #: the mean CIEDE2000 of the blurred colours
    exact_share: float  #: the share of measured pixels whose colour is exact, 0 to 1
    measured: int  #: the pixels measured: every one up to 16384, else up to that many spread evenly


def closeness(pixels, indices, *, dither: str = "none", strength: int = 100, light: str = "srgb",
              transparent_index: int | None = None, background=0, fit: str = "keep",
              size: tuple[int, int] = (320, 200), threads: int = 0) -> Closeness:
    """How close `indices`, the result of quantise(pixels, ...) with the same
    keywords, looks to the pixels: the figures of `qlx convert --report`.
    Only transparent_index, background, fit and size change them; the other
    keywords are taken so that quantise's can be passed alike."""
    array, palette = _source(pixels)
    options = _options(dither, strength, light, transparent_index, threads, background)
    box_width, box_height = (int(side) for side in size)
    height, width = array.shape[:2]
    flat, stride = _rows(array)
    format_code = _RGBA if array.ndim == 3 and array.shape[2] == 4 else _RGB
    fit_code = _code(FITS, fit)
    result = _indices(indices)
    result_width, result_height = _qlx.convert_size(width, height, fit_code, box_width, box_height)
    if result.shape != (result_height, result_width):
        raise ValueError(f"indices must be shaped {(result_height, result_width)}, as quantise gives, not {result.shape}")
    return Closeness(*_qlx.closeness_of(flat, width, height, stride, format_code, palette, None, fit_code, box_width,
                                        box_height, result, *options))


def _gif_bytes(source) -> bytes | None:
    """A GIF's bytes, from a path or bytes; None for anything that is not one."""
    if isinstance(source, (str, os.PathLike)):
        with builtins.open(source, "rb") as file:
            head = file.read(6)
            return head + file.read() if head in (b"GIF87a", b"GIF89a") else None
    if isinstance(source, (bytes, bytearray, memoryview)):
        data = bytes(source)
        return data if data[:6] in (b"GIF87a", b"GIF89a") else None
    return None


_OURS = bytes(value for colour in PALETTE.tolist() for value in (*colour, 255))


def _gif_frames(data: bytes):
    """Every frame of a GIF as the library composes it, as every door reads
    it: (pixels, palette, stored, delay), indices kept while they are ours."""
    reader, width, height, _, _ = _qlx.gif_open(data)
    while (frame := _qlx.gif_next(reader)) is not None:
        pixels, stored, delay = frame
        if stored is None:
            yield np.frombuffer(pixels, dtype=np.uint8).reshape(height, width, 4), None, None, delay
        else:
            yield np.frombuffer(pixels, dtype=np.uint8).reshape(height, width), _OURS, stored, delay


def _frame_sources(frames):
    """(pixels, palette, stored, delay) for each frame of any animation
    quantise_frames takes."""
    data = _gif_bytes(frames)
    if data is not None:
        yield from _gif_frames(data)
        return
    if isinstance(frames, (str, os.PathLike)):
        from PIL import Image

        frames = Image.open(frames)
    if hasattr(frames, "getbands") and hasattr(frames, "seek"):  # a PIL image, perhaps of many frames
        for number in range(getattr(frames, "n_frames", 1)):
            frames.seek(number)
            yield (*_source(frames), None, frames.info.get("duration"))
        return
    if isinstance(frames, np.ndarray) and frames.ndim == 4:
        frames = list(frames)
    for frame in frames:
        yield (*_source(frame), None, None)


def quantise_frames(frames, *, dither: str = "none", strength: int = 100, light: str = "srgb",
                    transparent_index: int | None = None, background=0, fit: str = "keep",
                    size: tuple[int, int] = (320, 200), threads: int = 0, dither_stable=False) -> np.ndarray:
    """The indices of every frame of an animation, as a (frames, height,
    width) uint8 array: the bytes the qlx command gives for the same frames.

    frames: a GIF (a path, or its bytes), read by the library and composed
        as browsers compose it, its indices kept where its palette is ours;
        a path Pillow opens (an animated WebP); a PIL image of many frames;
        a (frames, height, width, 3 or 4) array; or any iterable of what
        quantise() takes.
    dither_stable: True, or a tolerance from 1 to 255 (True is
        STABLE_TOLERANCE): error diffusion keeps a pixel's index from frame
        to frame while its colour stays within the tolerance, so the
        animation does not flicker. The other methods hold still already.
    The other keywords are quantise()'s. Every frame must come out at the
    first one's size.
    """
    options = _options(dither, strength, light, transparent_index, threads, background, dither_stable)
    results, memory = [], None
    for pixels, palette, stored, _ in _frame_sources(frames):
        if memory is None:
            width, height = _qlx.convert_size(pixels.shape[1], pixels.shape[0], _code(FITS, fit), *size)
            memory = bytearray(width * height * _qlx.FRAME_MEMORY_PIXEL_BYTES)
        results.append(_convert(pixels, palette, fit, size, options, stored, memory))
        if results[-1].shape != results[0].shape:
            raise Error(f"frame {len(results)} is {results[-1].shape[1]} x {results[-1].shape[0]}, not "
                        f"{results[0].shape[1]} x {results[0].shape[0]} as the first; give fit and size")
    if not results:
        raise ValueError("frames must hold at least one frame")
    return np.stack(results)


def save_gif(frames, file=None, *, delay=10, loop: int = 0, transparent_index: int | None = None) -> bytes:
    """An animated GIF in the built-in palette whose frames decode to exactly
    these indices, duplicates included: the library's bytes, as the qlx
    command writes them. Each frame stores only what changed.

    frames: a (frames, height, width) uint8 array, or an iterable of
        (height, width) ones of one size.
    file: a path or a binary file to write it to as well, or None.
    delay: hundredths of a second, for every frame or a sequence of one for
        each. loop: 0 loops forever, n is the file's loop count, -1 plays once.
    transparent_index: that index is transparent in every frame.
    Returns the GIF's bytes.
    """
    arrays = [_indices(frame) for frame in frames]
    if not arrays:
        raise ValueError("frames must hold at least one frame")
    height, width = arrays[0].shape
    delays = [delay] * len(arrays) if isinstance(delay, int) else list(delay)
    if len(delays) != len(arrays):
        raise ValueError(f"{len(delays)} delays for {len(arrays)} frames")
    transparent = -1 if transparent_index is None else transparent_index
    parts, previous = [_qlx.gif_start(width, height, loop)], None
    for array, frame_delay in zip(arrays, delays):
        if array.shape != (height, width):
            raise ValueError(f"every frame must be {height} x {width}, not {array.shape}")
        parts.append(_qlx.gif_frame(array, previous, width, height, frame_delay, transparent))
        previous = array
    parts.append(bytes([_qlx.GIF_TRAILER]))
    gif = b"".join(parts)
    if isinstance(file, (str, os.PathLike)):
        with builtins.open(file, "wb") as out:
            out.write(gif)
    elif file is not None:
        file.write(gif)
    return gif


def convert_gif(source, file=None, *, delay=None, loop: int | None = None, **options) -> bytes:
    """An animated GIF (a path or its bytes) in the built-in palette, its
    delays and loop count kept unless given: the bytes of
    `qlx convert SOURCE OUT.gif`. The options are quantise_frames'."""
    data = _gif_bytes(source)
    if data is None:
        raise Error("not a GIF")
    _, _, _, _, file_loop = _qlx.gif_open(data)
    delays = [frame_delay for _, _, _, frame_delay in _gif_frames(data)]
    indices = quantise_frames(data, **options)
    return save_gif(indices, file, delay=delays if delay is None else delay,
                    loop=file_loop if loop is None else loop,
                    transparent_index=options.get("transparent_index"))


def _indices(indices) -> np.ndarray:
    array = np.asarray(indices)
    if array.dtype != np.uint8 or array.ndim != 2 or 0 in array.shape:
        raise ValueError(f"indices must be a (height, width) uint8 array, not {array.dtype} {array.shape}")
    return np.ascontiguousarray(array)


def expand(indices, *, alpha: bool = False) -> np.ndarray:
    """The palette colours of (height, width) indices: a (height, width, 3)
    uint8 array, or (height, width, 4) with alpha 255."""
    array = _indices(indices)
    height, width = array.shape
    pixels = np.empty((height, width, 4 if alpha else 3), dtype=np.uint8)
    _qlx.expand_into(array, width, height, _RGBA if alpha else _RGB, pixels)
    return pixels


def from_bmp(data, **options) -> np.ndarray:
    """The indices of a 24-bit BMP file's bytes, exactly as palquant writes
    them; the options are quantise's dither, strength, light,
    transparent_index and threads."""
    width, height = _qlx.bmp_dimensions(data)
    indices = np.empty((height, width), dtype=np.uint8)
    _qlx.from_bmp_into(data, indices, *_options(**options))
    return indices


def to_bmp(indices) -> bytes:
    """The 24-bit BMP of (height, width) indices: palexpand's bytes."""
    array = _indices(indices)
    return _qlx.to_bmp(array, array.shape[1], array.shape[0])


def to_image(indices):
    """A PIL image of mode "P" with the built-in palette, all 256 entries in
    order. Saved as PNG, it keeps every index, duplicates included."""
    from PIL import Image

    array = _indices(indices)
    image = Image.frombuffer("P", (array.shape[1], array.shape[0]), array.tobytes(), "raw", "P", 0, 1)
    image.putpalette(PALETTE.tobytes())
    return image


def size_from_name(name) -> tuple[int, int] | None:
    """The size a QLX file's name states ("castle.641x480.qlx": (641, 480)),
    by the library's rule, or None."""
    return _qlx.size_from_name(os.fsdecode(name))


def name_with_size(stem, width: int, height: int) -> str:
    """The name of a QLX file of these sides: stem + ".641x480.qlx", or
    stem + ".qlx" for the standard 320 x 200."""
    return _qlx.name_with_size(os.fsdecode(stem), width, height)


def nearest_index(red: int, green: int, blue: int) -> int:
    """The index of the palette colour nearest to (red, green, blue):
    city-block distance, the lowest index on ties."""
    return _qlx.nearest_index(red, green, blue)


def open(path, size: tuple[int, int] | None = None):  # noqa: A001 - the Pillow idiom
    """A QLX file as a PIL image of mode "P". Its size is `size`, else the
    one in its name (castle.641x480.qlx), else 320 x 200. A name with a frame
    number, as walk-%02d.qlx, opens the frames walk-01.qlx, walk-02.qlx, ...
    (or walk-01.64x48.qlx, ... as the qlx command names them) as one image
    of many frames."""
    from .pillow import open_qlx

    return open_qlx(path, size)


PALETTE.flags.writeable = False
