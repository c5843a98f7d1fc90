#!/usr/bin/env bash
# The Linux programs (focuser-alpaca, focuser-sim) and their tests, cross-built
# for arm64 and run on this machine under QEMU's user-mode emulation, each
# program started through qemu-aarch64-static (nothing is registered with the
# kernel). Prints how long the build and the run took.
#   test-arm64.sh BUILD_DIR [ctest arguments...]
# The build goes to BUILD_DIR/arm64; -j is $FOCUSER_JOBS, or the number of CPUs.
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [ctest arguments...]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")/.." && pwd)
dir=$(mkdir -p "$1/arm64" && cd "$1/arm64" && pwd)
shift
jobs=${FOCUSER_JOBS:-$(nproc)}

"$here/scripts/bootstrap.sh"

# The build's output goes to a log, shown only when it fails.
log=$dir/build.log
started=$SECONDS
if ! { cmake -S "$here" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/aarch64-linux-gnu.cmake" \
         -DFOCUSER_LINUX_ONLY=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$dir" -j "$jobs"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "arm64: the build failed" >&2
  exit 1
fi
built=$SECONDS
echo "arm64: built in $((built - started)) s"

status=0
ctest --test-dir "$dir" --output-on-failure "$@" || status=1
echo "arm64: tests ran under emulation in $((SECONDS - built)) s"
exit $status
