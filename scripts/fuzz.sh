#!/usr/bin/env bash
# Fuzzes every harness for SECONDS each (default 60), two at a time: each
# starts from a scratch copy of its corpus (fuzz/corpus/ is never written),
# and findings land in fuzz/findings/. Prints, for each harness, its inputs,
# inputs a second and coverage; exits non-zero on any finding.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/ensure-packages.sh clang-14 libclang-rt-14-dev cmake make pkg-config libspng-dev libdeflate-dev libjpeg62-turbo-dev libgif-dev zlib1g-dev
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
      -DCMAKE_C_COMPILER=clang-14 -DPAL_FUZZ=ON -DPAL_BUILD_TESTS=OFF -DPAL_WARNINGS_AS_ERRORS=ON >/dev/null
harnesses=(bmp_to_qlx_fuzzer api_fuzzer qlx_to_bmp_fuzzer command_line_fuzzer picture_input_fuzzer)
cmake --build build-fuzz -j "$(nproc)" --target "${harnesses[@]}"
mkdir -p fuzz/findings
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

fuzz() {  # HARNESS CORPUS MAX_LEN
  local scratch
  scratch=$(mktemp -d)
  cp -r "fuzz/corpus/$2/." "$scratch/"
  local status=0
  "build-fuzz/bin/$1" -max_total_time="$seconds" -max_len="$3" -artifact_prefix=fuzz/findings/ \
    -print_final_stats=1 "$scratch" >"$logs/$1" 2>&1 || status=$?
  rm -rf "$scratch"
  return $status
}
failed=0
fuzz bmp_to_qlx_fuzzer bmp 16384 & first=$!
fuzz api_fuzzer bmp 4096 & second=$!
wait $first || failed=1
wait $second || failed=1
fuzz qlx_to_bmp_fuzzer qlx 4096 & first=$!
fuzz command_line_fuzzer arguments 256 & second=$!
wait $first || failed=1
wait $second || failed=1
fuzz picture_input_fuzzer pictures 65536 || failed=1

total=0
printf '%-22s %12s %10s %8s %8s\n' harness inputs "per second" cov ft
for harness in "${harnesses[@]}"; do
  runs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$logs/$harness")
  rate=$(awk '/stat::average_exec_per_sec/ { print $2 }' "$logs/$harness")
  read -r cov ft < <(grep -E '^#[0-9]+' "$logs/$harness" | tail -1 | sed -E 's/.*cov: ([0-9]+) ft: ([0-9]+).*/\1 \2/')
  printf '%-22s %12s %10s %8s %8s\n' "$harness" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}"
  total=$((total + ${runs:-0}))
  grep -q -E '^==[0-9]+==ERROR|deadly signal|Test unit written' "$logs/$harness" && { tail -40 "$logs/$harness"; failed=1; }
done
echo "total inputs: $total"
exit $failed
