"""The published files the download cache holds: each kind's name in the cache, its
publisher's URL and its reader; where the cache is; what `fetch` does by default.

Apart from `sunindex_tools.fetch`, which re-exports them, so that what only names the
files (the command line's options, `SpaceWeather`, a command given the user's own
files) loads none of the network's modules."""

from __future__ import annotations

import datetime
import os
from collections.abc import Mapping
from pathlib import Path
from typing import NamedTuple

from . import _native

#: A copy younger than this is used without asking the server. CelesTrak refreshes its
#: file every few hours; a revalidation of an unchanged file costs only a 304.
DEFAULT_MAX_AGE = datetime.timedelta(hours=6)

#: Seconds one file's whole download may take, and a wait for another process's download.
DEFAULT_TIMEOUT = 30.0


class _Source(NamedTuple):  # not a frozen dataclass, whose making costs every import half a millisecond
    key: str  # the kind, as fetch names it
    file_name: str
    default_url: str
    reader: str  # the keyword of SpaceWeather.load that reads it

    @property
    def url_variable(self) -> str:
        return f"SUNINDEX_URL_{self.key.upper()}"


_GFZ = "https://kp.gfz-potsdam.de/app/files/"
_SOURCES = (
    _Source("csv", "SW-All.csv", "https://celestrak.org/SpaceData/SW-All.csv", "csv"),
    _Source("solfsmy", "SOLFSMY.TXT", "https://sol.spacenvironment.net/JB2008/indices/SOLFSMY.TXT", "solfsmy"),
    _Source("dtcfile", "DTCFILE.TXT", "https://sol.spacenvironment.net/JB2008/indices/DTCFILE.TXT", "dtcfile"),
    _Source("gfz", "Kp_ap_Ap_SN_F107_since_1932.txt", _GFZ + "Kp_ap_Ap_SN_F107_since_1932.txt", "gfz"),
    # The last 30 days, definitive or not: it reaches past the long file by the days GFZ has not closed yet.
    _Source("gfz_nowcast", "Kp_ap_Ap_SN_F107_nowcast.txt", _GFZ + "Kp_ap_Ap_SN_F107_nowcast.txt", "gfz"),
    _Source("swpc", "45-day-ap-forecast.txt", "https://services.swpc.noaa.gov/text/45-day-ap-forecast.txt", "swpc"),
    _Source("hp30", "Hp30_ap30_complete_series.txt", _GFZ + "Hp30_ap30_complete_series.txt", "hp30"),
    _Source("hp60", "Hp60_ap60_complete_series.txt", _GFZ + "Hp60_ap60_complete_series.txt", "hp60"),
    _Source("txt", "SW-All.txt", "https://celestrak.org/SpaceData/SW-All.txt", "txt"),
)

#: The name of each file in the cache folder, by the kind `fetch` returns it under.
FILE_NAMES = {source.key: source.file_name for source in _SOURCES}
#: The keyword of `SpaceWeather.load` that reads each kind: both GFZ files are "gfz".
READERS = {source.key: source.reader for source in _SOURCES}
#: What `fetch` and `latest` download when no kinds are named: the CSV gives every MSIS
#: input, SOLFSMY and DTCFILE those of JB2008. The others are had on request, or when a
#: publisher cannot be reached (see `SUBSTITUTES`).
DEFAULT_KINDS = ("csv", "solfsmy", "dtcfile")
# The native timeline's list of sources is the one definition: SpaceWeather.load takes
# what fetch returns, so each reader must be one of its sources.
if not set(READERS.values()) <= set(_native.SOURCE_KEYS):
    raise ImportError(f"sunindex_tools: readers {tuple(READERS.values())} are not among {_native.SOURCE_KEYS}")


class FetchError(OSError):
    """A file could not be downloaded, or what was downloaded is not a valid file."""


def cache_dir(data_dir: str | os.PathLike[str] | None = None) -> Path:
    """The folder holding the downloaded files: `data_dir` if given, else the environment
    variable ``SUNINDEX_DATA_DIR`` if set, else the per-user cache folder of platformdirs
    (``~/.cache/sunindex`` on Linux). The folder is not created here."""
    if data_dir is not None:
        return Path(data_dir)
    if os.environ.get("SUNINDEX_DATA_DIR"):
        return Path(os.environ["SUNINDEX_DATA_DIR"])
    import platformdirs  # only here: most runs name their folder or read no cache

    return Path(platformdirs.user_cache_dir("sunindex"))


def by_reader(paths: Mapping[str, Path]) -> dict[str, list[Path]]:
    """The keyword arguments of `SpaceWeather.load` that read `paths` (by kind): both GFZ
    files go to "gfz", the long one first, so that the nowcast adds only the days past it."""
    readers: dict[str, list[Path]] = {}
    for kind in FILE_NAMES:
        if kind in paths:
            readers.setdefault(READERS[kind], []).append(paths[kind])
    return readers
