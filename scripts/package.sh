#!/usr/bin/env bash
# Builds the Debian packages of the network device server, for amd64 and for
# arm64 (cross-built with Debian's cross toolchain), into BUILD/packages/, and
# checks what they hold:
#   - lintian reports no error and no warning;
#   - each man page names every option the program's --help lists, and no other;
#   - systemd-analyze's exposure score of the service is 2.0 or lower.
#
#   scripts/package.sh [BUILD]          (default: build/, or FOCUSER_BUILD_DIR)
#
# The packages are built from the files git knows (committed or not, ignored
# ones left out; in a copy without git, every file but build/ and dist/),
# copied to a folder of their own, so the tree stays clean. Their time is
# debian/changelog's, so the same source gives the same bytes.
# The package tests are not run by the build here (nocheck): scripts/test.sh
# runs the same tests natively and under emulation. A plain dpkg-buildpackage
# in a clone runs them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${FOCUSER_BUILD_DIR:-$here/build}}
build=$(mkdir -p "$build" && cd "$build" && pwd)
out=$build/packages
jobs=${FOCUSER_JOBS:-$(nproc)}
say() { echo "package: $*"; }
fail() { echo "package: $*" >&2; exit 1; }

cd "$here"
. "$here/scripts/lib/version.sh"
version=$(project_version "$here")
[ -n "$version" ] || fail "no version in CMakeLists.txt's project()"
changelog_version=$(dpkg-parsechangelog -S Version)
[ "$changelog_version" = "$version" ] ||
  fail "debian/changelog is at $changelog_version but the project at $version: add a changelog entry"

export SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -S Timestamp)
sources() {  # the source tree as a tar stream
  # A copy without git may still lie inside another checkout (a release's
  # scratch folder in a build folder): only our own checkout's list counts.
  if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
    git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf -
  else
    tar --exclude=./.git --exclude=./build --exclude=./dist -cf - .
  fi
}

rm -rf -- "$out"
mkdir -p "$out"
for arch in amd64 arm64; do
  started=$SECONDS
  src=$out/$arch/tavrilen-focuser-$version
  mkdir -p "$src"
  sources | tar -C "$src" -xf -
  options=(-b -us -uc)
  [ "$arch" = amd64 ] || options+=(-a"$arch" -Pcross,nocheck)
  log=$out/$arch/build.log
  if ! (cd "$src" && DEB_BUILD_OPTIONS="nocheck noddebs parallel=$jobs" \
        timeout 1800 dpkg-buildpackage "${options[@]}") >"$log" 2>&1; then
    tail -30 "$log" >&2
    fail "the $arch package did not build (log: $log)"
  fi
  deb=tavrilen-focuser-alpaca_${version}_$arch.deb
  cp "$out/$arch/$deb" "$out/"
  say "$deb: $(stat -c %s "$out/$deb") bytes, built in $((SECONDS - started)) s"

  # lintian as root only warns that it is root; everything else it says fails.
  lintian --fail-on error,warning --no-tag-display-limit "$out/$arch/tavrilen-focuser_${version}_$arch.changes" \
    2> >(grep -v "running with root privileges" >&2) || fail "lintian found faults in the $arch package"
  say "lintian: $arch clean"
done

# The man pages against the programs' own --help, from the amd64 package.
root=$out/amd64/root
dpkg-deb -x "$out/tavrilen-focuser-alpaca_${version}_amd64.deb" "$root"
options_of() { grep -o -- '--[a-z][a-z-]*' | sort -u; }
for program in focuser-alpaca focuser-sim; do
  listed=$("$root/usr/bin/$program" --help | options_of)
  documented=$(zcat "$root/usr/share/man/man1/$program.1.gz" | sed 's/\\-/-/g; s/\\f[BIRP]//g' | options_of)
  if [ "$listed" != "$documented" ]; then
    diff <(echo "$listed") <(echo "$documented") >&2 || true
    fail "$program.1 and $program --help name different options (< --help, > the man page)"
  fi
done
say "man pages: every option of --help, and no other"

# The service's sandbox, scored from the unit as installed.
unit=$root/lib/systemd/system/focuser-alpaca.service
systemd-analyze security --offline=true --threshold=20 "$unit" ||
  fail "the service's exposure is above 2.0 (systemd-analyze security)"
