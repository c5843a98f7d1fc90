#!/usr/bin/env bash
# A virtual X display for the tests that open windows, one per build folder.
#
#   xvfb-fixture.sh start BUILD         starts Xvfb on a free display number
#   xvfb-fixture.sh run BUILD cmd...    runs cmd with DISPLAY set to it
#   xvfb-fixture.sh stop BUILD          stops the Xvfb that start started
#   xvfb-fixture.sh wine-app BUILD PROGRAM.exe wine-runner...
#                                       has Wine frame PROGRAM's windows itself
#
# There is no window manager on the display. Wine would leave the frames and
# captions of its windows to one, and wait up to two seconds for one to
# acknowledge every window it hides; wine-app turns both off for one program
# in the prefix (wine-runner: the command that runs a Wine program there).
# The display number is the server's own choice (-displayfd), so runs in
# several build folders at once cannot collide. Xvfb runs detached with its
# output in a log file: ctest waits for every holder of a test's output pipe.
set -euo pipefail

fail() {
  echo "xvfb-fixture: $*" >&2
  exit 1
}

usage() {
  echo "usage: $0 start BUILD | run BUILD command... | stop BUILD" >&2
  echo "       $0 wine-app BUILD PROGRAM.exe wine-runner..." >&2
  exit 2
}

[ $# -ge 2 ] || usage
action=$1
build=$(cd "$2" 2>/dev/null && pwd) || fail "no build folder $2"
shift 2
display_file=$build/xvfb.display
pid_file=$build/xvfb.pid
log_file=$build/xvfb.log

. "$(dirname "$0")/fixture-process.sh"
stop_xvfb() { stop_fixture_process "$pid_file" Xvfb "$display_file"; }

case $action in
start)
  [ $# -eq 0 ] || usage
  command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/bootstrap.sh installs it)"
  stop_xvfb
  number_file=$build/xvfb.number
  rm -f "$number_file"
  # -displayfd: the server writes its display number there once it accepts
  # connections, which is also the sign that it is ready.
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$number_file" >"$log_file" 2>&1 </dev/null &
  pid=$!
  echo "$pid" >"$pid_file"
  for _ in $(seq 100); do
    [ -s "$number_file" ] && grep -q '^[0-9][0-9]*$' "$number_file" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  number=$(tr -dc 0-9 <"$number_file" 2>/dev/null || true)
  rm -f "$number_file"
  if [ -z "$number" ]; then
    stop_xvfb
    fail "Xvfb did not come up: $(tail -5 "$log_file" 2>/dev/null)"
  fi
  echo ":$number" >"$display_file"
  echo "xvfb-fixture: display :$number, pid $pid"
  ;;
run)
  [ $# -ge 1 ] || usage
  [ -s "$display_file" ] || fail "no display for $build (run: $0 start $build)"
  pid=$(tr -dc 0-9 <"$pid_file" 2>/dev/null || true)
  [ -n "$pid" ] && runs_program "$pid" Xvfb || fail "the Xvfb of $build is not running"
  DISPLAY=$(cat "$display_file")
  export DISPLAY
  exec "$@"
  ;;
wine-app)
  [ $# -ge 2 ] || usage
  program=$1
  shift
  key="HKCU\\Software\\Wine\\AppDefaults\\$program\\X11 Driver"
  # Quiet, and with no pipe of ours: Wine services this may start outlive it.
  for value in Managed Decorated; do
    "$@" reg add "$key" /v "$value" /t REG_SZ /d N /f >>"$build/xvfb-wine-app.log" 2>&1 </dev/null ||
      fail "could not set $value for $program (see $build/xvfb-wine-app.log)"
  done
  echo "xvfb-fixture: Wine frames the windows of $program itself"
  ;;
stop)
  [ $# -eq 0 ] || usage
  stop_xvfb
  echo "xvfb-fixture: stopped"
  ;;
*)
  usage
  ;;
esac
