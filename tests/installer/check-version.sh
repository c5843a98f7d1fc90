#!/usr/bin/env bash
# Reads a built DLL's version resource back (windres decompiles it) and checks
# that it is complete: every string Windows shows in the file's properties and
# in Apps & features, names that match the file, and text versions that match
# the numeric ones, and, when VERSION (MAJOR.MINOR.PATCH) is given, that version.
#
#   check-version.sh WINDRES DLL [VERSION]
set -u
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 WINDRES DLL [VERSION]" >&2
  exit 2
fi
windres=$1
dll=$2
version=${3:-}
name=$(basename "$dll")
rc=$("$windres" -J coff -i "$dll" -O rc 2>/dev/null | sed -n '/VERSIONINFO/,/^END/p')
[ -n "$rc" ] || { echo "$name has no version resource" >&2; exit 1; }
status=0

value() {  # NAME: the text of VALUE "NAME", "text"
  echo "$rc" | sed -n "s/^ *VALUE \"$1\", \"\(.*\)\"\$/\1/p" | head -n1
}
expect() {  # NAME EXPECTED ('' for any non-empty text)
  local actual
  actual=$(value "$1")
  if [ -z "$actual" ]; then
    echo "$name: no $1" >&2
    status=1
  elif [ -n "$2" ] && [ "$actual" != "$2" ]; then
    echo "$name: $1 is \"$actual\", expected \"$2\"" >&2
    status=1
  else
    echo "$1: $actual"
  fi
}

# "1, 0, 0, 0" as "1.0.0.0"
numeric() { echo "$rc" | sed -n "s/^ *$1 \(.*\)\$/\1/p" | head -n1 | tr -d ' ' | tr , .; }
file_version=$(numeric FILEVERSION)
product_version=$(numeric PRODUCTVERSION)
[ -n "$file_version" ] || { echo "$name: no FILEVERSION" >&2; status=1; }
if [ -n "$version" ] && [ "$file_version" != "$version.0" ]; then
  echo "$name: FILEVERSION is $file_version, expected $version.0" >&2
  status=1
fi

expect CompanyName ''
expect FileDescription ''
expect FileVersion "$file_version"
expect InternalName "${name%.dll}"
expect LegalCopyright ''
expect OriginalFilename "$name"
expect ProductName ''
expect ProductVersion "$product_version"
exit $status
