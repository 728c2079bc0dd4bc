#!/usr/bin/env bash
# Installs Wine (Debian package wine64) and the MinGW-w64 cross compiler if
# they are missing, cross-builds the programs and tests for Windows and runs
# the Windows test suite under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for package in wine64 g++-mingw-w64-x86-64; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
rm -f build-windows/CMakeCache.txt  # so that the new Wine is found
cmake --preset windows && cmake --build --preset windows && ctest --preset windows
