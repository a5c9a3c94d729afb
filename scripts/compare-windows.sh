#!/usr/bin/env bash
# Runs the Linux and the Windows (under Wine) programs side by side on every
# test picture and checks that they agree byte for byte: output file (or its
# absence), standard output, standard error and exit status.
# Usage: scripts/compare-windows.sh LINUX_BIN_DIR WINDOWS_BIN_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
linux_bin=$1
windows_bin=$2
wine=${PAL_WINE:-$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)}
export WINEDEBUG=-all

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs one program on one input into $work/$2, keeping everything observable.
observe() {
  local side=$1 program=$2 input=$3
  local out="$work/$side"
  rm -rf "$out" && mkdir -p "$out"
  local status=0
  if [ "$side" = linux ]; then
    "$linux_bin/$program" "$input" "$out/result" >"$out/stdout" 2>"$out/stderr" || status=$?
  else
    "$wine" "$windows_bin/$program.exe" "$input" "$out/result" >"$out/stdout" 2>"$out/stderr" || status=$?
  fi
  echo "$status" >"$out/status"
}

compared=0
differences=0
inputs=(samples/sunset.bmp tests/data/sunset.qlx tests/data/regressions/* $(find tests/data/bmpsuite -name '*.bmp' | sort))
for input in "${inputs[@]}"; do
  for program in palquant palexpand; do
    observe linux "$program" "$input"
    observe windows "$program" "$input"
    if ! diff -r "$work/linux" "$work/windows" >/dev/null; then
      # Wine now and then adds a message of its own or loses a run to its
      # server; a real difference comes back on a second run.
      echo "differed once, run again: $program $input"
      diff -r "$work/linux" "$work/windows" | head -20 || true
      observe linux "$program" "$input"
      observe windows "$program" "$input"
      if ! diff -r "$work/linux" "$work/windows" >/dev/null; then
        echo "differs: $program $input"
        diff -r "$work/linux" "$work/windows" | head -20 || true
        differences=$((differences + 1))
      fi
    fi
    compared=$((compared + 1))
  done
done
echo "$compared runs compared, $differences differ"
[ "$differences" -eq 0 ]
