#!/usr/bin/env bash
# quick_check.sh: the check for every day, before a commit.
# Builds the ci build (warnings are errors; in build-ci, which
# tools/run_all_tests.sh builds on) and runs its unit and end-to-end tests,
# two at a time: all but the static checks and the full-length transfers to
# the emulated unit, which take minutes and are left to
# tools/run_all_tests.sh, with the sanitizers, Windows and the packages.
# Builds go through ccache when it is installed.
# On a 2-core machine: under two minutes the first time (the build), under
# half a minute after a change to one file.
set -euo pipefail
cd "$(dirname "$0")/.."

if command -v ccache >/dev/null && [ -z "${CMAKE_CXX_COMPILER_LAUNCHER+set}" ]; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache  # the default of a build configured here
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
fi

started=$SECONDS
cmake --preset ci >/dev/null
cmake --build --preset ci
ctest --preset ci -LE static -E 'DownloadVerifyAndSaveAgainstAnEmulatedUnit|ProgramAsksBetweenTheStages'
echo "quick_check: passed in $((SECONDS - started)) s (tools/run_all_tests.sh makes every check)"
