#!/usr/bin/env bash
# Throughput benchmark for morvidex, on a private tmpfs.
#
# Usage (as root): bench/run.sh PATH/TO/morvidex [RUNS]
#
# The script runs itself again inside a mount namespace of its own
# (unshare -m) and mounts a tmpfs there on a fresh directory: the data, the
# outputs and the timings never touch a disk file system, and the mount goes
# away with the namespace. Each command runs once per round, RUNS rounds
# after a warm-up round, the commands of a group in turn; before each run
# the outputs are removed, so every run creates its files anew:
#   big file: morvidex -l on one 256 MiB CR LF file, on all processors and
#             on one (taskset -c 0), against cat;
#   tree:     morvidex -lr on 20,000 files of 1-4 KiB, likewise, against
#             cp -rT.
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
BIG_TARGET=0.85             # morvidex / cat on all processors, at most
TREE_TARGET=0.45            # morvidex / cp on all processors, at most
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
        strace) echo "$1" ;;
        taskset) echo util-linux ;;
        uptime) echo procps ;;
        awk) echo mawk ;;
        find) echo findutils ;;
        cmp) echo diffutils ;;
        *) echo coreutils ;;
    esac
}

check_tools() {
    local tool missing=0
    for tool in unshare mount umount taskset strace awk find cp cat tr cmp \
                mktemp realpath uptime; do
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
# Timings. Rounds are interleaved: each round runs every command of a group
# once, in turn, after a warm-up round that is not counted, so that a change
# in the machine's load falls on all of them alike. Each command starts from
# the bare data: its outputs are removed before it runs.

# wall COMMAND: runs the shell command once; prints its wall time in seconds.
wall() {
    local start=$EPOCHREALTIME
    eval "$1" || die "failed: $1"
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.6f\n", b - a }'
}

# rounds GROUP PREPARE NAME COMMAND...: the rounds of one group; every time
# goes to times.txt as "GROUP NAME ROUND SECONDS".
rounds() {
    local group=$1 prepare=$2 round i t
    shift 2
    for ((round = 0; round <= RUNS; round++)); do
        for ((i = 1; i < $#; i += 2)); do
            eval "$prepare"
            t=$(wall "${@:i+1:1}")
            ((round == 0)) || printf '%s %s %s %s\n' "$group" "${@:i:1}" "$round" "$t" >>times.txt
        done
    done
    eval "$prepare"
}

time_all() {
    local q
    q=$(printf '%q' "$PROG")
    : >times.txt
    rounds big 'rm -f big.lo out' \
        all "$q -l big.txt >/dev/null" \
        one "taskset -c 0 $q -l big.txt >/dev/null" \
        cat 'cat big.txt > out'
    rounds tree "find tree -name '*.lo' -delete; rm -rf copy" \
        all "$q -lr tree >/dev/null" \
        one "taskset -c 0 $q -lr tree >/dev/null" \
        cp 'cp -rT tree copy'
}

# ---------------------------------------------------------------------------
# Report

# median GROUP NAME [BASE]: the median of NAME's times in GROUP, or with
# BASE the median of the per-round ratios NAME / BASE.
median() {
    awk -v g="$1" -v n="$2" -v b="${3-}" '
        $1 == g && $2 == n { t[$3] = $4 }
        $1 == g && $2 == b { u[$3] = $4 }
        END {
            k = 0
            for (r in t) v[++k] = (b == "") ? t[r] : t[r] / u[r]
            for (i = 2; i <= k; i++)
                for (j = i; j > 1 && v[j - 1] > v[j]; j--) { x = v[j]; v[j] = v[j - 1]; v[j - 1] = x }
            printf "%.4f\n", (k % 2) ? v[(k + 1) / 2] : (v[k / 2] + v[k / 2 + 1]) / 2
        }' times.txt
}

# row LABEL GROUP NAME [BASE TARGET]
row() {
    local ratio=- target=- result=''
    if [[ $# -ge 4 ]]; then ratio=$(median "$2" "$3" "$4"); fi
    if [[ $# -ge 5 ]]; then
        target="<= $5"
        result=$(awk -v r="$ratio" -v l="$5" 'BEGIN { print (r + 0 <= l + 0) ? "met" : "not met" }')
    fi
    printf '%-44s %9s %10s %9s  %s\n' "$1" "$(median "$2" "$3")" "$ratio" "$target" "$result"
}

print_table() {
    printf '\nmedians of %s interleaved rounds (seconds); ratio: median of the\n' "$RUNS"
    printf 'per-round ratios morvidex / cat or cp\n'
    printf '%-44s %9s %10s %9s  %s\n' command median ratio target result
    row 'cat big.txt > out' big cat
    row 'morvidex -l big.txt (all processors)' big all cat "$BIG_TARGET"
    row 'morvidex -l big.txt (taskset -c 0)' big one cat
    row 'cp -rT tree copy' tree cp
    row 'morvidex -lr tree (all processors)' tree all cp "$TREE_TARGET"
    row 'morvidex -lr tree (taskset -c 0)' tree one cp
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
    printf 'load before: %s\n' "$(uptime)"
    time_all
    printf 'load after:  %s\n' "$(uptime)"
    print_table
    print_syscalls
}

if [[ -n ${MORVIDEX_BENCH_DIR-} ]]; then
    start_inside "$@"
else
    start_outside "$@"
fi
