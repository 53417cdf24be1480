#!/bin/sh
# Checks the rooms of src/, top to bottom cli, translate, report, textio,
# work and platform: a file includes project headers from its own room and
# the rooms below it only, and outside src/platform/ no header but the
# standard C++ ones and the compiler's vector intrinsics, none of which
# brings in a system call.  A room that does not exist yet has no files.
#   layers.sh SOURCE_DIR
set -eu
source=$1

. "$(dirname "$0")/common.sh"

rooms="cli translate report textio work platform"

# The rank of a room, 1 at the top; 0 for a name that is no room.
rank() {
  n=0
  for r in $rooms; do
    n=$((n + 1))
    [ "$r" != "$1" ] || { echo "$n"; return; }
  done
  echo 0
}

cd "$source/src"
find . -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.in' \) |
  sort >"$tmp/files"
count=0
while read -r file; do
  file=${file#./}
  count=$((count + 1))
  room=${file%%/*}
  own=$(rank "$room")
  [ "$own" -gt 0 ] || { fail "src/$file is in no room"; continue; }
  # Each included name with its delimiters: "room/name.h" or <name>.
  sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*\([<"][^>"]*[>"]\).*/\1/p' \
    "$file" >"$tmp/includes"
  while read -r include; do
    case $include in
    \"*/*\")
      name=${include#\"}
      there=${name%%/*}
      above=$(rank "$there")
      if [ "$above" -eq 0 ]; then
        fail "src/$file includes $include, which is in no room"
      elif [ "$above" -lt "$own" ]; then
        fail "src/$file includes $include from $there, a room above $room"
      fi
      ;;
    \"*\") ;; # a header beside the file, in its own room
    *)
      [ "$room" != platform ] || continue
      case $include in
      *[./]*) ;;
      *) continue ;; # a standard C++ header: <cstring>, <atomic>
      esac
      case $include in
      \<*/*\>) ;;
      \<*intrin.h\>) continue ;; # the compiler's vector instructions
      esac
      fail "src/$file includes the system header $include outside src/platform"
      ;;
    esac
  done <"$tmp/includes"
done <"$tmp/files"

[ "$failed" -eq 0 ] &&
  echo "layers of src/: $count files, every include points down, system headers only in src/platform"
exit "$failed"
