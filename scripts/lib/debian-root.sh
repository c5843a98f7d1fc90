# Building a cached Debian root with debootstrap, shared by the scripts that
# make one (the emulated guest, the package check's throwaway root).
#
# The caller sets root_name (what its messages start with) and root_log (the
# file that bounded steps write to), sources scripts/lib/apt-update.sh too, and
# keeps the results in a cache folder named after a hash of its recipe.

root_fail() {
  echo "$root_name: $*" >&2
  exit 1
}

# root_step SECONDS DESCRIPTION COMMAND...: a bounded step, its output in the
# log, whose last lines are shown when it fails.
root_step() {
  local limit=$1 what=$2 start=$SECONDS
  shift 2
  echo "$root_name: $what" >&2
  if ! timeout --kill-after=30 "$limit" "$@" >>"$root_log" 2>&1 </dev/null; then
    tail -20 "$root_log" >&2
    root_fail "$what failed or took longer than $limit s"
  fi
  echo "$root_name: $what took $((SECONDS - start)) s" >&2
}

# root_key FILE...: the cache key of a recipe made of these files.
root_key() {
  cat "$@" | sha256sum | cut -c1-16
}

# root_reuse_or_lock CACHE FILE RESULT: when FILE exists, prints RESULT and
# ends the script. Otherwise takes CACHE's lock, held on fd 9 until the script
# ends (one builder at a time), and looks again: whoever waited finds the
# finished result.
root_reuse_or_lock() {
  [ ! -e "$2" ] || { echo "$3"; exit 0; }
  mkdir -p "$1"
  exec 9>"$1/.lock"
  flock -w 3600 9 || root_fail "another build held $1/.lock for an hour"
  [ ! -e "$2" ] || { echo "$3"; exit 0; }
}

# root_begin CACHE: sets root_work to a new folder in CACHE to build in and
# root_log to the log in it, after taking away the half-built ones of runs
# that died. When the script ends, whatever is mounted in it is undone and
# the folder goes.
root_begin() {
  rm -rf -- "$1"/.build.*
  root_work=$(mktemp -d "$1/.build.XXXXXX")
  root_log=$root_work/build.log
  trap root_cleanup EXIT
  trap 'exit 130' INT TERM HUP
}
root_cleanup() {
  root_unmount "$root_work"
  rm -rf -- "$root_work"
}
# root_unmount DIR: undoes whatever is mounted below DIR.
root_unmount() {
  local m
  for m in $(awk -v d="$1/" 'index($2, d) == 1 { print $2 }' /proc/mounts | sort -r); do
    umount -l "$m"
  done
}

# root_publish CACHE FOLDER RESULT: the finished FOLDER becomes RESULT in one
# step, and older results in CACHE go (whatever still uses one keeps its open
# files).
root_publish() {
  local old
  mv "$2" "$3"
  for old in "$1"/bookworm-*; do
    [ "$old" = "$3" ] || rm -rf -- "$old"
  done
}

# chroot ROOT "${root_env[@]}" COMMAND...: runs COMMAND in ROOT with a clean
# environment.
root_env=(/usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin
          DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8)

# root_bootstrap ROOT MIRROR SUITE: a minimal Debian SUITE in ROOT from MIRROR,
# tried again like apt_update when the mirror fails, set to install no
# documentation, with no security archive in its sources and no service
# started by what is installed in it (usr/sbin/policy-rc.d, which root_install
# takes away at the end).
root_bootstrap() {
  local root=$1 mirror=$2 suite=$3 tries=${FOCUSER_APT_TRIES:-4} try
  for ((try = 1; ; try++)); do
    echo "$root_name: debootstrap of $suite" >&2
    if timeout --kill-after=30 2400 debootstrap --variant=minbase --arch=amd64 \
         "$suite" "$root" "$mirror" >>"$root_log" 2>&1 </dev/null; then
      break
    fi
    tail -20 "$root_log" >&2
    [ "$try" -lt "$tries" ] || root_fail "debootstrap of $suite failed $tries times"
    echo "$root_name: debootstrap failed (try $try of $tries); trying again in ${FOCUSER_APT_PAUSE:-60} s" >&2
    root_unmount "$root"
    rm -rf -- "$root"
    sleep "${FOCUSER_APT_PAUSE:-60}"
  done
  echo "$root_name: debootstrap of $suite done" >&2
  cat >"$root/etc/dpkg/dpkg.cfg.d/focuser-nodoc" <<'END'
path-exclude /usr/share/doc/*
path-exclude /usr/share/man/*
path-exclude /usr/share/info/*
path-exclude /usr/share/locale/*
path-include /usr/share/locale/locale.alias
END
  # No security archive: these roots never serve anything and live for a
  # run; leaving it out also spares them a second archive that can be caught
  # mid-sync.
  cat >"$root/etc/apt/sources.list" <<END
deb $mirror $suite main
deb $mirror $suite-updates main
END
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod +x "$root/usr/sbin/policy-rc.d"
}

# root_install ROOT PACKAGE...: installs the packages from the mirror, without
# Recommends, then drops the package lists, apt's cache and the policy-rc.d.
root_install() {
  local root=$1
  shift
  mount -t proc proc "$root/proc"
  echo "$root_name: package lists" >&2
  if ! apt_update timeout --kill-after=30 900 chroot "$root" "${root_env[@]}"; then
    umount "$root/proc"
    root_fail "the package lists could not be fetched"
  fi
  root_step 2400 "installing $*" chroot "$root" "${root_env[@]}" apt-get install -y --no-install-recommends "$@"
  chroot "$root" "${root_env[@]}" apt-get clean
  umount "$root/proc"
  rm -rf "$root"/var/lib/apt/lists/* "$root/usr/sbin/policy-rc.d"
}
