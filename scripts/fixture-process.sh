# Sourced by the test fixtures: stops the helper process a fixture started,
# named by its pid file.
#   stop_fixture_process PID_FILE PROGRAM [FILE...]
# Only a process that still runs PROGRAM is stopped: a pid file left by a
# crashed run may name a process that has since been reused for something
# else. SIGTERM first, SIGKILL after 5 s. The pid file and FILEs are removed.
runs_program() {  # PID PROGRAM
  local exe
  exe=$(readlink "/proc/$1/exe" 2>/dev/null) || return 1
  [ "$(basename "${exe% (deleted)}")" = "$2" ]
}

stop_fixture_process() {
  local pid_file=$1 program=$2 pid
  shift 2
  if [ -f "$pid_file" ]; then
    pid=$(tr -dc 0-9 <"$pid_file")
    if [ -n "$pid" ] && runs_program "$pid" "$program"; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 50); do
        runs_program "$pid" "$program" || break
        sleep 0.1
      done
      if runs_program "$pid" "$program"; then
        echo "$program (pid $pid) ignored SIGTERM; killing it" >&2
        kill -KILL "$pid" 2>/dev/null || true
      fi
    fi
  fi
  rm -f "$pid_file" "$@"
}
