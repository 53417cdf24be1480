#!/bin/sh
# Builds the Debian package into a scratch directory, unpacks it and checks
# its files, their modes and owners, its control fields, the checksum file
# beside it, that the program is stripped, hardened and converts a file as
# it should, and that lintian --pedantic --info reports nothing that its
# overrides do not name.
#   deb.sh CPACK BUILD_DIR SOURCE_DIR VERSION
# VERSION is the package's, with its Debian revision.
set -eu
cpack=$1
build=$2
source=$3
version=$4

. "$(dirname "$0")/common.sh"
need dpkg-deb dpkg-shlibdeps file gzip hardening-check lintian readelf sha256sum

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 || {
  cat "$tmp/cpack.log" >&2
  exit 1
}
deb="$tmp/out/morvidex_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "no $deb among:" $(ls "$tmp/out") >&2; exit 1; }

# Control fields: field|extended regular expression its value must match
while IFS='|' read -r field pattern; do
  value=$(dpkg-deb -f "$deb" "$field")
  printf '%s\n' "$value" | grep -Eq "$pattern" ||
    fail "$field is \"$value\", which does not match $pattern"
done <<TABLE
Package|^morvidex$
Version|^$version$
Architecture|^$(dpkg --print-architecture)$
Multi-Arch|^foreign$
Section|^(text|utils)$
Priority|^optional$
Maintainer|^[^<>]+ <[^@<>]+@[^@<>]+\.[^@<>]+>$
Depends|(^|, )libc6 \(>= [0-9.]+\)
Description|^convert the letters of text files to lower or upper case$
TABLE
dpkg-deb -f "$deb" Description | sed -n '2p' | grep -q '^ [^ ]' ||
  fail "the description has no extended part"

# Every member: mode|path; owners root/root, the whole tree listed.
dpkg-deb -c "$deb" >"$tmp/members"
awk '$2 != "root/root" { print "FAIL: " $6 " is owned by " $2; bad = 1 }
     END { exit bad }' "$tmp/members" >&2 || failed=1
awk '{ print $1 "|" $6 }' "$tmp/members" | sort >"$tmp/found"
sort >"$tmp/wanted" <<'LIST'
drwxr-xr-x|./
drwxr-xr-x|./usr/
drwxr-xr-x|./usr/bin/
-rwxr-xr-x|./usr/bin/morvidex
drwxr-xr-x|./usr/share/
drwxr-xr-x|./usr/share/bash-completion/
drwxr-xr-x|./usr/share/bash-completion/completions/
-rw-r--r--|./usr/share/bash-completion/completions/morvidex
drwxr-xr-x|./usr/share/doc/
drwxr-xr-x|./usr/share/doc/morvidex/
-rw-r--r--|./usr/share/doc/morvidex/README.md
-rw-r--r--|./usr/share/doc/morvidex/changelog.Debian.gz
-rw-r--r--|./usr/share/doc/morvidex/copyright
drwxr-xr-x|./usr/share/lintian/
drwxr-xr-x|./usr/share/lintian/overrides/
-rw-r--r--|./usr/share/lintian/overrides/morvidex
drwxr-xr-x|./usr/share/man/
drwxr-xr-x|./usr/share/man/man1/
-rw-r--r--|./usr/share/man/man1/morvidex.1.gz
LIST
if ! cmp -s "$tmp/wanted" "$tmp/found"; then
  fail "package members differ (- wanted, + packaged):"
  diff -u "$tmp/wanted" "$tmp/found" | tail -n +3 >&2 || true
fi

dpkg-deb -x "$deb" "$tmp/root"
doc="$tmp/root/usr/share/doc/morvidex"
man="$tmp/root/usr/share/man/man1/morvidex.1.gz"
if [ -f "$man" ]; then
  gzip -dc "$man" | cmp -s - "$source/doc/morvidex.1" ||
    fail "the packaged manual page differs from doc/morvidex.1"
fi
# Packaged files that are copies of the source tree's: path|source
while IFS='|' read -r path original; do
  [ -f "$tmp/root/$path" ] || continue # reported above
  cmp -s "$tmp/root/$path" "$source/$original" ||
    fail "the packaged $path differs from $original"
done <<'TABLE'
usr/share/doc/morvidex/README.md|README.md
usr/share/bash-completion/completions/morvidex|completion/morvidex.bash
usr/share/lintian/overrides/morvidex|doc/lintian-overrides
TABLE
if [ -f "$doc/changelog.Debian.gz" ]; then
  gzip -dc "$doc/changelog.Debian.gz" | head -n 1 |
    grep -q "^morvidex ($version) " ||
    fail "the changelog does not begin with version $version"
fi
if [ -f "$doc/copyright" ]; then
  head -n 1 "$doc/copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "copyright is not in Debian's machine-readable format"
  grep -qx 'Copyright: 2026 The morvidex developers' "$doc/copyright" ||
    fail "copyright names no copyright holder"
  grep -qx 'License: Expat' "$doc/copyright" || fail "copyright names no license"
  grep -Eqx 'Source: [^ ]+' "$doc/copyright" || fail "copyright names no Source"
fi

program="$tmp/root/usr/bin/morvidex"
kind=$(file -b "$program")
case $kind in
*"not stripped"*) fail "the packaged program is not stripped: $kind" ;;
*", stripped"*) ;;
*) fail "file cannot tell whether the program is stripped: $kind" ;;
esac

# Every protection Debian's own builds have.  Control flow protection marks
# a program only when every object linked into it is marked, the C
# library's start files included; where those lack the mark (as Debian 12's
# do, and so every program of that release), a program with an empty main
# built the same way shows it, and the program's own objects must then
# carry the mark instead.
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
echo 'int main() { return 0; }' >"$tmp/probe.cpp"
"$cxx" -fcf-protection -o "$tmp/probe" "$tmp/probe.cpp"
marked='Properties: x86 feature: IBT, SHSTK'
cfi=
if ! readelf -n "$tmp/probe" | grep -q "$marked"; then
  cfi=--nocfprotection
  echo "the C library's start files carry no control flow protection mark;" \
    "checking the program's objects for it"
  objects=$(find "$build/CMakeFiles/morvidex.dir" \
    "$build/CMakeFiles/morvidex_core.dir" -name '*.o')
  [ -n "$objects" ] || fail "no object files of the program in $build"
  for object in $objects; do
    readelf -n "$object" | grep -q "$marked" ||
      fail "${object#"$build/"} has no control flow protection"
  done
fi
hardening-check $cfi "$program" >"$tmp/hardening" 2>&1 || true
cat "$tmp/hardening"
grep ': no' "$tmp/hardening" | grep -qv '(ignored)$' &&
  fail "hardening-check finds protections missing"
[ "$(grep -c ': yes' "$tmp/hardening")" -ge 5 ] ||
  fail "hardening-check confirms fewer than five protections"

# The packaged program converts: CR dropped, LF written as CR LF, only the
# Latin letters changed, nothing read after the first Control-Z.
mkdir "$tmp/work"
printf 'Hello World\nmixed Case 123\r\n\344 last\032after\n' >"$tmp/work/notes.txt"
printf 'HELLO WORLD\r\nMIXED CASE 123\r\n\344 LAST' >"$tmp/expected.up"
(cd "$tmp/work" && "$program" -u notes.txt >"$tmp/stdout" 2>"$tmp/stderr") ||
  fail "morvidex -u notes.txt exited $?"
if ! cmp -s "$tmp/expected.up" "$tmp/work/notes.up"; then
  fail "notes.up is not as expected:"
  od -An -c "$tmp/work/notes.up" >&2 || true
fi
grep -q "^Translate file 'notes.txt' to file 'notes.up'$(printf '\r')\$" "$tmp/stdout" ||
  fail "no progress line for notes.txt"
[ -s "$tmp/stderr" ] && fail "diagnostics: $(cat "$tmp/stderr")"

# lintian: any tag at all, pedantic and information included, fails, once
# the package's overrides have taken what they name.
lintian --tag-display-limit 0 --display-info --pedantic "$deb" \
  >"$tmp/lintian" 2>"$tmp/lintian.err" || true
cat "$tmp/lintian"
if grep -Eq '^[A-Z]: ' "$tmp/lintian"; then
  fail "lintian reports tags"
fi
grep -qv 'running with root privileges' "$tmp/lintian.err" &&
  { cat "$tmp/lintian.err" >&2; fail "lintian failed"; }

# The checksum beside the package.
if [ -f "$tmp/out/SHA256SUMS" ]; then
  grep -q "  $(basename "$deb")\$" "$tmp/out/SHA256SUMS" ||
    fail "SHA256SUMS does not list $(basename "$deb")"
  (cd "$tmp/out" && sha256sum --quiet -c SHA256SUMS) >&2 ||
    fail "SHA256SUMS does not match"
else
  fail "no SHA256SUMS beside the package"
fi

[ "$failed" -eq 0 ] && echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
exit "$failed"
