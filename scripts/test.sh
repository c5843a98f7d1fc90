#!/usr/bin/env bash
# The whole test suite, from a fresh clone: installs what is missing, builds,
# and runs every test: the host tests; the Debian packages of the device
# server (scripts/package.sh), the amd64 one installed, run, upgraded and
# purged in a throwaway root; the server's tests built for arm64, under
# emulation; then the Windows builds under Wine.
#
# Tests that run 32-bit Windows code (the 32-bit build's, and those labelled
# win32 in the 64-bit build) run natively where this machine runs 32-bit
# programs, and otherwise in an emulated x86-64 guest (scripts/guest/).
# FOCUSER_GUEST=always sends them to the guest anyway, FOCUSER_GUEST=never keeps
# them here (where 32-bit code cannot run, only the static checks then remain).
# The Windows builds are signed with a throwaway certificate (BUILD/signing/),
# made here, so that every test runs the signed DLLs and installer, and the
# signatures are checked. Arguments go to every ctest run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FOCUSER_BUILD_DIR:-$here/build}
# Absolute: the guest mounts the build at the same path, not our directory.
build=$(mkdir -p "$build" && cd "$build" && pwd)

# Wine first: whether it runs 32-bit programs here decides where they go.
"$here/scripts/bootstrap.sh"
guest=${FOCUSER_GUEST:-auto}
case $guest in
  auto) if /usr/lib/wine/wine --version >/dev/null 2>&1; then guest=never; else guest=always; fi ;;
  always|never) ;;
  *) echo "FOCUSER_GUEST must be auto, always or never, not $guest" >&2; exit 2 ;;
esac

# Where the tests that run 32-bit code go decides whether they are registered
# and how long ctest gives them; a build folder keeps the last choice.
win32_tests=AUTO scale=1
if [ "$guest" = always ]; then
  "$here/scripts/bootstrap.sh" guest
  win32_tests=ON scale=3
fi
signing=$build/signing
if [ ! -f "$signing/test.p12" ]; then
  "$here/scripts/sign.sh" --new-test-certificate "$signing"
fi
settings=(-DFOCUSER_WIN32_TESTS=$win32_tests -DFOCUSER_TIMEOUT_SCALE=$scale
          -DFOCUSER_SIGN_PKCS12="$signing/test.p12" -DFOCUSER_SIGN_PASSWORD_FILE="$signing/password")
# A fresh build folder is configured so at once; one made before is changed
# below, and built again.
FOCUSER_CONFIGURE_ARGS="${settings[*]}" "$here/scripts/build.sh"
for dir in win32 win64; do
  cache=$build/$dir/CMakeCache.txt
  if ! grep -qx "FOCUSER_WIN32_TESTS:STRING=$win32_tests" "$cache" ||
     ! grep -qx "FOCUSER_TIMEOUT_SCALE:STRING=$scale" "$cache" ||
     ! grep -qx "FOCUSER_SIGN_PKCS12:FILEPATH=$signing/test.p12" "$cache"; then
    cmake "${settings[@]}" "$build/$dir" >/dev/null
    cmake --build "$build/$dir" -j "${FOCUSER_JOBS:-$(nproc)}" >/dev/null
  fi
done

status=0
echo "== tests: native"
ctest --test-dir "$build/native" --output-on-failure "$@" || status=1
echo "== packages: build, lintian, man pages, the service's sandbox"
if "$here/scripts/package.sh" "$build"; then
  echo "== packages: the service's system call filter against the server's calls"
  "$here/tests/packaging/check-syscalls.sh" "$here/debian/tavrilen-focuser-alpaca.focuser-alpaca.service" \
    "$build/native/alpaca_server_tests" || status=1
  echo "== packages: install, run, upgrade and purge in a throwaway root"
  . "$here/scripts/lib/version.sh"
  version=$(project_version "$here")
  "$here/tests/packaging/install-upgrade-purge.sh" \
    "$build/packages/tavrilen-focuser-alpaca_${version}_amd64.deb" "$build/packaging-root" || status=1
else
  status=1
fi
echo "== tests: arm64, under emulation"
"$here/scripts/test-arm64.sh" "$build" "$@" || status=1
if [ "$guest" = never ]; then
  for dir in win32 win64; do
    echo "== tests: $dir"
    ctest --test-dir "$build/$dir" --output-on-failure "$@" || status=1
  done
else
  echo "== tests: win64"
  ctest --test-dir "$build/win64" --output-on-failure -LE win32 "$@" || status=1
  echo "== tests: win32, and win64's win32 tests, in the guest"
  "$here/scripts/guest/run.sh" --mount "$here" --mount "$build" -- \
    "$here/scripts/guest/ctest-win32.sh" "$build" "$@" || status=1
fi
exit $status
