#!/usr/bin/env bash
# Runs ctest in a build folder, then says why each skipped test was skipped:
# ctest itself shows the reason only with -V.
# Usage: scripts/ctest-with-skips.sh BUILD_DIR [CTEST_ARGUMENT]...
set -uo pipefail
build="$1"
shift
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
status=$?
log="$build/Testing/Temporary/LastTest.log"
if [ -f "$log" ]; then
  awk '/^[0-9]+\/[0-9]+ Test: / { name = $3 }
       /: Skipped$/ { getline reason; print "Skipped " name ": " reason }' "$log"
fi
exit "$status"
