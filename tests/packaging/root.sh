#!/usr/bin/env bash
# Builds, once, the Debian bookworm amd64 root that the package check installs
# the server's package into: a minimal system with the package's runtime
# dependencies already there, so that the check itself needs no network.
# Prints the folder holding it (ROOT/root); each run works on an overlay of
# it (or a copy), never on it.
#
# Cached outside the clone ($FOCUSER_PKGROOT_CACHE, default
# /var/cache/tavrilen-focuser-pkgroot) in a folder named after a hash of this
# recipe and of scripts/lib/debian-root.sh, built under a temporary name and
# renamed when whole. The mirror is the guest's ($FOCUSER_GUEST_MIRROR).
# Needs root.
set -euo pipefail
cache=${FOCUSER_PKGROOT_CACHE:-/var/cache/tavrilen-focuser-pkgroot}
mirror=${FOCUSER_GUEST_MIRROR:-http://deb.debian.org/debian}
suite=bookworm

# The package's Depends (adduser runs in its postinst) and what the
# maintainer scripts call when present (deb-systemd-helper).
packages=(
  libc6 libstdc++6 libgcc-s1 libcpp-httplib0.11 adduser
  init-system-helpers
)

here=$(cd "$(dirname "$0")" && pwd)
lib=$here/../../scripts/lib
. "$lib/apt-update.sh"
. "$lib/debian-root.sh"
root_name="package root"

[ "$(id -u)" -eq 0 ] || root_fail "building the package root needs root (debootstrap and chroot)"
result=$cache/bookworm-$(root_key "$0" "$lib/debian-root.sh")
root_reuse_or_lock "$cache" "$result/root" "$result/root"
command -v debootstrap >/dev/null || root_fail "debootstrap is missing (scripts/bootstrap.sh installs it)"

root_begin "$cache"
root=$root_work/result/root

start=$SECONDS
mkdir -p "$root_work/result"
root_bootstrap "$root" "$mirror" "$suite"
root_install "$root" "${packages[@]}"
# The package's own documentation is part of what the check installs and
# purges; what came before it stays without.
rm "$root/etc/dpkg/dpkg.cfg.d/focuser-nodoc"
printf '%s\n' "${packages[@]}" >"$root_work/result/packages"
root_publish "$cache" "$root_work/result" "$result"
echo "$root_name: built in $((SECONDS - start)) s" >&2
echo "$result/root"
