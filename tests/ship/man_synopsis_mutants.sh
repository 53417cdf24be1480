#!/bin/sh
# Feeds man_synopsis.sh manual pages with one fault each and checks that it
# rejects every one for that fault, and accepts the page as it is.
#   man_synopsis_mutants.sh PROGRAM MANPAGE
set -eu
program=$1
manpage=$2
check="$(dirname "$0")/man_synopsis.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

sh "$check" "$program" "$manpage" >/dev/null

# name @ sed script applied to the page @ message the check must print
cat >"$tmp/table" <<'TABLE'
form missing@s/ | Fl uR$//@in the usage text but not in the SYNOPSIS: -uR
form extra@s/^\.Fl ld | Fl lD/.Fl ld | Fl lx | Fl lD/@in the SYNOPSIS but not in the usage text: -lx
optional letter dropped@s/^\.Fl l | Fl u | Fl lf | Fl uf$/.Fl l | Fl u/@in the usage text but not in the SYNOPSIS: -lf -uf
star unquoted@/^\.Sh SYNOPSIS/,/^\.Sh/s/^\.Cm \\(aq\*\\(aq$/.Cm */@the SYNOPSIS does not show the operand '*'
pattern unquoted@/^\.Sh SYNOPSIS/,/^\.Sh/s/^\.Cm \\(aq\*\\&\. Ns Ar ext Ns Cm \\(aq$/.Cm *\\\&. Ns Ar ext/@the SYNOPSIS does not show the operand '*.ext'
TABLE

failed=0
while IFS=@ read -r name script message; do
  sed "$script" "$manpage" >"$tmp/page.1"
  if cmp -s "$manpage" "$tmp/page.1"; then
    echo "FAIL $name: the change did not apply" >&2
    failed=1
    continue
  fi
  if sh "$check" "$program" "$tmp/page.1" >"$tmp/out" 2>&1; then
    echo "FAIL $name: accepted" >&2
    failed=1
  elif ! grep -qF -- "$message" "$tmp/out"; then
    echo "FAIL $name: rejected, but without \"$message\":" >&2
    cat "$tmp/out" >&2
    failed=1
  else
    echo "ok   $name"
  fi
done <"$tmp/table"
exit "$failed"
