#!/usr/bin/env bash
# The web page's benchmark: the module in Node against the native library
# in the same run, the page in headless Chromium, and the size of build-web/.
# Usage: bench/run-web.sh   (installs and builds what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh g++ cmake make libbenchmark-dev chromium fonts-dejavu-core
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPAL_BUILD_BENCH=ON -DPAL_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target api_benchmark make_pictures >/dev/null
data=build-bench/data
mkdir -p "$data"
[ -f "$data/photo-4096.bmp" ] || build-bench/bin/make_pictures samples/sunset.bmp "$data"
[ -f build-web/qlx.mjs ] || scripts/build-web.sh >/dev/null
native=$(build-bench/bin/api_benchmark "$data/photo-4096.bmp" --benchmark_filter='BM_FromBmp/none' \
  --benchmark_repetitions=9 --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null)
median_ms() { echo "$native" | awk -F, -v name="\"$1/real_time_median\"" '$1 == name { printf "%.1f", $3 }'; }
node bench/web_benchmark.mjs "$data" "$(median_ms BM_FromBmp/none)" "$(median_ms BM_FromBmp/none/one-thread)"
