#!/bin/sh
# Loads the bash completion into a bash of its own and checks what it
# offers: after "morvidex", the option words; after an option word, the
# names of files and directories, or only of directories when the word
# holds a walk letter.  The names come from a scratch directory.
#   completion.sh COMPLETION_FILE
set -eu
completion=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")

. "$(dirname "$0")/common.sh"
need bash

status=0
bash --norc --noprofile -c '. "$1" && complete -p morvidex' sh "$completion" \
  >"$tmp/completion" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "loading $completion: $(cat "$tmp/completion")"
grep -qx 'complete -o filenames -F _morvidex morvidex' "$tmp/completion" ||
  fail "complete -p morvidex says: $(cat "$tmp/completion")"

mkdir -p "$tmp/work/docs" "$tmp/work/dir two"
: >"$tmp/work/notes.txt"
: >"$tmp/work/name with space.txt"
: >"$tmp/work/docs/a.txt"

# The words are split, never expanded: no star becomes file names here.
set -f
# The words before the cursor|the word being completed|what is offered,
# sorted and separated by "/", or "-" for nothing.
while IFS='|' read -r words current wanted; do
  # shellcheck disable=SC2016,SC2086
  got=$(cd "$tmp/work" && bash --norc --noprofile -c '
    . "$1"
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    _morvidex
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd/ -' \
    sh "$completion" $words "$current")
  [ -n "$got" ] || got=-
  [ "$got" = "$wanted" ] ||
    fail "\"$words $current<TAB>\": offered \"$got\", not \"$wanted\""
done <<'TABLE'
morvidex||-l/-lD/-lR/-ld/-lf/-lr/-u/-uD/-uR/-ud/-uf/-ur
morvidex|-u|-u/-uD/-uR/-ud/-uf/-ur
morvidex|-lr|-lr
morvidex|-x|-
morvidex|no|-
morvidex -l||dir two/docs/name with space.txt/notes.txt
morvidex -uf|n|name with space.txt/notes.txt
morvidex -l notes.txt|d|dir two/docs
morvidex -ld||dir two/docs
morvidex -uD|d|dir two/docs
morvidex -lR docs||dir two/docs
morvidex --version||dir two/docs
morvidex -lr *.txt|no|-
TABLE

[ "$failed" -eq 0 ] && echo "completion of morvidex: option words, files, directories"
exit "$failed"
