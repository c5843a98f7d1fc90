#!/usr/bin/env bash
# Checks tests/packaging/unit.sh, which the package check trusts to start the
# server as systemd would: a misread unit would test some other command line.
set -euo pipefail
. "$(dirname "$0")/unit.sh"
failures=0
check() {  # check WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ] && return
  echo "FAIL $1: expected [$2], got [$3]" >&2
  failures=$((failures + 1))
}
dir=$(mktemp -d)
trap 'rm -rf -- "$dir"' EXIT

cat >"$dir/unit" <<'END'
[Unit]
Description=not the service's
User=nobody-from-unit

[Service]
# User=commented
User=first
User=last
EnvironmentFile=/etc/one
EnvironmentFile=
EnvironmentFile=-/etc/two
 EnvironmentFile = /etc/three
ExecStart=/usr/bin/p --a 1 \
  --b 2

[Install]
User=nobody-from-install
END
while IFS='|' read -r key expected; do
  check "unit_values $key" "$expected" "$(unit_values "$dir/unit" "$key" | paste -sd'|')"
done <<'END'
User|first|last
EnvironmentFile|-/etc/two|/etc/three
ExecStart|/usr/bin/p --a 1    --b 2
Group|
END
check "unit_value User" last "$(unit_value "$dir/unit" User)"

printf '%s\n' '# comment' '; comment' '' 'A=1' '  B = "two words"  ' "C='x'" 'D=' >"$dir/env"
check env_file_read 'A=1|B=two words|C=x|D=' "$(env_file_read "$dir/env" | paste -sd'|')"
echo 'not an assignment' >>"$dir/env"
check "env_file_read refuses" refused "$(env_file_read "$dir/env" >/dev/null 2>&1 || echo refused)"

declare -A unit_env=([A]='x y' [B]='a&b' [E]='')
# Command line, then the words expected joined by |, or "refused".
while IFS=$'\t' read -r line expected; do
  if exec_args u.service "$line" 2>/dev/null; then
    actual=$(IFS='|'; echo "${exec_args[*]}")
  else
    actual=refused
  fi
  check "exec_args $line" "$expected" "$actual"
done <<'END'
/bin/p --s %S/d/f.conf	/bin/p|--s|/var/lib/d/f.conf
/bin/p ${A}	/bin/p|x y
/bin/p $A	/bin/p|x|y
/bin/p --l=${B}:${A}	/bin/p|--l=a&b:x y
/bin/p ${E} 100%% cost$5 $	/bin/p||100%|cost$5|$
/bin/p %n %N %p %t	/bin/p|u.service|u|u|/run
/bin/p *	/bin/p|*
/bin/p %Z	refused
/bin/p ${UNSET}	refused
/bin/p $UNSET	refused
-/bin/p	refused
/bin/p "a b"	refused
END

[ "$failures" -eq 0 ] || { echo "unit-test: $failures failed" >&2; exit 1; }
echo "unit-test: passed"
