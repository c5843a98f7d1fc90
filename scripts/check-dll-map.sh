#!/usr/bin/env bash
# Checks a driver DLL's link map: the C++ runtime's thread primitives come
# from server/RuntimeThreads.cpp and nowhere else. No member of the POSIX
# thread library may be linked (it keeps what it takes for each load of the
# DLL), and no thread primitive may be defined by any other object, which is
# what a runtime that starts calling one the file lacks would bring in.
# Usage: check-dll-map.sh MAP
set -euo pipefail
map=$1
status=0

# The archive members the linker took, each with what it took it for: the
# lines up to the list of discarded sections.
members=$(sed -n '1,/^Discarded input sections/p' "$map" |
          awk '/^[^ ].*lib(win)?pthread(\.dll)?\.a\(/ { member = $0; getline; print member " <-" $0 }')
if [ -n "$members" ]; then
  echo "the POSIX thread library is linked:" >&2
  echo "$members" | sed 's/  */ /g' | head -n 20 >&2
  status=1
fi

# In the memory map, each symbol follows the input section (and the object
# file) that defines it; a long section name puts the file on the next line.
definitions=$(awk '
  /^ [^ ]+ +0x[0-9a-f]+ +0x[0-9a-f]+ +[^ ]+$/ { file = $4; next }
  /^ +0x[0-9a-f]+ +0x[0-9a-f]+ +[^ ]+$/ { file = $3; next }
  /^ +0x[0-9a-f]+ +[^ 0][^ ]*$/ && $2 ~ /^_*(pthread|sem|sched)_/ { print $2 " " file }
' "$map")
own=$(echo "$definitions" | grep -E ' ([^ ]*[(/])?RuntimeThreads\.cpp\.obj\)?$' || true)
foreign=$(echo "$definitions" | grep -v -E ' ([^ ]*[(/])?RuntimeThreads\.cpp\.obj\)?$' | grep . || true)
echo "thread primitives: $(echo "$own" | cut -d' ' -f1 | sort | tr '\n' ' ')"
if [ -z "$own" ]; then
  echo "no thread primitive from RuntimeThreads.cpp in $map: not the DLL's map?" >&2
  status=1
fi
if [ -n "$foreign" ]; then
  echo "thread primitives that RuntimeThreads.cpp does not define:" >&2
  echo "$foreign" | head -n 20 >&2
  status=1
fi
exit $status
