#!/usr/bin/env bash
# Runs one command in the x86-64 test guest (scripts/guest/image.sh builds it)
# and returns its exit status; its output comes out on ours as it runs.
#
#   run.sh [--mount DIR]... [--env NAME=VALUE]... [--cwd DIR] -- COMMAND [ARG...]
#
# Each --mount DIR is a host folder the guest sees at the same absolute path,
# read and written in place: ctest files name everything by absolute path, and
# what the command writes there (test logs, Testing/) stays on the host. The
# command runs as root with a fresh /tmp, in --cwd (default: the current
# folder; / where the guest has no such folder).
#
# Environment: FOCUSER_GUEST_ACCEL auto|kvm|tcg (auto: KVM where /dev/kvm can be
# opened), FOCUSER_GUEST_TIMEOUT (seconds, default 2700: a guest still running
# then is killed and the run fails), FOCUSER_GUEST_MEMORY (default 4G),
# FOCUSER_GUEST_CPUS (default: this machine's core count).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

usage() {
  echo "usage: $0 [--mount DIR]... [--env NAME=VALUE]... [--cwd DIR] -- COMMAND [ARG...]" >&2
  exit 2
}
fail() {
  echo "guest: $*" >&2
  exit 1
}

mounts=() envs=() cwd=$(pwd -P)
while [ $# -gt 0 ]; do
  case $1 in
    --mount) [ $# -ge 2 ] || usage; mounts+=("$2"); shift 2 ;;
    --env) [ $# -ge 2 ] && [[ $2 == [A-Za-z_]*=* ]] || usage; envs+=("$2"); shift 2 ;;
    --cwd) [ $# -ge 2 ] || usage; cwd=$2; shift 2 ;;
    --) shift; break ;;
    *) usage ;;
  esac
done
[ $# -ge 1 ] || usage

accel=${FOCUSER_GUEST_ACCEL:-auto}
limit=${FOCUSER_GUEST_TIMEOUT:-2700}
memory=${FOCUSER_GUEST_MEMORY:-4G}
cpus=${FOCUSER_GUEST_CPUS:-$(nproc)}
case $accel in
  auto) if [ -r /dev/kvm ] && [ -w /dev/kvm ]; then accel=kvm; else accel=tcg; fi ;;
  kvm|tcg) ;;
  *) fail "FOCUSER_GUEST_ACCEL must be auto, kvm or tcg, not $accel" ;;
esac
[[ $limit =~ ^[1-9][0-9]*$ ]] || fail "FOCUSER_GUEST_TIMEOUT must be a number of seconds, not $limit"
command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 is missing (scripts/bootstrap.sh guest installs it)"

image=$("$here/image.sh") || fail "no guest image"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/focuser-guest.XXXXXX")
share=$tmp/share
mkdir "$share"
qemu=
finish() {
  [ -n "$qemu" ] && kill -TERM "$qemu" 2>/dev/null
  rm -rf -- "$tmp"
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

# The folders, as the guest mounts them: one virtio-9p device each, with a tag
# of its own. A folder inside another one is already there.
# QEMU's option syntax doubles commas in a value.
qemu_value() { printf '%s' "${1//,/,,}"; }
shares=(-fsdev "local,id=control,security_model=passthrough,path=$(qemu_value "$share")"
        -device virtio-9p-pci,fsdev=control,mount_tag=focuser-control)
paths=()
for dir in "${mounts[@]}"; do
  path=$(cd "$dir" 2>/dev/null && pwd -P) || fail "no folder $dir"
  [[ $path != *[$'\t\n']* ]] || fail "a folder with a tab or a line break in its name cannot be mounted: $path"
  paths+=("$path")
done
: >"$share/mounts"
n=0
[ ${#paths[@]} -eq 0 ] || mapfile -t paths < <(printf '%s\n' "${paths[@]}" | sort -u)
for path in "${paths[@]}"; do
  for outer in "${paths[@]}"; do
    [[ $path == "$outer"/* ]] && continue 2
  done
  shares+=(-fsdev "local,id=m$n,security_model=passthrough,path=$(qemu_value "$path")"
           -device "virtio-9p-pci,fsdev=m$n,mount_tag=m$n")
  printf 'm%s\t%s\n' "$n" "$path" >>"$share/mounts"
  n=$((n + 1))
done

{
  echo 'export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin'
  echo 'export HOME=/root LANG=C.UTF-8 TERM=dumb TMPDIR=/tmp'
  for e in "${envs[@]}"; do
    printf 'export %s=%q\n' "${e%%=*}" "${e#*=}"
  done
  printf 'cd %q 2>/dev/null || cd /\n' "$cwd"
  printf '%q ' "$@"
  echo
} >"$share/job.sh"

cp "$here/init" "$share/init"

# QEMU in the background under the overall limit; its pid in $qemu.
launch() {  # accel
  local accel_args
  case $1 in
    kvm) accel_args=(-accel kvm) ;;
    # Multi-threaded TCG uses every core.
    tcg) accel_args=(-accel tcg,thread=multi) ;;
  esac
  rm -f "$share/booted" "$share/status"
  : >"$tmp/output"
  echo "guest: $image, $1, $cpus CPUs, $memory, time limit $limit s" >&2
  # SMAP stays off: with it, every 32-bit process in a TCG guest dies at its
  # first return to user mode.
  timeout --kill-after=30 "$limit" qemu-system-x86_64 \
    -nodefaults -no-user-config -display none -monitor none -no-reboot -nic none \
    "${accel_args[@]}" -cpu max,-smap -smp "$cpus" -m "$memory" \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=/dev/vda rw init=/sbin/focuser-guest-init console=ttyS0 panic=-1 fsck.mode=skip quiet" \
    -drive "file=$(qemu_value "$image/disk.img"),format=raw,if=virtio,snapshot=on" \
    -serial "file:$tmp/console.log" \
    -device virtio-serial-pci \
    -chardev "file,id=job,append=on,path=$(qemu_value "$tmp/output")" \
    -device virtserialport,chardev=job,name=focuser-job \
    "${shares[@]}" </dev/null >"$tmp/qemu.log" 2>&1 &
  qemu=$!
}

# Has the guest reached its init within SECONDS? If not, it is stopped.
booted() {  # seconds
  local deadline=$((SECONDS + $1))
  while [ $SECONDS -lt $deadline ]; do
    [ -f "$share/booted" ] && return 0
    kill -0 "$qemu" 2>/dev/null || return 1
    sleep 0.5
  done
  kill -TERM "$qemu" 2>/dev/null
  return 1
}

start=$SECONDS
launch "$accel"
# A /dev/kvm that opens is no promise: under some hypervisors a KVM guest
# never gets past its boot loader. A kernel under KVM reaches its init in
# seconds, so one that has not after a minute gives way to the emulator.
if [ "$accel" = kvm ] && [ "${FOCUSER_GUEST_ACCEL:-auto}" = auto ] && ! booted 60; then
  echo "guest: KVM did not boot the guest within 60 s; emulating instead" >&2
  wait "$qemu" || true
  launch tcg
fi
# Under the emulator, on a busy machine, the boot takes well under a minute.
booted 300 || echo "guest: the guest did not reach its init within 300 s" >&2
tail -c +1 -s 0.2 --pid="$qemu" -f "$tmp/output" &
copier=$!
set +e
wait "$qemu"
qemu_status=$?
set -e
qemu=
wait "$copier" || true
elapsed=$((SECONDS - start))

if [ -f "$share/status" ]; then
  status=$(tr -dc 0-9 <"$share/status")
  echo "guest: the command exited with status ${status:-?} after $elapsed s" >&2
  exit "${status:-1}"
fi
if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
  echo "guest: no result within $limit s: the guest was killed" >&2
else
  echo "guest: the guest stopped after $elapsed s without a result (QEMU status $qemu_status)" >&2
fi
tail -5 "$tmp/qemu.log" >&2
echo "guest: the end of its console:" >&2
tail -20 "$tmp/console.log" >&2
exit 1
