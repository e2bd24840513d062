"""The type stubs shipped in the wheel: installed beside the module, true to it, and useful to mypy."""

import ast
import importlib.metadata
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

from sunindex import Sunindex

STUB_IN_TREE = Path(__file__).resolve().parent.parent / "stubs" / "sunindex-stubs" / "__init__.pyi"

GOOD_USER_CODE = """
    import datetime
    from typing import TYPE_CHECKING, assert_type

    import numpy as np
    from numpy.typing import NDArray

    from sunindex import Sunindex

    if TYPE_CHECKING:
        from sunindex import Columns, Record


    class Day:
        year = 2024
        month = 5
        day = 11


    store = Sunindex.from_celestrak_csv("SW.csv")
    store.merge(other=Sunindex.from_set_solfsmy(path="SOLFSMY.TXT"))
    store.merge(store.from_set_dtcfile("DTCFILE.TXT"))
    record = store.get(datetime.date(2024, 5, 11))
    assert_type(record, "Record | None")
    if record is not None:
        assert_type(record["date"], datetime.date)
        assert_type(record["dtc"], float | None)
        assert_type(record["kp_3hr"], list[float] | None)
    span = store.date_range()
    assert_type(span, tuple[datetime.date, datetime.date] | None)
    if span is not None:
        rows: "list[Record]" = store.get_range(start=span[0], end=Day())
    store.get(datetime.datetime.now())
    columns: "Columns" = store.to_numpy()
    assert_type(columns["f10_7_jb_81c"], NDArray[np.float64])
    assert_type(columns["date"], NDArray[np.object_])
    count: int = len(store) + store.len()
"""

# Every line marked "# error" must be reported, and no other line.
BAD_USER_CODE = """
    import datetime
    import pathlib

    from sunindex import Sunindex


    class FloatDay:
        year = 2024.0
        month = 5
        day = 11


    store = Sunindex.from_celestrak_csv(pathlib.Path("SW.csv"))  # error
    store.get("2024-05-11")  # error
    store.get(FloatDay())  # error
    store.get(day=datetime.date(2024, 5, 11))  # error
    store.get_range(datetime.date(2024, 5, 11))  # error
    store.merge(42)  # error
    record = store.get(datetime.date(2024, 5, 11))
    assert record is not None
    dtc: float = record["dtc"]  # error
    record["f10_7"]  # error
    first, last = store.date_range()  # error
    store.to_numpy()["ap"]  # error


    class Derived(Sunindex):  # error
        pass
"""


def run(args, cwd):
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True)


@pytest.fixture
def mypy_config(tmp_path):
    """An empty configuration, so that no file of the tree or of the user changes mypy's behaviour."""
    path = tmp_path / "mypy.ini"
    path.write_text("[mypy]\n")
    return str(path)


def test_installed_with_the_module():
    files = importlib.metadata.files("sunindex") or []
    installed = [f for f in files if f.as_posix() == "sunindex-stubs/__init__.pyi"]
    assert installed, "the wheel does not ship sunindex-stubs/__init__.pyi"
    assert installed[0].read_text() == STUB_IN_TREE.read_text(), "installed stubs are stale: reinstall"


def test_stubtest_accepts_the_stubs(tmp_path, mypy_config):
    done = run(["mypy.stubtest", "sunindex", "--mypy-config-file", mypy_config], cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr


def test_typed_dict_keys_follow_the_runtime(sample_path):
    """stubtest does not look inside type-only TypedDicts, so their keys are compared here."""
    tree = ast.parse(STUB_IN_TREE.read_text())
    fields = {node.name: [item.target.id for item in node.body if isinstance(item, ast.AnnAssign)]
              for node in tree.body if isinstance(node, ast.ClassDef)}
    store = Sunindex.from_celestrak_csv(sample_path("SW-sample.csv"))
    first, _ = store.date_range()
    assert fields["Record"] == list(store.get(first))
    assert fields["Columns"] == list(store.to_numpy())


def test_user_code_is_checked(tmp_path, mypy_config):
    (tmp_path / "good.py").write_text(textwrap.dedent(GOOD_USER_CODE))
    (tmp_path / "bad.py").write_text(textwrap.dedent(BAD_USER_CODE))
    done = run(["mypy", "--strict", "--config-file", mypy_config, "--cache-dir", str(tmp_path / "cache"),
                "good.py", "bad.py"], cwd=tmp_path)
    reported = {(m[1], int(m[2])) for m in re.finditer(r"^(\w+)\.py:(\d+): error:", done.stdout, re.M)}
    expected = {("bad", n) for n, line in enumerate(textwrap.dedent(BAD_USER_CODE).splitlines(), 1)
                if line.endswith("# error")}
    assert reported == expected, done.stdout + done.stderr
