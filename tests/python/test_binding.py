"""Argument binding and conversion of both functions: the errors, their order
and their traceback entries."""

import numpy as np
import pytest
from conftest import raises_at

from veltrane.codecs._vtk_parse import parse_ascii_cells_v42 as cells
from veltrane.codecs._vtk_parse import parse_ascii_coords as coords

LINES = ["2 5 6", "1 7 8"]  # one record a line for both parsers
# (function, name, count keyword, definition line, start line, count line)
BOTH = [
    pytest.param(coords, "parse_ascii_coords", "n_verts", 22, 24, 25, id="coords"),
    pytest.param(cells, "parse_ascii_cells_v42", "n_cells", 81, 83, 84, id="cells"),
]


def count_error(name, given):
    return f"{name}() takes exactly 3 positional arguments ({given} given)"


@pytest.mark.parametrize("func,name,kw,line,_s,_c", BOTH)
class TestArity:
    @pytest.mark.parametrize(
        "args,kwargs,given",
        [
            ((), {}, 0),
            ((LINES, 0), {}, 2),
            ((LINES, 0, 1, 2), {}, 4),
            ((LINES, 0, 1, 2), {"start": 0}, 4),  # keywords not looked at
            ((LINES,), {"start": 0}, 2),
            ((), {"start": 0, "COUNT": 1}, 0),
            ((LINES,), {"COUNT": 1}, 1),  # the first gap decides, not the number given
        ],
    )
    def test_count_error(self, func, name, kw, line, _s, _c, args, kwargs, given):
        kwargs = {kw if k == "COUNT" else k: v for k, v in kwargs.items()}
        with raises_at(TypeError, count_error(name, given), name, line):
            func(*args, **kwargs)

    def test_keyword_errors_come_first_in_call_order(self, func, name, kw, line, _s, _c):
        with raises_at(TypeError, f"{name}() got an unexpected keyword argument 'foo'", name, line):
            func(LINES, foo=1)
        with raises_at(TypeError, f"{name}() got an unexpected keyword argument 'foo'", name, line):
            func(LINES, foo=1, lines=2)
        with raises_at(
            TypeError, f"{name}() got multiple values for keyword argument 'lines'", name, line
        ):
            func(LINES, lines=2, foo=1)
        with raises_at(
            TypeError, f"{name}() got multiple values for keyword argument 'start'", name, line
        ):
            func(LINES, 0, 1, start=0)

    def test_keywords_bind_like_positions(self, func, name, kw, line, _s, _c):
        want = func(LINES, 0, 2)
        for got in (
            func(lines=LINES, start=0, **{kw: 2}),
            func(**{kw: 2}, start=0, lines=LINES),
            func(LINES, **{"".join(["st", "art"]): 0, kw: 2}),  # equal, not identical
        ):
            assert type(got) is type(want)
            if isinstance(want, tuple):
                for a, b in zip(got, want):
                    np.testing.assert_array_equal(a, b)
            else:
                np.testing.assert_array_equal(got, want)


class StrSub(str):
    __hash__ = str.__hash__

    def __eq__(self, other):
        if str(self) == "boom":
            raise KeyError("compared")
        return str.__eq__(self.lower(), other)


class TestKeywordNames:
    def test_str_subclass_compares_with_its_own_eq(self):
        got = coords(LINES, **{StrSub("START"): 0, "n_verts": 1})
        assert got.tolist() == [[2.0, 5.0, 6.0]]

    def test_str_subclass_comparison_error_propagates(self):
        with raises_at(KeyError, "compared", "parse_ascii_coords", 22):
            coords(LINES, **{StrSub("boom"): 0})

    def test_non_str_keyword_name(self):
        # Only a hand-made vectorcall can pass one; dict(**) cannot.
        ctypes = pytest.importorskip("ctypes")
        api = ctypes.pythonapi
        api.PyObject_VectorcallDict.restype = ctypes.py_object
        api.PyObject_VectorcallDict.argtypes = [
            ctypes.py_object,
            ctypes.c_void_p,
            ctypes.c_size_t,
            ctypes.py_object,
        ]
        vectorcall = ctypes.pythonapi.PyObject_Vectorcall
        vectorcall.restype = ctypes.py_object
        vectorcall.argtypes = [
            ctypes.py_object,
            ctypes.POINTER(ctypes.py_object),
            ctypes.c_size_t,
            ctypes.py_object,
        ]
        args = (ctypes.py_object * 3)(LINES, 0, 1)
        with raises_at(
            TypeError, "parse_ascii_coords() keywords must be strings", "parse_ascii_coords", 22
        ):
            vectorcall(coords, args, 2, (5,))


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class IntSub(int):
    def __index__(self):
        return 99


@pytest.mark.parametrize("func,name,kw,line,start_line,count_line", BOTH)
class TestConversion:
    @pytest.mark.parametrize("value", [True, np.int64(1), Index(1), IntSub(1)])
    def test_accepted_starts(self, func, name, kw, line, start_line, count_line, value):
        func(["x", *LINES] if func is coords else ["x", "1 0"], value, 1)

    @pytest.mark.parametrize("value", [2.0, "3", None, b"1"])
    def test_start_without_index_stops_before_the_count(
        self, func, name, kw, line, start_line, count_line, value
    ):
        with raises_at(TypeError, None, name, start_line):
            func(LINES, value, "also bad")

    def test_count_conversion(self, func, name, kw, line, start_line, count_line):
        with raises_at(TypeError, None, name, count_line):
            func(LINES, 0, 1.0)
        with raises_at(ZeroDivisionError, None, name, count_line):
            func(LINES, 0, Index(ZeroDivisionError()))

    def test_64_bit_range(self, func, name, kw, line, start_line, count_line):
        with raises_at(OverflowError, None, name, start_line):
            func(LINES, 2**63, 0)
        with raises_at(OverflowError, None, name, count_line):
            func(LINES, 0, -(2**63) - 1)
        section = "POINTS" if func is coords else "CELLS"
        message = f"{section} block runs past the end of the file"
        block_line = 61 if func is coords else 124
        for start, count in [
            (-(2**63), 0),
            (-1, 0),
            (0, -1),
            (2**63 - 1, 1),
            (2**63 - 1, 2**63 - 1),
        ]:
            with raises_at(IndexError, message, name, line, block_line):
                func(LINES, start, count)

    def test_lines_is_not_checked_by_the_binding(
        self, func, name, kw, line, start_line, count_line
    ):
        # A negative start fails before len() is asked, so no TypeError.
        section = "POINTS" if func is coords else "CELLS"
        with pytest.raises(IndexError, match=f"^{section} block"):
            func(None, -1, 0)
        with pytest.raises(TypeError, match="has no len"):
            func(5, 0, 0)
