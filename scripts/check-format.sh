#!/usr/bin/env bash
# Fails if any source of the library, the programs or the harnesses is not
# as the project's .clang-format lays it out. `clang-format -i` on the
# files it names puts them right.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh clang-format
mapfile -t sources < <(git ls-files -- include core system cli palquant palexpand qlx fuzz tools bench \
  | grep -E '\.(c|cpp|h|hpp)$')
clang-format --dry-run --Werror "${sources[@]}"
echo "${#sources[@]} files laid out as .clang-format says"
