#!/usr/bin/env bash
# Throughput benchmark for morvidex, on a private tmpfs.
#
# Usage (as root): bench/run.sh PATH/TO/morvidex [RUNS]
#
# The script runs itself again inside a mount namespace of its own
# (unshare -m) and mounts a tmpfs there on a fresh directory: the data, the
# outputs and the timings never touch a disk file system, and the mount goes
# away with the namespace. hyperfine times every command RUNS times after one
# warm-up run; before each run its --prepare step removes the outputs, so
# every run creates its files anew:
#   big file: morvidex -l on one 256 MiB CR LF file, against cat, tr and dd;
#   tree:     morvidex -lr on 20,000 files of 1-4 KiB, against cp -rT.
# Then, untimed, strace -c counts the system calls of one tree run.
set -euo pipefail
export LC_ALL=C

DEFAULT_RUNS=10
TMPFS_SIZE=2G
BLOCK_BYTES=4194304         # one generated block of lines
BLOCK_DOUBLINGS=6           # big.txt = 2^6 blocks = 256 MiB
BIG_BYTES=268435456
TREE_DIRS=100
TREE_FILES=20000
BIG_TARGET=1.20             # morvidex / cat, at most
TREE_TARGET=0.85            # morvidex / cp, at most
SAMPLE=tree/d042/f08400     # one tree file whose output is checked

die() { printf 'run.sh: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------------------
# Outside the namespace: check the arguments and tools, make the mount point,
# run the script again in a mount namespace of its own, remove the directory.

# package_of TOOL: the Debian package that provides TOOL.
package_of() {
    case $1 in
        unshare) echo util-linux ;;
        mount | umount) echo mount ;;
        hyperfine | strace) echo "$1" ;;
        awk) echo mawk ;;
        find) echo findutils ;;
        cmp) echo diffutils ;;
        *) echo coreutils ;;
    esac
}

check_tools() {
    local tool missing=0
    for tool in unshare mount umount hyperfine strace awk find cp cat tr dd cmp \
                mktemp realpath; do
        if ! command -v "$tool" >/dev/null; then
            printf "run.sh: missing tool '%s' (Debian: apt-get install %s)\n" \
                "$tool" "$(package_of "$tool")" >&2
            missing=1
        fi
    done
    ((missing == 0)) || exit 1
}

start_outside() {
    [[ $# -ge 1 && $# -le 2 ]] || die "usage: bench/run.sh PATH/TO/morvidex [RUNS]"
    local prog=$1 runs=${2:-$DEFAULT_RUNS} self rc=0
    [[ $runs =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive integer, got '$runs'"
    [[ -f $prog && -x $prog ]] || die "'$prog' is not an executable file"
    check_tools
    ((EUID == 0)) || die "run it as root: it mounts a tmpfs in a mount namespace of its own"
    prog=$(realpath -- "$prog")
    self=$(realpath -- "${BASH_SOURCE[0]}")
    BENCH_DIR=$(mktemp -d "${TMPDIR:-/tmp}/morvidex-bench.XXXXXX")
    # Nothing is ever written to this directory itself, only to the tmpfs
    # mounted on it inside the namespace, so it is empty again here.
    trap 'rmdir -- "$BENCH_DIR"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    MORVIDEX_BENCH_DIR=$BENCH_DIR MORVIDEX_BENCH_CALLER_NS=$(readlink /proc/self/ns/mnt) \
        unshare --mount --propagation private -- "$BASH" "$self" "$prog" "$runs" || rc=$?
    exit "$rc"
}

# ---------------------------------------------------------------------------
# Data generation. The generators use their own random numbers
# (x <- 16807 x mod 2^31-1, exact in awk's doubles), so the data is the same
# with every awk.

# gen_block SEED: BLOCK_BYTES of CR LF lines of 20 to 120 characters (mixed
# case letters, digits, spaces, punctuation); the last line takes up the
# remainder, so the block ends with CR LF.
gen_block() {
    awk -v state="$1" -v total="$BLOCK_BYTES" '
        function rnd() { state = (state * 16807) % 2147483647; return state / 2147483647 }
        BEGIN {
            cs = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz" \
                 "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz" \
                 "0123456789      .,;:!?-()"
            n = length(cs)
            for (left = total; left > 0; left -= len + 2) {
                len = (left <= 144) ? left - 2 : 20 + int(rnd() * 101)
                line = ""
                for (i = 0; i < len; i++) line = line substr(cs, 1 + int(rnd() * n), 1)
                printf "%s\r\n", line
            }
        }'
}

# make_tree BLOCK: TREE_FILES files in TREE_DIRS directories under tree/,
# each 1 to 4 KiB of whole CR LF lines taken from BLOCK at a random line.
make_tree() {
    local d
    for ((d = 0; d < TREE_DIRS; d++)); do mkdir -p -- "$(printf 'tree/d%03d' "$d")"; done
    awk -v state=7 -v files="$TREE_FILES" -v dirs="$TREE_DIRS" '
        function rnd() { state = (state * 16807) % 2147483647; return state / 2147483647 }
        { sub(/\r$/, ""); line[NR] = $0 }
        END {
            per_dir = files / dirs
            for (f = 0; f < files; f++) {
                name = sprintf("tree/d%03d/f%05d.txt", int(f / per_dir), f)
                target = 1024 + int(rnd() * (4096 - 1024 - 150))
                k = 1 + int(rnd() * NR)
                for (size = 0; size < target; size += length(line[k]) + 2) {
                    printf "%s\r\n", line[k] > name
                    k = k % NR + 1
                }
                close(name)
            }
        }' "$1"
}

make_data() {
    local i
    gen_block 12345 >block.txt
    cp block.txt big.txt
    for ((i = 0; i < BLOCK_DOUBLINGS; i++)); do cat big.txt big.txt >big2.txt; mv big2.txt big.txt; done
    [[ $(stat -c %s big.txt) -eq $BIG_BYTES ]] || die "big.txt has $(stat -c %s big.txt) bytes"
    make_tree block.txt
    rm block.txt
}

# ---------------------------------------------------------------------------
# Checks of the program's output (untimed, before the timings).

# expected_of FILE: FILE as morvidex -l writes it: CR dropped, letters
# lowered, LF written as CR LF (the data holds no end-of-file marker).
expected_of() { tr -d '\r' <"$1" | tr 'A-Z' 'a-z' | sed 's/$/\r/'; }

count_outputs() { find tree -type f -name '*.lo' | wc -l; }

check_outputs() {
    "$PROG" -l big.txt >/dev/null
    cmp -s big.lo <(expected_of big.txt) || die "big.lo differs from the expected output"
    rm big.lo
    "$PROG" -lr tree >/dev/null
    [[ $(count_outputs) -eq $TREE_FILES ]] || die "morvidex -lr tree wrote $(count_outputs) .lo files"
    cmp -s "$SAMPLE.lo" <(expected_of "$SAMPLE.txt") || die "$SAMPLE.lo differs from the expected output"
    find tree -name '*.lo' -delete
    printf 'output checked: big.lo, and %s .lo files in tree (%s.lo byte for byte)\n\n' \
        "$TREE_FILES" "$SAMPLE"
}

# ---------------------------------------------------------------------------
# Timings

# medians JSON: the median of each command of a hyperfine export, in order.
medians() { awk '/"median":/ { v = $2; sub(/,$/, "", v); print v + 0 }' "$1"; }

time_big() {
    local q
    q=$(printf '%q' "$PROG")
    hyperfine --style basic --warmup 1 --runs "$RUNS" --export-json big.json \
        --prepare 'rm -f big.lo out' \
        -n 'morvidex -l big.txt' "$q -l big.txt >/dev/null" \
        -n 'cat' 'cat big.txt > out' \
        -n 'tr' "tr 'A-Z' 'a-z' < big.txt > out" \
        -n 'dd' 'dd if=big.txt of=out bs=64K conv=lcase status=none'
    rm -f big.lo out
    printf '\n'
}

# Each command starts from the bare tree: morvidex's prepare step deletes
# the .lo files, cp's removes the copy, and the cleanup after each command's
# last run removes both, so cp never copies the .lo files.
time_tree() {
    local q
    q=$(printf '%q' "$PROG")
    hyperfine --style basic --warmup 1 --runs "$RUNS" --export-json tree.json \
        --prepare "find tree -name '*.lo' -delete" \
        --prepare 'rm -rf copy' \
        --cleanup "find tree -name '*.lo' -delete; rm -rf copy" \
        -n 'morvidex -lr tree' "$q -lr tree >/dev/null" \
        -n 'cp -rT tree copy' 'cp -rT tree copy'
}

# ---------------------------------------------------------------------------
# Report

# row COMMAND MEDIAN [MORVIDEX_MEDIAN [TARGET]]
row() {
    local ratio=- target=- result=''
    if [[ $# -ge 3 ]]; then ratio=$(awk -v a="$3" -v b="$2" 'BEGIN { printf "%.3f", a / b }'); fi
    if [[ $# -ge 4 ]]; then
        target="<= $4"
        result=$(awk -v r="$ratio" -v l="$4" 'BEGIN { print (r + 0 <= l + 0) ? "met" : "not met" }')
    fi
    printf '%-52s %9.4f %12s %9s  %s\n' "$1" "$2" "$ratio" "$target" "$result"
}

print_table() {
    local big tree
    mapfile -t big < <(medians big.json)
    mapfile -t tree < <(medians tree.json)
    [[ ${#big[@]} -eq 4 && ${#tree[@]} -eq 2 ]] || die "unexpected hyperfine export"
    printf '\nmedians of %s runs (seconds); ratio = morvidex / command\n' "$RUNS"
    printf '%-52s %9s %12s %9s  %s\n' command median ratio target result
    row 'morvidex -l big.txt' "${big[0]}"
    row 'cat big.txt > out' "${big[1]}" "${big[0]}" "$BIG_TARGET"
    row "tr 'A-Z' 'a-z' < big.txt > out" "${big[2]}" "${big[0]}"
    row 'dd if=big.txt of=out bs=64K conv=lcase status=none' "${big[3]}" "${big[0]}"
    row 'morvidex -lr tree' "${tree[0]}"
    row 'cp -rT tree copy' "${tree[1]}" "${tree[0]}" "$TREE_TARGET"
}

# One untimed tree run under strace -c: calls per converted file by name.
# In strace's table the calls are the 4th column and the name the last; the
# errors column is blank when there were none.
print_syscalls() {
    find tree -name '*.lo' -delete
    strace -c -f -o strace.txt -- "$PROG" -lr tree >/dev/null
    [[ $(count_outputs) -eq $TREE_FILES ]] || die "the strace run wrote $(count_outputs) .lo files"
    printf '\nsystem calls of one morvidex -lr tree run (strace -c -f), per converted file:\n'
    printf '%-18s %9s %9s %10s\n' syscall calls errors per_file
    awk -v files="$TREE_FILES" '
        /^-/ { next }
        NF >= 5 && $4 ~ /^[0-9]+$/ {
            printf "%-18s %9d %9d %10.3f\n", $NF, $4, (NF == 6 ? $5 : 0), $4 / files
        }' strace.txt | sort -k2,2nr
    find tree -name '*.lo' -delete
}

# ---------------------------------------------------------------------------
# Inside the namespace: mount the tmpfs, generate, check, time, report.

start_inside() {
    local caller_ns=${MORVIDEX_BENCH_CALLER_NS-}
    BENCH_DIR=$MORVIDEX_BENCH_DIR PROG=$1 RUNS=$2
    unset MORVIDEX_BENCH_DIR MORVIDEX_BENCH_CALLER_NS
    [[ -n $caller_ns && $(readlink /proc/self/ns/mnt) != "$caller_ns" ]] \
        || die "not in a mount namespace of its own; not mounting on $BENCH_DIR"
    mount -t tmpfs -o "size=$TMPFS_SIZE,mode=0700" morvidex-bench "$BENCH_DIR"
    trap 'cd / && umount -- "$BENCH_DIR"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    cd -- "$BENCH_DIR"
    printf 'morvidex benchmark: %s\n' "$PROG"
    printf 'runs: %s (+1 warm-up)   cpus: %s   private tmpfs (%s) on %s\n' \
        "$RUNS" "$(nproc)" "$TMPFS_SIZE" "$BENCH_DIR"
    make_data
    printf 'data: big.txt %s bytes; tree: %s files in %s directories, %s KiB\n' \
        "$BIG_BYTES" "$(find tree -type f | wc -l)" "$TREE_DIRS" "$(du -sk tree | cut -f1)"
    check_outputs
    time_big
    time_tree
    print_table
    print_syscalls
}

if [[ -n ${MORVIDEX_BENCH_DIR-} ]]; then
    start_inside "$@"
else
    start_outside "$@"
fi
