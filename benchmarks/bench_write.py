"""vtk.write against the VTK library's legacy writer (vtkUnstructuredGridWriter)
on the same meshes, in both encodings and both layouts, and the peak memory
of each writer in a child process. Run from bench.py, or alone:

    VELTRANE_ENV=bench tools/in-env python benchmarks/bench_write.py

The meshes: 10^6 points and 10^6 tetrahedra from a seeded generator (saved
as .npz for the VTK library, packaged for another Python, to build its grid
from the same arrays), and examples/grid.vtk.gz, which each side reads with
its own reader. Times are medians over rounds in one process for each side,
each writing over the file of the round before, to the same directory.
"""

from __future__ import annotations

import gzip
import json
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
SPEED_TARGET = 2  # times faster than the VTK library's writer
SLACK = 64 * MIB  # peak RSS growth allowed beyond the mesh's arrays
RUNS = [("4.2", False), ("4.2", True), ("5.1", False), ("5.1", True)]

# Peak RSS is VmHWM, reset once the mesh is made so that making it does not
# count; growth is measured from before the mesh was made.
RSS = """
def rss(key):
    for line in open("/proc/self/status"):
        if line.startswith(key + ":"):
            return int(line.split()[1]) * 1024

def reset_peak():
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
"""

OURS = RSS + textwrap.dedent("""
    import sys, time, numpy as np
    sys.path.insert(0, sys.argv[1])
    from bench_write import load
    from veltrane.codecs import vtk
    source, out, version, binary = sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5] == "1"
    base = rss("VmRSS")
    mesh, arrays = load(source)
    reset_peak()
    vtk.write(out, mesh, version=version, binary=binary)
    print(rss("VmHWM") - base, arrays)
""")

VTK_WRITE = RSS + textwrap.dedent("""
    import json, sys, time
    import numpy as np
    from vtkmodules.util import numpy_support as ns
    from vtkmodules.vtkCommonCore import vtkPoints
    from vtkmodules.vtkCommonDataModel import vtkCellArray, vtkUnstructuredGrid
    from vtkmodules.vtkIOLegacy import vtkUnstructuredGridReader, vtkUnstructuredGridWriter
    source, out, rounds, runs = sys.argv[1], sys.argv[2], int(sys.argv[3]), json.loads(sys.argv[4])
    base = rss("VmRSS")
    if source.endswith(".npz"):
        with np.load(source) as d:
            points = vtkPoints()
            points.SetData(ns.numpy_to_vtk(d["points"], deep=True))
            cells = vtkCellArray()
            cells.SetData(ns.numpy_to_vtkIdTypeArray(d["offsets"], deep=True),
                          ns.numpy_to_vtkIdTypeArray(d["connectivity"], deep=True))
            grid = vtkUnstructuredGrid()
            grid.SetPoints(points)
            grid.SetCells(ns.numpy_to_vtk(d["types"], deep=True), cells)
    else:
        r = vtkUnstructuredGridReader()
        r.SetFileName(source)
        r.ReadAllScalarsOn(); r.ReadAllVectorsOn(); r.ReadAllFieldsOn()
        r.Update()
        grid = r.GetOutput()
    result = {}
    for version, binary in runs:
        times, peak = [], 0
        for _ in range(rounds):
            w = vtkUnstructuredGridWriter()
            w.SetInputData(grid)
            w.SetFileName(out)
            w.SetFileVersion(42 if version == "4.2" else 51)
            w.SetFileTypeToBinary() if binary else w.SetFileTypeToASCII()
            reset_peak()
            t0 = time.perf_counter(); w.Write(); times.append(time.perf_counter() - t0)
            peak = max(peak, rss("VmHWM") - base)
        times.sort()
        result[f"{version} {binary}"] = (times[len(times) // 2], peak)
    print(json.dumps(result))
""")


def tetrahedra(n, path):
    """n points and n random tetrahedra on them, saved as .npz."""
    rng = np.random.default_rng(3)
    np.savez(
        path,
        points=rng.uniform(-1e3, 1e3, (n, 3)),
        connectivity=rng.integers(0, n, 4 * n),
        offsets=np.arange(0, 4 * n + 1, 4),
        types=np.full(n, 10, np.uint8),
    )
    return path


def load(source):
    """The mesh of a .npz of tetrahedra or of a file, and the bytes of its arrays."""
    if source.endswith(".npz"):
        with np.load(source) as d:
            cells = {"CELLS": CellBlock(d["connectivity"], d["offsets"])}
            mesh = Mesh(points=d["points"], cells=cells, cell_types=d["types"])
    else:
        mesh = vtk.read(source)
    arrays = [mesh.points, mesh.cell_types]
    arrays += [a for b in mesh.cells.values() for a in (b.connectivity, b.offsets)]
    arrays += [*mesh.point_data.values(), *mesh.cell_data.values(), *mesh.field_data.values()]
    return mesh, sum(np.asarray(a).nbytes for a in arrays if a is not None)


def vtk_library(source, out, rounds):
    """{(version, binary): (median seconds, peak RSS growth)} of the VTK library's
    writer, or None where it is not installed."""
    py = shutil.which("python3.14") or shutil.which("python3")
    if py is None or py == sys.executable:
        return None
    probe = subprocess.run([py, "-c", "import vtkmodules.vtkIOLegacy"], capture_output=True)
    if probe.returncode != 0:
        return None
    runs = json.dumps(RUNS)
    args = [py, "-c", VTK_WRITE, str(source), str(out), str(rounds), runs]
    got = json.loads(subprocess.run(args, capture_output=True, text=True, check=True).stdout)
    return {(v, b): tuple(got[f"{v} {b}"]) for v, b in RUNS}


def our_peak(source, out, version, binary):
    """vtk.write's peak RSS growth in a child process, and the mesh's arrays."""
    args = [sys.executable, "-c", OURS, str(HERE), str(source), str(out), version, str(int(binary))]
    got = subprocess.run(args, capture_output=True, text=True, check=True).stdout.split()
    return int(got[0]), int(got[1])


def median_write(mesh, out, version, binary, rounds):
    times = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        vtk.write(out, mesh, version=version, binary=binary)
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def compare(label, source, tmp, rounds):
    mesh, arrays = load(str(source))
    print(f"  {label} (arrays {arrays / MIB:.1f} MiB)")
    print(
        f"    {'layout':<8}{'encoding':<10}{'vtk.write':>10}{'VTK writer':>12}{'ratio':>9}"
        f"       peak RSS growth: ours (over the arrays)      VTK"
    )
    theirs = vtk_library(source, tmp / "theirs.vtk", rounds)
    for version, binary in RUNS:
        ours = median_write(mesh, tmp / "ours.vtk", version, binary, rounds)
        peak, _ = our_peak(source, tmp / "ours.vtk", version, binary)
        ok_peak = "ok" if peak < arrays + SLACK else "MISSED"
        line = f"    {version:<8}{'BINARY' if binary else 'ASCII':<10}{ours:9.3f}s"
        if theirs is None:
            line += f"{'n/a':>12}{'':>9}"
        else:
            secs, their_peak = theirs[version, binary]
            ok = "ok" if secs / ours >= SPEED_TARGET else "MISSED"
            line += f"{secs:11.3f}s{secs / ours:8.2f}x {ok:<6}"
        line += f"{peak / MIB:11.1f} MiB ({(peak - arrays) / MIB:+6.1f} MiB) {ok_peak:<6}"
        if theirs is not None:
            line += f"{their_peak / MIB:7.1f} MiB"
        print(line, flush=True)
    (tmp / "ours.vtk").unlink(missing_ok=True)
    (tmp / "theirs.vtk").unlink(missing_ok=True)


def bench_write(rounds, tmp, quick=False):
    print(
        f"\nvtk.write vs the VTK library's legacy writer (seconds, median of {rounds}; "
        f"targets: >= {SPEED_TARGET}x faster, peak RSS growth below the arrays + "
        f"{SLACK // MIB} MiB)"
    )
    n = 10**5 if quick else 10**6
    source = tetrahedra(n, tmp / "tetrahedra.npz")
    compare(f"{n} points, {n} tetrahedra", source, tmp, rounds)
    # Decompressed: the VTK library's reader takes no gzip.
    grid = tmp / "grid.vtk"
    grid.write_bytes(gzip.decompress(EXAMPLE.read_bytes()))
    compare(EXAMPLE.name, grid, tmp, rounds)


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as tmp:
        bench_write(int(sys.argv[1]) if len(sys.argv) > 1 else 5, Path(tmp))
