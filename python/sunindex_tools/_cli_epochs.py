"""The epochs and days a `sunindex` command is given: as written, as a range, or on stdin."""

from __future__ import annotations

import argparse
import datetime
import sys

import numpy as np

from ._cli_parser import usage_error, utc_now
from ._epochs import TICKS_PER_DAY, Ticks, to_ticks

MAX_EPOCHS = 10_000_000  # a range's or stdin's epochs: enough for a year at 3 s, and a bounded memory
_MAX_LINE = 1_000  # characters in a line of stdin, far beyond any epoch
_INT64 = np.iinfo(np.int64)  # its minimum is NaT
_NAMED = ("now", "today")  # epochs named by a word, not written out


def epochs(args: argparse.Namespace) -> tuple[np.ndarray, np.ndarray]:
    """The command line's epochs, and each as its user wrote it (now and today as the
    instant used; a range's as ISO 8601), an array of str."""
    texts: list[str] = []
    for text in args.epochs:
        texts.extend(_stdin_lines(args) if text == "-" else [text])
    if not texts:
        raise usage_error(args, "no epoch on stdin")
    try:
        # One conversion for all, the API's: exact in the finest unit among them, or refused.
        ticks = to_ticks([_instant(text) for text in texts])
    except ValueError as error:
        raise usage_error(args, f"argument EPOCH: {error}") from None
    missing = np.flatnonzero(ticks.ticks == _INT64.min)
    if missing.size:  # the API gives NaN for NaT; on a command line it is a mistyped epoch
        raise usage_error(args, f"argument EPOCH: not an epoch: {texts[missing[0]]!r}")
    instants = ticks.ticks.view(f"M8[{ticks.unit}]")
    if args.step is None:  # as written, but for the instant that now and today named
        return instants, np.array([str(instant) if text in _NAMED else text for text, instant in zip(texts, instants)])
    if len(instants) != 2:
        raise usage_error(args, f"--step takes two epochs, START and END, not {len(instants)}")
    return _range(args, ticks, texts)


def days(args: argparse.Namespace, first: datetime.date, last: datetime.date) -> np.ndarray:
    """The days from `first` to `last` inclusive."""
    if last < first:
        raise usage_error(args, f"END {last} is before {first}")
    return np.arange(np.datetime64(first, "D"), np.datetime64(last, "D") + np.timedelta64(1, "D"))


def _instant(text: str) -> str | np.datetime64:
    """The epoch `text` names, as the API takes it: `now` and `today` as the
    instant they name, any other text as written (the API's conversion reads it)."""
    if text == "now":
        return np.datetime64(utc_now(), "us")
    if text == "today":
        return np.datetime64(utc_now().date(), "D")
    return text


def _range(args: argparse.Namespace, ticks: Ticks, texts: list[str]) -> tuple[np.ndarray, np.ndarray]:
    """Every epoch from START to END, --step apart, in the finer of their units and
    the step's, counted in integers so that nothing wraps."""
    step_unit = np.datetime_data(args.step.dtype)[0]
    unit = max(ticks.unit, step_unit, key=TICKS_PER_DAY.__getitem__)
    scale = TICKS_PER_DAY[unit] // ticks.ticks_per_day
    start, end = (int(tick) * scale for tick in ticks.ticks)
    step = int(args.step.astype(np.int64)) * (TICKS_PER_DAY[unit] // TICKS_PER_DAY[step_unit])
    if end < start:
        raise usage_error(args, f"END {texts[1]} is before START {texts[0]}")
    if not (_INT64.min < start and end <= _INT64.max):
        raise usage_error(args, f"argument EPOCH: epoch out of the range of datetime64[{unit}]")
    count = (end - start) // step + 1
    if count > MAX_EPOCHS:
        raise usage_error(args, f"the range holds {count} epochs; at most {MAX_EPOCHS}")
    instants: np.ndarray = np.arange(count, dtype=np.int64) * np.int64(step) + np.int64(start)
    instants = instants.view(f"M8[{unit}]")
    shown = instants.astype(f"M8[{_shown_unit(instants)}]")
    # The longest text is the first's or the last's, whose years are the farthest out; NumPy's
    # own width would be that of any year, and would double the time it takes to write them.
    width = max(len(str(shown[0])), len(str(shown[-1])))
    return instants, shown.astype(f"U{width}")


def _stdin_lines(args: argparse.Namespace) -> list[str]:
    """The epochs on stdin, one a line, read as they come so that an endless
    stream stops at the same bound as a range."""
    lines: list[str] = []
    if sys.stdin is None:
        return lines
    read = 0  # blank lines count too: an endless stream of them must end as well
    while line := sys.stdin.readline(_MAX_LINE + 1):
        read += 1
        if len(line) > _MAX_LINE:
            raise usage_error(args, f"a line on stdin is longer than {_MAX_LINE} characters")
        if read > MAX_EPOCHS:
            raise usage_error(args, f"stdin holds more than {MAX_EPOCHS} lines")
        if line.strip():
            lines.append(line.strip())
    return lines


def _shown_unit(instants: np.ndarray) -> str:
    """Seconds when every epoch is a whole second, else the epochs' own unit."""
    unit = np.datetime_data(instants.dtype)[0]
    whole = instants.astype("M8[s]").astype(instants.dtype) == instants
    return "s" if np.all(whole) else unit
