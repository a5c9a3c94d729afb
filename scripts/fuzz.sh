#!/usr/bin/env bash
# Fuzzes every harness (or those named) for SECONDS each (default 60), two at
# a time: each starts from a scratch copy of its corpus (fuzz/corpus/ is
# never written), and findings land in fuzz/findings/. Prints, for each
# harness, its inputs, inputs a second and coverage; exits non-zero on any
# finding.
#   scripts/fuzz.sh [SECONDS [HARNESS...]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
scripts/ensure-packages.sh clang-14 libclang-rt-14-dev cmake make pkg-config libspng-dev libdeflate-dev libjpeg62-turbo-dev libwebp-dev zlib1g-dev
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
      -DCMAKE_C_COMPILER=clang-14 -DPAL_FUZZ=ON -DPAL_BUILD_TESTS=OFF -DPAL_WARNINGS_AS_ERRORS=ON >/dev/null

# Each harness, its corpus and the longest input it is given.
declare -A corpus=([bmp_to_qlx_fuzzer]=bmp [api_fuzzer]=bmp [qlx_to_bmp_fuzzer]=qlx [command_line_fuzzer]=arguments
                   [picture_input_fuzzer]=pictures [writers_fuzzer]=writers [qlx_arguments_fuzzer]=qlx_arguments
                   [gif_fuzzer]=gif)
declare -A max_len=([bmp_to_qlx_fuzzer]=16384 [api_fuzzer]=4096 [qlx_to_bmp_fuzzer]=4096 [command_line_fuzzer]=256
                    [picture_input_fuzzer]=65536 [writers_fuzzer]=100000 [qlx_arguments_fuzzer]=256
                    [gif_fuzzer]=65536)
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(bmp_to_qlx_fuzzer api_fuzzer qlx_to_bmp_fuzzer command_line_fuzzer
                                         picture_input_fuzzer writers_fuzzer qlx_arguments_fuzzer gif_fuzzer)
for harness in "${harnesses[@]}"; do
  [ -n "${corpus[$harness]:-}" ] || { echo "unknown harness $harness" >&2; exit 2; }
done
cmake --build build-fuzz -j "$(nproc)" --target "${harnesses[@]}"
mkdir -p fuzz/findings
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

fuzz() {  # HARNESS
  local scratch status=0
  scratch=$(mktemp -d)
  cp -r "fuzz/corpus/${corpus[$1]}/." "$scratch/"
  "build-fuzz/bin/$1" -max_total_time="$seconds" -max_len="${max_len[$1]}" -artifact_prefix=fuzz/findings/ \
    -print_final_stats=1 "$scratch" >"$logs/$1" 2>&1 || status=$?
  rm -rf "$scratch"
  return $status
}
failed=0
for ((i = 0; i < ${#harnesses[@]}; i += 2)); do
  fuzz "${harnesses[i]}" & first=$!
  if [ $((i + 1)) -lt ${#harnesses[@]} ]; then
    fuzz "${harnesses[i + 1]}" || failed=1
  fi
  wait $first || failed=1
done

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
