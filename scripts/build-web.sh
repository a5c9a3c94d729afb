#!/usr/bin/env bash
# Builds the npm package into build-npm/ (packed as palconvert-qlx-VERSION.tgz)
# and the web page into build-web/: libqlx compiled to WebAssembly with
# Debian's emscripten, the package's module, the page's own files, and fflate
# from the npm lock file.
# PAL_WERROR=1 makes compiler warnings errors, as CI does.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh emscripten node-acorn cmake make
command -v npm >/dev/null || scripts/ensure-packages.sh npm
# Debian's emscripten runs its optimiser under Node, which needs its acorn.
export NODE_PATH=/usr/share/nodejs

emcmake cmake -S . -B build-wasm -DCMAKE_BUILD_TYPE=Release \
        -DPAL_WARNINGS_AS_ERRORS="${PAL_WERROR:-OFF}" >/dev/null
cmake --build build-wasm -j "$(nproc)"
(cd web && npm ci --no-audit --no-fund --loglevel=error)

# The npm package, @palconvert/qlx: the module, its WebAssembly twice (as a
# file, and embedded for where no file beside the module can be read), its
# types and README, at the library's version; packed as npm publishes it.
version=$(sed -n 's/^#define QLX_VERSION_STRING "\(.*\)"$/\1/p' include/qlx.h)
rm -rf build-npm
mkdir -p build-npm/package
cp npm/qlx.mjs npm/png.mjs npm/qlx.d.ts npm/README.md npm/package.json build-wasm/web/qlx.wasm build-npm/package/
# STATUS, from the header's one list of statuses: X(QLX_NAME, code, "text").
{
  echo '// Made from qlx.h by scripts/build-web.sh: every status by its name without "QLX_".'
  echo 'export const STATUS = Object.freeze({'
  sed -n 's/^ *X(QLX_\([A-Z0-9_]*\), \([0-9]*\),.*/  \1: \2,/p' include/qlx.h
  echo '});'
} >build-npm/package/statuses.mjs
node -e "const fs = require('fs');
fs.writeFileSync('build-npm/package/qlx-wasm.mjs', '// qlx.wasm, embedded: see load() in qlx.mjs.\n' +
  'export const wasmBase64 = ' + JSON.stringify(fs.readFileSync('build-wasm/web/qlx.wasm').toString('base64')) + ';\n');"
(cd build-npm/package && npm pkg set version="$version" && npm pack --silent --pack-destination .. >/dev/null)
echo "build-npm/: $(ls build-npm/*.tgz) ($(stat -c %s build-npm/*.tgz) bytes)"

# The page: its own files and the package's build, which it imports.
rm -rf build-web
mkdir -p build-web/vendor
cp web/index.html web/style.css web/app.js web/worker.js build-web/
cp build-npm/package/qlx.mjs build-npm/package/png.mjs build-npm/package/statuses.mjs build-npm/package/qlx-wasm.mjs build-web/
cp web/node_modules/fflate/esm/browser.js build-web/vendor/fflate.js
echo "build-web/: $(du -cb build-web/* build-web/vendor/* | tail -1 | cut -f1) bytes"
