#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
# PAL_WERROR=1 makes compiler warnings errors, as CI does.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh g++ cmake make libgtest-dev groff-base binutils libclang-rt-14-dev \
  pkg-config libspng-dev libdeflate-dev libjpeg62-turbo-dev libwebp-dev libgif-dev zlib1g-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPAL_BUILD_TESTS=ON \
      -DPAL_WARNINGS_AS_ERRORS="${PAL_WERROR:-OFF}" >/dev/null
cmake --build build -j "$(nproc)"
scripts/ctest-with-skips.sh build
