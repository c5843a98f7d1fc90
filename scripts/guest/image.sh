#!/usr/bin/env bash
# Builds, once, the x86-64 guest that runs 32-bit Windows test programs on
# machines that cannot execute 32-bit code: Debian bookworm with Wine (both
# bitnesses), a virtual display and what the test scripts call, as a kernel,
# an initrd and a root disk image. Prints the folder holding the three.
#
# The image is cached outside the clone ($FOCUSER_GUEST_CACHE, default
# /var/cache/tavrilen-focuser-guest), in a folder named after a hash of this
# recipe and of scripts/lib/debian-root.sh, so that a change to either makes a
# new one. It is built under a temporary name and renamed when complete: a folder with the
# final name is always a whole image. Needs root (debootstrap, chroot).
#
# The guest's init only mounts the host's control folder and hands over to the
# init there (scripts/guest/init, copied by run.sh), so that what the guest
# does with a job can change without a new image.
set -euo pipefail
cache=${FOCUSER_GUEST_CACHE:-/var/cache/tavrilen-focuser-guest}
mirror=${FOCUSER_GUEST_MIRROR:-http://deb.debian.org/debian}
suite=bookworm

# What the tests run in the guest: ctest, Wine with 32-bit support, Xvfb, the
# mingw objdump of the DLL checks, and the loopback interface the null-modem
# bridge's control socket needs. Recommends stay out, as on the host.
packages=(
  linux-image-amd64 kmod iproute2 procps
  cmake
  wine wine32:i386 wine64
  xvfb
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
)

here=$(cd "$(dirname "$0")" && pwd)
. "$here/../lib/apt-update.sh"
. "$here/../lib/debian-root.sh"
root_name="guest image"
fail() { root_fail "$@"; }

[ "$(id -u)" -eq 0 ] || fail "building the guest needs root (debootstrap and chroot)"
key=$(root_key "$0" "$here/../lib/debian-root.sh")
image=$cache/bookworm-$key
root_reuse_or_lock "$cache" "$image/disk.img" "$image"
for p in debootstrap mkfs.ext4; do
  command -v "$p" >/dev/null || fail "$p is missing (scripts/bootstrap.sh guest installs it)"
done

root_begin "$cache"
work=$root_work
root=$work/root

root_bootstrap "$root" "$mirror" "$suite"
# A small initrd that can mount a virtio disk, made when the kernel installs.
mkdir -p "$root/etc/initramfs-tools/conf.d"
echo MODULES=list >"$root/etc/initramfs-tools/conf.d/guest"
printf '%s\n' virtio_pci virtio_blk ext4 >>"$root/etc/initramfs-tools/modules"

chroot "$root" "${root_env[@]}" dpkg --add-architecture i386
root_install "$root" "${packages[@]}"
cat >"$root/sbin/focuser-guest-init" <<'END'
#!/bin/sh
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mountpoint -q /proc || mount -n -t proc proc /proc
mountpoint -q /sys || mount -n -t sysfs sys /sys
mountpoint -q /dev || mount -n -t devtmpfs dev /dev
control=/run/focuser-control
mountpoint -q /run || mount -n -t tmpfs -o mode=755 tmpfs /run
mkdir -p $control
modprobe -a 9pnet_virtio 9p &&
  mount -n -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=mmap focuser-control $control &&
  exec /bin/bash $control/init $control
echo "guest: no control folder from the host" >/dev/console
echo 1 >/proc/sys/kernel/sysrq
echo o >/proc/sysrq-trigger
END
chmod 755 "$root/sbin/focuser-guest-init"

out=$work/image
mkdir "$out"
cp "$root"/boot/vmlinuz-* "$out/vmlinuz"
cp "$root"/boot/initrd.img-* "$out/initrd.img"
# The guest writes to a throwaway overlay, but its file system still needs room
# for what the tests leave outside the shared folders.
used=$(du -sm "$root" | cut -f1)
root_step 600 "disk image (${used} MB used)" \
  mkfs.ext4 -q -F -L focuser-guest -d "$root" "$out/disk.img" "$((used * 5 / 4 + 1024))M"
printf '%s\n' "${packages[@]}" >"$out/packages"
# A guest still running from an older image keeps its open files.
root_publish "$cache" "$out" "$image"
echo "$image"
