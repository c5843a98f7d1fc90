#!/usr/bin/env bash
# Checks a built driver DLL: it exports exactly the four COM server entry
# points by their plain names, and imports only Windows system DLLs.
# Usage: check-dll.sh OBJDUMP DLL
set -euo pipefail
objdump=$1
dll=$2
dump=$("$objdump" -p "$dll")
status=0

# The names of the export name table: the lines after its heading, up to the
# first blank line.
exports=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^\s*\[\s*[0-9]*\]\s*\(\S*\)\s*$/\1/p' | sort)
expected=$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer)
echo "exports: $(echo $exports)"
if [ "$exports" != "$expected" ]; then
  echo "exports must be exactly: $(echo $expected)" >&2
  status=1
fi
# Every export has a name: no extra entries reachable by ordinal only.
count=$(echo "$dump" | sed -n 's/^\s*Export Address Table\s\+\([0-9a-fA-F]\+\)\s*$/\1/p' | head -n1)
if [ -z "$count" ] || [ $((16#$count)) -ne 4 ]; then
  echo "export address table holds ${count:-no} entries, not 4" >&2
  status=1
fi

imports=$(echo "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|msvcrt|comctl32|shell32|ws2_32)\.dll$'
bad=$(echo "$imports" | grep -v -E "$allowed" || true)
echo "imports: $(echo $imports)"
if [ -n "$bad" ]; then
  echo "not a system DLL: $(echo $bad)" >&2
  status=1
fi
exit $status
