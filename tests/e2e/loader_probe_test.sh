#!/bin/sh
# The loader probe with stand-in loaders: one the kernel refuses (a file
# marked executable that is no program) must give a skip with the reason,
# one that starts and crashes must give a failure of one line, and one that
# runs must let the tests run.  Checked for the probe program and for the
# end-to-end tests that probe in process.
#   loader_probe_test.sh PROBE E2E_TESTS
set -u
probe=$1
e2e=$2
reason="this kernel does not run 32-bit x86 programs"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

printf 'no program\n' >"$tmp/refused"
printf '#!/bin/sh\nkill -SEGV $$\n' >"$tmp/crashes"
printf '#!/bin/sh\nexit 0\n' >"$tmp/runs"
chmod 755 "$tmp/refused" "$tmp/crashes" "$tmp/runs"

# The probe program: status and what it says.
while IFS='|' read -r loader status words; do
  out=$("$probe" "$tmp/$loader" 2>&1)
  got=$?
  [ "$got" = "$status" ] || fail "probe $loader: status $got, not $status"
  case $out in
  *"$words"*) ;;
  *) fail "probe $loader said \"$out\", not \"$words\"" ;;
  esac
done <<'TABLE'
refused|77|this kernel does not run 32-bit x86 programs
crashes|1|killed by signal 11
runs|0|
TABLE

# The end-to-end tests, one test under each stand-in: the program itself is
# never started, since a stand-in cannot run it.
run_e2e() {
  MORVIDEX=/bin/false MORVIDEX_WINE_LOADER="$tmp/$1" \
    "$e2e" --gtest_filter=Invocation.OptionWord >"$tmp/out" 2>&1
}
run_e2e refused
[ $? = 0 ] || fail "e2e under a refused loader did not end with status 0"
grep -q '^\[  SKIPPED \] Invocation.OptionWord' "$tmp/out" ||
  fail "e2e under a refused loader was not skipped"
grep -q "$reason" "$tmp/out" || fail "e2e skip does not give the reason"

run_e2e crashes
[ $? != 0 ] || fail "e2e under a crashing loader passed"
n=$(grep -c 'Failure' "$tmp/out")
[ "$n" = 1 ] || fail "e2e under a crashing loader reported $n failures, not 1"
grep -q 'the loader cannot start the program: .*killed by signal 11' \
  "$tmp/out" || fail "e2e under a crashing loader does not say why"

# A loader that runs lets the cases run: /bin/false as the program fails
# them, which shows that they were started.
run_e2e runs
[ $? != 0 ] || fail "e2e under a loader that runs did not run its cases"
grep -q 'SKIPPED' "$tmp/out" && fail "e2e under a loader that runs skipped"

[ "$failed" = 0 ] && echo "probe: refused, crashing and running stand-ins"
exit "$failed"
