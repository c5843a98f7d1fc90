#!/usr/bin/env bash
# Checks a built installer without running it: the kind of Windows program it
# is, and what makensis put into it (from the report make-installer.sh keeps
# beside it, INSTALLER.log).
#
#   check-installer.sh INSTALLER x86|amd64 NAME...
#
# Each NAME is a file the installer must install. The shipped installer is a
# 32-bit program so that it runs on every Windows; the machine this runs on may
# not be able to run it at all, so this is all that can be checked of it here.
set -u

if [ $# -lt 2 ]; then
  echo "usage: $0 INSTALLER x86|amd64 NAME..." >&2
  exit 2
fi
exe=$1
kind=$2
shift 2
log=$exe.log
status=0

case $kind in
  x86) want_machine=014c want_magic=010b want_target=x86-unicode ;;
  amd64) want_machine=8664 want_magic=020b want_target=amd64-unicode ;;
  *) echo "check-installer: unknown kind $kind" >&2; exit 2 ;;
esac
[ -f "$exe" ] || { echo "check-installer: no installer at $exe" >&2; exit 1; }
[ -f "$log" ] || { echo "check-installer: no makensis report at $log" >&2; exit 1; }

hex() {  # file offset count: the bytes, as one little-endian hex number
  od -An -tx1 -v -j "$2" -N "$3" "$1" | tr -d ' \n' | sed 's/\(..\)/\1 /g' |
    awk '{ for (i = NF; i > 0; i--) printf "%s", $i }'
}

# The PE header: "MZ", the offset of "PE\0\0" at 0x3c, the machine after the
# signature and the optional header's magic (PE32 or PE32+) 24 bytes in.
if [ "$(hex "$exe" 0 2)" != 5a4d ]; then
  echo "not a Windows program (no MZ header)" >&2
  exit 1
fi
pe=$((16#$(hex "$exe" 60 4)))
signature=$(hex "$exe" "$pe" 4)
machine=$(hex "$exe" $((pe + 4)) 2)
magic=$(hex "$exe" $((pe + 24)) 2)
echo "signature $signature, machine $machine, optional header magic $magic"
if [ "$signature" != 00004550 ] || [ "$machine" != "$want_machine" ] || [ "$magic" != "$want_magic" ]; then
  echo "expected a PE file for machine $want_machine with magic $want_magic" >&2
  status=1
fi

# What makensis built: its stub, the files that went in, and the uninstaller.
if ! grep -q "^Target: $want_target\$" "$log"; then
  echo "makensis did not build with the $want_target stub" >&2
  status=1
fi
for name in "$@"; do
  if grep -q -- "->\"$name\" " "$log"; then
    echo "carries $name"
  else
    echo "does not carry $name" >&2
    status=1
  fi
done
if ! grep -q '^WriteUninstaller: ' "$log"; then
  echo "writes no uninstaller" >&2
  status=1
fi
exit $status
