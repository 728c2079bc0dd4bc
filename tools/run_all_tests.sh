#!/usr/bin/env bash
# Every check that CI makes, in order:
#  1. the build with warnings as errors, its tests, and the static checks
#     (clang-format, clang-tidy, cppcheck); then its .deb, made and checked
#     (lintian among the checks);
#  2. the same tests again built by Clang under AddressSanitizer and
#     UndefinedBehaviorSanitizer, and both fuzz targets for a bounded time;
#  3. the Windows cross-build of the programs and their tests, its zip,
#     made and checked, and that test suite run under Wine (it fails when
#     Wine is missing or a Windows test did not run, and says how many ran);
#  4. two clean Release builds of the last commit giving the same .deb, and
#     the source tarball, from which the programs build and the tests pass.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset ci && cmake --build --preset ci && ctest --preset ci
tools/check_packages.sh deb build-ci
cmake --preset sanitize && cmake --build --preset sanitize && ctest --preset sanitize
cmake --preset windows && cmake --build --preset windows
tools/check_packages.sh zip build-windows
tools/windows_tests.sh --no-install
tools/check_packages.sh reproducible
tools/check_packages.sh source build-ci
