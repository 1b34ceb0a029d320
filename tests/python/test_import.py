"""What an importer sees: the namespace, the function objects, and the import
semantics that only a fresh interpreter shows."""

import importlib
import inspect
import sys

import pytest
from conftest import run_python

from veltrane.codecs import _vtk_parse as m

FUNCS = [
    (m.parse_ascii_coords, "parse_ascii_coords", 22, "n_verts"),
    (m.parse_ascii_cells_v42, "parse_ascii_cells_v42", 81, "n_cells"),
]


class TestNamespace:
    def test_bindings(self):
        assert m.np is sys.modules["numpy"]
        assert m.__test__ == {}
        assert m.__builtins__ is __import__("builtins")
        assert not hasattr(m, "__path__")
        own = {k for k in vars(m) if not k.startswith("__")}
        assert own == {"np", "parse_ascii_coords", "parse_ascii_cells_v42"}

    def test_module_doc(self):
        lines = m.__doc__.split("\n")
        assert len(lines) == 11 and lines[-1] == ""
        assert lines[0].split(" ", 1)[1] == "hot-paths for VTK legacy ASCII parsing."
        assert lines[2] == "parse_ascii_coords       Parse n_verts lines of 'x y z' floats into a"
        assert lines[6].startswith("parse_ascii_cells_v42    Parse n_cells lines")
        for i in (3, 4, 7, 8, 9):
            assert lines[i].startswith(" " * 25) and lines[i][25] != " "
        assert lines[9].endswith("VTK/ParaView versions).")

    @pytest.mark.parametrize("func,name,line,count", FUNCS)
    def test_function_attributes(self, func, name, line, count):
        assert func.__name__ == func.__qualname__ == name
        assert func.__module__ == "veltrane.codecs._vtk_parse"
        code = func.__code__
        assert (code.co_name, code.co_qualname) == (name, name)
        assert code.co_filename == "veltrane/codecs/_vtk_parse.cpp"
        assert code.co_firstlineno == line
        assert code.co_varnames == ("lines", "start", count)
        assert (code.co_argcount, code.co_posonlyargcount, code.co_kwonlyargcount) == (3, 0, 0)
        assert code.co_flags == 3
        assert func.__globals__ is vars(m)
        assert list(inspect.signature(func).parameters) == ["lines", "start", count]
        assert func.__defaults__ is None and func.__kwdefaults__ is None

    def test_docstrings(self):
        doc = m.parse_ascii_coords.__doc__
        assert len(doc) == 603
        assert doc.startswith("Parse n_verts lines of ASCII float coordinates.\n\n    Parameters\n")
        assert doc.endswith("        as the run of numbers the header counts.\n    ")
        doc = m.parse_ascii_cells_v42.__doc__
        assert doc.count("\n") == 24
        assert doc.startswith("Parse n_cells lines of v4.2 CELLS data into CSR arrays.\n")
        assert "    tuple[np.ndarray, np.ndarray]\n        (connectivity, offsets) as int32" in doc
        assert doc.endswith("        again in Python.\n    ")


class TestImportSemantics:
    def test_reload_changes_nothing(self):
        saved = dict(vars(m))
        assert importlib.reload(m) is m
        assert vars(m) == saved

    def test_one_module_per_process(self):
        run_python("""
            import sys
            import veltrane.codecs._vtk_parse as m
            m.np = "rebound"
            del sys.modules["veltrane.codecs._vtk_parse"]
            import veltrane.codecs._vtk_parse as again
            assert again is m and again.np == "rebound"
            assert sys.modules["veltrane.codecs._vtk_parse"] is m
        """)

    def test_second_interpreter_is_refused(self):
        proc = run_python("""
            import _interpreters
            import veltrane.codecs._vtk_parse as m
            interp = _interpreters.create("legacy")
            err = _interpreters.exec(interp, "import veltrane.codecs._vtk_parse")
            print(err.type.__name__, err.msg, sep="|")
            print(m.parse_ascii_coords(["1 2 3"], 0, 1).tolist())
        """)
        kind, msg = proc.stdout.splitlines()[0].split("|")
        assert kind == "ImportError"
        assert msg == (
            "Interpreter change detected - this module can only be loaded into "
            "one interpreter per process."
        )
        assert proc.stdout.splitlines()[1] == "[[1.0, 2.0, 3.0]]"

    def test_import_without_numpy_fails_cleanly_and_can_be_retried(self):
        proc = run_python("""
            import sys, traceback
            class Block:
                def find_spec(self, name, path=None, target=None):
                    if name == "numpy" or name.startswith("numpy."):
                        raise ModuleNotFoundError("No module named 'numpy'", name="numpy")
            sys.meta_path.insert(0, Block())
            try:
                import veltrane.codecs._vtk_parse
            except ModuleNotFoundError as e:
                own = [(f.name, f.lineno) for f in traceback.extract_tb(e.__traceback__)
                       if f.filename == "veltrane/codecs/_vtk_parse.cpp"]
                print(e, own, sep="|")
            assert "veltrane.codecs._vtk_parse" not in sys.modules
            del sys.meta_path[0]
            import veltrane.codecs._vtk_parse as m
            print(m.parse_ascii_coords(["1 2 3"], 0, 1).tolist())
        """)
        first, second = proc.stdout.splitlines()
        assert first == "No module named 'numpy'|[('init veltrane.codecs._vtk_parse', 1)]"
        assert second == "[[1.0, 2.0, 3.0]]"

    def test_no_version_warning_on_matching_python(self):
        run_python("import veltrane.codecs._vtk_parse", "-W", "error")
