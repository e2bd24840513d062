"""The `sunindex` command: download the published files, inspect them, print model inputs.

Exit status: 0 on success, 2 for a bad command line (as argparse uses it), 1 for anything
that failed at run time: a file that could not be had or read, a bad file, an epoch outside
the files, output that could not be written. Errors are one line on stderr; warnings are
``sunindex: warning:`` lines, and only sunindex's own are shown so.

With ``--json`` a missing value (NaN) is ``null``, and an infinite one the string ``"inf"``
or ``"-inf"``, as ``--csv`` prints it: JSON has no number for it, and ``null`` would say
that the file gives no value where it gives one.

``--file PATH`` (repeatable) reads the user's own files, each recognised by its content
(a solar-cycle prediction among them, used as ``--msfc`` is), and nothing from the cache
or the network. Epochs are ISO 8601 instants, ``now`` or ``today``; ``START END --step
3h`` is every epoch from START to END inclusive, and ``-`` reads epochs from stdin, one
per line. An option is named in errors as it is typed (``--forecast-percentile``), not by
the Python keyword behind it.
"""

from __future__ import annotations

import argparse
import contextlib
import csv
import datetime
import json
import math
import os
import sys
import time
import warnings
from collections.abc import Callable, Iterator, Mapping, Sequence
from pathlib import Path
from typing import IO, Any, Literal, NoReturn

import numpy as np

from . import __version__
from ._epochs import TICKS_PER_DAY, Ticks, to_ticks
from ._file_kinds import KIND_NAMES, UnknownFileKind, file_kind
from ._files import read_regular_file
from ._text import printable
from .fetch import FILE_NAMES, FetchError, cache_dir, describe_age, fetch, last_checked
from .space_weather import EpochOutsideError, SpaceWeather, checked_burst_limit, checked_percentiles, prediction_source

__all__ = ["main"]

_PROG = "sunindex"
_DURATION_UNITS = {"s": 1, "m": 60, "h": 3600, "d": 86400}
_STEP_UNITS: dict[str, Literal["D", "h", "m", "s"]] = {"d": "D", "h": "h", "m": "m", "s": "s"}
_MAX_EPOCHS = 10_000_000  # a range's or stdin's epochs: enough for a year at 3 s, and a bounded memory
_MAX_LINE = 1_000  # characters in a line of stdin, far beyond any epoch
_INT64 = np.iinfo(np.int64)  # its minimum is NaT
_MAX_STEP_SECONDS = 100_000 * 86_400  # beyond any span of the files, and far from overflowing ticks
_PACKAGE = Path(__file__).resolve().parent
_FETCH_AGAIN = "run 'sunindex fetch' to download it again"
#: The files each computing command reads; None for every file there is.
_READS: dict[str, list[str] | None] = {"msis": ["csv"], "jb2008": ["solfsmy", "dtcfile"], "show": None, "plot": None}
#: Column labels of the arrays in printed results, so that msis's daily Ap and show's first
#: 3-hour ap are never both "ap[0]".
_LABELS = {
    "msis": {"ap": ["ap_daily", "ap_0h", "ap_3h", "ap_6h", "ap_9h", "ap_12_33h", "ap_36_57h"]},
    "show": {
        "ap": [f"ap_{3 * slot:02d}" for slot in range(8)],
        "kp": [f"kp_{3 * slot:02d}" for slot in range(8)],
        "dtc": [f"dtc_{hour:02d}" for hour in range(24)],
    },
}


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
        print(printable(line), file=sys.stderr)  # whatever a server or file put in it


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
                        help="folder of the downloaded files (default: $SUNINDEX_DATA_DIR)")
    common.add_argument("--offline", action="store_true", help="never use the network; use cached copies")
    common.add_argument("--msfc", metavar="PATH",
                        help="solar-cycle prediction (default: the shipped one)")
    own = _Parser(add_help=False)
    own.add_argument("--file", dest="files", action="append", metavar="PATH",
                     help="your own file of any kind (repeatable), not the cache")
    output = _Parser(add_help=False)
    style = output.add_mutually_exclusive_group()
    style.add_argument("--format", dest="style", choices=["table", "csv", "json"], default="table", metavar="FORMAT",
                       help="table (default), csv (--csv) or json (--json)")
    style.add_argument("--csv", dest="style", action="store_const", const="csv", help=argparse.SUPPRESS)
    style.add_argument("--json", dest="style", action="store_const", const="json", help=argparse.SUPPRESS)
    epochs = _Parser(add_help=False)
    epochs.add_argument("epochs", nargs="+", metavar="EPOCH",
                        help="ISO 8601 (UTC unless offset), now, today; - is stdin")
    epochs.add_argument("--step", type=_step, metavar="STEP",
                        help="epochs START END, STEP apart (Nd, Nh, Nm, Ns)")

    parser = _Parser(prog=_PROG, description="Daily solar and geomagnetic indices, and model inputs from them.",
                     epilog="Run 'sunindex COMMAND --help' for a command's options.")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)

    def command(name: str, run: Callable[[argparse.Namespace], int | None], summary: str,
                parents: Sequence[_Parser] = (common,)) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, parents=list(parents), help=summary, description=summary)
        sub.set_defaults(run=run, command=name)
        return sub

    fetch_command = command("fetch", _run_fetch, "download or revalidate the three files now")
    fetch_command.add_argument("--max-age", type=_seconds, default=0.0, metavar="AGE",
                               help="skip copies younger than AGE (e.g. 90s, 30m, 6h, 2d); default 0")
    command("info", _run_info, "the cached files: ages, spans, last observed day, first predicted day; the prediction")
    show = command("show", _run_show, "every daily value from DATE to END (default: DATE)", (common, own, output))
    show.add_argument("date", type=_date, metavar="DATE", help="first day: YYYY-MM-DD, today or now")
    show.add_argument("end", type=_date, nargs="?", metavar="END", help="last day (inclusive), as DATE")
    msis = command("msis", _run_msis, "NRLMSISE-00/MSIS inputs f107, f107a, ap at each epoch",
                   (common, own, output, epochs))
    msis.add_argument("--burst-limit", type=_burst_limit, metavar="SFU",
                      help="F10.7 above SFU gives way to its 81-day mean")
    # The prediction is already linear in time: the two options exclude each other.
    timing = msis.add_mutually_exclusive_group()
    timing.add_argument("--interpolate", action="store_true", help="linear in time, as pymsis's interpolate=True")
    timing.add_argument("--forecast-percentile", type=_percentile, action=_Once, metavar="Q",
                        help="past the daily rows, the prediction at percentile Q")
    command("jb2008", _run_jb2008, "JB2008 inputs F10..Y10B and DSTDTC at each epoch", (common, own, output, epochs))
    plot = command("plot", _run_plot, "draw F10.7, Ap and Dtc from START to END into a picture", (common, own))
    plot.add_argument("start", type=_date, metavar="START", help="first day: YYYY-MM-DD, today or now")
    plot.add_argument("end", type=_date, metavar="END", help="last day (inclusive), as START")
    plot.add_argument("--output", type=Path, metavar="FILE",
                      help="where to write the picture, in the format its extension names: .png, .pdf, .svg... "
                           "(default: sunindex-START-END.png here)")
    plot.add_argument("--forecast-percentile", dest="forecast_percentiles", action="append", default=[],
                      type=_percentile, metavar="Q",
                      help="past the daily rows, the prediction at Q (repeatable: a band)")
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


def _percentile(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a percentile: {text!r}") from None
    try:
        checked_percentiles(value)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a percentile: {text!r} (must lie strictly between 0 and 100)") from None
    return value


def _burst_limit(text: str) -> float:
    try:
        limit = checked_burst_limit(float(text))
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a burst limit: {text!r} (a flux above 0, in sfu)") from None
    assert limit is not None
    return limit


class _Once(argparse.Action):
    """An option that may be given once: argparse would keep only the last, and
    drop the others without a word."""

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: str | None = None) -> None:
        if getattr(namespace, self.dest) is not None:
            parser.error(f"argument {option_string}: given twice; run the command once for each value")
        setattr(namespace, self.dest, values)


def _step(text: str) -> np.timedelta64:
    count, unit = text[:-1], text[-1:]
    if not (count.isascii() and count.isdigit() and unit in _STEP_UNITS
            and 0 < int(count) * _DURATION_UNITS[unit] <= _MAX_STEP_SECONDS):
        raise argparse.ArgumentTypeError(f"not a step: {text!r} (try 1d, 3h, 15m or 30s; at most 100000d)")
    return np.timedelta64(int(count), _STEP_UNITS[unit])


def _utc_now() -> datetime.datetime:
    """This instant, naive UTC."""
    return datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)


def _date(text: str) -> datetime.date:
    if text in ("now", "today"):
        return _utc_now().date()
    try:
        return datetime.date.fromisoformat(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a date: {text!r} (use YYYY-MM-DD, today or now)") from None


_NAMED = ("now", "today")  # epochs named by a word, not written out


def _instant(text: str) -> str | np.datetime64:
    """The epoch `text` names, as the API takes it: `now` and `today` as the
    instant they name, any other text as written (the API's conversion reads it)."""
    if text == "now":
        return np.datetime64(_utc_now(), "us")
    if text == "today":
        return np.datetime64(_utc_now().date(), "D")
    return text


def _epochs(args: argparse.Namespace) -> tuple[np.ndarray, list[str]]:
    """The command line's epochs, and each as its user wrote it (now and today as the
    instant used; a range's as ISO 8601)."""
    texts: list[str] = []
    for text in args.epochs:
        texts.extend(_stdin_lines(args) if text == "-" else [text])
    if not texts:
        raise _UsageError(f"{_PROG} {args.command}: error: no epoch on stdin")
    try:
        # One conversion for all, the API's: exact in the finest unit among them, or refused.
        ticks = to_ticks([_instant(text) for text in texts])
    except ValueError as error:
        raise _UsageError(f"{_PROG} {args.command}: error: argument EPOCH: {error}") from None
    instants = ticks.ticks.view(f"M8[{ticks.unit}]")
    if args.step is None:  # as written, but for the instant that now and today named
        return instants, [str(instant) if text in _NAMED else text for text, instant in zip(texts, instants)]
    if len(instants) != 2:
        raise _UsageError(f"{_PROG} {args.command}: error: --step takes two epochs, START and END, not {len(instants)}")
    return _range(args, ticks, texts)


def _range(args: argparse.Namespace, ticks: Ticks, texts: list[str]) -> tuple[np.ndarray, list[str]]:
    """Every epoch from START to END, --step apart, in the finer of their units and
    the step's, counted in integers so that nothing wraps."""
    step_unit = np.datetime_data(args.step.dtype)[0]
    unit = max(ticks.unit, step_unit, key=TICKS_PER_DAY.__getitem__)
    scale = TICKS_PER_DAY[unit] // ticks.ticks_per_day
    start, end = (int(tick) * scale for tick in ticks.ticks)
    step = int(args.step.astype(np.int64)) * (TICKS_PER_DAY[unit] // TICKS_PER_DAY[step_unit])
    if end < start:
        raise _UsageError(f"{_PROG} {args.command}: error: END {texts[1]} is before START {texts[0]}")
    if not (_INT64.min < start and end <= _INT64.max):
        raise _UsageError(f"{_PROG} {args.command}: error: argument EPOCH: epoch out of the range of "
                          f"datetime64[{unit}]")
    count = (end - start) // step + 1
    if count > _MAX_EPOCHS:
        raise _UsageError(f"{_PROG} {args.command}: error: the range holds {count} epochs; at most {_MAX_EPOCHS}")
    epochs: np.ndarray = np.arange(count, dtype=np.int64) * np.int64(step) + np.int64(start)
    epochs = epochs.view(f"M8[{unit}]")
    return epochs, [str(epoch) for epoch in epochs.astype(f"M8[{_shown_unit(epochs)}]")]


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
            raise _UsageError(f"{_PROG} {args.command}: error: a line on stdin is longer than {_MAX_LINE} characters")
        if read > _MAX_EPOCHS:
            raise _UsageError(f"{_PROG} {args.command}: error: stdin holds more than {_MAX_EPOCHS} lines")
        if line.strip():
            lines.append(line.strip())
    return lines


def _shown_unit(epochs: np.ndarray) -> str:
    """Seconds when every epoch is a whole second, else the epochs' own unit."""
    unit = np.datetime_data(epochs.dtype)[0]
    whole = epochs.astype("M8[s]").astype(epochs.dtype) == epochs
    return "s" if np.all(whole) else unit


def _weather(args: argparse.Namespace) -> SpaceWeather:
    """The files the command reads: the user's own (--file), else the cached copies,
    refreshed where stale; only those it needs, so that a file it does not read can
    neither be missing nor bad."""
    keys = _READS[args.command]
    if args.files:
        return _own_files(args, keys)
    if keys is None:
        return _present_weather(args)
    return _load(fetch(offline=args.offline, data_dir=args.data_dir, keys=keys), args.msfc)


def _own_files(args: argparse.Namespace, keys: list[str] | None) -> SpaceWeather:
    """The --file files, each of the kind its content shows, and the --msfc prediction
    (a kind it names): of the files of days, those of `keys` (None: all given); the
    prediction whichever way it came."""
    given: dict[str, tuple[str, Path, bytes]] = {}  # by kind: the option that named it, its path and bytes
    named = [("--msfc", args.msfc)] if args.msfc else []  # first: a second prediction is then a --file
    for option, text in named + [("--file", text) for text in args.files]:
        path = Path(text)
        content = read_regular_file(path)
        kind = "msfc" if option == "--msfc" else _kind_of_file(args, path, content)
        if kind in given:
            raise _UsageError(f"{_PROG} {args.command}: error: argument --file: {path} is a second "
                              f"{KIND_NAMES[kind]}, after {given[kind][0]} {given[kind][1]}")
        given[kind] = (option, path, content)
    if keys is None and not given.keys() - {"msfc"}:
        kinds = " or a ".join(KIND_NAMES[key] for key in FILE_NAMES)
        raise _UsageError(f"{_PROG} {args.command}: error: {args.command} needs a {kinds}; give it with --file")
    needed = [key for key in given if key != "msfc"] if keys is None else keys
    missing = [f"a {KIND_NAMES[key]}" for key in needed if key not in given]
    if missing:
        raise _UsageError(f"{_PROG} {args.command}: error: {args.command} needs {' and '.join(missing)}; "
                          f"give {'it' if len(missing) == 1 else 'them'} with --file")
    return SpaceWeather({key: given[key][1:] for key in [*needed, "msfc"] if key in given})


def _kind_of_file(args: argparse.Namespace, path: Path, content: bytes) -> str:
    """The kind of a --file's content; a bad argument when it is of none."""
    try:
        return file_kind(path, content)
    except UnknownFileKind as error:
        raise _UsageError(f"{_PROG} {args.command}: error: argument --file: {error}") from None


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
    return _load(paths, args.msfc)


def _load(paths: dict[str, Path], msfc: str | None) -> SpaceWeather:
    """The cached files and the prediction `msfc`; only a cached copy's error says to fetch."""
    if msfc:
        prediction_source(msfc)  # its own error first, since no fetch replaces it
    try:
        return SpaceWeather.load(**paths, msfc=msfc)
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
    prediction = prediction_source(args.msfc)
    name = str(prediction.path) if args.msfc else f"{prediction.path.name} (shipped)"
    print(f"{'msfc':<8} {name} {prediction.first:%Y-%m} to {prediction.last:%Y-%m}", file=out)
    return status


def _checked(path: Path) -> str:
    """When the copy was last checked against its server, else how old the file is."""
    checked = last_checked(path)
    if checked is not None:
        return f"checked {describe_age(max(0.0, time.time() - checked))} ago"
    return f"{describe_age(max(0.0, time.time() - path.stat().st_mtime))} old, never checked"


def _days(args: argparse.Namespace, first: datetime.date, last: datetime.date) -> np.ndarray:
    if last < first:
        raise _UsageError(f"{_PROG} {args.command}: error: END {last} is before {first}")
    return np.arange(np.datetime64(first, "D"), np.datetime64(last, "D") + np.timedelta64(1, "D"))


def _run_show(args: argparse.Namespace) -> None:
    days = _days(args, args.date, args.end or args.date)
    _print(_records(_weather(args).daily(days)), args.style, _LABELS["show"])


def _run_msis(args: argparse.Namespace) -> None:
    epochs, texts = _epochs(args)
    weather = _weather(args)
    with _naming(texts):
        inputs = weather.msis_inputs(epochs, burst_limit=args.burst_limit, interpolate=args.interpolate,
                                     forecast_percentile=args.forecast_percentile)
    _print(_records({"epoch": np.array(texts), **inputs}), args.style, _LABELS["msis"])


def _run_jb2008(args: argparse.Namespace) -> None:
    epochs, texts = _epochs(args)
    weather = _weather(args)
    with _naming(texts):
        inputs = weather.jb2008_inputs(epochs)
    _print(_records({"epoch": np.array(texts), **inputs}), args.style, {})


@contextlib.contextmanager
def _naming(texts: list[str]) -> Iterator[None]:
    """An epoch outside the files named as its user wrote it, and the option that reaches
    past them as it is typed."""
    try:
        yield
    except EpochOutsideError as error:
        reason = error._failure.reason(option="--forecast-percentile")
        raise ValueError(f"epoch {texts[error.index]} {reason}") from None


def _run_plot(args: argparse.Namespace) -> None:
    try:
        from ._plot import draw, picture_format
    except ImportError:
        raise ValueError('sunindex plot needs matplotlib, from the plot extra: pip install ".[plot]" '
                         "in a checkout") from None
    days = _days(args, args.start, args.end)
    output = args.output or Path(f"sunindex-{args.start}-{args.end}.png")
    try:
        picture_format(output)
    except ValueError as error:
        raise _UsageError(f"{_PROG} plot: error: argument --output: {error}") from None
    draw(_weather(args), days, output, args.forecast_percentiles)
    print(output, file=_stdout())


def _records(columns: Mapping[str, Any]) -> list[dict[str, Any]]:
    """One dict of plain Python values per row of `columns` (arrays sharing their first axis)."""
    count = len(next(iter(columns.values())))
    return [{name: _plain(values[row]) for name, values in columns.items()} for row in range(count)]


def _plain(value: Any) -> Any:
    if isinstance(value, np.ndarray):
        return [_plain(item) for item in value]
    if isinstance(value, np.datetime64):
        return str(value)
    return value.item() if isinstance(value, np.generic) else value


def _print(records: list[dict[str, Any]], style: str, labels: dict[str, list[str]]) -> None:
    out = _stdout()
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
    # One line per quantity and one column per day or epoch: a day's many values stay on a screen.
    table = [[name] + [_text(row[name]) for row in rows] for name in names]
    widths = [max(map(len, column)) for column in zip(*table)]
    for line in table:
        print("  ".join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip(), file=out)


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
