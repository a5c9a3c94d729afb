#!/usr/bin/env bash
# Installs libqlx twice, as a static and as a shared library, each into a
# scratch prefix, and builds the README's C example and a streaming program
# against each installed tree, through pkg-config (the plain line, which a
# static install must link too) and through find_package, and runs them.
# The shared build also checks its exports and runs the C API tests on it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh gcc g++ cmake make pkg-config libgtest-dev groff-base binutils

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The example is the README's own, so that it is known to compile.
sed -n '/^## Use it from C or C++/,/^```$/p' README.md | sed '1,/^```c$/d;$d' > "$scratch/example.c"
[ -s "$scratch/example.c" ] || { echo "no C example found in README.md"; exit 1; }

for kind in static shared; do
  shared=OFF; [ "$kind" = shared ] && shared=ON
  build="build-install-$kind" prefix="$scratch/$kind"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=$shared \
        -DPAL_WARNINGS_AS_ERRORS="${PAL_WERROR:-OFF}" >/dev/null
  cmake --build "$build" -j "$(nproc)" >/dev/null
  if [ "$kind" = shared ]; then
    ctest --test-dir "$build" --output-on-failure -R 'shared_library_exports_only_qlx|c_api'
    readelf -d "$build/core/libqlx.so" | grep -q 'SONAME.*\[libqlx\.so\.1\]'
  fi
  cmake --install "$build" --prefix "$prefix" >/dev/null

  static_flag=""; [ "$kind" = static ] && static_flag="--static"
  # shellcheck disable=SC2046
  cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$scratch/example.c" -o "$scratch/example-pc-$kind" \
     $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags $static_flag --libs qlx)
  cmake -S tests/consumer -B "$scratch/consumer-$kind" -DCMAKE_PREFIX_PATH="$prefix" \
        -DEXAMPLE_SOURCE="$scratch/example.c" >/dev/null
  cmake --build "$scratch/consumer-$kind" >/dev/null
  # shellcheck disable=SC2046
  cc -std=c99 -Wall -Wextra -Wpedantic -Werror tests/consumer/stream.c -o "$scratch/stream-pc-$kind" \
     $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs qlx)
  for program in "$scratch/example-pc-$kind" "$scratch/consumer-$kind/example" "$scratch/stream-pc-$kind" \
                 "$scratch/consumer-$kind/stream"; do
    LD_LIBRARY_PATH="$prefix/lib" "$program"
  done
  echo "The $kind library links and runs from its installed tree through pkg-config and find_package."
done
