"""The files a `sunindex` command reads: the user's own (--file), told by their content,
else the cached copies, refreshed where stale."""

from __future__ import annotations

import argparse
import warnings
from pathlib import Path

from ._cli_parser import usage_error
from ._file_kinds import KIND_NAMES, Read, ToldTimeline, UnknownFileKind, read_as_its_kind
from ._files import read_regular_file
from ._published import DEFAULT_KINDS, FetchError, by_reader
from .space_weather import SpaceWeather, prediction_source

FETCH_AGAIN = "run 'sunindex fetch' to download it again"
#: The files each computing command reads, each as the kinds that can give it (the
#: first is the one downloaded, if any is); None for every file there is.
_READS: dict[str, list[tuple[str, ...]] | None] = {
    "msis": [("csv", "txt", "gfz", "swpc")], "jb2008": [("solfsmy",), ("dtcfile",)], "hpo": [("hp30", "hp60")],
    "show": None, "plot": None, "info": None,
}


def weather(args: argparse.Namespace) -> SpaceWeather:
    """The files the command reads: the user's own (--file), else the archived versions
    of --as-of, else the cached copies, refreshed where stale; only those it needs, so
    that a file it does not read can neither be missing nor bad. With --manifest, what
    was read is written there."""
    loaded = _weather(args)
    if getattr(args, "manifest", None):
        try:
            import json  # only here: a start without it is a millisecond sooner

            args.manifest.write_text(json.dumps(loaded.manifest(), indent=1) + "\n")
        except OSError as error:
            raise OSError(f"--manifest {args.manifest}: {error.strerror or error}") from None
    return loaded


def _weather(args: argparse.Namespace) -> SpaceWeather:
    reads = _READS[args.command]
    if getattr(args, "as_of", None) is not None:
        if args.files:
            raise usage_error(args, "--as-of reads the archive, --file your own files: give one")
        kinds = list(DEFAULT_KINDS) if reads is None else [kinds[0] for kinds in reads]
        return SpaceWeather.latest(data_dir=args.data_dir, msfc=args.msfc, kinds=kinds, as_of=args.as_of)
    if args.files:
        return _own_files(args, reads)
    if reads is None:
        return _present_weather(args)
    unfetched = [kinds for kinds in reads if kinds[0] not in DEFAULT_KINDS]
    if unfetched:
        raise usage_error(args, f"{args.command} needs {_needs(unfetched)}, which are not downloaded; "
                                "give it with --file")
    from .fetch import fetch  # the network's modules: a command given its own files never loads them

    return _load(fetch(offline=args.offline, data_dir=args.data_dir, timeout=args.timeout,
                       kinds=[kinds[0] for kinds in reads]), args.msfc)


def _needs(groups: list[tuple[str, ...]]) -> str:
    """The kinds of file `groups` name, for a message: "a X or a Y and a Z"."""
    return " and ".join("a " + " or a ".join(KIND_NAMES[key] for key in kinds) for kinds in groups)


def _own_files(args: argparse.Namespace, reads: list[tuple[str, ...]] | None) -> SpaceWeather:
    """The --file files, each of the kind its content shows (several of one kind in the
    order given), and the --msfc prediction (a kind it names): of the files of days,
    those of a kind in `reads` (None: all given); the prediction whichever way it came."""
    given: dict[str, list[tuple[str, Path, bytes]]] = {}  # by kind: the option that named each, its path and bytes
    told = ToldTimeline()
    named = [("--msfc", args.msfc)] if args.msfc else []  # first: a second prediction is then a --file
    for option, text in named + [("--file", text) for text in args.files]:
        path = Path(text)
        content = read_regular_file(path)
        if option == "--msfc":
            kind = "msfc"
        else:
            kind, read = _kind_of_file(args, path, content)
            told.add(path, read)
        if kind == "msfc" and kind in given:
            first = given[kind][0]
            raise usage_error(args, f"argument --file: {path} is a second {KIND_NAMES[kind]}, "
                                    f"after {first[0]} {first[1]}")
        given.setdefault(kind, []).append((option, path, content))
    if reads is None and not given.keys() - {"msfc"}:
        kinds = " or a ".join(KIND_NAMES[key] for key in KIND_NAMES if key != "msfc")
        raise usage_error(args, f"{args.command} needs a {kinds}; give it with --file")
    needed = [key for key in given if key != "msfc"] if reads is None else [
        key for kinds in reads for key in kinds if key in given]
    missing = [kinds for kinds in reads or [] if not any(key in given for key in kinds)]
    if missing:
        raise usage_error(args, f"{args.command} needs {_needs(missing)}; "
                                f"give {'it' if len(missing) == 1 else 'them'} with --file")
    return SpaceWeather._of_told({key: [file[1:] for file in given[key]] for key in [*needed, "msfc"] if key in given},
                                 told)


def _kind_of_file(args: argparse.Namespace, path: Path, content: bytes) -> tuple[str, Read]:
    """The kind of a --file's content and what its reader made of it; a bad argument when
    it is of no kind."""
    try:
        return read_as_its_kind(path, content)
    except UnknownFileKind as error:
        raise usage_error(args, f"argument --file: {error}") from None


def _present_weather(args: argparse.Namespace) -> SpaceWeather:
    """Every file that can be had; a warning for each that cannot, an error if none can."""
    from .fetch import fetch  # as in _weather

    paths: dict[str, Path] = {}
    failures: list[FetchError] = []
    for key in DEFAULT_KINDS:
        try:
            paths.update(fetch(offline=args.offline, data_dir=args.data_dir, timeout=args.timeout, kinds=[key]))
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
        return SpaceWeather.load(**by_reader(paths), msfc=msfc)
    except (ValueError, OSError) as error:
        raise ValueError(f"{error}; {FETCH_AGAIN}") from None
