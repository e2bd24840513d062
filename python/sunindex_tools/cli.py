"""The `sunindex` command: download the published files, inspect them, print model inputs.

Exit status: 0 on success, 2 for a bad command line (as argparse uses it), 1 for anything
that failed at run time: a file that could not be had or read, a bad file, an epoch outside
the files, output that could not be written. Errors are one line on stderr; warnings are
``sunindex: warning:`` lines, and only sunindex's own are shown so.

With ``--json`` a missing value (NaN) is ``null``, and an infinite one the string ``"inf"``
or ``"-inf"``, as ``--csv`` prints it: JSON has no number for it, and ``null`` would say
that the file gives no value where it gives one.
"""

from __future__ import annotations

import argparse
import csv
import datetime
import json
import math
import os
import sys
import time
import warnings
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import IO, Any, NoReturn

import numpy as np

from . import __version__
from ._epochs import to_ticks
from .fetch import FILE_NAMES, FetchError, cache_dir, describe_age, fetch, last_checked
from .space_weather import SpaceWeather

__all__ = ["main"]

_PROG = "sunindex"
_DURATION_UNITS = {"s": 1, "m": 60, "h": 3600, "d": 86400}
_PACKAGE = Path(__file__).resolve().parent
_FETCH_AGAIN = "run 'sunindex fetch' to download it again"


class _UsageError(Exception):
    """A bad command line, reported in one line with exit status 2."""


class _OutputGone(Exception):
    """Standard output is closed, or there is none: nothing can be printed."""


class _Parser(argparse.ArgumentParser):
    # argparse would print the whole usage and exit; one line and a status are wanted.
    def error(self, message: str) -> NoReturn:
        raise _UsageError(f"{self.prog}: error: {message}")


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line `argv` (default: ``sys.argv[1:]``) and returns the exit status."""
    caught: list[warnings.WarningMessage] = []
    try:
        args = _parser().parse_args(argv)
        try:
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always", UserWarning)
                status: int = args.run(args) or 0
        finally:
            _show_warnings(caught)
    except SystemExit as done:  # --help and --version
        return done.code if isinstance(done.code, int) else 0
    except BrokenPipeError:  # the reader left early (`sunindex show ... | head`): stop quietly
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())  # so the exit flush cannot fail
        return 1
    except _OutputGone:
        return 1
    except _UsageError as error:
        return _fail(str(error), 2)
    except (ValueError, OSError) as error:  # FetchError included
        return _fail(f"{_PROG}: error: {error}", 1)
    return status


def _fail(line: str, status: int) -> int:
    _complain(line)
    return status


def _complain(line: str) -> None:
    # print(file=None) would write to stdout instead.
    if sys.stderr is not None and not sys.stderr.closed:
        print(line, file=sys.stderr)


def _show_warnings(caught: list[warnings.WarningMessage]) -> None:
    """sunindex's own warnings as ``sunindex: warning:`` lines; any other as Python shows it."""
    for warning in caught:
        if issubclass(warning.category, UserWarning) and Path(warning.filename).resolve().is_relative_to(_PACKAGE):
            _complain(f"{_PROG}: warning: {warning.message}")
        else:
            warnings.showwarning(warning.message, warning.category, warning.filename, warning.lineno, line=warning.line)


def _stdout() -> IO[str]:
    if sys.stdout is None or sys.stdout.closed:
        raise _OutputGone
    return sys.stdout


def _parser() -> _Parser:
    common = _Parser(add_help=False)
    common.add_argument("--data-dir", metavar="DIR",
                        help="folder of the downloaded files (default: $SUNINDEX_DATA_DIR, else the user cache)")
    common.add_argument("--offline", action="store_true", help="never use the network; use cached copies")
    output = _Parser(add_help=False)
    style = output.add_mutually_exclusive_group()
    style.add_argument("--csv", dest="style", action="store_const", const="csv", help="print CSV")
    style.add_argument("--json", dest="style", action="store_const", const="json",
                       help='print JSON (no value: null; infinite: "inf")')

    parser = _Parser(prog=_PROG, description="Daily solar and geomagnetic indices, and model inputs from them.",
                     epilog="Run 'sunindex COMMAND --help' for a command's options.")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)

    def command(name: str, run: Callable[[argparse.Namespace], int | None], summary: str,
                parents: Sequence[_Parser] = (common,)) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, parents=list(parents), help=summary, description=summary)
        sub.set_defaults(run=run)
        return sub

    fetch_command = command("fetch", _run_fetch, "download or revalidate the three files now")
    fetch_command.add_argument("--max-age", type=_seconds, default=0.0, metavar="AGE",
                               help="skip copies younger than AGE (e.g. 90s, 30m, 6h, 2d); default 0")
    command("info", _run_info, "the cached files: ages, spans, last observed day, first predicted day")
    show = command("show", _run_show, "every daily value from DATE to END (default: DATE)", (common, output))
    show.add_argument("date", type=_date, metavar="DATE", help="first day, YYYY-MM-DD")
    show.add_argument("end", type=_date, nargs="?", metavar="END", help="last day, YYYY-MM-DD (inclusive)")
    msis = command("msis", _run_msis, "NRLMSISE-00/MSIS inputs f107, f107a, ap at each epoch", (common, output))
    msis.add_argument("epochs", nargs="+", type=_epoch, metavar="EPOCH",
                      help="ISO 8601 instant, UTC unless it has an offset")
    msis.add_argument("--burst-limit", type=float, metavar="SFU",
                      help="replace a previous-day F10.7 above SFU (or <= 0) by its 81-day average, as pymsis does")
    jb2008 = command("jb2008", _run_jb2008, "JB2008 inputs F10..Y10B and DSTDTC at each epoch", (common, output))
    jb2008.add_argument("epochs", nargs="+", type=_epoch, metavar="EPOCH",
                        help="ISO 8601 instant, UTC unless it has an offset")
    return parser


def _seconds(text: str) -> float:
    number, unit = (text[:-1], text[-1]) if text[-1:] in _DURATION_UNITS else (text, "s")
    try:
        value = float(number) * _DURATION_UNITS[unit]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a duration: {text!r} (try 90s, 30m, 6h or 2d)") from None
    if not value >= 0:
        raise argparse.ArgumentTypeError(f"not a duration: {text!r} (must be 0 or more)")
    return value


def _date(text: str) -> datetime.date:
    try:
        return datetime.date.fromisoformat(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a date: {text!r} (use YYYY-MM-DD)") from None


def _epoch(text: str) -> str:
    try:
        to_ticks(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None
    return text


def _weather(args: argparse.Namespace, keys: Sequence[str]) -> SpaceWeather:
    """The cached files of `keys`, refreshed where stale: only those the command needs, so
    that a file it does not read can neither be missing nor bad."""
    return _load(fetch(offline=args.offline, data_dir=args.data_dir, keys=keys))


def _present_weather(args: argparse.Namespace) -> SpaceWeather:
    """Every file that can be had; a warning for each that cannot, an error if none can."""
    paths: dict[str, Path] = {}
    failures: list[FetchError] = []
    for key in FILE_NAMES:
        try:
            paths.update(fetch(offline=args.offline, data_dir=args.data_dir, keys=[key]))
        except FetchError as error:
            failures.append(error)
    if not paths:
        raise failures[0]
    for failure in failures:
        warnings.warn(f"shown without it: {failure}", UserWarning, stacklevel=1)
    return _load(paths)


def _load(paths: dict[str, Path]) -> SpaceWeather:
    try:
        return SpaceWeather.load(**paths)
    except (ValueError, OSError) as error:
        raise ValueError(f"{error}; {_FETCH_AGAIN}") from None


def _run_fetch(args: argparse.Namespace) -> int:
    fetch(max_age=args.max_age, offline=args.offline, data_dir=args.data_dir)
    return _run_info(args)


def _run_info(args: argparse.Namespace) -> int:
    """Prints each file's state, one line for a file that does not load; 1 if one does not."""
    out = _stdout()
    folder = cache_dir(args.data_dir)
    print(f"folder   {folder}", file=out)
    status = 0
    csv_weather = None
    for key, name in FILE_NAMES.items():
        path = folder / name
        if not path.exists():
            state = "not downloaded (run 'sunindex fetch')"
        else:
            try:
                weather = SpaceWeather.load(**{key: path})
            except (ValueError, OSError) as error:
                state, status = f"error: {error}; {_FETCH_AGAIN}", 1
            else:
                source = weather.sources[key]
                state = f"{_checked(path)}, {source.first} to {source.last}"
                csv_weather = weather if key == "csv" else csv_weather
        print(f"{key:<8} {name:<12} {state}", file=out)
    print(f"last observed day   {csv_weather and csv_weather.last_observed or '-'}", file=out)
    print(f"first predicted day {csv_weather and csv_weather.first_predicted or '-'}", file=out)
    return status


def _checked(path: Path) -> str:
    """When the copy was last checked against its server, else how old the file is."""
    checked = last_checked(path)
    if checked is not None:
        return f"checked {describe_age(max(0.0, time.time() - checked))} ago"
    return f"{describe_age(max(0.0, time.time() - path.stat().st_mtime))} old, never checked"


def _run_show(args: argparse.Namespace) -> None:
    end = args.end or args.date
    if end < args.date:
        raise _UsageError(f"{_PROG} show: error: END {end} is before DATE {args.date}")
    days = np.arange(np.datetime64(args.date, "D"), np.datetime64(end, "D") + np.timedelta64(1, "D"))
    _print(_records(_present_weather(args).daily(days)), args.style)


def _run_msis(args: argparse.Namespace) -> None:
    inputs = _weather(args, ["csv"]).msis_inputs(list(args.epochs), burst_limit=args.burst_limit)
    _print(_records({"epoch": np.array(args.epochs), **inputs}), args.style)


def _run_jb2008(args: argparse.Namespace) -> None:
    inputs = _weather(args, ["solfsmy", "dtcfile"]).jb2008_inputs(list(args.epochs))
    _print(_records({"epoch": np.array(args.epochs), **inputs}), args.style)


def _records(columns: dict[str, Any]) -> list[dict[str, Any]]:
    """One dict of plain Python values per row of `columns` (arrays sharing their first axis)."""
    count = len(next(iter(columns.values())))
    return [{name: _plain(values[row]) for name, values in columns.items()} for row in range(count)]


def _plain(value: Any) -> Any:
    if isinstance(value, np.ndarray):
        return [_plain(item) for item in value]
    if isinstance(value, np.datetime64):
        return str(value)
    return value.item() if isinstance(value, np.generic) else value


def _print(records: list[dict[str, Any]], style: str | None) -> None:
    out = _stdout()
    if style == "json":  # one record per line: a list that is still easy to read and to grep
        lines = [json.dumps({name: _json_value(value) for name, value in record.items()}, allow_nan=False)
                 for record in records]
        print("[\n" + ",\n".join(lines) + "\n]", file=out)
        return
    rows = [_flat(record) for record in records]
    names = list(rows[0]) if rows else []
    if style == "csv":
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(names)
        writer.writerows([[_text(row[name]) for name in names] for row in rows])
        return
    # One line per quantity and one column per day or epoch: a day's many values stay on a screen.
    table = [[name] + [_text(row[name]) for row in rows] for name in names]
    widths = [max(map(len, column)) for column in zip(*table)]
    for line in table:
        print("  ".join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip(), file=out)


def _flat(record: dict[str, Any]) -> dict[str, Any]:
    """`record` with each list value spread over columns ``name[0]``, ``name[1]``... placed
    after the single values, so that those stay together at the top of a table."""
    flat = {name: value for name, value in record.items() if not isinstance(value, list)}
    for name, value in record.items():
        if isinstance(value, list):
            flat.update({f"{name}[{index}]": item for index, item in enumerate(value)})
    return flat


def _text(value: Any) -> str:
    # repr is the shortest text that reads back as the same double.
    return repr(value) if isinstance(value, float) else str(value)


def _json_value(value: Any) -> Any:
    """`value` as JSON can hold it: NaN (no value) as None, an infinity as its text."""
    if isinstance(value, list):
        return [_json_value(item) for item in value]
    if isinstance(value, float) and not math.isfinite(value):
        return None if math.isnan(value) else _text(value)
    return value
