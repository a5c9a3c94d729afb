#!/usr/bin/env bash
# Whole-process benchmark: builds the programs, the floor programs and the
# pictures, runs each program and its floor alternately and prints the ratios.
# Usage: bench/run.sh [ROUNDS]   (from a clean clone; installs what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-15}"
scripts/ensure-packages.sh g++ cmake make libbenchmark-dev
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPAL_BUILD_BENCH=ON -DPAL_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" >/dev/null
bin=build-bench/bin
data=build-bench/data
mkdir -p "$data"
[ -f "$data/flat-art-320.bmp" ] || "$bin/make_pictures" samples/sunset.bmp "$data"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "== search micro-benchmarks (items_per_second = pixels per second)"
"$bin/search_benchmark" --benchmark_min_time=0.2 2>/dev/null | grep -E '^BM_'

echo
echo "== the C API in memory: qlx_quantise on RGB pixels against qlx_from_bmp, and a quantiser fed 64 rows at a"
echo "   time against qlx_quantise (medians of 15, the cases interleaved)"
"$bin/api_benchmark" "$data/photo-4096.bmp" --benchmark_repetitions=15 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2>/dev/null | awk -F, '/_median"/ { gsub(/"/, "", $1); sub(/_median/, "", $1); t[$1] = $3 }
  END { for (m in t) if (m ~ /^BM_FromBmp/) { q = m; sub(/FromBmp/, "QuantiseRgb", q); if (!(q in t)) continue;
          s = q; sub(/QuantiseRgb/, "StreamRgb64", s);
          printf "%-28s from_bmp %7.1f ms  quantise %7.1f ms  ratio %.2f", substr(m, 12), t[m], t[q], t[q] / t[m];
          if (s in t) printf "   stream %7.1f ms  ratio %.2f", t[s], t[s] / t[q];
          printf "\n" } }'

echo
echo "== whole process, median of $rounds alternating runs"
printf '%-40s %10s %10s %8s %10s %10s\n' case "floor ms" "ours ms" ratio "floor KiB" "ours KiB"
compare() {  # label rounds floor-command our-command
  local result
  result=$("$bin/run_alternately" "$2" "$3" "$4")
  read -r floor ours ratio floor_kib ours_kib <<<"$result"
  printf '%-40s %10s %10s %8s %10s %10s\n' "$1" "$floor" "$ours" "$ratio" "$floor_kib" "$ours_kib"
}
compare "palquant 4096x4096 photograph" "$rounds" "$bin/floor_convert $data/photo-4096.bmp $out/f" \
  "$bin/palquant $data/photo-4096.bmp $out/q"
compare "palquant 4096x4096 random" "$rounds" "$bin/floor_convert $data/random-4096.bmp $out/f" \
  "$bin/palquant $data/random-4096.bmp $out/q"
compare "palquant 320x200 sample" "$((rounds * 4))" "$bin/floor_convert $data/small-320.bmp $out/f" \
  "$bin/palquant $data/small-320.bmp $out/q"
"$bin/palquant" "$data/small-320.bmp" "$out/small.qlx" || true
compare "palexpand 320x200" "$((rounds * 4))" "$bin/floor_expand $out/small.qlx $out/f" \
  "$bin/palexpand $out/small.qlx $out/e.bmp"
for method in $("$bin/dither_names"); do
  [ "$method" = none ] && continue
  compare "--dither=$method, photograph" "$rounds" "$bin/floor_convert $data/photo-4096.bmp $out/f" \
    "$bin/palquant --dither=$method $data/photo-4096.bmp $out/q"
done
compare "--dither=floyd-steinberg, linear light" "$rounds" "$bin/floor_convert $data/photo-4096.bmp $out/f" \
  "$bin/palquant --dither=floyd-steinberg --dither-light=linear $data/photo-4096.bmp $out/q"
compare "literal search vs palquant, photo" 5 "$bin/palquant $data/photo-4096.bmp $out/q" \
  "$bin/literal_convert $data/photo-4096.bmp $out/l"
echo
echo "== 1000 conversions of the 320 x 200 sample, one process each, in a shell loop (ms; twice, in turns)"
batch() {  # COMMAND...: milliseconds for 1000 runs
  local start end
  start=$(date +%s%N)
  for _ in $(seq 1000); do "$@" >/dev/null || true; done
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
for turn in 1 2; do
  floor_ms=$(batch "$bin/floor_convert" "$data/small-320.bmp" "$out/f")
  ours_ms=$(batch "$bin/palquant" "$data/small-320.bmp" "$out/q")
  expand_floor_ms=$(batch "$bin/floor_expand" "$out/small.qlx" "$out/f")
  expand_ms=$(batch "$bin/palexpand" "$out/small.qlx" "$out/e.bmp")
  echo "palquant $ours_ms against floor $floor_ms ($(awk "BEGIN{printf \"%.2f\", $ours_ms/$floor_ms}") x);" \
       "palexpand $expand_ms against floor $expand_floor_ms ($(awk "BEGIN{printf \"%.2f\", $expand_ms/$expand_floor_ms}") x)"
done

echo
echo "== dithering: mean squared error per component after a 5 x 5 binomial blur of both pictures, over sRGB codes and over linear light; CIEDE2000 of the blurred pictures"
"$bin/dither_error" samples/sunset.bmp "$data/photo-4096.bmp" "$data/random-4096.bmp" "$data/gradient-768.bmp" \
  "$data/flat-art-320.bmp"

echo
echo "Peak memory target for palquant on 4096 x 4096: $((24 * 1024)) KiB (24 MiB)"
