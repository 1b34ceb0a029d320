"""vtk.read on damaged files: every outcome is the right mesh or a VtkFormatError
with a line number inside the file (OSError where the file system refuses),
never another exception, a hang, or a mesh at odds with its own sections.

The mutations are drawn from a seeded generator over the real writers' files
and one small file that vtk.write makes; the number tried is reported at the
end of the module (and checked against a floor) for the record."""

import faulthandler
import gzip
import pathlib
import random
import re
import signal

import numpy as np
import pytest

from veltrane.codecs import vtk
from veltrane.codecs.vtk._keywords import CELL_SECTIONS, POLYHEDRON

DATA = pathlib.Path(__file__).parent / "data" / "real"
FIXTURES = pathlib.Path(__file__).parent / "data" / "fixtures"
# BINARY files and the structured datasets, from the fixtures of the VTK
# library's writer and from old writers' habits.
MORE = [
    "vtk_ugrid_binary_42",
    "vtk_polydata_binary_51",
    "vtk_image3d_binary_51",
    "vtk_rgrid_float_binary_42",
    "vtk_sgrid_binary_42",
    "vtk_field_binary_51",
    "hw_binary_v30_crlf",
    "vtk_image3d_ascii_42",
    "hw_v20_polydata_inline",
    "hw_field_timesteps",
]
SEED = 20240607
PER_KIND = 40  # random mutations of each kind, per file
CASE_SECONDS = 2.0  # a read that takes longer counts as a hang
KEYWORDS = {
    "POINTS",
    "CELLS",
    "CELL_TYPES",
    "VERTICES",
    "LINES",
    "POLYGONS",
    "TRIANGLE_STRIPS",
    "POINT_DATA",
    "CELL_DATA",
    "FIELD",
    "SCALARS",
    "COLOR_SCALARS",
    "LOOKUP_TABLE",
    "VECTORS",
    "NORMALS",
    "TENSORS",
    "TEXTURE_COORDINATES",
    "METADATA",
    "OFFSETS",
    "CONNECTIVITY",
    "GLOBAL_IDS",
    "PEDIGREE_IDS",
}
JUNK = ["x", "1.2.3", "--1", "1e", "0x1F", "1,5", "_", "nan_", "١٢x", "\udcff"]

tried = {"mutations": 0}


@pytest.fixture(scope="module", autouse=True)
def report_count(request):
    yield
    reporter = request.config.pluginmanager.get_plugin("terminalreporter")
    if reporter is not None:
        reporter.write_line(f"test_broken_files: {tried['mutations']} mutations tried")


# -- the files ---------------------------------------------------------------


def generated_text():
    """A small 4.2 file of vtk.write's own: one cell of each size, typed data,
    a string array."""
    mesh = vtk.Mesh(
        points=np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1], [1, 1, 1.5]]),
        cells={"CELLS": vtk.CellBlock.from_cells([[0, 1, 2, 3], [1, 2, 4], [4], [0, 4]])},
        cell_types=np.array([10, 5, 1, 3], np.uint8),
        point_data={"t": np.linspace(-1, 1, 5), "v": np.arange(15, dtype=np.int32).reshape(5, 3)},
        cell_data={"id": np.array([7, -8, 9, 2**40]), "name": np.array(["a%b", "c d", "e", "f"])},
        field_data={"flags": np.array([True, False])},
        title="generated",
    )
    return mesh


@pytest.fixture(scope="module")
def originals(tmp_path_factory):
    """name -> (bytes, mesh read from them)."""
    out = {}
    for p in sorted(DATA.glob("*.vtk")):
        out[p.stem] = p.read_bytes()
    for name in MORE:
        out[name] = (FIXTURES / f"{name}.vtk").read_bytes()
    gen = tmp_path_factory.mktemp("gen") / "generated.vtk"
    vtk.write(gen, generated_text())
    out["generated_42"] = gen.read_bytes()
    return {
        k: (b, vtk.read(_write(tmp_path_factory.mktemp(k) / "f.vtk", b))) for k, b in out.items()
    }


def _write(path, data):
    path.write_bytes(data)
    return path


# -- what a file says ----------------------------------------------------------


def reader_lines(data):
    """The lines as the reader cuts them, for the range of line numbers."""
    if data[:2] == b"\x1f\x8b":
        try:
            data = gzip.decompress(data)
        except Exception:
            return [""]
    text = data.decode("utf-8", "surrogateescape").removeprefix("\ufeff")
    lines = text.split("\r") if "\n" not in text and "\r" in text else text.split("\n")
    if len(lines) > 1 and not lines[-1]:
        lines.pop()
    return lines


def protected(lines):
    """Positions whose lines are text, not numbers: string array values and
    METADATA blocks, where blank lines and number-like words mean something."""
    keep = set()
    i = 0
    while i < len(lines):
        toks = lines[i].split()
        if len(toks) == 4 and toks[3].lower() in ("string", "utf8_string"):
            n = int(toks[1]) * int(toks[2])
            keep.update(range(i + 1, i + 1 + n))
            i += 1 + n
            continue
        if toks[:1] == ["METADATA"]:
            j = i + 1
            while j < len(lines) and (lines[j].split()[:1] or [""])[0].upper() not in KEYWORDS:
                j += 1
            keep.update(range(i, j))
            i = j
            continue
        i += 1
    return keep


def is_number(tok):
    try:
        float(tok)
    except ValueError:
        return False
    return True


def bits(a):
    a = np.ascontiguousarray(a)
    if a.dtype.kind == "U":
        return a.shape, a.tolist()
    return a.dtype.str, a.shape, a.tobytes()


def assert_same_mesh(got, want):
    assert (got.dataset, got.version, got.title) == (want.dataset, want.version, want.title)
    assert bits(got.points) == bits(want.points)
    assert sorted(got.cells) == sorted(want.cells)
    for kw in want.cells:
        assert bits(got.cells[kw].connectivity) == bits(want.cells[kw].connectivity), kw
        assert bits(got.cells[kw].offsets) == bits(want.cells[kw].offsets), kw
    if want.cell_types is None:
        assert got.cell_types is None
    else:
        assert bits(got.cell_types) == bits(want.cell_types)
    for group in ("point_data", "cell_data", "field_data"):
        g, w = getattr(got, group), getattr(want, group)
        assert sorted(g) == sorted(w), group
        for k in w:
            assert bits(g[k]) == bits(w[k]), (group, k)


def assert_consistent(mesh):
    """What any mesh the reader returns must satisfy, whatever the file held."""
    pts = mesh.points
    assert pts.dtype == np.float64 and pts.ndim == 2 and pts.shape[1] == 3
    n_points = len(pts)
    assert sorted(mesh.cells) == sorted(CELL_SECTIONS.get(mesh.dataset, ()))
    for kw, block in mesh.cells.items():
        conn, off = block.connectivity, block.offsets
        assert conn.ndim == 1 and off.ndim == 1 and len(off) >= 1
        assert off[0] == 0 and off[-1] == len(conn) and np.all(np.diff(off) >= 0), kw
        inside = (conn >= 0) & (conn < n_points)
        if kw == "CELLS" and mesh.cell_types is not None:
            # A polyhedron's face counts are not point indices.
            for j in np.flatnonzero(mesh.cell_types == POLYHEDRON).tolist():
                inside[off[j] : off[j + 1]] = True
        assert inside.all(), kw
    if mesh.dataset == "UNSTRUCTURED_GRID":
        assert mesh.cell_types.dtype == np.uint8
        assert len(mesh.cell_types) == len(mesh.cells["CELLS"])
    else:
        assert mesh.cell_types is None
    for a in mesh.point_data.values():
        assert len(a) == n_points
    for a in mesh.cell_data.values():
        assert len(a) == mesh.n_cells
    if mesh.dimensions is not None and mesh.dataset != "STRUCTURED_GRID" or n_points:
        assert n_points == mesh.n_points


# -- running one case ------------------------------------------------------------


class Hang(BaseException):
    pass


def _alarm(signum, frame):
    raise Hang


@pytest.fixture
def reader(tmp_path):
    """read(data, expect) -> None; expect is 'same' (with the original mesh),
    'fail' or 'any'. Returns a list of failure descriptions instead of
    stopping at the first, so that one run shows them all."""
    path = tmp_path / "m.vtk"
    old = signal.signal(signal.SIGALRM, _alarm)
    faulthandler.dump_traceback_later(120, exit=True)  # a hang inside C code
    problems = []

    def read(data, expect, want=None, what=""):
        tried["mutations"] += 1
        path.write_bytes(data)
        signal.setitimer(signal.ITIMER_REAL, CASE_SECONDS)
        try:
            try:
                mesh = vtk.read(path)
            finally:
                signal.setitimer(signal.ITIMER_REAL, 0)
        except Hang:
            problems.append(f"{what}: no answer within {CASE_SECONDS} s")
            return
        except vtk.VtkFormatError as e:
            n_lines = max(1, len(reader_lines(data)))
            if not 1 <= e.lineno <= n_lines or e.path != str(path):
                problems.append(f"{what}: line {e.lineno} of {n_lines}: {e}")
            elif expect == "same":
                problems.append(f"{what}: refused a file that means the same: {e}")
            return
        except Exception as e:
            problems.append(f"{what}: {type(e).__name__}: {e}")
            return
        try:
            if expect == "fail":
                raise AssertionError("read a file that cannot be right")
            if expect == "same":
                assert_same_mesh(mesh, want)
            assert_consistent(mesh)
        except AssertionError as e:
            problems.append(f"{what}: {e}")

    yield read, problems
    faulthandler.cancel_dump_traceback_later()
    signal.signal(signal.SIGALRM, old)


def check(problems):
    assert not problems, f"{len(problems)} bad outcomes:\n" + "\n".join(problems[:20])


# -- mutations ---------------------------------------------------------------------


def split_lines(data):
    return data.split(b"\n")


def join_lines(lines):
    return b"\n".join(lines)


def mutations(data, rng):
    """(description, mutated bytes, expectation) for one file. In a BINARY file
    a change to the bytes of a block may mean anything, so there only the
    changes to its headers and its framing say what must come out."""
    binary = b"BINARY" in data[:200].upper()
    lines = split_lines(data)
    text_lines = reader_lines(data)
    keep = protected(text_lines)
    headers = [
        i
        for i, t in enumerate(text_lines)
        if (t.split()[:1] or [""])[0].upper() in KEYWORDS and i not in keep
    ]
    numeric = [
        i
        for i, t in enumerate(text_lines)
        if i >= 2 and i not in keep and t.split() and all(map(is_number, t.split()))
    ]
    tokens_at = [
        (i, k)
        for i in range(2, len(text_lines))
        if i not in keep
        for k, tok in enumerate(text_lines[i].split())
        if is_number(tok)
    ]
    starts = np.cumsum([0] + [len(b) + 1 for b in lines])

    # Truncated at every section boundary: before the header, after it, and
    # in the middle of it.
    for i in headers:
        for cut in (starts[i], starts[i + 1] - 1, starts[i] + len(lines[i]) // 2):
            yield f"cut at byte {cut} (line {i + 1})", data[:cut], "any"
    for _ in range(PER_KIND):
        cut = rng.randrange(len(data))
        yield f"cut at byte {cut}", data[:cut], "any"

    for _ in range(PER_KIND):
        i = rng.randrange(len(lines))
        yield f"line {i + 1} deleted", join_lines(lines[:i] + lines[i + 1 :]), "any"
        i = rng.randrange(len(lines))
        yield f"line {i + 1} doubled", join_lines(lines[: i + 1] + lines[i:]), "any"

    for _ in range(PER_KIND):
        i = rng.choice(headers)
        toks = lines[i].split()
        ks = [k for k, t in enumerate(toks) if t.isdigit()]
        if not ks:
            continue
        k = rng.choice(ks)
        n = int(toks[k])
        new = rng.choice([n - 1, n + 1, 0, 2 * n, -1, 2**31, 2**63 - 1, 2**63, 10**30])
        toks[k] = str(new).encode()
        yield (
            f"count {n} on line {i + 1} made {new}",
            join_lines(lines[:i] + [b" ".join(toks)] + lines[i + 1 :]),
            "any",
        )

    for _ in range(0 if binary else PER_KIND):
        i, k = rng.choice(tokens_at)
        junk = rng.choice(JUNK)
        toks = text_lines[i].split()
        toks[k] = junk
        line = " ".join(toks).encode("utf-8", "surrogateescape")
        yield (
            f"token {k} of line {i + 1} made {junk!r}",
            join_lines(lines[:i] + [line] + lines[i + 1 :]),
            "fail",
        )

    for _ in range(PER_KIND):
        b = bytearray(data)
        for _ in range(rng.randint(1, 3)):
            b[rng.randrange(len(b))] ^= 1 << rng.randrange(8)
        yield "bits flipped", bytes(b), "any"
        at = rng.randrange(len(data))
        noise = rng.randbytes(rng.randint(1, 64))
        yield f"noise at byte {at}", data[:at] + noise + data[at + rng.randint(0, 64) :], "any"
        at = rng.randrange(len(data))
        bad = rng.choice([b"\xff", b"\xc3", b"\xe2\x82", b"\xed\xa0\x80", b"\x80"])
        yield f"non-UTF-8 at byte {at}", data[:at] + bad + data[at:], "any"

    yield "gzip", gzip.compress(data), "same"
    packed = gzip.compress(data)
    yield "gzip cut short", packed[: len(packed) // 2], "fail"
    if binary:
        return

    # Changes that keep what the file says.
    blank = [i for i, t in enumerate(text_lines) if not t.strip() and i not in keep and i > 1]
    for i in rng.sample(blank, min(len(blank), 4)):
        yield f"blank line {i + 1} doubled", join_lines(lines[: i + 1] + lines[i:]), "same"
    for i in rng.sample(headers, min(len(headers), 6)):
        yield f"blank line before {i + 1}", join_lines(lines[:i] + [b""] + lines[i:]), "same"
    for _ in range(PER_KIND):
        # Files of old writers may hold no line of numbers alone.
        i = rng.choice(numeric) if numeric else 0
        if i + 1 in numeric:
            yield (
                f"lines {i + 1} and {i + 2} joined",
                join_lines(lines[:i] + [lines[i].rstrip() + b" " + lines[i + 1]] + lines[i + 2 :]),
                "same",
            )
        toks = lines[i].split()
        if numeric and len(toks) > 1:
            k = rng.randrange(1, len(toks))
            yield (
                f"line {i + 1} split before token {k}",
                join_lines(
                    lines[:i] + [b" ".join(toks[:k]), b"\t".join(toks[k:])] + lines[i + 1 :]
                ),
                "same",
            )
        i = rng.randrange(2, len(text_lines))
        if i not in keep:
            pad = rng.choice([b" ", b"\t", b"\x0b", b"\x0c", b"  \t"])
            yield (
                f"blanks around line {i + 1}",
                join_lines(lines[:i] + [pad + lines[i] + pad] + lines[i + 1 :]),
                "same",
            )
        i, k = rng.choice(tokens_at)
        toks = text_lines[i].split()
        tok = toks[k]
        if re.fullmatch(r"\d+", tok):
            toks[k] = "+" + tok
        elif re.fullmatch(r"-?\d*\.\d*", tok):
            toks[k] = tok + "0"
        else:
            continue
        yield (
            f"{tok!r} on line {i + 1} spelt {toks[k]!r}",
            join_lines(lines[:i] + [" ".join(toks).encode()] + lines[i + 1 :]),
            "same",
        )
    yield "CRLF line ends", data.replace(b"\n", b"\r\n"), "same"
    yield "byte order mark", b"\xef\xbb\xbf" + data, "same"


NAMES = sorted(p.stem for p in DATA.glob("*.vtk")) + ["generated_42"] + MORE


@pytest.mark.parametrize("name", NAMES)
def test_mutations(name, originals, reader):
    data, want = originals[name]
    read, problems = reader
    rng = random.Random(f"{SEED}/{name}")
    for what, mutated, expect in mutations(data, rng):
        read(mutated, expect, want, what)
    check(problems)


class TestWholeFiles:
    def test_unmutated_files_read_back_identically(self, originals, reader):
        read, problems = reader
        for name, (data, want) in originals.items():
            read(data, "same", want, name)
        check(problems)

    @pytest.mark.parametrize(
        "data",
        [
            b"",
            b"\n",
            b"\r",
            b"\xef\xbb\xbf",
            b"\x1f\x8b",
            b"\x00" * 64,
            b"\xff\xfe\xfd",
            b"# vtk DataFile Version 4.2",
            b"# vtk DataFile Version 4.2\n",
        ],
    )
    def test_nearly_empty(self, data, reader):
        read, problems = reader
        read(data, "fail", what=repr(data))
        check(problems)

    def test_file_system_refusals(self, tmp_path):
        tried["mutations"] += 2
        with pytest.raises(IsADirectoryError):
            vtk.read(tmp_path)
        with pytest.raises(FileNotFoundError):
            vtk.read(tmp_path / "missing.vtk")

    def test_title_that_is_not_utf8_keeps_the_mesh(self, originals, tmp_path):
        data, want = originals["vtk_ugrid_42"]
        lines = split_lines(data)
        lines[1] = b"caf\xe9 \xff"
        path = _write(tmp_path / "t.vtk", join_lines(lines))
        tried["mutations"] += 1
        got = vtk.read(path)
        assert got.title == "caf\udce9 \udcff"
        got.title = want.title
        assert_same_mesh(got, want)

    @pytest.mark.parametrize("seed", range(8))
    def test_binary_noise(self, seed, reader):
        read, problems = reader
        rng = random.Random(seed)
        head = b"# vtk DataFile Version 4.2\nnoise\nASCII\nDATASET UNSTRUCTURED_GRID\n"
        for n in (1, 16, 512, 8192):
            read(rng.randbytes(n), "fail", what=f"{n} random bytes")
            read(head + rng.randbytes(n), "any", what=f"header and {n} random bytes")
        check(problems)


class TestCountsBeyond64Bits:
    """Header counts that no file can meet: a format error where the file ends,
    not the OverflowError of a native call sized by them."""

    H = "# vtk DataFile Version 4.2\nt\nASCII\nDATASET UNSTRUCTURED_GRID\n"
    P = "POINTS 1 double\n0 0 0\n"
    BIG = "99999999999999999999"

    @pytest.mark.parametrize(
        "body,line",
        [
            (f"POINTS {BIG} double\n0 0 0\n", 6),
            ("POINTS 4000000000000000000 double\n0 0 0\n", 6),  # 3n beyond 64 bits
            (f"{P}CELLS 1 {BIG}\n1 0\n", 8),
            (f"{P}CELLS {BIG} {BIG}\n1 0\n", 8),
            (f"{P}CELL_TYPES {BIG}\n1\n", 8),
            (f"{P}POINT_DATA 1\nSCALARS a double {BIG}\n1\n", 9),
            (f"{P}POINT_DATA 1\nCOLOR_SCALARS a {BIG}\n1\n", 9),
            (f"{P}POINT_DATA 1\nLOOKUP_TABLE a {BIG}\n1\n", 9),
            (f"{P}FIELD f 1\na {BIG} 1 double\n1\n", 9),
        ],
    )
    def test_is_a_format_error(self, tmp_path, body, line):
        path = tmp_path / "big.vtk"
        path.write_text(self.H + body)
        with pytest.raises(vtk.VtkFormatError, match="the file ends after") as info:
            vtk.read(path)
        assert info.value.lineno == line
