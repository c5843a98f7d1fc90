#!/usr/bin/env bash
# Makes a release of the tree under test with scripts/release.sh (the suite
# left out), in another folder and at another time than the build under test,
# with the same certificate, if any, and checks what it wrote: SHA256SUMS,
# the notes, and that the installer, both DLLs and their symbol files are
# byte for byte the build's, and so are the Debian packages where the build
# has them (BUILD/packages, from scripts/package.sh). Cross-compiles only;
# runs nothing it built.
#
#   check-release.sh SOURCE BUILD WORK OBJDUMP VERSION [PKCS12 PASSWORD-FILE]
#
# BUILD holds the build under test (win32/ and win64/, as scripts/build.sh
# makes them); its commit time (BUILD/win64/source-date-epoch) is the
# release's. WORK is scratch space (emptied first). A difference is reported
# by file, offset and what lies there.
set -u
if [ $# -ne 5 ] && [ $# -ne 7 ]; then
  echo "usage: $0 SOURCE BUILD WORK OBJDUMP VERSION [PKCS12 PASSWORD-FILE]" >&2
  exit 2
fi
source=$(cd "$1" && pwd) build=$(cd "$2" && pwd) work=$3 objdump=$4 version=$5
rm -rf -- "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
epoch=$(cat "$build/win64/source-date-epoch") || { echo "no commit time in $build/win64: build it again" >&2; exit 1; }

unset FOCUSER_SIGN_PKCS12 FOCUSER_SIGN_PASSWORD FOCUSER_SIGN_TIMESTAMP_URL
if [ $# -eq 7 ]; then
  export FOCUSER_SIGN_PKCS12=$6
  FOCUSER_SIGN_PASSWORD=$(cat "$7") || exit 1
  export FOCUSER_SIGN_PASSWORD
fi
started=$(date +%s)
if ! SOURCE_DATE_EPOCH=$epoch FOCUSER_JOBS=${FOCUSER_JOBS:-2} TMPDIR=$work \
     "$source/scripts/release.sh" --skip-suite --worktree --dist "$work/dist" >"$work/release.log" 2>&1; then
  tail -30 "$work/release.log"
  echo "FAIL  scripts/release.sh failed (log: $work/release.log)"
  exit 1
fi
echo "release made in $(( $(date +%s) - started )) s:"
sed -n '/^  /p' "$work/release.log"
out=$work/dist/$version
status=0

if (cd "$out" && sha256sum --quiet -c SHA256SUMS); then
  echo "ok    SHA256SUMS matches $(wc -l <"$out/SHA256SUMS") files"
else
  echo "FAIL  SHA256SUMS does not match"
  status=1
fi
if [ "$(head -n1 "$out/RELEASE-NOTES.md")" = "## [$version]" ] || head -n1 "$out/RELEASE-NOTES.md" | grep -q "^## \[$version\] "; then
  echo "ok    release notes for $version ($(wc -l <"$out/RELEASE-NOTES.md") lines)"
else
  echo "FAIL  release notes do not start with the heading of $version: $(head -n1 "$out/RELEASE-NOTES.md")"
  status=1
fi
mkdir "$work/symbols"
tar -C "$work/symbols" -xJf "$out/TavrilenFocuser-$version-symbols.tar.xz" || status=1

hex() {  # FILE OFFSET COUNT: little-endian number
  od -An -tx1 -v -j "$2" -N "$3" "$1" | tr -d ' \n' | sed 's/\(..\)/\1 /g' |
    awk '{ for (i = NF; i > 0; i--) printf "%s", $i }'
}
# What lies at OFFSET of a PE file: a header field or the section holding it.
where() {  # FILE OFFSET
  local pe
  if [ "$(hex "$1" 0 2)" != 5a4d ]; then echo "-"; return; fi
  pe=$((16#$(hex "$1" 60 4)))
  case $(( $2 - pe )) in
    8|9|10|11) echo "PE time stamp"; return ;;
    88|89|90|91) echo "PE checksum"; return ;;
  esac
  local index name size vma lma offset rest
  while read -r index name size vma lma offset rest; do
    [[ $index =~ ^[0-9]+$ ]] || continue
    if (( $2 >= 16#$offset && $2 < 16#$offset + 16#$size )); then
      echo "section $name"
      return
    fi
  done < <("$objdump" -h "$1" 2>/dev/null)
  echo "outside the sections (headers, signature or appended data)"
}

# released file : the build's
pairs=(
  "$out/TavrilenFocuserSetup-$version.exe:$build/win64/installer/TavrilenFocuserSetup-$version.exe"
  "$out/TavrilenFocuser.dll:$build/win32/TavrilenFocuser.dll"
  "$out/TavrilenFocuser64.dll:$build/win64/TavrilenFocuser64.dll"
  "$work/symbols/TavrilenFocuser.dll.debug:$build/win32/TavrilenFocuser.dll.debug"
  "$work/symbols/TavrilenFocuser64.dll.debug:$build/win64/TavrilenFocuser64.dll.debug"
)
for arch in amd64 arm64; do
  deb=tavrilen-focuser-alpaca_${version}_$arch.deb
  if [ -f "$build/packages/$deb" ]; then
    pairs+=("$out/$deb:$build/packages/$deb")
  elif [ -f "$out/$deb" ]; then
    echo "ok    $deb in the release (the build has none to compare)"
  else
    echo "FAIL  $deb: not in the release"
    status=1
  fi
done
for pair in "${pairs[@]}"; do
  released=${pair%%:*} file=${pair#*:}
  name=$(basename "$released")
  if [ ! -f "$released" ]; then
    echo "FAIL  $name: not in the release"
    status=1
  elif cmp -s "$file" "$released"; then
    echo "same  $name ($(stat -c %s "$file") bytes)"
  else
    count=$(cmp -l "$file" "$released" | wc -l)
    echo "FAIL  $name: $count bytes differ from the build's (or the sizes: $(stat -c %s "$file"), $(stat -c %s "$released")); the first ones (offset: where, build's byte, release's byte, in octal):"
    cmp -l "$file" "$released" | head -12 | while read -r offset a b; do
      echo "      $((offset - 1)): $(where "$file" $((offset - 1))), $a, $b"
    done
    status=1
  fi
done
[ $status -eq 0 ] && rm -rf -- "$work"
exit $status
