"""What the fixtures' differential check cannot reach: BINARY blocks cut short
or declared larger than the file, FIELD blocks that share names, values the VTK
library wraps round where this reader refuses them, grids whose points nobody
asked for, and the cells as a sequence."""

import pathlib
import struct
import tracemalloc

import numpy as np
import pytest

from veltrane.codecs import vtk

FIXTURES = pathlib.Path(__file__).parent / "data" / "fixtures"


def binary_file(tmp_path, body, dataset="UNSTRUCTURED_GRID"):
    path = tmp_path / "b.vtk"
    path.write_bytes(
        b"# vtk DataFile Version 4.2\nt\nBINARY\nDATASET " + dataset.encode() + b"\n" + body
    )
    return path


POINTS = b"POINTS 2 float\n" + struct.pack(">6f", 0, 0, 0, 1, 2, 3) + b"\n"


class TestBinaryBlocks:
    @pytest.mark.parametrize(
        "body, line, message",
        [
            (POINTS[:30], 5, "POINTS: the file ends inside the block: 24 bytes, 15 left"),
            (b"POINTS 1000000000000000000 double\n\0\0", 5, "the file ends inside the block"),
            (b"POINTS 2 float 0 0 0\n", 5, "found '0' after a header whose block is BINARY"),
            (POINTS + b"CELLS 1 3\n" + struct.pack(">3i", 2, 0, 1)[:-1], 7, "CELLS: the file ends"),
            (POINTS + b"CELLS 1 3\n" + struct.pack(">3i", 3, 0, 1), 7, "cell 0 runs past"),
            (
                POINTS + b"POINT_DATA 2\nFIELD f 1\ns 1 2 string\n\xc1a\xc5bc",
                9,
                "FIELD array 's': the file ends inside the block",
            ),
            (POINTS + b"CELL_TYPES -1\n", 7, "the count -1 is negative"),
        ],
    )
    def test_short_or_oversized_blocks_name_their_header(self, tmp_path, body, line, message):
        with pytest.raises(vtk.VtkFormatError) as err:
            vtk.read(binary_file(tmp_path, body))
        assert (err.value.lineno, message in err.value.reason) == (line, True), err.value

    def test_bits_of_several_components_are_packed_together(self, tmp_path):
        # 3 tuples of 3 bits: 9 bits in 2 bytes, most significant first.
        body = b"POINTS 3 float\n" + struct.pack(">9f", *range(9))
        body += b"\nPOINT_DATA 3\nFIELD f 1\nb 3 3 bit\n\xa5\x80\n"
        mesh = vtk.read(binary_file(tmp_path, body))
        assert mesh.point_data["b"].tolist() == [[1, 0, 1], [0, 0, 1], [0, 1, 1]]


class TestFieldBlocks:
    def test_later_blocks_keep_their_arrays_under_their_names(self):
        mesh = vtk.read(FIXTURES / "hw_field_timesteps.vtk")
        assert mesh.dataset == "FIELD" and mesh.points.shape == (0, 3)
        assert mesh.field_data["time"].tolist() == [0.0]
        assert [name for name, _ in mesh.more_fields] == ["step1", "step2"]
        assert [arrays["time"].tolist() for _, arrays in mesh.more_fields] == [[0.5], [1.0]]
        assert mesh.more_fields[1][1]["pressure"].tolist() == [[2.0, 2.25], [2.5, 2.75]]


HEAD = (
    "# vtk DataFile Version 4.2\nt\nASCII\nDATASET UNSTRUCTURED_GRID\nPOINTS 2 float\n0 0 0 1 0 0\n"
)


class TestRefusals:
    """Values and layouts the VTK library reads into something else without a
    word: here they are errors that say where."""

    @pytest.mark.parametrize(
        "body, line, message",
        [
            ("FIELD f 1\nu 1 2 unsigned_char\n0 256\n", 10, "256 does not fit the declared type"),
            ("FIELD f 1\nu 1 2 unsigned_short\n-32769 0\n", 10, "-32769 does not fit"),
            ("COLOR_SCALARS c 1\n0 1.5\n", 9, "1.5 is outside 0 .. 1"),
            ("SCALARS s float 1 2 3\n", 8, "expected LOOKUP_TABLE, found '2'"),
            (
                "VECTORS v float\n0 0 0 1 1 1\nMETADATA\nCOMPONENT_NAMES\nx\ny\n"
                "NORMALS n float\n0 0 1 0 0 1\n",
                14,
                "found 'NORMALS n float' where a component name belongs",
            ),
            (
                "VECTORS v float\n0 0 0 1 1 1\nMETADATA\nCOMPONENT_NAMES\nx\ny\nz\n"
                "SCALARS s int\nLOOKUP_TABLE default\n1 2\n",
                15,
                "METADATA runs into a SCALARS section",
            ),
        ],
    )
    def test_point_data(self, tmp_path, body, line, message):
        path = tmp_path / "r.vtk"
        path.write_text(HEAD + "POINT_DATA 2\n" + body)
        with pytest.raises(vtk.VtkFormatError) as err:
            vtk.read(path)
        assert (err.value.lineno, message in err.value.reason) == (line, True), err.value

    def test_negative_unsigned_values_are_twos_complement(self, tmp_path):
        path = tmp_path / "u.vtk"
        path.write_text(HEAD + "POINT_DATA 2\nFIELD f 1\nu 1 2 unsigned_short\n-1 -32768\n")
        assert vtk.read(path).point_data["u"].tolist() == [65535, 32768]


class TestGrids:
    def test_an_image_makes_no_points_until_asked(self, tmp_path):
        path = tmp_path / "i.vtk"
        path.write_text(
            "# vtk DataFile Version 3.0\nt\nASCII\nDATASET STRUCTURED_POINTS\n"
            "DIMENSIONS 100 100 100\nORIGIN -0.0 -0.0 -0.0\nSPACING 0.1 -0.2 0.3\n"
        )
        tracemalloc.start()
        mesh = vtk.read(path)
        peak = tracemalloc.get_traced_memory()[1]
        tracemalloc.stop()
        assert peak < 2**20 and mesh.n_points == 10**6 and mesh.n_cells == 99**3
        # An origin of zeros is the default one, without negative zeros.
        assert np.signbit(mesh.origin).tolist() == [False] * 3
        points = mesh.points
        assert points.shape == (10**6, 3)
        assert points[-1].tolist() == [0.0 + 99 * 0.1, 0.0 + 99 * -0.2, 0.0 + 99 * 0.3]
        assert points[1].tolist() == [0.1, 0.0, 0.0] and points[100].tolist()[1] == -0.2


class TestCellBlock:
    def test_is_a_sequence(self):
        block = vtk.CellBlock.from_cells([[0, 1, 2], [3], []])
        assert len(block) == 3
        assert [c.tolist() for c in block] == [[0, 1, 2], [3], []]
        assert block[-1].tolist() == [] and block[-3].tolist() == [0, 1, 2]
        assert block.cell(-2).tolist() == [3] and [c.tolist() for c in block[1:]] == [[3], []]
        with pytest.raises(IndexError):
            block[3]
        with pytest.raises(IndexError):
            block.cell(-4)

    def test_polydata_cells_in_vtk_order_whatever_the_file_order(self, tmp_path):
        path = tmp_path / "p.vtk"
        path.write_text(
            "# vtk DataFile Version 4.2\nt\nASCII\nDATASET POLYDATA\nPOINTS 3 float\n"
            "0 0 0 1 0 0 0 1 0\nPOLYGONS 1 4\n3 0 1 2\nVERTICES 2 4\n1 0\n1 1\n"
            "CELL_DATA 3\nSCALARS c int\nLOOKUP_TABLE default\n7 8 9\n"
        )
        mesh = vtk.read(path)
        assert list(mesh.cells) == ["VERTICES", "LINES", "POLYGONS", "TRIANGLE_STRIPS"]
        assert [len(b) for b in mesh.cells.values()] == [2, 0, 1, 0]
