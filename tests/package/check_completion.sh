#!/usr/bin/env bash
# The bash and zsh completion of `ordalis`, each loaded the way its shell loads it (bash sources
# the file, zsh autoloads _ordalis from its fpath) and asked to complete the same command lines;
# the words it offers that start with the word being completed must be the ones expected (files,
# which both also offer, are left out).
# Usage: check_completion.sh BASH_FILE ZSH_DIRECTORY
set -euo pipefail
bash_file=$1
zsh_dir=$2

# The words bash offers for the command line "$@" (its last word is the one being completed).
bash_words() {
  bash -c 'source "$1"; shift
           compgen() { [ "$1" = -f ] || builtin compgen "$@"; }  # files are not what is checked
           COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ordalis
           printf "%s\n" "${COMPREPLY[@]}"' - "$bash_file" "$@" | sort -u | paste -sd' '
}

# The same from zsh: compadd is the completion system's, which filters by the prefix typed.
zsh_words() {
  zsh -f -c 'fpath=("$1" $fpath); autoload -Uz _ordalis; shift
             compadd() { [[ $1 == -- ]] && shift; local w; for w in "$@"; do [[ $w == ${PREFIX}* ]] && print -r -- $w; done; return 0 }
             _files() { return 0 }
             words=("$@"); CURRENT=$#; PREFIX=${words[-1]}; _ordalis' - "$zsh_dir" "$@" | sort -u | paste -sd' '
}

# expected words | the command line, its last word being completed
cases='
--format|ordalis check --form
batch|ordalis bat
run|ordalis batch ru
--junit|ordalis run --jun
--retry|ordalis batch run --ret
--help --version|ordalis --
'
failed=0
while IFS='|' read -r expected line; do
  [ -n "$line" ] || continue
  read -ra words <<<"$line"
  [[ $line == *" " ]] && words+=("")
  for shell in bash zsh; do
    offered=$("${shell}_words" "${words[@]}" 2>&1) || offered="failed: $offered"
    if [ "$offered" != "$expected" ]; then
      echo "$shell completion of '$line': '$offered', expected '$expected'"
      failed=1
    fi
  done
done <<<"$cases"
exit $failed
