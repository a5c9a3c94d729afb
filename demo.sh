#!/usr/bin/env bash
# Builds the programs and takes the sample picture from BMP to QLX and back,
# then through qlx to an indexed PNG and back to the same QLX bytes.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh g++ cmake make pkg-config libspng-dev libdeflate-dev libjpeg62-turbo-dev libgif-dev zlib1g-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPAL_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" --target palquant palexpand qlx_command >/dev/null

mkdir -p build/demo
# palquant reports success with status 1, palexpand with status 0.
status=0; build/bin/palquant samples/sunset.bmp build/demo/sunset.qlx || status=$?
[ "$status" -eq 1 ] || { echo "palquant failed (status $status)"; exit 1; }
build/bin/palexpand build/demo/sunset.qlx build/demo/sunset-256.bmp
status=0; build/bin/palquant --dither=floyd-steinberg --dither-light=linear samples/sunset.bmp build/demo/sunset-dithered.qlx || status=$?
[ "$status" -eq 1 ] || { echo "palquant --dither failed (status $status)"; exit 1; }
build/bin/palexpand build/demo/sunset-dithered.qlx build/demo/sunset-dithered.bmp
# qlx: an indexed PNG that any editor opens with the palette in order, and back.
build/bin/qlx convert build/demo/sunset-dithered.qlx build/demo/sunset-dithered.png
build/bin/qlx convert build/demo/sunset-dithered.png build/demo/sunset-again.qlx
cmp build/demo/sunset-dithered.qlx build/demo/sunset-again.qlx
build/bin/qlx palette build/demo/palette.gpl

echo "Programs:  build/bin/palquant, build/bin/palexpand, build/bin/qlx"
echo "Input:     samples/sunset.bmp (320 x 200, 24-bit)"
echo "QLX:       build/demo/sunset.qlx ($(stat -c %s build/demo/sunset.qlx) bytes, one palette index per pixel)"
echo "Back:      build/demo/sunset-256.bmp ($(stat -c %s build/demo/sunset-256.bmp) bytes, the picture in palette colours)"
echo "Dithered:  build/demo/sunset-dithered.bmp (palquant --dither=floyd-steinberg --dither-light=linear, then palexpand)"
echo "PNG:       build/demo/sunset-dithered.png (qlx convert: indexed, the 256 palette entries in order; back to the same QLX bytes)"
echo "Palette:   build/demo/palette.gpl (qlx palette, for GIMP, Krita, Inkscape and Aseprite)"
