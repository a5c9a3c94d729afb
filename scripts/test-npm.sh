#!/usr/bin/env bash
# Tests @palconvert/qlx as a user meets it: packed (scripts/build-web.sh),
# then installed from its tarball into a fresh project whose tools come from
# the committed npm/tests/consumer/package-lock.json, and there
#   - run under Node against palquant's bytes,
#   - type-checked with tsc --noEmit --strict on an example using every function,
#   - bundled by esbuild (no loader settings) and by Vite, each page served and
#     opened in headless Chromium, against palquant's bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/ensure-packages.sh chromium
command -v npm >/dev/null || scripts/ensure-packages.sh npm
[ -f build-npm/package/qlx.mjs ] || scripts/build-web.sh
if [ ! -x build/bin/palquant ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j "$(nproc)" --target palquant
fi
project=$(mktemp -d)
trap 'rm -rf "$project"' EXIT
cp -r npm/tests/consumer/. "$project/"
status=0
build/bin/palquant --dither=floyd-steinberg samples/sunset.bmp "$project/sunset-fs.qlx" || status=$?
[ "$status" -eq 1 ] || { echo "palquant failed (status $status)"; exit 1; }

cd "$project"
npm ci --no-audit --no-fund --loglevel=error
npm install --no-save --no-audit --no-fund --loglevel=error "$root"/build-npm/palconvert-qlx-*.tgz
SAMPLE_BMP="$root/samples/sunset.bmp" SAMPLE_QLX="$root/tests/data/sunset.qlx" node --test node.test.mjs
npx tsc -p tsconfig.json
echo "tsc --noEmit --strict: the typed example uses every function"
npx esbuild page/main.js --bundle --format=esm --log-level=warning --outfile=dist-esbuild/main.js
cp page/index.html "$root/samples/sunset.bmp" dist-esbuild/
npx vite build page --outDir ../dist-vite --emptyOutDir --logLevel warn
cp "$root/samples/sunset.bmp" dist-vite/
SAMPLE_FS_QLX="$project/sunset-fs.qlx" node --test browser.test.mjs
echo "Packed tarball: $(stat -c %s "$root"/build-npm/palconvert-qlx-*.tgz) bytes"
