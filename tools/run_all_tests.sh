#!/usr/bin/env bash
# Every check that CI makes, in order:
#  1. the build with warnings as errors, its tests, and the static checks
#     (clang-format, clang-tidy, cppcheck); then its .deb, made and checked;
#  2. the same tests again built by Clang under AddressSanitizer and
#     UndefinedBehaviorSanitizer, and both fuzz targets for a bounded time;
#  3. the Windows cross-build of the programs and their tests, its zip,
#     made and checked, and, where Wine is installed, that test suite run
#     under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset ci && cmake --build --preset ci && ctest --preset ci
tools/check_packages.sh deb build-ci
cmake --preset sanitize && cmake --build --preset sanitize && ctest --preset sanitize
cmake --preset windows && cmake --build --preset windows
tools/check_packages.sh zip build-windows
if grep -q '^WINE_PROGRAM:FILEPATH=/' build-windows/CMakeCache.txt; then
  tools/windows_tests.sh --no-install
else
  echo "Wine is not installed: the Windows tests were built but not run (tools/windows_tests.sh runs them)"
fi
