"""The NumPy gate at import: type sizes and the C-API table import.

Each case runs in a fresh interpreter that has loaded the environment's NumPy
once, then hides it behind a stand-in `numpy` package written for the case.
The stand-in re-exports the real types and C-API capsule except where the case
puts its own; odd sizes and C-API tables are made with ctypes."""

import json
import subprocess
import sys
import textwrap

import pytest

INIT = "init veltrane.codecs._vtk_parse"
IMPORT_ARRAY = "numpy.import_array"
SOURCE = "veltrane/codecs/_vtk_parse.cpp"
HEADER = "__multiarray_api.h"
# The lines of import_array() in the header of the NumPy built against.
CALL_LINE, RAISE_LINE = 1597, 1600
FAILED = "numpy._core.multiarray failed to import"
SIZE_MSG = (
    "{}.{} size changed, may indicate binary incompatibility. "
    "Expected {} from C header, got {} from PyObject"
)
URL = "https://numpy.org/devdocs/user/troubleshooting-importerror.html#c-api-incompatibility"

TYPES = [
    "dtype",
    "flatiter",
    "broadcast",
    "ndarray",
    "generic",
    "number",
    "integer",
    "signedinteger",
    "unsignedinteger",
    "inexact",
    "floating",
    "complexfloating",
    "flexible",
    "character",
    "ufunc",
]

# Made importable as `_gate_support` by every case.
SUPPORT = '''
import ctypes
import sys

_real = sys.modules["_real_numpy"]
REAL_API = _real._core._multiarray_umath._ARRAY_API
_keep = []


class _Slot(ctypes.Structure):
    _fields_ = [("slot", ctypes.c_int), ("pfunc", ctypes.c_void_p)]


class _Spec(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("basicsize", ctypes.c_int),
                ("itemsize", ctypes.c_int), ("flags", ctypes.c_uint),
                ("slots", ctypes.POINTER(_Slot))]


def make_type(name, basicsize, itemsize=0):
    slots = (_Slot * 1)()
    spec = _Spec(("stand_in." + name).encode(), basicsize, itemsize, 0, slots)
    _keep.append((slots, spec))
    new = ctypes.pythonapi.PyType_FromSpec
    new.restype, new.argtypes = ctypes.py_object, [ctypes.c_void_p]
    return new(ctypes.addressof(spec))


def capsule(abi=0x2000000, feature=0x11, order=1, name=None):
    """A capsule over a table whose version and byte-order slots answer these."""
    unsigned = ctypes.CFUNCTYPE(ctypes.c_uint)
    signed = ctypes.CFUNCTYPE(ctypes.c_int)
    table = (ctypes.c_void_p * 212)()
    funcs = [unsigned(lambda: abi), signed(lambda: order), unsigned(lambda: feature)]
    for slot, f in zip((0, 210, 211), funcs):
        table[slot] = ctypes.cast(f, ctypes.c_void_p)
    _keep.append((table, funcs, name))
    new = ctypes.pythonapi.PyCapsule_New
    new.restype = ctypes.py_object
    new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
    return new(ctypes.addressof(table), name, None)
'''

STAND_IN_INIT = (
    "from _real_numpy import (" + ", ".join(TYPES) + ")\nfrom _gate_support import make_type\n"
)
REAL_CAPSULE = "from _gate_support import REAL_API as _ARRAY_API\n"

DRIVER = """
import json, sys, traceback, warnings

import numpy as _real
saved = {k: v for k, v in sys.modules.items() if k == "numpy" or k.startswith("numpy.")}
for k in saved:
    del sys.modules[k]
sys.modules["_real_numpy"] = _real
sys.path[:0] = [STAND_IN, SUPPORT_DIR]

def describe(e):
    if e is None:
        return None
    return {
        "type": type(e).__name__,
        "args": [str(a) for a in e.args],
        "entries": [[f.name, f.filename, f.lineno]
                    for f in traceback.extract_tb(e.__traceback__)
                    if f.name in (INIT, IMPORT_ARRAY)],
        "context": describe(e.__context__),
    }

def attempt():
    try:
        import veltrane.codecs._vtk_parse as m
    except BaseException as e:
        return {"error": describe(e), "registered": "veltrane.codecs._vtk_parse" in sys.modules}
    return {"error": None, "np_is_numpy": m.np is sys.modules["numpy"]}

def use_real_numpy():
    for k in [k for k in sys.modules if k == "numpy" or k.startswith("numpy.")]:
        del sys.modules[k]
    sys.modules.update(saved)
    del sys.path[:2]

out = {}
"""


def run(tmp_path, files, body="out['result'] = attempt()", *, args=(), record=True):
    """Writes the stand-in package `files` ({relative path: source}), runs
    `body` after the driver and returns the `out` dict it leaves."""
    stand_in, support = tmp_path / "stand_in", tmp_path / "support"
    for rel, text in files.items():
        path = stand_in / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(textwrap.dedent(text))
    support.mkdir()
    (support / "_gate_support.py").write_text(SUPPORT)
    consts = dict(
        STAND_IN=str(stand_in), SUPPORT_DIR=str(support), INIT=INIT, IMPORT_ARRAY=IMPORT_ARRAY
    )
    script = "".join(f"{k} = {v!r}\n" for k, v in consts.items()) + DRIVER
    if record:
        script += (
            "with warnings.catch_warnings(record=True) as caught:\n"
            "    warnings.simplefilter('always')\n"
            + textwrap.indent(textwrap.dedent(body), "    ")
            + "\nout['warnings'] = [[w.category.__name__, str(w.message)] for w in caught]\n"
        )
    else:
        script += textwrap.dedent(body)
    script += "\nprint(json.dumps(out))\n"
    proc = subprocess.run(
        [sys.executable, *args, "-c", script], capture_output=True, text=True, timeout=120
    )
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout.splitlines()[-1])


def stand_in(init_extra="", api=REAL_CAPSULE, layout="_core"):
    files = {"numpy/__init__.py": STAND_IN_INIT + textwrap.dedent(init_extra)}
    if layout is not None:
        files[f"numpy/{layout}/__init__.py"] = ""
        files[f"numpy/{layout}/_multiarray_umath.py"] = api
    return files


def error(type_, message, entries, context=None):
    return {
        "type": type_,
        "args": [message],
        "entries": [list(e) for e in entries],
        "context": context,
    }


def failed(result):
    assert result["registered"] is False
    return result["error"]


AT_FETCH = [(INIT, SOURCE, 1)]
AT_API = [(INIT, SOURCE, 19), (IMPORT_ARRAY, HEADER, RAISE_LINE)]
AT_CALL = [(IMPORT_ARRAY, HEADER, CALL_LINE)]


class TestTypeSizes:
    def test_missing_type(self, tmp_path):
        out = run(tmp_path, stand_in("del flatiter\n"))
        assert failed(out["result"]) == error(
            "AttributeError", "module 'numpy' has no attribute 'flatiter'", AT_FETCH
        )

    def test_not_a_type(self, tmp_path):
        out = run(tmp_path, stand_in("broadcast = 42\n"))
        assert failed(out["result"]) == error(
            "TypeError", "numpy.broadcast is not a type object", AT_FETCH
        )

    # Expected sizes: CPython 3.15 and NumPy's headers at C-API level 1.25.
    @pytest.mark.parametrize(
        "name,size",
        [
            ("dtype", 32),
            ("flatiter", 2632),
            ("broadcast", 304),
            ("ndarray", 96),
            ("ufunc", 232),
        ],
    )
    def test_too_small(self, tmp_path, name, size):
        out = run(tmp_path, stand_in(f"{name} = make_type({name!r}, {size - 8})\n"))
        assert failed(out["result"]) == error(
            "ValueError", SIZE_MSG.format("numpy", name, size, size - 8), AT_FETCH
        )
        assert out["warnings"] == []

    def test_builtins_type_too_small(self, tmp_path):
        # The import system calls type() itself: only the module's own import
        # may meet the stand-in.
        body = """
        import builtins, veltrane.codecs
        from _gate_support import make_type
        real_type, builtins.type = builtins.type, make_type("type", 936)
        try:
            import veltrane.codecs._vtk_parse
        except BaseException as e:
            raised = e
        finally:
            builtins.type = real_type
        out['result'] = {"error": describe(raised),
                         "registered": "veltrane.codecs._vtk_parse" in sys.modules}
        """
        out = run(tmp_path, stand_in(), body)
        assert failed(out["result"]) == error(
            "ValueError", SIZE_MSG.format("builtins", "type", 944, 936), AT_FETCH
        )

    @pytest.mark.parametrize(
        "basic,item,passes",
        [
            (88, 0, False),  # too small
            (88, 1, True),  # a small item counts as a pointer's worth
            (80, 4, False),  # ... and no more
            (104, 0, True),  # grown, but ndarray is not warned about
        ],
    )
    def test_item_size_and_ignore_mode(self, tmp_path, basic, item, passes):
        out = run(tmp_path, stand_in(f"ndarray = make_type('ndarray', {basic}, {item})\n"))
        if passes:
            assert out["result"] == {"error": None, "np_is_numpy": True}
        else:
            got = basic + (8 if item else 0)
            assert failed(out["result"])["args"] == [SIZE_MSG.format("numpy", "ndarray", 96, got)]
        assert out["warnings"] == []

    @pytest.mark.parametrize("name", ["generic", "character"])
    def test_grown_warn_mode_type_warns(self, tmp_path, name):
        out = run(tmp_path, stand_in(f"{name} = make_type({name!r}, 24)\n"))
        assert out["result"] == {"error": None, "np_is_numpy": True}
        assert out["warnings"] == [["RuntimeWarning", SIZE_MSG.format("numpy", name, 16, 24)]]

    def test_grown_type_fails_when_warnings_are_errors(self, tmp_path):
        out = run(
            tmp_path,
            stand_in("generic = make_type('generic', 24)\n"),
            args=["-W", "error"],
            record=False,
        )
        assert failed(out["result"]) == error(
            "RuntimeWarning", SIZE_MSG.format("numpy", "generic", 16, 24), AT_FETCH
        )


def with_capsule(**kw):
    args = ", ".join(f"{k}={v!r}" for k, v in kw.items())
    return stand_in(api=f"from _gate_support import capsule\n_ARRAY_API = capsule({args})\n")


class TestApiImport:
    @pytest.mark.parametrize(
        "files,first",
        [
            (
                stand_in(api="_ARRAY_API = object()\n"),
                ["RuntimeError", "_ARRAY_API is not PyCapsule object"],
            ),
            (with_capsule(name=b"other"), ["RuntimeError", "_ARRAY_API is NULL pointer"]),
            (
                stand_in(api=""),
                [
                    "AttributeError",
                    "module 'numpy._core._multiarray_umath' has no attribute '_ARRAY_API'",
                ],
            ),
            (
                with_capsule(abi=0x2000001),
                [
                    "RuntimeError",
                    "module compiled against ABI version 0x2000000 but this version of numpy "
                    "is 0x2000001",
                ],
            ),
            (
                with_capsule(feature=0x10),
                [
                    "RuntimeError",
                    "module was compiled against NumPy C-API version 0x11 (NumPy 1.25) but the "
                    "running "
                    "NumPy has C-API version 0x10. Check the section C-API incompatibility at the "
                    f"Troubleshooting ImportError section at {URL} for indications on how to solve "
                    "this problem.",
                ],
            ),
            (with_capsule(order=0), ["RuntimeError", "FATAL: module compiled as unknown endian"]),
            (
                with_capsule(order=2),
                [
                    "RuntimeError",
                    "FATAL: module compiled as little endian, but detected different "
                    "endianness at runtime",
                ],
            ),
            (stand_in(layout=None), ["ModuleNotFoundError", "No module named 'numpy.core'"]),
        ],
        ids=[
            "not-capsule",
            "named-capsule",
            "no-attribute",
            "abi",
            "feature",
            "unknown-endian",
            "big-endian",
            "no-module",
        ],
    )
    def test_failure_becomes_import_error(self, tmp_path, files, first):
        out = run(tmp_path, files)
        err = failed(out["result"])
        assert err["type"] == "ImportError" and err["args"] == [FAILED]
        assert err["entries"] == [list(e) for e in AT_API]
        ctx = err["context"]
        assert [ctx["type"], *ctx["args"]] == first
        assert ctx["entries"] == [list(e) for e in AT_CALL]

    @pytest.mark.parametrize("kw", [dict(abi=0x1000009, feature=0x11), dict(feature=0x15)])
    def test_older_abi_and_newer_features_pass(self, tmp_path, kw):
        out = run(tmp_path, with_capsule(**kw))
        assert out["result"] == {"error": None, "np_is_numpy": True}
        assert out["warnings"] == []

    def test_falls_back_to_numpy_core(self, tmp_path):
        out = run(tmp_path, stand_in(layout="core"))
        assert out["result"] == {"error": None, "np_is_numpy": True}
        assert out["warnings"] == []

    def test_no_fallback_on_other_import_errors(self, tmp_path):
        files = stand_in(api="raise ImportError('broken build')\n")
        files["numpy/core/__init__.py"] = ""
        files["numpy/core/_multiarray_umath.py"] = (
            "import sys\nsys.fell_back = True\n" + REAL_CAPSULE
        )
        out = run(
            tmp_path,
            files,
            "out['result'] = attempt()\nout['fell_back'] = hasattr(sys, 'fell_back')\n",
        )
        err = failed(out["result"])
        assert err["args"] == [FAILED]
        assert err["context"]["type"] == "ImportError"
        assert err["context"]["args"] == ["broken build"]
        assert out["fell_back"] is False

    def test_base_exception_passes_unchanged(self, tmp_path):
        out = run(tmp_path, stand_in(api="raise KeyboardInterrupt('stop')\n"))
        err = failed(out["result"])
        assert (err["type"], err["args"]) == ("KeyboardInterrupt", ["stop"])
        assert err["entries"] == [[INIT, SOURCE, 19], [IMPORT_ARRAY, HEADER, CALL_LINE]]
        assert err["context"] is None


class TestRealNumpy:
    def test_passes_silently(self):
        proc = subprocess.run(
            [
                sys.executable,
                "-W",
                "error",
                "-c",
                "import numpy, veltrane.codecs._vtk_parse as m; assert m.np is numpy",
            ],
            capture_output=True,
            text=True,
            timeout=120,
        )
        assert proc.returncode == 0 and proc.stderr == "", proc.stderr

    def test_import_after_failure_succeeds(self, tmp_path):
        body = """
        out['first'] = attempt()
        use_real_numpy()
        import veltrane.codecs._vtk_parse as m
        out['np_is_numpy'] = m.np is sys.modules['numpy'] is _real
        out['row'] = m.parse_ascii_coords(['1 2 3'], 0, 1).tolist()
        """
        out = run(tmp_path, with_capsule(feature=0x10), body)
        assert failed(out["first"])["args"] == [FAILED]
        assert out["np_is_numpy"] is True
        assert out["row"] == [[1.0, 2.0, 3.0]]
        assert out["warnings"] == []
