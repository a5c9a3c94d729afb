import enum
from typing import Any, Literal

import numpy as np
import numpy.typing as npt
from PIL import Image

__version__: str
PALETTE: npt.NDArray[np.uint8]
METHODS: tuple[str, ...]
LIGHTS: tuple[str, ...]
FITS: tuple[str, ...]
STABLE_TOLERANCE: int

Method = Literal["none", "floyd-steinberg", "ordered", "atkinson", "sierra-lite", "blue-noise",
                 "jarvis-judice-ninke", "stucki", "burkes", "sierra"]
Light = Literal["srgb", "linear"]
Fit = Literal["keep", "contain", "cover", "stretch"]

class Status(enum.IntEnum):
    OK = 0
    # ...and every other status of the library, by its name without "QLX_"

class Error(ValueError):
    status: Status

def quantise(pixels: Any, *, dither: Method = "none", strength: int = 100, light: Light = "srgb",
             transparent_index: int | None = None, background: int | str | tuple[int, int, int] = 0,
             fit: Fit = "keep", size: tuple[int, int] = (320, 200), threads: int = 0) -> npt.NDArray[np.uint8]: ...
def quantise_frames(frames: Any, *, dither: Method = "none", strength: int = 100, light: Light = "srgb",
                    transparent_index: int | None = None, background: int | str | tuple[int, int, int] = 0,
                    fit: Fit = "keep", size: tuple[int, int] = (320, 200), threads: int = 0,
                    dither_stable: bool | int = False) -> npt.NDArray[np.uint8]: ...
def save_gif(frames: Any, file: Any = None, *, delay: int | list[int] = 10, loop: int = 0,
             transparent_index: int | None = None) -> bytes: ...
def convert_gif(source: Any, file: Any = None, *, delay: int | list[int] | None = None, loop: int | None = None,
                **options: Any) -> bytes: ...
def expand(indices: npt.ArrayLike, *, alpha: bool = False) -> npt.NDArray[np.uint8]: ...
def from_bmp(data: bytes | bytearray | memoryview, *, dither: Method = "none", strength: int = 100,
             light: Light = "srgb", transparent_index: int | None = None, threads: int = 0) -> npt.NDArray[np.uint8]: ...
def to_bmp(indices: npt.ArrayLike) -> bytes: ...
def to_image(indices: npt.ArrayLike) -> Image.Image: ...
def nearest_index(red: int, green: int, blue: int) -> int: ...
def size_from_name(name: str | bytes | Any) -> tuple[int, int] | None: ...
def name_with_size(stem: str | bytes | Any, width: int, height: int) -> str: ...
def open(path: str | bytes | Any, size: tuple[int, int] | None = None) -> Image.Image: ...
