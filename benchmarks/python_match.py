"""tenvora.match on float32 6000 x 4000 frames against the core's own time.

Runs the native benchmarks `match_light/stages` (one light against a dark
split once, bias factor 1, the corrected image, through the stages into
planes allocated once) and `match_light/allocating` (the same through the
tool's match_light, which allocates zeroed output planes in each run), and
times the same call from Python, output allocation included, on frames of
the same kind. Each call's result is dropped before the next, so from the
second call on its outputs take the planes the module kept from the one
before, as in a loop over lights. Build the `native` preset first, then:

    PYTHONPATH=build/native/python /usr/bin/python3 benchmarks/python_match.py
"""

import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import tenvora

WIDTH, HEIGHT, RUNS = 6000, 4000, 15
BENCH = os.path.join(os.path.dirname(__file__), "..", "build", "native", "benchmarks", "tenvora_benchmarks")


def dark_like(rng, level):
    """A level, a glow towards one corner, noise and about one hot pixel in a thousand."""
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float32)
    plane = level + 40 * (WIDTH - x + y) / (WIDTH + HEIGHT) + rng.random((HEIGHT, WIDTH), np.float32)
    plane[rng.random((HEIGHT, WIDTH)) < 1 / 1024] += 500
    return plane.astype(np.float32)


def core_ms():
    """Milliseconds of each native run, by name."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run(
            [BENCH, "--benchmark_filter=^match_light/", f"--benchmark_out={out.name}"],
            check=True,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        runs = json.load(open(out.name))["benchmarks"]
    return {run["name"].split("/min_time")[0]: run["real_time"] for run in runs}


def module_ms():
    rng = np.random.default_rng(1)
    light, dark, bias = dark_like(rng, 300), dark_like(rng, 100), dark_like(rng, 20)
    parts = tenvora.split_dark(dark, bias)
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        tenvora.match(light, None, bias, 1, subtract=True, dark_parts=parts)
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def main():
    module = module_ms()
    print(f"tenvora.match            {module:8.1f} ms (median of {RUNS})")
    for name, core in core_ms().items():
        print(f"{name:24} {core:8.1f} ms, tenvora.match {module / core:.2f} times that")
    return 0


if __name__ == "__main__":
    sys.exit(main())
