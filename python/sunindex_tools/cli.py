"""The `sunindex` command: download the published files, inspect them, print model inputs.

Exit status (`_exit_status` names them): 0 on success, 2 for a bad command line (as argparse
uses it), 1 for anything that failed at run time: a file that could not be had or read, a bad
file, an epoch outside the files, output that could not be written. Errors are one line on stderr; warnings are
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
import os
import sys
import time
import warnings
from collections.abc import Callable, Iterator, Sequence
from pathlib import Path
from typing import Any, cast

# The command does no linear algebra: OpenBLAS's threads, started as NumPy loads, would only
# spin against the readers' second thread through the first tens of milliseconds of a run.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

from ._exit_status import FAILURE, OK, USAGE
from ._cli_epochs import days, epochs
from ._cli_files import FETCH_AGAIN, weather
from ._cli_output import OutputGone, print_columns, stdout
from ._file_kinds import KIND_NAMES
from ._cli_parser import PROG, UsageError, parser, usage_error
from ._text import printable
from ._published import DEFAULT_KINDS, FILE_NAMES, READERS, FetchError, by_reader, cache_dir
from .space_weather import EpochOutsideError, Source, SpaceWeather, prediction_source

__all__ = ["main"]

_PACKAGE = Path(__file__).resolve().parent
#: Column labels of the arrays in printed results, so that msis's daily Ap and show's first
#: 3-hour ap are never both "ap[0]".
_LABELS = {
    "msis": {"ap": ["ap_daily", "ap_0h", "ap_3h", "ap_6h", "ap_9h", "ap_12_33h", "ap_36_57h"]},
    "show": {
        "ap": [f"ap_{3 * slot:02d}" for slot in range(8)],
        "kp": [f"kp_{3 * slot:02d}" for slot in range(8)],
        "ap_source": [f"ap_source_{3 * slot:02d}" for slot in range(8)],
        "dtc": [f"dtc_{hour:02d}" for hour in range(24)],
        "hp30": [f"hp30_{minutes // 60:02d}{minutes % 60:02d}" for minutes in range(0, 1440, 30)],
        "ap30": [f"ap30_{minutes // 60:02d}{minutes % 60:02d}" for minutes in range(0, 1440, 30)],
        "hp60": [f"hp60_{hour:02d}" for hour in range(24)],
        "ap60": [f"ap60_{hour:02d}" for hour in range(24)],
    },
}


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line `argv` (default: ``sys.argv[1:]``) and returns the exit status."""
    caught: list[warnings.WarningMessage] = []
    try:
        arguments = sys.argv[1:] if argv is None else list(argv)
        args = parser(arguments).parse_args(arguments)
        try:
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always", UserWarning)
                status: int = _RUNS[args.command](args) or OK
        finally:
            _show_warnings(caught)
    except SystemExit as done:  # --help and --version
        return done.code if isinstance(done.code, int) else OK
    except BrokenPipeError:  # the reader left early (`sunindex show ... | head`): stop quietly
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())  # so the exit flush cannot fail
        return FAILURE
    except OutputGone:
        return FAILURE
    except UsageError as error:
        return _fail(str(error), USAGE)
    except FetchError as error:  # its advice is the API's: the command line has its own way
        hint = "" if args.command == "fetch" else f"; or give your own files to sunindex {args.command} with --file PATH"
        return _fail(f"{PROG}: error: {error}{hint}", FAILURE)
    except (ValueError, OSError) as error:  # FetchError included
        return _fail(f"{PROG}: error: {error}", FAILURE)
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
            _complain(f"{PROG}: warning: {warning.message}")
        else:
            warnings.showwarning(warning.message, warning.category, warning.filename, warning.lineno, line=warning.line)


def _run_fetch(args: argparse.Namespace) -> int:
    from .fetch import fetch  # the network's modules: only the commands that may download load them

    fetch(max_age=args.max_age, offline=args.offline, data_dir=args.data_dir, kinds=args.kinds, archive=args.archive,
          timeout=args.timeout)
    return _run_info(args)


def _run_info(args: argparse.Namespace) -> int:
    """Prints each file's state, one line for a file that does not load; FAILURE if one does not.
    With --file, what was made of the user's own files instead."""
    if getattr(args, "files", None):
        _print_sources(weather(args))
        return OK
    out = stdout()
    folder = cache_dir(args.data_dir)
    print(f"folder   {folder}", file=out)
    status = OK
    csv_weather = None
    for key, name in FILE_NAMES.items():
        path = folder / name
        if key not in DEFAULT_KINDS and not path.exists():  # fetched only when asked for
            continue
        if not path.exists():
            state = "not downloaded (run 'sunindex fetch')"
        else:
            try:
                loaded = SpaceWeather.load(**cast("dict[str, Any]", by_reader({key: path})))  # no msfc among them
            except (ValueError, OSError) as error:
                state, status = f"error: {error}; {FETCH_AGAIN}", FAILURE
            else:
                source = loaded.sources[READERS[key]]
                state = f"{_checked(path)}, {_days(source)}{_landmarks(loaded, source)}"
                csv_weather = loaded if key == "csv" else csv_weather
        print(f"{key:<8} {name:<12} {state}", file=out)
    print(f"last observed day   {csv_weather and csv_weather.last_observed or '-'}", file=out)
    print(f"first predicted day {csv_weather and csv_weather.first_predicted or '-'}", file=out)
    prediction = prediction_source(args.msfc)
    name = str(prediction.path) if args.msfc else f"{prediction.path.name} (shipped)"
    print(f"{'msfc':<8} {name} {prediction.first:%Y-%m} to {prediction.last:%Y-%m}", file=out)
    return status


def _print_sources(loaded: SpaceWeather) -> None:
    """One line per file read: its name among the sources, its kind, the days it covers,
    the stamp it writes and its path; then the landmark days and the prediction."""
    out = stdout()
    lines = [
        [name, KIND_NAMES[source.kind], _days(source) + _landmarks(SpaceWeather.load(**{source.kind: source.path}), source),
         f"made {source.stamp.isoformat(sep=' ')}" if source.stamp else "no stamp", str(source.path)]
        for name, source in loaded.sources.items() if source.kind != "msfc"
    ]
    widths = [max(len(cell) for cell in column) for column in zip(*lines)]
    for line in lines:
        print("  ".join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip(), file=out)
    print(f"last observed day   {loaded.last_observed or '-'}", file=out)
    print(f"first predicted day {loaded.first_predicted or '-'}", file=out)
    prediction = loaded.sources["msfc"]
    print(f"{'msfc':<8} {prediction.path} {prediction.first:%Y-%m} to {prediction.last:%Y-%m}", file=out)


def _days(source: Source) -> str:
    return "no rows" if source.first is None else f"{source.first} to {source.last}"


#: The kinds of file that hold measured values alone: their last row is their last observed day.
_MEASURED_ONLY = ("dtcfile", "hp30", "hp60")


def _landmarks(alone: SpaceWeather, source: Source) -> str:
    """Where the daily rows of `source`, loaded `alone`, end (past them a CSV has only
    monthly predictions, which the model inputs never use) and its last observed day."""
    if source.first is None or source.last is None:
        return ""
    daily = alone.coverage["msis"]
    if daily is not None:
        end, observed = daily[1], alone.last_observed
    else:
        end, observed = source.last, source.last if source.kind in _MEASURED_ONLY else None
    if source.kind == "solfsmy":  # a release ends with months of spline-filled forecast values
        observed = alone._solfsmy_measured
    return f", daily rows to {end}, " + (f"observed to {observed}" if observed else "nothing observed")


def _checked(path: Path) -> str:
    """When the copy was last checked against its server, else how old the file is."""
    from .fetch import describe_age, last_checked  # as in _run_fetch

    checked = last_checked(path)
    if checked is not None:
        return f"checked {describe_age(max(0.0, time.time() - checked))} ago"
    return f"{describe_age(max(0.0, time.time() - path.stat().st_mtime))} old, never checked"


def _run_show(args: argparse.Namespace) -> None:
    shown = days(args, args.date, args.end or args.date)
    loaded = weather(args)
    columns = loaded.daily(shown)
    _between_monthly_rows(loaded, shown, columns["monthly"])
    print_columns(columns, args.style, _LABELS["show"], across=True)


def _between_monthly_rows(loaded: SpaceWeather, shown: np.ndarray, monthly: np.ndarray) -> None:
    """Warns of the days shown that fall between the monthly predicted rows: a month's
    row is its 1st day, and the days after it have no values of their own."""
    firsts = shown.astype("M8[M]").astype("M8[D]")
    span = loaded.span
    assert span is not None  # the days were shown
    candidates = ~monthly & (firsts >= np.datetime64(span[0], "D"))  # a month begun before the files is no row
    between = np.zeros_like(monthly)
    between[candidates] = loaded.daily(firsts[candidates])["monthly"]
    gaps = shown[between]
    if gaps.size == 1:
        warnings.warn(f"{gaps[0]} falls between the monthly predicted rows, which give only the 1st of each "
                      "month: it has no daily values", UserWarning, stacklevel=1)
    elif gaps.size:
        warnings.warn(f"{gaps.size} days from {gaps[0]} fall between the monthly predicted rows, which give only "
                      "the 1st of each month: they have no daily values", UserWarning, stacklevel=1)


def _run_msis(args: argparse.Namespace) -> None:
    instants, texts = epochs(args)
    loaded = weather(args)
    with _naming(texts):
        inputs = loaded.msis_inputs(instants, burst_limit=args.burst_limit, interpolate=args.interpolate,
                                    forecast_percentile=args.forecast_percentile)
    print_columns({"epoch": texts, **inputs}, args.style, _LABELS["msis"])


def _run_hpo(args: argparse.Namespace) -> None:
    instants, texts = epochs(args)
    loaded = weather(args)
    _outside_hpo(loaded, instants, texts)
    print_columns({"epoch": texts, **loaded.hpo(instants)}, args.style, {})


def _outside_hpo(loaded: SpaceWeather, instants: np.ndarray, texts: np.ndarray) -> None:
    """Warns of the epochs outside the days the Hp30 and Hp60 files cover: NaN there says
    only that the files end, which a column of nan would not tell."""
    covered = loaded.coverage["hpo"]
    days = instants.astype("M8[D]")
    inside = np.zeros(days.shape, bool) if covered is None else (
        (days >= np.datetime64(covered[0], "D")) & (days <= np.datetime64(covered[1], "D")))
    outside = np.flatnonzero(~inside)
    if outside.size:
        which = f"epoch {texts[outside[0]]}" if outside.size == 1 else f"{outside.size} epochs from {texts[outside[0]]}"
        days_covered = "no days" if covered is None else f"{covered[0]} to {covered[1]}"
        warnings.warn(f"{which} outside the days the Hpo files cover ({days_covered}): no values there",
                      UserWarning, stacklevel=1)


def _run_jb2008(args: argparse.Namespace) -> None:
    instants, texts = epochs(args)
    loaded = weather(args)
    with _naming(texts):
        inputs = loaded.jb2008_inputs(instants)
    print_columns({"epoch": texts, **inputs}, args.style, {})


@contextlib.contextmanager
def _naming(texts: np.ndarray) -> Iterator[None]:
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
        from ._extras import install_advice

        raise ValueError(f"sunindex plot needs matplotlib, from the plot extra: {install_advice('plot')}") from None
    drawn = days(args, args.start, args.end)
    output = args.output or Path(f"sunindex-{args.start}-{args.end}.png")
    try:
        picture_format(output)
    except ValueError as error:
        raise usage_error(args, f"argument --output: {error}") from None
    draw(weather(args), drawn, output, args.forecast_percentiles)
    print(output, file=stdout())


def _run_archive(args: argparse.Namespace) -> None:
    from ._cli_archive import run_archive  # the archive's modules (gzip, hashlib): only this command loads them

    run_archive(args)


#: Each command's run, by its name; the status it returns, or None for OK.
_RUNS: dict[str, Callable[[argparse.Namespace], int | None]] = {
    "fetch": _run_fetch, "info": _run_info, "show": _run_show, "msis": _run_msis, "jb2008": _run_jb2008,
    "plot": _run_plot, "hpo": _run_hpo, "archive": _run_archive,
}
