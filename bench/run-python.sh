#!/usr/bin/env bash
# The Python package against its baselines (bench/python_benchmark.py), on
# the 4096 x 4096 photograph that bench/run.sh draws: installed into a fresh
# virtual environment of Debian's Python, as a user installs it.
# Usage: bench/run-python.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-9}"
scripts/ensure-packages.sh python3-dev python3-venv python3-pip python3-setuptools python3-numpy python3-pil \
  g++ cmake make
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPAL_BUILD_BENCH=ON -DPAL_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target make_pictures >/dev/null
mkdir -p build-bench/data
[ -f build-bench/data/photo-4096.bmp ] || build-bench/bin/make_pictures samples/sunset.bmp build-bench/data
venv=$(mktemp -d)
trap 'rm -rf "$venv"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --no-build-isolation --quiet ./python
"$venv/bin/python" bench/python_benchmark.py build-bench/data/photo-4096.bmp "$rounds"
