#!/usr/bin/env bash
# The bash completion of yonderpad-units (packaging/completion): what it offers
# after each kind of word. The bash-completion package's helpers are stood in
# for: _init_completion splits the words, _filedir says which files it would
# offer.
set -u
_init_completion() {
  words=("${COMP_WORDS[@]}")
  cword=$COMP_CWORD
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
}
_filedir() { COMPREPLY=("files:$1"); }
# shellcheck source=/dev/null
source "$1"

failed=0
# check EXPECTED WORD... : the words typed so far, the last one being completed.
check() {
  local expected=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _yonderpad_units
  if [ "${COMPREPLY[*]}" != "$expected" ]; then
    echo "after '$*': expected '$expected', got '${COMPREPLY[*]}'"
    failed=1
  fi
}

check "list" yonderpad-units li
check "send" yonderpad-units --backend jack --json se
check "alsa jack sim" yonderpad-units --backend ""
check "--backend --json --help" yonderpad-units --
check "--wait --json --backend" yonderpad-units list --
check "--reply --timeout --json --backend" yonderpad-units send 1234567 2005 --
check "--to --timeout" yonderpad-units replay a.syx --t
check "files:syx" yonderpad-units replay ""
check "files:syx" yonderpad-units --backend sim record ""
check "files:txt" yonderpad-units record a.syx --text ""
check "" yonderpad-units send 1234567 2005 --timeout ""
check "--reports" yonderpad-units monitor --unit 42 --rep
check "" yonderpad-units list ""
exit $failed
