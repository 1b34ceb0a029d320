"""The in-place scan of plain str and bytes lines must be invisible: the same
lines given as str or bytes subclasses, which take the general path, give the
same arrays bit for bit, or the same exception, message and traceback."""

import numpy as np
import pytest
from conftest import entries
from hypothesis import given, settings
from hypothesis import strategies as st

from veltrane.codecs import _vtk_parse as m


class S(str):
    pass


class B(bytes):
    pass


def outcome(func, lines, start, n):
    try:
        got = func(lines, start, n)
    except BaseException as e:
        return ("raised", type(e), e.args, entries(e))
    arrays = got if isinstance(got, tuple) else (got,)
    return ("value", [(a.dtype, a.shape, a.tobytes()) for a in arrays])


def same_both_ways(func, lines, start=0, n=None):
    n = len(lines) if n is None else n
    general = [S(x) if isinstance(x, str) else B(x) for x in lines]
    want = outcome(func, general, start, n)
    assert outcome(func, list(lines), start, n) == want
    assert outcome(func, tuple(lines), start, n) == want
    return want


SEPS = [" ", "  ", "\t", "\r", "\x0b", "\x0c", "\x1c", "\x1f", "\u3000", "\xa0", "\u2028"]
FLOATS = [
    "1",
    "-2.5",
    "+.5",
    "1e5",
    "1E-05",
    "-0",
    "0.1",
    "1_000",
    "1__0",
    "_1",
    "1e_5",
    "inf",
    "-Infinity",
    "nan",
    "-nan",
    "1e999",
    "1e-999",
    "4.9e-324",
    "abc",
    "1,5",
    "0x1",
    "٣",
    "1.7976931348623157e308",
    "9" * 30,
    ".",
    "-",
    "+-1",
]
INTS = [
    "0",
    "3",
    "-1",
    "+2",
    "007",
    "1_0",
    "1__0",
    "_1",
    "2147483647",
    "2147483648",
    "-2147483648",
    "-2147483649",
    "9223372036854775807",
    "9223372036854775808",
    "9" * 25,
    "1.0",
    "x",
    "٣",
    "1e3",
]


def line_of(tokens, seps, lead, trail):
    text = lead
    for i, tok in enumerate(tokens):
        text += tok + (seps[i % len(seps)] if i + 1 < len(tokens) else "")
    return text + trail


@st.composite
def lines_of(draw, pool, sizes):
    n = draw(st.integers(0, 6))
    out = []
    for _ in range(n):
        k = draw(sizes)
        tokens = [draw(st.sampled_from(pool) | st.integers(-50, 50).map(str)) for _ in range(k)]
        seps = draw(st.lists(st.sampled_from(SEPS), min_size=1, max_size=3))
        lead = draw(st.sampled_from(["", " ", "\t", "\x1e"]))
        trail = draw(st.sampled_from(["", " ", "\r", "\n", "\x1d"]))
        out.append(line_of(tokens, seps, lead, trail))
    if draw(st.booleans()):
        out = [x.encode("utf-8") for x in out]
    return out


@settings(max_examples=400, deadline=None)
@given(lines_of(FLOATS, st.integers(0, 4) | st.just(3) | st.just(3)))
def test_points_agree(lines):
    same_both_ways(m.parse_ascii_coords, lines)


@st.composite
def cell_rows(draw):
    rows = draw(lines_of(INTS, st.integers(0, 5)))
    # Mostly well-formed rows, so that errors come late in the block too.
    good = draw(st.lists(st.integers(0, 4), max_size=4))
    rows += [" ".join([str(c)] + [str(7 * c + j) for j in range(c)]) for c in good]
    return draw(st.permutations(rows))


@settings(max_examples=400, deadline=None)
@given(cell_rows())
def test_cells_agree(lines):
    same_both_ways(m.parse_ascii_cells_v42, lines)


@pytest.mark.parametrize("bad", ["1 2", "1 2 x", "1 2 3 4", "", "1 2 nan"])
def test_points_error_at_every_position(bad):
    good = ["%d.5 -%d 1e%d" % (i, i, i % 5) for i in range(12)]
    for at in range(len(good)):
        lines = good[:at] + [bad] + good[at + 1 :]
        same_both_ways(m.parse_ascii_coords, lines)
        same_both_ways(m.parse_ascii_coords, [x.encode() for x in lines])


@pytest.mark.parametrize(
    "bad", ["3 0 1", "x", "", "-1", "2 1 1.5", "1 2147483648", "1 " + "9" * 30]
)
def test_cells_error_at_every_position(bad):
    good = ["3 %d %d %d" % (i, i + 1, i + 2) for i in range(12)]
    for at in range(len(good)):
        lines = good[:at] + [bad] + good[at + 1 :]
        same_both_ways(m.parse_ascii_cells_v42, lines)


def test_non_ascii_lines_take_the_general_path():
    same_both_ways(m.parse_ascii_coords, ["1\u30002 3", "٣ 1 2", "1 2 3"])
    same_both_ways(m.parse_ascii_cells_v42, ["2\u3000٣ 1", "1 ٤"])


def test_large_blocks_grow_their_arrays():
    rows = ["%d %s" % (k % 9, " ".join(str(j) for j in range(k % 9))) for k in range(20000)]
    want = same_both_ways(m.parse_ascii_cells_v42, rows)
    conn, offsets = m.parse_ascii_cells_v42(rows, 0, len(rows))
    assert conn.flags.owndata and conn.base is None and conn.flags.writeable
    assert offsets[-1] == len(conn) == sum(k % 9 for k in range(20000))
    assert want[0] == "value"


class TestReboundNumpy:
    """Once np, np.array or np.int32 is rebound, np.array is called with lists."""

    @pytest.fixture
    def calls(self):
        saved = m.np
        seen = []

        class Fake:
            int32 = np.int32

            @staticmethod
            def array(values, dtype):
                seen.append((list(values), dtype))
                return np.array(values, dtype=dtype)

        m.np = Fake
        yield seen
        m.np = saved

    def test_lists_reach_np_array(self, calls):
        conn, offsets = m.parse_ascii_cells_v42(["2 1 2", "1 2147483648"], 0, 1)
        assert calls == [([1, 2], np.int32), ([0, 2], np.int32)]

    def test_rebound_mid_block(self):
        saved = m.np

        class Rebind:
            def __int__(self):
                m.np = type(
                    "Fake", (), {"array": staticmethod(lambda v, dtype: list(v)), "int32": np.int32}
                )
                return 5

        class Row:
            def split(self):
                return [1, Rebind()]

        try:
            conn, offsets = m.parse_ascii_cells_v42(["1 7", Row(), "1 2147483648"], 0, 3)
        finally:
            m.np = saved
        assert conn == [7, 5, 2147483648] and offsets == [0, 1, 2, 3]
