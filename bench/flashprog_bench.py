#!/usr/bin/env python3
"""Times a full flashprog download over a pseudo-terminal against the emulated
unit, and beside it, on the same emulator, the minimal poll/read/write loop
doing the same 524288 round trips.

usage: bench/flashprog_bench.py [build-folder] [runs]

The build folder is one configured with tests (the default preset's "build"):
it holds tests/unit_emulator, tests/flashprog_on_test_ports (whose COM1 is
tests/ports/com1) and bench/minimal_round_trips.
"""
import os
import pty
import random
import select
import statistics
import subprocess
import sys
import tempfile
import termios
import time

ROUND_TRIPS = 524288


def start_emulator(build, state):
    link = os.path.join(build, "tests", "ports", "com1")
    emulator = subprocess.Popen([os.path.join(build, "tests", "unit_emulator"), link, os.path.join(state, "flash")],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    if emulator.stdout.readline().strip() != "ready":
        sys.exit("the emulated unit did not start")
    return emulator, link


def flashprog_download(build, folder):
    """Seconds from the download command to its last acknowledge."""
    program = os.path.join(build, "tests", "flashprog_on_test_ports")
    pid, console = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.execv(program, [program])
    output = b""
    typed = False
    started = finished = None
    while finished is None:
        if not typed and b"Exit program" in output and not termios.tcgetattr(console)[3] & termios.ICANON:
            os.write(console, b"2")
            typed = True
        ready, _, _ = select.select([console], [], [], 0.01)
        if ready:
            try:
                output += os.read(console, 65536)
            except OSError:
                break
        if started is None and b"Waiting for acknowledge" in output:
            started = time.perf_counter()
        if b"Finished programming" in output:
            finished = time.perf_counter()
    os.waitpid(pid, 0)
    os.close(console)
    if started is None or finished is None or b"ERROR" in output:
        sys.exit("the download failed:\n" + output.decode(errors="replace")[-500:])
    return finished - started


def minimal_loop(build, link):
    result = subprocess.run([os.path.join(build, "bench", "minimal_round_trips"), link],
                            capture_output=True, text=True, check=True)
    return float(result.stdout)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build"))
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryDirectory() as state:
        with open(os.path.join(folder, "dic.uns"), "wb") as image:
            image.write(random.Random(1).randbytes(ROUND_TRIPS))
        emulator, link = start_emulator(build, state)
        try:
            downloads, loops = [], []
            for _ in range(runs):
                downloads.append(flashprog_download(build, folder))
                loops.append(minimal_loop(build, link))
        finally:
            emulator.stdin.close()
            emulator.wait()
    download, loop = statistics.median(downloads), statistics.median(loops)
    print(f"{ROUND_TRIPS} round trips over a pseudo-terminal, {runs} run(s), medians")
    print(f"flashprog download   {download:8.2f} s  {download / ROUND_TRIPS * 1e6:7.1f} us per round trip")
    print(f"minimal loop         {loop:8.2f} s  {loop / ROUND_TRIPS * 1e6:7.1f} us per round trip")
    print(f"ratio flashprog / minimal loop  {download / loop:.3f}")


if __name__ == "__main__":
    main()
