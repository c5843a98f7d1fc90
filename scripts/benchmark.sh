#!/usr/bin/env bash
# The benchmark: medians of the driver's calls, unpaced and paced at 9600 baud,
# the settings load, and late against early binding, printed beside their
# targets (never checked). docs/performance.md explains the method.
#
#   scripts/benchmark.sh [--quick] [--alpaca]
#
# Then the network device server's rows (alpaca_benchmark, native, no Wine):
# against focuser-sim at the real pace, as ratios to the bare serial exchange
# of the same run; --alpaca runs only those, --quick shortens them to 5 s.
#
# Build folder: $FOCUSER_BUILD_DIR (default build/); the 64-bit build is run,
# or the 32-bit one with FOCUSER_BITS=32.
set -euo pipefail
. "$(dirname "$0")/select-build.sh"

alpaca_only=0 alpaca_seconds=20 args=()
for argument in "$@"; do
  case $argument in
    --alpaca) alpaca_only=1 ;;
    --quick) alpaca_seconds=5; args+=("$argument") ;;
    *) args+=("$argument") ;;
  esac
done
alpaca_rows() {
  echo
  echo "== the network device server, native: $(git -C "$here" rev-parse --short HEAD 2>/dev/null || echo '?'), $(date -u '+%Y-%m-%d %H:%M UTC'), load $(cut -d' ' -f1-3 /proc/loadavg)"
  timeout 600 "$build/native/alpaca_benchmark" --seconds "$alpaca_seconds"
}

"$here/scripts/build.sh"
if [ $alpaca_only -eq 1 ]; then
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
  alpaca_rows
  exit 0
fi

trap '"$here/tests/fixtures/wine-fixture.sh" stop "$win" || true' EXIT
"$here/tests/fixtures/wine-fixture.sh" start "$win" "$arch" "$loader" "$build/native/nullmodem"

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $("$loader" --version)"
# What ships: the stripped DLLs; their symbols stay in the build beside them.
for dll in "$build/win32/TavrilenFocuser.dll" "$build/win64/TavrilenFocuser64.dll"; do
  if [ -f "$dll" ]; then
    echo "$(basename "$dll"): $(stat -c %s "$dll") bytes shipped (stripped), symbols $(stat -c %s "$dll.debug" 2>/dev/null || echo '?') bytes in $(basename "$dll").debug"
  fi
done
timeout 1200 "$here/scripts/wine-run.sh" "$win" "$loader" "$win/benchmark.exe" ${args[@]+"${args[@]}"}
alpaca_rows
