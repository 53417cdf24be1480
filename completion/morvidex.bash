# bash completion for morvidex: the option word first, then the names of
# files (and of directories, to reach files in them) or, after an option
# word with a walk letter (d, D, r or R), the names of directories.
_morvidex() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  if [ "$COMP_CWORD" -eq 1 ]; then
    mapfile -t COMPREPLY < <(compgen -W \
      '-l -u -lf -uf -ld -lD -ud -uD -lr -lR -ur -uR' -- "$cur")
    return
  fi
  case ${COMP_WORDS[1]} in
  -*[dDrR]*) mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
  *) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
  esac
}
complete -o filenames -F _morvidex morvidex
