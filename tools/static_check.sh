#!/usr/bin/env bash
# static_check.sh format|tidy|cppcheck BUILD_DIR
# One static check over the project's own sources; exits non-zero on any finding.
# BUILD_DIR must hold compile_commands.json (for tidy).
set -euo pipefail
check=$1
build=$2
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
mapfile -t sources < <(find common dictbuild dictinfo flashprog tests fuzz bench -name '*.cpp' -o -name '*.hpp' | sort)

case "$check" in
  format)
    clang-format --dry-run --Werror "${sources[@]}"
    ;;
  tidy)
    # run-clang-tidy takes a regular expression of the files to check.
    run-clang-tidy -quiet -p "$build" "$top/(common|dictbuild|dictinfo|flashprog|tests|bench)/.*\.cpp$"
    ;;
  cppcheck)
    cppcheck --std=c++20 --language=c++ --library=googletest --library=posix \
      --enable=warning,performance,portability --inline-suppr --error-exitcode=1 -q \
      -I common -I dictbuild -I dictinfo -I flashprog -I tests \
      -DFLASHPROG_COM1_DEVICE='"com1"' -DFLASHPROG_COM2_DEVICE='"com2"' \
      common dictbuild dictinfo flashprog bench tests fuzz
    ;;
  *)
    echo "usage: static_check.sh format|tidy|cppcheck BUILD_DIR" >&2
    exit 2
    ;;
esac
