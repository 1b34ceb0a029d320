import subprocess
import sys
import textwrap
import traceback

import pytest

SOURCE = "veltrane/codecs/_vtk_parse.cpp"
PREFIX = "veltrane.codecs._vtk_parse."


def entries(exc):
    """(function name, line) of the module's own traceback entries, outermost first."""
    return [
        (f.name, f.lineno) for f in traceback.extract_tb(exc.__traceback__) if f.filename == SOURCE
    ]


def raises_at(exc_type, message, func, *lines):
    """Context manager: the call raises exc_type(message) with exactly these entries."""
    return _RaisesAt(exc_type, message, [(PREFIX + func, n) for n in lines])


class _RaisesAt:
    def __init__(self, exc_type, message, want):
        self.exc_type, self.message, self.want = exc_type, message, want

    def __enter__(self):
        self._cm = pytest.raises(self.exc_type)
        self.info = self._cm.__enter__()
        return self.info

    def __exit__(self, *exc):
        handled = self._cm.__exit__(*exc)
        e = self.info.value
        if self.message is not None:
            assert e.args == (self.message,), e.args
        assert entries(e) == self.want
        return handled


def run_python(code, *args, check=True):
    """Runs code in a fresh interpreter; returns the CompletedProcess."""
    proc = subprocess.run(
        [sys.executable, *args, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=120,
    )
    if check and proc.returncode != 0:
        raise AssertionError(f"exit {proc.returncode}\n{proc.stdout}\n{proc.stderr}")
    return proc
