#!/usr/bin/env bash
# Tests the web page: the WebAssembly module against the native programs
# under Node's test runner, then the page end to end in Debian's headless
# Chromium. Builds what is missing: the programs in build/, the page in
# build-web/. The screenshot lands in build-web-test/page.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh chromium fonts-dejavu-core
if [ ! -x build/bin/palquant ] || [ ! -x build/bin/palexpand ] || [ ! -x build/bin/qlx ]; then
  scripts/ensure-packages.sh pkg-config libspng-dev libdeflate-dev libjpeg62-turbo-dev libwebp-dev zlib1g-dev
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j "$(nproc)" --target palquant palexpand qlx_command
fi
[ -f build-web/qlx.mjs ] || scripts/build-web.sh
cd web
[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund --loglevel=error
node --test tests/module.test.mjs tests/page.test.mjs
