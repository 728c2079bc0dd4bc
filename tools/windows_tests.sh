#!/usr/bin/env bash
# windows_tests.sh [--no-install]
# Cross-builds the programs and tests for Windows and runs the Windows test
# suite under Wine, with the emulated unit (a host build) on \\.\COM9 for
# the serial test: Wine's dosdevices link com9 to its pseudo-terminal.
# Installs Wine (wine64) and MinGW-w64 first when they are missing, unless
# --no-install is given.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--no-install" ]; then
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
  rm -f build-windows/CMakeCache.txt  # so that a newly installed Wine is found
fi

cmake --preset windows && cmake --build --preset windows
cmake --preset ci >/dev/null && cmake --build --preset ci --target unit_emulator

# The emulated flash holds address % 256, so that a read-back shows every byte value.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for value in $(seq 0 255); do printf "\\$(printf %03o "$value")"; done > "$work/pattern"
for _ in $(seq 2048); do cat "$work/pattern"; done > "$work/flash"

export WINEDEBUG=-all
prefix=${WINEPREFIX:-$HOME/.wine}
mkfifo "$work/hold"
build-ci/tests/unit_emulator "$prefix/dosdevices/com9" "$work/flash" < "$work/hold" > "$work/emulator.out" &
exec {hold}> "$work/hold"   # the emulator runs until this closes
until grep -q ready "$work/emulator.out" 2>/dev/null; do sleep 0.1; done

status=0
DICTTOOLS_TEST_SERIAL_PORT='\\.\COM9' ctest --preset windows || status=$?
exec {hold}>&-
wait
exit $status
