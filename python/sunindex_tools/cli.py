"""The `sunindex` command: download the published files, inspect them, print model inputs.

Exit status: 0 on success, 1 when a file could not be had (no cached copy and the
download failed), 2 for a bad argument or a bad file. Errors are one line on stderr.
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
from typing import Any, NoReturn

import numpy as np

from . import __version__
from .fetch import FILE_NAMES, FetchError, cache_dir, describe_age, fetch
from .space_weather import SpaceWeather, prediction_source

__all__ = ["main"]

_PROG = "sunindex"
_DURATION_UNITS = {"s": 1, "m": 60, "h": 3600, "d": 86400}


class _UsageError(Exception):
    """A bad command line, reported in one line with exit status 2."""


class _Parser(argparse.ArgumentParser):
    # argparse would print the whole usage and exit; one line and a status are wanted.
    def error(self, message: str) -> NoReturn:
        raise _UsageError(f"{self.prog}: error: {message}")


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line `argv` (default: ``sys.argv[1:]``) and returns the exit status."""
    try:
        args = _parser().parse_args(argv)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                args.run(args)
            finally:
                for warning in caught:
                    print(f"{_PROG}: warning: {warning.message}", file=sys.stderr)
    except SystemExit as done:  # --help and --version
        return done.code if isinstance(done.code, int) else 0
    except BrokenPipeError:  # the reader left early (`sunindex show ... | head`): stop quietly
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())  # so the exit flush cannot fail
        return 1
    except _UsageError as error:
        return _fail(str(error), 2)
    except FetchError as error:
        return _fail(f"{_PROG}: error: {error}", 1)
    except (ValueError, OSError) as error:
        return _fail(f"{_PROG}: error: {error}", 2)
    return 0


def _fail(line: str, status: int) -> int:
    print(line, file=sys.stderr)
    return status


def _parser() -> _Parser:
    common = _Parser(add_help=False)
    common.add_argument("--data-dir", metavar="DIR",
                        help="folder of the downloaded files (default: $SUNINDEX_DATA_DIR, else the user cache)")
    common.add_argument("--offline", action="store_true", help="never use the network; use cached copies")
    common.add_argument("--msfc", metavar="PATH",
                        help="solar-cycle prediction for inputs past the daily rows (default: the shipped MSFC release)")
    output = _Parser(add_help=False)
    style = output.add_mutually_exclusive_group()
    style.add_argument("--csv", dest="style", action="store_const", const="csv", help="print CSV")
    style.add_argument("--json", dest="style", action="store_const", const="json", help="print JSON")

    parser = _Parser(prog=_PROG, description="Daily solar and geomagnetic indices, and model inputs from them.",
                     epilog="Run 'sunindex COMMAND --help' for a command's options.")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)

    def command(name: str, run: Callable[[argparse.Namespace], None], summary: str,
                parents: Sequence[_Parser] = (common,)) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, parents=list(parents), help=summary, description=summary)
        sub.set_defaults(run=run)
        return sub

    fetch_command = command("fetch", _run_fetch, "download or revalidate the three files now")
    fetch_command.add_argument("--max-age", type=_seconds, default=0.0, metavar="AGE",
                               help="skip copies younger than AGE (e.g. 90s, 30m, 6h, 2d); default 0")
    command("info", _run_info, "the cached files: ages, spans, last observed day, first predicted day; the prediction")
    show = command("show", _run_show, "every daily value from DATE to END (default: DATE)", (common, output))
    show.add_argument("date", type=_date, metavar="DATE", help="first day, YYYY-MM-DD")
    show.add_argument("end", type=_date, nargs="?", metavar="END", help="last day, YYYY-MM-DD (inclusive)")
    msis = command("msis", _run_msis, "NRLMSISE-00/MSIS inputs f107, f107a, ap at each epoch", (common, output))
    msis.add_argument("epochs", nargs="+", metavar="EPOCH", help="ISO 8601 instant, UTC unless it has an offset")
    msis.add_argument("--burst-limit", type=float, metavar="SFU",
                      help="replace a previous-day F10.7 above SFU (or <= 0) by its 81-day average, as pymsis does")
    msis.add_argument("--forecast-percentile", type=float, metavar="Q",
                      help="past the daily rows, take inputs from the solar-cycle prediction at percentile Q (0-100)")
    jb2008 = command("jb2008", _run_jb2008, "JB2008 inputs F10..Y10B and DSTDTC at each epoch", (common, output))
    jb2008.add_argument("epochs", nargs="+", metavar="EPOCH", help="ISO 8601 instant, UTC unless it has an offset")
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


def _latest(args: argparse.Namespace) -> SpaceWeather:
    return SpaceWeather.latest(offline=args.offline, data_dir=args.data_dir, msfc=args.msfc)


def _run_fetch(args: argparse.Namespace) -> None:
    fetch(max_age=args.max_age, offline=args.offline, data_dir=args.data_dir)
    _run_info(args)


def _run_info(args: argparse.Namespace) -> None:
    folder = cache_dir(args.data_dir)
    present = {key: folder / name for key, name in FILE_NAMES.items() if (folder / name).is_file()}
    weather = SpaceWeather.load(**present) if present else None
    print(f"folder   {folder}")
    for key, name in FILE_NAMES.items():
        print(f"{key:<8} {name:<12} {_file_state(present.get(key), weather, key)}")
    print(f"last observed day   {weather and weather.last_observed or '-'}")
    print(f"first predicted day {weather and weather.first_predicted or '-'}")
    prediction = prediction_source(args.msfc)
    name = prediction.path if args.msfc else f"{prediction.path.name} (shipped)"
    print(f"{'msfc':<8} {name} {prediction.first:%Y-%m} to {prediction.last:%Y-%m}")


def _file_state(path: Path | None, weather: SpaceWeather | None, key: str) -> str:
    if path is None or weather is None:
        return "not downloaded (run 'sunindex fetch')"
    source = weather.sources[key]
    age = describe_age(max(0.0, time.time() - path.stat().st_mtime))
    return f"checked {age} ago, {source.first} to {source.last}"


def _run_show(args: argparse.Namespace) -> None:
    end = args.end or args.date
    if end < args.date:
        raise _UsageError(f"{_PROG} show: error: END {end} is before DATE {args.date}")
    days = np.arange(np.datetime64(args.date, "D"), np.datetime64(end, "D") + np.timedelta64(1, "D"))
    _print(_records(_latest(args).daily(days)), args.style)


def _run_msis(args: argparse.Namespace) -> None:
    inputs = _latest(args).msis_inputs(list(args.epochs), burst_limit=args.burst_limit,
                                       forecast_percentile=args.forecast_percentile)
    _print(_records({"epoch": np.array(args.epochs), **inputs}), args.style)


def _run_jb2008(args: argparse.Namespace) -> None:
    inputs = _latest(args).jb2008_inputs(list(args.epochs))
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
    if style == "json":  # one record per line: a list that is still easy to read and to grep
        lines = [json.dumps({name: _json_value(value) for name, value in record.items()}, allow_nan=False)
                 for record in records]
        print("[\n" + ",\n".join(lines) + "\n]")
        return
    rows = [_flat(record) for record in records]
    names = list(rows[0]) if rows else []
    if style == "csv":
        writer = csv.writer(sys.stdout, lineterminator="\n")
        writer.writerow(names)
        writer.writerows([[_text(row[name]) for name in names] for row in rows])
        return
    # One line per quantity and one column per day or epoch: a day's many values stay on a screen.
    table = [[name] + [_text(row[name]) for row in rows] for name in names]
    widths = [max(map(len, column)) for column in zip(*table)]
    for line in table:
        print("  ".join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip())


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
    if isinstance(value, list):
        return [_json_value(item) for item in value]
    return None if isinstance(value, float) and math.isnan(value) else value
