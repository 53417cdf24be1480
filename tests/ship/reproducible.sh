#!/bin/sh
# Builds what ships twice, in two clones of the source at different paths,
# with SOURCE_DATE_EPOCH left to its default, and checks that the Linux
# program, both Windows programs, the Debian package, the zip and their
# checksum file come out byte for byte the same, and that their time
# stamps are the last commit's time.  Each clone is the commit checked out
# plus the working tree's changes, so uncommitted work is what is built.
# Only what ships is built: no tests, no benchmark.
#   reproducible.sh CMAKE CPACK SOURCE_DIR VERSION DEB_VERSION
set -eu
cmake=$1
cpack=$2
source=$3
version=$4
deb_version=$5

. "$(dirname "$0")/common.sh"
need git dpkg-deb tar od zipinfo

# An unpacked source tree has no commit to clone and take the time of.
top=$(git -C "$source" rev-parse --show-toplevel 2>/dev/null) || top=
if [ -z "$top" ] || [ "$(cd "$top" && pwd -P)" != "$(cd "$source" && pwd -P)" ]; then
  echo "skipped: $source is no git work tree"
  exit 77
fi
commit=$(git -C "$source" rev-parse HEAD)
epoch=$(git -C "$source" log -1 --format=%ct)
deb="morvidex_${deb_version}_$(dpkg --print-architecture).deb"
zip="morvidex-$version-win32.zip"

# The artefacts compared, under each build directory.
artefacts="morvidex $deb $zip SHA256SUMS windows-i686/morvidex.exe
  windows-x86_64/morvidex.exe"

build_in() {
  dir=$1
  git clone -q --no-checkout "$source" "$dir"
  git -C "$dir" checkout -q "$commit"
  (cd "$source" && git ls-files -co --exclude-standard |
    while IFS= read -r file; do
      [ -f "$file" ] && printf '%s\0' "$file"
    done | tar --null -T - -cf -) | tar -C "$dir" -xf -
  (
    cd "$dir"
    env -u SOURCE_DATE_EPOCH "$cmake" -S . -B build -DMORVIDEX_TESTS=OFF
    env -u SOURCE_DATE_EPOCH "$cmake" --build build -j2 --target morvidex \
      windows-zip morvidex_windows_x86_64
    cd build && env -u SOURCE_DATE_EPOCH "$cpack" -G DEB
  ) >"$dir.log" 2>&1 || { tail -n 30 "$dir.log" >&2; exit 1; }
}
build_in "$tmp/first"
build_in "$tmp/the-second-clone"

for artefact in $artefacts; do
  one="$tmp/first/build/$artefact"
  two="$tmp/the-second-clone/build/$artefact"
  if [ ! -f "$one" ] || [ ! -f "$two" ]; then
    fail "$artefact was not built"
  elif ! cmp "$one" "$two" >&2; then
    fail "$artefact differs between the two builds"
  fi
done

# The time stamps are the commit's: the Windows programs' headers (the
# 32-bit word 8 bytes into the PE header), the package's members and the
# zip's (to the minute: a zip keeps even seconds).
le32() { od -An -tu4 -j "$2" -N 4 "$1" | tr -d ' '; }
for exe in windows-i686/morvidex.exe windows-x86_64/morvidex.exe; do
  file="$tmp/first/build/$exe"
  [ -f "$file" ] || continue # reported above
  stamp=$(le32 "$file" $(($(le32 "$file" 60) + 8)))
  [ "$stamp" = "$epoch" ] || fail "$exe is stamped $stamp, not $epoch"
done
if [ -f "$tmp/first/build/$deb" ]; then
  when=$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M')
  dpkg-deb --fsys-tarfile "$tmp/first/build/$deb" |
    TZ=UTC tar -tv --full-time | grep -v " $when" >"$tmp/other-times" || true
  [ ! -s "$tmp/other-times" ] ||
    fail "package members not stamped $when: $(cat "$tmp/other-times")"
fi

if [ -f "$tmp/first/build/$zip" ]; then
  when=$(TZ=UTC date -d "@$epoch" '+%Y%m%d.%H%M')
  TZ=UTC zipinfo -T "$tmp/first/build/$zip" | grep '^-' |
    grep -v " $when[0-9][0-9] " >"$tmp/other-times" || true
  [ ! -s "$tmp/other-times" ] ||
    fail "zip members not stamped $when: $(cat "$tmp/other-times")"
fi

[ "$failed" -eq 0 ] && echo "two builds of $(git -C "$source" log -1 --format=%h) alike:" $artefacts
exit "$failed"
