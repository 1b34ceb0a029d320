"""Reference leaks, on the debug interpreter (tools/leak-test runs this file
there; tools/test runs tools/leak-test).

Every success and failure path of both parsers, of the block module and of
vtk.read is run many times after a warm-up, and sys.gettotalrefcount() and
sys.getallocatedblocks() must not grow.

NumPy here is built for the release interpreter. Each array that owns data
moves the total by a fixed amount, measured below on plain np.empty calls, so
each case says how many such arrays one call makes; most cases bind the
parsers' `np` to a stand-in without NumPy, which makes none. vtk.read makes
too many arrays in Python to count them, so its cases compare the reference
count of every object reachable from the garbage collector's roots instead.
"""

import array
import gc
import sys
import types

import numpy as np
import pytest

from veltrane.codecs import _vtk_blocks, _vtk_parse, vtk

pytestmark = pytest.mark.skipif(
    not hasattr(sys, "gettotalrefcount"), reason="needs the debug interpreter: tools/leak-test"
)

WARMUP = 20
REPS = 100
ROUNDS = 3
SLACK = 10  # the measuring code's own few references and blocks, caches filling


def measure(fn, reps=REPS, rounds=ROUNDS):
    """(references, blocks) gained by each round of `reps` calls after a
    warm-up. A leak shows in every round; a cache filling up in one."""
    for _ in range(WARMUP):
        fn()
    out = []
    for _ in range(rounds):
        gc.collect()
        refs, blocks = sys.gettotalrefcount(), sys.getallocatedblocks()
        for _ in range(reps):
            fn()
        gc.collect()
        out.append((sys.gettotalrefcount() - refs, sys.getallocatedblocks() - blocks))
    return out


def per_array_drift():
    # Keyword arguments cost NumPy's parser more; each array costs this.
    drifts = [
        measure(f, rounds=1)[0][0]
        for f in (lambda: np.zeros(3), lambda: np.ones(3), lambda: np.empty(3))
    ]
    return round(min(drifts) / REPS)


# -- stand-ins for np ---------------------------------------------------------


class StandIn:
    """np as the parsers use it, without NumPy: results backed by memoryview
    and array.array. parse_ascii_coords fills the memoryview and then fails
    its ndarray type test, which is a path of its own."""

    float64 = "d"
    int32 = "i"

    def __init__(self, empty=None, array=None):
        if empty is not None:
            self.empty = empty
        if array is not None:
            self.array = array

    @staticmethod
    def empty(shape, dtype=None):
        n, k = shape
        return memoryview(bytearray(8 * n * k)).cast("B").cast("d", (n, k))

    @staticmethod
    def array(values, dtype=None):
        return array.array("q", values)


def raise_(exc_type):
    def f(*args, **kwargs):
        raise exc_type("from a stand-in")

    return f


def returns(obj):
    return lambda *args, **kwargs: obj


def readonly(a):
    a.flags.writeable = False
    return a


def raises(exc_type, fn, *args, **kwargs):
    try:
        fn(*args, **kwargs)
    except exc_type:
        pass


REAL = "real"
MISSING = "missing"


# -- odd lines and tokens -----------------------------------------------------


class Line:
    """A line whose split() returns what it is given."""

    def __init__(self, tokens):
        self.tokens = tokens

    def split(self):
        return self.tokens


class Tokens:
    """A token list whose len() fails from the `fail_at`-th call on."""

    def __init__(self, items, fail_at=1):
        self.items, self.fail_at, self.calls = items, fail_at, 0

    def __len__(self):
        self.calls += 1
        if self.calls >= self.fail_at:
            raise RuntimeError("len")
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class Seq:
    """A sequence that is neither list nor tuple; item access may fail."""

    def __init__(self, items, bad=None):
        self.items, self.bad = items, bad

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        if i == self.bad:
            raise LookupError(i)
        return self.items[i]


class Num:
    def __init__(self, v):
        self.v = v

    def __float__(self):
        return self.v

    def __index__(self):
        return self.v


class BadFloat:
    def __float__(self):
        raise ArithmeticError("no")


class Key(str):
    def __eq__(self, other):
        raise RuntimeError("eq")

    __hash__ = str.__hash__


class NoLen:
    pass


# -- cases: (id, function, args, kwargs, exception or None, np, arrays) ------

coords = _vtk_parse.parse_ascii_coords
cells = _vtk_parse.parse_ascii_cells_v42
read_ascii = _vtk_blocks.read_ascii
count_tokens = _vtk_blocks.count_tokens
token_offset = _vtk_blocks.token_offset
line_end = _vtk_blocks.line_end
line_of = _vtk_blocks.line_of
split_cells = _vtk_blocks.split_cells
read_cells = _vtk_blocks.read_cells
format_numbers = _vtk_blocks.format_numbers
format_cells = _vtk_blocks.format_cells


def lowered(fn):
    """fn with the block module's sizes lowered around each call, so that a
    small block takes the paths without the GIL and on threads."""

    def call(*args):
        old = _vtk_blocks._tune(0, 0, 1)
        try:
            return fn(*args)
        finally:
            _vtk_blocks._tune(*old)

    return call


XYZ = ["1 2 3", "4.5\t-6e2 7", "1_000 .5 -0", "nan -inf 1e999"]
XYZ_GENERAL = [
    "1\u20032 3",
    b"1 2 3",
    Line(["1", 2, 3.5]),
    Line([Num(1.0), b"2", bytearray(b"3")]),
    "\u0663 1 2",
    "1 2 3 ",
]
ROWS = ["3 0 1 2", "2 1 2", "0", "1 7 99", b"2 5 6"]
ROWS_GENERAL = ["2\u20030 1", "2 1_0 \u0663", Line(["2", 1, Num(2)]), "3  0 1 2 surplus"]


def cases():
    c = []

    def add(name, fn, args, exc=None, np_=None, arrays=0, kw=None, calib=None):
        c.append(pytest.param(fn, args, kw or {}, exc, np_, arrays, calib, id=name))

    standin = StandIn()
    # parse_ascii_coords: results, with NumPy and with the stand-in.
    for name, lines in [
        ("str", XYZ),
        ("general", XYZ_GENERAL),
        ("tuple", tuple(XYZ)),
        ("seq", Seq(XYZ)),
    ]:
        add(f"coords-{name}", coords, (lines, 0, len(lines)), np_=REAL, arrays=1)
        add(f"coords-{name}-standin", coords, (lines, 0, len(lines)), TypeError, standin)
    add("coords-empty", coords, ([], 0, 0), np_=REAL, arrays=1)
    add("coords-keywords", coords, (), np_=REAL, arrays=1, kw=dict(lines=XYZ, start=1, n_verts=2))
    # parse_ascii_coords: every failure row.
    add("coords-negative", coords, (XYZ, -1, 1), IndexError, standin)
    add("coords-len", coords, (NoLen(), 0, 1), TypeError, standin)
    add("coords-past-end", coords, (XYZ, 2, 3), IndexError, standin)
    add("coords-no-np", coords, (XYZ, 0, 1), NameError, MISSING)
    add("coords-no-empty", coords, (XYZ, 0, 1), AttributeError, types.SimpleNamespace())
    add("coords-empty-raises", coords, (XYZ, 0, 1), KeyError, StandIn(empty=raise_(KeyError)))
    for name, empty, exc, arrays in [
        ("not-buffer", returns(object()), TypeError, 0),
        ("readonly", lambda s, dtype: memoryview(bytes(24)).cast("d", (1, 3)), BufferError, 0),
        ("1d", lambda s, dtype: memoryview(bytearray(24)).cast("d"), ValueError, 0),
        ("shape", lambda s, dtype: memoryview(bytearray(32)).cast("d", (1, 4)), ValueError, 0),
        ("format", lambda s, dtype: memoryview(bytearray(24)).cast("i", (2, 3)), ValueError, 0),
        # Arrays made once: the case counts the parser's work with them.
        ("float32", np.empty((1, 3), np.float32), ValueError, 0),
        ("big-endian", np.empty((1, 3), ">f8"), ValueError, 0),
        ("strided", np.empty((1, 6))[:, ::2], ValueError, 0),
        ("readonly-array", readonly(np.empty((1, 3))), ValueError, 0),
    ]:
        calib = None
        if isinstance(empty, np.ndarray):
            if empty.flags.c_contiguous and empty.flags.writeable:
                # NumPy exports the buffer, which costs what it costs a memoryview.
                calib = lambda a=empty: memoryview(a).release()
            empty = returns(empty)
        add(
            f"coords-buffer-{name}",
            coords,
            (XYZ, 0, 1),
            exc,
            StandIn(empty=empty),
            arrays,
            calib=calib,
        )
    add("coords-fetch", coords, (Seq(XYZ, bad=1), 0, 2), LookupError, standin)
    add("coords-no-split", coords, ([None], 0, 1), AttributeError, standin)
    add("coords-split-raises", coords, ([Line(None)], 0, 1), TypeError, standin)
    add("coords-tokens-len", coords, ([Line(Tokens(["1", "2", "3"]))], 0, 1), RuntimeError, standin)
    for k, line in enumerate(["1 2", "1 2 3 4", "", "   "]):
        add(f"coords-not-one-vertex-{k}", coords, (["1 2 3", line], 0, 2), ValueError, standin)
    for j in range(3):
        for name, bad in [
            ("text", "abc"),
            ("bytes", b"1,5"),
            ("raises", BadFloat()),
            ("non-float", Num("x")),
            ("no-float", object()),
            ("underscore", "1__0"),
        ]:
            toks = ["1", "2", "3"]
            toks[j] = bad
            line = " ".join(toks) if isinstance(bad, str) else Line(toks)
            exc = (
                TypeError
                if name in ("non-float", "no-float")
                else ArithmeticError
                if name == "raises"
                else ValueError
            )
            add(f"coords-token{j}-{name}", coords, ([line], 0, 1), exc, standin)

    # parse_ascii_cells_v42: results, native and through lists.
    for name, lines in [
        ("str", ROWS),
        ("general", ROWS_GENERAL),
        ("tuple", tuple(ROWS)),
        ("seq", Seq(ROWS)),
    ]:
        add(f"cells-{name}", cells, (lines, 0, len(lines)), np_=REAL, arrays=2)
        add(f"cells-{name}-standin", cells, (lines, 0, len(lines)), np_=standin, arrays=2)
    add("cells-empty", cells, ([], 0, 0), np_=REAL, arrays=2)
    add("cells-keywords", cells, (), np_=REAL, arrays=2, kw=dict(lines=ROWS, start=1, n_cells=2))
    wide = ["2 1 4294967296", "1 -2147483649", "3 0 1 2"]
    add("cells-wide-standin", cells, (wide, 0, 3), np_=standin, arrays=2)
    # NumPy refuses the first list; what that costs it is counted on NumPy alone.
    add(
        "cells-wide-numpy",
        cells,
        (wide, 0, 3),
        OverflowError,
        REAL,
        arrays=2,
        calib=lambda: raises(OverflowError, np.array, [1, 2, 4294967296], dtype=np.int32),
    )
    add("cells-wide-general", cells, ([Line(["1", 2**40])], 0, 1), np_=standin, arrays=2)
    add("cells-array-raises", cells, (ROWS, 0, 2), KeyError, StandIn(array=raise_(KeyError)), 2)
    add("cells-no-array", cells, (ROWS, 0, 2), AttributeError, types.SimpleNamespace(int32="i"), 2)
    add("cells-no-np", cells, (ROWS, 0, 2), NameError, MISSING, arrays=2)
    # parse_ascii_cells_v42: every failure row.
    add("cells-negative", cells, (ROWS, 0, -1), IndexError, standin)
    add("cells-len", cells, (NoLen(), 0, 1), TypeError, standin)
    add("cells-past-end", cells, (ROWS, 4, 2), IndexError, standin)
    add("cells-fetch", cells, (Seq(ROWS, bad=1), 0, 2), LookupError, standin, 2)
    add("cells-no-split", cells, ([1], 0, 1), AttributeError, standin, 2)
    add("cells-tokens-len", cells, ([Line(Tokens(["1", "0"]))], 0, 1), RuntimeError, standin, 2)
    add(
        "cells-tokens-len-again",
        cells,
        ([Line(Tokens(["1", "0"], 2))], 0, 1),
        RuntimeError,
        standin,
        2,
    )
    for name, row, exc in [
        ("blank", " ", ValueError),
        ("count-text", "x 1", ValueError),
        ("count-overflow", "99999999999999999999 1", OverflowError),
        ("count-negative", "-1 5", ValueError),
        ("short", "3 1 2", ValueError),
        ("vertex-text", "2 1 x", ValueError),
        ("vertex-float", "2 1 2.0", ValueError),
        ("count-object", Line([object(), "1"]), TypeError),
        ("vertex-object", Line(["1", BadFloat()]), TypeError),
    ]:
        add(f"cells-{name}", cells, (["2 0 1", row], 0, 2), exc, standin, 2)

    # The binding, for both functions.
    for fn, pre in [(coords, "coords"), (cells, "cells")]:
        add(f"{pre}-bind-few", fn, (XYZ, 0), TypeError)
        add(f"{pre}-bind-many", fn, (XYZ, 0, 1, 2), TypeError)
        add(f"{pre}-bind-unexpected", fn, (XYZ, 0, 1), TypeError, kw={"bogus": 1})
        add(f"{pre}-bind-twice", fn, (XYZ, 0), TypeError, kw={"start": 1})
        add(f"{pre}-bind-missing", fn, (), TypeError, kw={"lines": XYZ, "start": 0})
        add(f"{pre}-bind-key-eq", fn, (XYZ, 0), RuntimeError, kw={Key("n"): 1})
        add(f"{pre}-bind-start-float", fn, (XYZ, 1.5, 1), TypeError)
        add(f"{pre}-bind-start-huge", fn, (XYZ, 2**70, 1), OverflowError)
        add(f"{pre}-bind-count-text", fn, (XYZ, 0, "1"), TypeError)
        add(
            f"{pre}-bind-count-index",
            fn,
            (XYZ, 0, Num(1)),
            None,
            REAL,
            arrays=1 if fn is coords else 2,
        )
        add(f"{pre}-bind-count-index-raises", fn, (XYZ, 0, Num(None)), TypeError)
        add(f"{pre}-bind-int64-edge", fn, (XYZ, 2**63 - 1, 1), IndexError)

    # The block module: every reader's success and decline, argument errors.
    runs = b"1 2 3 4\n5 6\n7\nPOINTS 1 float"
    for t in "dfbBhHiIqQ?c":
        add(f"blocks-{t}", read_ascii, (b"1 0\n1 1", 0, 4, t), arrays=1)
        add(f"blocks-{t}-bad", read_ascii, (b"1 x 1", 0, 3, t), arrays=1)
    add("blocks-run", read_ascii, (runs, 0, 7, "d"), arrays=1)
    add("blocks-slow-float", read_ascii, (b"1e999 inf 1_0 -nan", 0, 4, "d"), arrays=1)
    add("blocks-slow-float32", read_ascii, (b"1e999 inf 1_0 -nan", 0, 4, "f"), arrays=1)
    add("blocks-slow-float32-bad", read_ascii, (b"1 1__0 2", 0, 3, "f"), arrays=1)
    add("blocks-slow-uint64", read_ascii, (b"18446744073709551615", 0, 1, "Q"), arrays=1)
    add("blocks-slow-int-range", read_ascii, (b"99999999999999999999 1", 0, 2, "Q"), arrays=1)
    add("blocks-long-int", read_ascii, (b"0" * 700 + b"1", 0, 1, "q"), arrays=1)
    add("blocks-digit-limit", read_ascii, (b"0" * 5000, 0, 1, "q"), arrays=1)
    add("blocks-range", read_ascii, (b"-1", 0, 1, "Q"), arrays=1)
    add("blocks-left-over", read_ascii, (b"1 2 3", 0, 2, "d"), arrays=1)
    add("blocks-short", read_ascii, (b"1 2 3", 0, 3 * 2**20, "d"))
    add("blocks-empty", read_ascii, (b"", 0, 0, "d"), arrays=1)
    add("blocks-bytearray", read_ascii, (bytearray(b"1 2"), 0, 2, "d"), arrays=1)
    add("blocks-memoryview", read_ascii, (memoryview(b"1 2"), 1, 1, "d"), arrays=1)
    u8 = np.frombuffer(b"1 2", np.uint8)
    add(
        "blocks-uint8",
        read_ascii,
        (u8, 0, 2, "d"),
        arrays=1,
        calib=lambda: memoryview(u8).release(),
    )
    for name, args, exc in [
        ("nargs", (runs, 0, 7), TypeError),
        ("data", ("1 2", 0, 2, "d"), TypeError),
        ("data-items", (array.array("i", [1]), 0, 1, "d"), TypeError),
        ("data-strided", (memoryview(runs)[::2], 0, 1, "d"), ValueError),
        ("pos", (runs, -1, 7, "d"), ValueError),
        ("pos-huge", (runs, 2**70, 7, "d"), OverflowError),
        ("pos-float", (runs, 0.0, 7, "d"), TypeError),
        ("count", (runs, 0, -1, "d"), ValueError),
        ("type", (runs, 0, 7, "z"), ValueError),
        ("type-bytes", (runs, 0, 7, b"d"), TypeError),
    ]:
        add(f"blocks-args-{name}", read_ascii, args, exc)
    add("count-tokens", count_tokens, (runs, -(2**80), 2**80))
    add("count-tokens-nargs", count_tokens, (runs, 0), TypeError)
    add("count-tokens-index", count_tokens, (runs, Num(0), Num(9)))
    add("token-offset", token_offset, (runs, 1, 3))
    add("token-offset-past-end", token_offset, (runs, 0, 99))
    add("token-offset-k", token_offset, (runs, 0, -1), ValueError)
    add("line-end", line_end, (runs, 0, 2, b"\n"))
    add("line-end-none", line_end, (runs, 0, 9, b"\r"))
    add("line-end-eol", line_end, (runs, 0, 1, "\n"), TypeError)
    add("line-end-eol-value", line_end, (runs, 0, 1, b"\r\n"), ValueError)
    add("line-end-n", line_end, (runs, 0, 0, b"\n"), ValueError)
    big = np.array([2, 5, 6, 1, 7], ">i4")
    add("split-cells", split_cells, (big, 2), arrays=2)
    add("split-cells-uint64", split_cells, (np.array([1, 2**63 - 1], "u8"), 1), arrays=2)
    for name, stream, n in [
        ("negative", [1, 1, -3, 0], 2),
        ("past-end", [1, 1, 3, 1], 2),
        ("no-room", [0, 0], 3),
        ("left-over", [0, 0, 5], 2),
        ("beyond-int64", [1, 2**63], 1),
    ]:
        arrays = 2 if n <= len(stream) else 0
        dtype = "u8" if name == "beyond-int64" else "i8"
        add(f"split-cells-{name}", split_cells, (np.array(stream, dtype), n), arrays=arrays)
    # Runs and cells read without the GIL and on threads: whole, declined at
    # a token, handed to the scan alone for the interpreter's tokens.
    for threads in (1, 3):
        for name, data in [
            ("", runs),
            ("-bad", b"1 2\n3 x 5"),
            ("-slow", b"1 2\n3 1_0 inf"),
            ("-slow-bad", b"1 2\n3 1__0 5"),
        ]:
            add(
                f"blocks-lowered-{threads}{name}",
                lowered(read_ascii),
                (data, 0, 5, "d", threads),
                arrays=1,
            )
        add(
            f"read-cells-lowered-{threads}",
            lowered(read_cells),
            (b"2 1 2\n1 1_0\n0\n3 4 5 6\n", 0, 4, 10, threads),
            arrays=2,
        )
        add(
            f"read-cells-lowered-{threads}-bad",
            lowered(read_cells),
            (b"2 1 2\n1 7\n5\n3 4 5 6\n", 0, 4, 10, threads),
            arrays=2,
        )
    add(
        "split-cells-lowered",
        lowered(split_cells),
        (readonly(np.array([1, 5, 0], "i4")), 2),
        arrays=2,
    )
    add("read-cells", read_cells, (b"2 1 2\n1 5\n", 0, 2, 5), arrays=2)
    add("read-cells-threads", read_cells, (b"2 1 2\n1 5\n", 0, 2, 5, 2), arrays=2)
    add("read-cells-empty", read_cells, (b"", 0, 0, 0), arrays=2)
    add("read-cells-slow", read_cells, (b"2 1 2\n1 1_0\n", 0, 2, 5), arrays=2)
    for name, args, arrays in [
        ("bad", (b"2 1 x\n1 5\n", 0, 2, 5), 2),
        ("slow-bad", (b"2 1 1__0\n1 5\n", 0, 2, 5), 2),
        ("count", (b"2 1 2\n-1 5\n", 0, 2, 5), 2),
        ("left-over", (b"2 1 2\n1 5 9\n", 0, 2, 6), 2),
        ("line", (b"2 1 2\n1 5 9\n", 0, 2, 5), 2),
        ("short", (b"2 1 2\n1", 0, 2, 5), 0),
        ("more-cells", (b"2 1 2\n1 5\n", 0, 9, 5), 0),
        ("no-numbers", (b"", 0, 2, 0), 0),
    ]:
        add(f"read-cells-{name}", read_cells, args, arrays=arrays)
    for name, args, exc in [
        ("nargs", (runs, 0, 1), TypeError),
        ("data", ("1 2", 0, 1, 2), TypeError),
        ("n", (runs, 0, -1, 2), ValueError),
        ("size", (runs, 0, 1, 2**70), OverflowError),
        ("threads", (runs, 0, 1, 2, 0), ValueError),
        ("threads-type", (runs, 0, 1, 2, 1.0), TypeError),
    ]:
        add(f"read-cells-args-{name}", read_cells, args, exc)
    add("blocks-args-threads", read_ascii, (runs, 0, 7, "d", -1), ValueError)
    add("blocks-threads-huge", read_ascii, (runs, 0, 7, "d", 2**80), arrays=1)
    add("line-of", line_of, (runs, 9, b"\n"))
    add("line-of-eol", line_of, (runs, 9, b"x"), ValueError)
    add("line-of-pos", line_of, (runs, -1, b"\n"), ValueError)
    add("tune-args", _vtk_blocks._tune, (0, 0, 0), ValueError)
    add("split-cells-list", split_cells, ([1, 0], 1), TypeError)
    add("split-cells-2d", split_cells, (np.zeros((1, 2), np.int64), 1), ValueError)
    add("split-cells-float", split_cells, (np.zeros(2), 1), TypeError)
    # The formatters' private copies are arrays made and dropped in the call.
    add("format-numbers", format_numbers, (np.array([1.5, -0.0, np.nan, 1e300]), 3), arrays=1)
    add("format-numbers-float32", format_numbers, (np.array([0.1, 7e-46], np.float32), 1), arrays=1)
    add("format-numbers-strided", format_numbers, (big.reshape(5, 1)[::2], 2), arrays=1)
    add("format-numbers-empty", format_numbers, (np.zeros(0, bool), 1), arrays=1)
    add("format-numbers-list", format_numbers, ([1.0], 1), TypeError)
    add("format-numbers-dtype", format_numbers, (np.zeros(1, np.float16), 1), TypeError)
    add("format-numbers-per-line", format_numbers, (np.zeros(1), 0), ValueError)
    rows = (np.array([1, 3, 3, 4]), np.array([7, 8, 9]))
    add("format-cells", format_cells, rows, arrays=2)
    add("format-cells-swapped", format_cells, (rows[0].astype(">i8"), rows[1][::-1]), arrays=2)
    add("format-cells-dtype", format_cells, (rows[0], rows[1].astype("i4")), TypeError, arrays=1)
    add("format-cells-decrease", format_cells, (rows[0][::-1], rows[1]), ValueError, arrays=2)
    add("format-cells-span", format_cells, (rows[0], rows[1][:2]), ValueError, arrays=2)
    return c


@pytest.fixture(scope="module")
def drift():
    return per_array_drift()


@pytest.mark.parametrize("fn,args,kwargs,exc,np_,arrays,calib", cases())
def test_no_growth(fn, args, kwargs, exc, np_, arrays, calib, drift, monkeypatch):
    if np_ is MISSING:
        monkeypatch.delattr(_vtk_parse, "np")
    elif np_ is not None and np_ is not REAL:
        monkeypatch.setattr(_vtk_parse, "np", np_)
    elif np_ is None:
        monkeypatch.setattr(_vtk_parse, "np", StandIn())

    if exc is None:

        def call():
            fn(*args, **kwargs)
    else:

        def call():
            try:
                fn(*args, **kwargs)
            except exc:
                pass
            else:
                raise AssertionError(f"no {exc.__name__}")

    want = arrays * drift * REPS + (calibrate(calib) if calib else 0)
    rounds = measure(call)
    assert any(abs(refs - want) <= SLACK for refs, _ in rounds), (
        f"total references moved by {[r for r, _ in rounds]} a round, {want} expected"
    )
    assert any(blocks <= SLACK for _, blocks in rounds), (
        f"{[b for _, b in rounds]} memory blocks more a round"
    )


def calibrate(fn):
    """What a plain NumPy call moves the total by in REPS calls."""
    return min(refs for refs, _ in measure(fn))


# -- vtk.read -----------------------------------------------------------------


def reachable():
    """Every object reachable from the collector's roots, by id."""
    seen = {}
    stack = gc.get_objects() + [sys.modules]
    while stack:
        obj = stack.pop()
        if id(obj) not in seen:
            seen[id(obj)] = obj
            stack.extend(gc.get_referents(obj))
    return seen


def held_references(fn, reps=REPS // 4, rounds=2):
    """Runs rounds of `reps` calls of fn after a warm-up; returns the objects
    that existed before and gained at least one reference a call in every
    round, and the fewest memory blocks a round added."""
    for _ in range(WARMUP):
        fn()
    gc.collect()
    objs = reachable()
    counts = {k: sys.getrefcount(o) for k, o in objs.items() if not sys._is_immortal(o)}
    grown = set(counts)
    fewest_blocks = None
    for _ in range(rounds):
        blocks = sys.getallocatedblocks()
        for _ in range(reps):
            fn()
        gc.collect()
        blocks = sys.getallocatedblocks() - blocks
        fewest_blocks = blocks if fewest_blocks is None else min(fewest_blocks, blocks)
        now = {k: sys.getrefcount(objs[k]) for k in counts}
        grown = {k for k in grown if now[k] - counts[k] >= reps}
        counts = now
    return [objs[k] for k in grown], fewest_blocks


REAL_DIR = __import__("pathlib").Path(__file__).parent / "data" / "real"


def broken_files(tmp):
    text = (REAL_DIR / "vtk_ugrid_42.vtk").read_text()
    lines = text.splitlines(keepends=True)
    at = next(i for i, s in enumerate(lines) if s.startswith("CELLS"))
    files = {
        "truncated": "".join(lines[: at + 5]),
        "junk-point": text.replace("0.875703", "0.87x5703", 1),
        "junk-cell": "".join(lines[: at + 2] + ["3 1 2 zz\n"] + lines[at + 3 :]),
        "count": text.replace("POINTS 120", "POINTS 121", 1),
        "binary-noise": "".join(lines[:10]) + "\x00\xff\x13" * 40,
    }
    paths = {}
    for name, body in files.items():
        p = tmp / f"{name}.vtk"
        p.write_text(body, encoding="utf-8", errors="surrogateescape")
        paths[name] = p
    return paths


@pytest.fixture(scope="module")
def broken(tmp_path_factory):
    return broken_files(tmp_path_factory.mktemp("broken"))


def check_read(call):
    # NumPy keeps a block now and then on this interpreter (np.cumsum with
    # out=, which the reader uses), never one a call; a leak of the parsers
    # would keep at least one a call.
    reps = 30
    grown, blocks = held_references(call, reps=reps, rounds=3)
    assert not grown, grown[:5]
    assert blocks < reps, f"{blocks} memory blocks more in {reps} reads"


@pytest.mark.parametrize("name", sorted(p.name for p in REAL_DIR.glob("*.vtk")))
def test_read_good_files_hold_nothing(name):
    path = REAL_DIR / name
    check_read(lambda: vtk.read(path))


@pytest.mark.parametrize(
    "name",
    ["truncated", "junk-point", "junk-cell", "count", "binary-noise", "missing", "directory"],
)
def test_read_broken_files_hold_nothing(name, broken, tmp_path):
    path = {"missing": tmp_path / "nothing.vtk", "directory": tmp_path}.get(name) or broken[name]
    exc = OSError if name in ("missing", "directory") else vtk.VtkFormatError
    check_read(lambda: raises(exc, vtk.read, path))
