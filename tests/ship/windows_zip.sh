#!/bin/sh
# Builds the windows-zip target, unpacks the zip and checks its folder: a
# stripped 32-bit console program, the manual as plain text and the README
# and license, each text with CR LF on every line and no backspace.
# windows_zip_run.sh runs the packed program.
#   windows_zip.sh CMAKE BUILD_DIR ZIP SOURCE_DIR VERSION
set -eu
cmake=$1
build=$2
zip=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
source=$4
version=$5

. "$(dirname "$0")/common.sh"
need file mandoc

rm -f "$zip"
"$cmake" --build "$build" --target windows-zip >"$tmp/build.log" 2>&1 || {
  cat "$tmp/build.log" >&2
  exit 1
}
mkdir "$tmp/unpacked"
(cd "$tmp/unpacked" && "$cmake" -E tar xf "$zip")

name="morvidex-$version-win32"
(cd "$tmp/unpacked" && find . -type f | sed 's|^\./||' | sort) >"$tmp/found"
sort >"$tmp/wanted" <<LIST
$name/LICENSE.txt
$name/README.txt
$name/morvidex.exe
$name/morvidex.txt
LIST
if ! cmp -s "$tmp/wanted" "$tmp/found"; then
  fail "zip members differ (- wanted, + packed):"
  diff -u "$tmp/wanted" "$tmp/found" | tail -n +3 >&2 || true
fi
dir="$tmp/unpacked/$name"

exe="$dir/morvidex.exe"
if [ -f "$exe" ]; then
  kind=$(file -b "$exe")
  for want in "PE32 executable" "(console)" "Intel 80386" "stripped"; do
    case $kind in
    *"$want"*) ;;
    *) fail "morvidex.exe is \"$kind\", not $want" ;;
    esac
  done
  case $kind in PE32+*) fail "morvidex.exe is a 64-bit program: $kind" ;; esac
  built=$(stat -c %s "$build/windows-i686/morvidex.exe")
  packed=$(stat -c %s "$exe")
  [ "$packed" -lt "$built" ] ||
    fail "morvidex.exe ($packed bytes) is no smaller than the program built ($built)"
fi

# Each text: the bytes expected, with LF turned into CR LF.
crlf() { sed 's/\r$//; s/$/\r/' "$@"; }
LC_ALL=C mandoc -Tascii -Ios="morvidex $version" "$source/doc/morvidex.1" |
  sed 's/.\x08//g' | crlf >"$tmp/manual"
crlf "$source/README.md" >"$tmp/readme"
crlf "$source/doc/LICENSE" >"$tmp/license"
bs=$(printf '\b')
cr=$(printf '\r')
while IFS='|' read -r member expected; do
  text="$dir/$member"
  [ -f "$text" ] || continue # reported above
  lines=$(wc -l <"$text")
  with_cr=$(grep -c "$cr\$" "$text" || true)
  [ "$lines" -gt 0 ] && [ "$lines" -eq "$with_cr" ] ||
    fail "$member: $with_cr of $lines lines end in CR LF"
  [ "$(tail -c 1 "$text" | od -An -tx1 | tr -d ' ')" = 0a ] ||
    fail "$member does not end with a line end"
  grep -q "$bs" "$text" && fail "$member holds backspaces"
  cmp -s "$tmp/$expected" "$text" || fail "$member differs from its source"
done <<'TABLE'
morvidex.txt|manual
README.txt|readme
LICENSE.txt|license
TABLE
grep -q "^     morvidex -l | -u '\*'$cr\$" "$dir/morvidex.txt" 2>/dev/null ||
  fail "morvidex.txt shows no SYNOPSIS line for the star"

[ "$failed" -eq 0 ] && echo "$(basename "$zip"): $(tr '\n' ' ' <"$tmp/found")"
exit "$failed"
