#!/usr/bin/env bash
# completion_test.sh COMPLETION_SCRIPT
# Sources bash-completion and the programs' completion script, completes
# command lines as readline would hand them over, in a scratch folder, and
# compares what is offered. Exit 77 (skipped) without bash-completion.
set -uo pipefail
script=$1
helpers=/usr/share/bash-completion/bash_completion
if [ ! -r "$helpers" ]; then
  echo "completion_test: $helpers is missing (package bash-completion): skipped"
  exit 77
fi
# bash-completion reads unset variables and ends on failed tests of its own.
set +u
# shellcheck source=/dev/null
. "$helpers"
# shellcheck source=/dev/null
. "$script"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
touch dic.txt dic.uns -- -old.uns
mkdir unit7

# What the completion function of LINE's program offers for its last word
# (an empty one after a trailing space), sorted, on one line. An '=' is a
# word of its own, as readline splits it.
offered() {
  local line=$1
  local -a COMP_WORDS
  read -r -a COMP_WORDS <<<"${line//=/ = }"
  [[ $line == *' ' ]] && COMP_WORDS+=("")
  local COMP_LINE=$line COMP_POINT=${#line} COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  local COMPREPLY=()
  local function
  function=$(complete -p "${COMP_WORDS[0]}" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
  "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' '
}

failures=0
# One row per thing completed: the command line, then what it offers.
while IFS='|' read -r line expected; do
  [ -n "$line" ] || continue
  got=$(offered "$line")
  if [ "$got" != "$expected" ]; then
    echo "FAIL: '$line' offers '$got', not '$expected'"
    failures=$((failures + 1))
  fi
done <<'CASES'
flashprog |download erase program save verify
flashprog -q v|verify
flashprog --f|--force
flashprog --q|--quiet
flashprog -p CO|COM1 COM2
flashprog --port=CO|COM1 COM2
flashprog -p COM1 program d|dic.txt dic.uns
flashprog save u|unit7
flashprog erase |
flashprog --version |
dictbuild -C |unit7
dictbuild --directory=u|unit7
dictbuild --d|--directory
dictbuild d|dic.txt dic.uns
dictinfo --w|--word-list --words
dictinfo --prom dic.u|dic.uns
dictinfo -- -|-old.uns
CASES

if [ "$failures" -ne 0 ]; then
  echo "completion_test: $failures of the completions are wrong"
  exit 1
fi
echo "completion_test: every completion is as expected"
