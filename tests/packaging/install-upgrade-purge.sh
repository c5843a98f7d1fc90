#!/usr/bin/env bash
# Installs the server's Debian package in a throwaway Debian root, starts the
# server as its systemd unit would, asks it over HTTP for its description and
# position, upgrades it in place over an older build of itself, removes it
# and purges it, checking at each step what an administrator relies on.
#   install-upgrade-purge.sh DEB [WORKDIR]
# DEB is the amd64 .deb; WORKDIR (default $TMPDIR or /tmp) receives the run's
# folder, which goes when the run ends. Needs root (chroot, mounts, other
# users). The root comes from tests/packaging/root.sh, built once and cached;
# each run works on a copy of it and needs no network.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/unit.sh"
. "$here/../../scripts/lib/debian-root.sh"
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: $0 DEB [WORKDIR]" >&2; exit 2; }
deb=$(realpath -e "$1")
unit_name=focuser-alpaca.service
conffile=/etc/focuser-alpaca.conf
# Where the simulated controller appears, under the kind of stable name the
# docs tell users to configure.
serial_link=/dev/serial/by-id/usb-Tavrilen_Focuser_Controller-if00-port0
sim_position=1234

step_name=setup
fail() {
  echo "package check: step \"$step_name\" failed: $*" >&2
  exit 1
}
trap 'fail "line $LINENO: a command failed"' ERR
[ "$(id -u)" -eq 0 ] || fail "needs root (chroot, mounts and the service user)"
for p in chroot dpkg-deb curl timeout flock; do
  command -v "$p" >/dev/null || fail "$p is missing"
done

workdir=${2:-${TMPDIR:-/tmp}}
mkdir -p "$workdir"
work=$(mktemp -d "$workdir/focuser-pkgcheck.XXXXXX")
root=$work/root
server_pid= sim_pid= sim_stdin_pid=

# Every process whose root is the throwaway root.
root_processes() {
  find /proc -mindepth 2 -maxdepth 2 -name root -lname "$root" 2>/dev/null | cut -d/ -f3
}
# Its own messages go to fd 3: the shell's notes on the jobs it kills would
# only be noise.
cleanup() {
  local pid
  for pid in $server_pid $sim_pid $sim_stdin_pid $(root_processes); do
    kill -KILL "$pid" || true
  done
  wait || true
  root_unmount "$work"
  # Only once nothing is mounted inside may the folder go.
  if grep -q " $work/" /proc/mounts; then
    echo "package check: could not unmount everything in $work; left it there" >&3
  else
    rm -rf -- "$work"
  fi
}
exec 3>&2
trap 'cleanup 2>/dev/null' EXIT
trap 'echo "package check: interrupted in step \"$step_name\"" >&2; exit 130' INT TERM HUP

step_start=
step() {  # step NAME: ends the step before (printing its time) and starts NAME
  [ -z "$step_start" ] || step_done
  step_name=$1 step_start=$EPOCHREALTIME
}
step_done() {
  local ms=$(( (${EPOCHREALTIME/./} - ${step_start/./}) / 1000 ))
  printf 'package check: %-44s ok  %d.%03d s\n' "$step_name" $((ms / 1000)) $((ms % 1000))
  step_start=
}
run_start=$EPOCHREALTIME

in_root() {  # in_root SECONDS COMMAND...: bounded, with a clean environment
  local limit=$1
  shift
  timeout --kill-after=5 "$limit" chroot "$root" "${root_env[@]}" "$@"
}
# files_of ROOT: the root's files, without what dpkg, debconf and the logs keep
# for themselves and the mounted folders' contents.
files_of() {
  (cd "$1" && find . -xdev \( -path ./var/lib/dpkg -o -path ./var/log -o -path ./var/cache/debconf \
                              -o -path ./proc -o -path ./dev -o -path ./tmp/pkg \) -prune -o -print) |
    LC_ALL=C sort
}
# etc_sums ROOT: a checksum of every file in ROOT's /etc.
etc_sums() {
  (cd "$1" && find ./etc -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum)
}
# wait_for SECONDS FILE PATTERN PID: the first line of FILE matching PATTERN,
# waited for while PID lives.
wait_for() {
  local deadline=$((SECONDS + $1)) line
  while [ "$SECONDS" -le "$deadline" ]; do
    line=$(grep -m1 -E "$3" "$2" 2>/dev/null) && { echo "$line"; return 0; }
    kill -0 "$4" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

step "unit reader"
# What the server is started with below is only as right as the reading of
# its unit.
"$here/unit-test.sh" >/dev/null || fail "tests/packaging/unit-test.sh failed"

step "throwaway root"
# The cached root is built by a script of its own, so that its lock is held
# only while it builds, not by the processes of this run.
cached=$(timeout 3600 "$here/root.sh") || fail "no root (tests/packaging/root.sh failed)"
# An overlay spares copying the root and keeps the cached one untouched;
# where overlays cannot be mounted, a copy does.
mkdir -p "$root" "$work/upper" "$work/overlay"
mount -t overlay overlay -o "lowerdir=$cached,upperdir=$work/upper,workdir=$work/overlay" "$root" 2>/dev/null ||
  cp -a "$cached/." "$root"
mkdir -p "$root/tmp/pkg"
files_of "$root" >"$work/files.before"
etc_sums "$root" >"$work/etc.before"
[ -c "$root/dev/null" ] || fail "the root has no /dev/null (debootstrap could not make device nodes)"
in_root 10 sh -c ': >/dev/null' 2>/dev/null ||
  fail "/dev/null cannot be opened in the copy: is $workdir mounted nodev?"

step "older build of the package"
version=$(dpkg-deb -f "$deb" Version)
package=$(dpkg-deb -f "$deb" Package)
older_version="$version~older"
dpkg-deb -R "$deb" "$work/older"
sed -i "s/^Version: .*/Version: $older_version/" "$work/older/DEBIAN/control"
dpkg-deb -b "$work/older" "$root/tmp/pkg/older.deb" >/dev/null
cp "$deb" "$root/tmp/pkg/new.deb"
dpkg --compare-versions "$older_version" lt "$version" || fail "$older_version is not older than $version"

step "install $older_version"
in_root 120 dpkg -i /tmp/pkg/older.deb </dev/null >"$work/dpkg-install.log" 2>&1 ||
  { cat "$work/dpkg-install.log" >&2; fail "dpkg -i of $older_version failed"; }
installed_version() { in_root 20 dpkg-query -W -f='${Status} ${Version}' "$package"; }
[ "$(installed_version)" = "install ok installed $older_version" ] || fail "dpkg says: $(installed_version)"
unit_file=$(in_root 20 dpkg -L "$package" | grep -E "/systemd/system/$unit_name\$") ||
  fail "the package holds no $unit_name"
[ -f "$root$unit_file" ] || fail "$unit_file is listed but absent"
in_root 20 dpkg-query -W -f='${Conffiles}\n' "$package" | grep -q "^ $conffile " ||
  fail "$conffile is not a conffile of the package"
[ -f "$root$conffile" ] || fail "$conffile is missing"
enabled=$(find "$root/etc/systemd/system" -name "$unit_name" 2>/dev/null || true)
[ -z "$enabled" ] || fail "the package enabled the unit: ${enabled//$root/}"

step "service user and group"
user=$(unit_value "$root$unit_file" User) group=$(unit_value "$root$unit_file" Group)
[ -n "$user" ] || fail "the unit names no User= (it would run as root)"
[ -n "$group" ] || group=$user
passwd=$(in_root 20 getent passwd "$user") || fail "no user $user after installing"
IFS=: read -r _ _ uid _ _ home shell <<<"$passwd"
[ "$uid" -lt 1000 ] || fail "$user is not a system user (uid $uid)"
group_gid=$(in_root 20 getent group "$group" | cut -d: -f3) || fail "no group $group"
[ "$(in_root 20 id -gn "$user")" = "$group" ] || fail "$user's primary group is not $group"
in_root 20 id -nG "$user" | tr ' ' '\n' | grep -qx dialout || fail "$user is not in dialout"
[ ! -e "$root$home" ] || fail "the package made $user a home folder ($home)"
case $shell in */nologin | */false) ;; *) fail "$user can log in (shell $shell)" ;; esac
dialout_gid=$(in_root 20 getent group dialout | cut -d: -f3)
# The server is run below with no capabilities and no new privileges: the
# unit must say the same, or this run would prove less than it seems to.
[ "$(unit_value "$root$unit_file" NoNewPrivileges)" = yes ] || fail "the unit does not set NoNewPrivileges=yes"
for key in AmbientCapabilities CapabilityBoundingSet; do
  [ -z "$(unit_value "$root$unit_file" "$key")" ] || fail "the unit grants capabilities ($key)"
done

step "simulated controller"
mkdir -p "$root/dev/pts"
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
[ -c "$root/dev/ptmx" ] || ln -sf pts/ptmx "$root/dev/ptmx"
mkdir -p "$root${serial_link%/*}"
mkfifo "$work/sim.stdin"
sleep 3600 >"$work/sim.stdin" &
sim_stdin_pid=$!
chroot "$root" /usr/bin/focuser-sim --pty --quiet --position=$sim_position --link=$serial_link \
  <"$work/sim.stdin" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
device=$(wait_for 10 "$work/sim.out" '^/dev/' "$sim_pid") || { cat "$work/sim.err" >&2; fail "focuser-sim named no device"; }
[ "$device" = "$serial_link" ] && [ -L "$root$serial_link" ] || fail "focuser-sim made no $serial_link"
pty=$(readlink "$root$serial_link")
[[ $pty == /dev/pts/* ]] || fail "$serial_link leads to $pty, not a pseudo-terminal"
# Like a USB serial adapter's device: only root and the dialout group may open it.
chown "root:$dialout_gid" "$root$pty"
chmod 0660 "$root$pty"
if in_root 10 setpriv --reuid=nobody --regid=nogroup --clear-groups -- sh -c ": <>$pty" 2>/dev/null; then
  fail "$pty is open to users outside dialout"
fi

step "edit $conffile"
sed -i -e "s|^FOCUSER_SERIAL=.*|FOCUSER_SERIAL=$serial_link|" \
       -e "s|^FOCUSER_LISTEN=.*|FOCUSER_LISTEN=127.0.0.1:0|" \
       -e "s|^FOCUSER_DISCOVERY=.*|FOCUSER_DISCOVERY=off|" "$root$conffile"
for v in FOCUSER_SERIAL FOCUSER_LISTEN FOCUSER_DISCOVERY; do
  grep -q "^$v=" "$root$conffile" || fail "$conffile sets no $v"
done
cp -p "$root$conffile" "$work/conffile.edited"

# start_server: runs ExecStart as systemd would for this unit, from what the
# installed unit file says, and sets server_pid and base_url.
start_server() {
  local exec_start state_dirs state_mode umask f line d
  local -a env=()
  local -A unit_env=()
  exec_start=$(unit_value "$root$unit_file" ExecStart)
  state_dirs=$(unit_value "$root$unit_file" StateDirectory)
  state_mode=$(unit_value "$root$unit_file" StateDirectoryMode)
  umask=$(unit_value "$root$unit_file" UMask)
  [ -n "$exec_start" ] || fail "the unit has no ExecStart="
  while IFS= read -r f; do
    if [ ! -f "$root${f#-}" ]; then
      [ "${f:0:1}" = - ] || fail "EnvironmentFile $f is missing"
      continue
    fi
    env_file_read "$root${f#-}" >"$work/env" || fail "cannot read EnvironmentFile $f"
    while IFS= read -r line; do
      unit_env[${line%%=*}]=${line#*=}
      env+=("$line")
    done <"$work/env"
  done < <(unit_values "$root$unit_file" EnvironmentFile)
  # StateDirectory: made under /var/lib, owned by the service's user and
  # group, with the unit's mode (0755 when it names none).
  for d in $state_dirs; do
    install -d -o "$uid" -g "$group_gid" -m "${state_mode:-0755}" "$root/var/lib/$d"
    env+=("STATE_DIRECTORY=/var/lib/$d")
  done
  exec_args "$unit_name" "$exec_start" || fail "cannot start the unit's ExecStart as systemd would"
  local -a argv=("${exec_args[@]}")
  echo "${argv[*]}" >"$work/exec-start"
  (umask "${umask:-0022}"
   exec chroot "$root" /usr/bin/setpriv --reuid="$user" --regid="$group" --init-groups \
     --no-new-privs --inh-caps=-all --bounding-set=-all -- \
     /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
     HOME="$home" USER="$user" LOGNAME="$user" SHELL="$shell" "${env[@]}" "${argv[@]}" \
     </dev/null >"$work/server.out" 2>"$work/server.err") &
  server_pid=$!
  line=$(wait_for 15 "$work/server.out" '^listening on http://' "$server_pid") ||
    { cat "$work/server.err" >&2; fail "the server did not say it was listening (ran: ${argv[*]})"; }
  base_url=${line#listening on }
  base_url=${base_url%%[[:space:]]*}
  # What the kernel says about the running server, not what we asked for.
  local status
  status=$(cat "/proc/$server_pid/status")
  grep -qE "^Uid:[[:space:]]+$uid[[:space:]]" <<<"$status" || fail "the server does not run as $user"
  grep -qE "^Gid:[[:space:]]+$group_gid[[:space:]]" <<<"$status" || fail "the server does not run as group $group"
  grep -qE "^Groups:.*\b$dialout_gid\b" <<<"$status" || fail "the server is not in dialout"
  grep -qE '^NoNewPrivs:[[:space:]]+1' <<<"$status" || fail "the server may gain privileges"
  for c in CapInh CapPrm CapEff CapBnd CapAmb; do
    grep -qE "^$c:[[:space:]]+0+\$" <<<"$status" || fail "the server holds capabilities ($c)"
  done
}
stop_server() {
  kill -TERM "$server_pid"
  local deadline=$((SECONDS + 10)) status=0
  while kill -0 "$server_pid" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the server did not stop within 10 s of SIGTERM"
    sleep 0.1
  done
  wait "$server_pid" || status=$?
  server_pid=
  [ "$status" -eq 0 ] || { cat "$work/server.err" >&2; fail "the server exited with status $status on SIGTERM"; }
}
api() {  # api METHOD PATH [FORM]: the reply's body; fails on an HTTP error
  local method=$1 path=$2
  shift 2
  curl -sS --fail --max-time 10 -X "$method" ${1:+--data "$1"} "$base_url$path" ||
    fail "$method $path failed"
}
json_value() {  # json_value NAME: a scalar member of the JSON on stdin
  grep -oE "\"$1\":(\"[^\"]*\"|[^,}]*)" | head -n1 | cut -d: -f2- | tr -d '"'
}
query_server() {
  local reply q='ClientID=1&ClientTransactionID=1'
  reply=$(api GET "/api/v1/focuser/0/description?$q")
  [ "$(json_value ErrorNumber <<<"$reply")" = 0 ] && [ -n "$(json_value Value <<<"$reply")" ] ||
    fail "no description: $reply"
  reply=$(api PUT /api/v1/focuser/0/connected "Connected=true&$q")
  [ "$(json_value ErrorNumber <<<"$reply")" = 0 ] || fail "could not connect: $reply"
  reply=$(api GET "/api/v1/focuser/0/position?$q")
  [ "$(json_value Value <<<"$reply")" = "$sim_position" ] ||
    fail "position should be the simulator's $sim_position: $reply"
}
settings=/var/lib/focuser-alpaca/settings.conf

step "start as the unit would"
start_server
echo "package check: ran as $user: $(cat "$work/exec-start")"

step "description and position over HTTP"
query_server
[ -f "$root$settings" ] || fail "no $settings after a session"
[ "$(stat -c %u "$root$settings")" = "$uid" ] || fail "$settings is not $user's"
unique_id=$(sed -n 's/^UniqueID=//p' "$root$settings")
[ -n "$unique_id" ] || fail "$settings holds no UniqueID"
stop_server
cp -p "$root$settings" "$work/settings.before"

step "upgrade to $version"
in_root 120 dpkg -i /tmp/pkg/new.deb </dev/null >"$work/dpkg-upgrade.log" 2>&1 ||
  { cat "$work/dpkg-upgrade.log" >&2; fail "dpkg -i of $version over $older_version failed"; }
[ "$(installed_version)" = "install ok installed $version" ] || fail "dpkg says: $(installed_version)"
cmp -s "$work/conffile.edited" "$root$conffile" || fail "the upgrade changed the edited $conffile"
cmp -s "$work/settings.before" "$root$settings" || fail "the upgrade changed $settings"
[ "$(stat -c %u "$root$settings")" = "$uid" ] || fail "$settings is no longer $user's"
[ -z "$(find "$root/etc/systemd/system" -name "$unit_name" 2>/dev/null)" ] ||
  fail "the upgrade enabled the unit"

step "same UniqueID after the upgrade"
start_server
query_server
api GET /management/v1/configureddevices | grep -q "\"UniqueID\":\"$unique_id\"" ||
  fail "the server no longer serves UniqueID $unique_id"
stop_server

step "remove, keeping the options and settings"
in_root 20 dpkg -L "$package" >"$work/package.files"
kill "$sim_stdin_pid"
wait "$sim_stdin_pid" 2>/dev/null || true
sim_stdin_pid=
deadline=$((SECONDS + 10))
while kill -0 "$sim_pid" 2>/dev/null; do
  [ "$SECONDS" -lt "$deadline" ] || fail "focuser-sim did not stop within 10 s of its input closing"
  sleep 0.1
done
sim_pid=
umount "$root/dev/pts"
rm -rf "$root/dev/serial" "$root/tmp/pkg"
if [ -L "$root/dev/ptmx" ]; then rm "$root/dev/ptmx"; fi
in_root 120 dpkg --remove "$package" </dev/null >"$work/dpkg-remove.log" 2>&1 ||
  { cat "$work/dpkg-remove.log" >&2; fail "dpkg --remove failed"; }
[ "$(in_root 20 dpkg-query -W -f='${Status}' "$package")" = "deinstall ok config-files" ] ||
  fail "dpkg says: $(in_root 20 dpkg-query -W -f='${Status}' "$package")"
[ ! -e "$root/usr/bin/focuser-alpaca" ] || fail "the program remains after remove"
cmp -s "$work/conffile.edited" "$root$conffile" || fail "remove changed or took $conffile"
cmp -s "$work/settings.before" "$root$settings" || fail "remove changed or took $settings"

step "purge"
in_root 120 dpkg --purge "$package" </dev/null >"$work/dpkg-purge.log" 2>&1 ||
  { cat "$work/dpkg-purge.log" >&2; fail "dpkg --purge failed"; }
[ -z "$(in_root 20 dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -v not-installed)" ] ||
  fail "dpkg still knows $package after the purge"
left=()
while IFS= read -r f; do
  [ -e "$root$f" ] && [ ! -d "$root$f" ] && left+=("$f")
done <"$work/package.files"
[ ${#left[@]} -eq 0 ] || fail "files of the package remain: ${left[*]}"
[ ! -e "$root$conffile" ] || fail "$conffile remains"
[ ! -e "$root/var/lib/focuser-alpaca" ] || fail "/var/lib/focuser-alpaca remains"
[ -z "$(root_processes)" ] || fail "processes remain in the root: $(root_processes)"

step "nothing left behind"
files_of "$root" >"$work/files.after"
etc_sums "$root" >"$work/etc.after"
# What adduser leaves by design: the user and group stay after a purge (files
# owned by them may outlive the package), in the account files and their
# backups, and adduser's lock file in /run, which is emptied at every boot.
expected='^\./(etc/(passwd|group|shadow|gshadow)-?|run/adduser)$'
added=$(comm -13 "$work/files.before" "$work/files.after")
removed=$(comm -23 "$work/files.before" "$work/files.after")
changed=$(diff "$work/etc.before" "$work/etc.after" | sed -n 's/^< [0-9a-f]*  //p' | sort -u || true)
unexpected=$(printf '%s\n' "$added" "$changed" | grep -vE "$expected" | grep . || true)
paths() { sed 's|^\.||' <<<"$1" | paste -sd' '; }
[ -z "$unexpected" ] || fail "the purge left these behind: $(paths "$unexpected")"
[ -z "$removed" ] || fail "install and purge took away: $(paths "$removed")"
echo "package check: left after the purge, by design: user $user and group $group;" \
  "new: $(paths "$added"); changed: $(paths "$changed")"
step_done
total=$(( (${EPOCHREALTIME/./} - ${run_start/./}) / 1000 ))
printf 'package check: %s %s: install, upgrade from %s and purge passed in %d.%03d s\n' \
  "$package" "$version" "$older_version" $((total / 1000)) $((total % 1000))
