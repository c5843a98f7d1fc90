#!/usr/bin/env bash
# The whole test suite, from a fresh clone: installs what is missing, builds,
# and runs every test (host tests, then the Windows builds under Wine).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FOCUSER_BUILD_DIR:-$here/build}

"$here/scripts/build.sh"
status=0
for dir in native win32 win64; do
  echo "== tests: $dir"
  ctest --test-dir "$build/$dir" --output-on-failure "$@" || status=1
done
exit $status
