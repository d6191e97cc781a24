#!/usr/bin/python3
"""Maps per second from Python next to orvandel-batch's own figure, in the same run.

usage: bench/python-rate.py BUILD_DIR [MAPS [REPEATS]]   (default 40 maps, 5 repeats)

Each repeat makes MAPS maps of 400 x 400 after 100 generations (the presets, seeds 1 .. MAPS)
four ways, one after another: orvandel-batch --seed 1-MAPS writing only the statistics JSON
(into /dev/shm where there is one: on a disk, flushing each file costs more than making its
map), orvandel.generate() in a loop, the same with the classes read as a NumPy array, and
generate() on two threads. Prints the median maps per second of each and their ratio to the
batch's.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SCRATCH = "/dev/shm" if os.path.isdir("/dev/shm") else None


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__.splitlines()[2])
    build = sys.argv[1]
    maps = int(sys.argv[2]) if len(sys.argv) > 2 else 40
    repeats = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    sys.path.insert(0, os.path.join(build, "python"))
    import orvandel

    batch = os.path.join(build, "app", "orvandel-batch")
    seeds = range(1, maps + 1)

    def run_batch():
        with tempfile.TemporaryDirectory(dir=SCRATCH) as folder:
            subprocess.run([batch, "--seed", f"1-{maps}", "--generations", "100", "--quiet",
                            "--stats", os.path.join(folder, "s.json")], check=True)

    def run_python():
        for seed in seeds:
            orvandel.generate(seed, generations=100)

    def run_python_classes():
        for seed in seeds:
            int(orvandel.generate(seed, generations=100).classes.sum())

    def run_python_threads():
        halves = [seeds[0::2], seeds[1::2]]
        threads = [threading.Thread(target=lambda part=part: [orvandel.generate(s, generations=100) for s in part])
                   for part in halves]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    ways = [("orvandel-batch --seed 1-N --stats", run_batch),
            ("python generate()", run_python),
            ("python generate() + classes.sum()", run_python_classes),
            ("python generate(), 2 threads", run_python_threads)]
    rates = {name: [] for name, _ in ways}
    for _ in range(repeats):
        for name, way in ways:
            start = time.perf_counter()
            way()
            rates[name].append(maps / (time.perf_counter() - start))

    print(f"{maps} maps of 400 x 400, 100 generations, median of {repeats} (orvandel {orvandel.__version__}, "
          f"{os.cpu_count()} processors; the batch's JSON into {SCRATCH or tempfile.gettempdir()})")
    base = statistics.median(rates[ways[0][0]])
    for name, _ in ways:
        rate = statistics.median(rates[name])
        print(f"{name:36} {rate:7.1f} maps/s  {rate / base:5.2f} x the batch")


if __name__ == "__main__":
    main()
