#!/bin/sh
# Builds the windows-zip target, unpacks the zip and checks its folder: a
# stripped 32-bit console program with its version resource, the manual as
# plain text, the README for Windows users and the license, each text with
# CR LF on every line and no backspace; and the checksum file beside it.
# windows_zip_run.sh runs the packed program.
#   windows_zip.sh CMAKE BUILD_DIR ZIP SOURCE_DIR VERSION
set -eu
cmake=$1
build=$2
zip=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
source=$4
version=$5

. "$(dirname "$0")/common.sh"
need file i686-w64-mingw32-objdump i686-w64-mingw32-windres mandoc sha256sum

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

  # Loaded at a random address (which needs its relocations kept) and with
  # its data not executable.
  i686-w64-mingw32-objdump -p -h "$exe" >"$tmp/headers"
  for want in DYNAMIC_BASE NX_COMPAT ' \.reloc '; do
    grep -q "$want" "$tmp/headers" || fail "morvidex.exe has no $want"
  done

  # The version resource, as windres reads it back: FILEVERSION 1, 0, 0, 0
  # for version 1.0, and each string Explorer shows.
  i686-w64-mingw32-windres -i "$exe" -O rc >"$tmp/resource.rc" 2>&1 ||
    fail "windres cannot read morvidex.exe's resources: $(cat "$tmp/resource.rc")"
  numbers=$(echo "$version.0.0.0" | cut -d. -f1-4 | sed 's/\./, /g')
  while IFS='|' read -r key value; do
    grep -Fqx "$key$value" "$tmp/resource.rc" ||
      fail "the version resource has no $key$value"
  done <<TABLE
 FILEVERSION |$numbers
 PRODUCTVERSION |$numbers
      VALUE "FileVersion", |"$version"
      VALUE "ProductVersion", |"$version"
      VALUE "ProductName", |"morvidex"
      VALUE "OriginalFilename", |"morvidex.exe"
      VALUE "FileDescription", |"converts the letters of text files to lower or upper case"
      VALUE "LegalCopyright", |"Copyright (c) 2026 The morvidex developers"
TABLE
fi

# Each text: the bytes expected, with LF turned into CR LF.
crlf() { sed 's/\r$//; s/$/\r/' "$@"; }
LC_ALL=C mandoc -Tascii "$source/doc/morvidex.1" |
  sed 's/.\x08//g' | crlf >"$tmp/manual"
sed "s/@VERSION@/$version/g" "$source/doc/README-windows.txt.in" |
  crlf >"$tmp/readme"
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
grep -q "^morvidex $version  *.*  *morvidex $version$cr\$" \
  "$dir/morvidex.txt" 2>/dev/null ||
  fail "morvidex.txt's footer does not name morvidex $version"

# The README is the one for Windows users: no Linux commands, and every
# example typed as cmd.exe and PowerShell take it.  text|what it says
while IFS='|' read -r pattern meaning; do
  grep -Eq "$pattern" "$dir/README.txt" 2>/dev/null || fail "README.txt: $meaning"
done <<'TABLE'
^morvidex [0-9.]+ for Windows|no title naming the version
PATH=%PATH%;|no PATH step for cmd.exe
\$env:Path \+=|no PATH step for PowerShell
^  morvidex -l \*\.txt  |no bare pattern for cmd.exe
^  morvidex -lr '\*\.txt' docs|no quoted pattern for PowerShell
TABLE
linux='apt-get|cmake|sudo|^ *\$ '
grep -Eq "$linux" "$dir/README.txt" 2>/dev/null &&
  fail "README.txt holds Linux commands: $(grep -E "$linux" "$dir/README.txt")"

# The checksum beside the zip.
sums=$(dirname "$zip")/SHA256SUMS
if [ -f "$sums" ]; then
  grep "  $(basename "$zip")\$" "$sums" >"$tmp/zip.sum" ||
    fail "SHA256SUMS does not list $(basename "$zip")"
  (cd "$(dirname "$zip")" && sha256sum --quiet -c "$tmp/zip.sum") >&2 ||
    fail "SHA256SUMS does not match $(basename "$zip")"
else
  fail "no SHA256SUMS beside $(basename "$zip")"
fi

[ "$failed" -eq 0 ] && echo "$(basename "$zip"): $(tr '\n' ' ' <"$tmp/found")"
exit "$failed"
