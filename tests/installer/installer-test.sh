#!/usr/bin/env bash
# Installs, uses and removes the driver with its Windows installer, silently,
# in a fresh Wine prefix of its own (BUILD/installer-prefix), so that nothing
# it registers can meet the other tests' registrations.
#
#   installer-test.sh --build DIR --installer EXE --view 32|64 --version X.Y.Z
#                     --dll32 FILE --dll64 FILE --previous EXE --previous-version X.Y.Z
#                     --previous-dll32 FILE --previous-dll64 FILE
#                     --script VBS --holder EXE --inspector EXE [--sim FILE] [--guide HTML]
#                     [--dll32-registered] [--machine 32|64] [--signed]
#
# --version is the installer's version, with DLL32 and DLL64 its DLLs;
# --previous is the same installer of an older version, with its DLLs.
# --signed says both carry a signed uninstaller, kept beside each as
# EXE.uninstaller.exe, which must be the one installed.
# --view is the registry view the installer keeps its own entry in: 32 for the
# shipped 32-bit installer, 64 for its 64-bit build. --dll32-registered says the
# installer registers the 32-bit DLL too (only where 32-bit programs can run).
# --machine 32 makes the prefix a 32-bit Windows (default 64): there only the
# 32-bit DLL is installed, and the registry has a single view. --holder is a
# program of the machine's kind that keeps the driver loaded (HoldDriver.cpp),
# --inspector one that reads a key's rights and the Start-menu entries
# (InspectInstall.cpp).
#
# The session: an install refused on a machine without the ASCOM Platform; a
# first install, of the older version, once the platform is there; the driver
# created by ProgID from a script; a setting changed; the trace switched on and
# off from the Start menu; an install refused while a program holds the driver;
# an upgrade to this version over the older one, which also undoes what an
# earlier version's full control let a user make of the profile key; the
# older one refused over it; an uninstall that keeps the four settings (not
# the trace switch), which the next install brings back; an uninstall that
# removes everything but a registry link that a user planted below the
# profile key, and what it points at. Exit codes as
# installer/TavrilenFocuser.nsi documents them.
set -u

usage() {
  echo "usage: $0 --build DIR --installer EXE --view 32|64 --version X.Y.Z --dll32 FILE --dll64 FILE --previous EXE --previous-version X.Y.Z --previous-dll32 FILE --previous-dll64 FILE --script VBS --holder EXE --inspector EXE [--sim FILE] [--guide HTML] [--dll32-registered] [--machine 32|64] [--signed]" >&2
  exit 2
}

build= installer= view= dll32= dll64= script= holder= inspector= sim= guide= dll32_registered=no machine=64
version= previous= previous_version= previous_dll32= previous_dll64= signed=no
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --installer) installer=$2; shift 2 ;;
    --view) view=$2; shift 2 ;;
    --dll32) dll32=$2; shift 2 ;;
    --dll64) dll64=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --previous) previous=$2; shift 2 ;;
    --previous-version) previous_version=$2; shift 2 ;;
    --previous-dll32) previous_dll32=$2; shift 2 ;;
    --previous-dll64) previous_dll64=$2; shift 2 ;;
    --signed) signed=yes; shift ;;
    --script) script=$2; shift 2 ;;
    --holder) holder=$2; shift 2 ;;
    --inspector) inspector=$2; shift 2 ;;
    --sim) sim=$2; shift 2 ;;
    --guide) guide=$2; shift 2 ;;
    --dll32-registered) dll32_registered=yes; shift ;;
    --machine) machine=$2; shift 2 ;;
    *) usage ;;
  esac
done
[ -n "$build" ] && [ -n "$installer" ] && [ -n "$dll32" ] && [ -n "$dll64" ] && [ -n "$script" ] &&
  [ -n "$holder" ] && [ -n "$inspector" ] && [ -n "$version" ] && [ -n "$previous" ] &&
  [ -n "$previous_version" ] && [ -n "$previous_dll32" ] && [ -n "$previous_dll64" ] || usage
case $view in 32|64) ;; *) usage ;; esac
case $machine in 32|64) ;; *) usage ;; esac
uninstallers=()
[ "$signed" = yes ] && uninstallers=("$installer.uninstaller.exe" "$previous.uninstaller.exe")
for f in "$installer" "$dll32" "$dll64" "$previous" "$previous_dll32" "$previous_dll64" "$script" "$holder" \
         "$inspector" ${sim:+"$sim"} ${guide:+"$guide"} "${uninstallers[@]}"; do
  [ -f "$f" ] || { echo "installer-test: no file $f" >&2; exit 1; }
done

build=$(cd "$build" && pwd)
prefix=$build/installer-prefix
# Each run of the test (installer and machine) keeps its own logs, so a
# failure's logs survive the next run.
logs=$build/installer-test-logs-$(basename "$installer" .exe)-win$machine
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$machine" = 64 ]; then
  export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  program_files='C:\Program Files (x86)'
else
  export WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
  program_files='C:\Program Files'
  # One registry, and a 32-bit installer that registers the 32-bit DLL itself.
  view=32 dll32_registered=yes
fi
wine=$WINELOADER

clsid='{3c9e52a1-7d4b-4f08-9b61-5e2a0d47c8f3}'
libid='{A71D2C94-6B3E-4E05-92F7-1D84B3C65E20}'
profile='HKLM\Software\ASCOM\Focuser Drivers\Tavrilen.Focuser'
# The rights every install and upgrade leaves on the profile key, as the
# inspector prints them: owner Administrators, a DACL protected from
# inheritance with full control for SYSTEM and Administrators, and for Users
# exactly what the driver asks for (KEY_READ | KEY_CREATE_SUB_KEY |
# KEY_SET_VALUE), none of it inherited by subkeys.
profile_rights='owner S-1-5-32-544 protected;allow S-1-5-18 0xf003f 0x0;allow S-1-5-32-544 0xf003f 0x0;allow S-1-5-32-545 0x2001f 0x0;'
# Another driver's profile key, made as the platform makes them.
sibling_profile='Software\ASCOM\Focuser Drivers\Other.Focuser'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TavrilenFocuser'
kept_settings='HKLM\Software\Tavrilen\Focuser settings'
chooser='HKLM\Software\Classes\ASCOM.Utilities.Chooser\CLSID'
start_menu=$prefix/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Tavrilen\ Astrograph\ Focuser
install_dir_win="$program_files\\Tavrilen Astrograph Focuser"
install_dir=$prefix/drive_c/${program_files#C:\\}/Tavrilen\ Astrograph\ Focuser

# Under an emulator every Wine program takes several times longer; ctest
# passes the factor its time-outs were scaled by.
scale=${FOCUSER_TIMEOUT_SCALE:-1}
failures=0
server_started=no

stop_server() {
  timeout 30 "$WINESERVER" -k >/dev/null 2>&1 || true
  timeout 30 "$WINESERVER" -w >/dev/null 2>&1 || true
}

finish() {
  if [ "$server_started" = yes ]; then
    stop_server
  fi
  if [ "$failures" -eq 0 ]; then
    rm -rf -- "${build:?}/installer-prefix" "$logs"
  else
    echo "installer-test: the prefix and the logs are kept for a look: $prefix, $logs"
  fi
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

fatal() {
  echo "FATAL: $*"
  failures=$((failures + 1))
  exit 1
}

pass() { echo "ok    $*"; }
fail() {
  echo "FAIL  $*"
  failures=$((failures + 1))
}

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
  if [ "$2" = "$3" ]; then pass "$1: $3"; else fail "$1: expected [$2], got [$3]"; fi
}

# Every Wine program writes to a file of its own: services that Wine starts
# inherit a program's output and live on, and must not hold ctest's pipe.
# The logs are numbered in the order of the runs (run is also called in
# subshells, so the count lives in a file).
out=
run() {  # seconds program [args...]
  local seconds=$1 count
  shift
  count=$(( $(cat "$logs/count" 2>/dev/null || echo 0) + 1 ))
  echo "$count" >"$logs/count"
  out=$logs/$(printf '%03d' "$count")-$(basename "${1//\\//}" | tr -c 'A-Za-z0-9.\n-' '_').log
  timeout -k 5 $((seconds * scale)) "$wine" "$@" >"$out" 2>&1 </dev/null
}

# The registry view VIEW as reg.exe is told it; a 32-bit Windows has one view.
view_flag() { [ "$machine" = 64 ] && echo "/reg:$1" || echo "/reg:32"; }

# reg_value VIEW KEY [NAME]: prints the data of a value (the default value
# without NAME); fails when the key or the value is missing.
reg_value() {
  local name_args=(/ve)
  [ $# -ge 3 ] && name_args=(/v "$3")
  run 60 reg query "$2" "${name_args[@]}" "$(view_flag "$1")" || return 1
  tr -d '\r' <"$out" | grep -m1 '    REG_' | sed 's/^.*    REG_[A-Z_]*    //'
}

key_exists() {  # VIEW KEY
  run 60 reg query "$2" "$(view_flag "$1")"
}

expect_value() {  # WHAT VIEW KEY NAME EXPECTED ('' NAME for the default value)
  local value status
  if [ -n "$4" ]; then value=$(reg_value "$2" "$3" "$4"); else value=$(reg_value "$2" "$3"); fi
  status=$?
  if [ $status -ne 0 ]; then
    fail "$1: no value ($3 ${4:-(default)}, view $2)"
  else
    expect_eq "$1" "$5" "$value"
  fi
}

# Registry paths compare without regard to case, and so do file paths on Windows.
expect_path_value() {  # WHAT VIEW KEY NAME EXPECTED ('' NAME for the default value)
  local value status
  if [ -n "$4" ]; then value=$(reg_value "$2" "$3" "$4"); else value=$(reg_value "$2" "$3"); fi
  status=$?
  if [ $status -ne 0 ]; then
    fail "$1: no value ($3 ${4:-(default)}, view $2)"
  elif [ "${value,,}" = "${5,,}" ]; then
    pass "$1: $value"
  else
    fail "$1: expected [$5], got [$value]"
  fi
}

expect_key() {  # WHAT VIEW KEY
  if key_exists "$2" "$3"; then pass "$1"; else fail "$1: no key $3 (view $2)"; fi
}

expect_no_key() {  # WHAT VIEW KEY
  if key_exists "$2" "$3"; then fail "$1: $3 is still there (view $2)"; else pass "$1"; fi
}

expect_same_file() {  # INSTALLED ORIGINAL
  if [ ! -f "$install_dir/$1" ]; then
    fail "installed file $1 is missing"
  elif cmp -s "$install_dir/$1" "$2"; then
    pass "installed $1"
  else
    fail "installed $1 differs from $2"
  fi
}

# The script's Name=value lines, in order, one to a line; the 64-bit script
# host unless another is named.
script_lines() {  # [cscript]
  run 90 "${1:-C:\\windows\\system32\\cscript.exe}" //NoLogo "Z:${script//\//\\}"
  local status=$?
  tr -d '\r' <"$out" | grep '='
  return $status
}

install() {  # what [expected exit code [installer]]
  local status=0
  run 180 "${3:-$installer}" /S || status=$?
  if [ "$status" -eq "${2:-0}" ]; then
    pass "$1 exits with $status"
  else
    fail "$1 exits with $status, expected ${2:-0} (log: $out)"
    [ "$status" -eq 2 ] && explain_failed_install
  fi
}

# A silent install keeps its details list to itself: after one that failed,
# the registrations it makes are made again by hand, with Wine's loader and
# errors logged, to show which one failed and why.
explain_failed_install() {
  local dll regsvr32 status
  for dll in TavrilenFocuser.dll TavrilenFocuser64.dll; do
    [ -f "$install_dir/$dll" ] || continue
    regsvr32='C:\windows\system32\regsvr32.exe'
    [ "$machine" = 64 ] && [ "$dll" = TavrilenFocuser.dll ] && regsvr32='C:\windows\syswow64\regsvr32.exe'
    status=0
    WINEDEBUG=err+all,warn+module,+loaddll,+process run 180 "$regsvr32" /s "$install_dir_win\\$dll" ||
      status=$?
    echo "note  by hand, $regsvr32 /s $dll exits with $status (log: $out)"
  done
}

# Runs the uninstaller as a user starts it. It copies itself away and returns
# at once; the copy removes the installation folder last, so its
# disappearance means the uninstall is done.
uninstall() {  # what [switches...]
  local what=$1 gone=no
  shift
  [ -f "$install_dir/Uninstall.exe" ] || fatal "no uninstaller to run in $install_dir"
  if run 60 "$install_dir/Uninstall.exe" /S "$@"; then
    pass "$what: uninstaller started"
  else
    fail "$what: uninstaller exits with $? (log: $out)"
  fi
  for _ in $(seq $((180 * scale))); do
    if [ ! -e "$install_dir" ]; then gone=yes; break; fi
    sleep 0.5
  done
  if [ "$gone" = yes ]; then
    pass "$what: installation folder removed"
  else
    fail "$what: installation folder still there after $((90 * scale)) s: $(ls "$install_dir" 2>&1 | tr '\n' ' ')"
  fi
}

# What every uninstall leaves: no registration, no Chooser entry, no Start-menu
# entry, no uninstall entry, a driver that cannot be created.
expect_uninstalled() {  # what [kept: the profile key stays for a foreign subkey]
  expect_no_key "$1: class registration removed" 64 "HKLM\\Software\\Classes\\CLSID\\$clsid"
  expect_no_key "$1: ProgID removed" 64 'HKCR\Tavrilen.Focuser'
  expect_no_key "$1: versioned ProgID removed" 64 'HKCR\Tavrilen.Focuser.1'
  [ "$machine" = 64 ] && expect_no_key "$1: 64-bit type library removed" 64 "HKCR\\TypeLib\\$libid\\1.0\\0\\win64"
  if [ "$dll32_registered" = yes ]; then
    expect_no_key "$1: 32-bit class registration removed" 32 "HKLM\\Software\\Classes\\CLSID\\$clsid"
    expect_no_key "$1: 32-bit type library removed" 32 "HKCR\\TypeLib\\$libid\\1.0\\0\\win32"
  fi
  expect_no_key "$1: uninstall entry removed" "$view" "$uninstall_key"
  if [ "${2:-}" = kept ]; then
    # Kept for a subkey the driver did not make, without the driver's values.
    if key_exists 32 "$profile"; then
      tr -d '\r' <"$out" | grep -q -E '^ +(COM|MaxPosition|StepSize|Speed|Trace) |REG_SZ +Tavrilen$' &&
        fail "$1: the kept profile key still has the driver's values: $(tr -d '\r' <"$out" | tr '\n' ';')" ||
        pass "$1: the profile key kept, without the driver's values"
    else
      fail "$1: the profile key is gone, with the subkey it held"
    fi
  else
    expect_no_key "$1: Chooser entry (profile key) removed" 32 "$profile"
  fi
  [ -e "$start_menu" ] && fail "$1: Start-menu folder still there" || pass "$1: Start-menu folder removed"

  mapfile -t lines < <(script_lines)
  if [ "${lines[0]:-}" = "Create=0" ] || [ -z "${lines[0]:-}" ]; then
    fail "$1: the driver can still be created by ProgID: [${lines[0]:-no output}]"
  else
    pass "$1: the driver can no longer be created by ProgID: ${lines[0]}"
  fi
}

expect_users_may_change_settings() {
  if ! run 60 "$inspector" rights "${profile#HKLM\\}"; then
    fail "cannot read the profile key's rights: $(tr -d '\r' <"$out")"
    return
  fi
  expect_eq "the profile key's owner and rights" "$profile_rights" "$(tr -d '\r' <"$out" | tr '\n' ';')"
}

# plant_link KEY: makes HKLM\KEY (32-bit view) a registry link to $link_target.
plant_link() {
  local native='\Registry\Machine\Software\Wow6432Node\Tavrilen Link Target'
  [ "$machine" = 32 ] && native='\Registry\Machine\Software\Tavrilen Link Target'
  run 60 "$inspector" link "$1" "$native" || fatal "could not plant a registry link: $(tr -d '\r' <"$out")"
  expect_value "the planted link leads to its target" 32 "HKLM\\$1" Precious yes
}

# The link's target holds what it held, and the rights it had.
expect_link_target_untouched() {  # what
  local values
  if ! key_exists 32 "$link_target"; then
    fail "$1: the link's target is gone"
    return
  fi
  values=$(tr -d '\r' <"$out" | grep -E '^ +[^ ].* REG_' | sed -E 's/^ +//; s/ +REG_[A-Z_]+ +/=/' | tr '\n' ' ')
  expect_eq "$1: the link's target keeps its values, and no more" "Precious=yes " "$values"
  run 60 "$inspector" rights "${link_target#HKLM\\}" || fail "$1: cannot read the link's target's rights"
  expect_eq "$1: the link's target keeps its rights" "$link_target_rights" "$(tr -d '\r' <"$out" | tr '\n' ';')"
}

trace_entries=("Focuser Trace On.lnk" "Focuser Trace Off.lnk" "Focuser Trace Logs.lnk")

# What a Start-menu entry starts, as the shell reads it: sets target, arguments
# and show, its show command (from the file's header, at offset 0x3c: Wine's
# shell does not read it back).
read_shortcut() {  # NAME
  show=$(od -An -tu4 -j 60 -N 4 "$start_menu/$1" | tr -d ' ')
  target= arguments=
  run 60 "$inspector" shortcut "Z:${start_menu//\//\\}\\$1" || return 1
  { read -r target; read -r arguments; } < <(tr -d '\r' <"$out")
}

# The trace entries: the driver's own switch, which asks only to set a value
# (reg.exe may ask for more than users have), and the log folder in the
# user's Documents.
expect_trace_entries() {
  local name switch
  for switch in on off; do
    [ "$switch" = on ] && name=${trace_entries[0]} || name=${trace_entries[1]}
    read_shortcut "$name" || fail "$name: cannot read it: $(tr -d '\r' <"$out")"
    expect_eq "$name: program" "${install_dir_win,,}\\focusertrace.exe" "${target,,}"
    expect_eq "$name: arguments" "$switch" "$arguments"
    expect_eq "$name: shown normally (a failure's message box)" 1 "$show"
  done
  name=${trace_entries[2]}
  read_shortcut "$name" || fail "$name: cannot read it: $(tr -d '\r' <"$out")"
  expect_eq "$name: program" 'c:\windows\explorer.exe' "${target,,}"
  expect_eq "$name: folder" 'shell:Personal\ASCOM' "$arguments"
}

# What an installation holds; by default this version's, or with INSTALLER
# VERSION DLL32 DLL64 another's.
expect_installed() {
  local name setup=${1:-$installer} version=${2:-$version} dll32=${3:-$dll32} dll64=${4:-$dll64}
  expect_same_file TavrilenFocuser.dll "$dll32"
  [ -n "$sim" ] && expect_same_file FocuserSim.exe "$sim"
  if [ -n "$guide" ]; then
    expect_same_file "User Guide.html" "$guide"
    [ -f "$start_menu/Focuser User Guide.lnk" ] && pass "Start-menu entry for the guide" ||
      fail "no Start-menu entry for the guide in $start_menu"
  fi
  if [ "$signed" = yes ]; then
    expect_same_file Uninstall.exe "$setup.uninstaller.exe"
  else
    [ -f "$install_dir/Uninstall.exe" ] && pass "installed Uninstall.exe" ||
      fail "installed Uninstall.exe is missing"
  fi
  for name in "${trace_entries[@]}"; do
    [ -f "$start_menu/$name" ] && pass "Start-menu entry $name" || fail "no Start-menu entry $name"
  done

  local class="HKLM\\Software\\Classes\\CLSID\\$clsid"
  if [ "$machine" = 64 ]; then
    # The 64-bit DLL's class registration, in the 64-bit view.
    expect_same_file TavrilenFocuser64.dll "$dll64"
    expect_path_value "64-bit class server" 64 "$class\\InprocServer32" '' \
      "$install_dir_win\\TavrilenFocuser64.dll"
    expect_value "64-bit threading model" 64 "$class\\InprocServer32" ThreadingModel Apartment
    expect_key "64-bit type library" 64 "HKCR\\TypeLib\\$libid\\1.0\\0\\win64"
  elif [ -e "$install_dir/TavrilenFocuser64.dll" ]; then
    fail "the 64-bit DLL is installed on a 32-bit Windows"
  else
    pass "no 64-bit DLL on a 32-bit Windows"
  fi
  expect_value "ProgID" 64 'HKCR\Tavrilen.Focuser\CLSID' '' "$clsid"
  expect_value "current version" 64 'HKCR\Tavrilen.Focuser\CurVer' '' Tavrilen.Focuser.1
  if [ "$dll32_registered" = yes ]; then
    expect_path_value "32-bit class server" 32 "$class\\InprocServer32" '' \
      "$install_dir_win\\TavrilenFocuser.dll"
    expect_value "32-bit threading model" 32 "$class\\InprocServer32" ThreadingModel Apartment
    expect_key "32-bit type library" 32 "HKCR\\TypeLib\\$libid\\1.0\\0\\win32"
  fi

  # The profile key in the 32-bit view only, named by registration.
  expect_value "profile key named for the Chooser" 32 "$profile" '' Tavrilen
  [ "$machine" = 64 ] && expect_no_key "no profile key in the 64-bit view" 64 "$profile"
  expect_users_may_change_settings

  expect_value "uninstall entry" "$view" "$uninstall_key" DisplayName \
    "Tavrilen Astrograph Focuser driver"
  expect_path_value "uninstall command" "$view" "$uninstall_key" UninstallString \
    "\"$install_dir_win\\Uninstall.exe\""
  # What Apps & features shows.
  expect_value "publisher" "$view" "$uninstall_key" Publisher "Tavrilen Optics"
  expect_value "version" "$view" "$uninstall_key" DisplayVersion "$version"
  # One entry in Apps & features, whatever was installed before.
  local entries=0
  run 60 reg query "${uninstall_key%\\*}" /s "$(view_flag "$view")" &&
    entries=$(tr -d '\r' <"$out" | grep -c 'DisplayName *REG_SZ *Tavrilen')
  expect_eq "entries in Apps & features" 1 "$entries"
  expect_path_value "icon" "$view" "$uninstall_key" DisplayIcon "$install_dir_win\\Uninstall.exe,0"
  local size actual
  size=$(reg_value "$view" "$uninstall_key" EstimatedSize)
  # Bytes, as the installer counts them: blocks lag behind on a shared folder
  # whose writes have not reached the disk yet (the emulated guest's).
  actual=$(du -sk --apparent-size "$install_dir" | cut -f1)
  if [ -n "$size" ] && [ $((size)) -ge $((actual / 2)) ] && [ $((size)) -le $((actual * 2)) ]; then
    pass "size: $((size)) KB (the folder holds $actual KB)"
  else
    fail "size: [$size] KB, while the folder holds $actual KB"
  fi
}

rm -rf -- "$logs"
mkdir -p "$logs"

# --- A fresh prefix, as a clean machine ---------------------------------------
stop_server
rm -rf -- "${build:?}/installer-prefix"
echo "installer-test: creating the win$machine prefix $prefix"
WINEARCH=win$machine timeout -k 5 $((180 * scale)) "$wine" wineboot -i >"$logs/wineboot.log" 2>&1 </dev/null ||
  fatal "wineboot could not make the prefix (log: $logs/wineboot.log)"
stop_server
[ -f "$prefix/system.reg" ] || fatal "wineboot made no registry in $prefix"
"$WINESERVER" -p >"$logs/wineserver.log" 2>&1 </dev/null || fatal "wineserver did not start"
server_started=yes
run 60 cmd /c exit || fatal "Wine cannot run a program in $prefix (log: $out)"

key_exists 32 "$profile" && fatal "a clean prefix already has the profile key"

# --- Without the ASCOM Platform ---------------------------------------------------
install "install without the platform" 3
[ -e "$install_dir" ] && fail "an install without the platform left $install_dir" ||
  pass "an install without the platform installs nothing"
expect_no_key "no uninstall entry without the platform" "$view" "$uninstall_key"

# The platform as programs see it: its Chooser's class registered by ProgID,
# and its profile with another driver in it.
for v in 32 $([ "$machine" = 64 ] && echo 64); do
  run 60 reg add "$chooser" /ve /d '{8b4b4b4e-5a70-4e1a-9d5c-1f0e3c2a6b71}' /f "/reg:$v" ||
    fatal "could not register a stand-in Chooser (log: $out)"
done
run 60 reg add "HKLM\\$sibling_profile" /ve /d Other /f /reg:32 || fatal "could not make another profile key (log: $out)"

# --- First install, of the older version ------------------------------------------
install "first install, of $previous_version" 0 "$previous"
expect_installed "$previous" "$previous_version" "$previous_dll32" "$previous_dll64"

mapfile -t lines < <(script_lines)
expect_eq "created by ProgID" "Create=0" "${lines[0]:-}"
expect_eq "Absolute" "Absolute=True" "${lines[1]:-}"
expect_eq "Link" "Link=False" "${lines[2]:-}"
expect_eq "MaxStep with no settings stored" "MaxStep=20000" "${lines[3]:-}"
expect_eq "error of an unlinked Position" "Error=80020009|Link fail|Tavrilen.Focuser.1" "${lines[4]:-}"

# The user's settings, where the driver keeps them.
run 60 reg add "$profile" /v MaxPosition /t REG_SZ /d 12345 /f /reg:32 || fail "could not store a setting"
run 60 reg add "$profile" /v COM /t REG_SZ /d 4 /f /reg:32 || fail "could not store a setting"
mapfile -t lines < <(script_lines)
expect_eq "MaxStep from the stored settings" "MaxStep=12345" "${lines[3]:-}"
if [ "$dll32_registered" = yes ] && [ "$machine" = 64 ]; then
  # A 32-bit client gets the 32-bit DLL, which reads the same settings.
  mapfile -t lines < <(script_lines 'C:\windows\syswow64\cscript.exe')
  expect_eq "created by ProgID from a 32-bit client" "Create=0" "${lines[0]:-}"
  expect_eq "MaxStep in a 32-bit client" "MaxStep=12345" "${lines[3]:-}"
fi

# --- The trace switched from the Start menu, as a user would -------------------------
expect_trace_entries
# The command line exactly as the shell starts it from each entry.
for data in 1 0; do
  [ "$data" = 1 ] && name=${trace_entries[0]} || name=${trace_entries[1]}
  run 60 "$inspector" run "Z:${start_menu//\//\\}\\$name" || fail "$name: the switch ends with $? (log: $out)"
  expect_value "$name: the trace switch in the 32-bit view" 32 "$profile" Trace "$data"
done
[ "$machine" = 64 ] && expect_no_key "the trace switch is not in the 64-bit view" 64 "$profile"

# --- An install while a program holds the driver ---------------------------------
release=$logs/release-holder
rm -f "$release"
timeout -k 5 $((90 * scale)) "$wine" "$holder" "Z:${release//\//\\}" >"$logs/holder.log" 2>&1 </dev/null &
holder_pid=$!
for _ in $(seq $((300 * scale))); do
  grep -q Holding "$logs/holder.log" 2>/dev/null && break
  kill -0 "$holder_pid" 2>/dev/null || break
  sleep 0.2
done
if grep -q Holding "$logs/holder.log"; then
  install "install while the driver is in use" 4
  expect_value "settings untouched by the refused install" 32 "$profile" MaxPosition 12345
else
  fail "the holding program did not load the driver: $(tr -d '\r' <"$logs/holder.log")"
fi
touch "$release"
wait "$holder_pid" 2>/dev/null

# --- This version over the older one ---------------------------------------------
# As an earlier version's full control let a user leave it: Users its owner,
# with full control for Users and for everyone, inherited by subkeys.
run 60 "$inspector" descriptor "${profile#HKLM\\}" 'O:BUD:AI(A;CI;KA;;;BU)(A;CI;KA;;;WD)(A;;KA;;;SY)(A;;KA;;;BA)' ||
  fail "could not seed the rights an earlier version let users leave: $(tr -d '\r' <"$out")"
# Versions up to 1.1.0 kept their Start-menu entries under a shorter name:
# the upgrade takes them out, and the folder they leave empty.
old_start_menu=${start_menu%/*}/Tavrilen\ Focuser
mkdir -p "$old_start_menu"
for name in "Focuser User Guide.lnk" "${trace_entries[@]}"; do : >"$old_start_menu/$name"; done
install "upgrade from $previous_version to $version"
expect_installed
[ -e "$old_start_menu" ] && fail "the older versions' Start-menu folder is still there" ||
  pass "the older versions' Start-menu folder removed"
expect_value "settings kept by the upgrade" 32 "$profile" MaxPosition 12345
expect_value "settings kept by the upgrade" 32 "$profile" COM 4

# --- The older version over this one, silently: refused, nothing changed -----------------
install "$previous_version over $version" 6 "$previous"
expect_value "version after the refused downgrade" "$view" "$uninstall_key" DisplayVersion "$version"
expect_same_file TavrilenFocuser.dll "$dll32"

# --- Uninstall, keeping the settings, then install again -----------------------------
uninstall "uninstall keeping the settings" /KEEPSETTINGS
expect_uninstalled "uninstall keeping the settings"
expect_value "settings kept outside the Chooser's list" 32 "$kept_settings" MaxPosition 12345
reg_value 32 "$kept_settings" Trace >/dev/null &&
  fail "the trace switch was kept, which the uninstall question does not name" ||
  pass "the trace switch is not kept with the settings"

# A registry link in place of the profile key, as a user with every right on
# the platform's profile tree could make, to a machine-wide key with a value in
# it: the install must put its own key there and leave that one alone.
link_target='HKLM\Software\Tavrilen Link Target'
run 60 reg add "$link_target" /v Precious /d yes /f /reg:32 || fatal "could not make the link's target (log: $out)"
run 60 "$inspector" rights "${link_target#HKLM\\}" || fatal "cannot read the link's target's rights (log: $out)"
link_target_rights=$(tr -d '\r' <"$out" | tr '\n' ';')
plant_link "${profile#HKLM\\}"
install "install after an uninstall that kept the settings"
expect_installed
expect_link_target_untouched "install over a planted link"
expect_value "kept settings back in the profile" 32 "$profile" MaxPosition 12345
expect_value "kept settings back in the profile" 32 "$profile" COM 4
reg_value 32 "$profile" Trace >/dev/null && fail "a trace switch came back with the settings" ||
  pass "no trace switch came back with the settings"
expect_no_key "kept settings moved, not copied" 32 "$kept_settings"
mapfile -t lines < <(script_lines)
expect_eq "MaxStep from the settings brought back" "MaxStep=12345" "${lines[3]:-}"

# --- Uninstall, removing everything but a planted link ---------------------------------
# A registry link below the profile key, to the same key as before.
plant_link "${profile#HKLM\\}\\Planted"
uninstall_log=$logs/uninstall-notes.log
uninstall "silent uninstall" "/LOG=Z:${uninstall_log//\//\\}"
expect_uninstalled "silent uninstall" kept
expect_no_key "silent uninstall: settings removed" 32 "$kept_settings"
expect_link_target_untouched "silent uninstall"
notes=$(iconv -f UTF-16 -t UTF-8 "$uninstall_log" 2>/dev/null | tr -d '\r')
if grep -q 'Left HKLM\\Software\\ASCOM\\Focuser Drivers\\Tavrilen.Focuser .*"Planted"' <<<"$notes"; then
  pass "silent uninstall: its notes say why the profile key stays"
else
  fail "silent uninstall: its notes do not name the kept subkey: [$notes]"
fi

echo "installer-test: $failures failure(s)"
[ "$failures" -eq 0 ]
