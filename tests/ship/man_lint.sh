#!/bin/sh
# Fails when either manual page formatter has anything to say about the
# page: mandoc's lint and man-db's groff warnings at 80 columns.
#   man_lint.sh MANPAGE
set -eu
manpage=$1
failed=0
for tool in mandoc man; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed" >&2; failed=1; }
done
[ "$failed" -eq 0 ] || exit 1

run() {
  # Anything printed, or a failing status, is a finding.
  name=$1
  shift
  out=$("$@" 2>&1) && status=0 || status=$?
  if [ -n "$out" ] || [ "$status" -ne 0 ]; then
    echo "$name (status $status):" >&2
    printf '%s\n' "$out" >&2
    failed=1
  else
    echo "$name: clean"
  fi
}
run "mandoc -Tlint" mandoc -Tlint "$manpage"
run "man --warnings" sh -c 'LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$1" >/dev/null' sh "$manpage"
exit "$failed"
