#!/usr/bin/env bash
# The tests that run 32-bit Windows code, as scripts/test.sh runs them in the
# guest: the whole 32-bit build, then the 64-bit build's tests labelled win32.
#   ctest-win32.sh BUILD [ctest arguments...]
set -u
build=$1
shift
# Under the emulator a process can be starved past the line's 136 ms reply
# window, which the driver keeps whatever the machine: a test that fails here
# runs once more, and its first run's output stays in the log.
again=(--repeat until-pass:2)
status=0
echo "== tests: win32"
ctest --test-dir "$build/win32" --output-on-failure "${again[@]}" "$@" || status=1
if ctest --test-dir "$build/win64" -N -L win32 | grep -q '^ *Test *#'; then
  echo "== tests: win64, labelled win32"
  # The 64-bit prefix the host made lacks what only 32-bit Wine sets up when a
  # prefix is made, where the host cannot run it: the guest makes its own.
  rm -rf -- "${build:?}/win64/wineprefix"
  ctest --test-dir "$build/win64" --output-on-failure -L win32 "${again[@]}" "$@" || status=1
fi
exit $status
