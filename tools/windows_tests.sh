#!/usr/bin/env bash
# windows_tests.sh [--no-install]
# Cross-builds the programs and tests for Windows and runs the Windows test
# suite under Wine: the unit tests, the Win32 serial link against the
# emulated unit (a host build) on \\.\COM9, which Wine's dosdevices link to
# its pseudo-terminal, and the programs end to end beside the host build
# (tests/windows/end_to_end_test.sh, on COM8). Wine runs in a prefix of the
# build's own, build-windows/wine (unless WINEPREFIX names another). Says
# how many tests ran, and fails when Wine is missing or a test that needs
# the unit did not run.
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
if ! grep -q '^WINE_PROGRAM:FILEPATH=/' build-windows/CMakeCache.txt; then
  echo "windows_tests: Wine is not installed, so the Windows tests cannot run (install wine64, as .ci/run does)" >&2
  exit 1
fi
# (Configured once: the host build may be in use beside this, and a
# configure writes its files again.)
[ -f build-ci/CMakeCache.txt ] || cmake --preset ci >/dev/null
cmake --build --preset ci --target dictbuild dictinfo unit_emulator

# The emulated flash holds address % 256, so that a read-back shows every byte value.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for value in $(seq 0 255); do printf "\\$(printf %03o "$value")"; done > "$work/pattern"
for _ in $(seq 2048); do cat "$work/pattern"; done > "$work/flash"

export WINEDEBUG=-all
# A Wine prefix of this build's own (unless WINEPREFIX names one): its COM8
# and COM9 and its Wine server are not those of another run on the machine.
export WINEPREFIX=${WINEPREFIX:-$PWD/build-windows/wine}
prefix=$WINEPREFIX
# Set up the Wine prefix before anything is linked into it (once, the first time).
wine=$(sed -n 's/^WINE_PROGRAM:FILEPATH=//p' build-windows/CMakeCache.txt)
# (No .NET or HTML engine: what the tests run needs neither.)
WINEDLLOVERRIDES="mscoree=;mshtml=" "$wine" wineboot --init >/dev/null 2>&1 || true
mkfifo "$work/hold"
build-ci/tests/unit_emulator --always-on "$prefix/dosdevices/com9" "$work/flash" < "$work/hold" > "$work/emulator.out" &
emulator=$!
exec {hold}> "$work/hold"   # the emulator runs until this closes
# A minute at most (it starts in a moment, but a busy machine is slow), not
# longer than it runs.
for _ in $(seq 600); do
  grep -q ready "$work/emulator.out" 2>/dev/null && break
  kill -0 "$emulator" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q ready "$work/emulator.out"; then
  echo "windows_tests: the emulated unit did not start: $(cat "$work/emulator.out")" >&2
  exit 1
fi

status=0
DICTTOOLS_TEST_SERIAL_PORT='\\.\COM9' DICTTOOLS_HOST_BUILD=$PWD/build-ci \
  ctest --preset windows --no-tests=error | tee "$work/ctest.out" || status=$?
exec {hold}>&-
wait

# "100% tests passed, 0 tests failed out of N", then the skipped ones, each "(Skipped)".
total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$work/ctest.out")
grep '(Skipped)$' "$work/ctest.out" >"$work/skipped" || true
if [ -z "$total" ]; then
  echo "windows_tests: ctest gave no summary: the Windows tests did not run" >&2
  exit 1
fi
echo "windows_tests: $((total - $(wc -l <"$work/skipped"))) of $total Windows tests ran under Wine"
# Some tests skip what Wine lacks (symbolic links), but those that need what
# this script sets up must run.
if grep -E 'Win32SerialLink|windows_end_to_end' "$work/skipped"; then
  echo "windows_tests: the tests above did not run: the emulated unit or the host build was missing" >&2
  exit 1
fi
exit $status
