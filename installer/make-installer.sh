#!/usr/bin/env bash
# Builds one installer with makensis and keeps makensis's full report beside
# it (OUTFILE.log): which stub it used and every file that went in.
#
#   make-installer.sh MAKENSIS OUTFILE [makensis options...]
#
# Warnings are errors. The installer script is the one beside this file.
set -u

if [ $# -lt 2 ]; then
  echo "usage: $0 MAKENSIS OUTFILE [makensis options...]" >&2
  exit 2
fi
makensis=$1
out=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
log=$out.log

mkdir -p "$(dirname "$out")"
rm -f "$out"
if ! timeout 300 "$makensis" -NOCONFIG -WX -V4 "-DOUTFILE=$out" "$@" \
     "$here/TavrilenFocuser.nsi" >"$log" 2>&1 </dev/null; then
  grep -v '^$' "$log" | tail -15 >&2
  echo "make-installer: makensis failed for $out (full report: $log)" >&2
  rm -f "$out"
  exit 1
fi
echo "make-installer: $out"
