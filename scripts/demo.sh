#!/usr/bin/env bash
# The demo: builds everything (installing what is missing), then, in a Wine
# prefix of its own, registers the 64-bit driver, joins COM3 to COM13 with the
# null-modem bridge, runs the controller simulator on COM13 paced at 9600 baud,
# lets a VBScript client drive the focuser on COM3 through Wine's cscript with
# the driver's trace log on, and shows what the trace recorded. Then the same
# focuser on the network: focuser-sim on a Linux pseudo-terminal, the
# focuser-alpaca device server on it, and a short session from curl.
#
#   scripts/demo.sh [--dialog] [--no-build]
#
#   --dialog     also open the setup dialog on a virtual display and save a
#                picture of it as build/demo/setup-dialog.png
#   --no-build   use what is already built
#
# The build folder is $FOCUSER_BUILD_DIR (default: build/ in the source tree);
# everything the demo makes is in its demo/ folder. Exits non-zero when any
# step fails; every process it starts is stopped on the way out.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${FOCUSER_BUILD_DIR:-$here/build}
mkdir -p "$build"
build=$(cd "$build" && pwd)
demo=$build/demo
loader=/usr/lib/wine/wine64
runner=("$here/scripts/wine-run.sh" "$demo" "$loader")

dialog=0
do_build=1
for argument in "$@"; do
  case $argument in
    --dialog) dialog=1 ;;
    --no-build) do_build=0 ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown option $argument (try --help)" >&2; exit 2 ;;
  esac
done

steps=8
[ $dialog -eq 1 ] && steps=9
step_number=0
step() {
  step_number=$((step_number + 1))
  printf '\n[%d/%d] %s\n' "$step_number" "$steps" "$*"
}
fail() {
  echo "demo: FAILED: $*" >&2
  exit 1
}
# A host path as Wine programs see it.
windows_path() {
  printf 'Z:%s' "${1//\//\\}"
}
# The driver's trace logs in the prefix, one a day, in the Documents of the
# prefix's user (named after the host's).
trace_logs() {
  find "$WINEPREFIX/drive_c/users" -path '*/ASCOM/Logs */Tavrilen.Focuser.txt' -type f 2>/dev/null | sort
}

sim_pid=""
alpaca_pids=()
fixture_up=0
xvfb_up=0
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$sim_pid" 2>/dev/null || true
  fi
  for pid in "${alpaca_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  exec 7>&- 2>/dev/null || true
  exec 9>&- 2>/dev/null || true
  [ $xvfb_up -eq 1 ] && "$here/tests/fixtures/xvfb-fixture.sh" stop "$demo" >>"$demo/demo.log" 2>&1
  # Stops the bridge and the prefix's wineserver, and with it every Wine
  # program still running there.
  [ $fixture_up -eq 1 ] && "$here/tests/fixtures/wine-fixture.sh" stop "$demo" >>"$demo/demo.log" 2>&1
  rm -f "$demo/sim.input" "$demo/alpaca/sim.input"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "Tavrilen Astrograph Focuser driver: demo"
echo "========================================"

step "Building (scripts/build.sh installs whatever is missing; the first time takes some minutes)"
mkdir -p "$demo"
: >"$demo/demo.log"
if [ $do_build -eq 1 ]; then
  if ! "$here/scripts/build.sh" >"$demo/build.log" 2>&1; then
    tail -25 "$demo/build.log" >&2
    fail "the build failed (whole log: $demo/build.log)"
  fi
  echo "    built into $build (log: $demo/build.log)"
else
  echo "    skipped: using what is in $build"
fi
dll=$build/win64/TavrilenFocuser64.dll
sim_exe=$build/win64/FocuserSim.exe
nullmodem=$build/native/nullmodem
for file in "$dll" "$sim_exe" "$nullmodem"; do
  [ -f "$file" ] || fail "$file is missing: build first (scripts/build.sh)"
done

if [ $dialog -eq 1 ]; then
  # The display comes first: the Wine programs started with the prefix serve
  # every later window, and they only show it when they know the display.
  "$here/tests/fixtures/xvfb-fixture.sh" start "$demo" >>"$demo/demo.log" 2>&1 ||
    fail "Xvfb did not start (see $demo/demo.log)"
  xvfb_up=1
  DISPLAY=$(cat "$demo/xvfb.display")
  export DISPLAY
fi

step "A private Wine prefix, with a null-modem joining COM3 to COM13"
export WINEPREFIX=$demo/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER=$loader WINESERVER=/usr/lib/wine/wineserver64
fixture_up=1
"$here/tests/fixtures/wine-fixture.sh" start "$demo" win64 "$loader" "$nullmodem" >>"$demo/demo.log" 2>&1 ||
  fail "the Wine prefix or the null-modem did not come up (see $demo/demo.log)"
echo "    prefix $WINEPREFIX ready; COM3 <-> COM13"

step "Registering the driver with regsvr32"
"${runner[@]}" regsvr32 /s "$(windows_path "$dll")" >>"$demo/demo.log" 2>&1 ||
  fail "regsvr32 could not register $dll (see $demo/demo.log)"
"${runner[@]}" reg query 'HKCR\Tavrilen.Focuser\CLSID' >>"$demo/demo.log" 2>&1 ||
  fail "the ProgID Tavrilen.Focuser is not registered"
echo "    $(basename "$dll") registered: ProgID Tavrilen.Focuser"

step "Driver settings: COM port COM3, medium speed, trace log on"
# The driver keeps its settings in the 32-bit view of the registry, also in
# its 64-bit build.
key='HKLM\Software\ASCOM\Focuser Drivers\Tavrilen.Focuser'
for setting in COM:2 Speed:1 Trace:1; do
  "${runner[@]}" reg add "$key" /v "${setting%%:*}" /t REG_SZ /d "${setting#*:}" /f /reg:32 \
    >>"$demo/demo.log" 2>&1 || fail "could not store the setting ${setting%%:*}"
done
stored=$("${runner[@]}" reg query "$key" /v COM /reg:32 2>>"$demo/demo.log") || true
grep -q 'COM.*REG_SZ.*2' <<<"$stored" || fail "the COM setting did not reach the driver's registry key"
echo "    \"$key\": COM = 2 (COM3), Speed = 1 (medium), Trace = 1 (on)"

step "Starting the controller simulator on COM13, paced at 9600 baud"
trace=$demo/focuser-sim.trace
rm -f "$demo/sim.input"
mkfifo "$demo/sim.input"
# Held open both ways, so the simulator's console input neither ends nor blocks.
exec 7<>"$demo/sim.input"
"$loader" "$sim_exe" COM13 --position=10000 --duration=600 "--trace=$(windows_path "$trace")" \
  <&7 >"$demo/focuser-sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 300); do
  grep -q 'FocuserSim: ready' "$demo/focuser-sim.log" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q 'FocuserSim: ready' "$demo/focuser-sim.log" 2>/dev/null ||
  fail "the simulator did not start: $(cat "$demo/focuser-sim.log")"
sed 's/^/    /' "$demo/focuser-sim.log"

step "The VBScript client (demo/FocuserDemo.vbs) through Wine's cscript"
echo
# A day's trace log gathers every session of that day, so only the lines
# this session adds are its own.
declare -A trace_lines_before=()
while IFS= read -r log; do
  trace_lines_before[$log]=$(wc -l <"$log")
done < <(trace_logs)
transcript=$demo/transcript.txt
timeout 180 "${runner[@]}" cscript.exe //NoLogo "$(windows_path "$here/demo/FocuserDemo.vbs")" \
  >"$transcript" 2>&1 || true
tr -d '\r' <"$transcript" | sed 's/^/    /'
# The script host reports success even for a script that failed, so the
# verdict is in what the script printed.
tr -d '\r' <"$transcript" | grep -qx 'End of session' && ! grep -q '^FAILED' "$transcript" ||
  fail "the scripting client's session went wrong (transcript: $transcript)"

step "The driver's trace log of that session"
session_trace=$demo/session-trace.txt
: >"$session_trace"
while IFS= read -r log; do
  tail -n +$((${trace_lines_before[$log]:-0} + 1)) "$log" | tr -d '\r' >>"$session_trace"
  trace_file=$log
done < <(trace_logs)
if [ ! -s "$session_trace" ]; then
  echo "    no trace written: the driver wrote no lines to Documents\\ASCOM\\Logs <date>\\Tavrilen.Focuser.txt"
  echo "    in this prefix (a driver that does not trace yet); going on without it"
else
  relative=${trace_file#"$WINEPREFIX/drive_c/"}
  echo "    C:\\${relative//\//\\} in the prefix; this session's lines:"
  echo
  echo "    Each line: date, time (ms), the program [its process id], the event:"
  echo "      connect PORT       the program set Link to True; the port is opened next"
  echo "      exchange C reply \"R\" N ms: RESULT"
  echo "                         the command C as sent, the reply R as it came (\\r, \\xHH:"
  echo "                         bytes that do not print), N ms from sending to the end"
  echo "                         of the read, and what the driver made of the reply"
  echo "      error MESSAGE      a failure returned to the program"
  echo "      disconnect PORT    the program set Link to False"
  echo "    A move is two status queries (FU0000000), then the move itself (FA0nnnnn#)."
  echo
  lines=$(wc -l <"$session_trace")
  if [ "$lines" -le 30 ]; then
    sed 's/^/    /' "$session_trace"
  else
    # The middle is the client polling IsMoving and Position during the move.
    head -14 "$session_trace" | sed 's/^/    /'
    echo "    ... $((lines - 22)) lines more: the client polls status and position while the focuser moves ..."
    tail -8 "$session_trace" | sed 's/^/    /'
  fi
  for event in 'connect //./COM3' 'exchange FA0' 'disconnect //./COM3'; do
    grep -qF " $event" "$session_trace" || fail "the trace has no \"$event\" line (all of it: $session_trace)"
  done
fi

if [ $dialog -eq 1 ]; then
  step "The setup dialog on the virtual display $DISPLAY"
  shot=$demo/setup-dialog.bmp
  rm -f "$shot" "$demo/setup-dialog.png"
  "$here/tests/fixtures/xvfb-fixture.sh" wine-app "$demo" ShowSetupDialog.exe "${runner[@]}" >>"$demo/demo.log" 2>&1 ||
    fail "could not prepare the display for the dialog (see $demo/demo.log)"
  timeout 120 "${runner[@]}" "$build/win64/ShowSetupDialog.exe" "$(windows_path "$shot")" \
    >"$demo/setup-dialog.log" 2>&1 || true
  tr -d '\r' <"$demo/setup-dialog.log" | sed 's/^/    /'
  [ -s "$shot" ] || fail "no picture of the setup dialog was taken"
  convert "$shot" "$demo/setup-dialog.png" || fail "could not convert $shot to PNG"
  rm -f "$shot"
  echo "    saved $demo/setup-dialog.png"
fi

echo
echo "The simulator's side: every frame in and out, with its time (whole trace: $trace):"
frames=$(grep -c ' in  ' "$trace" || true)
head -12 "$trace" | tr -d '\r' | sed 's/^/    /'
echo "    ... $frames commands in all"
echo quit >&7
for _ in $(seq 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$sim_pid" 2>/dev/null; then
  fail "the simulator did not stop when asked"
fi
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
tail -1 "$demo/focuser-sim.log" | tr -d '\r' | sed 's/^/    /'

step "The same focuser on the network: focuser-sim --pty, focuser-alpaca, and curl"
alpaca=$demo/alpaca
mkdir -p "$alpaca"
for program in focuser-sim focuser-alpaca; do
  [ -x "$build/native/$program" ] || fail "$build/native/$program is missing: build first (scripts/build.sh)"
done
rm -f "$alpaca/sim.input" "$alpaca/alpaca.conf"
mkfifo "$alpaca/sim.input"
exec 9<>"$alpaca/sim.input"
"$build/native/focuser-sim" --pty --quiet --position=10000 <&9 >"$alpaca/sim.out" 2>"$alpaca/sim.log" &
alpaca_pids+=($!)
for _ in $(seq 50); do [ -s "$alpaca/sim.out" ] && break; sleep 0.1; done
device=$(head -1 "$alpaca/sim.out")
[ -n "$device" ] || fail "focuser-sim did not print its device (see $alpaca/sim.log)"
echo "    focuser-sim --pty plays the controller on $device"
"$build/native/focuser-alpaca" --serial "$device" --listen 127.0.0.1:0 --discovery-port off \
  --settings "$alpaca/alpaca.conf" --trace >"$alpaca/server.out" 2>"$alpaca/server.log" &
alpaca_pids+=($!)
for _ in $(seq 50); do grep -q '^listening on' "$alpaca/server.out" 2>/dev/null && break; sleep 0.1; done
url=$(sed -n 's/^listening on //p' "$alpaca/server.out")
[ -n "$url" ] || fail "focuser-alpaca did not start (see $alpaca/server.log)"
echo "    focuser-alpaca --serial $device --listen 127.0.0.1:0 printed: listening on $url"
echo
api=$url/api/v1/focuser/0
# One request and its answer, as a user would type it.
request() {
  local method=$1 member=$2 form=${3:-}
  if [ "$method" = GET ]; then
    echo "    \$ curl -s '$api/$member?ClientID=1'"
    echo "    $(curl -s --max-time 5 "$api/$member?ClientID=1")"
  else
    echo "    \$ curl -s -X PUT -d '$form' $api/$member"
    echo "    $(curl -s --max-time 5 -X PUT -d "$form" "$api/$member")"
  fi
}
{
  request GET description
  request PUT connect 'ClientID=1&ClientTransactionID=1'
  request GET position
  request PUT move 'Position=10500&ClientID=1&ClientTransactionID=2'
  request GET ismoving
  echo "    ... polling ismoving until the move ends ..."
  for _ in $(seq 40); do
    curl -s --max-time 5 "$api/ismoving" | grep -q '"Value":false' && break
    sleep 0.25
  done
  request GET position
  request GET devicestate
  request PUT disconnect 'ClientID=1&ClientTransactionID=3'
} | tee "$alpaca/transcript.txt"
grep -q '"Value":10500' "$alpaca/transcript.txt" || fail "the focuser did not reach 10500 (see $alpaca/server.log)"
echo
echo "    The server's log (standard error, one line per event; --trace adds the exchanges):"
grep -v ' exchange ' "$alpaca/server.log" | sed 's/^/    /'
echo "    ... and $(grep -c ' exchange ' "$alpaca/server.log") serial exchanges traced in $alpaca/server.log"
for pid in "${alpaca_pids[@]}"; do
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
done
alpaca_pids=()

echo
echo "Demo finished: OK"
