#!/usr/bin/env bash
# Builds both programs and takes the sample picture from BMP to QLX and back.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh g++ cmake make
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPAL_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" --target palquant palexpand >/dev/null

mkdir -p build/demo
# palquant reports success with status 1, palexpand with status 0.
status=0; build/bin/palquant samples/sunset.bmp build/demo/sunset.qlx || status=$?
[ "$status" -eq 1 ] || { echo "palquant failed (status $status)"; exit 1; }
build/bin/palexpand build/demo/sunset.qlx build/demo/sunset-256.bmp
status=0; build/bin/palquant --dither=floyd-steinberg --dither-light=linear samples/sunset.bmp build/demo/sunset-dithered.qlx || status=$?
[ "$status" -eq 1 ] || { echo "palquant --dither failed (status $status)"; exit 1; }
build/bin/palexpand build/demo/sunset-dithered.qlx build/demo/sunset-dithered.bmp

echo "Programs:  build/bin/palquant, build/bin/palexpand"
echo "Input:     samples/sunset.bmp (320 x 200, 24-bit)"
echo "QLX:       build/demo/sunset.qlx ($(stat -c %s build/demo/sunset.qlx) bytes, one palette index per pixel)"
echo "Back:      build/demo/sunset-256.bmp ($(stat -c %s build/demo/sunset-256.bmp) bytes, the picture in palette colours)"
echo "Dithered:  build/demo/sunset-dithered.bmp (palquant --dither=floyd-steinberg --dither-light=linear, then palexpand)"
