"""vtk.read on whole files: four shapes of file, ASCII and BINARY, on one
thread and on every core, against the VTK library's own reader and meshio's,
with the peak memory of a read measured in a child process. Run from
bench.py, or alone:

    VELTRANE_ENV=bench tools/in-env python benchmarks/bench_read.py [--large]

The shapes: the bundled grid as the VTK library wrote it (several points to a
POINTS line), the same written one record to a line, 10^6 points and 10^6
tetrahedra one record to a line, and (with --large) 5 * 10^6 of each. Each is
also written BINARY. Then two files that must cost no more than their
neighbours: the first with one non-ASCII byte in its title, and a file of
20,000 small FIELD arrays.
"""

from __future__ import annotations

import argparse
import gc
import gzip
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time
from pathlib import Path

import numpy as np

from veltrane.codecs import vtk
from veltrane.codecs.vtk import CellBlock, Mesh

HERE = Path(__file__).resolve().parent
EXAMPLE = HERE.parent / "examples" / "grid.vtk.gz"
MIB = 2**20
CORES = os.process_cpu_count() or 1
# What a whole-file read must reach against the VTK library's reader: on
# one thread and on every core, for files of about 10 MB and for larger ones.
TARGETS = {"small": (6.0, 7.5), "large": (4.5, 6.0)}
MEMORY_SLACK = 1.15  # peak RSS growth: the result arrays plus this much file


def median(func, rounds):
    return medians([func], rounds)[0]


def medians(funcs, rounds):
    """Medians of several functions timed in interleaved rounds, so that a
    burst of load on a shared machine falls on all of them alike."""
    times = [[] for _ in funcs]
    for _ in range(rounds):
        for func, out in zip(funcs, times, strict=True):
            gc.collect()
            t0 = time.perf_counter()
            func()
            out.append(time.perf_counter() - t0)
    return [statistics.median(t) for t in times]


def tetrahedra(n, seed=3):
    """n random points and n tetrahedra over them, float64 and int64."""
    rng = np.random.default_rng(seed)
    points = rng.uniform(-1e3, 1e3, (n, 3))
    conn = rng.integers(0, n, (n, 4))
    offsets = np.arange(0, 4 * n + 1, 4, dtype=np.int64)
    return Mesh(
        points=points,
        cells={"CELLS": CellBlock(conn.ravel(), offsets)},
        cell_types=np.full(n, 10, np.uint8),
        point_data={"t": rng.standard_normal(n)},
        cell_data={"id": np.arange(n, dtype=np.int32)},
    )


def files(tmp, large=False, quick=False):
    """(label, size class, path) of each file to read."""
    vtk_written = tmp / "grid_vtk.vtk"
    vtk_written.write_bytes(gzip.decompress(EXAMPLE.read_bytes()))
    out = [("VTK-written grid", "small", vtk_written)]
    one_a_line = tmp / "grid_lines.vtk"
    vtk.write(one_a_line, vtk.read(vtk_written))
    out.append(("the same, one record a line", "small", one_a_line))
    sizes = [] if quick else [(10**6, "1M")] + ([(5 * 10**6, "5M")] if large else [])
    for n, name in sizes:
        path = tmp / f"tets_{name}.vtk"
        vtk.write(path, tetrahedra(n))
        out.append((f"{name} points and {name} tetrahedra", "large", path))
    binary = []
    for label, size, path in out:
        bpath = path.with_name(path.stem + "_binary.vtk")
        vtk.write(bpath, vtk.read(path), binary=True)
        binary.append((f"{label}, BINARY", size, bpath))
    return out + binary


VTK_READ = textwrap.dedent("""
    import sys, time
    from vtkmodules.vtkIOLegacy import vtkUnstructuredGridReader
    times = []
    for _ in range(int(sys.argv[2])):
        r = vtkUnstructuredGridReader()
        r.SetFileName(sys.argv[1])
        r.ReadAllScalarsOn(); r.ReadAllVectorsOn(); r.ReadAllFieldsOn()
        t0 = time.perf_counter(); r.Update(); times.append(time.perf_counter() - t0)
        assert r.GetOutput().GetNumberOfPoints() > 0
    times.sort(); print(times[len(times) // 2])
""")


def vtk_library_read(path, rounds):
    """The VTK library's reader on `path`, timed in its own interpreter (its
    bindings are packaged for another Python); None where it is missing."""
    py = shutil.which("python3.14")
    if py is None:
        return None
    probe = subprocess.run([py, "-c", "import vtkmodules.vtkIOLegacy"], capture_output=True)
    if probe.returncode != 0:
        return None
    out = subprocess.run(
        [py, "-c", VTK_READ, str(path), str(rounds)], capture_output=True, text=True, check=True
    )
    return float(out.stdout.split()[-1])


MEMORY = textwrap.dedent("""
    import json, resource, sys
    from veltrane.codecs import vtk
    def hwm():
        for line in open("/proc/self/status"):
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    before = hwm()
    mesh = vtk.read(sys.argv[1], threads=int(sys.argv[2]))
    arrays = [mesh.points] + [a for d in (mesh.point_data, mesh.cell_data) for a in d.values()]
    arrays += [a for b in mesh.cells.values() for a in (b.connectivity, b.offsets)]
    if mesh.cell_types is not None:
        arrays.append(mesh.cell_types)
    print(json.dumps({"growth": hwm() - before, "result": sum(a.nbytes for a in arrays)}))
""")


def peak_memory(path, threads):
    """(peak RSS growth of a read in a fresh interpreter, bytes of its result)."""
    out = subprocess.run(
        [sys.executable, "-c", MEMORY, str(path), str(threads)],
        capture_output=True,
        text=True,
        check=True,
    )
    got = json.loads(out.stdout)
    return got["growth"], got["result"]


def mark(ok):
    return "ok" if ok else "MISSED"


def bench_shapes(rounds, tmp, meshio, large=False, quick=False):
    print(f"\nvtk.read, whole files (seconds, medians of {rounds}; {CORES} cores)")
    per_byte = {}
    for label, size, path in files(tmp, large, quick):
        mib = path.stat().st_size / MIB
        one, many = medians(
            [lambda path=path, k=k: vtk.read(path, threads=k) for k in (1, CORES)], rounds
        )
        print(f"  {label} ({mib:.1f} MiB)")
        print(f"    vtk.read, 1 thread       {one:8.3f} s   {one / mib * 1e3:6.2f} ms/MiB")
        print(f"    vtk.read, {CORES} threads      {many:8.3f} s   {one / many:.2f}x one thread")
        binary = "BINARY" in label
        if not binary:
            per_byte[label] = one / mib
        lib = vtk_library_read(path, rounds)
        if lib is not None:
            if binary:
                print(
                    f"    VTK library reader       {lib:8.3f} s   vtk.read is {lib / one:.2f}x "
                    f"faster (target >= 1x) {mark(lib >= one)}"
                )
            else:
                t1, tn = TARGETS[size]
                print(
                    f"    VTK library reader       {lib:8.3f} s   vtk.read is {lib / one:.2f}x "
                    f"faster on 1 thread (target >= {t1}x) {mark(lib / one >= t1)}, "
                    f"{lib / many:.2f}x on {CORES} (target >= {tn}x) {mark(lib / many >= tn)}"
                )
        if meshio is not None and not binary:
            # meshio takes seconds on the large files: one round there.
            other = median(lambda path=path: meshio.read(path), rounds if size == "small" else 1)
            ratio = other / one
            print(f"    meshio                   {other:8.3f} s   vtk.read is {ratio:.2f}x faster")
        growth, result = peak_memory(path, CORES)
        limit = result + MEMORY_SLACK * path.stat().st_size
        print(
            f"    peak RSS growth {growth / MIB:7.1f} MiB: result {result / MIB:.1f} MiB + "
            f"{(growth - result) / path.stat().st_size:.2f}x the file (target <= "
            f"{MEMORY_SLACK}x) {mark(growth <= limit)}"
        )
    if per_byte:
        spread = max(per_byte.values()) / min(per_byte.values())
        print(
            f"  cost per byte, ASCII, 1 thread: {spread:.2f}x from cheapest to dearest file "
            f"(target within 1.3x) {mark(spread <= 1.3)}"
        )
    # The same shape of file at two sizes: what the file's size alone costs.
    tets = [v for k, v in per_byte.items() if "tetrahedra" in k]
    if len(tets) == 2:
        print(f"  cost per byte, 5M tetrahedra against 1M: {tets[1] / tets[0]:.2f}x")


def bench_odd_files(rounds, tmp):
    print("\nfiles that must cost no more than their neighbours (seconds, medians)")
    plain = tmp / "grid_vtk.vtk"
    if not plain.exists():
        plain.write_bytes(gzip.decompress(EXAMPLE.read_bytes()))
    data = plain.read_bytes()
    end = data.index(b"\n", data.index(b"\n") + 1)
    accented = tmp / "grid_accented.vtk"
    accented.write_bytes(data[:end] + " café".encode() + data[end:])
    a, b = medians([lambda: vtk.read(plain), lambda: vtk.read(accented)], rounds)
    print(
        f"  one non-ASCII byte in the title: {b:.3f} s against {a:.3f} s, {b / a:.2f}x "
        f"(target within 1.1x) {mark(b / a <= 1.1)}"
    )
    n = 20_000
    parts = [
        "# vtk DataFile Version 4.2\nmany arrays\nASCII\nDATASET UNSTRUCTURED_GRID\n"
        f"POINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOINT_DATA 3\nFIELD FieldData {n}\n"
    ]
    parts += [f"a{i} 1 3 float\n{i} {i + 0.5} {i + 0.25}\n" for i in range(n)]
    many = tmp / "many_fields.vtk"
    many.write_text("".join(parts))
    t = median(lambda: vtk.read(many), rounds)
    # The reader's Python path that this replaced took 0.154 s on this file on a
    # 2-core machine of this kind (2026-12-09, median of 7).
    print(f"  {n} FIELD arrays: {t:.3f} s (the Python path this replaces took 0.154 s)")


def bench_pool(rounds, tmp):
    """Several files read at once from a thread pool, each on one thread: the
    scans let go of the interpreter lock, so this scales with cores."""
    from concurrent.futures import ThreadPoolExecutor

    paths = sorted(tmp.glob("*.vtk"))[: 2 * CORES]
    alone = median(lambda: [vtk.read(p, threads=1) for p in paths], rounds)
    with ThreadPoolExecutor(CORES) as pool:
        together = median(lambda: list(pool.map(lambda p: vtk.read(p, threads=1), paths)), rounds)
    print(
        f"\n{len(paths)} files one after another {alone:.3f} s, from a pool of {CORES} "
        f"threads {together:.3f} s: {alone / together:.2f}x"
    )


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--rounds", type=int, default=5)
    p.add_argument("--large", action="store_true", help="add the 5M-point file (372 MB)")
    args = p.parse_args(argv)
    try:
        import meshio
    except ImportError:
        meshio = None
    with tempfile.TemporaryDirectory() as tmp:
        bench_shapes(args.rounds, Path(tmp), meshio, large=args.large)
        bench_odd_files(args.rounds, Path(tmp))
        bench_pool(args.rounds, Path(tmp))


if __name__ == "__main__":
    main()
