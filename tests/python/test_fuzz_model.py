"""Both parsers against a pure-Python model of their algorithm, on random
line lists: valid and broken records, str and bytes lines, lines and tokens
of other types, lists, tuples and other sequences, and block positions
around and beyond the list's ends. Result or exception, they must agree:
arrays bit for bit, exceptions by type and message."""

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st

from veltrane.codecs import _vtk_parse

POINTS_PAST_END = "POINTS block runs past the end of the file"
CELLS_PAST_END = "CELLS block runs past the end of the file"
NOT_ONE_VERTEX = "POINTS line does not hold exactly one vertex"
NO_COUNT = "CELLS row holds no vertex count"
NOT_LISTED = "CELLS row does not list the vertices it declares"
INT64 = 2**63


def model_coords(lines, start, n_verts):
    if start < 0 or n_verts < 0 or start + n_verts > len(lines):
        raise IndexError(POINTS_PAST_END)
    out = np.empty((n_verts, 3), dtype=np.float64)
    for i in range(n_verts):
        tokens = lines[start + i].split()
        if len(tokens) != 3:
            raise ValueError(NOT_ONE_VERTEX)
        for j in range(3):
            out[i, j] = float(tokens[j])
    return out


def model_cells(lines, start, n_cells):
    if start < 0 or n_cells < 0 or start + n_cells > len(lines):
        raise IndexError(CELLS_PAST_END)
    connectivity, offsets, total = [], [0], 0
    for i in range(start, start + n_cells):
        tokens = lines[i].split()
        if len(tokens) == 0:
            raise ValueError(NO_COUNT)
        count = int(tokens[0])
        if not -INT64 <= count < INT64:
            raise OverflowError("Python int too large to convert to C ssize_t")
        if count < 0 or len(tokens) <= count:
            raise ValueError(NOT_LISTED)
        connectivity += [int(tokens[k]) for k in range(1, count + 1)]
        total += count
        offsets.append(total)
    return (np.array(connectivity, dtype=np.int32), np.array(offsets, dtype=np.int32))


def outcome(fn, *args):
    try:
        return "value", fn(*args)
    except (IndexError, ValueError, OverflowError, TypeError, AttributeError) as e:
        return "error", (type(e), e.args)


def same(got, want):
    if got[0] != want[0]:
        return False
    if got[0] == "error":
        return got[1] == want[1]
    g, w = got[1], want[1]
    if isinstance(w, tuple):
        return isinstance(g, tuple) and len(g) == len(w) and all(map(same_array, g, w, strict=True))
    return same_array(g, w)


def same_array(g, w):
    return (
        type(g) is np.ndarray
        and g.dtype == w.dtype
        and g.shape == w.shape
        and g.tobytes() == w.tobytes()
    )


# -- lines -------------------------------------------------------------------


class Line:
    """A line that is no str or bytes: split() returns the given tokens."""

    def __init__(self, tokens):
        self.tokens = tokens

    def split(self):
        return list(self.tokens)

    def __repr__(self):
        return f"Line({self.tokens!r})"


class Seq:
    """A sequence that is neither list nor tuple."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]

    def __repr__(self):
        return f"Seq({self.items!r})"


class Sub(list):
    pass


numbers = st.one_of(
    st.integers(-5, 2**31 + 5).map(str),
    st.integers(-(2**70), 2**70).map(str),
    st.floats(allow_nan=True, allow_infinity=True).map(repr),
    st.floats(width=32).map(lambda f: f"{f:.9e}"),
    st.sampled_from(
        [
            "0",
            "-0",
            "+1",
            "007",
            "1_000",
            "1_0.5_0",
            ".5",
            "5.",
            "1e5",
            "1E-5",
            "-1e999",
            "1e-999",
            "2.5e-310",
            "inf",
            "-Infinity",
            "nan",
            "+NaN",
            "9223372036854775807",
            "9223372036854775808",
            "-9223372036854775809",
            "2147483647",
            "2147483648",
            "-2147483649",
        ]
    ),
)
junk = st.sampled_from(
    [
        "",
        "abc",
        "1,5",
        "1.2.3",
        "_1",
        "1_",
        "1__0",
        "1e_5",
        "-_1",
        "--1",
        "0x10",
        "1e",
        "e5",
        ".",
        "+",
        "\u0663",
        "1\u0663",
        "\u0661\u0662",
        "\uff11",
        "1\x002",
        "POINTS",
        "CELLS",
    ]
)
# Mostly numbers, so that blocks often run long before a broken record.
tokens = st.one_of(*[numbers] * 8, junk)
separators = st.sampled_from(
    [" ", " ", "  ", "\t", "\x0b", "\x0c", "\r", " \n", "\x1c", "\x1f", "\u2003", "\x85", "\u3000"]
)


@st.composite
def text_lines(draw, width):
    n = width if draw(st.integers(0, 9)) < 8 else draw(st.integers(0, width + 2))
    toks = [draw(tokens) for _ in range(n)]
    seps = [draw(separators) for _ in range(n + 1)]
    lead = seps[0] if draw(st.booleans()) else ""
    tail = seps[-1] if draw(st.booleans()) else ""
    return lead + "".join(t + s for t, s in zip(toks, seps[1:-1] + [""])) + tail


@st.composite
def cell_rows(draw):
    """Mostly well-formed "count i0 i1 ..." rows, some of them broken."""
    count = draw(st.integers(0, 4))
    index = st.one_of(
        st.integers(0, 99).map(str),
        st.integers(0, 99).map(str),
        st.integers(-(2**33), 2**33).map(str),
        tokens,
    )
    n = count + draw(st.sampled_from([0, 0, 0, 1, 2, -1]))
    toks = [draw(st.one_of(st.just(str(count)), tokens))] + [draw(index) for _ in range(max(n, 0))]
    sep = draw(separators)
    return (
        draw(st.sampled_from(["", " "])) + sep.join(toks) + draw(st.sampled_from(["", "\r", " "]))
    )


@st.composite
def lines_of(draw, record):
    line = draw(record)
    kind = draw(st.sampled_from(["str", "str", "str", "bytes", "object", "str-sub"]))
    if kind == "bytes":
        return line.encode("utf-8", "surrogatepass")
    if kind == "object":
        # Tokens of other types go through the interpreter's conversions.
        odd = st.one_of(
            st.integers(-(2**40), 2**40),
            st.floats(),
            st.just(True),
            st.binary(max_size=4),
            st.just(b"12"),
            st.just(bytearray(b"3.5")),
        )
        toks = [draw(st.one_of(st.just(t), odd)) for t in line.split()]
        return Line(toks)
    if kind == "str-sub":
        return type("S", (str,), {})(line)
    return line


@st.composite
def blocks(draw, record):
    lines = draw(st.lists(lines_of(record), max_size=8))
    container = draw(st.sampled_from([list, list, tuple, Seq, Sub]))
    n_lines = len(lines)
    if draw(st.integers(0, 9)) < 8:
        # A block inside the list.
        start = draw(st.integers(0, n_lines))
        count = draw(st.integers(0, n_lines - start))
    else:
        edges = st.sampled_from([INT64 - 1, -INT64, -1])
        start = draw(st.one_of(st.integers(-2, n_lines + 2), edges))
        count = draw(st.one_of(st.integers(-1, n_lines + 2), edges))
    return container(lines), start, count


@settings(max_examples=600, deadline=None)
@given(blocks(text_lines(3)))
def test_coords_follow_the_model(block):
    got = outcome(_vtk_parse.parse_ascii_coords, *block)
    want = outcome(model_coords, *block)
    assert same(got, want), (block, got, want)


@settings(max_examples=600, deadline=None)
@given(blocks(st.one_of(cell_rows(), cell_rows(), text_lines(3))))
def test_cells_follow_the_model(block):
    got = outcome(_vtk_parse.parse_ascii_cells_v42, *block)
    want = outcome(model_cells, *block)
    assert same(got, want), (block, got, want)
