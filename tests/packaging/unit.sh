# Reading a systemd service unit the way systemd would, for the package check
# to start a program as its unit does where no systemd runs. Only what our
# unit can use is handled; anything else is refused by name rather than
# guessed at. Functions print their complaint on stderr and return 1.

# unit_values FILE KEY: the values of KEY in the [Service] section, one a
# line, in order; an empty assignment forgets those before it, and a line
# ending in a backslash goes on in the next.
unit_values() {
  awk -v key="$2" '
    /^[ \t]*[#;]/ && pending == "" { next }
    sub(/\\$/, "") { pending = pending $0 " "; next }
    { line = pending $0; pending = "" }
    line ~ /^[ \t]*\[/ { service = (line ~ /^[ \t]*\[Service\]/); next }
    !service { next }
    {
      name = line; sub(/[ \t]*=.*/, "", name); sub(/^[ \t]+/, "", name)
      if (name != key || line !~ /=/) next
      value = line; sub(/^[^=]*=[ \t]*/, "", value); sub(/[ \t]+$/, "", value)
      if (value == "") n = 0; else values[++n] = value
    }
    END { for (i = 1; i <= n; i++) print values[i] }' "$1"
}

# unit_value FILE KEY: the value of KEY that counts (the last one).
unit_value() {
  unit_values "$1" "$2" | tail -n 1
}

# env_file_read FILE: its assignments as KEY=VALUE lines, comments and blank
# lines left out, and the quotes around a whole value taken off.
env_file_read() {
  local line key value
  while IFS= read -r line || [ -n "$line" ]; do
    line=${line#"${line%%[![:space:]]*}"}
    case $line in '' | '#'* | ';'*) continue ;; esac
    if ! [[ $line =~ ^([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*=[[:space:]]*(.*)$ ]]; then
      echo "$1: not an assignment: $line" >&2
      return 1
    fi
    key=${BASH_REMATCH[1]} value=${BASH_REMATCH[2]}
    value=${value%"${value##*[![:space:]]}"}
    if [[ $value =~ ^\"(.*)\"$ || $value =~ ^\'(.*)\'$ ]]; then value=${BASH_REMATCH[1]}; fi
    printf '%s=%s\n' "$key" "$value"
  done <"$1"
}

# exec_args UNIT_NAME COMMAND_LINE: sets the array exec_args to the command
# line's words after systemd's expansion for a system unit: the specifiers
# %S %t %n %N %p %%, "${NAME}" within a word as it stands, and "$NAME" as a
# whole word split at white space, NAME taken from the associative array
# unit_env. Prefixes (- @ : + !) and quoting are refused.
exec_args() {
  local unit=$1 line=$2 word rest out token name
  local -a words split
  exec_args=()
  case $line in
    [-@:+!]*) echo "the ExecStart prefix ${line:0:1} is not handled" >&2; return 1 ;;
    *[\"\'\\]*) echo "quoting in ExecStart is not handled: $line" >&2; return 1 ;;
  esac
  read -ra words <<<"$line"
  for word in "${words[@]}"; do
    if [[ $word =~ ^\$([A-Za-z_][A-Za-z0-9_]*)$ ]]; then
      name=${BASH_REMATCH[1]}
      [ -n "${unit_env[$name]+set}" ] || { echo "ExecStart uses \$$name, which is not set" >&2; return 1; }
      read -ra split <<<"${unit_env[$name]}"
      exec_args+=("${split[@]}")
      continue
    fi
    rest=$word out=
    while [[ $rest =~ ^([^%\$]*)(%.?|\$\{[A-Za-z_][A-Za-z0-9_]*\}|\$)(.*)$ ]]; do
      out+=${BASH_REMATCH[1]} token=${BASH_REMATCH[2]} rest=${BASH_REMATCH[3]}
      case $token in
        %%) out+=% ;;
        %S) out+=/var/lib ;;
        %t) out+=/run ;;
        %n) out+=$unit ;;
        %N | %p) out+=${unit%.service} ;;
        %*) echo "the specifier $token in ExecStart is not handled" >&2; return 1 ;;
        '$') out+='$' ;;
        *)
          name=${token:2:-1}
          [ -n "${unit_env[$name]+set}" ] || { echo "ExecStart uses \${$name}, which is not set" >&2; return 1; }
          out+=${unit_env[$name]}
          ;;
      esac
    done
    exec_args+=("$out$rest")
  done
}
