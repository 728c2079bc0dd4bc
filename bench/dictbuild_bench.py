#!/usr/bin/env python3
"""Times dictbuild on a 200000-line word list against `LC_ALL=C sort -f` on the
same file, and reports dictbuild's peak memory.

usage: bench/dictbuild_bench.py [path/to/dictbuild] [runs]
Needs GNU time (/usr/bin/time, Debian package "time").
"""
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

LINES = 200000


def make_word_list(path):
    """Distinct pseudo-words of 2 to 29 letters, some capitalised, in random order."""
    rng = random.Random(2026)
    letters = "abcdefghijklmnopqrstuvwxyz"
    words = set()
    while len(words) < LINES:
        length = min(29, max(2, int(rng.gauss(8, 3))))
        word = "".join(rng.choice(letters) for _ in range(length))
        if rng.random() < 0.05:
            word = word.capitalize()
        words.add(word)
    with open(path, "w", newline="\n") as out:
        out.writelines(word + "\n" for word in words)


def timed_run(argv, cwd):
    """Seconds taken and peak resident memory (KiB) of one run.

    GNU time reports the peak: the rusage of a child forked from this
    interpreter would count the interpreter's own memory too."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        code = subprocess.call(["/usr/bin/time", "-f", "%M", "-o", report.name, *argv], cwd=cwd,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        peak = int(report.read().split()[-1])
    if code not in (0, 2):  # 2: the list does not fit the image; the files are still written
        sys.exit(f"{argv[0]} failed with status {code}")
    return elapsed, peak


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    program = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "dictbuild", "dictbuild"))
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    with tempfile.TemporaryDirectory() as folder:
        word_list = os.path.join(folder, "dic.txt")
        make_word_list(word_list)
        os.environ["LC_ALL"] = "C"
        builds, sorts, peaks = [], [], []
        for _ in range(runs):
            seconds, peak = timed_run([program], folder)
            builds.append(seconds)
            peaks.append(peak)
            sorts.append(timed_run(["sort", "-f", word_list], folder)[0])
        build, sort = statistics.median(builds), statistics.median(sorts)
        print(f"{LINES} lines, {os.path.getsize(word_list)} bytes, {runs} runs each")
        print(f"dictbuild       median {build * 1000:8.1f} ms")
        print(f"LC_ALL=C sort -f median {sort * 1000:8.1f} ms")
        print(f"ratio dictbuild / sort  {build / sort:8.2f}")
        print(f"dictbuild peak memory   {max(peaks) / 1024:8.1f} MiB ({max(peaks) * 1024 / 1e6:.1f} MB)")


if __name__ == "__main__":
    main()
