#!/usr/bin/env bash
# Checks the service's system call filter and address families against what
# the server really does: runs the server's tests (which start focuser-alpaca
# and drive it through connects, moves, faults, setup saves, discovery and
# stops) under strace, takes the calls of the focuser-alpaca processes and
# their threads, and fails on any call the unit's SystemCallFilter= lines
# would kill it for, or any socket family RestrictAddressFamilies= refuses.
# No systemd is needed: the groups are expanded with systemd-analyze.
#
#   check-syscalls.sh UNIT SERVER-TESTS
set -euo pipefail
. "$(dirname "$0")/unit.sh"
[ $# -eq 2 ] || { echo "usage: $0 UNIT SERVER-TESTS" >&2; exit 2; }
unit=$1 tests=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/focuser-syscalls.XXXXXX")
trap 'rm -rf -- "$work"' EXIT

# A name, or a group (@name) expanded to its calls, nested groups included.
expand() {
  local name
  if [[ $1 != @* ]]; then echo "$1"; return; fi
  systemd-analyze syscall-filter "$1" | sed 1d | sed -n 's/^ *\([-@a-z_0-9]*\)$/\1/p' |
    while read -r name; do [ -n "$name" ] && expand "$name"; done
}
allowed= denied=
while IFS= read -r value; do
  if [[ $value == ~* ]]; then denied+=" ${value#\~}"; else allowed+=" $value"; fi
done < <(unit_values "$unit" SystemCallFilter)
[ -n "$allowed" ] || { echo "check-syscalls: $unit has no SystemCallFilter allow list" >&2; exit 1; }
for group in $allowed; do expand "$group"; done | sort -u >"$work/allowed"
for group in $denied; do expand "$group"; done | sort -u >"$work/denied"
comm -23 "$work/allowed" "$work/denied" >"$work/permitted"
families=$(unit_values "$unit" RestrictAddressFamilies | tr ' ' '\n' | sort -u)

started=$SECONDS
if ! timeout 600 strace -f -qq -o "$work/trace" "$tests" >"$work/tests.log" 2>&1; then
  tail -30 "$work/tests.log" >&2
  echo "check-syscalls: the server's tests failed under strace" >&2
  exit 1
fi

# The server's processes: each one that executed focuser-alpaca, and every
# thread or child such a process made. Prints "call family" per call.
awk '
  function note(pid, call, rest,   family, child) {
    if (call == "execve" && rest ~ /^"[^"]*focuser-alpaca"/ && $0 ~ /= 0$/) server[pid] = 1
    if (!(pid in server)) return
    family = "-"
    if (call == "socket" && match(rest, /^AF_[A-Z0-9]+/)) family = substr(rest, RSTART, RLENGTH)
    print call, family
    if (call ~ /^(clone|clone3|fork|vfork)$/ && match($0, /= [0-9]+$/)) server[substr($0, RSTART + 2)] = 1
  }
  /^[0-9]+ +<\.\.\. [a-z_0-9]+ resumed>/ {
    pid = $1; call = $3; sub(/^[0-9]+ +<\.\.\. [a-z_0-9]+ resumed> */, ""); note(pid, call, $0); next
  }
  /^[0-9]+ +[a-z_0-9]+\(/ {
    pid = $1; line = $0; sub(/^[0-9]+ +/, "", line); call = line; sub(/\(.*/, "", call)
    rest = line; sub(/^[a-z_0-9]+\(/, "", rest); note(pid, call, rest)
  }' "$work/trace" | sort -u >"$work/used"

status=0
calls=$(cut -d' ' -f1 "$work/used" | sort -u)
[ -n "$calls" ] || { echo "check-syscalls: no call of focuser-alpaca was traced" >&2; exit 1; }
refused=$(comm -23 <(echo "$calls") "$work/permitted")
if [ -n "$refused" ]; then
  echo "check-syscalls: focuser-alpaca makes calls the unit's filter kills it for:" $refused >&2
  status=1
fi
for family in $(awk '$2 != "-" { print $2 }' "$work/used" | sort -u); do
  if ! grep -qx "$family" <<<"$families"; then
    echo "check-syscalls: focuser-alpaca opens $family sockets, which the unit refuses" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "check-syscalls: the server's $(wc -l <<<"$calls") calls are all in the unit's filter," \
  "its socket families ($(awk '$2 != "-" { print $2 }' "$work/used" | sort -u | xargs)) all allowed" \
  "($((SECONDS - started)) s)"
exit $status
