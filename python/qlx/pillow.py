"""QLX in Pillow: `import qlx.pillow`, then

    Image.open("castle.641x480.qlx")                 # mode "P", the built-in palette
    image.save("picture.qlx", dither="floyd-steinberg", light="linear")
    qlx.open("walk-%02d.qlx")                        # the frames walk-01.qlx, ... as one image
    animation.save("walk-%02d.qlx", save_all=True)   # every frame, one file each

A QLX file has no signature, so it is known by its extension. Its size comes
from its name, as the qlx command writes it (NAME.WIDTHxHEIGHT.qlx), or is
320 x 200; qlx.open(path, size=(width, height)) gives any other. Saving a mode
"P" image whose palette is ours keeps its indices; any other image is
quantised by the library with the options given to save().
"""

from __future__ import annotations

import builtins
import os
import re

import numpy as np
from PIL import Image, ImageFile, ImagePalette

import qlx

FORMAT = "QLX"
_STANDARD_SIZE = (320, 200)


def _name_of(fp, filename) -> str:
    name = filename or getattr(fp, "name", "")
    return os.fsdecode(name) if isinstance(name, (str, bytes, os.PathLike)) else ""


size_in_name = qlx.size_from_name  # the library's rule, for every door


# A name with one printf-style frame number, as the qlx command takes it.
_FRAME_FIELD = re.compile(r"%(0?[1-9][0-9]?)?d")


def frame_pattern(name: str) -> bool:
    """Whether a name holds one frame number (%d, %3d, %03d; %% a percent sign)."""
    plain = name.replace("%%", "")
    return len(_FRAME_FIELD.findall(plain)) == 1 and plain.count("%") == 1


def frame_name(pattern: str, number: int, size: tuple[int, int]) -> str:
    """Frame `number`'s name, with its size as the qlx command writes it."""
    name = pattern % number
    if name.lower().endswith(".qlx") and tuple(size) != _STANDARD_SIZE and not size_in_name(name):
        name = qlx.name_with_size(name[:-4], *size)
    return name


def _frame_files(pattern: str) -> list[str]:
    """The files of a frame sequence, from 1 until one is missing: each
    named by the pattern, or with its size in the name."""
    names = []
    while True:
        name = pattern % (len(names) + 1)
        if not os.path.exists(name) and name.lower().endswith(".qlx"):
            folder, stem = os.path.split(name[:-4])
            sized = [entry for entry in os.listdir(folder or ".")
                     if entry.startswith(stem + ".") and size_in_name(entry) and entry[:-4].rsplit(".", 1)[0] == stem]
            name = os.path.join(folder, sized[0]) if len(sized) == 1 else name
        if not os.path.exists(name):
            return names
        names.append(name)


class QlxImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "QLX palette indices"
    _frames: list[str] = []  # the files of a frame sequence; empty for one file
    _frame = 0

    @property
    def n_frames(self) -> int:
        return max(1, len(self._frames))

    @property
    def is_animated(self) -> bool:
        return len(self._frames) > 1

    def seek(self, frame: int):
        if not self._seek_check(frame):
            return
        image = open_qlx(self._frames[frame])
        if image.size != self.size:
            raise qlx.Error(f"{self._frames[frame]}: not {self.size[0]} x {self.size[1]} as the first frame")
        self._frame = frame
        self.im = image.im
        self.tile = []

    def tell(self) -> int:
        return self._frame

    def _open(self):
        name = _name_of(self.fp, getattr(self, "filename", None))
        if not name.lower().endswith(".qlx"):
            raise SyntaxError("not a QLX file")  # Pillow then tries the next format
        size = getattr(self.fp, "qlx_size", None) or size_in_name(name) or _STANDARD_SIZE
        self.fp.seek(0, os.SEEK_END)
        length = self.fp.tell()
        self.fp.seek(0)
        if length != size[0] * size[1]:
            raise qlx.Error(
                f"{name}: a QLX file of {length} bytes is not {size[0]} x {size[1]}; "
                f"open it with qlx.open(path, size=(width, height))")
        self._size = size
        self.mode = "P"
        self.palette = ImagePalette.raw("RGB", qlx.PALETTE.tobytes())
        self.tile = [("raw", (0, 0) + size, 0, ("P", 0, 1))]


def _options_of(image) -> dict:
    return {key: image.encoderinfo[key]
            for key in ("dither", "strength", "light", "transparent_index", "background", "threads", "dither_stable")
            if key in image.encoderinfo}


def _save_all(image, fp, filename):
    """Every frame of the image (and of append_images) to a file of its own,
    named by the frame number in `filename`, quantised as one animation."""
    name = filename if isinstance(filename, str) else os.fsdecode(filename)
    if not frame_pattern(name):
        raise ValueError(f"{name}: saving every frame takes a name with a frame number, as walk-%02d.qlx")
    from PIL import ImageSequence

    frames = [frame.copy() for source in [image, *image.encoderinfo.get("append_images", [])]
              for frame in ImageSequence.Iterator(source)]
    options = _options_of(image)
    options.pop("dither_stable", None)
    indices = qlx.quantise_frames(frames, dither_stable=image.encoderinfo.get("dither_stable", False), **options)
    for number, frame in enumerate(indices, 1):
        with builtins.open(frame_name(name, number, (frame.shape[1], frame.shape[0])), "wb") as out:
            out.write(np.ascontiguousarray(frame).tobytes())
    # Pillow made a file of the pattern's own name before it called here.
    if fp is not None and os.path.exists(name) and os.path.getsize(name) == 0:
        os.remove(name)


def _save(image, fp, filename):
    options = _options_of(image)
    options.pop("dither_stable", None)
    # A "P" image whose palette is ours keeps its indices: the library decides.
    fp.write(np.ascontiguousarray(qlx.quantise(image, **options)).tobytes())


class _SizedFile:
    """A file whose QLX size the caller gave."""

    def __init__(self, file, size):
        self._file = file
        self.qlx_size = size

    def __getattr__(self, name):
        return getattr(self._file, name)


def open_qlx(path, size: tuple[int, int] | None = None):
    """A QLX file as a mode "P" image: its size is `size`, else the one in
    its name, else 320 x 200."""
    name = os.fsdecode(os.fspath(path))
    if frame_pattern(name):
        frames = _frame_files(name)
        if not frames:
            raise FileNotFoundError(f"{name}: no frame 1 ({name % 1})")
        image = open_qlx(frames[0], size)
        image._frames = frames
        return image
    file = builtins.open(name, "rb")
    image = QlxImageFile(_SizedFile(file, tuple(size) if size else None), name)
    image.load()
    file.close()
    return image


Image.register_open(FORMAT, QlxImageFile)
Image.register_save(FORMAT, _save)
Image.register_save_all(FORMAT, _save_all)
Image.register_extension(FORMAT, ".qlx")
Image.register_mime(FORMAT, "application/x-qlx")
# First in line: no other format's signature may claim a QLX file, whose
# bytes can begin as anything; for any other name it steps aside at once.
if FORMAT in Image.ID:
    Image.ID.remove(FORMAT)
Image.ID.insert(0, FORMAT)
