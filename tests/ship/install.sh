#!/bin/sh
# Installs the build into a staging directory under a prefix of its own and
# checks that exactly the program, its bash completion, the manual page,
# the README and the license arrive, unchanged, with the usual modes.
#   install.sh CMAKE BUILD_DIR SOURCE_DIR
set -eu
cmake=$1
build=$2
source=$3
. "$(dirname "$0")/common.sh"
prefix=/opt/morvidex-test

DESTDIR="$tmp/stage" "$cmake" --install "$build" --prefix "$prefix" >"$tmp/log"
root="$tmp/stage$prefix"

(cd "$root" && find . -type f | sed 's|^\./||' | sort) >"$tmp/found"
sort >"$tmp/wanted" <<'LIST'
bin/morvidex
share/bash-completion/completions/morvidex
share/doc/morvidex/LICENSE
share/doc/morvidex/README.md
share/man/man1/morvidex.1
LIST
if ! cmp -s "$tmp/wanted" "$tmp/found"; then
  fail "installed files differ from the list (- wanted, + installed):"
  diff -u "$tmp/wanted" "$tmp/found" | tail -n +3 >&2 || true
fi

# path|mode|source it must equal ("" for none)
while IFS='|' read -r path mode original; do
  [ -e "$root/$path" ] || continue # reported above
  actual=$(stat -c %a "$root/$path")
  [ "$actual" = "$mode" ] || fail "$path has mode $actual, not $mode"
  if [ -n "$original" ] && ! cmp -s "$source/$original" "$root/$path"; then
    fail "$path differs from $original"
  fi
done <<'TABLE'
bin/morvidex|755|
share/bash-completion/completions/morvidex|644|completion/morvidex.bash
share/man/man1/morvidex.1|644|doc/morvidex.1
share/doc/morvidex/README.md|644|README.md
share/doc/morvidex/LICENSE|644|doc/LICENSE
TABLE
grep -q 'Copyright (c) 2026 The morvidex developers' "$root/share/doc/morvidex/LICENSE" ||
  fail "the license names no copyright holder"

# The installed program runs and is the one built.
banner=$("$root/bin/morvidex" | head -n 1 | tr -d '\r')
[ "$banner" = "$("$build/morvidex" | head -n 1 | tr -d '\r')" ] ||
  fail "the installed program prints \"$banner\""

[ "$failed" -eq 0 ] && echo "installed under $prefix: $(tr '\n' ' ' <"$tmp/found")"
exit "$failed"
