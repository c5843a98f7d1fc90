#!/usr/bin/env bash
# Reads the version back from every artefact a user sees it in and checks it
# is the project's: both DLLs' version resources, the installer's file name
# and version resource, the user guide's title page and FocuserSim --version.
# (The Apps & features entry, written when it installs, is the installer
# test's to read.)
#
#   check-release-version.sh VERSION WINDRES INSTALLER DLL32 DLL64 GUIDE [SIM WINE-RUN...]
#
# SIM is a simulator this machine can run with the command WINE-RUN....
set -u
if [ $# -lt 6 ]; then
  echo "usage: $0 VERSION WINDRES INSTALLER DLL32 DLL64 GUIDE [SIM WINE-RUN...]" >&2
  exit 2
fi
version=$1 windres=$2 installer=$3 dll32=$4 dll64=$5 guide=$6
shift 6
here=$(cd "$(dirname "$0")" && pwd)
status=0
check() {  # WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    echo "ok    $1: $3"
  else
    echo "FAIL  $1: expected [$2], got [$3]"
    status=1
  fi
}

for dll in "$dll32" "$dll64"; do
  if "$here/../installer/check-version.sh" "$windres" "$dll" "$version" >/dev/null; then
    echo "ok    $(basename "$dll"): version resource $version.0"
  else
    echo "FAIL  $(basename "$dll"): version resource"
    "$here/../installer/check-version.sh" "$windres" "$dll" "$version" 2>&1 >/dev/null | sed 's/^/      /'
    status=1
  fi
done

check "installer's file name" "TavrilenFocuserSetup-$version.exe" "$(basename "$installer")"
rc=$("$windres" -J coff -i "$installer" -O rc 2>/dev/null | sed -n '/VERSIONINFO/,/^END/p')
check "installer's ProductVersion" "$version" \
  "$(echo "$rc" | sed -n 's/^ *VALUE "ProductVersion", "\(.*\)"$/\1/p' | head -n1)"
check "installer's FILEVERSION" "$version.0" \
  "$(echo "$rc" | sed -n 's/^ *FILEVERSION \(.*\)$/\1/p' | head -n1 | tr -d ' ' | tr , .)"

check "user guide's title page" "Version $version" \
  "$(sed -n 's|^<p class="subtitle">\(.*\)</p>$|\1|p' "$guide" | head -n1)"

if [ $# -gt 0 ]; then
  sim=$1
  shift
  check "FocuserSim --version" "FocuserSim $version" "$("$@" "$sim" --version 2>&1 | tr -d '\r')"
fi
exit $status
