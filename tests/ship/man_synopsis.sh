#!/bin/sh
# Checks that the manual page's SYNOPSIS lists exactly the option words of
# the program's usage text, and shows the star and pattern operands quoted
# as a user types them.
#   man_synopsis.sh PROGRAM MANPAGE
set -eu
program=$1
manpage=$2

command -v mandoc >/dev/null 2>&1 || { echo "mandoc is not installed" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The usage text: each line "morvidex -{l|u}[f] ..." gives its option form
# in braces (one of) and brackets (optional), expanded into every word.
status=0
"$program" >"$tmp/usage.crlf" || status=$?
[ "$status" -eq 0 ] || { echo "$program exited $status" >&2; exit 1; }
tr -d '\r' <"$tmp/usage.crlf" >"$tmp/usage"
awk '
function expand(s,    pre, body, post, n, alts, k) {
  if (!match(s, /\{[^{}]*\}|\[[^][]*\]/)) {
    print s
    return
  }
  pre = substr(s, 1, RSTART - 1)
  body = substr(s, RSTART + 1, RLENGTH - 2)
  post = substr(s, RSTART + RLENGTH)
  if (substr(s, RSTART, 1) == "[") {
    expand(pre post)
    expand(pre body post)
    return
  }
  n = split(body, alts, "|")
  for (k = 1; k <= n; k++)
    expand(pre alts[k] post)
}
$1 == "morvidex" && $2 ~ /^-/ { expand($2) }
' "$tmp/usage" | sort -u >"$tmp/usage.forms"

# The manual page as a reader sees it, overstrike removed; its SYNOPSIS runs
# to the next section heading.
MANWIDTH=80 mandoc -Tascii -Owidth=80 "$manpage" >"$tmp/page.bs"
sed 's/.\x08//g' "$tmp/page.bs" >"$tmp/page"
awk '/^[A-Z]/ { in_synopsis = ($0 == "SYNOPSIS"); next } in_synopsis' \
  "$tmp/page" >"$tmp/synopsis"
tr ' |[]' '\n\n\n\n' <"$tmp/synopsis" | grep -E '^-[A-Za-z]+$' | sort -u \
  >"$tmp/man.forms" || true

failed=0
if [ ! -s "$tmp/usage.forms" ]; then
  echo "no option forms found in the usage text:" >&2
  cat "$tmp/usage" >&2
  failed=1
fi
missing=$(comm -23 "$tmp/usage.forms" "$tmp/man.forms")
extra=$(comm -13 "$tmp/usage.forms" "$tmp/man.forms")
if [ -n "$missing" ]; then
  echo "in the usage text but not in the SYNOPSIS:" $missing >&2
  failed=1
fi
if [ -n "$extra" ]; then
  echo "in the SYNOPSIS but not in the usage text:" $extra >&2
  failed=1
fi
for operand in "'*'" "'*.ext'"; do
  if ! tr ' ' '\n' <"$tmp/synopsis" | grep -qxF -- "$operand"; then
    echo "the SYNOPSIS does not show the operand $operand" >&2
    failed=1
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "SYNOPSIS:" >&2
  cat "$tmp/synopsis" >&2
  exit 1
fi
echo "SYNOPSIS and usage text agree on:" $(cat "$tmp/usage.forms")
