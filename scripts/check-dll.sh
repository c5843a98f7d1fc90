#!/usr/bin/env bash
# Checks a built driver DLL: it imports only Windows system DLLs.
set -euo pipefail
objdump=$1
dll=$2
imports=$("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|msvcrt|comctl32|shell32|ws2_32)\.dll$'
bad=$(echo "$imports" | grep -v -E "$allowed" || true)
echo "imports: $(echo $imports)"
if [ -n "$bad" ]; then
  echo "not a system DLL: $bad" >&2
  exit 1
fi
