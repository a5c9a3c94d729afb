#!/usr/bin/env bash
# Tests the Python package as a user installs it: a fresh virtual environment
# of Debian's Python that sees Debian's NumPy, Pillow, pytest and Dask, the
# package installed into it with the README's command, and its tests run
# against the programs in build/ (built if missing).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh python3-dev python3-venv python3-pip python3-setuptools python3-numpy python3-pil \
  python3-pytest python3-distributed g++ cmake make
if [ ! -x build/bin/palquant ] || [ ! -x build/bin/qlx ]; then
  scripts/ensure-packages.sh pkg-config libspng-dev libdeflate-dev libjpeg62-turbo-dev libwebp-dev zlib1g-dev
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j "$(nproc)" --target palquant qlx_command
fi
venv=$(mktemp -d)
trap 'rm -rf "$venv"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --no-build-isolation --quiet ./python
# From elsewhere than the tree, so that the installed package is the one imported.
(cd "$venv" && "$venv/bin/python" -m pytest -q -p no:cacheprovider "$OLDPWD/python/tests")
