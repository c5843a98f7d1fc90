#!/usr/bin/env bash
# The benchmark: medians of the driver's calls, unpaced and paced at 9600 baud,
# the settings load, and late against early binding, printed beside their
# targets (never checked). docs/performance.md explains the method.
#
#   scripts/benchmark.sh [--quick]
#
# Build folder: $FOCUSER_BUILD_DIR (default build/); the 64-bit build is run,
# or the 32-bit one with FOCUSER_BITS=32.
set -euo pipefail
. "$(dirname "$0")/select-build.sh"

"$here/scripts/build.sh"

trap '"$here/tests/fixtures/wine-fixture.sh" stop "$win" || true' EXIT
"$here/tests/fixtures/wine-fixture.sh" start "$win" "$arch" "$loader" "$build/native/nullmodem"

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $("$loader" --version)"
# What ships: the stripped DLLs; their symbols stay in the build beside them.
for dll in "$build/win32/TavrilenFocuser.dll" "$build/win64/TavrilenFocuser64.dll"; do
  if [ -f "$dll" ]; then
    echo "$(basename "$dll"): $(stat -c %s "$dll") bytes shipped (stripped), symbols $(stat -c %s "$dll.debug" 2>/dev/null || echo '?') bytes in $(basename "$dll").debug"
  fi
done
timeout 1200 "$here/scripts/wine-run.sh" "$win" "$loader" "$win/benchmark.exe" "$@"
