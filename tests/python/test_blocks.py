"""_vtk_blocks against small pure-Python models: bytes.split(), float() and
int() with the type's range and the end-of-line rule for read_ascii, an exact
rational oracle for float32, a walk over the stream for split_cells, and
slicing for the token and line functions. Values compare as bytes, so the
signs of zero and NaN count."""

import inspect
import math
import mmap
import re
import struct
import types
from decimal import Decimal, localcontext
from fractions import Fraction

import numpy as np
import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

from veltrane.codecs import _vtk_blocks as blocks

TOKEN = re.compile(rb"[^ \t\n\v\f\r]+")
DTYPES = dict(zip("dfbBhHiIqQ?c", "f8 f4 i1 u1 i2 u2 i4 u4 i8 u8 ? i1".split()))
RANGES = {t: (int(np.iinfo(DTYPES[t]).min), int(np.iinfo(DTYPES[t]).max)) for t in "bBhHiIqQ"}
# Unsigned types take negative values as their two's complement.
RANGES |= {t: (-(RANGES[t][1] + 1) // 2, RANGES[t][1]) for t in "BHIQ"}
RANGES |= {"?": (0, 1), "c": (-128, 255)}


def nearest_float32(text):
    """float32 bits of the decimal `text` rounded once to nearest, ties to even."""
    x = Fraction(text.replace("_", ""))
    sign = "-" if text.startswith("-") else ""
    if x == 0:
        return struct.pack("=f", float(sign + "0"))
    a = abs(x)
    e = a.numerator.bit_length() - a.denominator.bit_length()
    if Fraction(2) ** e > a:
        e -= 1
    ulp = Fraction(2) ** (max(e, -126) - 23)  # subnormals share the lowest exponent
    q, r = divmod(a, ulp)
    if r > ulp / 2 or (r == ulp / 2 and q % 2):
        q += 1
    v = q * ulp
    return struct.pack(
        "=f", math.copysign(math.inf if v >= 2**128 else float(v), -1 if sign else 1)
    )


def number(tok, type):
    """The item bytes of `tok` as read_ascii reads it, or None."""
    try:
        v = float(tok) if type in "df" else int(tok)
    except ValueError:
        return None
    if type == "d":
        return struct.pack("=d", v)
    if type == "f":
        if math.isfinite(v) or not re.fullmatch(rb"[-+]?[a-zA-Z]+", tok):
            return nearest_float32(tok.decode())
        return np.array([v], np.float32).tobytes()
    lo, hi = RANGES[type]
    if not lo <= v <= hi:
        return None
    if type == "c" and v > 127:
        v -= 256
    elif type in "BHIQ" and v < 0:
        v += hi + 1
    return np.array([v], DTYPES[type]).tobytes()


def model(data, pos, count, type):
    """read_ascii's answer, with the values as bytes."""
    if count == 0:
        return b"", pos
    toks = [(m.start(), m.group()) for m in TOKEN.finditer(data, pos)]
    out = []
    for k in range(count):
        if k == len(toks):
            return None, len(data)
        item = number(toks[k][1], type)
        if item is None:
            return None, toks[k][0]
        out.append(item)
    end = toks[count - 1][0] + len(toks[count - 1][1])
    rest = re.compile(rb"[ \t\v\f]*").match(data, end).end()
    if rest < len(data) and data[rest] not in b"\r\n":
        return None, rest
    return b"".join(out), end


def check(data, pos, count, type):
    got, want = blocks.read_ascii(data, pos, count, type), model(data, pos, count, type)
    if want[0] is None:
        assert got == want
        return
    values, end = got
    assert values.dtype == np.dtype(DTYPES[type]) and values.dtype.isnative
    assert values.shape == (count,) and values.flags.c_contiguous
    assert (values.tobytes(), end) == want


TOKENS = [
    *"0 1 -0 +1 00 007 0_1 1__0 _1 1_ 1.5 -0.0 1e3 1E+03 .5 5. 1_0.5 1e_5 x 1e 0x10 1,5".split(),
    *"inf -inf nan -nan +NaN Infinity iNF 1e999 -1e999 1e-999 2.5e-310 ٣ 1\0".split(),
    *"3.4028235e38 3.40282357e38 1.4e-45 7e-46 7.1e-46 1.000000059604644775390625".split(),
    "1.000000178813934326171874999999999",
    *[str(v + d) for v in (128, 256, 32768, 65536, 2**31, 2**32, 2**63, 2**64) for d in (-1, 0)],
    *[str(-v + d) for v in (128, 32768, 2**31, 2**63) for d in (-1, 0)],
]
decimals = st.from_regex(
    r"[-+]?(\d{1,25}(\.\d{0,25})?|\.\d{1,25})([eE][-+]?\d{1,3})?", fullmatch=True
)
tokens = st.sampled_from(TOKENS) | decimals | st.floats().map(repr) | st.integers().map(str)
spaces = st.sampled_from([" ", "  ", "\t", "\n", "\r\n", " \n ", "\v", "\f", "\r"])


@st.composite
def runs(draw):
    toks = draw(st.lists(tokens, max_size=10))
    text = "".join(t + draw(spaces) for t in toks)
    data = (draw(st.sampled_from(["", " ", "\n"])) + text).encode()
    data = data[: draw(st.integers(0, len(data)))] if draw(st.booleans()) else data
    return data, draw(st.integers(0, len(data))), draw(st.integers(0, 12))


@settings(max_examples=3000, deadline=None)
@given(runs(), st.sampled_from(list(DTYPES)))
@example((b"1 2 3 4", 0, 3, "d"), "d")
def test_read_ascii_agrees_with_python(run, type):
    check(*run[:3], type)


@pytest.mark.parametrize(
    "data,count,type,want",
    [
        (b"1 2 3 4\n5 6\nPOINTS 1 float", 6, "d", ([1, 2, 3, 4, 5, 6], 11)),  # over lines
        (b"1\n\n2\n3", 3, "q", ([1, 2, 3], 6)),
        (b"1_0 inf -0", 3, "d", ([10.0, math.inf, -0.0], 10)),
        (b"0.1 -2 3e-5\n1_0\t.5", 5, "d", ([0.1, -2.0, 3e-5, 10.0, 0.5], 18)),
        (b"4 1 2 3 4", 5, "q", ([4, 1, 2, 3, 4], 9)),
        (b"  7\r\nPOINTS", 1, "B", ([7], 3)),
        (b"200 -1 255", 3, "c", ([-56, -1, -1], 10)),
        (b"0 1 00 -0", 4, "?", ([False, True, False, False], 9)),
        (b"18446744073709551615", 1, "Q", ([2**64 - 1], 20)),
        (b"0" * 700 + b"7", 1, "i", ([7], 701)),  # int() reads 700 digits, zeros or not
        (b"1 2 3\n", 2, "d", (None, 4)),  # a number left on the last line
        (b"1 2", 3, "d", (None, 3)),  # the data ends first
        (b"1 -1", 2, "Q", ([1, 2**64 - 1], 4)),  # two's complement
        (b"1 -129", 2, "B", (None, 2)),  # out of range
        (b"1 x 3", 3, "d", (None, 2)),  # not a number
        (b"1.0", 1, "q", (None, 0)),  # int() refuses it
        ("1 2\n３".encode(), 3, "d", (None, 4)),  # not ASCII
        (b"0.1 -2 3e-5\n1_0\t.5", 6, "d", (None, 18)),
        (b"1 2 3", 2**60, "d", (None, 5)),  # a count the bytes cannot hold
        (b"1 " + b"0" * 4301, 2, "q", (None, 2)),  # past int()'s digit limit
    ],
)
def test_read_ascii_cases(data, count, type, want):
    values, end = blocks.read_ascii(data, 0, count, type)
    assert (None if values is None else values.tolist(), end) == want


@st.composite
def near_halfway(draw):
    """Decimal text at, just above or just below the midpoint of two float32s."""
    bits = draw(st.integers(0, 0x7F7FFFFE))
    a = Fraction(float(np.frombuffer(struct.pack("=I", bits), np.float32)[0]))
    b = Fraction(float(np.frombuffer(struct.pack("=I", bits + 1), np.float32)[0]))
    mid = (a + b) / 2
    with localcontext(prec=400):  # wide enough for every float32 midpoint, exactly
        exact = Decimal(mid.numerator) / Decimal(mid.denominator)
        assert Fraction(exact) == mid
        text = format(exact, "f" if draw(st.booleans()) else "e")
        nudge = draw(st.sampled_from(["", "up", "down"]))
        if nudge:
            step = Decimal(10) ** (exact.adjusted() - 60)
            text = str(exact + step if nudge == "up" else exact - step)
    return draw(st.sampled_from(["", "-"])) + text


@settings(max_examples=1500, deadline=None)
@given(near_halfway())
@example("7.006492321624086e-46")  # through a double: 2^-150, a tie, zero
@example("340282356779733661637539395458142568448")  # ties to infinity
@example("1e99999999999999999999")
def test_float32_is_rounded_once(text):
    want = b"\x00\x00\x80\x7f" if "e999999" in text else nearest_float32(text)
    values, end = blocks.read_ascii(text.encode(), 0, 1, "f")
    assert values.tobytes() == want and end == len(text)


def python_walk(stream, n):
    p, offsets, conn = 0, [0], []
    for j in range(n):
        count = stream[p] if p < len(stream) else -1
        cell = stream[p + 1 : p + 1 + count]
        if (
            p == len(stream)
            or count < 0
            or count > len(stream) - p - 1
            or max(cell, default=0) >= 2**63
        ):
            return None, j, p
        conn += cell
        offsets.append(offsets[-1] + count)
        p += 1 + count
    return (offsets, conn) if p == len(stream) else (None, n, p)


INT_DTYPES = [e + c for c in "i1 u1 i2 u2 i4 u4 i8 u8".split() for e in "<>"]


@st.composite
def streams(draw):
    dtype = np.dtype(draw(st.sampled_from(INT_DTYPES)))
    lo, hi = int(np.iinfo(dtype).min), int(np.iinfo(dtype).max)
    values = []
    for _ in range(draw(st.integers(0, 6))):
        k = draw(st.integers(0, 4))
        values += [k] + draw(st.lists(st.integers(0, hi), min_size=k, max_size=k))
    # Damage: a count, a cut, a value from anywhere in the type's range.
    values = draw(st.sampled_from([values, values[:-1], values + [1]]))
    if values and draw(st.booleans()):
        values[draw(st.integers(0, len(values) - 1))] = draw(st.integers(lo, hi))
    n = draw(st.integers(0, len(values) + 2))
    return np.array(values, dtype), n


@settings(max_examples=2000, deadline=None)
@given(streams())
def test_split_cells_agrees_with_a_python_walk(case):
    stream, n = case
    got, want = blocks.split_cells(stream, n), python_walk(stream.tolist(), n)
    if want[0] is None:
        assert got == want
        return
    assert all(a.dtype == np.int64 for a in got)
    assert [a.tolist() for a in got] == list(want)


def test_split_cells_reads_views_and_declines_every_way():
    big = np.array([2, 5, 6, 1, 7], ">i4")
    offsets, conn = blocks.split_cells(big, 2)
    assert offsets.tolist() == [0, 2, 3] and conn.tolist() == [5, 6, 7]
    offsets, conn = blocks.split_cells(np.array([[1, 9], [1, 9]], "u2")[:, 0], 1)  # strided
    assert conn.tolist() == [1]
    assert blocks.split_cells(np.array([1, 1, -3, 0], "i8"), 2) == (None, 1, 2)  # negative
    assert blocks.split_cells(np.array([1, 1, 3, 1], "i8"), 2) == (None, 1, 2)  # past the end
    assert blocks.split_cells(np.array([0, 0], "i8"), 3) == (None, 2, 2)  # no room
    assert blocks.split_cells(np.array([0, 0, 5], "i8"), 2) == (None, 2, 2)  # left over
    assert blocks.split_cells(np.array([1, 2**63], "u8"), 1) == (None, 0, 0)  # beyond int64
    assert blocks.split_cells(np.array([0, 0], "i8"), 2**62) == (None, 2, 2)  # nothing sized by n
    assert [a.tolist() for a in blocks.split_cells(np.array([], "i4"), 0)] == [[0], []]


PIECES = [
    b"a",
    b"bc",
    b" ",
    b"\n",
    b"\r",
    b"\t",
    b"\r\n",
    b"\x1c",
    b"\v",
]  # bytes split not at \x1c
TEXT = st.lists(st.sampled_from(PIECES), max_size=12)
bounds = st.integers(-3, 16) | st.sampled_from([2**63 - 1, -(2**63), 2**80])


@settings(max_examples=1000, deadline=None)
@given(TEXT.map(b"".join), bounds, bounds, st.integers(0, 6), st.integers(1, 6))
@example(b"a\nb", 0, 0, 0, 2)
def test_token_and_line_functions_agree_with_python(data, start, stop, k, n):
    assert blocks.count_tokens(data, start, stop) == len(data[max(start, 0) : max(stop, 0)].split())
    pos = min(max(start, 0), len(data))
    starts = [m.start() for m in TOKEN.finditer(data, pos)]
    assert blocks.token_offset(data, pos, k) == (starts[k] if k < len(starts) else len(data))
    for eol in b"\n", b"\r":
        ends = [m.start() for m in re.finditer(re.escape(eol), data[pos:])]
        ends = [pos + e for e in ends] + ([len(data)] if not data.endswith(eol) else [])
        want = ends[n - 1] if n <= len(ends) and pos < len(data) else -1
        assert blocks.line_end(data, pos, n, eol) == want
        assert blocks.line_of(data, pos, eol) == data[:pos].count(eol) + 1


def test_every_byte_buffer_is_data(tmp_path):
    raw = b"1.5 2\n-3 4\n"
    path = tmp_path / "f"
    path.write_bytes(raw)
    with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as mm:
        for data in (raw, bytearray(raw), memoryview(raw), mm, np.frombuffer(raw, np.uint8)):
            values, end = blocks.read_ascii(data, 0, 4, "f")
            assert values.tolist() == [1.5, 2, -3, 4] and end == 10
            assert (
                blocks.count_tokens(data, 0, 99) == 4 and blocks.line_end(data, 0, 2, b"\n") == 10
            )


BAD_CALLS = [
    (blocks.read_ascii, (b"1", 0, 1), TypeError),
    (blocks.read_ascii, ("1", 0, 1, "d"), TypeError),
    (blocks.read_ascii, (np.zeros(2, np.int16), 0, 1, "d"), TypeError),
    (blocks.read_ascii, (memoryview(b"1 2 3")[::2], 0, 1, "d"), ValueError),
    (blocks.read_ascii, (b"1", -1, 1, "d"), ValueError),
    (blocks.read_ascii, (b"1", 2, 1, "d"), ValueError),
    (blocks.read_ascii, (b"1", 2**63, 1, "d"), OverflowError),
    (blocks.read_ascii, (b"1", 0.0, 1, "d"), TypeError),
    (blocks.read_ascii, (b"1", 0, -1, "d"), ValueError),
    (blocks.read_ascii, (b"1", 0, 1, "x"), ValueError),
    (blocks.read_ascii, (b"1", 0, 1, "dd"), TypeError),
    (blocks.read_ascii, (b"1", 0, 1, b"d"), TypeError),
    (blocks.token_offset, (b"1", 0, -1), ValueError),
    (blocks.token_offset, (b"1", 5, 0), ValueError),
    (blocks.count_tokens, (b"1", "0", 1), TypeError),
    (blocks.line_end, (b"1", 0, 0, b"\n"), ValueError),
    (blocks.line_end, (b"1", 0, 1, "\n"), TypeError),
    (blocks.line_end, (b"1", 0, 1, b"\r\n"), ValueError),
    (blocks.line_of, (b"1", 2, b"\n"), ValueError),
    (blocks.line_of, (b"1", 0, "\n"), TypeError),
    (blocks.line_of, (b"1", 0, b"\n\n"), ValueError),
    (blocks.read_ascii, (b"1", 0, 1, "d", 0), ValueError),
    (blocks.read_ascii, (b"1", 0, 1, "d", 1, 1), TypeError),
    (blocks.read_cells, (b"1 0", 0, 1), TypeError),
    (blocks.read_cells, (b"1 0", 0, -1, 2), ValueError),
    (blocks.read_cells, (b"1 0", 0, 1, -2), ValueError),
    (blocks.read_cells, (b"1 0", 4, 1, 2), ValueError),
    (blocks.read_cells, ("1 0", 0, 1, 2), TypeError),
    (blocks.split_cells, ([1, 0], 1), TypeError),
    (blocks.split_cells, (np.zeros(2), 1), TypeError),
    (blocks.split_cells, (np.zeros(2, bool), 1), TypeError),
    (blocks.split_cells, (np.zeros((1, 2), int), 1), ValueError),
    (blocks.split_cells, (np.zeros(2, int), -1), ValueError),
]


@pytest.mark.parametrize("func,args,exc", BAD_CALLS)
def test_bad_arguments_raise(func, args, exc):
    with pytest.raises(exc):
        func(*args)


def test_functions_are_documented_builtins():
    names = ("read_ascii", "read_cells", "count_tokens", "token_offset", "line_end", "line_of")
    for name in (*names, "split_cells"):
        func = getattr(blocks, name)
        assert type(func) is types.BuiltinFunctionType
        assert func.__module__ == "veltrane.codecs._vtk_blocks" and func.__doc__
        params = inspect.signature(func).parameters.values()
        assert {p.kind for p in params} == {inspect.Parameter.POSITIONAL_ONLY}
    assert list(inspect.signature(blocks.read_ascii).parameters) == [
        "data",
        "pos",
        "count",
        "type",
        "threads",
    ]
    assert inspect.signature(blocks.read_ascii).parameters["threads"].default == 1
