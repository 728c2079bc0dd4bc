#!/usr/bin/env bash
# Every check that CI makes, in parts:
#  1. ci: the build with warnings as errors; its unit and end-to-end tests
#     and the static checks (clang-format, cppcheck, and clang-tidy a test
#     per source, skipping those checked before at the same content), run
#     two at a time;
#  2. windows: the Windows cross-build of the programs and their tests; its
#     zip, made and checked; and that test suite run under Wine (it fails
#     when Wine is missing or a Windows test did not run, and says how many
#     ran), beside parts 3, 4 and 5, since it mostly waits;
#  3. sanitize: the same tests again built by Clang under AddressSanitizer
#     and UndefinedBehaviorSanitizer, and both fuzz targets for a bounded
#     time (FUZZ_SECONDS);
#  4. reproducible: two clean Release builds (programs only) of the last
#     commit giving the same .deb, byte for byte, which is then checked
#     (lintian among the checks);
#  5. source: the source tarball holds what it should, and from it the
#     programs and tests build (as the ci build does) and the tests but the
#     full-length transfer pass.
# A part that fails does not stop the others (but those that need it). At
# the end, a table says how long each part took (wall clock, and processor
# time: user and system), and the run fails when a part failed.
# With ccache installed (.ci/run installs it), builds go through it
# (CCACHE_BASEDIR is this checkout unless set), so that the source
# tarball's build takes the ci build's objects; the reproducibility check
# compiles everything itself.
# From a fresh clone on a 2-core machine with nothing cached: about 8 to
# 10 minutes (15 to 19 minutes of processor time, clang-tidy 5 of them).
# Run again, with ccache and the clang-tidy stamps in build-ci, much less.
set -uo pipefail
cd "$(dirname "$0")/.."

if command -v ccache >/dev/null && [ -z "${CMAKE_CXX_COMPILER_LAUNCHER+set}" ]; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache  # the default of every build configured from here on
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
fi

run_started=$(date +%s%N)
names=() statuses=() walls=() cpus=()
times_file=$(mktemp)
trap 'rm -f "$times_file"*' EXIT

# Sets children_ms to the processor time of this shell's finished children
# (in milliseconds; not in a subshell, whose counts start at zero).
children_cpu() {
  local file=$times_file.$BASHPID user sys
  times >"$file"
  read -r user sys < <(tail -n 1 "$file")
  children_ms=$(($(to_ms "$user") + $(to_ms "$sys")))
}
to_ms() {  # 1m2.345s
  local minutes=${1%%m*} seconds=${1#*m}
  seconds=${seconds%s}
  echo $((10#$minutes * 60000 + 10#${seconds%.*} * 1000 + 10#${seconds#*.}))
}
clock() {
  local m=$(($1 / 60000)) s=$(($1 % 60000 / 1000))
  printf '%dm%02ds' "$m" "$s"
}

# part NAME COMMAND...: runs one part and notes how it went.
part() {
  local name=$1 started cpu_before status=0
  shift
  echo "=== run_all_tests: $name"
  started=$(date +%s%N)
  children_cpu
  cpu_before=$children_ms
  "$@" || status=$?
  names+=("$name")
  statuses+=("$status")
  walls+=($((($(date +%s%N) - started) / 1000000)))
  children_cpu
  cpus+=($((children_ms - cpu_before)))
  [ "$status" -eq 0 ] || echo "=== run_all_tests: $name FAILED (exit status $status)" >&2
  return "$status"
}
# beside COMMAND...: runs COMMAND (parts) in the background, its output
# kept until `joined`.
beside() {
  echo "=== run_all_tests: ${*:2:1}: beside the parts below (its output follows when it ends)"
  (
    names=() statuses=() walls=() cpus=()
    "$@" >"$times_file.beside.log" 2>&1
    for i in "${!names[@]}"; do
      echo "${statuses[$i]} ${walls[$i]} ${cpus[$i]} ${names[$i]}"
    done >"$times_file.beside"
  ) &
  beside_pid=$!
}
joined() {
  [ -n "${beside_pid:-}" ] || return 0
  wait "$beside_pid"
  cat "$times_file.beside.log"
  local status wall cpu name
  while read -r status wall cpu name; do
    names+=("$name (beside)")
    statuses+=("$status")
    walls+=("$wall")
    cpus+=("$cpu")
  done <"$times_file.beside"
  beside_pid=
}
skipped() {
  names+=("$1")
  statuses+=(skipped)
  walls+=(0)
  cpus+=(0)
}

configure_and_build() { cmake --preset "$1" && cmake --build --preset "$1"; }

if part "ci: build" configure_and_build ci; then
  part "ci: tests, static checks" ctest --preset ci
else
  skipped "ci: tests, static checks"
fi

# The tests under Wine mostly wait for Wine and the emulated unit: they run
# beside the parts that compute. (Not beside the ci tests, whose whole
# transfers to the emulated unit wait on every round trip, and take
# minutes instead of seconds when the processors are busy.)
if part "windows: build" configure_and_build windows; then
  part "windows: zip" tools/check_packages.sh zip build-windows
  beside part "windows: tests under Wine" tools/windows_tests.sh --no-install
else
  skipped "windows: zip"
  skipped "windows: tests under Wine"
fi

if part "sanitize: build" configure_and_build sanitize; then
  part "sanitize: tests, fuzzing" ctest --preset sanitize
else
  skipped "sanitize: tests, fuzzing"
fi

part "reproducible .deb" tools/check_packages.sh reproducible
if [ -f build-ci/CPackSourceConfig.cmake ]; then
  part "source tarball" tools/check_packages.sh source build-ci
else
  skipped "source tarball"
fi
joined

failed=0 total_cpu=0
echo
echo "run_all_tests: how long each part took (processor time: user and system, all cores)"
printf '  %-34s %8s %10s  %s\n' part wall processor result
for i in "${!names[@]}"; do
  case "${statuses[$i]}" in
    0) result=passed ;;
    skipped) result="skipped (a part it needs failed)" ;;
    *) result="FAILED (exit status ${statuses[$i]})" failed=1 ;;
  esac
  printf '  %-34s %8s %10s  %s\n' "${names[$i]}" "$(clock "${walls[$i]}")" "$(clock "${cpus[$i]}")" "$result"
  total_cpu=$((total_cpu + cpus[i]))
done
printf '  %-34s %8s %10s\n' "the whole run" "$(clock $((($(date +%s%N) - run_started) / 1000000)))" "$(clock "$total_cpu")"
exit "$failed"
