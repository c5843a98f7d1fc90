#!/usr/bin/env bash
# widl writes the time it ran into every type library it makes, twice: as
# text ("Created by WIDL version V at <ctime>") and, right after it, as a
# number (VT_UI4 custom data), and knows no SOURCE_DATE_EPOCH. This puts the
# given time in both places instead, in the same form and length, so that the
# type library, and the DLL that carries it, is the same from every build of
# one commit.
#
#   stamp-typelib.sh TLB SECONDS
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 TLB SECONDS" >&2
  exit 2
fi
stamp=$(LC_ALL=C TZ=UTC date -d "@$2" '+%a %b %e %H:%M:%S %Y')
STAMP=$stamp SECONDS_=$2 perl -0777 -pi -e '
  # The text, then the padding to four bytes (W), VT_UI4 and the number.
  s/(Created by WIDL version [^\n\0]* at )[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}(\n?W*\x13\x00)..../$1 . $ENV{STAMP} . $2 . pack("V", $ENV{SECONDS_})/se
    or die "stamp-typelib: widl'"'"'s time is not where it was in $ARGV\n"' "$1"
