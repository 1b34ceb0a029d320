"""The wheel as users get it: built with `python -m build`, it holds the
extensions, stubs and Python files and nothing else, and once installed in a
fresh venv it reads the bundled example."""

import os
import re
import subprocess
import sys
import venv
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    pytest.importorskip("build")
    out = tmp_path_factory.mktemp("dist")
    subprocess.run(
        [
            sys.executable,
            "-m",
            "build",
            "--wheel",
            "--no-isolation",
            "-o",
            str(out),
            "-C",
            "build-dir=build/wheel",
            str(ROOT),
        ],
        check=True,
        capture_output=True,
        cwd=ROOT,
    )
    (path,) = out.glob("veltrane-*.whl")
    return path


def test_contents(wheel):
    names = set(zipfile.ZipFile(wheel).namelist())
    package = {n for n in names if not n.startswith("veltrane-")}
    assert {
        "veltrane/__init__.py",
        "veltrane/py.typed",
        "veltrane/codecs/__init__.py",
        "veltrane/codecs/vtk/__init__.py",
        "veltrane/codecs/_vtk_parse.pyi",
        "veltrane/codecs/_vtk_blocks.pyi",
    } <= package
    extensions = sorted(n.split("/")[-1].split(".")[0] for n in package if n.endswith(".so"))
    assert extensions == ["_vtk_blocks", "_vtk_parse"]
    assert {n for n in package if n.startswith("veltrane/codecs/_vtk_")} == {
        "veltrane/codecs/_vtk_parse.pyi",
        "veltrane/codecs/_vtk_blocks.pyi",
        *(n for n in package if n.endswith(".so")),
    }
    assert not [n for n in package if n.endswith((".cpp", ".hpp", ".h")) or "test" in n]


def test_installs_and_reads_the_example(wheel, tmp_path):
    env_dir = tmp_path / "venv"
    # NumPy comes from the interpreter's own site packages: no index is asked.
    venv.create(env_dir, system_site_packages=True, with_pip=True)
    py = env_dir / "bin" / "python"
    subprocess.run(
        [py, "-m", "pip", "install", "-q", "--no-deps", "--no-index", str(wheel)],
        check=True,
        capture_output=True,
    )
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    run = subprocess.run(
        [py, "-c", "import veltrane, sys; print(veltrane.__file__, veltrane.__version__)"],
        check=True,
        capture_output=True,
        text=True,
        cwd=tmp_path,
        env=env,
    )
    where, version = run.stdout.split()
    assert where.startswith(str(env_dir)) and version == "0.1.0"
    run = subprocess.run(
        [env_dir / "bin" / "veltrane-vtk", "--verbose", str(ROOT / "examples" / "grid.vtk.gz")],
        check=True,
        capture_output=True,
        text=True,
        cwd=tmp_path,
        env=env,
    )
    assert "points:    287496" in run.stdout
    assert re.search(r"CELLS\s+scanned from the file's bytes", run.stdout)
