"""parse_ascii_coords: results, errors and their traceback lines, and what a
rebound `np` or a hostile line list can and cannot do."""

import struct

import numpy as np
import pytest
from conftest import raises_at

from veltrane.codecs import _vtk_parse as m
from veltrane.codecs._vtk_parse import parse_ascii_coords as parse

PAST_END = "POINTS block runs past the end of the file"
NOT_ONE = "POINTS line does not hold exactly one vertex"


def fails_at(exc_type, message, line):
    return raises_at(exc_type, message, "parse_ascii_coords", 22, line)


def bits(a):
    return [struct.pack("<d", v) for v in np.asarray(a, dtype=np.float64).ravel()]


class TestResults:
    def test_rows(self):
        lines = ["HEAD", "1 2 3", "\t4.5  -6e2 7 \r\n", "1_000 .5 -0", "NEXT SECTION"]
        got = parse(lines, 1, 3)
        assert got.dtype == np.float64 and got.shape == (3, 3) and got.flags.c_contiguous
        assert bits(got) == bits([[1, 2, 3], [4.5, -600, 7], [1000, 0.5, -0.0]])

    def test_line_and_token_kinds(self):
        want = parse(["1.5 -2 3e-1"], 0, 1)
        for lines in (
            [b"1.5 -2 3e-1"],
            (" 1.5\t-2 3e-1 ",),
            [bytearray(b"1.5 -2 3e-1")],
            {0: "1.5 -2 3e-1"},  # any object with item access by int
        ):
            assert bits(parse(lines, 0, 1)) == bits(want)

    def test_specials(self):
        got = parse(["nan -inf Infinity", "+NaN 1e999 1e-999", "-1 -1.0 -nan"], 0, 3)
        assert np.isnan(got[0, 0]) and got[0, 1] == -np.inf and got[0, 2] == np.inf
        assert np.isnan(got[1, 0]) and got[1, 1] == np.inf and bits(got[1, 2]) == bits(0.0)
        assert got[2, :2].tolist() == [-1.0, -1.0]
        assert np.signbit(got[2, 2]) == np.signbit(float("-nan"))

    def test_empty_block(self):
        for start in (0, 2):
            got = parse(["a", "b"], start, 0)
            assert got.shape == (0, 3) and got.dtype == np.float64

    def test_custom_split_tokens(self):
        class Line:
            def __init__(self, tokens):
                self.tokens = tokens

            def split(self):
                return self.tokens

        class F:
            def __float__(self):
                return 2.5

        got = parse([Line((1, 2**60, 3.25)), Line([F(), "7", b"8"])], 0, 2)
        assert got.tolist() == [[1.0, float(2**60), 3.25], [2.5, 7.0, 8.0]]

    def test_elements_outside_the_block_are_never_read(self):
        class Poison:
            def split(self):
                raise AssertionError("read outside the block")

        lines = [Poison(), "1 2 3", "4 5 6", Poison()]
        assert parse(lines, 1, 2).tolist() == [[1, 2, 3], [4, 5, 6]]


class TestErrors:
    @pytest.mark.parametrize("start,n", [(0, 4), (3, 1), (4, 0), (-1, 0), (0, -1)])
    def test_block_check(self, start, n):
        # A bad line inside the block does not matter: the check comes first.
        with fails_at(IndexError, PAST_END, 61):
            parse(["1 2 3", "x", "1 2", "4 5 6"][:3], start, n)

    def test_block_check_edge_passes(self):
        assert parse(["1 2 3", "4 5 6"], 1, 1).tolist() == [[4, 5, 6]]
        assert parse(["1 2 3"], 1, 0).shape == (0, 3)

    def test_len_failure(self):
        with fails_at(TypeError, None, 60):
            parse(iter(["1 2 3"]), 0, 1)

    @pytest.mark.parametrize("line", ["1 2", "1 2 3 4", "", "   \t", b"1 2"])
    def test_not_one_vertex(self, line):
        with fails_at(ValueError, NOT_ONE, 73):
            parse(["1 2 3", line, "bad bad"], 0, 3)

    @pytest.mark.parametrize("column", [0, 1, 2])
    @pytest.mark.parametrize("token", ["abc", "1,5", "1.2.3", "_1", "1__0", "1e_5", "-_1"])
    def test_bad_token_reports_floats_own_error(self, column, token):
        tokens = ["1", "2", "3"]
        tokens[column] = token
        with pytest.raises(ValueError) as want:
            float(token)
        with fails_at(ValueError, str(want.value), 74 + column):
            parse([" ".join(tokens)], 0, 1)

    def test_fetch_and_split_failures(self):
        with fails_at(AttributeError, None, 67):
            parse([None], 0, 1)
        with fails_at(KeyError, None, 67):
            parse(_Sized({}), 0, 1)

    def test_float_protocol_errors(self):
        class Bad:
            def __float__(self):
                return 1

        class Line:
            def split(self):
                return [1.0, Bad(), object()]

        with fails_at(TypeError, "__float__ returned non-float (type int)", 75):
            parse([Line()], 0, 1)

    def test_token_list_length_failure(self):
        class Line:
            def split(self):
                return 42

        with fails_at(TypeError, None, 72):
            parse([Line()], 0, 1)

    def test_huge_int_token(self):
        class Line:
            def split(self):
                return [1, 2, 10**400]

        with fails_at(OverflowError, None, 76):
            parse([Line()], 0, 1)


class _Sized:
    def __init__(self, d):
        self.d = d

    def __len__(self):
        return 1

    def __getitem__(self, i):
        return self.d[i]


class TestHostileCallers:
    def test_list_shrunk_by_a_split(self):
        lines = []

        class Line(str):
            def split(self):
                lines.clear()
                return ["1", "2", "3"]

        lines.extend([Line("x"), "4 5 6"])
        with fails_at(IndexError, "list index out of range", 67):
            parse(lines, 0, 2)

    def test_token_list_shrunk_by_a_conversion(self):
        tokens = []

        class F:
            def __float__(self):
                tokens.clear()
                return 1.0

        class Line:
            def split(self):
                tokens[:] = [F(), "2", "3"]
                return tokens

        with fails_at(IndexError, "list index out of range", 75):
            parse([Line()], 0, 1)

    def test_base_exception_passes(self):
        class F:
            def __float__(self):
                raise KeyboardInterrupt

        class Line:
            def split(self):
                return [F(), 1, 2]

        with fails_at(KeyboardInterrupt, None, 74):
            parse([Line()], 0, 1)


class FakeNumpy:
    float64 = np.float64

    def __init__(self, empty):
        self.empty = empty


@pytest.fixture
def rebind():
    saved = m.np

    def set_np(value):
        m.np = value

    yield set_np
    m.np = saved


class TestReboundNumpy:
    @pytest.mark.parametrize(
        "make,message",
        [
            (
                lambda shape, dtype: bytearray(48),
                "Buffer has wrong number of dimensions (expected 2, got 1)",
            ),
            (
                lambda shape, dtype: np.empty(shape, np.float32),
                "Buffer dtype mismatch, expected 'double' but got 'float'",
            ),
            (
                lambda shape, dtype: np.empty(shape, np.int64),
                "Buffer dtype mismatch, expected 'double' but got 'long'",
            ),
            (
                lambda shape, dtype: np.empty((shape[0], 2)),
                "Buffer has wrong shape (expected (2, 3), got (2, 2))",
            ),
            (
                lambda shape, dtype: np.empty((1, 3)),
                "Buffer has wrong shape (expected (2, 3), got (1, 3))",
            ),
            (
                lambda shape, dtype: np.empty((3, 3)),
                "Buffer has wrong shape (expected (2, 3), got (3, 3))",
            ),
        ],
    )
    def test_unusable_buffers_are_refused_before_writing(self, rebind, make, message):
        rebind(FakeNumpy(make))
        with fails_at(ValueError, message, 64):
            parse(["1 2 3", "4 5 6"], 0, 2)

    def test_readonly_and_strided_buffers(self, rebind):
        def readonly(shape, dtype):
            a = np.empty(shape, dtype)
            a.flags.writeable = False
            return a

        rebind(FakeNumpy(readonly))
        with fails_at(ValueError, None, 64):
            parse(["1 2 3"], 0, 1)
        rebind(FakeNumpy(lambda shape, dtype: np.empty((shape[1], shape[0])).T))
        with fails_at(ValueError, None, 64):
            parse(["1 2 3", "4 5 6"], 0, 2)

    def test_result_must_be_an_ndarray(self, rebind):
        class NotArray:
            def __init__(self, shape):
                self.mem = np.zeros(shape)

            def __buffer__(self, flags):
                return memoryview(self.mem)

        rebind(FakeNumpy(lambda shape, dtype: NotArray(shape)))
        with fails_at(TypeError, "Cannot convert NotArray to numpy.ndarray", 78):
            parse(["1 2 3"], 0, 1)

    def test_subclass_passes(self, rebind):
        class Sub(np.ndarray):
            pass

        rebind(FakeNumpy(lambda shape, dtype: np.empty(shape, dtype).view(Sub)))
        got = parse(["1 2 3"], 0, 1)
        assert type(got) is Sub and got.tolist() == [[1, 2, 3]]

    def test_missing_np(self, rebind):
        del m.np
        try:
            with fails_at(NameError, "name 'np' is not defined", 63):
                parse(["1 2 3"], 0, 1)
        finally:
            m.np = np
        rebind(FakeNumpy(None))
        with fails_at(TypeError, None, 63):
            parse(["1 2 3"], 0, 1)

    def test_np_found_in_builtins(self, rebind):
        import builtins

        del m.np
        builtins.np = np
        try:
            assert parse(["1 2 3"], 0, 1).tolist() == [[1, 2, 3]]
        finally:
            del builtins.np
            m.np = np
