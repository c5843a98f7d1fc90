#!/usr/bin/env bash
# Runs one Windows program under Wine in the build folder's private prefix:
#   wine-run.sh BUILD LOADER program [args...]
# ctest uses it as the emulator for every cross-built test. The program learns
# where the null-modem bridge's control socket is from FOCUSER_NULLMODEM_CONTROL.
set -u

if [ $# -lt 3 ]; then
  echo "usage: $0 BUILD LOADER program [args...]" >&2
  exit 2
fi
# Wine works in a directory of its own choosing, where a relative prefix
# would name another folder, or none.
build=$(cd "$1" 2>/dev/null && pwd) || {
  echo "$0: no build folder $1" >&2
  exit 2
}
loader=$2
shift 2

export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER=$loader
case $(basename "$loader") in
  *64) export WINESERVER=/usr/lib/wine/wineserver64 ;;
  *) export WINESERVER=/usr/lib/wine/wineserver32 ;;
esac

unset FOCUSER_NULLMODEM_CONTROL
if [ -f "$WINEPREFIX/nullmodem.port" ]; then
  port=$(tr -dc 0-9 <"$WINEPREFIX/nullmodem.port")
  [ -n "$port" ] && export FOCUSER_NULLMODEM_CONTROL=127.0.0.1:$port
fi

# Wine processes that a program starts and that outlive it (services, the
# desktop) inherit its stderr, and ctest waits for every holder of a test's
# output before it moves on. So the program writes to a file, and tail alone
# copies that to our output, stopping once the program has ended.
output=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 1
exec 3<"$output" 4>"$output"
rm -f "$output"  # nothing to clean up, however this script ends
"$loader" "$@" >&4 2>&4 3<&- 4>&- &
program=$!
exec 4>&-
trap 'kill -TERM "$program" 2>/dev/null' TERM INT HUP
tail -c +1 -s 0.1 --pid="$program" -f <&3 3<&- &
copier=$!
wait "$program"
status=$?
wait "$copier"
exit $status
