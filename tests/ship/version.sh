#!/bin/sh
# Checks that everything that states the version states the one written in
# CMakeLists.txt: the banner of every built program, byte for byte, the
# Windows programs' version resources, the changelog's first entry, the
# manual page's footer and the file names the READMEs give.  (The Debian
# package's version and the zip's name are checked by their own tests,
# against the same version.)
#   version.sh VERSION DEBIAN_REVISION SOURCE_DIR PROGRAM [WINDOWS_PROGRAM...]
set -eu
version=$1
revision=$2
source=$3
program=$4
shift 4

. "$(dirname "$0")/common.sh"

banner="morvidex $version - converts the letters of text files to lower or upper case"
printf '%s\r\n' "$banner" >"$tmp/banner"
"$program" >"$tmp/usage" || fail "$program exited $?"
head -n 1 "$tmp/usage" | cmp -s "$tmp/banner" - ||
  fail "$program's banner is \"$(head -n 1 "$tmp/usage")\", not \"$banner\""

for exe in "$@"; do
  grep -aqF "$banner" "$exe" || fail "$exe holds no banner \"$banner\""
  case $(file -b "$exe") in
  PE32+*) windres=x86_64-w64-mingw32-windres ;;
  *) windres=i686-w64-mingw32-windres ;;
  esac
  need "$windres"
  "$windres" -i "$exe" -O rc >"$tmp/resource.rc"
  for key in FileVersion ProductVersion; do
    grep -Fqx "      VALUE \"$key\", \"$version\"" "$tmp/resource.rc" ||
      fail "$exe: $key is not $version: $(grep "\"$key\"" "$tmp/resource.rc")"
  done
done

# file|extended regular expression of the lines that state a version|the
# version they must state; every such line must.
while IFS='|' read -r file pattern wanted; do
  grep -Eo "$pattern" "$source/$file" >"$tmp/found" ||
    { fail "$file states no version (no match for $pattern)"; continue; }
  sed -E "s/$pattern/\\1/" "$tmp/found" | sort -u >"$tmp/stated"
  [ "$(cat "$tmp/stated")" = "$wanted" ] ||
    fail "$file states version $(tr '\n' ' ' <"$tmp/stated")instead of $wanted"
done <<TABLE
doc/changelog.in|^morvidex \\(([^)]*)\\) |$version-$revision
doc/morvidex.1|^\\.Os morvidex (.*)$|$version
README.md|morvidex-([0-9][^-]*)-win32|$version
README.md|morvidex_([0-9][^_]*)_|$version-$revision
TABLE

[ "$failed" -eq 0 ] && echo "version $version (package $version-$revision) everywhere"
exit "$failed"
