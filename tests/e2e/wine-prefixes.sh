#!/bin/sh
# Usage: wine-prefixes.sh WINE64 DIR EXE64 [EXE32]
#        wine-prefixes.sh --remove WINE64 DIR
# Creates afresh, under DIR, copies of the Windows programs (DIR/x86_64 and
# DIR/i686) and the Wine prefixes that the wine-morvidex scripts run them in: one
# for the user running the tests and, when that is root, one for uid 65534,
# as which the tests run their permission cases.  A prefix that wine64
# makes runs the 32-bit program too, under the 32-bit loader.
set -eu
remove=false
[ "$1" != --remove ] || { remove=true; shift; }
wine64=$1 dir=$2 exe64=${3-} exe32=${4-}
me=$(id -u)
users=$me
[ "$me" != 0 ] || users="0 65534"

# Runs a command as user $1, with that user's home, prefix and temporary
# folder (where the Wine server keeps its socket) under DIR.
as_user() {
  uid=$1
  shift
  set -- env HOME="$dir/$uid" WINEPREFIX="$dir/$uid/prefix" \
    TMPDIR="$dir/$uid/tmp" WINEDEBUG=-all "$@"
  if [ "$uid" = "$me" ]; then
    "$@"
  else
    setpriv --reuid="$uid" --regid="$uid" --clear-groups "$@"
  fi
}

# A server left running from an earlier run would serve a removed prefix;
# with --remove, the servers and the prefixes go and nothing is made.
for uid in $users; do
  if [ -d "$dir/$uid/prefix" ]; then
    as_user "$uid" "$(dirname "$wine64")/wineserver" -k 2>/dev/null || true
  fi
done
rm -rf "$dir"
! $remove || exit 0
mkdir -p "$dir"
chmod 755 "$dir"
mkdir "$dir/x86_64" "$dir/i686"
cp "$exe64" "$dir/x86_64/morvidex.exe"
[ -z "$exe32" ] || cp "$exe32" "$dir/i686/morvidex.exe"
chmod 755 "$dir/x86_64" "$dir/i686"
pids=
for uid in $users; do
  mkdir -p "$dir/$uid"
  chown "$uid:$uid" "$dir/$uid"
  # A server that outlives each run of the program by two minutes: one that
  # stops between two runs would drop the connection of the second.
  as_user "$uid" mkdir "$dir/$uid/prefix" "$dir/$uid/tmp"
  # Neither it nor the processes wineboot leaves behind may hold on to the
  # output of this script, or the test would wait for them.
  as_user "$uid" "$(dirname "$wine64")/wineserver" -p120 \
    </dev/null >/dev/null 2>&1
  as_user "$uid" "$wine64" wineboot </dev/null >/dev/null 2>&1 &
  pids="$pids $!"
done
for pid in $pids; do
  wait "$pid"
done
# The tests rely on drive Z: showing the unix tree.
for uid in $users; do
  test -e "$dir/$uid/prefix/dosdevices/z:"
done
