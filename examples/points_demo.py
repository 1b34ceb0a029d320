"""Parses a POINTS block of 300,000 lines with the native fast path and with
the plain Python loop it replaces, and prints the array and the time per line.

The block is made deterministically (seeded), so every run sees the same text.
"""

import random
import statistics
import time

import numpy as np

from veltrane.codecs._vtk_parse import parse_ascii_coords

N = 300_000


def make_lines(n):
    rng = random.Random(20261207)
    lines = ["POINTS %d double" % n]
    for _ in range(n):
        lines.append(" ".join(repr(rng.uniform(-1e3, 1e3)) for _ in range(3)))
    return lines


def python_loop(lines, start, n):
    out = np.empty((n, 3), dtype=np.float64)
    for i in range(n):
        x, y, z = lines[start + i].split()
        out[i] = (float(x), float(y), float(z))
    return out


def best_of(func, repeats):
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        result = func()
        times.append(time.perf_counter() - t0)
    return result, statistics.median(times)


def main():
    lines = make_lines(N)
    fast, t_fast = best_of(lambda: parse_ascii_coords(lines, 1, N), 5)
    slow, t_slow = best_of(lambda: python_loop(lines, 1, N), 3)
    assert np.array_equal(fast, slow)
    print(f"shape {fast.shape}, dtype {fast.dtype}")
    print("first rows:")
    print(fast[:3])
    print(f"parse_ascii_coords: {t_fast / N * 1e9:7.1f} ns per line")
    print(f"plain Python loop:  {t_slow / N * 1e9:7.1f} ns per line")
    print(f"speed-up:           {t_slow / t_fast:7.1f}x")


if __name__ == "__main__":
    main()
