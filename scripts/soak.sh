#!/usr/bin/env bash
# The fault matrix, then the full soak. The matrix puts every controller fault
# under every member that talks to the controller and prints its table. The
# soak makes 10,000 connect/disconnect cycles, 100,000 member calls while
# linked, 1,000 create/release cycles through the DLL's exports and, when Xvfb
# is there, 200 open/close cycles of the setup dialog; it prints the handle,
# GDI/USER and memory figures and fails if a count does not come back.
# (ctest runs both: the matrix whole, the soak as soak_short.) Takes about two
# minutes once built on a 2-core machine; docs/reliability.md has the figures.
#
#   scripts/soak.sh [soak arguments...]    e.g. --cycles 1000 --calls 10000
#
# Build folder: $FOCUSER_BUILD_DIR (default build/); the 64-bit build is run,
# or the 32-bit one with FOCUSER_BITS=32.
set -euo pipefail
. "$(dirname "$0")/select-build.sh"

"$here/scripts/build.sh"

xvfb=no
cleanup() {
  [ "$xvfb" = yes ] && "$here/tests/fixtures/xvfb-fixture.sh" stop "$win" || true
  "$here/tests/fixtures/wine-fixture.sh" stop "$win" || true
}
trap cleanup EXIT
"$here/tests/fixtures/wine-fixture.sh" start "$win" "$arch" "$loader" "$build/native/nullmodem"

echo "== fault matrix"
matrix=0
"$here/scripts/wine-run.sh" "$win" "$loader" "$win/fault_matrix_tests.exe" --gtest_brief=1 || matrix=$?

echo "== soak"
args=(--cycles 10000 --calls 100000 --creates 1000)
[ $# -gt 0 ] && args=("$@")
run=("$here/scripts/wine-run.sh" "$win" "$loader")
if command -v Xvfb >/dev/null && [ -x "$here/tests/fixtures/xvfb-fixture.sh" ] &&
   timeout 60 "$here/tests/fixtures/xvfb-fixture.sh" start "$win"; then
  xvfb=yes
  timeout 120 "$here/tests/fixtures/xvfb-fixture.sh" wine-app "$win" soak.exe "${run[@]}"
  [ $# -gt 0 ] || args+=(--dialogs 200)
  run=("$here/tests/fixtures/xvfb-fixture.sh" run "$win" "${run[@]}")
else
  echo "soak: no Xvfb display: the setup dialog cycles are skipped"
fi
# Generous: the full run takes a few minutes, far longer on a loaded machine.
soak=0
timeout 7200 "${run[@]}" "$win/soak.exe" "${args[@]}" || soak=$?
echo "fault matrix: $([ $matrix -eq 0 ] && echo PASS || echo FAIL)  soak: $([ $soak -eq 0 ] && echo PASS || echo FAIL)"
[ $matrix -eq 0 ] && [ $soak -eq 0 ]
