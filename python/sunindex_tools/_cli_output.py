"""How the `sunindex` command prints results: a table, CSV or JSON on stdout."""

from __future__ import annotations

import math
import sys
from collections.abc import Mapping
from typing import IO, Any

import numpy as np

from . import _native
from ._cli_parser import terminal_columns

_CSV_BLOCK = 8192  # rows written at a time: memory bounded at any count of epochs


class OutputGone(Exception):
    """Standard output is closed, or there is none: nothing can be printed."""


def stdout() -> IO[str]:
    if sys.stdout is None or sys.stdout.closed:
        raise OutputGone
    return sys.stdout


def print_columns(columns: Mapping[str, Any], style: str, labels: dict[str, list[str]],
                  across: bool = False) -> None:
    """Prints `columns` (arrays sharing their first axis, a row each) in `style` ("table",
    "csv" or "json"), each array of several values a row spread over the columns `labels`
    names for it. A table has one row per row of `columns`, quantities as columns; `across`
    turns it to one line per quantity and one column per row where that fits the terminal,
    so that a day's many values stay on a screen."""
    flat = _flat(columns, labels)
    if style == "csv":
        _print_csv(flat)
        return
    out = stdout()
    rows = _records(flat)
    if style == "json":  # one record per line: a list that is still easy to read and to grep
        import json  # only here: a start without it is a millisecond sooner

        lines = [json.dumps({name: _json_value(value) for name, value in row.items()}, allow_nan=False)
                 for row in rows]
        print("[\n" + ",\n".join(lines) + "\n]", file=out)
        return
    names = list(flat)
    down = [[(name, False) for name in names]] + [[_cell(row[name]) for name in names] for row in rows]
    turned = [list(line) for line in zip(*down)]
    turn = across and _width(turned) <= terminal_columns()
    table = turned if turn else down
    widths = [max(len(text) for text, _ in column) for column in zip(*table)] if table else []
    for line in table:
        # Read down, a number column's digits line up on the right; across, a column mixes kinds.
        cells = [text.rjust(width) if number and not turn else text.ljust(width)
                 for (text, number), width in zip(line, widths)]
        print("  ".join(cells).rstrip(), file=out)


def _print_csv(flat: dict[str, np.ndarray]) -> None:
    """`flat`'s one-dimensional columns as CSV, written natively a block of rows at a time,
    so that a million epochs take about a second and bounded memory."""
    out = stdout()
    columns = tuple(_as_text(values) for values in flat.values())
    header = tuple(np.array([name]) for name in flat)
    out.write(_native.csv_lines(header, 0, 1).decode())
    count = len(columns[0]) if columns else 0
    for first in range(0, count, _CSV_BLOCK):
        out.write(_native.csv_lines(columns, first, min(first + _CSV_BLOCK, count)).decode())


def _as_text(values: np.ndarray) -> np.ndarray:
    """Instants and days as their ISO text (as `str` writes one), any other column as it is."""
    return np.datetime_as_string(values) if values.dtype.kind == "M" else values


def _records(flat: dict[str, np.ndarray]) -> list[dict[str, Any]]:
    """One dict of plain Python values per row of `flat`'s one-dimensional columns."""
    plain = [_as_text(values).tolist() for values in flat.values()]
    return [dict(zip(flat, row)) for row in zip(*plain)]


def _cell(value: Any) -> tuple[str, bool]:
    """`value` as a table prints it, and whether it is a number (aligned to the right, so
    that the digits of a column line up)."""
    number = isinstance(value, (int, float)) and not isinstance(value, bool)
    return _text(value), number


def _width(table: list[list[tuple[str, bool]]]) -> int:
    """The characters of the longest line of `table`, its columns two spaces apart."""
    if not table:
        return 0
    return sum(max(len(text) for text, _ in column) for column in zip(*table)) + 2 * (len(table[0]) - 1)


def _flat(columns: Mapping[str, Any], labels: dict[str, list[str]]) -> dict[str, np.ndarray]:
    """`columns` with each array of several values a row spread over the columns `labels`
    names for it (else ``name[0]``, ``name[1]``...), placed after the single values, so
    that those stay together at the top of a table."""
    flat = {name: values for name, values in columns.items() if values.ndim == 1}
    for name, values in columns.items():
        if values.ndim == 2:
            names = labels.get(name) or [f"{name}[{index}]" for index in range(values.shape[1])]
            flat.update(zip(names, values.T, strict=True))
    return flat


def _text(value: Any) -> str:
    # repr is the shortest text that reads back as the same double.
    return repr(value) if isinstance(value, float) else str(value)


def _json_value(value: Any) -> Any:
    """`value` as JSON can hold it: NaN (no value) as None, an infinity as its text."""
    if isinstance(value, float) and not math.isfinite(value):
        return None if math.isnan(value) else _text(value)
    return value
