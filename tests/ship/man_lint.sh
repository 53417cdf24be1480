#!/bin/sh
# Fails when either manual page formatter has anything to say about the
# page: mandoc's lint and man-db's groff warnings at 80 columns.
#
# mandoc lints at the style level: its base level adds the conventions of
# the BSD systems' own manuals, whose footer names no package, where this
# page's footer names the program and its version as a package's page
# should.  The pages of the SEE ALSO references are looked up in a scratch
# database made from the system's copies of just those pages, so that a
# reference to a page the system lacks is a finding, whether or not the
# system's own database is up to date.
#   man_lint.sh MANPAGE
set -eu
manpage=$1
failed=0
for tool in mandoc makewhatis man; do
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
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/man"
sed -n 's/^\.Xr \([^ ]*\) \([^ ]*\).*/\1 \2/p' "$manpage" |
  while read -r name section; do
    page=$(man -w "$section" "$name" 2>/dev/null) || continue
    mkdir -p "$tmp/man/man$section"
    cp "$page" "$tmp/man/man$section/"
  done
makewhatis "$tmp/man"
run "mandoc -Tlint" env MANPATH="$tmp/man" mandoc -Tlint -Wstyle "$manpage"
run "man --warnings" sh -c 'LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$1" >/dev/null' sh "$manpage"
exit "$failed"
