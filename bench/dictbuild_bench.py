#!/usr/bin/env python3
"""Times dictbuild against `LC_ALL=C sort -f` on real word lists, and reports
dictbuild's peak memory, also on a 1 GiB file of zeros.

The lists are Debian's ngerman, american-english, british-english-large and
french (packages wngerman, wamerican, wbritish-large, wfrench, installed with
apt-get when missing), each cut to its first 200000 lines and timed as
shipped and shuffled. Each ratio is the median time of dictbuild over the
median time of the sort on the same file, the runs of both alternating.

usage: bench/dictbuild_bench.py [path/to/dictbuild] [runs]
Needs GNU time (/usr/bin/time, Debian package "time").
"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

LINES = 200000
LISTS = {  # file in /usr/share/dict: the package that ships it
    "ngerman": "wngerman",
    "american-english": "wamerican",
    "british-english-large": "wbritish-large",
    "french": "wfrench",
}
ZEROS = 1 << 30


def install_missing_lists():
    missing = [package for name, package in LISTS.items() if not os.path.exists(f"/usr/share/dict/{name}")]
    if missing:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        print(f"installing {' '.join(missing)}", flush=True)
        subprocess.run([*sudo, "apt-get", "install", "-y", "-q", *missing], check=True, stdout=subprocess.DEVNULL)


def make_inputs(folder):
    """A folder holding dic.txt for each list, as shipped and shuffled."""
    inputs = []
    for name in LISTS:
        with open(f"/usr/share/dict/{name}", "rb") as source:
            lines = [line for _, line in zip(range(LINES), source)]
        shuffled = lines[:]
        random.Random(2026).shuffle(shuffled)
        for label, content in ((name, lines), (name + " shuffled", shuffled)):
            path = os.path.join(folder, label.replace(" ", "-"))
            os.mkdir(path)
            with open(os.path.join(path, "dic.txt"), "wb") as out:
                out.writelines(content)
            inputs.append((label, path))
    return inputs


def run(argv, cwd):
    code = subprocess.call(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    if code not in (0, 2):  # 2: the list does not fit the image; the files are still written
        sys.exit(f"{argv[0]} failed with status {code} in {cwd}")


def elapsed(argv, cwd):
    """Seconds one run takes, the program started directly: through GNU
    time, its own start (about a millisecond) would be added to both
    programs and pull every ratio towards 1."""
    start = time.perf_counter()
    run(argv, cwd)
    return time.perf_counter() - start


def peak_memory(argv, cwd):
    """Peak resident memory (KiB) of one run, as GNU time reports it: the
    rusage of a child forked from this interpreter would count the
    interpreter's own memory too."""
    with tempfile.NamedTemporaryFile("r") as report:
        run(["/usr/bin/time", "-f", "%M", "-o", report.name, *argv], cwd)
        return int(report.read().split()[-1])


def megabytes(kib):
    return f"{kib / 1024:.1f} MiB ({kib * 1024 / 1e6:.1f} MB)"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_program = os.path.join(here, "..", "build", "dictbuild", "dictbuild")
    program = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else default_program)
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    os.environ["LC_ALL"] = "C"
    install_missing_lists()
    print(f"first {LINES} lines of each list, median of {runs} runs each; load average {os.getloadavg()[0]:.2f}")
    print(f"{'list':32} {'dictbuild':>10} {'sort -f':>10} {'ratio':>6} {'peak memory':>12}")
    ratios, peaks = [], []
    with tempfile.TemporaryDirectory() as folder:
        for label, path in make_inputs(folder):
            builds, sorts = [], []
            for _ in range(runs):
                builds.append(elapsed([program], path))
                sorts.append(elapsed(["sort", "-f", "dic.txt"], path))
            build, sort = statistics.median(builds), statistics.median(sorts)
            ratios.append(build / sort)
            peaks.append(max(peak_memory([program], path) for _ in range(3)))
            print(f"{label:32} {build * 1000:7.1f} ms {sort * 1000:7.1f} ms {build / sort:6.2f} "
                  f"{peaks[-1] / 1024:8.1f} MiB", flush=True)
        print(f"worst ratio dictbuild / sort: {max(ratios):.2f}")
        print(f"dictbuild peak memory on the lists: {megabytes(max(peaks))}")

        zeros = os.path.join(folder, "zeros")
        os.mkdir(zeros)
        with open(os.path.join(zeros, "dic.txt"), "wb") as out:
            out.truncate(ZEROS)  # reads as zeros without taking the disk space
        seconds = elapsed([program], zeros)
        peak = peak_memory([program], zeros)
        print(f"dictbuild on {ZEROS >> 30} GiB of zeros: {seconds:.2f} s, peak memory {megabytes(peak)}")
        shutil.rmtree(zeros)


if __name__ == "__main__":
    main()
