#!/usr/bin/env python3
"""Times a full flashprog download over a pseudo-terminal against the emulated
unit, and beside it, on the same emulator, the minimal poll/read/write loop
doing the same 524288 round trips. Then, against an emulated unit that holds
each answer back for a set delay (as a USB adapter's latency timer does),
starts a download, interrupts it after the first few thousand bytes and
prints the time per round trip flashprog measured against the delay.

usage: bench/flashprog_bench.py [build-folder] [runs] [--download-only | --latency-only]

The build folder is one configured with tests (the default preset's "build"):
it holds tests/unit_emulator, tests/flashprog_on_test_ports (whose COM1 is
tests/ports/com1) and bench/minimal_round_trips.
"""
import os
import pty
import random
import re
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import termios
import time

ROUND_TRIPS = 524288
# The delayed runs: the emulated unit's delay in ms, and the bytes sent
# before the download is interrupted (past the 1000 the hint looks at).
DELAYS_MS = (1, 16)
DELAYED_ROUND_TRIPS = 2000


def start_emulator(build, state, delay_ms=0):
    link = os.path.join(build, "tests", "ports", "com1")
    emulator = subprocess.Popen([os.path.join(build, "tests", "unit_emulator"), "--delay-ms", str(delay_ms), link,
                                 os.path.join(state, "flash")],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    if emulator.stdout.readline().strip() != "ready":
        sys.exit("the emulated unit did not start")
    return emulator, link


def power_up(emulator):
    """The unit takes one command per power-up: a line to the emulator powers
    it down and up again."""
    emulator.stdin.write("\n")
    emulator.stdin.flush()
    if emulator.stdout.readline().strip() != "ready":
        sys.exit("the emulated unit did not power up")


def console_step(console, output, typed):
    """One look at flashprog's console: types the download key once the menu
    waits for it, then reads what has come. Returns whether the key has been
    typed and the new output (None once the console has closed)."""
    if not typed and b"Exit program" in output and not termios.tcgetattr(console)[3] & termios.ICANON:
        os.write(console, b"2")
        typed = True
    if not select.select([console], [], [], 0.01)[0]:
        return typed, b""
    try:
        return typed, os.read(console, 65536)
    except OSError:
        return typed, None


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
        typed, more = console_step(console, output, typed)
        if more is None:
            break
        output += more
        if started is None and b"Waiting for acknowledge" in output:
            started = time.perf_counter()
        if b"Finished programming" in output:
            finished = time.perf_counter()
    os.waitpid(pid, 0)
    os.close(console)
    if started is None or finished is None or b"ERROR" in output:
        sys.exit("the download failed:\n" + output.decode(errors="replace")[-500:])
    return finished - started


def interrupted_download(build, folder, round_trips):
    """flashprog's standard error and the seconds per round trip seen from
    outside (between two progress lines) of a download interrupted with
    SIGINT once `round_trips` bytes have been acknowledged."""
    program = os.path.join(build, "tests", "flashprog_on_test_ports")
    errors = os.path.join(folder, "errors")
    pid, console = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.dup2(os.open(errors, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 2)
        os.execv(program, [program])
    output = b""
    typed = False
    seen = {}  # progress address: when it appeared
    while round_trips not in seen:
        typed, more = console_step(console, output, typed)
        if more is None:
            break
        output += more
        for address in re.findall(rb"Downloading (\d+) of", output[-200:]):
            seen.setdefault(int(address), time.perf_counter())
        if b"ERROR" in output:
            break
    os.kill(pid, signal.SIGINT)
    deadline = time.monotonic() + 5
    while os.waitpid(pid, os.WNOHANG) == (0, 0):
        if time.monotonic() > deadline:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            break
        try:  # keep the console drained so that flashprog never blocks on it
            if select.select([console], [], [], 0.01)[0]:
                os.read(console, 65536)
        except OSError:
            pass
    os.close(console)
    if round_trips not in seen or 1000 not in seen:
        sys.exit("the delayed download failed:\n" + output.decode(errors="replace")[-500:])
    with open(errors, encoding="utf-8", errors="replace") as stream:
        error_text = stream.read()
    return error_text, (seen[round_trips] - seen[1000]) / (round_trips - 1000)


def measured_round_trip(error_text):
    """flashprog's own figure in ms and where it came from: its end line, or
    (for a run killed before it) the slow-line hint."""
    total = re.search(r"([0-9.]+) ms each", error_text)
    if total:
        return float(total.group(1)), "end line"
    hint = re.search(r"each round trip to the unit takes ([0-9.]+) ms", error_text)
    if hint:
        return float(hint.group(1)), "hint (median)"
    return None, "none (killed before its end line, and no hint: the line is fast)"


def latency_runs(build):
    print(f"download interrupted after {DELAYED_ROUND_TRIPS} round trips, unit answering after a set delay")
    print(f"{'delay':>8}  {'flashprog':>10}  {'overhead':>9}  {'outside':>9}  flashprog's figure from")
    for delay in DELAYS_MS:
        with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryDirectory() as state:
            with open(os.path.join(folder, "dic.uns"), "wb") as image:
                image.write(random.Random(1).randbytes(ROUND_TRIPS))
            emulator, _ = start_emulator(build, state, delay)
            try:
                error_text, outside = interrupted_download(build, folder, DELAYED_ROUND_TRIPS)
            finally:
                emulator.stdin.close()
                emulator.wait()
        measured, source = measured_round_trip(error_text)
        figure = f"{measured:7.3f} ms" if measured is not None else f"{'-':>10}"
        overhead = f"{measured - delay:6.3f} ms" if measured is not None else f"{'-':>9}"
        print(f"{delay:5d} ms  {figure}  {overhead}  {outside * 1e3:6.3f} ms  {source}")


def minimal_loop(build, link):
    result = subprocess.run([os.path.join(build, "bench", "minimal_round_trips"), link],
                            capture_output=True, text=True, check=True)
    return float(result.stdout)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    flags = [argument for argument in sys.argv[1:] if argument.startswith("--")]
    positional = [argument for argument in sys.argv[1:] if not argument.startswith("--")]
    build = os.path.abspath(positional[0] if positional else os.path.join(here, "..", "build"))
    runs = int(positional[1]) if len(positional) > 1 else 1
    if "--latency-only" not in flags:
        download_runs(build, runs)
    if "--download-only" not in flags:
        latency_runs(build)


def download_runs(build, runs):
    with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryDirectory() as state:
        with open(os.path.join(folder, "dic.uns"), "wb") as image:
            image.write(random.Random(1).randbytes(ROUND_TRIPS))
        emulator, link = start_emulator(build, state)
        try:
            downloads, loops = [], []
            for _ in range(runs):
                power_up(emulator)
                downloads.append(flashprog_download(build, folder))
                power_up(emulator)
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
