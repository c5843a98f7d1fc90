#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need from Debian's
# packages. Safe to run again: when everything is present it returns at once.
#   bootstrap.sh [guest]
# guest: also what builds and runs the emulated x86-64 machine in which the
# tests that run 32-bit code go on hosts that cannot run it (scripts/guest/).
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  libwine-dev wine wine32:i386 wine64
  googletest
  xvfb x11-apps imagemagick x11-utils
  nsis pandoc
  osslsigncode openssl git  # signing, and the release's clean checkout (scripts/release.sh)
  clang libclang-rt-14-dev  # libFuzzer and the sanitizers, for scripts/fuzz.sh
  libcpp-httplib-dev nlohmann-json3-dev curl  # the network device server, and its demo's client
  # The Linux programs and their tests for arm64, run under user-mode emulation
  # (scripts/test-arm64.sh); cpp-httplib's pkg-config file names the other three.
  crossbuild-essential-arm64 qemu-user-static
  libcpp-httplib-dev:arm64 libssl-dev:arm64 zlib1g-dev:arm64 libbrotli-dev:arm64
  # The Debian packages (scripts/package.sh): the arm64 one is cross-built, the
  # service's filter is checked against the server's calls under strace, and
  # the amd64 one is installed into a throwaway root (tests/packaging/).
  debhelper lintian pkg-config:arm64 strace debootstrap
)
case ${1:-} in
  "") ;;
  guest) packages+=(qemu-system-x86 debootstrap e2fsprogs) ;;
  *) echo "usage: $0 [guest]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
for arch in i386 arm64; do
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    $SUDO dpkg --add-architecture "$arch"
  fi
done
export DEBIAN_FRONTEND=noninteractive
. "$(dirname "$0")/lib/apt-update.sh"
apt_update $SUDO || exit 1
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
