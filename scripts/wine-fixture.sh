#!/usr/bin/env bash
# Sets up and tears down what the Wine tests of one build folder share: a
# private Wine prefix, a persistent wineserver (so each test program starts
# fast) and the null-modem bridge joining COM3 to COM13 and COM4 to COM14.
#
#   wine-fixture.sh start BUILD ARCH LOADER NULLMODEM   (ARCH: win32 or win64)
#   wine-fixture.sh stop BUILD
#
# Everything started here runs detached, with its output in log files inside
# the prefix: ctest waits for every holder of a test's output pipe, so a
# background process left holding one would stall the run.
set -euo pipefail

fail() {
  echo "wine-fixture: $*" >&2
  # A half-made fixture is taken down, so nothing lingers for the next run.
  if [ -n "${server:-}" ]; then
    stop_bridge
    stop_server "$server"
  fi
  exit 1
}

usage() {
  echo "usage: $0 start BUILD win32|win64 LOADER NULLMODEM | stop BUILD" >&2
  exit 2
}

[ $# -ge 2 ] || usage
action=$1
build=$(cd "$2" 2>/dev/null && pwd) || fail "no build folder $2"
prefix=$build/wineprefix
pid_file=$prefix/nullmodem.pid
control_file=$prefix/nullmodem.port
server_file=$prefix/fixture.wineserver

# Under an emulator everything Wine does takes several times longer; ctest
# passes the factor its time-outs were scaled by.
scale=${FOCUSER_TIMEOUT_SCALE:-1}

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

. "$(dirname "$0")/fixture-process.sh"
stop_bridge() { stop_fixture_process "$pid_file" nullmodem "$control_file"; }

stop_server() {  # wineserver binary
  timeout 30 "$1" -k >/dev/null 2>&1 || true
  timeout 30 "$1" -w >/dev/null 2>&1 || true
}

case $action in
start)
  [ $# -eq 5 ] || usage
  arch=$3
  loader=$4
  nullmodem=$5
  case $arch in
    win32) server=/usr/lib/wine/wineserver32 ;;
    win64) server=/usr/lib/wine/wineserver64 ;;
    *) usage ;;
  esac
  [ -x "$loader" ] || fail "no Wine loader at $loader"
  [ -x "$server" ] || fail "no wineserver at $server"
  [ -x "$nullmodem" ] || fail "no null-modem bridge at $nullmodem (build the host tools first)"
  export WINELOADER=$loader
  export WINESERVER=$server

  # Whatever a crashed run left behind goes first.
  stop_bridge
  stop_server "$server"

  # A prefix whose creation was cut short is made again from scratch. Wine
  # makes it with a server of its own, and our persistent one starts only once
  # it is complete: a server writes out its registry when it stops, so one
  # started early would leave a failed prefix looking finished.
  if [ ! -f "$prefix/system.reg" ]; then
    rm -rf -- "${build:?}/wineprefix"
    echo "wine-fixture: creating the $arch prefix $prefix"
    log=$build/wineboot.log
    if ! WINEARCH=$arch timeout $((120 * scale)) "$loader" wineboot -i >"$log" 2>&1 </dev/null; then
      tail -5 "$log" >&2 || true
      # Its server writes the registry out as it stops, which would make the
      # half-made prefix look finished to the next run.
      stop_server "$server"
      rm -rf -- "${build:?}/wineprefix"
      fail "wineboot could not make the prefix (log: $log)"
    fi
    # The registry reaches the disk when that server exits.
    stop_server "$server"
    [ -f "$prefix/system.reg" ] || fail "wineboot made no registry in $prefix (log: $log)"
    mv "$log" "$prefix/wineboot.log"
  fi
  "$server" -p >"$prefix/wineserver.log" 2>&1 </dev/null ||
    fail "wineserver did not start (see $prefix/wineserver.log)"
  echo "$server" >"$server_file"
  # The first program in a fresh server session starts Wine's services, which
  # then hold that program's stderr for as long as the server lives. Starting
  # them here keeps them off the test programs' output.
  timeout $((60 * scale)) "$loader" cmd /c exit >"$prefix/warmup.log" 2>&1 </dev/null ||
    fail "Wine cannot run a program in $prefix (see $prefix/warmup.log)"
  # Wine links the user's Documents to this machine's home folder, so what
  # the driver writes there (its trace log) would meet every other prefix's.
  # A folder of the prefix's own keeps it with the prefix; removing the link
  # leaves its target alone.
  for documents in "$prefix"/drive_c/users/*/Documents; do
    if [ -L "$documents" ]; then
      rm -f -- "$documents" && mkdir -- "$documents" ||
        fail "could not give the prefix a Documents folder of its own ($documents)"
    fi
  done
  mkdir -p "$prefix/dosdevices"

  setsid "$nullmodem" --dosdevices "$prefix/dosdevices" \
    --pair com3:com13 --pair com4:com14 \
    --control-file "$control_file" --pid-file "$pid_file" \
    >"$prefix/nullmodem.log" 2>&1 </dev/null &
  bridge=$!
  for _ in $(seq 100); do
    [ -s "$control_file" ] && break
    kill -0 "$bridge" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$control_file" ]; then
    kill -TERM "$bridge" 2>/dev/null || true
    fail "the null-modem bridge did not come up: $(cat "$prefix/nullmodem.log")"
  fi
  for port in com3 com13 com4 com14; do
    [ -c "$prefix/dosdevices/$port" ] || fail "$port is not linked to a terminal"
  done
  echo "wine-fixture: prefix $prefix ready; bridge pid $(cat "$pid_file"), control port $(cat "$control_file")"
  ;;
stop)
  [ $# -eq 2 ] || usage
  stop_bridge
  server=/usr/lib/wine/wineserver64
  [ -f "$server_file" ] && server=$(cat "$server_file")
  [ -d "$prefix" ] && stop_server "$server"
  rm -f "$server_file"
  echo "wine-fixture: stopped"
  ;;
*)
  usage
  ;;
esac
