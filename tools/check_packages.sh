#!/usr/bin/env bash
# check_packages.sh deb|zip|source BUILD_DIR, or check_packages.sh reproducible
# Makes a package with CPack and checks what a user, or a distribution, gets
# from it:
#   deb           the .deb of a configured and built folder: its control
#                 fields and exact contents, lintian without an error or a
#                 warning (nor a note on hardening); each program, run from
#                 the unpacked package, gives its --version; each manual
#                 page renders without a warning; each bash completion file
#                 sets up its program's completion; the README's links name
#                 files its folder holds;
#   zip           (a Windows cross-build folder) the zip's six files, its
#                 text files with CR LF line ends and the README's links
#                 naming files it holds, that its programs need no DLL
#                 beyond Windows' own, and that each carries the project's
#                 version information;
#   source        the source tarball of a configured folder holds no build
#                 folder, version control or editor file; configured from it
#                 without SOURCE_DATE_EPOCH, CMake says once that a package
#                 will carry the build time; from it the programs and tests
#                 build as the ci build does (warnings are errors) and the
#                 tests pass but the full-length transfers, which the ci
#                 build runs already; it is built inside BUILD_DIR, so that a
#                 compiler cache whose CCACHE_BASEDIR holds this checkout
#                 finds BUILD_DIR's objects;
#   reproducible  two clean Release builds (the programs alone) of the last
#                 commit, in two other folders, give byte-identical .deb
#                 files (the deb checks run on one of them); no compiler
#                 cache takes part, so that each object is compiled there.
set -euo pipefail
# The end-to-end tests that make whole transfers to the emulated unit.
full_length_transfers='DownloadVerifyAndSaveAgainstAnEmulatedUnit|ProgramAsksBetweenTheStages'
repo=$(cd "$(dirname "$0")/.." && pwd)
self=$repo/tools/check_packages.sh
if [ "${1:-}" = reproducible ] && [ $# -eq 1 ]; then
  kind=reproducible
elif [ $# -ne 2 ] || [ ! -f "${2:-}/CPackConfig.cmake" ]; then
  echo "usage: check_packages.sh deb|zip|source BUILD_DIR (a configured and built folder), or check_packages.sh reproducible" >&2
  exit 2
else
  kind=$1
  build=$(cd "$2" && pwd)
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  name=$(sed -n 's/^set(CPACK_PACKAGE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
fi
programs=(dictbuild flashprog dictinfo)
if [ "$kind" = source ]; then
  scratch=$(mktemp -d "$build/check_packages.XXXXXX")
else
  scratch=$(mktemp -d)
fi
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

# links_held README FOLDER WHAT: every link of README to a file (not a web
# address or a heading of its own) names a file FOLDER holds.
links_held() {
  { grep -o '\]([^)#]*' "$1" || true; } | sed 's/^](//' | LC_ALL=C sort -u |
    while read -r target; do
      [[ -z $target || $target =~ ^[a-z]+: || -e $2/$target ]] || echo "$target"
    done >"$scratch/dangling"
  [ ! -s "$scratch/dangling" ] || fail "the README in $3 links to files it does not hold: $(tr '\n' ' ' <"$scratch/dangling")"
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
    doc="usr/share/doc/$name"
    expected=("$doc/README.md.gz" "$doc/changelog.gz" "$doc/copyright")
    for program in "${programs[@]}"; do
      expected+=("usr/bin/$program" "usr/share/man/man1/$program.1.gz" "usr/share/bash-completion/completions/$program")
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
    # Each completion file, loaded as bash-completion loads it, completes its
    # program (what it completes is tested with the build's tests).
    for program in "${programs[@]}"; do
      bash -c '. "$1" && complete -p "$2"' completion "$scratch/root/usr/share/bash-completion/completions/$program" "$program" \
        >/dev/null 2>&1 || fail "the bash completion file of $program does not set up its completion"
    done
    zcat "$scratch/root/$doc/changelog.gz" | grep -qF "$name ($version) " || fail "the changelog has no entry for $version"
    zcat "$scratch/root/$doc/README.md.gz" >"$scratch/README.md"
    links_held "$scratch/README.md" "$scratch/root/$doc" "the .deb"
    grep -q '^Copyright: [0-9]\{4\}' "$scratch/root/$doc/copyright" || fail "the copyright file names no year"

    # lintian, info tags too: of these, those on hardening (PIE, RELRO,
    # BIND_NOW, stack protector, fortified calls) count as well.
    command -v lintian >/dev/null || fail "lintian is not installed (.ci/run installs it)"
    lintian --info --display-info --no-tag-display-limit "$deb" >"$scratch/lintian" 2>&1 || true
    if grep -E '^(E|W): |^I: .*hardening' "$scratch/lintian" >"$scratch/findings"; then
      fail "lintian on $deb:
$(cat "$scratch/findings")"
    fi
    echo "check_packages: $deb is sound"
    ;;
  zip)
    (cd "$build" && cpack -G ZIP >/dev/null)
    top="${name}-${version}-win64"
    zip="$build/$top.zip"
    [ -f "$zip" ] || fail "cpack made no $zip"
    mkdir "$scratch/unpacked"
    (cd "$scratch/unpacked" && cmake -E tar xf "$zip")
    texts=(README.md CHANGELOG.md LICENSE.txt)
    expected=("${texts[@]/#/$top/}")
    for program in "${programs[@]}"; do
      expected+=("$top/$program.exe")
    done
    same_files "$zip" "$scratch/unpacked" "${expected[@]}"
    # Text files end every line in CR LF, the last one too.
    for text in "${texts[@]}"; do
      file="$scratch/unpacked/$top/$text"
      ! grep -qv $'\r$' "$file" || fail "$text in the zip has lines without CR LF, such as line $(grep -nv $'\r$' "$file" | head -1 | cut -d: -f1)"
      [ "$(tail -c 2 "$file" | od -An -tx1 | tr -d ' ')" = 0d0a ] || fail "$text in the zip does not end in CR LF"
    done
    links_held "$scratch/unpacked/$top/README.md" "$scratch/unpacked/$top" "the zip"
    # The MinGW runtime (libstdc++, libgcc, libwinpthread) must be linked in:
    # the zip carries no DLLs.
    for program in "${programs[@]}"; do
      dlls=$(x86_64-w64-mingw32-objdump -p "$scratch/unpacked/$top/$program.exe" | sed -n 's/^\s*DLL Name: //p')
      ! grep -qi '^lib' <<<"$dlls" || fail "$program.exe needs DLLs the zip does not carry: $(grep -i '^lib' <<<"$dlls" | tr '\n' ' ')"
      # The version information Windows shows in the file's Properties.
      python3 - "$scratch/unpacked/$top/$program.exe" "$program" "$version" <<'PYTHON' || fail "$program.exe: no sound version information"
import struct, sys
path, program, version = sys.argv[1:]
data = open(path, "rb").read()
fixed = data.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO's signature
if fixed < 0:
    sys.exit(f"{path}: no VERSIONINFO resource")
_, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", data, fixed)
numbers = lambda ms, ls: f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
def value(key):
    """The string value stored under key in the StringFileInfo block."""
    at = data.find((key + "\0").encode("utf-16-le"), fixed)
    if at < 0:
        return None
    at += 2 * (len(key) + 1)
    while data[at:at + 2] == b"\0\0":  # the padding to a 32-bit boundary
        at += 2
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")
expected = {
    "FileVersion": version, "ProductVersion": version, "ProductName": "crossword dictionary tools",
    "OriginalFilename": program + ".exe",
}
found = {key: value(key) for key in list(expected) + ["FileDescription", "LegalCopyright"]}
wrong = [f"{key} is {found[key]!r}, not {want!r}" for key, want in expected.items() if found[key] != want]
if numbers(file_ms, file_ls) != version + ".0" or numbers(product_ms, product_ls) != version + ".0":
    wrong.append(f"the fixed file and product versions are {numbers(file_ms, file_ls)} and {numbers(product_ms, product_ls)}")
if not found["FileDescription"]:
    wrong.append("no FileDescription")
if "Copyright" not in (found["LegalCopyright"] or "") or "License" not in found["LegalCopyright"]:
    wrong.append(f"LegalCopyright {found['LegalCopyright']!r} names no copyright and licence")
if wrong:
    sys.exit(f"{path}: " + "; ".join(wrong))
PYTHON
    done
    echo "check_packages: $zip is sound"
    ;;
  source)
    (cd "$build" && cpack --config CPackSourceConfig.cmake -G TGZ >/dev/null)
    top="${name}-${version}"
    tarball="$build/$top.tar.gz"
    [ -f "$tarball" ] || fail "cpack made no $tarball"
    tar -tzf "$tarball" | sed "s|^$top/||" | LC_ALL=C sort >"$scratch/entries"
    # Build folders, version control, editor back-ups, swap and lock files.
    if grep -E '^build[^/]*/|(^|/)\.(git|svn|hg|bzr)|~$|\.sw[a-p]$|(^|/)#[^/]*#$|(^|/)\.#|\.(orig|rej|bak)$' \
        "$scratch/entries" >"$scratch/litter"; then
      fail "$tarball holds what is no source ($(wc -l <"$scratch/litter") entries):
$(head -20 "$scratch/litter")"
    fi
    if git -C "$repo" rev-parse --git-dir >/dev/null 2>&1; then
      # Every file under version control (but its own, such as .gitignore,
      # and those deleted meanwhile) is in it.
      git -C "$repo" ls-files | grep -v '^\.git\|/\.git' | while read -r file; do
        [ ! -e "$repo/$file" ] || grep -qxF "$file" "$scratch/entries" || echo "$file"
      done >"$scratch/missing"
      [ ! -s "$scratch/missing" ] || fail "$tarball lacks files under version control:
$(head -20 "$scratch/missing")"
    fi
    # The programs and tests build from it and the tests pass (but the
    # full-length transfer, which the ci build runs already, and the static
    # checks, which look at the same sources).
    tar -xzf "$tarball" -C "$scratch"
    (cd "$scratch/$top" && env -u SOURCE_DATE_EPOCH cmake --preset ci >"$scratch/build.log" 2>&1 &&
      cmake --build --preset ci >>"$scratch/build.log" 2>&1) || fail "the programs do not build from $tarball:
$(tail -30 "$scratch/build.log")"
    # Without history or SOURCE_DATE_EPOCH, configuring says once that the
    # package will carry the build time; with SOURCE_DATE_EPOCH it is quiet.
    note='will carry the time it is made'
    [ "$(grep -c "$note" "$scratch/build.log")" -eq 1 ] || fail "configuring from $tarball without SOURCE_DATE_EPOCH does not say once that the package will carry the build time"
    (cd "$scratch/$top" && SOURCE_DATE_EPOCH=1 cmake --preset ci 2>&1) | grep -q "$note" &&
      fail "configuring from $tarball with SOURCE_DATE_EPOCH set still says the package will carry the build time"
    (cd "$scratch/$top" && ctest --preset ci --no-tests=error -LE static -E "$full_length_transfers" \
      >"$scratch/test.log" 2>&1) || fail "the tests fail when built from $tarball:
$(tail -40 "$scratch/test.log")"
    echo "check_packages: $tarball is sound: $(wc -l <"$scratch/entries") entries; $(grep -o '[0-9]* tests failed out of [0-9]*' "$scratch/test.log")"
    ;;
  reproducible)
    # Two clones of the last commit, in folders of different names and
    # depths, each built clean as a Release and packed.
    # Each build compiles every object itself: a compiler cache could hand
    # the second the first one's objects, hiding what differs.
    unset CMAKE_CXX_COMPILER_LAUNCHER
    export CCACHE_DISABLE=1
    commit=$(git -C "$repo" rev-parse HEAD)
    [ -z "$(git -C "$repo" status --porcelain --untracked-files=no)" ] ||
      echo "check_packages: note: the changes not committed are not part of this check (it builds $commit)"
    # The two build at once: what one does alone (configure, link, pack)
    # the other fills with compiling.
    folders=(one/crossword-dictionary-tools other/place/src)
    pids=()
    for i in 0 1; do
      source_dir="$scratch/${folders[$i]}"
      mkdir -p "$(dirname "$source_dir")"
      (git clone -q --no-checkout "$repo" "$source_dir" && git -C "$source_dir" checkout -q --detach "$commit" &&
        cd "$source_dir" && cmake --preset release && cmake --build --preset release &&
        cd build-release && cpack -G DEB) >"$scratch/build$i.log" 2>&1 &
      pids+=($!)
    done
    statuses=()
    for i in 0 1; do
      status=0
      wait "${pids[$i]}" || status=$?
      statuses+=("$status")
    done
    debs=()
    for i in 0 1; do
      source_dir="$scratch/${folders[$i]}"
      [ "${statuses[$i]}" -eq 0 ] || fail "the Release build in $source_dir failed:
$(tail -30 "$scratch/build$i.log")"
      debs+=("$(ls "$source_dir"/build-release/*.deb)")
    done
    if ! cmp -s "${debs[0]}" "${debs[1]}"; then
      for i in 0 1; do
        mkdir "$scratch/unpacked$i"
        dpkg-deb -R "${debs[$i]}" "$scratch/unpacked$i"
        dpkg-deb -c "${debs[$i]}" >"$scratch/listing$i"
      done
      fail "two builds of $commit give different packages:
$(diff "$scratch/listing0" "$scratch/listing1"; diff -r "$scratch/unpacked0" "$scratch/unpacked1" | head -20)"
    fi
    "$self" deb "$(dirname "${debs[0]}")"
    echo "check_packages: two clean Release builds of $commit give the same $(basename "${debs[0]}"), byte for byte"
    ;;
  *)
    echo "usage: check_packages.sh deb|zip|source BUILD_DIR, or check_packages.sh reproducible" >&2
    exit 2
    ;;
esac
