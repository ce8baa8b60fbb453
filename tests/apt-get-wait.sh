#!/usr/bin/env bash
# apt-get that waits for the package lock. On a fresh machine a package
# manager often runs at boot (unattended upgrades, cloud-init) and apt-get
# fails at once with "Could not get lock ... held by process"; this runs it
# again every 5 s while that is why it failed, for up to YOZ_APT_LOCK_WAIT
# seconds (300 by default), and says that it waits and when it gives up.
# Usage: tests/apt-get-wait.sh <apt-get arguments>...
set -uo pipefail
limit=${YOZ_APT_LOCK_WAIT:-300}
log=$(mktemp "${TMPDIR:-/tmp}/yoz-apt-XXXXXX")
trap 'rm -f "$log"' EXIT
waited=0
while :; do
  apt-get "$@" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  [ "$status" -eq 0 ] && exit 0
  grep -qE 'Could not get lock|Unable to acquire the dpkg frontend lock|Unable to lock' "$log" || exit "$status"
  if [ "$waited" -ge "$limit" ]; then
    echo "apt-get-wait: the package lock is still held after $waited s; giving up (YOZ_APT_LOCK_WAIT sets the wait)"
    exit "$status"
  fi
  [ "$waited" -eq 0 ] && echo "apt-get-wait: another package manager holds the lock; waiting for it (up to $limit s)"
  sleep 5
  waited=$((waited + 5))
done
