"""Frames in Python as a user meets them: the qlx command's bytes for the
same frames, animated GIFs in our palette that come back as their indices,
--dither-stable, and frame sequences through Pillow."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import qlx
import qlx.pillow  # noqa: F401 - registers QLX with Pillow

ROOT = Path(__file__).resolve().parents[2]
PICTURES = ROOT / "tests" / "data" / "pictures"
QLX_COMMAND = Path(os.environ.get("QLX", ROOT / "build" / "bin" / "qlx"))


def run_qlx(*arguments) -> None:
    run = subprocess.run([QLX_COMMAND, "convert", *map(str, arguments)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr


def animation(count: int = 5, height: int = 30, width: int = 40) -> np.ndarray:
    """Frames with the palette's duplicates in them (80 is black's twin,
    255 white's), a block moving across, and a still pair."""
    frames = np.zeros((count, height, width), dtype=np.uint8)
    frames[:] = (np.arange(height * width).reshape(height, width) % 251).astype(np.uint8)
    frames[:, ::3, ::5] = 80
    for number in range(count):
        frames[number, 5:15, number * 4:number * 4 + 8] = 255 - number
    frames[2] = frames[1]
    return frames


def test_a_gif_in_our_palette_comes_back_as_its_indices(tmp_path):
    frames = animation()
    gif = qlx.save_gif(frames, tmp_path / "walk.gif", delay=[3, 4, 5, 6, 7], loop=2)
    assert (tmp_path / "walk.gif").read_bytes() == gif
    assert np.array_equal(qlx.quantise_frames(gif), frames)
    assert np.array_equal(qlx.quantise_frames(tmp_path / "walk.gif"), frames)
    # The command reads the same indices, and writes the same file again.
    run_qlx(tmp_path / "walk.gif", tmp_path / "back-%d.qlx")
    for number, frame in enumerate(frames, 1):
        assert (tmp_path / f"back-{number}.40x30.qlx").read_bytes() == frame.tobytes()
    run_qlx(tmp_path / "walk.gif", tmp_path / "again.gif")
    assert (tmp_path / "again.gif").read_bytes() == gif
    assert qlx.convert_gif(gif) == gif
    # Transparency, with index 0 among the frame's pixels.
    clear = qlx.save_gif(frames, transparent_index=0)
    run_qlx("--transparent-index=0", tmp_path / "walk.gif", tmp_path / "clear.gif")
    assert (tmp_path / "clear.gif").read_bytes() != gif
    assert qlx.convert_gif(gif, transparent_index=0) == (tmp_path / "clear.gif").read_bytes()
    assert len(clear) > 800


def test_the_commands_bytes_for_the_same_frames(tmp_path):
    # WebP: Pillow's frames (libwebp composes them) and the command's.
    run_qlx(PICTURES / "anim.webp", tmp_path / "w%d.qlx")
    frames = qlx.quantise_frames(PICTURES / "anim.webp", dither="atkinson")
    run_qlx("--dither=atkinson", PICTURES / "anim.webp", tmp_path / "a%d.qlx")
    assert frames.shape == (3, 16, 24)
    for number, frame in enumerate(frames, 1):
        assert (tmp_path / f"a{number}.24x16.qlx").read_bytes() == frame.tobytes()
    # Noisy frames of colours, each frame on its own and held still.
    random = np.random.default_rng(3)
    base = random.integers(0, 256, (30, 48, 3))
    noisy = np.clip(base + random.integers(-3, 4, (4, 30, 48, 3)), 0, 255).astype(np.uint8)
    names = []
    for number, frame in enumerate(noisy):
        names.append(tmp_path / f"n{number}.png")
        Image.fromarray(frame).save(names[-1])
    for stable in (False, True):
        extra = ["--dither-stable"] if stable else []
        run_qlx("--sequence", "--dither=floyd-steinberg", "--dither-light=linear", *extra, *names, tmp_path / "o%d.qlx")
        ours = qlx.quantise_frames(noisy, dither="floyd-steinberg", light="linear", dither_stable=stable)
        for number, frame in enumerate(ours, 1):
            assert (tmp_path / f"o{number}.48x30.qlx").read_bytes() == frame.tobytes(), (stable, number)
        if stable:
            assert all(np.array_equal(frame, ours[0]) for frame in ours)
    with pytest.raises(qlx.Error) as refused:
        qlx.quantise_frames(noisy, dither="floyd-steinberg", dither_stable=300)
    assert refused.value.status == qlx.Status.STABLE_OUT_OF_RANGE


def test_pillow_saves_every_frame_and_opens_the_sequence(tmp_path):
    frames = animation(4)
    images = [qlx.to_image(frame) for frame in frames]
    images[0].save(tmp_path / "walk-%02d.qlx", save_all=True, append_images=images[1:])
    assert not (tmp_path / "walk-%02d.qlx").exists()
    assert sorted(path.name for path in tmp_path.iterdir()) == [f"walk-0{n}.40x30.qlx" for n in range(1, 5)]
    sequence = qlx.open(tmp_path / "walk-%02d.qlx")
    assert sequence.n_frames == 4 and sequence.is_animated
    for number in range(4):
        sequence.seek(number)
        assert np.array_equal(np.asarray(sequence), frames[number])
    # Standard frames are named without their size.
    big = np.full((200, 320), 9, dtype=np.uint8)
    qlx.to_image(big).save(tmp_path / "s%d.qlx", save_all=True, append_images=[qlx.to_image(big)])
    assert (tmp_path / "s2.qlx").read_bytes() == big.tobytes()
    with pytest.raises(ValueError):
        images[0].save(tmp_path / "one.qlx", save_all=True)
