#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and runs both
# programs from there on the sample picture, as a user of the package would.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh g++ cmake make dpkg-dev man-db
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DPAL_BUILD_TESTS=OFF >/dev/null
cmake --build build-package -j "$(nproc)" >/dev/null
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls build-package/palconvert_*.deb)
echo "Package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Maintainer Depends Section

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
status=0
"$root/usr/bin/palquant" samples/sunset.bmp "$root/sunset.qlx" || status=$?
[ "$status" -eq 1 ] || { echo "palquant from the package failed with status $status"; exit 1; }
cmp "$root/sunset.qlx" tests/data/sunset.qlx
"$root/usr/bin/palexpand" "$root/sunset.qlx" "$root/sunset.bmp"
[ "$(stat -c %s "$root/sunset.bmp")" -eq 192054 ]
for page in palquant palexpand; do
  out=$(man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$out" ] || { echo "$page.1: $out"; exit 1; }
done
echo "The package installs and both programs run from it."
