"""The README's Python examples run as written, on the shipped samples, and mypy --strict
accepts them. A block the README marks `<!-- not run: why -->` is type-checked only."""

import os
import re
import subprocess
import sys

import pytest

from conftest import ROOT

README = ROOT / "README.md"
NOT_RUN = re.compile(r"<!-- not run: .+ -->")


def examples():
    """(first line, code, whether it runs) of each ```python block, in order."""
    lines = README.read_text(encoding="utf-8").splitlines()
    found, start = [], None
    for number, line in enumerate(lines, 1):
        if start is None and line == "```python":
            start = number
        elif start is not None and line == "```":
            runs = not NOT_RUN.fullmatch(lines[start - 2].strip()) if start >= 2 else True
            found.append((start + 1, "\n".join(lines[start:number - 1]) + "\n", runs))
            start = None
    return found


EXAMPLES = examples()


def test_there_are_examples_to_run():
    assert sum(runs for _, _, runs in EXAMPLES) >= 2


PRINTED = re.compile(r"^print\(.*\)\s+# (.*)$")


@pytest.mark.parametrize("line, code, runs", EXAMPLES, ids=[f"line{line}" for line, _, _ in EXAMPLES])
def test_runs_as_written_and_prints_what_it_says(line, code, runs, monkeypatch, capsys):
    if not runs:
        pytest.skip("marked as not run in the README")
    pytest.importorskip("pandas")  # the quick start and to_pandas() use it
    monkeypatch.chdir(ROOT)  # the examples name the samples as data/...
    exec(compile(code, f"{README}:{line}", "exec"), {"__name__": "readme_example"})
    # Each print() of an example says, in its comment, what it prints.
    prints = [line for line in code.splitlines() if line.startswith("print(")]
    said = [match[1] for match in map(PRINTED.match, prints) if match]
    assert len(said) == len(prints) and capsys.readouterr().out.splitlines() == said


def test_mypy_strict_accepts_them(tmp_path):
    pytest.importorskip("mypy")
    files = []
    for line, code, _ in EXAMPLES:
        path = tmp_path / f"readme_line{line}.py"
        path.write_text(code)
        files.append(str(path))
    # pandas and pymsis ship no types: that is theirs to fix, not the examples'.
    config = tmp_path / "mypy.ini"
    config.write_text("[mypy]\n[mypy-pandas.*]\nignore_missing_imports = True\n[mypy-pymsis.*]\nignore_missing_imports = True\n")
    done = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--config-file", str(config),
                           "--cache-dir", str(tmp_path / "cache"), *files],
                          capture_output=True, text=True, check=False, cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr


def test_the_dask_example_without_the_full_files_says_which_variable(tmp_path):
    pytest.importorskip("dask")
    env = {**os.environ, "SUNINDEX_FULL_DATA": str(tmp_path / "none")}
    done = subprocess.run([sys.executable, str(ROOT / "examples" / "msis_dask.py"), "--full"], env=env,
                          capture_output=True, text=True, check=False)
    assert done.returncode == 1 and "set SUNINDEX_FULL_DATA" in done.stderr and done.stderr.count("\n") == 1


def test_the_demo_runs():
    """`make demo` is one of the two set-up commands a new machine runs."""
    done = subprocess.run([sys.executable, str(ROOT / "examples" / "demo.py")], capture_output=True, text=True,
                          cwd=ROOT)
    assert done.returncode == 0, done.stderr
    assert "JB2008 inputs at 2024-05-11T12:00Z (OBS)" in done.stdout
