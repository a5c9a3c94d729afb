#!/usr/bin/env bash
# Serves build-web/ (made by scripts/build-web.sh) on http://127.0.0.1:8000
# (or the port given) and prints the address.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build-web/index.html ] || { echo "build-web/ is missing: run scripts/build-web.sh first" >&2; exit 1; }
exec node web/serve.mjs build-web "${1:-8000}"
