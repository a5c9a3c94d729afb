#!/usr/bin/env bash
# Builds the web page into build-web/: libqlx compiled to WebAssembly with
# Debian's emscripten, the page's own files, and fflate from the npm lock file.
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

rm -rf build-web
mkdir -p build-web/vendor
cp web/index.html web/style.css web/app.js web/worker.js web/qlx.mjs web/png.mjs build-wasm/web/qlx.wasm build-web/
cp web/node_modules/fflate/esm/browser.js build-web/vendor/fflate.js
echo "build-web/: $(du -cb build-web/* build-web/vendor/* | tail -1 | cut -f1) bytes"
