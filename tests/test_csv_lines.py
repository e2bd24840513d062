"""The command line's native CSV writer: byte for byte what Python's csv module writes
of the same values, each float as repr writes it, and any text read back as it was."""

import csv
import io

import numpy as np
import pytest
from hypothesis import given, strategies as st

from sunindex_tools import _native

# No lone CR: the csv module of 3.11 and 3.12 leaves it unquoted, where 3.13's quotes it, as
# the writer does (a reader would end the row there); test_any_float_and_text_reads_back has it.
TEXTS = ["plain", "a,b", 'say "x"', "line\nbreak", "", "é€😀", "  spaced "]


def python_csv(columns):
    """What the csv module writes of `columns`, floats as repr: the plain path."""
    out = io.StringIO()
    rows = zip(*(column.tolist() for column in columns))
    csv.writer(out, lineterminator="\n").writerows([repr(v) if isinstance(v, float) else str(v) for v in row]
                                                   for row in rows)
    return out.getvalue()


def native_csv(columns, first=0, last=None):
    return _native.csv_lines(tuple(columns), first, len(columns[0]) if last is None else last).decode()


def test_every_kind_of_value_as_python_writes_it():
    rng = np.random.default_rng(7)
    floats = np.concatenate([
        rng.integers(0, 2**64, 50_000, dtype=np.uint64).view(np.float64),  # every exponent, NaNs, subnormals
        np.round(rng.normal(150, 60, 20_000), 1),  # as the files give them
        [0.0, -0.0, np.inf, -np.inf, 1e16, 1e15, 9999999999999998.0, 1e-4, 1e-5, 5e-324, 1.7976931348623157e308],
    ])
    count = len(floats)
    columns = [floats, np.resize(np.array(TEXTS), count), rng.integers(-128, 128, count).astype(np.int8),
               rng.integers(0, 2, count).astype(bool), rng.integers(-2**63, 2**63, count, dtype=np.int64)]
    assert native_csv(columns) == python_csv(columns)


@given(st.lists(st.tuples(st.floats(), st.text(st.characters(exclude_categories=["Cs"], exclude_characters="\0"),
                                                max_size=6)), min_size=1))
def test_any_float_and_text_reads_back(rows):
    columns = [np.array([value for value, _ in rows]), np.array([text for _, text in rows])]
    assert list(csv.reader(io.StringIO(native_csv(columns), newline=""))) == [[repr(v), text] for v, text in rows]


def test_strided_and_partial_rows():
    table = np.arange(70.0).reshape(10, 7) / 3
    texts = np.array(TEXTS * 2)[::2]  # a view with a stride of two items
    assert native_csv([table[:, 3], texts[:10]], 2, 7) == python_csv([table[2:7, 3], texts[2:7]])


@pytest.mark.parametrize(("columns", "error"), [
    ((np.zeros((2, 2)),), TypeError),
    ((np.zeros(2, ">f8"),), TypeError),
    ((np.array(["a", "b"], ">U1"),), TypeError),
    ((np.array([1, 2], object),), TypeError),
    ((np.zeros(2, np.float32),), TypeError),
    ((np.zeros(3), np.zeros(2)), ValueError),  # the last row lies beyond the second column
    ((np.array(["\ud800"]),), ValueError),
])
def test_refused_columns(columns, error):
    with pytest.raises(error, match="csv_lines"):
        _native.csv_lines(columns, 0, 3 if len(columns) == 2 else len(columns[0]))
