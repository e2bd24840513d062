"""How the `sunindex` command prints results: a table, CSV or JSON on stdout."""

from __future__ import annotations

import csv
import json
import math
import shutil
import sys
from collections.abc import Mapping
from typing import IO, Any

import numpy as np


class OutputGone(Exception):
    """Standard output is closed, or there is none: nothing can be printed."""


def stdout() -> IO[str]:
    if sys.stdout is None or sys.stdout.closed:
        raise OutputGone
    return sys.stdout


def records(columns: Mapping[str, Any]) -> list[dict[str, Any]]:
    """One dict of plain Python values per row of `columns` (arrays sharing their first axis)."""
    count = len(next(iter(columns.values())))
    return [{name: _plain(values[row]) for name, values in columns.items()} for row in range(count)]


def print_records(records: list[dict[str, Any]], style: str, labels: dict[str, list[str]],
                  across: bool = False) -> None:
    """Prints `records` in `style` ("table", "csv" or "json"), each list value spread over
    the columns `labels` names for it. A table has one row per record, quantities as
    columns; `across` turns it to one line per quantity and one column per record where
    that fits the terminal, so that a day's many values stay on a screen."""
    out = stdout()
    rows = [_flat(record, labels) for record in records]
    if style == "json":  # one record per line: a list that is still easy to read and to grep
        lines = [json.dumps({name: _json_value(value) for name, value in row.items()}, allow_nan=False)
                 for row in rows]
        print("[\n" + ",\n".join(lines) + "\n]", file=out)
        return
    names = list(rows[0]) if rows else []
    if style == "csv":
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(names)
        writer.writerows([[_text(row[name]) for name in names] for row in rows])
        return
    down = [[(name, False) for name in names]] + [[_cell(row[name]) for name in names] for row in rows]
    turned = [list(line) for line in zip(*down)]
    turn = across and _width(turned) <= shutil.get_terminal_size().columns
    table = turned if turn else down
    widths = [max(len(text) for text, _ in column) for column in zip(*table)] if table else []
    for line in table:
        # Read down, a number column's digits line up on the right; across, a column mixes kinds.
        cells = [text.rjust(width) if number and not turn else text.ljust(width)
                 for (text, number), width in zip(line, widths)]
        print("  ".join(cells).rstrip(), file=out)


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


def _plain(value: Any) -> Any:
    if isinstance(value, np.ndarray):
        return [_plain(item) for item in value]
    if isinstance(value, np.datetime64):
        return str(value)
    return value.item() if isinstance(value, np.generic) else value


def _flat(record: dict[str, Any], labels: dict[str, list[str]]) -> dict[str, Any]:
    """`record` with each list value spread over the columns `labels` names for it (else
    ``name[0]``, ``name[1]``...), placed after the single values, so that those stay
    together at the top of a table."""
    flat = {name: value for name, value in record.items() if not isinstance(value, list)}
    for name, value in record.items():
        if isinstance(value, list):
            names = labels.get(name) or [f"{name}[{index}]" for index in range(len(value))]
            flat.update(zip(names, value, strict=True))
    return flat


def _text(value: Any) -> str:
    # repr is the shortest text that reads back as the same double.
    return repr(value) if isinstance(value, float) else str(value)


def _json_value(value: Any) -> Any:
    """`value` as JSON can hold it: NaN (no value) as None, an infinity as its text."""
    if isinstance(value, float) and not math.isfinite(value):
        return None if math.isnan(value) else _text(value)
    return value
