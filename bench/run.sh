#!/usr/bin/env bash
# Throughput benchmark for morvidex, on a private tmpfs and, for the flat
# directories, also on the machine's own disk.
#
# Usage (as root): bench/run.sh PATH/TO/morvidex [RUNS]
#
# Environment:
#   BENCH_ROWS        the groups to run, any of "big tree flat collide"
#                     (default: all)
#   BENCH_DISK_DIR    where the scratch directory on the disk of the flat and
#                     collide groups is made (default /var/tmp); a tmpfs
#                     there is refused
#   FLAT_BIG_FILES    files of 2 MiB in the first flat directory (default 256)
#   FLAT_SMALL_FILES  files of 2 KiB in the second one (default 20000)
#   COLLIDE_STEMS     stems in the collide directory, three files of 2 KiB
#                     each (default 5000)
#   BENCH_LANDED      another build of morvidex (the landed one, say), timed
#                     in the same rounds on all processors and on one in the
#                     big, tree and flat groups
#   FLOOR_SRC         the yardstick's source (default
#                     ../shared/yardsticks/floor.cpp from the project root)
#
# The script runs itself again inside a mount namespace of its own
# (unshare -m) and mounts a tmpfs there on a fresh directory: the data, the
# outputs and the timings of the big-file and tree groups never touch a disk
# file system, and the mount goes away with the namespace. Each command runs
# once per round, RUNS rounds after a warm-up round, the commands of a group
# in turn; before each run the outputs are removed, so every run creates its
# files anew:
#   big file: morvidex -l on one 256 MiB CR LF file, on all processors and
#             on one (taskset -c 0), against cat;
#   tree:     morvidex -lr on 20,000 files of 1-4 KiB, likewise, against
#             cp -rT;
#   flat:     morvidex -l '*' run inside one directory of 256 files of
#             2 MiB, and inside one of 20,000 files of 2 KiB, on all
#             processors and on one; the figure is all / one. Each directory
#             is timed on the tmpfs and on a scratch directory on the disk
#             (mktemp -d under BENCH_DISK_DIR, removed on exit), with an
#             untimed sync before every run, beside the yardstick
#             "floor flat" (compiled here with g++ -O3 -march=native -pthread,
#             as its source asks, and timed beside the big file and the tree
#             too; skipped if
#             its source is missing) on as many threads as processors and on
#             one, pinned like the program.
#   collide:  morvidex -l '*' run inside one directory of COLLIDE_STEMS
#             stems, each with three files of 2 KiB (sNNNN.txt, sNNNN.c,
#             sNNNN.b.txt) that all write sNNNN.lo, on all processors and
#             on one; the figure is all / one, on the tmpfs and on the
#             disk like the flat groups. No yardstick: the floor has no
#             notion of names that meet.
# After the tree group, untimed, strace -c counts the system calls of one
# tree run. The big-file and tree data are removed before the flat data is
# made, and the flat data before the collide data, so the tmpfs holds one
# set at a time.
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
DEFAULT_ROWS="big tree flat collide"
FLAT_BIG_BYTES=2097152      # each file of flat-big
FLAT_SMALL_BYTES=2048       # each file of flat-small
DEFAULT_FLAT_BIG_FILES=256
DEFAULT_FLAT_SMALL_FILES=20000
DEFAULT_DISK_BASE=/var/tmp
COLLIDE_BYTES=2048          # each file of the collide directory
DEFAULT_COLLIDE_STEMS=5000
COLLIDE_SUFFIXES=".txt .c .b.txt"   # the three sources of one stem, made in this order
# Flat targets: all processors / one, at most.
FLAT_TMPFS_BIG_TARGET=0.75
FLAT_TMPFS_SMALL_TARGET=0.85
FLAT_DISK_BIG_TARGET=0.70
FLAT_DISK_SMALL_TARGET=1.00
# Before every flat run: its outputs go, and the disk is written out, so
# that no run pays for the writeback of the one before.
FLAT_PREPARE="find . -maxdepth 1 -name '*.lo' -delete; sync"

die() { printf 'run.sh: %s\n' "$*" >&2; exit 1; }

# read_settings: the environment's choices, checked. Sets WANT_BIG,
# WANT_TREE, WANT_FLAT, WANT_COLLIDE (1 for a group that runs, else 0),
# FLAT_BIG_FILES, FLAT_SMALL_FILES and COLLIDE_STEMS. Both sides of the
# namespace read them alike.
read_settings() {
    local word words
    read -r -a words <<<"${BENCH_ROWS:-$DEFAULT_ROWS}"
    WANT_BIG=0 WANT_TREE=0 WANT_FLAT=0 WANT_COLLIDE=0
    for word in "${words[@]}"; do
        case $word in
            big) WANT_BIG=1 ;;
            tree) WANT_TREE=1 ;;
            flat) WANT_FLAT=1 ;;
            collide) WANT_COLLIDE=1 ;;
            *) die "BENCH_ROWS: unknown group '$word' (the groups: $DEFAULT_ROWS)" ;;
        esac
    done
    FLAT_BIG_FILES=${FLAT_BIG_FILES:-$DEFAULT_FLAT_BIG_FILES}
    FLAT_SMALL_FILES=${FLAT_SMALL_FILES:-$DEFAULT_FLAT_SMALL_FILES}
    [[ $FLAT_BIG_FILES =~ ^[1-9][0-9]*$ ]] \
        || die "FLAT_BIG_FILES must be a positive integer, got '$FLAT_BIG_FILES'"
    [[ $FLAT_SMALL_FILES =~ ^[1-9][0-9]*$ ]] \
        || die "FLAT_SMALL_FILES must be a positive integer, got '$FLAT_SMALL_FILES'"
    COLLIDE_STEMS=${COLLIDE_STEMS:-$DEFAULT_COLLIDE_STEMS}
    [[ $COLLIDE_STEMS =~ ^[1-9][0-9]*$ ]] \
        || die "COLLIDE_STEMS must be a positive integer, got '$COLLIDE_STEMS'"
}

# ---------------------------------------------------------------------------
# Outside the namespace: check the arguments and tools, make the mount point
# (and, for the flat and collide groups, the scratch directory on the
# disk), run the script again in a mount namespace of its own, remove both
# directories.

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
        g++) echo g++ ;;
        *) echo coreutils ;;
    esac
}

check_tools() {
    local tool missing=0
    for tool in unshare mount umount taskset strace awk find cp cat tr cmp \
                mktemp realpath uptime sync stat df; do
        if ! command -v "$tool" >/dev/null; then
            printf "run.sh: missing tool '%s' (Debian: apt-get install %s)\n" \
                "$tool" "$(package_of "$tool")" >&2
            missing=1
        fi
    done
    ((missing == 0)) || exit 1
}

# The directories that start_outside made; the disk one is removed with all
# it holds, whatever way the run ended.
remove_outside() {
    rmdir -- "$BENCH_DIR"
    if [[ -n $DISK_DIR ]]; then rm -rf -- "$DISK_DIR"; fi
}

start_outside() {
    [[ $# -ge 1 && $# -le 2 ]] || die "usage: bench/run.sh PATH/TO/morvidex [RUNS]"
    local prog=$1 runs=${2:-$DEFAULT_RUNS} self rc=0 fs
    [[ $runs =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive integer, got '$runs'"
    [[ -f $prog && -x $prog ]] || die "'$prog' is not an executable file"
    read_settings
    check_tools
    ((EUID == 0)) || die "run it as root: it mounts a tmpfs in a mount namespace of its own"
    prog=$(realpath -- "$prog")
    self=$(realpath -- "${BASH_SOURCE[0]}")
    BENCH_DIR=$(mktemp -d "${TMPDIR:-/tmp}/morvidex-bench.XXXXXX")
    DISK_DIR=''
    # Nothing is ever written to this directory itself, only to the tmpfs
    # mounted on it inside the namespace, so it is empty again here.
    trap remove_outside EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    if ((WANT_FLAT || WANT_COLLIDE)); then
        DISK_DIR=$(mktemp -d "${BENCH_DISK_DIR:-$DEFAULT_DISK_BASE}/morvidex-bench-disk.XXXXXX")
        fs=$(stat -f -c %T -- "$DISK_DIR")
        case $fs in
            tmpfs | ramfs) die "$DISK_DIR is on a $fs, not on a disk; set BENCH_DISK_DIR" ;;
        esac
    fi
    MORVIDEX_BENCH_DIR=$BENCH_DIR MORVIDEX_BENCH_DISK_DIR=$DISK_DIR \
        MORVIDEX_BENCH_CALLER_NS=$(readlink /proc/self/ns/mnt) \
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

# flat_name FILES INDEX: the name, without .txt, of file INDEX of a flat
# directory of FILES files: f and INDEX in as many digits as FILES - 1 has.
flat_name() {
    local last=$(($1 - 1))
    printf 'f%0*d' "${#last}" "$2"
}

# collide_stem STEMS INDEX: stem INDEX of a collide directory of STEMS
# stems: s and INDEX in as many digits as STEMS - 1 has.
collide_stem() {
    local last=$(($1 - 1))
    printf 's%0*d' "${#last}" "$2"
}

# make_files DIR STEMS BYTES SEED PREFIX SUFFIXES: for each of STEMS stems,
# PREFIX and the stem's number in as many digits as STEMS - 1 has, one file
# of exactly BYTES bytes per suffix of the space-separated SUFFIXES, made in
# that order, in the one directory DIR, of whole CR LF lines from block.txt
# starting at a random line; the last line of each file is cut from the
# lines that follow to the length that fills the file.
make_files() {
    local last=$(($2 - 1))
    mkdir -- "$1"
    awk -v dir="$1" -v stems="$2" -v bytes="$3" -v state="$4" -v width="${#last}" \
        -v prefix="$5" -v suffixes="$6" '
        function rnd() { state = (state * 16807) % 2147483647; return state / 2147483647 }
        { sub(/\r$/, ""); line[NR] = $0 }
        END {
            fmt = "%s/" prefix "%0" width "d%s"
            n = split(suffixes, suffix, " ")
            for (f = 0; f < stems * n; f++) {
                name = sprintf(fmt, dir, int(f / n), suffix[f % n + 1])
                k = 1 + int(rnd() * NR)
                # A line takes at most 122 bytes, so 3 to 124 are left.
                for (left = bytes; left > 124; k = k % NR + 1) {
                    printf "%s\r\n", line[k] > name
                    left -= length(line[k]) + 2
                }
                for (s = ""; length(s) < left - 2; k = k % NR + 1) s = s line[k]
                printf "%s\r\n", substr(s, 1, left - 2) > name
                close(name)
            }
        }' block.txt
}

# make_flat DIR FILES BYTES SEED: FILES files fNNN.txt of exactly BYTES
# bytes each in the one directory DIR.
make_flat() { make_files "$1" "$2" "$3" "$4" f .txt; }

# make_collide DIR STEMS BYTES SEED: STEMS stems sNNN, each with one file
# of exactly BYTES bytes per suffix of COLLIDE_SUFFIXES, in the one
# directory DIR: every stem's files write the one sNNN.lo.
make_collide() { make_files "$1" "$2" "$3" "$4" s "$COLLIDE_SUFFIXES"; }

# make_data: big.txt and the tree, those of them whose group runs, from
# block.txt.
make_data() {
    local i
    if ((WANT_BIG)); then
        cp block.txt big.txt
        for ((i = 0; i < BLOCK_DOUBLINGS; i++)); do cat big.txt big.txt >big2.txt; mv big2.txt big.txt; done
        [[ $(stat -c %s big.txt) -eq $BIG_BYTES ]] || die "big.txt has $(stat -c %s big.txt) bytes"
    fi
    if ((WANT_TREE)); then make_tree block.txt; fi
}

# ---------------------------------------------------------------------------
# Checks of the program's output (untimed, before the timings).

# expected_of FILE: FILE as morvidex -l writes it: CR dropped, letters
# lowered, LF written as CR LF (the data holds no end-of-file marker).
expected_of() { tr -d '\r' <"$1" | tr 'A-Z' 'a-z' | sed 's/$/\r/'; }

count_outputs() { find tree -type f -name '*.lo' | wc -l; }

check_outputs() {
    local checked=()
    if ((WANT_BIG)); then
        "$PROG" -l big.txt >/dev/null
        cmp -s big.lo <(expected_of big.txt) || die "big.lo differs from the expected output"
        rm big.lo
        checked+=(big.lo)
    fi
    if ((WANT_TREE)); then
        "$PROG" -lr tree >/dev/null
        [[ $(count_outputs) -eq $TREE_FILES ]] || die "morvidex -lr tree wrote $(count_outputs) .lo files"
        cmp -s "$SAMPLE.lo" <(expected_of "$SAMPLE.txt") || die "$SAMPLE.lo differs from the expected output"
        find tree -name '*.lo' -delete
        checked+=("$(printf '%s .lo files in tree (%s.lo byte for byte)' "$TREE_FILES" "$SAMPLE")")
    fi
    if ((${#checked[@]} == 2)); then
        printf 'output checked: %s, and %s\n\n' "${checked[0]}" "${checked[1]}"
    else
        printf 'output checked: %s\n\n' "${checked[0]}"
    fi
}

count_flat() { find "$1" -maxdepth 1 -type f -name '*.lo' | wc -l; }

# check_flat DIR FILES: one untimed morvidex -l '*' inside DIR must write
# FILES .lo files, the middle one as expected_of says; the floor, when there
# is one, must write the same bytes, or it would not be doing the same work.
check_flat() {
    local dir=$1 files=$2 sample
    sample=$dir/$(flat_name "$files" $(($2 / 2)))
    (cd -- "$dir" && "$PROG" -l '*' >/dev/null) || die "morvidex -l '*' failed in $dir"
    [[ $(count_flat "$dir") -eq $files ]] || die "morvidex -l '*' wrote $(count_flat "$dir") .lo files in $dir"
    cmp -s "$sample.lo" <(expected_of "$sample.txt") || die "$sample.lo differs from the expected output"
    find "$dir" -maxdepth 1 -name '*.lo' -delete
    if [[ -n $FLOOR ]]; then
        (cd -- "$dir" && "$FLOOR" flat 1 . >/dev/null) || die "floor flat failed in $dir"
        [[ $(count_flat "$dir") -eq $files ]] || die "floor flat wrote $(count_flat "$dir") .lo files in $dir"
        cmp -s "$sample.lo" <(expected_of "$sample.txt") || die "the floor's $sample.lo differs from morvidex's"
        find "$dir" -maxdepth 1 -name '*.lo' -delete
    fi
}

# collide_outputs DIR: one line per .lo of DIR, its checksum and name, in
# the order of the names.
collide_outputs() {
    (cd -- "$1" && find . -maxdepth 1 -type f -name '*.lo' -exec cksum {} + | sort -k3)
}

# check_collide DIR STEMS: one untimed morvidex -l '*' inside DIR on all
# processors must write STEMS .lo files, the middle stem's as expected_of
# says of the one of its sources that the directory lists last (the one
# converted last, whose output stays); a second one on one processor
# (taskset -c 0) must print the same lines and leave the same outputs.
check_collide() {
    local dir=$1 stems=$2 stem entry suffix last_source all_lines one_lines all_outputs
    stem=$dir/$(collide_stem "$stems" $((stems / 2)))
    all_lines=$(cd -- "$dir" && "$PROG" -l '*') || die "morvidex -l '*' failed in $dir"
    [[ $(count_flat "$dir") -eq $stems ]] || die "morvidex -l '*' wrote $(count_flat "$dir") .lo files in $dir"
    # ls -f lists in the directory's own order, as the walk takes it (find
    # may not: on ext4 it sorts a large directory's entries by inode).
    last_source=''
    while IFS= read -r entry; do
        for suffix in $COLLIDE_SUFFIXES; do
            if [[ $entry == "${stem##*/}$suffix" ]]; then last_source=$dir/$entry; fi
        done
    done < <(ls -f -- "$dir")
    [[ -n $last_source ]] || die "no source of ${stem##*/} in $dir"
    cmp -s "$stem.lo" <(expected_of "$last_source") || die "$stem.lo differs from the expected output of $last_source"
    all_outputs=$(collide_outputs "$dir")
    find "$dir" -maxdepth 1 -name '*.lo' -delete
    one_lines=$(cd -- "$dir" && taskset -c 0 "$PROG" -l '*') || die "taskset -c 0 morvidex -l '*' failed in $dir"
    [[ $one_lines == "$all_lines" ]] || die "in $dir, morvidex -l '*' prints other lines on one processor than on all"
    [[ $(collide_outputs "$dir") == "$all_outputs" ]] \
        || die "in $dir, morvidex -l '*' leaves other outputs on one processor than on all"
    find "$dir" -maxdepth 1 -name '*.lo' -delete
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

# rounds GROUP PREPARE NAME COMMAND...: the rounds of one group, in the
# current directory; every time goes to $TIMES as "GROUP NAME ROUND SECONDS".
rounds() {
    local group=$1 prepare=$2 round i t
    shift 2
    for ((round = 0; round <= RUNS; round++)); do
        for ((i = 1; i < $#; i += 2)); do
            eval "$prepare"
            t=$(wall "${@:i+1:1}")
            ((round == 0)) || printf '%s %s %s %s\n' "$group" "${@:i:1}" "$round" "$t" >>"$TIMES"
        done
    done
    eval "$prepare"
}

# beside ARGS: the commands timed beside morvidex in a group: the landed
# program with ARGS on all processors and on one, when BENCH_LANDED names
# it, and the floor's command FLOOR_ARGS (a global) on as many threads as
# processors and on one, when there is a floor; as NAME COMMAND pairs.
beside() {
    local l f
    BESIDE=()
    if [[ -n ${BENCH_LANDED-} ]]; then
        l=$(printf '%q' "$BENCH_LANDED")
        BESIDE+=(landed-all "$l $1 >/dev/null" landed-one "taskset -c 0 $l $1 >/dev/null")
    fi
    if [[ -n $FLOOR && -n $FLOOR_ARGS ]]; then
        f=$(printf '%q' "$FLOOR")
        BESIDE+=(floor-all "$f ${FLOOR_ARGS/THREADS/$NPROC} >/dev/null"
            floor-one "taskset -c 0 $f ${FLOOR_ARGS/THREADS/1} >/dev/null")
    fi
}

time_all() {
    local q
    q=$(printf '%q' "$PROG")
    if ((WANT_BIG)); then
        FLOOR_ARGS='big THREADS big.txt out'
        beside '-l big.txt'
        rounds big 'rm -f big.lo out' \
            all "$q -l big.txt >/dev/null" \
            one "taskset -c 0 $q -l big.txt >/dev/null" \
            cat 'cat big.txt > out' "${BESIDE[@]}"
    fi
    if ((WANT_TREE)); then
        FLOOR_ARGS='tree THREADS tree'
        beside '-lr tree'
        rounds tree "find tree -name '*.lo' -delete; rm -rf copy" \
            all "$q -lr tree >/dev/null" \
            one "taskset -c 0 $q -lr tree >/dev/null" \
            cp 'cp -rT tree copy' "${BESIDE[@]}"
    fi
}

# flat_dir PLACE SIZE: the flat directory of SIZE (big, small) on PLACE
# (tmpfs, disk).
flat_dir() {
    if [[ $1 == tmpfs ]]; then printf '%s/flat-%s' "$BENCH_DIR" "$2"; else printf '%s/flat-%s' "$DISK_DIR" "$2"; fi
}

# The four flat groups, flat-PLACE-SIZE, each run inside its directory.
time_flat() {
    local q f place size
    q=$(printf '%q' "$PROG")
    for place in tmpfs disk; do
        for size in big small; do
            cd -- "$(flat_dir "$place" "$size")"
            FLOOR_ARGS='flat THREADS .'
            beside "-l '*'"
            rounds "flat-$place-$size" "$FLAT_PREPARE" \
                all "$q -l '*' >/dev/null" \
                one "taskset -c 0 $q -l '*' >/dev/null" "${BESIDE[@]}"
            cd -- "$BENCH_DIR"
        done
    done
}

# The collide groups, collide-PLACE, each run inside its directory.
time_collide() {
    local q place
    q=$(printf '%q' "$PROG")
    for place in tmpfs disk; do
        if [[ $place == tmpfs ]]; then cd -- "$BENCH_DIR/collide"; else cd -- "$DISK_DIR/collide"; fi
        rounds "collide-$place" "$FLAT_PREPARE" \
            all "$q -l '*' >/dev/null" \
            one "taskset -c 0 $q -l '*' >/dev/null"
        cd -- "$BENCH_DIR"
    done
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
        }' "$TIMES"
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
    if ((WANT_BIG)); then
        row 'cat big.txt > out' big cat
        row 'morvidex -l big.txt (all processors)' big all cat "$BIG_TARGET"
        row 'morvidex -l big.txt (taskset -c 0)' big one cat
        beside_rows big cat
    fi
    if ((WANT_TREE)); then
        row 'cp -rT tree copy' tree cp
        row 'morvidex -lr tree (all processors)' tree all cp "$TREE_TARGET"
        row 'morvidex -lr tree (taskset -c 0)' tree one cp
        beside_rows tree cp
    fi
}

# beside_rows GROUP BASE: the rows of the landed program and the floor in
# GROUP against BASE, then each program against the floor, on as many
# threads and on one.
beside_rows() {
    local name
    for name in landed-all landed-one floor-all floor-one; do
        if grep -q "^$1 $name " "$TIMES"; then row "  $name" "$1" "$name" "$2"; fi
    done
    if grep -q "^$1 floor-all " "$TIMES"; then
        for name in all landed-all; do
            if grep -q "^$1 $name " "$TIMES"; then row "  $name / floor-all" "$1" "$name" floor-all; fi
        done
        for name in one landed-one; do
            if grep -q "^$1 $name " "$TIMES"; then row "  $name / floor-one" "$1" "$name" floor-one; fi
        done
    fi
}

# flat_row LABEL GROUP NAME BASE TARGET FLOOR_NAME: like row, with the
# median of the per-round ratios NAME / FLOOR_NAME last; an empty BASE,
# TARGET or FLOOR_NAME leaves its column out.
flat_row() {
    local ratio=- target=- result='' floor=-
    if [[ -n $4 ]]; then ratio=$(median "$2" "$3" "$4"); fi
    if [[ -n $5 ]]; then
        target="<= $5"
        result=$(awk -v r="$ratio" -v l="$5" 'BEGIN { print (r + 0 <= l + 0) ? "met" : "not met" }')
    fi
    if [[ -n $6 ]]; then floor=$(median "$2" "$3" "$6"); fi
    printf '%-44s %9s %10s %9s  %-7s  %s\n' "$1" "$(median "$2" "$3")" "$ratio" "$target" "$result" "$floor"
}

# size_words BYTES: 2 MiB, 2 KiB or so many bytes.
size_words() {
    if (($1 % 1048576 == 0)); then echo "$(($1 / 1048576)) MiB"
    elif (($1 % 1024 == 0)); then echo "$(($1 / 1024)) KiB"
    else echo "$1 bytes"; fi
}

print_flat_table() {
    local place size files bytes target floor_all floor_one group
    printf '\nflat: medians of %s interleaved rounds (seconds); all/one: median of the\n' "$RUNS"
    printf 'per-round ratios on all processors / on one (taskset -c 0)'
    if [[ -n $FLOOR ]]; then
        printf ';\n/floor: median of the per-round ratios morvidex / floor flat on as many\n'
        printf 'threads (all processors: %s threads; taskset -c 0: 1 thread)\n' "$NPROC"
        floor_all=floor-all floor_one=floor-one
    else
        printf '\n'
        floor_all='' floor_one=''
    fi
    printf '%-44s %9s %10s %9s  %-7s  %s\n' command median all/one target result /floor
    for place in tmpfs disk; do
        for size in big small; do
            group=flat-$place-$size
            if [[ $size == big ]]; then files=$FLAT_BIG_FILES bytes=$FLAT_BIG_BYTES
            else files=$FLAT_SMALL_FILES bytes=$FLAT_SMALL_BYTES; fi
            case $place-$size in
                tmpfs-big) target=$FLAT_TMPFS_BIG_TARGET ;;
                tmpfs-small) target=$FLAT_TMPFS_SMALL_TARGET ;;
                disk-big) target=$FLAT_DISK_BIG_TARGET ;;
                disk-small) target=$FLAT_DISK_SMALL_TARGET ;;
            esac
            if [[ $place == tmpfs ]]; then
                printf 'tmpfs, %s files of %s:\n' "$files" "$(size_words "$bytes")"
            else
                printf 'own disk (%s), %s files of %s:\n' "$DISK_FS" "$files" "$(size_words "$bytes")"
            fi
            flat_row "  morvidex -l '*' (all processors)" "$group" all one "$target" "$floor_all"
            flat_row "  morvidex -l '*' (taskset -c 0)" "$group" one '' '' "$floor_one"
            if [[ -n ${BENCH_LANDED-} ]]; then
                flat_row "  landed -l '*' (all processors)" "$group" landed-all landed-one '' "$floor_all"
                flat_row "  landed -l '*' (taskset -c 0)" "$group" landed-one '' '' "$floor_one"
            fi
            if [[ -n $FLOOR ]]; then
                flat_row "  floor flat $NPROC" "$group" floor-all floor-one '' ''
                flat_row "  floor flat 1 (taskset -c 0)" "$group" floor-one '' '' ''
            fi
        done
    done
}

print_collide_table() {
    local place per_stem files
    per_stem=$(wc -w <<<"$COLLIDE_SUFFIXES")
    files=$((COLLIDE_STEMS * per_stem))
    printf '\ncollide: medians of %s interleaved rounds (seconds); all/one: median of\n' "$RUNS"
    printf 'the per-round ratios on all processors / on one (taskset -c 0)\n'
    printf '%-44s %9s %10s\n' command median all/one
    for place in tmpfs disk; do
        if [[ $place == tmpfs ]]; then
            printf 'tmpfs, %s stems x %s (%s files) of %s:\n' \
                "$COLLIDE_STEMS" "$per_stem" "$files" "$(size_words "$COLLIDE_BYTES")"
        else
            printf 'own disk (%s), %s stems x %s (%s files) of %s:\n' \
                "$DISK_FS" "$COLLIDE_STEMS" "$per_stem" "$files" "$(size_words "$COLLIDE_BYTES")"
        fi
        printf '%-44s %9s %10s\n' "  morvidex -l '*' (all processors)" \
            "$(median "collide-$place" all)" "$(median "collide-$place" all one)"
        printf '%-44s %9s %10s\n' "  morvidex -l '*' (taskset -c 0)" "$(median "collide-$place" one)" -
    done
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

# build_floor: compiles the yardstick into the tmpfs and sets FLOOR to it,
# or leaves FLOOR empty and says why.
build_floor() {
    FLOOR=''
    if [[ ! -f $FLOOR_SRC ]]; then
        printf 'floor rows skipped: %s not found\n' "$FLOOR_SRC"
    elif ! command -v g++ >/dev/null; then
        printf "floor rows skipped: no g++ to compile %s (Debian: apt-get install %s)\n" \
            "$FLOOR_SRC" "$(package_of g++)"
    elif ! g++ -O3 -march=native -pthread -o "$BENCH_DIR/floor" "$FLOOR_SRC"; then
        printf 'floor rows skipped: %s does not compile\n' "$FLOOR_SRC"
    else
        FLOOR=$BENCH_DIR/floor
        printf 'floor: %s, compiled with g++ -O3 -march=native -pthread\n' "$FLOOR_SRC"
    fi
}

# ---------------------------------------------------------------------------
# Inside the namespace: mount the tmpfs, generate, check, time, report.

# The big-file and tree groups, as many of them as run.
bench_big_tree() {
    local data=()
    make_data
    if ((WANT_BIG)); then data+=("$(printf 'big.txt %s bytes' "$BIG_BYTES")"); fi
    if ((WANT_TREE)); then
        data+=("$(printf 'tree: %s files in %s directories, %s KiB' \
            "$(find tree -type f | wc -l)" "$TREE_DIRS" "$(du -sk tree | cut -f1)")")
    fi
    if ((${#data[@]} == 2)); then
        printf 'data: %s; %s\n' "${data[0]}" "${data[1]}"
    else
        printf 'data: %s\n' "${data[0]}"
    fi
    check_outputs
    NPROC=$(nproc)
    build_floor
    printf 'load before: %s\n' "$(uptime)"
    time_all
    printf 'load after:  %s\n' "$(uptime)"
    print_table
    if ((WANT_TREE)); then print_syscalls; fi
}

# The flat groups: the data on the tmpfs and a copy on the disk, the floor,
# the checks, the rounds, the table.
bench_flat() {
    local size dir mounted
    rm -rf -- big.txt tree strace.txt
    make_flat flat-big "$FLAT_BIG_FILES" "$FLAT_BIG_BYTES" 11
    make_flat flat-small "$FLAT_SMALL_FILES" "$FLAT_SMALL_BYTES" 13
    cp -rT flat-big "$DISK_DIR/flat-big"
    cp -rT flat-small "$DISK_DIR/flat-small"
    sync
    DISK_FS=$(stat -f -c %T -- "$DISK_DIR")
    mounted=$(df --output=fstype,target -- "$DISK_DIR" | awk 'NR == 2 { print $1 " on " $2 }')
    NPROC=$(nproc)
    printf '\nflat directories: morvidex -l '"'*'"' run inside each; sync before every run\n'
    printf 'own disk: %s (stat -f: %s; mounted: %s)\n' "$DISK_DIR" "$DISK_FS" "$mounted"
    printf 'data: flat-big: %s files of %s; flat-small: %s files of %s; on the tmpfs and on the disk\n' \
        "$FLAT_BIG_FILES" "$(size_words "$FLAT_BIG_BYTES")" \
        "$FLAT_SMALL_FILES" "$(size_words "$FLAT_SMALL_BYTES")"
    build_floor
    for dir in "$BENCH_DIR" "$DISK_DIR"; do
        for size in big small; do
            if [[ $size == big ]]; then check_flat "$dir/flat-$size" "$FLAT_BIG_FILES"
            else check_flat "$dir/flat-$size" "$FLAT_SMALL_FILES"; fi
        done
    done
    printf 'output checked: every .lo of the four directories counted, the middle one byte for byte'
    if [[ -n $FLOOR ]]; then printf ', and the floor'"'"'s alike'; fi
    printf '\n\n'
    printf 'load before: %s\n' "$(uptime)"
    time_flat
    printf 'load after:  %s\n' "$(uptime)"
    print_flat_table
}

# The collide groups: the data on the tmpfs and a copy on the disk, the
# checks, the rounds, the table. The flat data, if any, goes first.
bench_collide() {
    local dir mounted
    rm -rf -- big.txt tree strace.txt flat-big flat-small "$DISK_DIR/flat-big" "$DISK_DIR/flat-small"
    make_collide collide "$COLLIDE_STEMS" "$COLLIDE_BYTES" 17
    cp -rT collide "$DISK_DIR/collide"
    sync
    DISK_FS=$(stat -f -c %T -- "$DISK_DIR")
    mounted=$(df --output=fstype,target -- "$DISK_DIR" | awk 'NR == 2 { print $1 " on " $2 }')
    printf '\ncollide directory: morvidex -l '"'*'"' run inside it; sync before every run\n'
    printf 'own disk: %s (stat -f: %s; mounted: %s)\n' "$DISK_DIR" "$DISK_FS" "$mounted"
    printf 'data: %s stems, each with %s of %s (%s files); on the tmpfs and on the disk\n' \
        "$COLLIDE_STEMS" "$COLLIDE_SUFFIXES" "$(size_words "$COLLIDE_BYTES")" \
        "$((COLLIDE_STEMS * $(wc -w <<<"$COLLIDE_SUFFIXES")))"
    for dir in "$BENCH_DIR" "$DISK_DIR"; do check_collide "$dir/collide" "$COLLIDE_STEMS"; done
    printf 'output checked: in both directories every stem'"'"'s .lo counted, the middle one byte for byte,\n'
    printf 'and the lines printed and the outputs alike on all processors and on one\n\n'
    printf 'load before: %s\n' "$(uptime)"
    time_collide
    printf 'load after:  %s\n' "$(uptime)"
    print_collide_table
}

start_inside() {
    local caller_ns=${MORVIDEX_BENCH_CALLER_NS-} root
    BENCH_DIR=$MORVIDEX_BENCH_DIR DISK_DIR=${MORVIDEX_BENCH_DISK_DIR-} PROG=$1 RUNS=$2
    unset MORVIDEX_BENCH_DIR MORVIDEX_BENCH_DISK_DIR MORVIDEX_BENCH_CALLER_NS
    read_settings
    ((WANT_FLAT == 0 && WANT_COLLIDE == 0)) || [[ -d $DISK_DIR ]] \
        || die "no scratch directory on the disk for the flat and collide groups"
    root=$(dirname -- "$(dirname -- "$(realpath -- "${BASH_SOURCE[0]}")")")
    FLOOR_SRC=${FLOOR_SRC:-$(realpath -m -- "$root/../shared/yardsticks/floor.cpp")}
    [[ -n $caller_ns && $(readlink /proc/self/ns/mnt) != "$caller_ns" ]] \
        || die "not in a mount namespace of its own; not mounting on $BENCH_DIR"
    mount -t tmpfs -o "size=$TMPFS_SIZE,mode=0700" morvidex-bench "$BENCH_DIR"
    trap 'cd / && umount -- "$BENCH_DIR"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    cd -- "$BENCH_DIR"
    TIMES=$BENCH_DIR/times.txt
    : >"$TIMES"
    printf 'morvidex benchmark: %s\n' "$PROG"
    printf 'runs: %s (+1 warm-up)   cpus: %s   private tmpfs (%s) on %s\n' \
        "$RUNS" "$(nproc)" "$TMPFS_SIZE" "$BENCH_DIR"
    gen_block 12345 >block.txt
    if ((WANT_BIG || WANT_TREE)); then bench_big_tree; fi
    if ((WANT_FLAT)); then bench_flat; fi
    if ((WANT_COLLIDE)); then bench_collide; fi
}

if [[ -n ${MORVIDEX_BENCH_DIR-} ]]; then
    start_inside "$@"
else
    start_outside "$@"
fi
