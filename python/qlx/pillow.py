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
import re

import numpy as np
from PIL import Image, ImageFile, ImagePalette

import qlx

FORMAT = "QLX"
_SIZE_IN_NAME = re.compile(r"\.(\d{1,9})x(\d{1,9})\.qlx$", re.IGNORECASE)
_STANDARD_SIZE = (320, 200)


def _name_of(fp, filename) -> str:
    name = filename or getattr(fp, "name", "")
    return os.fsdecode(name) if isinstance(name, (str, bytes, os.PathLike)) else ""


def size_in_name(name: str) -> tuple[int, int] | None:
    """The size a name such as "castle.641x480.qlx" gives, if it gives one."""
    match = _SIZE_IN_NAME.search(name)
    if not match or int(match.group(1)) == 0 or int(match.group(2)) == 0:
        return None
    return int(match.group(1)), int(match.group(2))


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


def _palette_is_ours(image) -> bool:
    mode, data = image.palette.getdata() if image.palette else ("", b"")
    if mode != "RGB" or len(data) == 0 or len(data) % 3 != 0 or len(data) > 768:
        return False
    return data == qlx.PALETTE.tobytes()[:len(data)]


def _save(image, fp, filename):
    options = {key: image.encoderinfo[key] for key in ("dither", "strength", "light", "transparent_index", "threads")
               if key in image.encoderinfo}
    if image.mode == "P" and _palette_is_ours(image) and not options:
        indices = np.asarray(image, dtype=np.uint8)
    else:
        indices = qlx.quantise(image, **options)
    fp.write(np.ascontiguousarray(indices).tobytes())


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
