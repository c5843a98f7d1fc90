# apt_update [COMMAND-PREFIX...]: "apt-get update", tried again after a pause
# when an index fails to download, as one does while a mirror is in the middle
# of a sync ("File has unexpected size ... Mirror sync in progress?"). The
# prefix runs it elsewhere (a chroot). When every try fails, it names the
# indexes that failed and what the user can do, and returns 1.
# FOCUSER_APT_TRIES (default 4) and FOCUSER_APT_PAUSE (seconds, default 60)
# set how hard it tries.
apt_update() {
  local tries=${FOCUSER_APT_TRIES:-4} pause=${FOCUSER_APT_PAUSE:-60} try output status
  for ((try = 1; ; try++)); do
    status=0
    output=$("$@" apt-get update 2>&1) || status=$?
    # apt may keep going past a failed index ("old ones used instead") and
    # still exit 0; a missing index makes installs fail later, less clearly.
    if [ "$status" -eq 0 ] && ! grep -q -E '^(E|W): Failed to fetch' <<<"$output"; then
      return 0
    fi
    [ "$try" -lt "$tries" ] || break
    echo "apt-get update failed (try $try of $tries); trying again in $pause s" >&2
    sleep "$pause"
  done
  echo "apt-get update failed $tries times. What apt said:" >&2
  grep -E '^(E|W):' <<<"$output" >&2 || tail -n 20 <<<"$output" >&2
  local failed
  failed=$(grep -o -E 'Failed to fetch [^ ]+' <<<"$output" | cut -d' ' -f4 | sort -u)
  if [ -n "$failed" ]; then
    echo "These package indexes could not be fetched:" >&2
    sed 's/^/  /' <<<"$failed" >&2
  fi
  cat >&2 <<'END'
When apt says "Mirror sync in progress?", the archive is being updated and the
index it offers does not yet match its signed list; this clears by itself,
usually within a couple of hours. Run the same command again later, or name
another Debian mirror in /etc/apt/sources.list (or /etc/apt/sources.list.d/).
END
  return 1
}
