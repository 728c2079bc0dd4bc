#!/usr/bin/env bash
# static_check.sh format|cppcheck BUILD_DIR
# static_check.sh tidy BUILD_DIR [SOURCE...]
# One static check over the project's own sources; exits non-zero on any finding.
# tidy checks the given sources, or every one of the project's own that
# BUILD_DIR compiles, in parallel, with BUILD_DIR's compile_commands.json.
# A source it found clean is not checked again while nothing it depends on
# changes: the source, every header the compiler read for it (its .d file
# in BUILD_DIR; the project's by content, the system's by size and time),
# its compile command (the first, for a source compiled twice), .clang-tidy,
# this script and the clang-tidy version. Their hash names a stamp in
# BUILD_DIR/clang-tidy-checked.
# The static analyzer (clang-analyzer-*) follows every path of the
# programs' own sources at full depth; in the tests it runs in its shallow
# mode, which still finds a null pointer or a freed object used there: a
# test's expectations branch in every line, and following each branch deep
# into GoogleTest's own code took most of the whole check's time.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: static_check.sh format|cppcheck BUILD_DIR, or static_check.sh tidy BUILD_DIR [SOURCE...]" >&2
  exit 2
fi
check=$1
build=$(cd "$2" && pwd)
shift 2
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

# "KEY SOURCE" for each source to check (KEY is - when it cannot be known:
# the source is then checked every time).
tidy_keys() {
  python3 - "$build" "$top" "$@" <<'PYTHON'
import hashlib, json, os, re, shlex, subprocess, sys
build, top, *wanted = sys.argv[1:]
own = re.compile(r"(common|dictbuild|dictinfo|flashprog|tests|bench)/.*\.cpp$")
# A source compiled twice (flashprog's own, again with the tests' ports) is
# checked once: its commands differ only in the value of a string. The
# first command of each goes to a database of clang-tidy's own.
commands = {}
with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as database:
    for entry in json.load(database):
        path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
        commands.setdefault(path, entry)
once = json.dumps(list(commands.values()), indent=1)
once_path = os.path.join(build, "clang-tidy-checked", "compile_commands.json")
try:
    with open(once_path, encoding="utf-8") as read:
        unchanged = read.read() == once
except OSError:
    unchanged = False
if not unchanged:
    with open(f"{once_path}.{os.getpid()}", "w", encoding="utf-8") as write:
        write.write(once)
    os.replace(f"{once_path}.{os.getpid()}", once_path)  # whole, for a check running beside this one
if wanted:
    sources = [os.path.realpath(source) for source in wanted]
else:
    sources = sorted(path for path in commands if own.match(os.path.relpath(path, top)))
shared = hashlib.sha256()
shared.update(subprocess.run(["clang-tidy", "--version"], capture_output=True, check=True).stdout)
for configuration in (".clang-tidy", "tools/static_check.sh"):
    with open(os.path.join(top, configuration), "rb") as read:
        shared.update(read.read())

def hash_file(key, path):
    key.update(path.encode() + b"\0")
    if os.path.realpath(path).startswith(top + os.sep):
        with open(path, "rb") as read:
            key.update(hashlib.sha256(read.read()).digest())
    else:  # a system header changes only with its package
        status = os.stat(path)
        key.update(f"{status.st_size} {status.st_mtime_ns}".encode())

for source in sources:
    if source not in commands:
        sys.exit(f"static_check: {source} is not compiled in {build} (no entry in its compile_commands.json)")
    key = shared.copy()
    known = True
    entry = commands[source]
    key.update(entry["command"].encode() + b"\0")
    arguments = shlex.split(entry["command"])
    depfile = os.path.join(entry["directory"], arguments[arguments.index("-o") + 1] + ".d") \
        if "-o" in arguments else ""
    try:
        with open(depfile, encoding="utf-8") as read:
            depends = read.read().replace("\\\n", " ").split()[1:]
        for path in depends:
            hash_file(key, os.path.join(entry["directory"], path))
    except OSError:
        known = False  # not built yet, or a header gone since
    hash_file(key, source)
    print(key.hexdigest() if known else "-", source)
PYTHON
}

# tidy_one KEY SOURCE: clang-tidy on SOURCE, stamped with KEY when clean.
tidy_one() {
  local key=$1 source=$2 output status=0 depth=()
  if [[ $source == "$top"/tests/* ]]; then
    depth=(--extra-arg=-Xclang --extra-arg=-analyzer-config --extra-arg=-Xclang --extra-arg=mode=shallow)
  fi
  output=$(clang-tidy -p "$build/clang-tidy-checked" --quiet "${depth[@]}" "$source" 2>&1) || status=$?
  # (Its count of the warnings it did not show, from system headers, is no finding.)
  grep -v '^[0-9]* warnings\? generated\.$' <<<"$output" || true
  if [ "$status" -eq 0 ] && [ "$key" != - ]; then
    touch "$build/clang-tidy-checked/$key"
  fi
  return "$status"
}

case "$check" in
  format)
    mapfile -t sources < <(find common dictbuild dictinfo flashprog tests fuzz bench -name '*.cpp' -o -name '*.hpp' | sort)
    clang-format --dry-run --Werror "${sources[@]}"
    ;;
  tidy)
    mkdir -p "$build/clang-tidy-checked"
    keys=$(tidy_keys "$@")
    todo=()
    while read -r key source; do
      if [ -z "$key" ]; then
        continue
      elif [ -e "$build/clang-tidy-checked/$key" ]; then
        echo "clang-tidy: ${source#"$top"/}: checked before at the same content"
      else
        todo+=("$key" "$source")
      fi
    done <<<"$keys"
    if ((${#todo[@]})); then
      export -f tidy_one
      export build top
      printf '%s\0' "${todo[@]}" | xargs -0 -n 2 -P "$(nproc)" bash -c 'tidy_one "$@"' tidy_one ||
        { echo "static_check: clang-tidy has findings (above)" >&2; exit 1; }
    fi
    ;;
  cppcheck)
    cppcheck --std=c++20 --language=c++ --library=googletest --library=posix \
      --enable=warning,performance,portability --inline-suppr --error-exitcode=1 -q \
      -I common -I dictbuild -I dictinfo -I flashprog -I tests \
      -DFLASHPROG_COM1_DEVICE='"com1"' -DFLASHPROG_COM2_DEVICE='"com2"' \
      common dictbuild dictinfo flashprog bench tests fuzz
    ;;
  *)
    echo "usage: static_check.sh format|cppcheck BUILD_DIR, or static_check.sh tidy BUILD_DIR [SOURCE...]" >&2
    exit 2
    ;;
esac
