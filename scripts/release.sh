#!/usr/bin/env bash
# Makes a release of the commit checked out, into dist/VERSION/: the
# installer named with the version, both DLLs, their symbol files in one
# archive, the device server's Debian packages for amd64 and arm64,
# SHA256SUMS and the release notes from CHANGELOG.md.
#
#   scripts/release.sh [--skip-suite] [--dist DIR] [--worktree]
#
# It refuses a tree with changes not committed, and builds a clean checkout of
# the commit in a folder of its own: first the whole test suite
# (scripts/test.sh; --skip-suite or FOCUSER_RELEASE_SKIP_SUITE=1 leaves it
# out, as the suite's own check of this script does), then what is shipped.
# Every time in what it builds is the commit's (SOURCE_DATE_EPOCH, if set,
# wins), so a release made again from the same commit has the same bytes.
#
# Signing: with FOCUSER_SIGN_PKCS12 (a PKCS#12 file with the code-signing
# certificate and its key) and FOCUSER_SIGN_PASSWORD (its password) in the
# environment, both DLLs, the simulator, the trace switch, the profile tool
# the installer runs, the uninstaller and the installer are signed (SHA-256), with a time stamp from
# FOCUSER_SIGN_TIMESTAMP_URL (an RFC 3161 server) when it is set. Without them the release is unsigned, and
# says so.
#
# --dist puts the release in DIR/VERSION instead of dist/VERSION. --worktree
# builds the tree as it stands, changes and all, instead of the commit: for
# the suite's check of this script only, never for a release.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)

skip_suite=${FOCUSER_RELEASE_SKIP_SUITE:-0} dist=$here/dist worktree=no
while [ $# -gt 0 ]; do
  case $1 in
    --skip-suite) skip_suite=1; shift ;;
    --dist) dist=$2; shift 2 ;;
    --worktree) worktree=yes; shift ;;
    *) echo "usage: $0 [--skip-suite] [--dist DIR] [--worktree]" >&2; exit 2 ;;
  esac
done
say() { echo "release: $*"; }
fail() { echo "release: $*" >&2; exit 1; }

cd "$here"
"$here/scripts/bootstrap.sh"
commit=$(git rev-parse HEAD) || fail "not a git checkout: a release is made from a commit"
if [ "$worktree" = no ] && [ -n "$(git status --porcelain)" ]; then
  git status --short >&2
  fail "the tree has changes that are not committed: commit or stash them first"
fi
. "$here/scripts/lib/version.sh"
version=$(project_version "$here")
[ -n "$version" ] || fail "no version in CMakeLists.txt's project()"
# The notes: the section of CHANGELOG.md headed "## [VERSION]".
notes=$(awk -v v="$version" '
  /^## \[/ { inside = index($0, "## [" v "]") == 1; if (inside) print; next }
  inside' CHANGELOG.md)
[ -n "$(echo "$notes" | sed 1d | tr -d '[:space:]')" ] || fail "CHANGELOG.md has no notes for $version"
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

work=$(mktemp -d "${TMPDIR:-/tmp}/focuser-release.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
if [ "$worktree" = yes ]; then
  say "building $version from the working tree (not a release: --worktree)"
  mkdir "$work/src"
  git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -C "$work/src" -xf -
else
  say "building $version from commit $commit"
  git clone --quiet --no-local "$here" "$work/src"
  git -C "$work/src" checkout --quiet --detach "$commit"
fi

configure=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
signed=no
if [ -n "${FOCUSER_SIGN_PKCS12:-}" ]; then
  [ -r "$FOCUSER_SIGN_PKCS12" ] || fail "cannot read FOCUSER_SIGN_PKCS12 ($FOCUSER_SIGN_PKCS12)"
  [ -n "${FOCUSER_SIGN_PASSWORD+set}" ] || fail "FOCUSER_SIGN_PKCS12 needs FOCUSER_SIGN_PASSWORD"
  # The build reads the password from a file that only we can read, and that
  # goes with the build folder.
  (umask 077 && printf '%s' "$FOCUSER_SIGN_PASSWORD" >"$work/password")
  pkcs12=$(cd "$(dirname "$FOCUSER_SIGN_PKCS12")" && pwd)/$(basename "$FOCUSER_SIGN_PKCS12")
  configure+=(-DFOCUSER_SIGN_PKCS12="$pkcs12" -DFOCUSER_SIGN_PASSWORD_FILE="$work/password"
              -DFOCUSER_SIGN_TIMESTAMP_URL="${FOCUSER_SIGN_TIMESTAMP_URL:-}")
  signed=yes
  say "signing with $FOCUSER_SIGN_PKCS12${FOCUSER_SIGN_TIMESTAMP_URL:+, time stamps from $FOCUSER_SIGN_TIMESTAMP_URL}"
else
  say "UNSIGNED: no certificate given (FOCUSER_SIGN_PKCS12 and FOCUSER_SIGN_PASSWORD); Windows will call the publisher unknown"
fi

if [ "$skip_suite" = 1 ]; then
  say "the test suite is skipped"
else
  say "running the whole test suite (scripts/test.sh)"
  FOCUSER_BUILD_DIR=$work/suite "$work/src/scripts/test.sh" || fail "the test suite failed: no release"
fi

jobs=${FOCUSER_JOBS:-$(nproc)}
for arch in win32 win64; do
  case $arch in
    win32) toolchain=mingw-i686; targets=(focuser_dll focuser_sim focuser_trace focuser_profile) ;;
    win64) toolchain=mingw-x86_64; targets=(focuser_dll focuser_sim shipped_installer) ;;
  esac
  cmake -S "$work/src" -B "$work/build/$arch" -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/$toolchain.cmake" \
    -DFOCUSER_WIN32_TESTS=OFF "${configure[@]}" >"$work/$arch-configure.log" 2>&1 ||
    { tail -20 "$work/$arch-configure.log" >&2; fail "configuring the $arch build failed"; }
  timeout 3600 cmake --build "$work/build/$arch" -j "$jobs" --target "${targets[@]}" >"$work/$arch-build.log" 2>&1 ||
    { tail -30 "$work/$arch-build.log" >&2; fail "the $arch build failed"; }
done

# The Linux packages, with their own checks (lintian, man pages, sandbox).
(cd "$work/src" && FOCUSER_JOBS=$jobs timeout 3600 scripts/package.sh "$work/build") >"$work/packages.log" 2>&1 ||
  { tail -30 "$work/packages.log" >&2; fail "the Debian packages failed"; }
debs=("tavrilen-focuser-alpaca_${version}_amd64.deb" "tavrilen-focuser-alpaca_${version}_arm64.deb")

out=$dist/$version
rm -rf -- "$out"
mkdir -p "$out"
for deb in "${debs[@]}"; do cp "$work/build/packages/$deb" "$out/"; done
installer=TavrilenFocuserSetup-$version.exe
cp "$work/build/win64/installer/$installer" "$work/build/win32/TavrilenFocuser.dll" \
   "$work/build/win64/TavrilenFocuser64.dll" "$out/"
# The symbols, as the same bytes every time: names sorted, the commit's time,
# no owner.
symbols=TavrilenFocuser-$version-symbols.tar.xz
mkdir "$work/symbols"
cp "$work/build/win32/TavrilenFocuser.dll.debug" "$work/build/win64/TavrilenFocuser64.dll.debug" "$work/symbols/"
tar -C "$work/symbols" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    --format=gnu -cf - TavrilenFocuser.dll.debug TavrilenFocuser64.dll.debug | xz -9 -T1 >"$out/$symbols"
echo "$notes" >"$out/RELEASE-NOTES.md"
(cd "$out" && sha256sum -- "$installer" TavrilenFocuser.dll TavrilenFocuser64.dll "$symbols" "${debs[@]}" \
  RELEASE-NOTES.md >SHA256SUMS)

if [ "$signed" = yes ]; then
  "$here/scripts/sign.sh" --verify --pkcs12 "$FOCUSER_SIGN_PKCS12" --password-file "$work/password" \
    "$out/$installer" "$out/TavrilenFocuser.dll" "$out/TavrilenFocuser64.dll" >"$work/verify.log" ||
    { cat "$work/verify.log" >&2; fail "a signature does not verify"; }
  say "signatures verified"
fi
(cd "$out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match what was written"

say "$out ($([ "$signed" = yes ] && echo signed || echo UNSIGNED), $(( $(date +%s) - started )) s):"
(cd "$out" && for f in *; do printf '  %9d  %s\n' "$(stat -c %s "$f")" "$f"; done)
