"""veltrane.codecs.vtk: real writers' files, round trips, layouts the fast path
declines, and every kind of bad input with its line number."""

import pathlib
import re

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from mesh_strategies import meshes

from veltrane.codecs import _vtk_blocks, vtk
from veltrane.codecs.vtk import ArrayInfo
from veltrane.codecs.vtk._read import read_with_paths

DATA = pathlib.Path(__file__).parent / "data" / "real"
FIXTURES = sorted(p.stem for p in DATA.glob("*.vtk"))
EXAMPLE = pathlib.Path(__file__).parents[2] / "examples" / "grid.vtk.gz"
GROUPS = ("point_data", "cell_data", "field_data")


def bits(a):
    """Bytes of an array, so that -0.0 and the sign of NaN count."""
    a = np.ascontiguousarray(a)
    return a.dtype.str, a.shape, a.tobytes()


def same(ours, theirs, points=False):
    """Equal in dtype, shape and bits. Points are float64 whatever the file
    declares: a float32 oracle is met by ours rounded."""
    ours, theirs = np.asarray(ours), np.asarray(theirs)
    if points and theirs.dtype == np.float32:
        assert ours.dtype == np.float64
        ours = ours.astype(np.float32)
    if theirs.dtype.kind == "U":
        assert ours.tolist() == theirs.tolist()
    else:
        assert bits(ours) == bits(theirs)


def text_file(tmp_path, body, dataset="UNSTRUCTURED_GRID", version="4.2"):
    path = tmp_path / "t.vtk"
    path.write_text(f"# vtk DataFile Version {version}\ntitle\nASCII\nDATASET {dataset}\n" + body)
    return path


TETRA = """POINTS 4 double
0 0 0
1 0 0
0 1 0
0 0 1
CELLS 1 5
4 0 1 2 3
CELL_TYPES 1
10
"""


@pytest.fixture(params=["one thread", "threads"])
def path_kind(request):
    """Runs a test on one thread, and on two with the native scan's thresholds
    lowered so that even these small blocks are split over them."""
    if request.param == "one thread":
        yield 1
        return
    old = _vtk_blocks._tune(0, 0, 1)
    try:
        yield 2
    finally:
        _vtk_blocks._tune(*old)


class TestRealWriters:
    @pytest.mark.parametrize("name", FIXTURES)
    def test_reads_what_the_writers_reader_reads(self, name, path_kind):
        with np.load(DATA / f"{name}.npz") as npz:
            oracle = dict(npz)
        mesh = vtk.read(DATA / f"{name}.vtk", threads=path_kind)
        assert mesh.dataset == str(oracle["meta/dataset"])
        assert mesh.version == str(oracle["meta/version"])
        if "meta/title" in oracle:
            assert mesh.title == str(oracle["meta/title"])
        same(mesh.points, oracle["points"], points=True)
        for kw, block in mesh.cells.items():
            same(block.connectivity, oracle[f"cells/{kw}/connectivity"])
            same(block.offsets, oracle[f"cells/{kw}/offsets"])
        if mesh.dataset == "UNSTRUCTURED_GRID":
            same(mesh.cell_types, oracle["cell_types"])
        else:
            assert mesh.cell_types is None
        ours = {
            f"{group}/{k}": v
            for group in ("point_data", "cell_data", "field_data")
            for k, v in getattr(mesh, group).items()
        }
        assert sorted(ours) == sorted(
            k for k in oracle if k.split("/")[0] in ("point_data", "cell_data", "field_data")
        )
        for key, values in ours.items():
            same(values, oracle[key])

    def test_every_block_is_scanned_from_the_bytes(self):
        _, paths = read_with_paths(DATA / "vtk_polydata_42.vtk")
        assert paths == [("POINTS", "native", "")] + [
            (kw, "native", "") for kw in ("VERTICES", "LINES", "POLYGONS", "TRIANGLE_STRIPS")
        ]


class TestRoundTrip:
    @settings(
        max_examples=600, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture]
    )
    @given(mesh=meshes(), version=st.sampled_from(["4.2", "5.1"]), binary=st.booleans())
    def test_write_then_read_gives_the_same_bits(self, tmp_path, mesh, version, binary):
        self.check(tmp_path, mesh, version, binary)

    @pytest.mark.parametrize("binary", [False, True], ids=["ascii", "binary"])
    @pytest.mark.parametrize("version", ["4.2", "5.1"])
    @pytest.mark.parametrize("name", FIXTURES)
    def test_real_files_write_back(self, tmp_path, name, version, binary):
        self.check(tmp_path, vtk.read(DATA / f"{name}.vtk"), version, binary)

    @staticmethod
    def check(tmp_path, mesh, version, binary=False):
        path = tmp_path / "m.vtk"
        vtk.write(path, mesh, version=version, binary=binary)
        back = vtk.read(path)
        assert (back.title, back.version, back.dataset) == (mesh.title, version, mesh.dataset)
        assert bits(back.points) == bits(mesh.points)
        assert back.dimensions == mesh.dimensions
        assert back.cells.keys() == mesh.cells.keys()
        for kw, block in mesh.cells.items():
            assert bits(back.cells[kw].connectivity) == bits(block.connectivity)
            assert bits(back.cells[kw].offsets) == bits(block.offsets)
        if mesh.cell_types is not None:
            assert bits(back.cell_types) == bits(mesh.cell_types)
        groups = [(g, getattr(mesh, g), getattr(back, g)) for g in GROUPS]
        assert [name for name, _ in back.more_fields] == [name for name, _ in mesh.more_fields]
        groups += [(n, a, b) for (n, a), (_, b) in zip(mesh.more_fields, back.more_fields)]
        for group, want, got in groups:
            assert list(got) == list(want)
            for name in want:
                if want[name].dtype.kind == "U":
                    assert got[name].tolist() == want[name].tolist()
                else:
                    assert bits(got[name]) == bits(want[name])
            if group not in GROUPS:
                continue
            infos = getattr(mesh, group.replace("data", "info"))
            back_infos = getattr(back, group.replace("data", "info"))
            for name in want:
                info, got_info = infos.get(name) or ArrayInfo(), back_infos[name]
                # Sections VTK's reader stops at go out as FIELD arrays.
                role = info.role
                if role in ("rational_weights", "higherorderdegrees") or (
                    role == "edge_flags" and group == "cell_data"
                ):
                    role = "field"
                assert got_info.role == role, name
                assert got_info.component_names == info.component_names, name
                if role == "scalars":
                    assert got_info.lookup_table == (info.lookup_table or "default")
                    table = got_info.table
                    assert (None if table is None else bits(table)) == (
                        None if info.table is None else bits(info.table)
                    )

    @pytest.mark.parametrize("version", ["4.2", "5.1"])
    def test_polyhedron_stream_and_names_survive(self, tmp_path, version):
        stream = [2, 3, 0, 1, 2, 3, 0, 1, 3]
        mesh = vtk.Mesh(
            points=np.eye(4, 3),
            cells={"CELLS": vtk.CellBlock.from_cells([stream])},
            cell_types=np.array([42], np.uint8),
            cell_data={"a b%c µ": np.array([-0.0])},
        )
        vtk.write(tmp_path / "p.vtk", mesh, version=version)
        back = vtk.read(tmp_path / "p.vtk")
        assert back.cells["CELLS"].connectivity.tolist() == stream
        assert bits(back.cell_data["a b%c µ"]) == bits(np.array([-0.0]))


class TestLayouts:
    """Layouts the native parser declines must read exactly as the plain one does."""

    @pytest.mark.parametrize(
        "body",
        [
            TETRA,
            TETRA.replace("0 0 0\n1 0 0\n0 1 0\n0 0 1\n", "0 0 0 1 0 0\n0 1 0 0 0 1\n"),
            TETRA.replace("0 0 0\n1 0 0\n0 1 0\n0 0 1\n", "0\n0\n0\n1\n0\n0\n0\n1\n0\n0\n0\n1\n"),
            TETRA.replace("4 0 1 2 3\n", "4 0 1\n2 3\n"),
            TETRA.replace("4 0 1 2 3\n", "4\n0\n1\n2\n3\n"),
            TETRA.replace("\n", "\r\n").replace("POINTS", "\n\npoints").replace("CELLS", "cElls"),
            TETRA.replace("double", "DOUBLE").replace("CELL_TYPES 1\n10", "CELL_TYPES 1\n\n10"),
        ],
    )
    def test_any_layout_of_the_numbers(self, tmp_path, body, path_kind):
        mesh = vtk.read(text_file(tmp_path, body), threads=path_kind)
        assert mesh.points.tolist() == [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]]
        assert mesh.cells["CELLS"].connectivity.tolist() == [0, 1, 2, 3]
        assert mesh.cells["CELLS"].offsets.tolist() == [0, 4]

    def test_packed_cell_rows_are_never_cut_short(self, tmp_path, path_kind):
        # Row 1 holds two cells. Read a row at a time, the surplus would be
        # dropped and the next row taken as cell 2, which the size field hides.
        body = "POINTS 3 float\n0 0 0\n1 0 0\n0 1 0\nPOLYGONS 2 8\n3 0 1 2 3 2 1 0\n3 0 0 0\n"
        with pytest.raises(vtk.VtkFormatError, match=r"line 11: found the number '3'"):
            vtk.read(text_file(tmp_path, body, "POLYDATA"), threads=path_kind)

    def test_packed_rows_with_a_true_size_read_right(self, tmp_path, path_kind):
        body = "POINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 2 8\n3 0 1 2 3 2 1 0\n"
        mesh = vtk.read(text_file(tmp_path, body, "POLYDATA"), threads=path_kind)
        assert mesh.cells["POLYGONS"].connectivity.tolist() == [0, 1, 2, 2, 1, 0]
        assert mesh.cells["LINES"].offsets.tolist() == [0]

    def test_missing_sections_are_empty(self, tmp_path):
        mesh = vtk.read(text_file(tmp_path, "POINTS 1 float\n0 0 0\n"))
        assert len(mesh.cells["CELLS"]) == 0 and mesh.cell_types.dtype == np.uint8
        assert mesh.cell_types.size == 0

    def test_data_sections(self, tmp_path):
        body = (
            TETRA
            + """POINT_DATA 4
SCALARS c char 2
LOOKUP_TABLE my_table
255 -128 0 127 1 2 3 4
LOOKUP_TABLE my_table 1
0 0 0 1
COLOR_SCALARS rgb 1
0 0.00392157 0.980392 1
METADATA
COMPONENT_NAMES

named

CELL_DATA 1
TENSORS6 t vtktypefloat32
1 2 3 4 5 6
FIELD f 2
NULL_ARRAY
s%20t 1 1 string
x%25y
"""
        )
        mesh = vtk.read(text_file(tmp_path, body))
        assert mesh.point_data["c"].tolist() == [[-1, -128], [0, 127], [1, 2], [3, 4]]
        assert mesh.point_data["rgb"].tolist() == [0, 1, 250, 255]
        assert mesh.cell_data["t"].shape == (1, 6) and mesh.cell_data["t"].dtype == np.float32
        assert mesh.cell_data["s t"].tolist() == ["x%y"]


ERRORS = [
    # body after the 4 header lines, line number, message
    ("POINTS 4 double\n0 0 0\n1 0 0\n", 7, "POINTS: the file ends after 6 of 12 numbers"),
    ("POINTS 1 double\n0 0 x\n", 6, "POINTS: expected a number, found 'x'"),
    ("POINTS 1 double\n0 0 0 0\n", 6, "1 more number(s) on this line"),
    ("POINTS -1 double\n", 5, "POINTS: the count -1 is negative"),
    ("POINTS 1 quad\n0 0 0\n", 5, "unknown data type 'quad'"),
    (TETRA.replace("4 0 1 2 3", "4 0 1 2 4"), 11, "CELLS: point index 4 is outside 0 .. 3"),
    (TETRA.replace("4 0 1 2 3", "4 0 1 2 -1"), 11, "point index -1"),
    (
        TETRA.replace("CELLS 1 5", "CELLS 1 6"),
        12,
        "found 'CELL_TYPES' after 5 of 6 numbers: the block holds fewer",
    ),
    (TETRA.replace("CELLS 1 5", "CELLS 1 4"), 11, "1 more number(s)"),
    (TETRA.replace("4 0 1 2 3", "5 0 1 2 3"), 11, "cell 0 runs past the size field 5"),
    (TETRA.replace("4 0 1 2 3", "4 0 1 2 3.0"), 11, "expected an integer, found '3.0'"),
    (TETRA.replace("CELL_TYPES 1\n10", "CELL_TYPES 1\n256"), 13, "outside 0 .. 255"),
    (TETRA.replace("10\n", "42\n"), 11, "face list of polyhedron cell 0"),
    (
        "POINTS 0 float\nCELLS 3 0\nOFFSETS int\n0 0 0\nCONNECTIVITY int\nCELL_TYPES 2\n1 42\n",
        6,
        "face list of polyhedron cell 1 does not fill its 0 numbers",
    ),
    (TETRA.replace("CELL_TYPES 1\n10", "CELL_TYPES 2\n10 10"), 12, "CELL_TYPES lists 2"),
    (TETRA + "POINT_DATA 5\n", 14, "POINT_DATA 5 does not match the 4 points"),
    (TETRA + "CELL_DATA 1\nSCALARS s unsigned_char\n0\n1\n", 17, "more numbers than"),
    (TETRA + "CELL_DATA 1\nSCALARS s unsigned_char\n256\n", 16, "256 does not fit"),
    (TETRA + "CELL_DATA 1\nFIELD f 1\na 1 2 int\n1 2\n", 16, "holds 2 tuples"),
    (TETRA + "CELL_DATA 1\nFIELD f 1\na 1 1 string\n", 16, "ends after 0 of 1 strings"),
    (TETRA + "VECTORS v float\n", 14, "VECTORS before any POINT_DATA"),
    (TETRA + "STRANGE 1\n", 14, "unknown section 'STRANGE'"),
    (TETRA + "POINTS 1 float\n0 0 0\n", 14, "a second POINTS section (the first is on line 5)"),
    (TETRA.replace("CELL_TYPES 1\n10\n", ""), 10, "no CELL_TYPES section"),
    (
        "CELLS 3 3\nOFFSETS vtktypeint64\n0 2 1\nCONNECTIVITY vtktypeint64\n0 0 0\n",
        7,
        "offset 1 is smaller",
    ),
    (
        "CELLS 2 3\nOFFSETS vtktypeint64\n0 2\nCONNECTIVITY vtktypeint64\n0 0 0\n",
        7,
        "the last offset is 2",
    ),
    ("CELLS 2 1\nOFFSETS double\n0 1\n", 6, "expected an integer data type"),
    ("CELLS 1000000000000 1\n0\n", 5, "1000000000000 cells cannot fit in 1 numbers"),
    (TETRA.replace("4 0 1 2 3", "4 0 1 2 " + "9" * 5000), 11, "expected an integer, found '9999"),
]


class TestErrors:
    @pytest.mark.parametrize("body, line, message", ERRORS, ids=[e[2] for e in ERRORS])
    def test_names_file_line_and_cause(self, tmp_path, body, line, message, path_kind):
        path = text_file(tmp_path, body)
        with pytest.raises(vtk.VtkFormatError) as err:
            vtk.read(path, threads=path_kind)
        assert err.value.lineno == line, str(err.value)
        assert message in err.value.reason
        assert str(err.value).startswith(f"{path}, line {line}: ")

    @pytest.mark.parametrize(
        "text, line, message",
        [
            ("", 1, "not a VTK legacy file"),
            ("# vtk Data File\n", 1, "expected '# vtk DataFile Version x.y'"),
            ("# vtk DataFile Version 3.0\nt\nBINARY\n", 3, "ends before the DATASET line"),
            (
                "# vtk DataFile Version 3.0\nt\nASCII\nDATASET TABLE\n",
                4,
                "DATASET TABLE is not supported",
            ),
            (
                "# vtk DataFile Version 3.0\nt\nASCII\nDATASET STRUCTURED_POINTS\n",
                4,
                "STRUCTURED_POINTS has no DIMENSIONS section",
            ),
            ("# vtk DataFile Version 3.0\nt\nASCII\n", 3, "ends before the DATASET line"),
            (
                "# vtk DataFile Version 3.0\nt\nASCII\nDATASET POLYDATA\nCELLS 0 0\n",
                5,
                "CELLS does not belong in POLYDATA",
            ),
        ],
    )
    def test_header(self, tmp_path, text, line, message):
        (tmp_path / "h.vtk").write_text(text)
        with pytest.raises(vtk.VtkFormatError, match=re.escape(message)) as err:
            vtk.read(tmp_path / "h.vtk")
        assert err.value.lineno == line
        assert isinstance(err.value, ValueError)

    def test_damaged_gzip(self, tmp_path):
        (tmp_path / "g.vtk.gz").write_bytes(EXAMPLE.read_bytes()[:5000])
        with pytest.raises(vtk.VtkFormatError, match="line 1: damaged gzip data"):
            vtk.read(tmp_path / "g.vtk.gz")

    def test_no_cut_or_damage_escapes_as_another_error(self, tmp_path):
        source = (DATA / "vtk_ugrid_42.vtk").read_bytes()
        rng = np.random.default_rng(5)
        lines = source.split(b"\n")
        cuts = [b"\n".join(lines[:k]) for k in range(0, len(lines), 7)]
        damaged = []
        for _ in range(150):
            b = bytearray(source)
            for k in rng.integers(0, len(b), size=3):
                b[k] = rng.choice(list(b"0 9-.e\nx%"))
            damaged.append(bytes(b))
        for data in cuts + damaged:
            (tmp_path / "d.vtk").write_bytes(data)
            try:
                vtk.read(tmp_path / "d.vtk")
            except vtk.VtkFormatError:
                pass


class TestCommandLine:
    def test_summary_of_the_example(self, capsys):
        assert vtk.main(["--verbose", str(EXAMPLE)]) == 0
        out = capsys.readouterr().out
        assert "points:    287496" in out
        assert re.search(r"HEXAHEDRON\s+270529", out) and re.search(r"TETRA\s+20480", out)
        assert re.search(r"'velocity'\s+\(287496, 3\)\s+float32", out)
        assert re.search(r"read in \d+\.\d+ s", out)
        assert re.search(r"CELLS\s+scanned from the file's bytes", out)

    def test_bad_file_exits_nonzero(self, tmp_path, capsys):
        path = text_file(tmp_path, "POINTS 2 float\n0 0 0\n")
        assert vtk.main([str(path)]) == 1
        assert f"{path}, line 6: POINTS: the file ends" in capsys.readouterr().err
