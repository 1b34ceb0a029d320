"""Both parsers and vtk.read under steady load from several threads at once,
on shared and on separate inputs, with the interpreter switching threads as
often as it can: every answer equals the serial one."""

import pathlib
import sys
import threading
import time

import numpy as np
import pytest

from veltrane.codecs import _vtk_parse as m
from veltrane.codecs import vtk

DATA = pathlib.Path(__file__).parent / "data" / "real"
SECONDS = 3.0


class Line(str):
    """A str subclass: its split() is looked up and called, so the general
    path runs, and the interpreter may switch threads inside it."""

    def split(self, *args):
        return str.split(self, *args)


def coords_lines(n, seed):
    rng = np.random.default_rng(seed)
    return [" ".join(repr(v) for v in row) for row in rng.normal(size=(n, 3)).tolist()]


def cells_lines(n, seed):
    rng = np.random.default_rng(seed)
    rows = []
    for _ in range(n):
        k = int(rng.integers(0, 9))
        rows.append(" ".join(map(str, [k, *rng.integers(-5, 2**31 - 1, size=k).tolist()])))
    return rows


def fingerprint(result):
    """Bytes of whatever a call returned, so that -0.0 and NaN signs count."""
    if isinstance(result, vtk.Mesh):
        parts = [result.points]
        for kw in sorted(result.cells):
            parts += [result.cells[kw].connectivity, result.cells[kw].offsets]
        if result.cell_types is not None:
            parts.append(result.cell_types)
        for group in (result.point_data, result.cell_data, result.field_data):
            parts += [group[k] for k in sorted(group)]
        return [
            (a.dtype.str, a.shape, a.tobytes() if a.dtype.kind != "U" else a.tolist())
            for a in parts
        ]
    if isinstance(result, tuple):
        return [fingerprint(r) for r in result]
    return result.dtype.str, result.shape, result.tobytes()


@pytest.fixture
def busy_switching():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


def test_steady_load(busy_switching, tmp_path):
    shared_coords = coords_lines(3000, 1)
    shared_cells = cells_lines(3000, 2)
    files = sorted(DATA.glob("*.vtk"))

    # (name, call) pairs; each call is made once serially for its answer.
    jobs = [
        ("coords shared", lambda: m.parse_ascii_coords(shared_coords, 0, 3000)),
        ("cells shared", lambda: m.parse_ascii_cells_v42(shared_cells, 0, 3000)),
        ("coords shared, offset", lambda: m.parse_ascii_coords(shared_coords, 1000, 1500)),
        ("cells shared, offset", lambda: m.parse_ascii_cells_v42(shared_cells, 7, 2990)),
    ]
    for t in range(3):
        own_coords = coords_lines(2000, 10 + t)
        own_cells = cells_lines(2000, 20 + t)
        jobs.append((f"coords own {t}", lambda c=own_coords: m.parse_ascii_coords(c, 0, 2000)))
        jobs.append((f"cells own {t}", lambda c=own_cells: m.parse_ascii_cells_v42(c, 0, 2000)))
    # The general path, next to plain lines of the same text in the others.
    sub_coords = [Line(s) for s in shared_coords]
    sub_cells = [Line(s) for s in shared_cells]
    jobs.append(("coords str subclass", lambda: m.parse_ascii_coords(sub_coords, 0, 3000)))
    jobs.append(("cells str subclass", lambda: m.parse_ascii_cells_v42(sub_cells, 0, 3000)))
    byte_cells = [s.encode() for s in shared_cells]
    jobs.append(("cells bytes", lambda: m.parse_ascii_cells_v42(byte_cells, 0, 3000)))
    for p in files:
        jobs.append((f"read {p.stem}", lambda p=p: vtk.read(p)))
    for i, p in enumerate(files[:3]):
        own = tmp_path / f"own{i}.vtk"
        own.write_bytes(p.read_bytes())
        jobs.append((f"read own {p.stem}", lambda p=own: vtk.read(p)))

    want = {name: fingerprint(call()) for name, call in jobs}
    assert fingerprint(m.parse_ascii_coords(sub_coords, 0, 3000)) == want["coords shared"]
    assert fingerprint(m.parse_ascii_cells_v42(sub_cells, 0, 3000)) == want["cells shared"]

    # Eight threads, each walking the jobs from its own starting point, so
    # that different calls overlap.
    n_threads = 8
    start = threading.Barrier(n_threads)
    errors, counts = [], [0] * n_threads

    def worker(t):
        start.wait()
        stop = time.monotonic() + SECONDS
        k = t
        while time.monotonic() < stop:
            name, call = jobs[k % len(jobs)]
            k += 1
            try:
                got = fingerprint(call())
            except BaseException as e:
                errors.append(f"{name}: {type(e).__name__}: {e}")
                return
            if got != want[name]:
                errors.append(f"{name}: differs from the serial answer")
                return
            counts[t] += 1

    threads = [threading.Thread(target=worker, args=(t,)) for t in range(n_threads)]
    for th in threads:
        th.start()
    for th in threads:
        th.join(SECONDS + 30)
    assert not any(th.is_alive() for th in threads), "a thread did not finish"
    assert not errors, errors
    assert min(counts) >= len(jobs) // 2, counts


def test_mutating_thread_beside_readers(busy_switching):
    """One thread keeps rewriting a list that str-subclass lines of another
    thread's call are read from; the reader may fail with IndexError or
    succeed, each success equal to one of the lists' states."""
    base = cells_lines(500, 3)
    lines = [Line(s) for s in base]
    short = base[:100]
    want = fingerprint(m.parse_ascii_cells_v42(base, 0, 500))
    stop = time.monotonic() + 1.5
    errors = []

    def mutator():
        while time.monotonic() < stop:
            lines[:] = [Line(s) for s in short]
            lines[:] = [Line(s) for s in base]

    def reader():
        while time.monotonic() < stop:
            try:
                got = m.parse_ascii_cells_v42(lines, 0, 500)
            except IndexError:
                continue
            except BaseException as e:
                errors.append(f"{type(e).__name__}: {e}")
                return
            if fingerprint(got) != want:
                errors.append("a mixed read")
                return

    threads = [threading.Thread(target=mutator)] + [
        threading.Thread(target=reader) for _ in range(3)
    ]
    for th in threads:
        th.start()
    for th in threads:
        th.join(30)
    assert not errors, errors
