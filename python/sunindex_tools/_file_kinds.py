"""The package's one way into the native readers, and what kind of data file some bytes are.

`read_native` is what SpaceWeather reads its files with, what a download is checked with
before it replaces a copy, and what `file_kind` tries each kind's reader with: a file one
of them takes, the others take too. No header is matched here, so no second definition of
any format exists."""

from __future__ import annotations

from collections.abc import Iterator, Sequence
from contextlib import contextmanager
from pathlib import Path
from typing import NamedTuple

from . import _native
from ._text import printable

#: What each kind of file is called in messages, by the key SpaceWeather takes it under:
#: the timeline's files, then the MSFC solar-cycle prediction (SpaceWeather's msfc=).
KIND_NAMES = {"csv": "CelesTrak CSV", "solfsmy": "SOLFSMY.TXT", "dtcfile": "DTCFILE.TXT",
              "txt": "legacy text file (SW-All.txt)", "gfz": "GFZ Kp_ap_Ap_SN_F107 file",
              "swpc": "SWPC 45-day forecast", "hp30": "GFZ Hp30 file", "hp60": "GFZ Hp60 file",
              "msfc": "MSFC solar-cycle prediction"}
# The native timeline's list of sources is the one definition of the timeline's kinds.
if tuple(KIND_NAMES) != (*_native.SOURCE_KEYS, "msfc"):
    raise ImportError(f"sunindex_tools: file kinds {tuple(KIND_NAMES)} differ from {_native.SOURCE_KEYS} and msfc")


class UnknownFileKind(ValueError):
    """No reader, or more than one, takes a file with rows."""


class Read(NamedTuple):
    """What the native readers made of some files."""

    timeline: _native.Timeline | None  # of the timeline's files; None when none was given
    prediction: _native.Prediction | None  # of the "msfc" file; None when it was not given

    def has_rows(self, key: str) -> bool:
        """Whether the file of kind `key` gave dated rows. A prediction always does: its
        reader takes none without a data line."""
        if key == "msfc":
            return self.prediction is not None
        return self.timeline is not None and self.timeline.summary()["spans"][key] is not None


def read_native(files: Sequence[tuple[str, bytes]]) -> Read:
    """What the native readers make of `files`, (kind key, bytes) pairs: the timeline's in
    the order their values rank (the first file of a kind that has a value gives it), and
    at most one "msfc".

    Raises
    ------
    ValueError
        ``ValueError(index, message)`` for the first file a reader refuses, the timeline's
        files before the prediction: its position in `files` and what the reader found wrong.
    """
    positions = [index for index, (key, _) in enumerate(files) if key != "msfc"]
    timeline = None
    if positions:
        try:
            timeline = _native.load(tuple(files[index] for index in positions))
        except ValueError as error:
            raise ValueError(positions[error.args[0]], error.args[1]) from None
    predictions = [index for index, (key, _) in enumerate(files) if key == "msfc"]
    assert len(predictions) <= 1, "a timeline takes one solar-cycle prediction"
    prediction = None
    for index in predictions:
        try:
            prediction = _native.load_prediction(files[index][1])
        except ValueError as error:
            raise ValueError(index, str(error)) from None
    return Read(timeline, prediction)


@contextmanager
def naming_the_file(files: Sequence[tuple[str, Path, bytes]]) -> Iterator[None]:
    """Turns a reader's error about one of `files`, (kind key, path, bytes) in the order the
    readers were given them, ValueError(index, message), into ValueError("<path>: message").

    A file the reader of another kind takes was most likely given as the wrong kind: the
    message says which kind it reads as."""
    try:
        yield
    except ValueError as error:
        if len(error.args) != 2 or not isinstance(error.args[0], int) or not 0 <= error.args[0] < len(files):
            raise
        index, message = error.args
        key, path, content = files[index]
        text = f"{path}: {printable(message)}"
        try:
            kind = file_kind(path, content)
        except UnknownFileKind:  # of no kind, or of several: nothing to say
            kind = key
        if kind != key:
            text += f"; it reads as a {KIND_NAMES[kind]} ({kind})"
        raise ValueError(text) from None


def _attempt(key: str, content: bytes) -> Read | str:
    """What the reader of kind `key` makes of `content` when it takes it with rows, else
    why it refuses it."""
    try:
        read = read_native([(key, content)])
    except ValueError as error:
        return str(error.args[1])
    return read if read.has_rows(key) else "no rows"


def read_as_its_kind(path: Path, content: bytes) -> tuple[str, Read]:
    """The key of the kind of file `content` is (the bytes of `path`, named in errors),
    and what the reader of that kind made of it: a caller that loads the file alone
    need not read it again.

    Raises
    ------
    UnknownFileKind
        When no kind's reader takes the content with rows, saying what each found wrong,
        or when more than one does.
    """
    attempts = {key: _attempt(key, content) for key in KIND_NAMES}
    taken = [key for key, attempt in attempts.items() if isinstance(attempt, Read)]
    if len(taken) == 1:
        read = attempts[taken[0]]
        assert isinstance(read, Read)
        return taken[0], read
    if taken:
        raise UnknownFileKind(f"{path}: could be a {' or a '.join(KIND_NAMES[key] for key in taken)}")
    reasons = "; ".join(f"as a {KIND_NAMES[key]}, {attempt}" for key, attempt in attempts.items())
    raise UnknownFileKind(f"{path}: a file of no known kind ({reasons})")


class ToldTimeline:
    """What the reader made of the file of days whose kind was told by reading it, kept
    for the load that follows while it is the only one told: files of days are read
    together, and a timeline is megabytes, so a second one told drops both."""

    def __init__(self) -> None:
        self._told = 0
        self._kept: tuple[Path, _native.Timeline] | None = None

    def add(self, path: Path, read: Read) -> None:
        if read.timeline is not None:
            self._told += 1
            self._kept = (path, read.timeline) if self._told == 1 else None

    def of(self, path: Path) -> _native.Timeline | None:
        """The timeline of the file at `path`, when it is the one kept."""
        return self._kept[1] if self._kept is not None and self._kept[0] == path else None


def file_kind(path: Path, content: bytes) -> str:
    """The key of the kind of file `content` is; as `read_as_its_kind`."""
    return read_as_its_kind(path, content)[0]
