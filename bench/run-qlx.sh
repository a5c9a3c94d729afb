#!/usr/bin/env bash
# Whole-process benchmarks of qlx, each against its baseline in the same run:
#   - a 4096 x 4096 PNG photograph to QLX, against a floor program that
#     decodes the same PNG with libspng and writes one byte a pixel;
#   - the same photograph to indexed PNG, against ImageMagick's
#     `convert photo.png +dither -remap palette.png out.png`;
#   - 200 PNGs of 320 x 200 in one call, --jobs=2 against --jobs=1;
#   - one small PNG, against palquant on the same picture as a BMP;
#   - the peak memory of each.
# Usage: bench/run-qlx.sh [ROUNDS]   (from a clean clone; installs what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-9}"
scripts/ensure-packages.sh g++ cmake make libbenchmark-dev pkg-config libspng-dev libdeflate-dev \
  libjpeg62-turbo-dev libgif-dev zlib1g-dev imagemagick optipng
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPAL_BUILD_BENCH=ON -DPAL_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" >/dev/null
bin=build-bench/bin
data=build-bench/data
mkdir -p "$data"
[ -f "$data/photo-4096.bmp" ] || "$bin/make_pictures" samples/sunset.bmp "$data"
[ -f "$data/photo-4096.png" ] || convert "$data/photo-4096.bmp" "$data/photo-4096.png"
[ -f "$data/small-320.png" ] || convert "$data/small-320.bmp" "$data/small-320.png"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
mkdir -p "$out/many"
for i in $(seq -w 200); do cp "$data/small-320.png" "$out/many/picture-$i.png"; done
"$bin/qlx" palette "$out/palette.png"

printf '%-44s %10s %10s %8s %10s %10s\n' case "base ms" "qlx ms" ratio "base KiB" "qlx KiB"
compare() {  # label rounds baseline-command our-command
  local result
  result=$("$bin/run_alternately" "$2" "$3" "$4")
  read -r base ours ratio base_kib ours_kib <<<"$result"
  printf '%-44s %10s %10s %8s %10s %10s\n' "$1" "$base" "$ours" "$ratio" "$base_kib" "$ours_kib"
}
compare "4096 photo PNG to QLX, against the floor" "$rounds" \
  "$bin/floor_png $data/photo-4096.png $out/f" "$bin/qlx convert $data/photo-4096.png $out/q.4096x4096.qlx"
compare "4096 photo PNG to PNG, against ImageMagick" 3 \
  "$(command -v convert) $data/photo-4096.png +dither -remap $out/palette.png $out/im.png" \
  "$bin/qlx convert $data/photo-4096.png $out/q.png"
echo "$bin/qlx convert --quiet --jobs=1 -o $out/one $out/many/*.png" >"$out/jobs1.sh"
echo "$bin/qlx convert --quiet --jobs=2 -o $out/two $out/many/*.png" >"$out/jobs2.sh"
compare "200 PNGs of 320x200, --jobs=2 against 1" "$rounds" "/bin/sh $out/jobs1.sh" "/bin/sh $out/jobs2.sh"
compare "one 320x200 PNG, against palquant on BMP" "$((rounds * 4))" \
  "$bin/palquant $data/small-320.bmp $out/p.qlx" "$bin/qlx convert $data/small-320.png $out/s.qlx"
compare "one 320x200 PNG, against the floor" "$((rounds * 4))" \
  "$bin/floor_png $data/small-320.png $out/f" "$bin/qlx convert $data/small-320.png $out/s.qlx"

echo
echo "== indexed PNG sizes against optipng -o2 on the same file (at most 1.1 x)"
for dither in none ordered floyd-steinberg; do
  "$bin/qlx" convert --dither=$dither "$data/photo-4096.png" "$out/$dither.png"
  cp "$out/$dither.png" "$out/$dither-opt.png"
  optipng -quiet -o2 "$out/$dither-opt.png"
  ours=$(stat -c %s "$out/$dither.png") theirs=$(stat -c %s "$out/$dither-opt.png")
  echo "--dither=$dither: qlx $ours bytes, optipng -o2 $theirs bytes: $(awk "BEGIN{printf \"%.3f\", $ours/$theirs}") x"
done
echo
echo "Peak memory target for a 4096 x 4096 PNG to QLX: the RGB picture (49152 KiB) + its indices"
echo "(16384 KiB) + 16384 KiB = 81920 KiB"
