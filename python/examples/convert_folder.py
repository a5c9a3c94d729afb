"""Converts a folder of pictures to QLX with Dask, on this machine or a cluster.

    python3 convert_folder.py PICTURES OUT [--scheduler HOST:PORT] [--dither METHOD] [--light LIGHT]

Each task opens one picture with Pillow and quantises it with qlx, which
releases the GIL; Dask spreads the tasks over the workers. Without
--scheduler it starts a local cluster, one worker process a core. On a real
cluster every worker needs the qlx package, and PICTURES and OUT must be
storage that every worker sees (docs/scaling.md).
"""

from __future__ import annotations

import argparse
from pathlib import Path

from distributed import Client, LocalCluster

PICTURE_SUFFIXES = {".png", ".jpg", ".jpeg", ".gif", ".bmp", ".webp", ".tif", ".tiff"}


def convert_one(source: str, target: str, options: dict) -> str:
    """One picture to one QLX file: runs on a worker."""
    from PIL import Image

    import qlx

    with Image.open(source) as image:
        indices = qlx.quantise(image, **options)
    Path(target).write_bytes(indices.tobytes())
    return target


def convert_folder(client: Client, pictures: Path, out: Path, options: dict) -> list[str]:
    """Every picture in `pictures` to OUT/NAME.qlx; gives the outputs' paths."""
    out.mkdir(parents=True, exist_ok=True)
    sources = sorted(p for p in pictures.iterdir() if p.suffix.lower() in PICTURE_SUFFIXES)
    futures = client.map(convert_one, [str(p) for p in sources], [str(out / (p.stem + ".qlx")) for p in sources],
                         options=options, pure=False)
    return client.gather(futures)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("pictures", type=Path)
    parser.add_argument("out", type=Path)
    parser.add_argument("--scheduler", help="the address of a running Dask scheduler; default: a local cluster")
    parser.add_argument("--dither", default="none")
    parser.add_argument("--light", default="srgb")
    arguments = parser.parse_args()
    # A picture is one task: each runs on one thread, and the workers fill the cores.
    options = {"dither": arguments.dither, "light": arguments.light, "threads": 1}
    if arguments.scheduler:
        with Client(arguments.scheduler) as client:
            done = convert_folder(client, arguments.pictures, arguments.out, options)
    else:
        with LocalCluster(processes=True, threads_per_worker=1) as cluster, Client(cluster) as client:
            done = convert_folder(client, arguments.pictures, arguments.out, options)
    print(f"{len(done)} pictures converted into {arguments.out}")


if __name__ == "__main__":
    main()
