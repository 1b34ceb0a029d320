"""Speed and memory of the native parsers and the reader, side by side.

    tools/in-env python benchmarks/bench.py            # the module and core only
    VELTRANE_ENV=bench tools/in-env python benchmarks/bench.py   # with pandas, meshio, VTK

Then whole files: bench_read.py (four shapes of file, ASCII and BINARY, 1 and
N threads, against the VTK library's reader and meshio, peak RSS of a read
in a child), the BINARY floor of np.frombuffer, and bench_write.py (the
writer against the VTK library's writer). --large adds the 372 MB file.

Everything runs in this one process (VTK's reader, packaged for another
Python, in a subprocess that times itself), several rounds each, and the
medians are printed with the ratios that the project's targets are stated
in. Machines here are shared and noisy: compare ratios from one run, not
absolute times across runs.
"""

from __future__ import annotations

import argparse
import io
import random
import subprocess
import sys
import tempfile
import textwrap
from pathlib import Path

import numpy as np
from bench_read import bench_odd_files, bench_pool, bench_shapes, median, medians, vtk_library_read
from bench_write import bench_write

from veltrane.codecs import _vtk_blocks, _vtk_parse, vtk

HERE = Path(__file__).resolve().parent
EXAMPLE = HERE.parent / "examples" / "grid.vtk.gz"


def optional(name):
    try:
        return __import__(name)
    except ImportError:
        return None


pandas = optional("pandas")
meshio = optional("meshio")


class Table:
    def __init__(self, title, unit_name, units):
        self.title, self.unit_name, self.units = title, unit_name, units
        self.rows = {}

    def add(self, name, seconds):
        self.rows[name] = seconds
        print(f"  {name:<44} {seconds / self.units * 1e9:10.1f} ns/{self.unit_name}", flush=True)
        return seconds

    def ratio(self, what, slow, fast, target, better="faster"):
        if slow not in self.rows or fast not in self.rows:
            print(f"  {what:<44} {'n/a':>10}   (target {target})")
            return
        r = self.rows[slow] / self.rows[fast]
        if better == "within":
            r = 1 / r
            ok = r <= target
            print(f"  {what:<44} {r:9.2f}x   (target: within {target}x) {'ok' if ok else 'MISSED'}")
        else:
            ok = r >= target
            print(f"  {what:<44} {r:9.2f}x   (target: >= {target}x) {'ok' if ok else 'MISSED'}")

    def speedup(self, what, slow, fast):
        print(f"  {what:<44} {self.rows[slow] / self.rows[fast]:9.2f}x")


def bench_core(t, data, count, code, lines, rounds):
    """The scanning core over one buffer, on one thread and on two."""
    reads = [lambda k=k: _vtk_blocks.read_ascii(data, 0, count, code, k) for k in (1, 2)]
    assert reads[0]()[0] is not None  # a read, not a decline
    one, two = medians(reads, rounds)
    t.add("scanning core over one buffer", one / lines)
    t.add("scanning core over one buffer, 2 threads", two / lines)


# -- data ---------------------------------------------------------------------


def point_lines(n, seed=1):
    rng = random.Random(seed)
    # Shortest round-trip text, as writers that keep every double exact
    # print coordinates.
    return [
        f"{rng.uniform(-1e3, 1e3)!r} {rng.uniform(-1e3, 1e3)!r} {rng.uniform(-1e3, 1e3)!r}"
        for _ in range(n)
    ]


def cell_lines(n, mixed, seed=2):
    rng = random.Random(seed)
    out = []
    for _ in range(n):
        k = rng.randint(3, 8) if mixed else 4
        out.append(" ".join([str(k)] + [str(rng.randrange(10**6)) for _ in range(k)]))
    return out


class S(str):
    """Lines of this type take the module's general path."""


# -- the plain ways --------------------------------------------------------


def python_points(lines):
    out = np.empty((len(lines), 3))
    for i, line in enumerate(lines):
        x, y, z = line.split()
        out[i] = (float(x), float(y), float(z))
    return out


def python_cells(lines):
    conn, offsets, total = [], [0], 0
    for line in lines:
        tokens = line.split()
        count = int(tokens[0])
        conn.extend(int(t) for t in tokens[1 : count + 1])
        total += count
        offsets.append(total)
    return np.array(conn, dtype=np.int32), np.array(offsets, dtype=np.int32)


def pandas_read(lines):
    return pandas.read_csv(
        io.StringIO("\n".join(lines)), sep=" ", header=None, engine="c"
    ).to_numpy()


# -- sections -----------------------------------------------------------------


def bench_points(sizes, rounds):
    print("\nPOINTS, 3 numbers a line")
    for n in sizes:
        lines = point_lines(n)
        t = Table("", "line", n)
        t.add(
            f"parse_ascii_coords, {n:>8} lines",
            median(
                lambda lines=lines, n=n: _vtk_parse.parse_ascii_coords(lines, 0, n),
                max(3, rounds if n <= 10**6 else 3),
            ),
        )
    n = 10**6 if 10**6 in sizes else sizes[-1]
    lines = point_lines(n)
    slow_n = min(n, 200_000)
    t = Table("", "line", 1)
    per = lambda s, k: s / k
    t.add("module", per(median(lambda: _vtk_parse.parse_ascii_coords(lines, 0, n), rounds), n))
    sub = [S(x) for x in lines[:slow_n]]
    t.add(
        "module, general path (str subclass)",
        per(median(lambda: _vtk_parse.parse_ascii_coords(sub, 0, slow_n), rounds), slow_n),
    )
    sub.clear()
    t.add("plain Python loop", per(median(lambda: python_points(lines[:slow_n]), 3), slow_n))
    t.add("np.loadtxt", per(median(lambda: np.loadtxt(lines[:slow_n]), 3), slow_n))
    if pandas:
        t.add(
            "pandas read_csv, C engine",
            per(median(lambda: pandas_read(lines[:slow_n]), 3), slow_n),
        )
    bench_core(t, "\n".join(lines).encode(), 3 * n, "d", n, rounds)
    print("  ratios")
    t.speedup(
        "core, 2 threads vs 1",
        "scanning core over one buffer",
        "scanning core over one buffer, 2 threads",
    )
    t.ratio("vs plain Python loop", "plain Python loop", "module", 7)
    t.ratio("vs np.loadtxt", "np.loadtxt", "module", 3.5)
    t.ratio("vs the module's general path", "module, general path (str subclass)", "module", 4)
    t.ratio(
        "vs the core over one buffer",
        "scanning core over one buffer",
        "module",
        1.25,
        better="within",
    )


def bench_cells(n, rounds, mixed):
    label = "mixed 3 to 8" if mixed else "'4 i j k l'"
    print(f"\nCELLS, {label}, {n} lines")
    lines = cell_lines(n, mixed)
    slow_n = min(n, 200_000)
    t = Table("", "line", 1)
    per = lambda s, k: s / k
    t.add("module", per(median(lambda: _vtk_parse.parse_ascii_cells_v42(lines, 0, n), rounds), n))
    sub = [S(x) for x in lines[:slow_n]]
    t.add(
        "module, general path (str subclass)",
        per(median(lambda: _vtk_parse.parse_ascii_cells_v42(sub, 0, slow_n), rounds), slow_n),
    )
    sub.clear()
    t.add("plain Python loop", per(median(lambda: python_cells(lines[:slow_n]), 3), slow_n))
    if not mixed:
        t.add(
            "np.loadtxt",
            per(median(lambda: np.loadtxt(lines[:slow_n], dtype=np.int64), 3), slow_n),
        )
        if pandas:
            t.add(
                "pandas read_csv, C engine",
                per(median(lambda: pandas_read(lines[:slow_n]), 3), slow_n),
            )
    data = "\n".join(lines).encode()
    total = sum(len(x.split()) for x in lines)
    bench_core(t, data, total, "q", n, rounds)
    reads = [lambda k=k: _vtk_blocks.read_cells(data, 0, n, total, k) for k in (1, 2)]
    assert reads[0]()[0] is not None
    one, two = medians(reads, rounds)
    t.add("read_cells over one buffer", one / n)
    t.add("read_cells over one buffer, 2 threads", two / n)
    print("  ratios")
    t.speedup(
        "core, 2 threads vs 1",
        "scanning core over one buffer",
        "scanning core over one buffer, 2 threads",
    )
    t.speedup(
        "read_cells, 2 threads vs 1",
        "read_cells over one buffer",
        "read_cells over one buffer, 2 threads",
    )
    t.ratio("vs plain Python loop", "plain Python loop", "module", 14)
    if not mixed:
        t.ratio("vs np.loadtxt", "np.loadtxt", "module", 2.5)
    t.ratio(
        "vs the core over one buffer",
        "scanning core over one buffer",
        "module",
        1.3,
        better="within",
    )


def binary_blocks(path):
    """(file dtype, count, offset) of each raw block vtk.read takes from a BINARY
    file, noted during one read."""
    seen = []
    frombuffer = np.frombuffer

    def note(buffer, dtype=float, count=-1, offset=0):
        seen.append((np.dtype(dtype), count, offset))
        return frombuffer(buffer, dtype, count, offset)

    np.frombuffer = note
    try:
        vtk.read(path)
    finally:
        np.frombuffer = frombuffer
    return seen


def copy_blocks(path, blocks):
    """What reading a BINARY file must cost at least: its bytes read, and each
    block made a native-order array."""
    data = path.read_bytes()
    return [frombuffer_swapped(data, *block) for block in blocks]


def frombuffer_swapped(data, dtype, count, offset):
    return np.frombuffer(data, dtype, count, offset).astype(dtype.newbyteorder("="))


def bench_binary(rounds, tmp, ascii_path):
    print("\nvtk.read, BINARY files (seconds, median)")
    path = tmp / "grid_binary.vtk"
    vtk.write(path, vtk.read(ascii_path), version="4.2", binary=True)
    size = path.stat().st_size / 2**20
    blocks = binary_blocks(path)
    ours = median(lambda: vtk.read(path), rounds)
    floor = median(lambda: copy_blocks(path, blocks), rounds)
    print(f"  VTK-written grid rewritten BINARY ({size:.1f} MiB, {len(blocks)} blocks)")
    print(f"    vtk.read                             {ours:8.4f} s")
    ok = "ok" if ours <= 1.5 * floor else "MISSED"
    print(
        f"    read + np.frombuffer + byte swap     {floor:8.4f} s   vtk.read takes "
        f"{ours / floor:.2f}x (target: within 1.5x) {ok}"
    )
    lib = vtk_library_read(path, rounds)
    if lib is None:
        print("    (the VTK library is not installed here)")
    else:
        ok = "ok" if lib >= ours else "MISSED"
        print(
            f"    VTK library reader                   {lib:8.4f} s   vtk.read is "
            f"{lib / ours:.2f}x faster (target >= 1x) {ok}"
        )


MEMORY = textwrap.dedent("""
    import sys, tracemalloc
    import numpy as np
    sys.path.insert(0, sys.argv[1])
    from bench import point_lines, cell_lines
    from veltrane.codecs import _vtk_parse, vtk
    what = sys.argv[2]
    n = 10**6
    lines = point_lines(n) if what == "points" else cell_lines(n, False)
    tracemalloc.start()
    base = tracemalloc.get_traced_memory()[0]
    if what == "points":
        out = _vtk_parse.parse_ascii_coords(lines, 0, n)
        result = out.nbytes
    else:
        out = _vtk_parse.parse_ascii_cells_v42(lines, 0, n)
        result = out[0].nbytes + out[1].nbytes
    cur, peak = tracemalloc.get_traced_memory()
    peak -= base
    print(peak, result)
""")


def bench_memory():
    print("\n_vtk_parse, peak memory (tracemalloc: Python and NumPy allocations)")
    for what in ("points", "cells"):
        out = subprocess.run(
            [sys.executable, "-c", MEMORY, str(HERE), what],
            check=True,
            capture_output=True,
            text=True,
        ).stdout.split()
        peak, result = int(out[0]), int(out[1])
        extra = (peak - result) / 2**20
        ok = "ok" if extra <= 1 else "MISSED"
        print(
            f"  10^6-line {what} call: peak {peak / 2**20:7.1f} MiB, result {result / 2**20:7.1f}"
            f" MiB, above the result {extra:6.2f} MiB (target <= 1 MiB) {ok}"
        )


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--rounds", type=int, default=5)
    p.add_argument("--quick", action="store_true", help="small sizes, for a smoke test")
    p.add_argument("--large", action="store_true", help="add the 5M-point file (372 MB)")
    args = p.parse_args(argv)
    sizes = [10**3, 10**4] if args.quick else [10**4, 10**5, 10**6, 10**7]
    n_cells = 10**4 if args.quick else 10**6
    print(
        f"Python {sys.version.split()[0]}, NumPy {np.__version__}, "
        f"pandas {getattr(pandas, '__version__', 'not installed')}, "
        f"meshio {getattr(meshio, '__version__', 'not installed')}"
    )
    bench_points(sizes, args.rounds)
    bench_cells(n_cells, args.rounds, mixed=False)
    bench_cells(n_cells, args.rounds, mixed=True)
    bench_memory()
    rounds = 3 if args.quick else args.rounds
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        bench_shapes(rounds, tmp, meshio, large=args.large, quick=args.quick)
        bench_binary(rounds, tmp, tmp / "grid_vtk.vtk")
        bench_odd_files(rounds, tmp)
        bench_pool(rounds, tmp)
        bench_write(rounds, tmp, quick=args.quick)


if __name__ == "__main__":
    main()
