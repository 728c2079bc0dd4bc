#!/usr/bin/env bash
# Every check that CI makes, in order:
#  1. the build with warnings as errors, its tests, and the static checks
#     (clang-format, clang-tidy, cppcheck);
#  2. the same tests again built by Clang under AddressSanitizer and
#     UndefinedBehaviorSanitizer, and both fuzz targets for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset ci && cmake --build --preset ci && ctest --preset ci
cmake --preset sanitize && cmake --build --preset sanitize && ctest --preset sanitize
