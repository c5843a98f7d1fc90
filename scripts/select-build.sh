# Sourced by the soak and the benchmark: which build folder they run, and with
# which Wine. FOCUSER_BITS=32 runs the 32-bit driver (needs a machine that runs
# 32-bit programs); the default is the 64-bit one, which every machine here runs.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FOCUSER_BUILD_DIR:-$here/build}
# Absolute: the runs it names start in other directories (Wine's, the tests').
build=$(mkdir -p "$build" && cd "$build" && pwd)
case ${FOCUSER_BITS:-64} in
  64) arch=win64 loader=/usr/lib/wine/wine64 ;;
  32) arch=win32 loader=/usr/lib/wine/wine ;;
  *) echo "FOCUSER_BITS must be 32 or 64" >&2; exit 2 ;;
esac
win=$build/$arch
