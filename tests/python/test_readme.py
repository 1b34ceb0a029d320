"""The README's examples run as they stand, in a directory that holds the
checkout's examples/, as a user who copies them from a fresh clone runs them:
its Python blocks one after the other in one interpreter, and its command
lines of the reader's own commands through a shell."""

import os
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).parents[2]
BLOCKS = re.findall(r"```(python|sh)\n(.*?)```", (ROOT / "README.md").read_text(), re.S)
# Command lines that set up or check the project itself, not the reader's use.
NOT_USE = ("tools/", "pip ", "venv", "VELTRANE_ENV", "python3.15 -m pip")


def run(args, tmp_path, **kw):
    if not (tmp_path / "examples").exists():
        (tmp_path / "examples").symlink_to(ROOT / "examples")
    env = dict(os.environ, PATH=f"{pathlib.Path(sys.executable).parent}:{os.environ['PATH']}")
    return subprocess.run(args, cwd=tmp_path, env=env, capture_output=True, text=True, **kw)


def test_python_examples(tmp_path):
    code = "\n".join(body for kind, body in BLOCKS if kind == "python")
    assert "vtk.read(" in code and "vtk.write(" in code
    done = run([sys.executable, "-c", code], tmp_path)
    assert done.returncode == 0, done.stderr
    assert "examples/broken.vtk 7 POINTS: expected a number, found 'x'" in done.stdout


def test_command_lines(tmp_path):
    lines = [
        line.split("#")[0].strip()
        for kind, body in BLOCKS
        if kind == "sh"
        for line in body.splitlines()
        if not any(word in line for word in NOT_USE)
    ]
    lines = [line for line in lines if line]
    assert any(line.startswith("veltrane-vtk") for line in lines)
    for line in lines:
        done = run(["sh", "-c", line], tmp_path)
        assert done.returncode == 0, (line, done.stderr)
        assert done.stdout and not done.stderr, line
