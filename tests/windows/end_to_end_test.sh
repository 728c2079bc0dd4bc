#!/usr/bin/env bash
# end_to_end_test.sh images|flashprog WINE WINDOWS_BUILD SOURCE_DIR
#
# The Windows programs run under Wine as a user runs them, beside the host
# build of the same sources, which DICTTOOLS_HOST_BUILD names
# (tools/windows_tests.sh sets it; without it the test is skipped, status 77).
#   images     dictbuild.exe on the bundled list writes the host build's
#              images byte for byte, and dictinfo.exe says of them, and of a
#              damaged one, what the host's dictinfo says;
#   flashprog  flashprog.exe in command mode erases, downloads, verifies and
#              saves all 524288 bytes on the emulated unit (a host program)
#              through COM8, which Wine's dosdevices link to the emulator's
#              pseudo-terminal; exit statuses, standard output and dic.sav
#              are checked.
set -uo pipefail
if [ $# -ne 4 ]; then
  echo "usage: end_to_end_test.sh images|flashprog WINE WINDOWS_BUILD SOURCE_DIR" >&2
  exit 2
fi
part=$1 wine=$2 windows_build=$3 source_dir=$4
if [ -z "${DICTTOOLS_HOST_BUILD:-}" ]; then
  echo "skipped: DICTTOOLS_HOST_BUILD does not name a host build (tools/windows_tests.sh sets it)"
  exit 77
fi
host=$DICTTOOLS_HOST_BUILD
export WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# run WHERE PROGRAM ARGS...: runs PROGRAM in folder WHERE; its standard output
# (with Windows' CR LF line ends made LF) goes to WHERE/out, its exit status
# to $status.
run() {
  local where=$1
  shift
  (cd "$where" && "$@" </dev/null >out.raw 2>err)
  status=$?
  tr -d '\r' <"$where/out.raw" >"$where/out"
}

windows() { run "$1" "$wine" "$windows_build/$2/$2.exe" "${@:3}"; }

case "$part" in
  images)
    mkdir "$work/linux" "$work/windows"
    cp "$source_dir/examples/dic.txt" "$work/linux/"
    cp "$source_dir/examples/dic.txt" "$work/windows/"
    run "$work/linux" "$host/dictbuild/dictbuild"
    windows "$work/windows" dictbuild
    [ "$status" -eq 0 ] || fail "dictbuild.exe exited with $status: $(cat "$work/windows/err")"
    cmp -s "$work/linux/out" "$work/windows/out" || fail "dictbuild.exe printed other lines than dictbuild:
$(diff "$work/linux/out" "$work/windows/out")"
    for image in dic.uns dic.bin; do
      cmp "$work/linux/$image" "$work/windows/$image" || fail "dictbuild.exe wrote another $image than dictbuild"
    done

    # A copy of the image with a 0x00 inside the first word, for a report of a problem.
    for folder in linux windows; do
      cp "$work/$folder/dic.uns" "$work/$folder/damaged.uns"
      printf '\0' | dd of="$work/$folder/damaged.uns" bs=1 seek=121 conv=notrunc status=none
    done
    # dictinfo's arguments | its exit status
    cases=(
      "dic.uns|0"
      "dic.bin|0"
      "--words dic.uns|0"
      "--prom --words dic.bin|0"
      "--diff dic.uns dic.bin|0"
      "--word-list dic.txt|0"
      "damaged.uns|1"
      "--diff dic.uns damaged.uns|1"
    )
    for row in "${cases[@]}"; do
      IFS='|' read -r arguments expected <<<"$row"
      read -ra words <<<"$arguments"
      run "$work/linux" "$host/dictinfo/dictinfo" "${words[@]}"
      windows "$work/windows" dictinfo "${words[@]}"
      [ "$status" -eq "$expected" ] || fail "dictinfo.exe $arguments exited with $status, not $expected: $(cat "$work/windows/err")"
      cmp -s "$work/linux/out" "$work/windows/out" || fail "dictinfo.exe $arguments printed other lines than dictinfo:
$(diff "$work/linux/out" "$work/windows/out" | head -20)"
    done
    ;;

  flashprog)
    cp "$source_dir/examples/dic.txt" "$work/"
    run "$work" "$host/dictbuild/dictbuild"
    [ "$status" -eq 0 ] || fail "dictbuild made no image"
    # The same image with its first byte changed, for a mismatch at address 0.
    cp "$work/dic.uns" "$work/other.uns"
    printf '\377' | dd of="$work/other.uns" bs=1 count=1 conv=notrunc status=none
    mkdir "$work/folder.sav"

    prefix=${WINEPREFIX:-$HOME/.wine}
    mkdir -p "$prefix/dosdevices"
    mkfifo "$work/hold"
    "$host/tests/unit_emulator" "$prefix/dosdevices/com8" "$work/flash" <"$work/hold" >"$work/emulator.out" &
    emulator=$!
    exec {hold}>"$work/hold"  # the emulator runs until this closes
    # A minute at most (it starts in a moment, but a busy machine is slow),
    # not longer than it runs.
    for _ in $(seq 600); do
      grep -q ready "$work/emulator.out" 2>/dev/null && break
      kill -0 "$emulator" 2>/dev/null || break
      sleep 0.1
    done
    grep -q ready "$work/emulator.out" || fail "the emulated unit did not start"
    # The unit takes one command per power-up: a line to the emulator powers
    # it down and up again, and it says "ready".
    power_up() {
      local before
      before=$(grep -c ready "$work/emulator.out")
      echo >&"$hold"
      for _ in $(seq 100); do
        [ "$(grep -c ready "$work/emulator.out")" -gt "$before" ] && return
        sleep 0.1
      done
      fail "the emulated unit did not power up"
    }

    # flashprog's arguments | its exit status | a line its standard output holds
    # (when the unit was asked, the last line is "Power down the unit.").
    # In this order: the unit's flash goes from erased to programmed. (other.uns,
    # its index damaged, is no image to the check: --force compares it.)
    cases=(
      "-p|64|"
      "erase now|64|"
      "download missing.uns|1|"
      "-p COM8 erase|0|Erased OK"
      "--port=COM8 download|0|Finished programming."
      "-p COM8 verify|0|Finished, verified OK."
      "--port \\\\.\\COM8 save|0|Finished"
      "-p COM8 save folder.sav|4|"
      "-p COM8 --force verify other.uns|3|Mismatch at 0"
    )
    for row in "${cases[@]}"; do
      IFS='|' read -r arguments expected said <<<"$row"
      read -ra words <<<"$arguments"
      power_up
      windows "$work" flashprog "${words[@]}"
      what="flashprog.exe $arguments"
      [ "$status" -eq "$expected" ] || fail "$what exited with $status, not $expected: $(cat "$work/err")"
      if [ -n "$said" ]; then
        grep -qF "$said" "$work/out" || fail "$what did not print \"$said\": $(cat "$work/out")"
        # (The line end is CR LF or LF; a command substitution drops a last LF.)
        [ "$(tail -n 1 "$work/out")" = "Power down the unit." ] && [ -z "$(tail -c 1 "$work/out")" ] ||
          fail "$what did not end its output with \"Power down the unit.\" and a line end"
      fi
      if [ "$expected" -eq 64 ] && [ -s "$work/out" ]; then
        fail "$what printed on standard output: $(cat "$work/out")"
      fi
      if [ "$arguments" = "--port \\\\.\\COM8 save" ]; then
        cmp "$work/dic.uns" "$work/dic.sav" || fail "dic.sav does not hold the 524288 bytes downloaded"
      fi
    done

    # A unit that does not answer (the emulator stopped): no response.
    kill -STOP "$emulator"
    windows "$work" flashprog -p COM8 verify
    [ "$status" -eq 2 ] || fail "flashprog.exe -p COM8 verify on a silent unit exited with $status, not 2"
    kill -CONT "$emulator"
    exec {hold}>&-
    wait "$emulator" || fail "the emulated unit failed: $(cat "$work/emulator.out")"
    ;;

  *)
    echo "end_to_end_test.sh: no part '$part' (images or flashprog)" >&2
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] || exit 1
echo "the Windows programs under Wine: $part as on the host"
