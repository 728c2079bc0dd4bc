#!/usr/bin/env bash
# check_packages.sh deb|zip BUILD_DIR
# Makes the package of a configured and built folder with CPack and checks
# what a user gets from it:
#   deb  the .deb's control fields and exact contents; each program, run
#        from the unpacked package, gives its --version; each manual page
#        renders without a warning;
#   zip  (a Windows cross-build folder) the zip's five files, and that its
#        programs need no DLL beyond Windows' own.
set -euo pipefail
if [ $# -ne 2 ] || [ ! -f "$2/CPackConfig.cmake" ]; then
  echo "usage: check_packages.sh deb|zip BUILD_DIR (a configured and built folder)" >&2
  exit 2
fi
kind=$1
build=$(cd "$2" && pwd)
programs=(dictbuild flashprog dictinfo)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=$(sed -n 's/^set(CPACK_PACKAGE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "check_packages: $*" >&2
  exit 1
}

# The files (not folders) under $1, one per line, sorted.
files_under() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); }

same_files() {
  local what=$1 folder=$2
  shift 2
  if ! diff <(printf '%s\n' "$@" | LC_ALL=C sort) <(files_under "$folder") >"$scratch/diff"; then
    fail "$what does not hold exactly the files it should (< missing, > unexpected):
$(cat "$scratch/diff")"
  fi
}

case "$kind" in
  deb)
    (cd "$build" && cpack -G DEB >/dev/null)
    deb="$build/${name}_${version}_$(dpkg --print-architecture).deb"
    [ -f "$deb" ] || fail "cpack made no $deb"
    [ "$(dpkg-deb -f "$deb" Package)" = "$name" ] || fail "$deb: wrong Package field"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb: Version is not $version"
    for field in Maintainer Depends Description; do
      [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "$deb has no $field field"
    done
    dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "$deb: Depends does not name libc6"

    dpkg-deb -x "$deb" "$scratch/root"
    expected=("usr/share/doc/$name/README.md" "usr/share/doc/$name/copyright")
    for program in "${programs[@]}"; do
      expected+=("usr/bin/$program" "usr/share/man/man1/$program.1.gz")
    done
    same_files "$deb" "$scratch/root" "${expected[@]}"

    mkdir "$scratch/work"
    for program in "${programs[@]}"; do
      said=$(cd "$scratch/work" && "$scratch/root/usr/bin/$program" --version) || fail "$program --version failed"
      [ "$said" = "$program $version" ] || fail "$program --version says '$said', not '$program $version'"
      page="$scratch/root/usr/share/man/man1/$program.1.gz"
      zcat "$page" | groff -man -ww -Tutf8 2>"$scratch/warnings" >/dev/null || fail "groff failed on $program.1"
      [ ! -s "$scratch/warnings" ] || fail "$program.1 renders with warnings:
$(cat "$scratch/warnings")"
    done
    [ -z "$(ls -A "$scratch/work")" ] || fail "--version left files behind"
    echo "check_packages: $deb is sound"
    ;;
  zip)
    (cd "$build" && cpack -G ZIP >/dev/null)
    top="${name}-${version}-win64"
    zip="$build/$top.zip"
    [ -f "$zip" ] || fail "cpack made no $zip"
    mkdir "$scratch/unpacked"
    (cd "$scratch/unpacked" && cmake -E tar xf "$zip")
    expected=("$top/README.md" "$top/LICENSE.txt")
    for program in "${programs[@]}"; do
      expected+=("$top/$program.exe")
    done
    same_files "$zip" "$scratch/unpacked" "${expected[@]}"
    # The MinGW runtime (libstdc++, libgcc, libwinpthread) must be linked in:
    # the zip carries no DLLs.
    for program in "${programs[@]}"; do
      dlls=$(x86_64-w64-mingw32-objdump -p "$scratch/unpacked/$top/$program.exe" | sed -n 's/^\s*DLL Name: //p')
      ! grep -qi '^lib' <<<"$dlls" || fail "$program.exe needs DLLs the zip does not carry: $(grep -i '^lib' <<<"$dlls" | tr '\n' ' ')"
    done
    echo "check_packages: $zip is sound"
    ;;
  *)
    echo "usage: check_packages.sh deb|zip BUILD_DIR" >&2
    exit 2
    ;;
esac
