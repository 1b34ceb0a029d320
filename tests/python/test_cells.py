import gc
import sys
import traceback
import weakref

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from veltrane.codecs import _vtk_parse
from veltrane.codecs._vtk_parse import parse_ascii_cells_v42 as parse

FUNC = "veltrane.codecs._vtk_parse.parse_ascii_cells_v42"
SOURCE = "veltrane/codecs/_vtk_parse.cpp"
PAST_END = "CELLS block runs past the end of the file"
NO_COUNT = "CELLS row holds no vertex count"
NOT_LISTED = "CELLS row does not list the vertices it declares"
SSIZE_OVERFLOW = "Python int too large to convert to C ssize_t"


def int_error(text):
    try:
        int(text)
    except ValueError as e:
        return str(e)
    raise AssertionError(f"int({text!r}) succeeded")


def raises_at(exc_type, message, line, python_below=False):
    """Exactly exc_type(message), with the body's entry at `line` under line 81.

    python_below: whether the exception comes from Python code, whose frames
    then follow ours; None leaves it open.
    """
    return _RaisesAt(exc_type, message, line, python_below)


class _RaisesAt:
    def __init__(self, exc_type, message, line, python_below):
        self.exc_type, self.message, self.line = exc_type, message, line
        self.python_below = python_below

    def __enter__(self):
        self.ctx = pytest.raises(self.exc_type)
        self.info = self.ctx.__enter__()
        return self.info

    def __exit__(self, *exc):
        if not self.ctx.__exit__(*exc):
            return False
        e = self.info.value
        assert type(e) is self.exc_type
        if self.message is not None:
            assert str(e) == self.message
        # Ours are the last two entries, unless Python code that raised lies
        # below them.
        entries = [(f.filename, f.name, f.lineno) for f in traceback.extract_tb(e.__traceback__)]
        first = next(i for i, entry in enumerate(entries) if entry[0] == SOURCE)
        assert entries[first : first + 2] == [(SOURCE, FUNC, 81), (SOURCE, FUNC, self.line)]
        assert all(entry[0] != SOURCE for entry in entries[first + 2 :])
        if self.python_below is not None:
            assert (len(entries) > first + 2) == self.python_below
        return True


def check(result, conn, offsets):
    got_conn, got_offsets = result
    for got, want in ((got_conn, conn), (got_offsets, offsets)):
        assert type(got) is np.ndarray
        assert got.dtype == np.int32 and got.ndim == 1
        assert got.flags.c_contiguous and got.flags.owndata
        assert got.tolist() == want


class Lines:
    """A sequence that records len() calls and the positions read."""

    def __init__(self, items):
        self.items = list(items)
        self.lens = 0
        self.read = []

    def __len__(self):
        self.lens += 1
        return len(self.items)

    def __getitem__(self, i):
        self.read.append(i)
        return self.items[i]


class Row:
    """A row whose split() returns prepared tokens."""

    def __init__(self, tokens, on_split=None):
        self.tokens, self.on_split = tokens, on_split

    def split(self):
        if self.on_split:
            self.on_split()
        return self.tokens


class Token:
    """A token that int() reads through __int__, optionally running `hook`."""

    def __init__(self, value, hook=None):
        self.value, self.hook = value, hook

    def __int__(self):
        if self.hook:
            self.hook()
        return self.value


class TestResults:
    @pytest.mark.parametrize(
        "rows, conn, offsets",
        [
            (["3 0 1 2", "2 2 3"], [0, 1, 2, 2, 3], [0, 3, 5]),
            (["1 7", "0", "2 8 9"], [7, 8, 9], [0, 1, 1, 3]),
            (["0", "0"], [], [0, 0, 0]),
            (["  2\t4   5 \r\n"], [4, 5], [0, 2]),
            (["+2 -1 +3"], [-1, 3], [0, 2]),
            (["1_0 " + " ".join("9" * 10)], [9] * 10, [0, 10]),
            (["2 1_000 0_7"], [1000, 7], [0, 2]),
            (["002 -0 0"], [0, 0], [0, 2]),
            (["٢ ٣ ٤"], [3, 4], [0, 2]),  # int() reads any decimal digits
            (["2 -2147483648 2147483647"], [-2147483648, 2147483647], [0, 2]),
            ([b"3 0 1 2", b"1 -5"], [0, 1, 2, -5], [0, 3, 4]),
            ([bytearray(b"1 4")], [4], [0, 1]),
            ([Row(("2", b"5", 6))], [5, 6], [0, 2]),
            ([Row([True, Token(9)]), Row([np.int64(2), 2.9, "4"])], [9, 2, 4], [0, 1, 3]),
        ],
    )
    def test_rows(self, rows, conn, offsets):
        check(parse(rows, 0, len(rows)), conn, offsets)

    @pytest.mark.parametrize("container", [list, tuple, Lines])
    def test_reads_only_the_block(self, container):
        lines = container(["junk", "1 5", "2 6 7", None])
        check(parse(lines, 1, 2), [5, 6, 7], [0, 1, 3])
        if container is Lines:
            assert lines.lens == 1 and lines.read == [1, 2]

    def test_empty_block_reads_nothing(self):
        lines = Lines(["x", "y"])
        check(parse(lines, 2, 0), [], [0])
        assert lines.lens == 1 and lines.read == []


class TestBlockCheck:
    @pytest.mark.parametrize(
        "n_lines, start, n_cells",
        [(3, 0, 3), (3, 1, 2), (3, 3, 0), (0, 0, 0)],
    )
    def test_inside(self, n_lines, start, n_cells):
        parse(["0"] * n_lines, start, n_cells)

    @pytest.mark.parametrize(
        "n_lines, start, n_cells",
        [(3, 0, 4), (3, 2, 2), (3, 4, 0), (0, 0, 1), (3, 2**62, 2**62), (3, 2**63 - 1, 2**63 - 1)],
    )
    def test_past_end(self, n_lines, start, n_cells):
        lines = Lines(["0"] * n_lines)
        with raises_at(IndexError, PAST_END, 124):
            parse(lines, start, n_cells)
        assert lines.read == []

    @pytest.mark.parametrize("start, n_cells", [(-1, 0), (0, -1), (-(2**63), 5)])
    def test_negative_does_not_ask_len(self, start, n_cells):
        with raises_at(IndexError, PAST_END, 124):
            parse(object(), start, n_cells)

    def test_len_fails(self):
        with raises_at(TypeError, "object of type 'int' has no len()", 123):
            parse(5, 0, 0)


class TestRowErrors:
    @pytest.mark.parametrize(
        "row, exc, message, line",
        [
            ("", ValueError, NO_COUNT, 138),
            (" \t\r\n", ValueError, NO_COUNT, 138),
            (b"  ", ValueError, NO_COUNT, 138),
            ("3 0 1", ValueError, NOT_LISTED, 145),
            ("1", ValueError, NOT_LISTED, 145),
            ("-1", ValueError, NOT_LISTED, 145),
            ("-1 5", ValueError, NOT_LISTED, 145),
            ("3.0 0 1 2", ValueError, int_error("3.0"), 139),
            ("x 0", ValueError, int_error("x"), 139),
            ("1__0", ValueError, int_error("1__0"), 139),
            ("_1", ValueError, int_error("_1"), 139),
            ("+-1", ValueError, int_error("+-1"), 139),
            (b"2e0 1 2", ValueError, int_error(b"2e0"), 139),
            ("2 1 1.5", ValueError, int_error("1.5"), 147),
            ("2 1 x", ValueError, int_error("x"), 147),
            ("1 1_", ValueError, int_error("1_"), 147),
            ("9223372036854775808 0", OverflowError, SSIZE_OVERFLOW, 139),
            ("-9223372036854775809", OverflowError, SSIZE_OVERFLOW, 139),
            ("9" * 30, OverflowError, SSIZE_OVERFLOW, 139),
            ("9223372036854775807 0", ValueError, NOT_LISTED, 145),
            ("1 " + "1" * 5000, ValueError, int_error("1" * 5000), 147),
        ],
    )
    def test_row(self, row, exc, message, line):
        with raises_at(exc, message, line):
            parse(["1 0", row, "1 0"], 0, 3)

    @pytest.mark.parametrize(
        "row, exc, line",
        [
            (None, AttributeError, 131),
            (7, AttributeError, 131),
            (Row(None), TypeError, 137),
            (Row([Token("no int")]), TypeError, 139),
            (Row([2.5, 1]), ValueError, 145),  # int(2.5) is 2, one vertex short
            (Row(["1", None]), TypeError, 147),
        ],
    )
    def test_odd_rows(self, row, exc, line):
        with raises_at(exc, None, line, python_below=None):
            parse(["0", row], 0, 2)

    def test_surplus_tokens_are_ignored(self):
        # Cells [5, 6], [7, 1, 9], [0] packed across lines read as [5, 6], [9],
        # [0]: the row check cannot see it, so the reader compares the
        # header's size field with the offsets.
        conn, offsets = parse(["2 5 6 3 7", "1 9", "0 0", "1 0 x"], 0, 4)
        assert conn.tolist() == [5, 6, 9, 0]
        assert offsets.tolist() == [0, 2, 3, 3, 4]

    def test_split_raises(self):
        def boom():
            raise KeyError("split")

        with raises_at(KeyError, "'split'", 131, python_below=True):
            parse([Row([], on_split=boom)], 0, 1)

    def test_first_bad_row_decides(self):
        lines = Lines(["1 0", "2 1", "x", "", None])
        with raises_at(ValueError, NOT_LISTED, 145):
            parse(lines, 0, 5)
        assert lines.read == [0, 1]


class TestReleases:
    # Exact ints go into the working list unchanged, so their reference
    # counts show whether that list was freed; weak references to the
    # counts show the same for token lists.
    def run(self, tail, exc):
        values = [100_000 + i for i in range(300)]
        before = [sys.getrefcount(v) for v in values]
        counts = [Token(1) for _ in values]
        refs = [weakref.ref(c) for c in counts]
        rows = [Row([c, v]) for c, v in zip(counts, values)] + tail
        del counts
        if exc is None:
            parse(rows, 0, len(rows))
        else:
            with pytest.raises(exc):
                parse(rows, 0, len(rows))
        del rows
        gc.collect()
        assert all(r() is None for r in refs)
        assert [sys.getrefcount(v) for v in values] == before

    @pytest.mark.parametrize(
        "tail, exc",
        [([], None), ([""], ValueError), (["1 x"], ValueError), (["1 2147483648"], OverflowError)],
    )
    def test_paths(self, tail, exc):
        self.run(tail, exc)


class TestInt32:
    @pytest.mark.parametrize("value", ["2147483648", "-2147483649", "7" * 40])
    def test_narrowing_is_numpy_s_after_the_block(self, value):
        lines = Lines([f"1 {value}", "1 0"])
        try:
            np.array([int(value)], dtype=np.int32)
        except OverflowError as e:
            message = str(e)
        with raises_at(OverflowError, message, 151):
            parse(lines, 0, 2)
        assert lines.read == [0, 1]

    def test_bad_row_after_it_still_decides(self):
        with raises_at(ValueError, NO_COUNT, 138):
            parse(["1 2147483648", ""], 0, 2)


class TestNumpyLookup:
    class FakeNumpy:
        def __init__(self, log):
            self.log = log

        def __getattr__(self, name):
            self.log.append(name)
            if name == "array":
                return lambda values, dtype: self.log.append((list(values), dtype)) or name
            return "i4"

    def test_looked_up_on_every_call(self, monkeypatch):
        log = []
        monkeypatch.setattr(_vtk_parse, "np", self.FakeNumpy(log))
        assert parse(["2 4 5"], 0, 1) == ("array", "array")
        assert log == ["array", "int32", ([4, 5], "i4"), "array", "int32", ([0, 2], "i4")]

    def test_missing_np(self, monkeypatch):
        monkeypatch.delattr(_vtk_parse, "np")
        with raises_at(NameError, "name 'np' is not defined", 151):
            parse(["0"], 0, 1)

    def test_missing_attribute(self, monkeypatch):
        monkeypatch.setattr(_vtk_parse, "np", object())
        with raises_at(AttributeError, None, 151):
            parse(["0"], 0, 1)

    def test_offsets_array_fails_after_connectivity(self, monkeypatch):
        calls = []

        def array(values, dtype):
            calls.append(values)
            if len(calls) == 2:
                raise RuntimeError("second")
            return np.array(values, dtype=dtype)

        monkeypatch.setattr(_vtk_parse, "np", type("NP", (), {"array": array, "int32": np.int32}))
        with raises_at(RuntimeError, "second", 151, python_below=True):
            parse(["1 3"], 0, 1)


class TestShrinkingSequences:
    """Python code run mid-call may shrink the lists; reads stay inside them."""

    def test_token_list_shrinks(self):
        tokens = ["3", None, "1", "2"]
        tokens[1] = Token(0, hook=tokens.clear)
        with raises_at(IndexError, "list index out of range", 147):
            parse([Row(tokens)], 0, 1)

    def test_token_list_shrinks_during_count(self):
        tokens = [None, "1", "2"]
        tokens[0] = Token(2, hook=lambda: tokens.pop())
        with raises_at(ValueError, NOT_LISTED, 145):
            parse([Row(tokens)], 0, 1)

    def test_lines_shrink(self):
        lines = ["1 0", "1 1", "1 2"]
        lines[0] = Row(["1", "0"], on_split=lines.clear)
        with raises_at(IndexError, "list index out of range", 131):
            parse(lines, 0, 3)


# A small reference of the same algorithm, in Python.
def reference(lines, start, n_cells):
    if start < 0 or n_cells < 0 or start + n_cells > len(lines):
        raise IndexError(PAST_END)
    conn, offsets, total = [], [0], 0
    for i in range(start, start + n_cells):
        tokens = lines[i].split()
        if not tokens:
            raise ValueError(NO_COUNT)
        count = int(tokens[0])
        if not -(2**63) <= count < 2**63:
            raise OverflowError(SSIZE_OVERFLOW)
        if count < 0 or len(tokens) <= count:
            raise ValueError(NOT_LISTED)
        conn.extend(int(t) for t in tokens[1 : count + 1])
        total += count
        offsets.append(total)
    return np.array(conn, dtype=np.int32), np.array(offsets, dtype=np.int32)


def outcome(fn, *args):
    try:
        conn, offsets = fn(*args)
    except Exception as e:
        return type(e), str(e)
    return conn.dtype, conn.tolist(), offsets.dtype, offsets.tolist()


space = st.sampled_from([" ", "  ", "\t", " \x0b", "\x0c", "\u3000", "\xa0"])
plain = st.integers(-3, 40).map(str)
edge = st.sampled_from(
    [
        "2147483647",
        "2147483648",
        "-2147483648",
        "-2147483649",
        "9223372036854775807",
        "9223372036854775808",
        "-9223372036854775808",
        "-9223372036854775809",
    ]
)
odd = st.text(alphabet="0123456789_+-.eE x٣", min_size=0, max_size=6).filter(lambda s: s.strip())
token = st.one_of(plain, plain, plain, edge, odd)


@st.composite
def row_text(draw):
    n = draw(st.integers(0, 5))
    if draw(st.booleans()):
        tokens = [str(n)] + [draw(plain) for _ in range(n)]  # mostly well formed
    else:
        tokens = draw(st.lists(token, max_size=6))
    seps = [draw(space) for _ in range(len(tokens) + 1)]
    text = seps[0] + "".join(t + s for t, s in zip(tokens, seps[1:]))
    return text.encode() if draw(st.booleans()) and text.isascii() else text


@settings(max_examples=400, deadline=None)
@given(
    rows=st.lists(row_text(), max_size=8),
    start=st.integers(-1, 9),
    n_cells=st.integers(-1, 9),
)
def test_matches_reference(rows, start, n_cells):
    assert outcome(parse, rows, start, n_cells) == outcome(reference, rows, start, n_cells)
