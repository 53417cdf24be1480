#!/usr/bin/env bash
# Throughput benchmark for morvidex.
#
# Usage: bench/run.sh PATH/TO/morvidex [RUNS]
#
# Generates its own data in a temporary directory (removed on exit), then
# times, with a warm page cache:
#   1. one 256 MiB CR LF text file: morvidex -l against tr, dd conv=lcase
#      and cat;
#   2. a tree of 20,000 small CR LF files in 100 directories:
#      morvidex -lr against cp -rT.
# Each command runs RUNS times (interleaved); medians of wall time are
# compared.
set -euo pipefail
export LC_ALL=C

die() { printf 'run.sh: %s\n' "$*" >&2; exit 1; }

[[ $# -ge 1 && $# -le 2 ]] || die "usage: bench/run.sh PATH/TO/morvidex [RUNS]"

prog_arg=$1
runs=${2:-5}
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive integer, got '$runs'"
[[ -f $prog_arg && -x $prog_arg ]] || die "'$prog_arg' is not an executable file"
# Absolute path: the big-file run changes directory.
MORVIDEX=$(cd "$(dirname -- "$prog_arg")" && pwd -P)/$(basename -- "$prog_arg")

for tool in awk tr dd cat cp cmp sed sort; do
    command -v "$tool" >/dev/null || die "required tool '$tool' not found"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/morvidex-bench.XXXXXX")
cleanup() { rm -rf -- "$work"; }
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

script_start=$EPOCHREALTIME

# ---------------------------------------------------------------------------
# Helpers

# now: seconds since the epoch with microseconds.
now() { printf '%s' "$EPOCHREALTIME"; }

# elapsed START END: END - START in seconds.
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f\n", b - a }'; }

# timed FILE CMD...: run CMD, append its wall time to FILE.
timed() {
    local out=$1; shift
    local t0 t1 rc=0
    t0=$(now)
    "$@" || rc=$?
    t1=$(now)
    (( rc == 0 )) || die "command failed (exit $rc): $*"
    elapsed "$t0" "$t1" >>"$out"
}

# median FILE: median of the numbers in FILE, 3 decimals.
median() {
    sort -g -- "$1" | awk '
        { v[NR] = $1 }
        END {
            if (NR == 0) { print "nan"; exit }
            m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            printf "%.3f\n", m
        }'
}

# ratio A B: A / B, 2 decimals.
ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f\n", a / b; else print "inf" }'
}

# verdict RATIO LIMIT: OK when RATIO <= LIMIT.
verdict() {
    awk -v r="$1" -v l="$2" 'BEGIN { print ((r != "inf" && r + 0 <= l + 0) ? "OK" : "OVER") }'
}

# spread FILE: "min-max" of the numbers in FILE, 3 decimals.
spread() { sort -g -- "$1" | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.3f-%.3f\n", lo, hi }'; }

# row LABEL SECONDS TIMES_FILE
row() { printf '  %-22s %8s s   (range %s)\n' "$1" "$2" "$(spread "$3")"; }

# ratio_row LABEL RATIO [LIMIT]
ratio_row() {
    if [[ $# -eq 3 ]]; then
        printf '  %-22s %8s   target <= %-5s %s\n' "$1" "$2" "$3" "$(verdict "$2" "$3")"
    else
        printf '  %-22s %8s   (reference)\n' "$1" "$2"
    fi
}

# ---------------------------------------------------------------------------
# Data generation

# A 1 MiB block of CR LF lines, 20 to 120 bytes of text each (the last
# line absorbs the remainder so the block is exactly 1 MiB and ends with
# CR LF). Printable ASCII only: letters of both cases, digits, punctuation
# and spaces.
gen_block() {
    awk -v seed="$1" 'BEGIN {
        srand(seed)
        cs = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz" \
             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz" \
             "0123456789      .,;:!?-_()[]{}<>/@#$%&*+=\"'\''"
        n = length(cs)
        total = 1048576
        left = total
        while (left > 0) {
            if (left <= 144) len = left - 2
            else len = 20 + int(rand() * 101)
            line = ""
            for (i = 0; i < len; i++) line = line substr(cs, 1 + int(rand() * n), 1)
            printf "%s\r\n", line
            left -= len + 2
        }
    }'
}

# make_tree BLOCK DIR: 100 directories of 200 files each, 1 to 4 KiB per
# file, made of whole CR LF lines taken from BLOCK at random offsets.
make_tree() {
    local block=$1 dir=$2 d
    mkdir -p -- "$dir"
    for ((d = 0; d < 100; d++)); do mkdir -- "$(printf '%s/d%03d' "$dir" "$d")"; done
    awk -v dir="$dir" -v seed=7 '
        { sub(/\r$/, ""); line[NR] = $0 }
        END {
            srand(seed)
            nl = NR
            for (f = 0; f < 20000; f++) {
                name = sprintf("%s/d%03d/f%05d.txt", dir, int(f / 200), f)
                target = 1024 + int(rand() * (4096 - 1024 - 150))
                k = 1 + int(rand() * nl)
                size = 0
                while (size < target) {
                    printf "%s\r\n", line[k] > name
                    size += length(line[k]) + 2
                    k = (k % nl) + 1
                }
                close(name)
            }
        }' "$block"
}

cd -- "$work"

printf 'morvidex benchmark: %s\n' "$MORVIDEX"
printf '  runs: %s   cpus: %s   work dir: %s\n\n' "$runs" "$(nproc 2>/dev/null || echo '?')" "$work"

printf 'generating data ...\n'
gen_t0=$(now)
gen_block 12345 >block.txt
[[ $(stat -c %s block.txt) -eq 1048576 ]] || die "block generator produced $(stat -c %s block.txt) bytes"
# 256 copies of the block by doubling: 2^8.
cp block.txt big.txt
for ((i = 0; i < 8; i++)); do cat big.txt big.txt >big2.txt; mv big2.txt big.txt; done
[[ $(stat -c %s big.txt) -eq 268435456 ]] || die "big.txt has the wrong size"
make_tree block.txt tree
# cp reads a pristine copy of the tree: once morvidex has run, tree/ also
# holds the .lo outputs, and cp would have twice the data to copy.
cp -r tree plain
gen_t1=$(now)
printf '  big.txt: 256 MiB; tree: %s files in 100 directories (%s KiB)   [%.1f s]\n\n' \
    "$(find plain -type f | wc -l)" "$(du -sk plain | cut -f1)" "$(elapsed "$gen_t0" "$gen_t1")"

# ---------------------------------------------------------------------------
# 1. Big file

cat big.txt >/dev/null   # warm the page cache

run_morvidex_big() { "$MORVIDEX" -l big.txt >/dev/null; }
run_tr()  { tr 'A-Z' 'a-z' <big.txt >tr.out; }
run_dd()  { dd if=big.txt of=dd.out bs=64K conv=lcase 2>/dev/null; }
run_cat() { cat big.txt >cat.out; }

# One untimed pass creates every output file, so each timed run overwrites.
run_morvidex_big
run_tr
run_dd
run_cat

[[ -f big.lo ]] || die "morvidex -l big.txt did not write big.lo"
# Expected output: CR dropped, letters lowered, every LF written as CR LF.
# big.txt ends with CR LF, so the sed pass reproduces it exactly.
if cmp -s big.lo <(tr -d '\r' <big.txt | tr 'A-Z' 'a-z' | sed 's/$/\r/'); then
    printf 'output verified: big.lo matches the expected lower-case CR LF text\n'
else
    die "big.lo differs from the expected output ($(stat -c %s big.lo) bytes; expected $(stat -c %s tr.out))"
fi

: >t_mor_big; : >t_tr; : >t_dd; : >t_cat
# Each command writes 256 MiB; flush it (untimed, the page cache stays warm)
# so the next command does not pay for its writeback.
for ((r = 1; r <= runs; r++)); do
    sync; timed t_mor_big run_morvidex_big
    sync; timed t_tr run_tr
    sync; timed t_dd run_dd
    sync; timed t_cat run_cat
done
m_mor=$(median t_mor_big); m_tr=$(median t_tr); m_dd=$(median t_dd); m_cat=$(median t_cat)
rm -f -- tr.out dd.out cat.out

# ---------------------------------------------------------------------------
# 2. Tree

run_morvidex_tree() { "$MORVIDEX" -lr tree >/dev/null; }
run_cp() { cp -rT plain copy; }

run_morvidex_tree
run_cp

n_lo=$(find tree -type f -name '*.lo' | wc -l)
[[ $n_lo -eq 20000 ]] || die "morvidex -lr tree wrote $n_lo .lo files, expected 20000"
sample=tree/d042/f08400
cmp -s "$sample.lo" <(tr -d '\r' <"$sample.txt" | tr 'A-Z' 'a-z' | sed 's/$/\r/') \
    || die "$sample.lo differs from the expected output"
printf 'output verified: 20000 .lo files in tree, sample %s.lo matches\n\n' "$sample"

: >t_mor_tree; : >t_cp
# One flush before the loop only: on a disk file system, a sync between the
# small-file runs makes each following overwrite far slower and noisier.
sync
for ((r = 1; r <= runs; r++)); do
    timed t_mor_tree run_morvidex_tree
    timed t_cp run_cp
done
m_mor_tree=$(median t_mor_tree); m_cp=$(median t_cp)

# ---------------------------------------------------------------------------
# Report

printf 'big file (256 MiB, CR LF), median of %s runs:\n' "$runs"
row 'morvidex -l' "$m_mor" t_mor_big
row "tr 'A-Z' 'a-z'" "$m_tr" t_tr
row 'dd conv=lcase bs=64K' "$m_dd" t_dd
row 'cat' "$m_cat" t_cat
ratio_row 'morvidex / tr' "$(ratio "$m_mor" "$m_tr")" 0.5
ratio_row 'morvidex / dd' "$(ratio "$m_mor" "$m_dd")" 1.0
ratio_row 'morvidex / cat' "$(ratio "$m_mor" "$m_cat")"
printf '\n'
printf 'tree (20000 files of 1-4 KiB in 100 directories), median of %s runs:\n' "$runs"
row 'morvidex -lr' "$m_mor_tree" t_mor_tree
row 'cp -rT' "$m_cp" t_cp
ratio_row 'morvidex / cp' "$(ratio "$m_mor_tree" "$m_cp")" 1.0
printf '\n'
printf 'total time: %.1f s\n' "$(elapsed "$script_start" "$(now)")"
