"""QLX in Pillow: `import qlx.pillow`, then

    Image.open("castle.641x480.qlx")                 # mode "P", the built-in palette
    image.save("picture.qlx", dither="floyd-steinberg", light="linear")

A QLX file has no signature, so it is known by its extension. Its size comes
from its name, as the qlx command writes it (NAME.WIDTHxHEIGHT.qlx), or is
320 x 200; qlx.open(path, size=(width, height)) gives any other. Saving a mode
"P" image whose palette is ours keeps its indices; any other image is
quantised by the library with the options given to save().
"""

from __future__ import annotations

import builtins
import os

import numpy as np
from PIL import Image, ImageFile, ImagePalette

import qlx

FORMAT = "QLX"
_STANDARD_SIZE = (320, 200)


def _name_of(fp, filename) -> str:
    name = filename or getattr(fp, "name", "")
    return os.fsdecode(name) if isinstance(name, (str, bytes, os.PathLike)) else ""


size_in_name = qlx.size_from_name  # the library's rule, for every door


class QlxImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "QLX palette indices"

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


def _save(image, fp, filename):
    options = {key: image.encoderinfo[key]
               for key in ("dither", "strength", "light", "transparent_index", "background", "threads")
               if key in image.encoderinfo}
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
    name = os.fspath(path)
    file = builtins.open(name, "rb")
    image = QlxImageFile(_SizedFile(file, tuple(size) if size else None), name)
    image.load()
    file.close()
    return image


Image.register_open(FORMAT, QlxImageFile)
Image.register_save(FORMAT, _save)
Image.register_extension(FORMAT, ".qlx")
Image.register_mime(FORMAT, "application/x-qlx")
# First in line: no other format's signature may claim a QLX file, whose
# bytes can begin as anything; for any other name it steps aside at once.
if FORMAT in Image.ID:
    Image.ID.remove(FORMAT)
Image.ID.insert(0, FORMAT)
