#!/usr/bin/env bash
# Builds the Debian packages (palconvert, libqlx1, libqlx-dev) from a shared
# build, unpacks them into a scratch root and runs both programs from there
# on the sample picture, as a user of the packages would.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh g++ cmake make dpkg-dev man-db pkg-config libspng-dev libdeflate-dev libjpeg62-turbo-dev \
  libwebp-dev zlib1g-dev
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DPAL_BUILD_TESTS=OFF -DBUILD_SHARED_LIBS=ON \
      -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-package -j "$(nproc)" >/dev/null
rm -f build-package/*.deb  # packages of an earlier version would be taken too
(cd build-package && cpack -G DEB >/dev/null)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for name in palconvert libqlx1 libqlx-dev; do
  deb=$(ls build-package/"${name}"_*.deb)
  echo "Package: $deb"
  dpkg-deb --field "$deb" Package Version Architecture Maintainer Depends Section
  dpkg -x "$deb" "$root"
done
# What each package must hold, in Debian's places.
libdir=$(dirname "$(find "$root/usr/lib" -name libqlx.so.1 | head -1)")
libdir=${libdir#"$root/"}
for file in "$libdir/libqlx.so.1" "$libdir/libqlx.so" "$libdir/libqlx.a" \
            "$libdir/pkgconfig/qlx.pc" "$libdir/cmake/qlx/qlxConfig.cmake" \
            usr/include/qlx.h usr/share/man/man3/qlx.3.gz; do
  [ -e "$root/$file" ] || { echo "missing from the packages: /$file"; exit 1; }
done
status=0
"$root/usr/bin/palquant" samples/sunset.bmp "$root/sunset.qlx" || status=$?
[ "$status" -eq 1 ] || { echo "palquant from the package failed with status $status"; exit 1; }
cmp "$root/sunset.qlx" tests/data/sunset.qlx
"$root/usr/bin/palexpand" "$root/sunset.qlx" "$root/sunset.bmp"
[ "$(stat -c %s "$root/sunset.bmp")" -eq 192054 ]
# The package names the codec libraries qlx links, so that it runs once installed.
dpkg-deb --field build-package/palconvert_*.deb Depends | grep -q libspng0
LD_LIBRARY_PATH="$root/$libdir" "$root/usr/bin/qlx" convert samples/sunset.bmp "$root/sunset.png"
LD_LIBRARY_PATH="$root/$libdir" "$root/usr/bin/qlx" convert "$root/sunset.png" "$root/back.qlx"
cmp "$root/back.qlx" tests/data/sunset.qlx
for page in man1/palquant.1.gz man1/palexpand.1.gz man1/qlx.1.gz man3/qlx.3.gz; do
  out=$(man --warnings -l "$root/usr/share/man/$page" 2>&1 >/dev/null)
  [ -z "$out" ] || { echo "$page: $out"; exit 1; }
done
echo "The packages install, and the programs run from them."
