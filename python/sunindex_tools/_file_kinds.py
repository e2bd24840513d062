"""What kind of data file some bytes are, as the readers themselves tell it: each kind's
reader is tried on the whole content, and the one kind whose reader takes it, with rows,
is the file's. No header is matched here, so no second definition of any format exists."""

from __future__ import annotations

from collections.abc import Callable
from pathlib import Path

from . import _native
from .space_weather import SOURCE_NAMES


class UnknownFileKind(ValueError):
    """No reader, or more than one, takes a file with rows."""


def _timeline_reader(key: str) -> Callable[[bytes], str | None]:
    """Why the timeline's reader of `key` refuses `content`, or None when it takes it with rows."""

    def refusal(content: bytes) -> str | None:
        try:
            timeline = _native.load(*(content if other == key else None for other in _native.SOURCE_KEYS))
        except ValueError as error:
            return str(error.args[1])
        return None if timeline.summary()["spans"][key] is not None else "no rows"

    return refusal


def _prediction_refusal(content: bytes) -> str | None:
    """Why the solar-cycle prediction's reader refuses `content`, or None when it takes it
    (it takes none without a data line)."""
    try:
        _native.load_prediction(content)
    except ValueError as error:
        return str(error)
    return None


#: Each kind's reader by the key SpaceWeather takes it under: the timeline's files, and
#: the MSFC solar-cycle prediction (SpaceWeather's msfc=).
_READERS: dict[str, Callable[[bytes], str | None]] = {
    **{key: _timeline_reader(key) for key in _native.SOURCE_KEYS},
    "msfc": _prediction_refusal,
}
#: What each kind is called in messages.
KIND_NAMES = {**SOURCE_NAMES, "msfc": "MSFC solar-cycle prediction"}


def file_kind(path: Path, content: bytes) -> str:
    """The key of the kind of file `content` is (the bytes of `path`, named in errors).

    Raises
    ------
    UnknownFileKind
        When no kind's reader takes the content with rows, saying what each found wrong,
        or when more than one does.
    """
    refusals = {key: read(content) for key, read in _READERS.items()}
    taken = [key for key, refusal in refusals.items() if refusal is None]
    if len(taken) == 1:
        return taken[0]
    if taken:
        raise UnknownFileKind(f"{path}: could be a {' or a '.join(KIND_NAMES[key] for key in taken)}")
    reasons = "; ".join(f"as a {KIND_NAMES[key]}, {refusal}" for key, refusal in refusals.items())
    raise UnknownFileKind(f"{path}: a file of no known kind ({reasons})")
