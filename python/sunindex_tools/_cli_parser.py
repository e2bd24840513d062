"""The `sunindex` command line's arguments: the parser, each option's type, and the error
of a bad command line."""

from __future__ import annotations

import argparse
import datetime
import os
import sys
from collections.abc import Sequence
from pathlib import Path
from typing import Any, Literal, NoReturn

import numpy as np

from ._published import DEFAULT_TIMEOUT, FILE_NAMES
from .space_weather import checked_burst_limit, checked_percentiles

PROG = "sunindex"
_DURATION_UNITS = {"s": 1, "m": 60, "h": 3600, "d": 86400}
_STEP_UNITS: dict[str, Literal["D", "h", "m", "s"]] = {"d": "D", "h": "h", "m": "m", "s": "s"}
_MAX_STEP_SECONDS = 100_000 * 86_400  # beyond any span of the files, and far from overflowing ticks


class UsageError(Exception):
    """A bad command line given to `prog` (``sunindex msis``, as argparse names a command),
    reported in one line with the USAGE exit status."""

    def __init__(self, prog: str, message: str) -> None:
        super().__init__(f"{prog}: error: {message}")


def usage_error(args: argparse.Namespace, message: str) -> UsageError:
    """The error of a bad command line to the command `args` were parsed for."""
    return UsageError(f"{PROG} {args.command}", message)


def terminal_columns() -> int:
    """The columns of the terminal, as `shutil.get_terminal_size` finds them ($COLUMNS, else
    stdout's terminal, else 80), without importing shutil, and bz2 and lzma with it: two
    milliseconds of every start, where argparse would ask it for every option it adds."""
    try:
        columns = int(os.environ.get("COLUMNS", "0"))
    except ValueError:
        columns = 0
    if columns <= 0:
        try:
            columns = os.get_terminal_size(sys.__stdout__.fileno()).columns  # type: ignore[union-attr]
        except (AttributeError, ValueError, OSError):  # no stdout, a closed or detached one, or no terminal
            columns = 0
    return columns or 80


class _Formatter(argparse.HelpFormatter):
    def __init__(self, prog: str, indent_increment: int = 2, max_help_position: int = 24,
                 width: int | None = None) -> None:
        super().__init__(prog, indent_increment, max_help_position,
                         terminal_columns() - 2 if width is None else width)  # as argparse's own default


class _Parser(argparse.ArgumentParser):
    def __init__(self, *args: Any, **kwargs: Any) -> None:
        kwargs.setdefault("formatter_class", _Formatter)
        super().__init__(*args, **kwargs)

    # argparse would print the whole usage and exit; one line and a status are wanted.
    def error(self, message: str) -> NoReturn:
        raise UsageError(self.prog, message)


def parser(argv: Sequence[str]) -> argparse.ArgumentParser:
    """The parser of the command line `argv`; `command` names the command given.

    Only the command `argv` names gets its options: the others are never parsed, and
    are listed by name and summary alone. Adding every command's options would cost a
    run more than it spends on most files."""
    named = next((argument for argument in argv if not argument.startswith("-")), None)  # as argparse takes it
    parser = _Parser(prog=PROG, description="Daily solar and geomagnetic indices, and model inputs from them.",
                     epilog="Run 'sunindex COMMAND --help' for a command's options.")
    parser.add_argument("--version", action=_Version)
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)

    def command(name: str, summary: str, groups: Sequence[str] = ("common",)) -> argparse.ArgumentParser | None:
        """The parser of the command `name`, with the options of `groups` (of `_shared_options`);
        None when another command is named, and this one is only listed."""
        if name != named:
            commands.add_parser(name, help=summary, description=summary)
            return None
        shared = _shared_options()
        sub = commands.add_parser(name, parents=[shared[group] for group in groups], help=summary, description=summary)
        if "common" in groups:  # every such command downloads stale copies; the others' help keeps to a screen
            timeout: dict[str, Any] = {"type": _timeout, "default": DEFAULT_TIMEOUT, "metavar": "TIME",
                                       "help": f"the most one file's download may take (default {DEFAULT_TIMEOUT:g}s)"}
            sub.add_argument("--timeout", **(timeout if name == "fetch" else {**timeout, "help": argparse.SUPPRESS}))
        sub.set_defaults(command=name)
        return sub

    if fetch_command := command("fetch", "download or revalidate the files now (default: csv, solfsmy, dtcfile)"):
        _add_fetch_options(fetch_command)
    if archive := command("archive", "the versions kept by fetch --archive", ()):
        _add_archive_actions(archive)
    command("info", "the cached files (or your own): ages, spans, stamps, last observed and first predicted day",
            ("common", "own"))
    if show := command("show", "every daily value from DATE to END (default: DATE)", ("common", "own", "output", "replay")):
        _add_show_arguments(show)
    if msis := command("msis", "NRLMSISE-00/MSIS inputs f107, f107a, ap at each epoch",
                       ("common", "own", "output", "epochs", "replay")):
        _add_msis_options(msis)
    command("jb2008", "JB2008 inputs F10..Y10B and DSTDTC at each epoch", ("common", "own", "output", "epochs", "replay"))
    command("hpo", "GFZ's Hp30, ap30, Hp60, ap60 of the interval holding each epoch",
            ("common", "own", "output", "epochs", "replay"))
    if plot := command("plot", "draw F10.7, Ap and Dtc from START to END into a picture", ("common", "own", "replay")):
        _add_plot_arguments(plot)
    return parser


def _shared_options() -> dict[str, _Parser]:
    """The groups of options several commands take, by name."""
    common = _Parser(add_help=False)
    common.add_argument("--data-dir", metavar="DIR", help="download folder (default: $SUNINDEX_DATA_DIR)")
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
    replay = _Parser(add_help=False)
    replay.add_argument("--as-of", type=_instant, metavar="TIME",
                        help="archived files as of TIME (ISO 8601), no network")
    replay.add_argument("--manifest", type=Path, metavar="FILE",
                        help="write the files used to FILE (JSON)")
    epochs = _Parser(add_help=False)
    epochs.add_argument("epochs", nargs="+", metavar="EPOCH",
                        help="ISO 8601 (UTC unless offset), now, today; - is stdin")
    epochs.add_argument("--step", type=_step, metavar="STEP",
                        help="epochs START END, STEP apart (Nd, Nh, Nm, Ns)")
    return {"common": common, "own": own, "output": output, "replay": replay, "epochs": epochs}


def _add_fetch_options(fetch_command: argparse.ArgumentParser) -> None:
    fetch_command.add_argument("--max-age", type=_seconds, default=0.0, metavar="AGE",
                               help="skip copies younger than AGE (e.g. 90s, 30m, 6h, 2d); default 0")
    fetch_command.add_argument("--kind", dest="kinds", action="append", choices=list(FILE_NAMES), metavar="KIND",
                               help=f"a kind to fetch (repeatable): {', '.join(FILE_NAMES)}")
    fetch_command.add_argument("--archive", action="store_true", default=None,
                               help="keep each new version in the archive beside the cache ($SUNINDEX_ARCHIVE=1)")


def _add_archive_actions(archive: argparse.ArgumentParser) -> None:
    actions = archive.add_subparsers(dest="action", metavar="ACTION", required=True)
    for name, summary in (("list", "every archived version, oldest first"),
                          ("prune", "remove the versions retrieved longer ago than --older-than")):
        action = actions.add_parser(name, help=summary, description=summary)
        action.add_argument("--data-dir", metavar="DIR", help="folder of the downloaded files (default: $SUNINDEX_DATA_DIR)")
        if name == "prune":
            action.add_argument("--older-than", type=_seconds, required=True, metavar="AGE",
                                help="e.g. 90d, 12h")


def _add_show_arguments(show: argparse.ArgumentParser) -> None:
    show.add_argument("date", type=_date, metavar="DATE", help="first day: YYYY-MM-DD, today or now")
    show.add_argument("end", type=_date, nargs="?", metavar="END", help="last day (inclusive), as DATE")


def _add_msis_options(msis: argparse.ArgumentParser) -> None:
    msis.add_argument("--burst-limit", type=_burst_limit, metavar="SFU",
                      help="F10.7 above SFU gives way to its 81-day mean")
    # The prediction is already linear in time: the two options exclude each other.
    timing = msis.add_mutually_exclusive_group()
    timing.add_argument("--interpolate", action="store_true", help="linear in time, as pymsis's interpolate=True")
    timing.add_argument("--forecast-percentile", type=_percentile, action=_Once, metavar="Q",
                        help="past the daily rows, the prediction at percentile Q")


def _add_plot_arguments(plot: argparse.ArgumentParser) -> None:
    plot.add_argument("start", type=_date, metavar="START", help="first day: YYYY-MM-DD, today or now")
    plot.add_argument("end", type=_date, metavar="END", help="last day (inclusive), as START")
    plot.add_argument("--output", type=Path, metavar="FILE",
                      help="the picture, .png, .pdf, .svg... (default: sunindex-START-END.png)")
    plot.add_argument("--forecast-percentile", dest="forecast_percentiles", action="append", default=[],
                      type=_percentile, metavar="Q",
                      help="past the daily rows, the prediction at Q (repeatable: a band)")


def utc_now() -> datetime.datetime:
    """This instant, naive UTC: the one clock of now and today."""
    return datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)


def _seconds(text: str) -> float:
    number, unit = (text[:-1], text[-1]) if text[-1:] in _DURATION_UNITS else (text, "s")
    try:
        value = float(number) * _DURATION_UNITS[unit]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a duration: {text!r} (try 90s, 30m, 6h or 2d)") from None
    if not value >= 0:
        raise argparse.ArgumentTypeError(f"not a duration: {text!r} (must be 0 or more)")
    return value


def _timeout(text: str) -> float:
    seconds = _seconds(text)
    if not 0 < seconds < float("inf"):
        raise argparse.ArgumentTypeError(f"not a timeout: {text!r} (a duration above 0, e.g. 90s or 5m)")
    return seconds


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


class _Version(argparse._VersionAction):
    """--version, with the installed version read only when it is asked for: reading it
    costs more than the rest of a command's start."""

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: str | None = None) -> None:
        from . import __version__

        self.version = f"%(prog)s {__version__}"
        super().__call__(parser, namespace, values, option_string)


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


def _instant(text: str) -> datetime.datetime:
    """An ISO 8601 instant, UTC unless it says otherwise, as an aware datetime."""
    try:
        moment = datetime.datetime.fromisoformat(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an instant: {text!r} (use ISO 8601, e.g. 2026-11-03T12:00Z)") from None
    return moment if moment.tzinfo else moment.replace(tzinfo=datetime.timezone.utc)


def _date(text: str) -> datetime.date:
    if text in ("now", "today"):
        return utc_now().date()
    try:
        return datetime.date.fromisoformat(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a date: {text!r} (use YYYY-MM-DD, today or now)") from None
