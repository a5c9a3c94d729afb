#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64, runs the whole test suite
# under Wine, checks that the Windows programs agree byte for byte with the
# Linux ones in build/ (./test.sh builds those) and packs the Windows zip.
# PAL_WERROR=1 makes compiler warnings errors, as CI does.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh g++-mingw-w64-x86-64-posix wine64 googletest cmake make zip groff-base

export WINEDEBUG=-all
export WINEPREFIX="$PWD/build-windows/wine-prefix"
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo "$(dirname "$wine")/wineserver")
mkdir -p build-windows
# One Wine session for the whole run, booted before anything runs in it:
# when several programs start a fresh session at once, one can stall until
# the others end.
"$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -w
"$wineserver" -p
trap '"$wineserver" -k' EXIT
"$wine" wineboot >/dev/null 2>&1

cmake -S . -B build-windows --toolchain cmake/x86_64-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release \
      -DPAL_WARNINGS_AS_ERRORS="${PAL_WERROR:-OFF}" >/dev/null
cmake --build build-windows -j "$(nproc)"
ctest --test-dir build-windows --output-on-failure -j "$(nproc)"

if [ -x build/bin/palquant ]; then
  PAL_WINE="$wine" scripts/compare-windows.sh build/bin build-windows/bin
fi
(cd build-windows && cpack -G ZIP >/dev/null)
echo "Windows package: $(ls build-windows/palconvert-*.zip)"
