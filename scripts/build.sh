#!/usr/bin/env bash
# Configures and builds everything: the host tools (null-modem bridge, host unit
# tests) and the driver for 32-bit and 64-bit Windows. The build folder is
# $FOCUSER_BUILD_DIR (default: build/ in the source tree). A Windows build
# folder made here is configured with $FOCUSER_CONFIGURE_ARGS too (cmake
# options, split at spaces; scripts/test.sh and scripts/release.sh pass theirs).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FOCUSER_BUILD_DIR:-$here/build}
# Absolute: the bridge's path is written into the Windows builds, whose tests
# run from their own folders.
build=$(mkdir -p "$build" && cd "$build" && pwd)
jobs=${FOCUSER_JOBS:-$(nproc)}

"$here/scripts/bootstrap.sh"

configure() {  # folder, extra cmake arguments...
  local dir=$1; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
}

configure "$build/native"
cmake --build "$build/native" -j "$jobs"
for arch in win32 win64; do
  case $arch in
    win32) toolchain=mingw-i686 ;;
    win64) toolchain=mingw-x86_64 ;;
  esac
  # shellcheck disable=SC2086
  configure "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/$toolchain.cmake" \
    -DNULLMODEM_EXE="$build/native/nullmodem" ${FOCUSER_CONFIGURE_ARGS:-}
  cmake --build "$build/$arch" -j "$jobs"
done
