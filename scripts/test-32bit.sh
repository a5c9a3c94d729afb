#!/usr/bin/env bash
# Builds everything for 32-bit x86 (-m32), where size_t has 32 bits, and runs
# the whole test suite: sizes read from headers must hold there too. qlx is
# left out: its codec libraries are installed for this machine's architecture.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh g++-multilib googletest cmake make groff-base
cmake -S . -B build-m32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_C_FLAGS=-m32 \
      -DPAL_GTEST_SOURCE_DIR=/usr/src/googletest -DPAL_WARNINGS_AS_ERRORS="${PAL_WERROR:-OFF}" \
      -DPAL_BUILD_QLX=OFF >/dev/null
cmake --build build-m32 -j "$(nproc)"
ctest --test-dir build-m32 --output-on-failure -j "$(nproc)"
