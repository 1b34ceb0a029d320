"""_vtk_blocks' formatters against the writer's Python spelling of the same
values (number_words): the text of doubles, integers and bools is the Python
text itself, laid out as the Python encoder laid it out; float32 text reads
back to the same bits, straight to float32 and through a double, and no
shorter decimal does. Cell rows against the 4.2 stream built in Python."""

import re
import struct
from decimal import ROUND_CEILING, ROUND_FLOOR, Context, Decimal

import numpy as np
import pytest
from test_blocks import nearest_float32

from veltrane.codecs import _vtk_blocks as blocks
from veltrane.codecs.vtk._encode import _lines, number_words

RNG = np.random.default_rng(7)
# Quiet and signalling NaNs, the largest payload, a small one.
NANS = {
    "f8": [0x7FF8 << 48, 0x7FF0_0000_0000_0001, 2**63 - 1, (0x7FF8 << 48) | 5],
    "f4": [0x7FC0_0000, 0x7F80_0001, 2**31 - 1, 0x7FC0_0005],
}
# The one positive float32 whose shortest text, 7.038531e-26, read as a
# double lands on the midpoint to its neighbour and narrows to it (found by
# trying them all).
ROUNDS_TWICE = 0x15AE_43FD


def edges(dtype):
    """Zeros, subnormals, the largest and smallest of the width, powers of two
    and ten and their neighbours, where repr turns to exponents, NaNs with
    payloads and infinities; all in both signs."""
    f = np.finfo(dtype)
    powers = np.concatenate([np.ldexp(1.0, np.arange(-1074, 1024)), 10.0 ** np.arange(-323, 309)])
    with np.errstate(over="ignore"):
        powers = powers.astype(dtype)
    values = [0.0, f.smallest_subnormal, 2 * f.smallest_subnormal, 3 * f.smallest_subnormal]
    values += [f.smallest_normal, f.max, f.eps, 0.1, 1 / 3, 123456.0, 2.0**24, 2.0**53 + 2]
    values += [1e16, 9999999999999998.0, 1e-4, 9.999999999999999e-05, np.inf]
    values = np.concatenate(
        [np.array(values, dtype), powers, np.nextafter(powers, 0), np.nextafter(powers, np.inf)]
    )
    u = dtype.replace("f", "u")
    nans = np.array(NANS[dtype], u).view(dtype)
    if dtype == "f4":
        values = np.concatenate([values, np.array([ROUNDS_TWICE], u).view(dtype)])
    values = np.concatenate([values[values != 0], np.zeros(1, dtype), nans])
    sign = np.array(1 << (8 * values.itemsize - 1), u)
    return np.concatenate([values, (values.view(u) | sign).view(dtype)])


def random_bits(dtype, n):
    u = dtype.replace("f", "u")
    return RNG.integers(0, np.iinfo(u).max, n, dtype=u, endpoint=True).view(dtype)


def words(values):
    text = blocks.format_numbers(values, 1).decode()
    return text.split("\n")[:-1]


def bits(values):
    return values.view(values.dtype.str.replace("f", "u")).tolist()


def digits(word):
    """The number of significant digits of a word."""
    mantissa = word.lstrip("-").split("e")[0].replace(".", "")
    return len(mantissa.strip("0")) or 1


def check_shortest(word, value, dtype):
    """No decimal of fewer significant digits reads back to the value: not the
    closest ones below and above it, and the rest lie farther out."""
    k = digits(word)
    want = struct.pack("=d" if dtype == "f8" else "=f", value)
    for rounding in (ROUND_FLOOR, ROUND_CEILING):
        if k == 1:
            break
        text = str(Context(prec=k - 1, rounding=rounding).plus(Decimal(value)))
        back = struct.pack("=d", float(text)) if dtype == "f8" else nearest_float32(text)
        assert back != want, (word, text)


class TestFloats:
    def test_doubles_are_the_python_text(self):
        values = np.concatenate([edges("f8"), random_bits("f8", 200_000)])
        assert words(values) == number_words(values, "d")

    @pytest.mark.parametrize("dtype", ["f8", "f4"])
    def test_no_shorter_decimal_reads_back(self, dtype):
        values = np.concatenate([edges(dtype), random_bits(dtype, 3000)])
        values = values[np.isfinite(values)]
        for word, value in zip(words(values), values.tolist()):
            # A float32's text goes to its double's where a reader going
            # through a double would miss; the next test checks those.
            if dtype == "f8" or digits(word) <= 9:
                check_shortest(word, value, dtype)

    def test_float32_reads_back_straight_and_through_a_double(self):
        values = np.concatenate([edges("f4"), random_bits("f4", 200_000)])
        got = words(values)
        text = "\n".join(got).encode()
        straight = blocks.read_ascii(text, 0, len(got), "f")[0]
        through = np.array(got, np.float64).astype(np.float32)
        assert bits(straight) == bits(np.where(np.isnan(values), straight, values))
        assert bits(through) == bits(np.where(np.isnan(values), through, values))
        python = number_words(values, "f")
        for g, p in zip(got, python):
            if "n" in p:  # nan, -nan, inf, -inf
                assert g == p
            else:
                # Never longer than the Python encoder's: the same digits or
                # the same fall-back to the double's text.
                assert digits(g) <= digits(p), (g, p)


INTS = ["i1", "u1", "i2", "u2", "i4", "u4", "i8", "u8"]


class TestIntegersAndLayout:
    @pytest.mark.parametrize("dtype", INTS)
    def test_integers_at_the_extremes(self, dtype):
        i = np.iinfo(dtype)
        values = np.array([i.min, i.min + 1, -1 if i.min else 2, 0, 1, i.max - 1, i.max], dtype)
        values = np.concatenate([values, RNG.integers(i.min, i.max, 1000, dtype, endpoint=True)])
        assert words(values) == number_words(values, "q")
        # Any byte order and strides: a copy is what gets formatted.
        swapped = values.astype(values.dtype.newbyteorder(">"))[::-3]
        assert words(swapped) == number_words(values[::-3], "q")

    def test_bools_from_any_byte(self):
        values = np.array([0, 1, 2, 255, 0], np.uint8).view(np.bool_)
        assert words(values) == ["0", "1", "1", "1", "0"] == number_words(values, "?")

    @pytest.mark.parametrize("dtype", ["f8", "f4", "i4", "u8", "?"])
    @pytest.mark.parametrize("per_line", [1, 2, 3, 9, 100])
    def test_lines_as_the_python_encoder_laid_them(self, dtype, per_line):
        code = {"f8": "d", "f4": "f", "?": "?"}.get(dtype, "q")
        for n in range(12):
            values = sample(dtype, n)
            python = _lines(number_words(values, code), per_line)
            got = blocks.format_numbers(values, per_line)
            if dtype == "f4":  # the same layout; the words themselves are tested above
                got, python = (re.sub(rb"[^ \n]+", b"w", t) for t in (got, python))
            assert got == python
        table = np.arange(12.0).reshape(4, 3)[:, ::-1]
        assert blocks.format_numbers(table, 3) == _lines(number_words(table, "d"), 3)


def sample(dtype, n):
    if dtype in ("f8", "f4"):
        return random_bits(dtype, n)
    if dtype == "?":
        return RNG.integers(0, 2, n).astype(np.bool_)
    i = np.iinfo(dtype)
    return RNG.integers(i.min, i.max, n, dtype, endpoint=True)


def I8(*values):
    return np.array(values, np.int64)


def python_rows(offsets, conn):
    base = offsets[0]
    rows = [conn[a - base : b - base].tolist() for a, b in zip(offsets[:-1], offsets[1:])]
    return "".join(" ".join(map(str, [len(r), *r])) + "\n" for r in rows).encode()


class TestCells:
    def test_rows_of_a_run(self):
        sizes = RNG.integers(0, 6, 500)
        offsets = np.concatenate([[0], np.cumsum(sizes)])
        conn = RNG.integers(-(2**63), 2**63 - 1, offsets[-1], np.int64, endpoint=True)
        conn[:4] = [-(2**63), 2**63 - 1, 0, -1]
        assert blocks.format_cells(offsets, conn) == python_rows(offsets, conn)
        # A run in the middle: its slice of the offsets and of the connectivity.
        run = offsets[100:201]
        part = conn[run[0] : run[-1]]
        assert blocks.format_cells(run, part) == python_rows(run, part)
        assert blocks.format_cells(run[:1], conn[:0]) == b""
        swapped = run.astype(">i8")[::-1][::-1]
        assert blocks.format_cells(swapped, part.astype(">i8")) == python_rows(run, part)

    @pytest.mark.parametrize(
        "offsets, conn, error, message",
        [
            (
                I8(0, 2),
                np.array([1.0, 2.0]),
                TypeError,
                "connectivity must hold int64, not numpy.f",
            ),
            (
                I8(0, 1).astype(np.int32),
                I8(0),
                TypeError,
                "offsets must hold int64, not numpy.int32",
            ),
            (
                I8(0, 1)[None],
                I8(0),
                ValueError,
                "offsets must be one-dimensional, not 2-dimensional",
            ),
            (I8(), I8(), ValueError, "offsets must hold at least one value"),
            (I8(3, 5, 4), I8(0, 0), ValueError, "offsets must never decrease: 4 after 5"),
            (I8(3, 5), I8(0), ValueError, "the offsets span 2 values, the connectivity holds 1"),
            (I8(-(2**63), 2**63 - 1), I8(), ValueError, "span 18446744073709551615 values"),
        ],
    )
    def test_refuses(self, offsets, conn, error, message):
        with pytest.raises(error, match=re.escape(message)):
            blocks.format_cells(offsets, conn)


@pytest.mark.parametrize(
    "args, error, message",
    [
        (([1.0], 1), TypeError, "values must be a NumPy array, not list"),
        ((np.zeros(1, np.float16), 1), TypeError, "not numpy.float16"),
        ((np.zeros(1, complex), 1), TypeError, "not numpy.complex128"),
        ((np.zeros(1), 0), ValueError, "per_line must be 1 or more, not 0"),
        ((np.zeros(1),), TypeError, "format_numbers expected 2 arguments, got 1"),
    ],
)
def test_format_numbers_refuses(args, error, message):
    with pytest.raises(error, match=re.escape(message)):
        blocks.format_numbers(*args)
