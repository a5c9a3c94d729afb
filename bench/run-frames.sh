#!/usr/bin/env bash
# Whole-process benchmarks of animations, each against its baseline in the same run:
#   - 100 frames of 320 x 200 (a pan across a photograph, as an animated GIF in ImageMagick's own
#     palette) to an animated GIF in ours, against ImageMagick's
#     `convert anim.gif +dither -remap palette.png out.gif`;
#   - the GIF's size against what `gifsicle -O3` makes of it, and of the ordered and
#     Floyd-Steinberg GIFs too;
#   - the peak memory for 100 frames and for 1000;
#   - how still each method holds the frames, and what that costs (frame_stability).
# Usage: bench/run-frames.sh [ROUNDS]   (from a clean clone; installs what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-5}"
scripts/ensure-packages.sh g++ cmake make libbenchmark-dev pkg-config libspng-dev libdeflate-dev \
  libjpeg62-turbo-dev libwebp-dev zlib1g-dev imagemagick gifsicle
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPAL_BUILD_BENCH=ON -DPAL_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" >/dev/null
bin=build-bench/bin
data=build-bench/data
mkdir -p "$data"
[ -f "$data/flat-art-320.bmp" ] || "$bin/make_pictures" samples/sunset.bmp "$data"
make_pan() {  # frames output
  local dir
  dir=$(mktemp -d)
  for i in $(seq 0 $(($1 - 1))); do
    printf -v name '%s/f%05d.png' "$dir" "$i"
    convert "$data/photo-4096.bmp" -crop "320x200+$((1000 + (i % 600) * 3))+$((1500 + i % 100))" +repage "$name"
  done
  convert -delay 4 -loop 0 "$dir"/f*.png "$2"
  rm -rf "$dir"
}
[ -f "$data/photo-960.bmp" ] || convert "$data/photo-4096.bmp" -crop 960x600+1000+1500 +repage BMP3:"$data/photo-960.bmp"
[ -f "$data/pan-100.gif" ] || make_pan 100 "$data/pan-100.gif"
[ -f "$data/pan-1000.gif" ] || make_pan 1000 "$data/pan-1000.gif"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$bin/qlx" palette "$out/palette.png"

printf '%-52s %10s %10s %8s %10s %10s\n' case "base ms" "qlx ms" ratio "base KiB" "qlx KiB"
result=$("$bin/run_alternately" "$rounds" \
  "$(command -v convert) $data/pan-100.gif +dither -remap $out/palette.png $out/im.gif" \
  "$bin/qlx convert $data/pan-100.gif $out/q.gif")
read -r base ours ratio base_kib ours_kib <<<"$result"
printf '%-52s %10s %10s %8s %10s %10s\n' "100 frames GIF to GIF, against ImageMagick" "$base" "$ours" "$ratio" \
  "$base_kib" "$ours_kib"
result=$("$bin/run_alternately" "$rounds" "$bin/qlx convert $data/pan-100.gif $out/q100.gif" \
  "$bin/qlx convert $data/pan-1000.gif $out/q1000.gif")
read -r base ours ratio base_kib ours_kib <<<"$result"
printf '%-52s %10s %10s %8s %10s %10s\n' "1000 frames against 100 (memory must not grow)" "$base" "$ours" "$ratio" \
  "$base_kib" "$ours_kib"

echo
echo "== GIF sizes against gifsicle -O3 on the same file (at most 1.05 x)"
for dither in none ordered floyd-steinberg; do
  "$bin/qlx" convert --dither=$dither "$data/pan-100.gif" "$out/$dither.gif"
  gifsicle -O3 "$out/$dither.gif" -o "$out/$dither-o3.gif"
  ours=$(stat -c %s "$out/$dither.gif") theirs=$(stat -c %s "$out/$dither-o3.gif")
  echo "--dither=$dither: qlx $ours bytes, gifsicle -O3 $theirs bytes: $(awk "BEGIN{printf \"%.3f\", $ours/$theirs}") x"
done

echo
echo "== frame stability: indices changed from frame to frame, and the blurred error in linear light"
"$bin/frame_stability" samples/sunset.bmp "$data/photo-960.bmp"
