#!/bin/sh
# Runs the 32-bit program packed in the Windows zip under the 32-bit Wine
# loader, in the test prefix of the user running it, on a file.  Where the
# kernel refuses 32-bit programs, the test is skipped (status 77) with the
# probe's reason.
#   windows_zip_run.sh CMAKE BUILD_DIR ZIP VERSION PROBE WINE WINE_DIR
set -eu
cmake=$1
build=$2
zip=$3
version=$4
probe=$5
wine=$6
wine_dir=$7

. "$(dirname "$0")/common.sh"

"$probe" "$wine" || exit $?
"$cmake" --build "$build" --target windows-zip >"$tmp/build.log" 2>&1 || {
  cat "$tmp/build.log" >&2
  exit 1
}
(cd "$tmp" && "$cmake" -E tar xf "$zip")
exe="$tmp/morvidex-$version-win32/morvidex.exe"
mkdir "$tmp/run"
printf 'Hello World\nmixed Case 123\r\n' >"$tmp/run/a.txt"
uid=$(id -u)
if (cd "$tmp/run" && HOME="$wine_dir/$uid" WINEPREFIX="$wine_dir/$uid/prefix" \
  TMPDIR="$wine_dir/$uid/tmp" WINEDEBUG=-all "$wine" "$exe" -u a.txt >stdout 2>stderr); then
  printf 'HELLO WORLD\r\nMIXED CASE 123\r\n' >"$tmp/want"
  cmp -s "$tmp/want" "$tmp/run/a.up" ||
    fail "the packed morvidex.exe under $wine did not write a.up as expected"
  [ ! -s "$tmp/run/stderr" ] ||
    fail "the packed morvidex.exe wrote to standard error: $(cat "$tmp/run/stderr")"
else
  fail "the packed morvidex.exe failed under $wine: $(cat "$tmp/run/stderr")"
fi
exit "$failed"
