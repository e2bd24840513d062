"""`SpaceWeather`: the three published files on one daily timeline, and the
inputs of NRLMSISE-00/MSIS and JB2008 at any epoch."""

from __future__ import annotations

import datetime as _dt
import os
import warnings
from contextlib import suppress as _suppressed
from dataclasses import dataclass
from pathlib import Path
from collections.abc import Mapping, Sequence
from typing import Any, NamedTuple, NoReturn, Union, cast, overload

import numpy as np
from numpy.typing import ArrayLike

from . import _native
from ._epochs import Ticks, to_ticks
from ._extras import extra_module
from ._file_kinds import Read, ToldTimeline, naming_the_file, read_as_its_kind, read_native
from ._files import read_regular_file
from ._metadata import VARIABLES, timeline_attrs
from ._types import (
    DailyArrays,
    DailyAt,
    EpochLike,
    EpochsLike,
    HpoArrays,
    HpoAt,
    Jb2008InputsArrays,
    Jb2008InputsAt,
    MsisInputsArrays,
    MsisInputsAt,
    PymsisKwargs,
)
from ._published import DEFAULT_KINDS, DEFAULT_MAX_AGE, FILE_NAMES, READERS, cache_dir

PathLike = Union[str, "os.PathLike[str]"]
#: A file's path and bytes, as `SpaceWeather()` takes them.
Content = tuple[Path, bytes]

_EPOCH = _dt.date(1970, 1, 1)
#: The F10.7 above which pymsis takes a flux for a radio burst and uses its 81-day mean.
PYMSIS_BURST_LIMIT = 400.0
#: The solar-cycle prediction shipped with the package: NASA Marshall Space Flight
#: Center's release of October 2026 (a work of the US government, in the public domain).
BUNDLED_PREDICTION = "oct2026f10-prd.txt"
#: The dimension of a day's values by their count: 3-hourly, hourly, half-hourly.
_INTERVALS = {8: "three_hour", 24: "hour", 48: "half_hour"}


def _date(day_number: int | None) -> _dt.date | None:
    return None if day_number is None else _EPOCH + _dt.timedelta(days=day_number)


def _instant(microseconds: int | None) -> _dt.datetime | None:
    if microseconds is None:
        return None
    return _dt.datetime(1970, 1, 1, tzinfo=_dt.timezone.utc) + _dt.timedelta(microseconds=microseconds)


def _span_dates(span: tuple[int, int] | None) -> tuple[_dt.date, _dt.date] | None:
    if span is None:
        return None
    return _EPOCH + _dt.timedelta(days=span[0]), _EPOCH + _dt.timedelta(days=span[1])


class EpochOutsideError(ValueError):
    """An epoch whose UTC day lies outside the days a computation can use.

    `index` is its position among the epochs given (flattened, C order), and
    `reason` what the message says after the epoch, so that a caller can name
    the epoch as its user wrote it.
    """

    def __init__(self, epoch: str, failure: _Failure, index: int):
        reason = failure.reason()
        super().__init__(f"epoch {epoch} {reason}")
        self.epoch = epoch
        self.reason = reason
        self.index = index
        self._failure = failure  # for a caller that names the options its own way (the command line)

    def __reduce__(self) -> tuple[Any, ...]:
        # An exception pickles as its class and args, which here are the message
        # alone: a worker's error would fail to unpickle and hang its pool.
        return type(self), (self.epoch, self._failure, self.index)


#: What each kind of computation computes from, and which files give it.
_COMPUTED_FROM = {
    "msis": ("the daily rows of the loaded files", "csv, txt, gfz or swpc"),
    "jb2008": ("the days both SOLFSMY.TXT and DTCFILE.TXT cover", "solfsmy and dtcfile"),
    "timeline": ("the days of the loaded files", "a file"),
}


class _Failure(NamedTuple):  # not a frozen dataclass, whose making costs every import half a millisecond
    """Why an epoch got no values, as the native code names it (`cause`), with what
    the message about it names."""

    cause: str  # a key of the native module's reasons: "no_rows", "before_rows", ...
    kind: str  # what was computed: "msis", "jb2008", "timeline", or "forecast" (the prediction alone)
    span: tuple[_dt.date, _dt.date] | None  # the days it computes from
    prediction: Source
    mean_from: _dt.date  # the prediction's first day with an 81-day mean

    def reason(self, option: str = "forecast_percentile") -> str:
        """What the message says after the epoch, naming the option that reaches past
        the daily rows as `option`."""
        source = self.prediction
        if self.cause == "no_rows":
            return f"has no daily rows to compute from; load {_COMPUTED_FROM[self.kind][1]} with rows"
        if self.cause in ("before_rows", "after_rows") and self.span is not None:
            hint = past_end_hint(self.kind, option) if self.cause == "after_rows" else ""
            return f"is outside {_COMPUTED_FROM[self.kind][0]}: {self.span[0]} to {self.span[1]}{hint}"
        if self.cause == "before_prediction":
            return (f"needs the solar-cycle prediction before its first month: {source.path} "
                    f"covers {source.first:%Y-%m} to {source.last:%Y-%m}")
        if self.cause == "before_mean":
            half = _native.MEAN_HALF_WIDTH
            return (f"has no {2 * half + 1}-day mean of F10.7: the mean takes the {half} days before it from the "
                    f"solar-cycle prediction, and {source.path} starts {source.first}, so the mean of a day before "
                    f"{self.mean_from} cannot be had")
        if self.cause == "past_last_day":
            return f"is past {_date(_native.LAST_FORECAST_DAY)}, the last day the solar-cycle prediction repeats to"
        raise AssertionError(f"no message for {self.cause!r} of {self.kind}")


@dataclass(frozen=True)
class Source:
    """One loaded file: where it was read from, the days its rows cover, where the
    file writes one its own stamp of when it was made (in UTC), and its kind: the
    keyword of `SpaceWeather.load` it is read as ("csv", "gfz", ..., "msfc")."""

    path: Path
    first: _dt.date | None
    last: _dt.date | None
    stamp: _dt.datetime | None = None
    kind: str = ""


class SpaceWeather:
    """Any of the published files (CelesTrak's CSV or legacy text file, GFZ's Kp and Hpo
    files, SWPC's 45-day forecast, SOLFSMY.TXT, DTCFILE.TXT), several of a kind if need
    be, on one dense timeline of UTC days, with model inputs at any epoch.

    Make one with `SpaceWeather.load`. Days are found by their date, never
    by a row position; a value no file gives is NaN, never a substitute.
    The object is immutable (setting or deleting an attribute raises
    AttributeError): any number of threads may compute from it at once,
    and it pickles as the files' own bytes.
    """

    __slots__ = (
        "_contents", "_files", "_timeline", "_coverage", "_sources", "_last_observed", "_first_predicted",
        "_solfsmy_measured", "_msfc",
        "_prediction", "_stale_prediction", "_origins",
    )
    _contents: dict[str, list[Content]]
    _files: tuple[tuple[str, Path, bytes], ...]  # as the native timeline was given them
    _timeline: _native.Timeline
    _coverage: dict[str, tuple[int, int] | None]
    _sources: dict[str, Source]
    _last_observed: _dt.date | None
    _first_predicted: _dt.date | None
    _solfsmy_measured: _dt.date | None  # SOLFSMY's last day not spline-filled: its forecast follows
    _msfc: Content
    _prediction: _native.Prediction
    _stale_prediction: list[str]  # the warning that the prediction is old, until it is given once
    _origins: dict[Path, tuple[str, str | None]]  # by path: the kind fetched as, and when it was retrieved

    def __init__(self, contents: Mapping[str, Content | Sequence[Content]]):
        """Use `SpaceWeather.load`; this takes the files' paths and bytes: by kind key,
        a (path, bytes) pair or a list of them (the first file of a kind that has a
        value gives it), and "msfc" one pair."""
        self._build(contents, ToldTimeline())

    @classmethod
    def _of_told(cls, contents: Mapping[str, Content | Sequence[Content]], told: ToldTimeline) -> SpaceWeather:
        """As `SpaceWeather(contents)`, where `told` holds what the reader made of a file
        of days when its kind was told by reading it: when it is the only file of days,
        it is not read again."""
        weather = cls.__new__(cls)
        weather._build(contents, told)
        return weather

    def _build(self, contents: Mapping[str, Content | Sequence[Content]], told: ToldTimeline) -> None:
        given = _checked_contents(contents)
        msfc = given.pop("msfc", [_bundled_prediction()])[0]
        files = tuple((key, *content) for key in _native.SOURCE_KEYS for content in given.get(key, ()))
        timeline, prediction = _read(files, msfc, told.of(files[0][1]) if len(files) == 1 else None)
        assert timeline is not None and prediction is not None  # both were given
        summary = timeline.summary()
        sources = _file_sources(files, summary["files"]) | {"msfc": _prediction_source(msfc[0], prediction)}
        fields = {
            "_contents": given,
            "_files": files,
            "_timeline": timeline,
            "_coverage": {key: summary[key] for key in ("msis", "jb2008", "timeline", "hpo")},
            "_sources": sources,
            "_last_observed": _date(summary["last_observed"]),
            "_first_predicted": _date(summary["first_predicted"]),
            "_solfsmy_measured": _date(summary["solfsmy_measured"]),
            "_msfc": msfc,
            "_prediction": prediction,
            "_stale_prediction": _stale_prediction_warning(sources["msfc"], _span_dates(summary["msis"])),
            "_origins": {},
        }
        for name, value in fields.items():
            object.__setattr__(self, name, value)

    def __setattr__(self, name: str, value: Any) -> NoReturn:
        raise AttributeError(f"SpaceWeather is immutable: cannot set {name!r}")

    def __delattr__(self, name: str) -> NoReturn:
        raise AttributeError(f"SpaceWeather is immutable: cannot delete {name!r}")

    @classmethod
    def load(
        cls,
        *paths: PathLike,
        csv: PathLike | Sequence[PathLike] | None = None,
        solfsmy: PathLike | Sequence[PathLike] | None = None,
        dtcfile: PathLike | Sequence[PathLike] | None = None,
        msfc: PathLike | None = None,
        txt: PathLike | Sequence[PathLike] | None = None,
        gfz: PathLike | Sequence[PathLike] | None = None,
        swpc: PathLike | Sequence[PathLike] | None = None,
        hp30: PathLike | Sequence[PathLike] | None = None,
        hp60: PathLike | Sequence[PathLike] | None = None,
    ) -> SpaceWeather:
        """Reads any files of these kinds, each keyword a `str` or path-like, or a
        sequence of them (several files of one kind: of a day, the first that has a
        value gives it, each value on its own):

        - `csv`: CelesTrak's daily-index CSV (SW-All.csv); `txt`: its legacy
          fixed-width text file (SW-All.txt, SpaceWeather-All-v1.2.txt);
        - `gfz`: GFZ Potsdam's Kp_ap_Ap_SN_F107 file (since 1932, nowcast, yearly);
        - `swpc`: NOAA SWPC's 45-day Ap and F10.7 forecast (45-day-ap-forecast.txt);
        - `hp30`, `hp60`: GFZ's Hp30_ap30 and Hp60_ap60 files;
        - `solfsmy`, `dtcfile`: SOLFSMY.TXT and DTCFILE.TXT, for JB2008;
        - `msfc`: one solar-cycle prediction of NASA Marshall Space Flight Center
          ("Table 3", as ``oct2026f10-prd.txt``) for inputs past the daily rows; by
          default the release shipped with the package.

        `paths` are files of any kind, each told by what it holds; of one kind, the
        keyword's files come before these. Where sources overlap, each value comes
        from the most certain one (observed, then interpolated, then predicted), the
        publisher of the value before a redistributor; `daily` says which file gave it.

        Raises FileNotFoundError (or another OSError) naming a file that
        cannot be read or is not a regular file (a FIFO, a device), and
        ValueError naming the file and the row of bad content (and the kind it
        reads as, when it was given as another), a file of no known kind among
        `paths`, a second prediction, or a file larger than 64 MiB.
        """
        given = {"csv": csv, "solfsmy": solfsmy, "dtcfile": dtcfile, "txt": txt, "gfz": gfz, "swpc": swpc,
                 "hp30": hp30, "hp60": hp60, "msfc": msfc}
        contents: dict[str, list[Content]] = {}
        for key, value in given.items():
            for path in _paths(value, key):
                contents.setdefault(key, []).append((path, read_regular_file(path)))
        told = ToldTimeline()
        for path in _paths(paths, "a positional argument"):
            content = read_regular_file(path)
            kind, read = read_as_its_kind(path, content)
            told.add(path, read)
            contents.setdefault(kind, []).append((path, content))
        if len(contents.get("msfc", ())) > 1:
            first, second = contents["msfc"][:2]
            raise ValueError(f"{second[0]}: a second solar-cycle prediction, after {first[0]}; give one")
        return cls._of_told(contents, told)

    @classmethod
    def latest(
        cls,
        max_age: _dt.timedelta | float = DEFAULT_MAX_AGE,
        offline: bool = False,
        data_dir: PathLike | None = None,
        msfc: PathLike | None = None,
        *,
        kinds: Sequence[str] | None = None,
        archive: bool | None = None,
        as_of: Any = None,
    ) -> SpaceWeather:
        """The files of `kinds` (default csv, solfsmy, dtcfile) from the download cache,
        refreshing those older than `max_age` first (`sunindex_tools.fetch.fetch` says
        how, and what happens offline), with the solar-cycle prediction `msfc` (default:
        the one shipped with the package).

        A kind that cannot be had at all is replaced by another publisher's file of the
        same values, with a warning (`sunindex_tools.fetch.fetch_or_substitute`).
        `archive` keeps each new version downloaded (default: ``SUNINDEX_ARCHIVE=1``).

        `as_of` (an aware datetime, or any epoch `msis_inputs` takes, in UTC) loads,
        for each kind, the newest archived version retrieved at or before that instant,
        and never touches the network; ArchiveError (an OSError) names the kind and its
        earliest version when none is that early, and an archived file whose bytes
        were damaged.
        """
        # The archive's and the network's modules are loaded only by the calls that use them.
        from . import _archive
        from .fetch import fetch_or_substitute, retrieved

        folder = cache_dir(data_dir)
        files: list[tuple[str, Path, bytes, str | None]] = []
        if as_of is not None:
            instant = _as_of_instant(as_of)
            for kind in _kinds(kinds):
                version = _archive.newest_at(folder, kind, instant)
                files.append((kind, *_archive.content_of(folder, version), version.retrieved.isoformat()))
        else:
            paths = fetch_or_substitute(max_age=max_age, offline=offline, data_dir=folder, kinds=kinds,
                                        archive=archive)
            for kind, path in paths.items():
                moment = retrieved(path)
                files.append((kind, path, read_regular_file(path), moment.isoformat() if moment else None))
        return cls._of_files(files, msfc)

    @classmethod
    def from_manifest(cls, manifest: Mapping[str, Any], data_dir: PathLike | None = None) -> SpaceWeather:
        """Exactly the files a `manifest()` names, from the download cache or its archive
        (and the prediction from where it was read), never the network.

        Raises ValueError for a manifest that is not one, and OSError naming the file
        when one is in neither place or its bytes no longer match its SHA-256."""
        folder = cache_dir(data_dir)
        files: list[tuple[str, Path, bytes, str | None]] = []
        msfc: tuple[Path, bytes] | None = None
        for entry in _manifest_entries(manifest):
            if entry["kind"] == "msfc":
                msfc = _manifest_prediction(entry)
                continue
            path, content = _manifest_file(folder, entry)
            files.append((entry["kind"], path, content, entry["retrieved"]))
        if not files:
            raise ValueError("the manifest names no file of days")
        return cls._of_files(files, msfc)

    @classmethod
    def _of_files(cls, files: Sequence[tuple[str, Path, bytes, str | None]],
                  msfc: PathLike | tuple[Path, bytes] | None) -> SpaceWeather:
        """The files (kind, path, bytes, when retrieved), each read by its kind's reader,
        a kind's files in the order of `FILE_NAMES`, with the prediction `msfc`."""
        order = list(FILE_NAMES)
        contents: dict[str, Any] = {}
        for kind, path, content, _ in sorted(files, key=lambda file: order.index(file[0])):
            contents.setdefault(READERS[kind], []).append((path, content))
        if isinstance(msfc, tuple):
            contents["msfc"] = msfc
        elif msfc is not None:
            contents["msfc"] = (Path(os.fspath(msfc)), read_regular_file(msfc))
        weather = cls(contents)
        object.__setattr__(weather, "_origins", {path: (kind, moment) for kind, path, _, moment in files})
        return weather

    def manifest(self) -> dict[str, Any]:
        """The files in use, as a JSON-able dict that `from_manifest` reloads: for each,
        its kind (as `fetch` names it; "msfc" for the prediction), path, SHA-256, size,
        when it was retrieved (None when it was not downloaded), its own stamp and the
        first and last day of its rows (ISO 8601)."""
        entries = []
        named = [(name, source) for name, source in self._sources.items() if source.kind != "msfc"]
        files = [*zip(self._files, named, strict=True), (("msfc", *self._msfc), ("msfc", self._sources["msfc"]))]
        for (key, path, content), (_, source) in files:
            kind, moment = self._origins.get(path, (key, None))
            entries.append({
                "kind": kind, "path": str(path), "sha256": _sha256(content), "size": len(content),
                "retrieved": moment, "stamp": source.stamp and source.stamp.isoformat(),
                "span": None if source.first is None else [str(source.first), str(source.last)],
            })
        return {"format": _MANIFEST_FORMAT, "files": entries}

    # -- What was loaded

    @property
    def sources(self) -> dict[str, Source]:
        """The loaded files by keyword ("csv", "gfz", ...; a kind's later files as
        "gfz#2", "gfz#3", ...), and "msfc": the solar-cycle prediction in use, `first`
        and `last` the 1st of its first and last months."""
        return dict(self._sources)

    @property
    def span(self) -> tuple[_dt.date, _dt.date] | None:
        """The first and last day of the timeline: every file's rows together."""
        return _span_dates(self._coverage["timeline"])

    @property
    def coverage(self) -> dict[str, tuple[_dt.date, _dt.date] | None]:
        """The UTC days an epoch may fall on: "msis" (the daily rows of the CSV, the
        text file, GFZ's and SWPC's files), "jb2008" (the days both SOLFSMY.TXT and
        DTCFILE.TXT cover), "daily" (the whole timeline) and "hpo" (the days the Hp30
        and Hp60 files cover); None where nothing is loaded for it."""
        names = {"msis": "msis", "jb2008": "jb2008", "daily": "timeline", "hpo": "hpo"}
        return {name: _span_dates(self._coverage[kind]) for name, kind in names.items()}

    @property
    def last_observed(self) -> _dt.date | None:
        """The last CSV day whose F10.7 is observed ("OBS")."""
        return self._last_observed

    @property
    def first_predicted(self) -> _dt.date | None:
        """The first CSV day whose F10.7 is predicted ("PRD", else "PRM")."""
        return self._first_predicted

    def __repr__(self) -> str:
        parts = [
            f"{key}={str(source.path)!r} ({source.first} to {source.last})" for key, source in self._sources.items()
        ]
        if self._last_observed is not None:
            parts.append(f"last observed {self._last_observed}")
        return f"SpaceWeather({', '.join(parts)})"

    def __reduce__(self) -> tuple[Any, ...]:
        contents = {**self._contents, "msfc": [self._msfc]}
        if self._origins:  # what the manifest says of each file goes along
            return (_with_origins, (contents, self._origins))
        return (SpaceWeather, (contents,))

    # -- Model inputs

    @overload
    def msis_inputs(  # type: ignore[overload-overlap]  # one epoch: scalars
        self,
        epochs: EpochLike,
        *,
        burst_limit: float | None = None,
        interpolate: bool = False,
        forecast_percentile: ArrayLike | None = None,
    ) -> MsisInputsAt: ...
    @overload
    def msis_inputs(
        self,
        epochs: EpochsLike,
        *,
        burst_limit: float | None = None,
        interpolate: bool = False,
        forecast_percentile: ArrayLike | None = None,
    ) -> MsisInputsArrays: ...
    def msis_inputs(
        self,
        epochs: EpochsLike,
        *,
        burst_limit: float | None = None,
        interpolate: bool = False,
        forecast_percentile: ArrayLike | None = None,
    ) -> MsisInputsAt | MsisInputsArrays:
        """NRLMSISE-00 / MSIS 2.x inputs at `epochs`, from the daily files (the
        CelesTrak CSV or text file, GFZ's, SWPC's; `daily` says which gave what).

        - `f107`: observed F10.7 of the previous UTC day;
        - `f107a`: the CSV's or text file's F10.7_OBS_CENTER81 of the day, else
          (the day's flux came from GFZ or SWPC) the centred 81-day mean of
          the timeline's own flux, days past it taken from the solar-cycle
          prediction at percentile 50;
        - `ap`, shape (N, 7): daily Ap, the ap of the epoch's 3-hour slot and of
          the three slots before it, then the means of the eight slots 12-33 h
          and 36-57 h before;
        - `data_type`: the least certain F10.7_DATA_TYPE ("OBS" < "INT" < "PRD")
          among the days used; "" when the file does not say.

        `burst_limit` (pymsis uses 400.0): a previous-day flux <= 0 or above it
        is replaced by that day's F10.7_OBS_CENTER81. Monthly predicted rows
        never feed an input; a replaced flux is flagged at least "INT", as
        pymsis flags it. ValueError unless it is None or a number above 0.

        `interpolate=True` gives what pymsis's `get_f107_ap(dates,
        interpolate=True)` gives: `f107`, `f107a` and `ap[0]` move linearly
        across the UTC day from the day's value toward the next day's, and
        `ap[1..6]` across the 3-hour slot toward the next slot's; at the
        start of a day or slot they equal the values without it. On the last
        daily row the next day or slot lies past the data and the value is
        held. `burst_limit` applies to each day's flux before interpolating;
        `data_type` also counts the next day once the epoch is past midnight.

        Epochs: a `datetime` (aware converted to UTC, naive taken as UTC), a
        `date` (its midnight), an ISO 8601 string (its fraction of a second
        kept to the nanosecond; more digits, or an empty string, raise
        ValueError), a `numpy.datetime64` scalar or array of any unit and byte
        order, pandas timestamps, or a list of these. A scalar gives scalars
        (and `ap` of shape (7,)); NaT gives NaN. An epoch whose
        UTC day lies outside the CSV's daily rows raises ValueError; inside
        them, the history of the first days reaches before the first row and
        gives NaN (`f107` of the first day, the older ap slots).

        `forecast_percentile` (0 < q < 100) also gives inputs past the daily
        rows, from the solar-cycle prediction (`sources["msfc"]`) at that
        percentile: 95, 50 and 5 are its published columns, others a split
        normal through them. Each input takes the best source for the time it
        refers to: the CSV up to its last daily row L, exactly as without a
        percentile, the prediction after it (`f107` = F(t - 1 day) once the day
        before lies after L, `f107a` the mean of F(t + k days) for k = -40..40,
        `ap[0]` = A(t), and each 3-hour slot after L takes A(t)); `data_type`
        is then "MSFC". A day missing inside the daily rows stays NaN. Past the
        prediction's last month its last 132 months repeat; an epoch that
        needs it before its first month raises ValueError.

        An array of percentiles broadcasts against the epochs: epochs of shape
        (N,) with percentiles of shape (M, 1) give `f107` of shape (M, N) and
        `ap` of shape (M, N, 7), an ensemble of M members in one call. One
        percentile per member for the whole run is what an uncertain
        solar-cycle amplitude means; percentiles drawn uniformly in (0, 100)
        sample the split normal. It cannot be combined with `interpolate`:
        the prediction is already linear in time.
        """
        limit = checked_burst_limit(burst_limit)
        if forecast_percentile is not None:
            if interpolate:
                raise ValueError("interpolate and forecast_percentile cannot be combined: the prediction is already linear in time")
            self._warn_of_a_stale_prediction()
            return cast(MsisInputsArrays, self._msis_forecast(epochs, limit, forecast_percentile))
        if type(epochs) is _dt.datetime and not interpolate:  # the propagator's one-step call: no arrays in
            result = self._timeline.msis_at(epochs, limit, self._prediction)
            if result is not None:  # outside the coverage, the general path below says so
                return result
        ticks = to_ticks(epochs)
        columns, failed = self._timeline.msis(
            ticks.ticks, ticks.ticks_per_day, limit, bool(interpolate), self._prediction
        )
        self._check_inside("msis", ticks, failed)
        return cast(MsisInputsArrays, _shaped(columns, ticks))

    def pymsis_kwargs(
        self, epochs: EpochsLike, *, burst_limit: float | None = PYMSIS_BURST_LIMIT, **options: Any
    ) -> PymsisKwargs:
        """The keyword arguments of `pymsis.calculate` at `epochs`:
        `pymsis.calculate(dates, lons, lats, alts, **sw.pymsis_kwargs(dates))`.

        `f107s`, `f107as` and `aps` are `msis_inputs`'s `f107`, `f107a` and
        `ap`, as arrays even for a single epoch: shape (1,) and (1, 7) for a
        scalar, as pymsis makes of one date; S and S + (7,) for epochs of
        shape S. The options are `msis_inputs`'s (`interpolate`, and the
        others it takes); `burst_limit` defaults to pymsis's own 400.0, so
        that the values equal pymsis's own lookup in the same file.
        """
        inputs: MsisInputsAt | MsisInputsArrays = self.msis_inputs(epochs, burst_limit=burst_limit, **options)
        return {
            "f107s": np.atleast_1d(np.asarray(inputs["f107"], dtype=np.float64)),
            "f107as": np.atleast_1d(np.asarray(inputs["f107a"], dtype=np.float64)),
            "aps": np.reshape(inputs["ap"], (-1, 7)) if inputs["ap"].ndim == 1 else inputs["ap"],
        }

    def _msis_forecast(self, epochs: Any, limit: float | None, percentile: ArrayLike) -> dict[str, Any]:
        ticks, members = _members(to_ticks(epochs), percentile)
        columns, failed = self._timeline.msis_forecast(
            self._prediction, ticks.ticks, ticks.ticks_per_day, members.percentiles, limit, members.paired
        )
        self._check_inside("msis", ticks, failed)
        return members.shaped(columns)

    def forecast(self, epochs: Any, percentile: ArrayLike = 50.0) -> dict[str, Any]:
        """The solar-cycle prediction alone (`sources["msfc"]`) at `epochs`, for
        plotting and checking: `f107` = F(t) and `ap` = A(t), the 13-month
        smoothed F10.7 and Ap interpolated linearly in time between the months'
        entries (each at 00:00 UTC on the 1st), the last 132 months repeating
        past the last month. `percentile` as `msis_inputs`'s
        `forecast_percentile`, broadcasting against the epochs the same way.
        An epoch before the first month raises ValueError.
        """
        self._warn_of_a_stale_prediction()
        ticks, members = _members(to_ticks(epochs), percentile)
        columns, failed = self._timeline.forecast(
            self._prediction, ticks.ticks, ticks.ticks_per_day, members.percentiles, members.paired
        )
        self._check_inside("forecast", ticks, failed)
        return members.shaped(columns)

    @overload
    def jb2008_inputs(self, epochs: EpochLike) -> Jb2008InputsAt: ...  # type: ignore[overload-overlap]  # one epoch: scalars
    @overload
    def jb2008_inputs(self, epochs: EpochsLike) -> Jb2008InputsArrays: ...
    def jb2008_inputs(self, epochs: EpochsLike) -> Jb2008InputsAt | Jb2008InputsArrays:
        """JB2008 inputs at `epochs`, from SOLFSMY.TXT and DTCFILE.TXT.

        `f10`, `f10b` (F81c), `s10`, `s10b` (S81c) of the previous UTC day,
        `xm10`, `xm10b` two days back, `y10`, `y10b` five days back; a SOLFSMY
        value below 40 is missing (the file writes 0.0 for none). `dstdtc` is
        the hourly Dtc linearly interpolated to the epoch, the next day's
        first value serving after 23:00; NaN where a value it needs is absent.
        Epochs as in `msis_inputs`; the UTC day must lie in both files (the
        lagged values of the first days are NaN, lying before the first row).
        JB2008 has no long-term forecast of S10, M10 and Y10: these inputs stop
        at the files' last day.
        """
        ticks = to_ticks(epochs)
        columns, failed = self._timeline.jb2008(ticks.ticks, ticks.ticks_per_day)
        self._check_inside("jb2008", ticks, failed)
        return cast(Jb2008InputsArrays, _shaped(columns, ticks))

    @overload
    def daily(self, epochs: EpochLike) -> DailyAt: ...  # type: ignore[overload-overlap]  # one epoch: scalars
    @overload
    def daily(self, epochs: EpochsLike) -> DailyArrays: ...
    def daily(self, epochs: EpochsLike) -> DailyAt | DailyArrays:
        """Every daily column of each epoch's UTC day, as the files write them.

        `date` (datetime64[D]); from the CSV, the text file, GFZ's and SWPC's
        files, each value from the most certain that has it: `f107_obs`,
        `f107_adj`, `f107_data_type` ("OBS", "INT", "PRD", "PRM" or ""), the
        four 81-day means `f107_obs_center81`, `f107_obs_last81`,
        `f107_adj_center81`, `f107_adj_last81`, `ap` (N, 8), `ap_avg`, `kp`
        (N, 8) and `kp_sum` (Kp x 10, as the CSV writes it), `cp`, `c9`, `isn`,
        `bsrn`, `nd`, and `monthly` (the row is a monthly prediction); which
        kind of file gave them: `f107_source` (the flux) and `ap_source` (N, 8)
        (each 3-hour ap), "gfz", "csv", "txt", "swpc" or "" for none, and
        `kp_status`, GFZ's flag of the day (0 Kp preliminary, 1 Kp definitive,
        2 Kp and sunspot number definitive; -1 where GFZ gave no Kp); from the
        Hpo files `hp30`, `ap30` (N, 48) and `hp60`, `ap60` (N, 24), 00 UT
        first; from SOLFSMY `f10`, `f81c`, `s10`, `s81c`, `m10`, `m81c`, `y10`,
        `y81c` and `ssrc` (its source flags); from DTCFILE `dtc` (N, 24), 00 UT
        first. NaN where no file has a value. The day must lie on the timeline.
        """
        ticks = to_ticks(epochs)
        with naming_the_file(self._files):  # the first call reads the CSV's remaining values
            columns, failed = self._timeline.daily(ticks.ticks, ticks.ticks_per_day)
        self._check_inside("timeline", ticks, failed)
        columns["date"] = columns.pop("day").view("M8[D]")
        order = ["date"] + [key for key in columns if key != "date"]
        return cast(DailyArrays, _shaped({key: columns[key] for key in order}, ticks))

    @overload
    def hpo(self, epochs: EpochLike) -> HpoAt: ...  # type: ignore[overload-overlap]  # one epoch: scalars
    @overload
    def hpo(self, epochs: EpochsLike) -> HpoArrays: ...
    def hpo(self, epochs: EpochsLike) -> HpoAt | HpoArrays:
        """GFZ's half-hourly and hourly indices at `epochs`: `hp30`, `ap30` of the
        half hour and `hp60`, `ap60` of the hour holding each epoch (from an
        interval's start, inclusive, to the next one's). Hp is open-ended: above 9
        in strong storms. NaN where no Hp30 or Hp60 file gives the interval, also
        outside them (`coverage["hpo"]`), and for NaT. Epochs as in `msis_inputs`.
        """
        ticks = to_ticks(epochs)
        columns, failed = self._timeline.hpo(ticks.ticks, ticks.ticks_per_day)
        assert failed is None  # an epoch outside the files gets NaN
        return cast(HpoArrays, _shaped(columns, ticks))

    def to_pandas(self) -> Any:
        """Every day of the timeline as a pandas DataFrame indexed by date.

        The 3-hourly, hourly and half-hourly columns are spread out as
        `ap1`..`ap8`, `kp1`..`kp8`, `ap_source1`..`ap_source8`, `dtc00`..`dtc23`,
        `hp60_01`..`hp60_24`, `ap60_01`..`ap60_24`, `hp30_01`..`hp30_48` and
        `ap30_01`..`ap30_48`; no rows when the files have none. `attrs` holds
        `to_xarray`'s attributes, and "units" and "long_name": each column's.
        Needs pandas: `pip install "sunindex[pandas]"`.
        """
        pd = extra_module("pandas", "pandas", "to_pandas()")
        columns = self._whole_timeline()
        index = pd.DatetimeIndex(columns.pop("date"), name="date")
        flat: dict[str, Any] = {}
        described: dict[str, tuple[str, str]] = {}
        for key, values in columns.items():
            if values.ndim == 1:
                flat[key], described[key] = values, VARIABLES[key]
            else:
                width = 2 if values.shape[1] > 9 else 1
                first = 0 if key == "dtc" else 1
                stem = f"{key}_" if key[-1].isdigit() else key  # hp30_01, never hp3001
                for i in range(values.shape[1]):
                    name = f"{stem}{i + first:0{width}d}"
                    flat[name], described[name] = values[:, i], VARIABLES[key]
        frame = pd.DataFrame(flat, index=index)
        frame.attrs = {**self._attrs(), "units": {name: units for name, (units, _) in described.items()},
                       "long_name": {name: long_name for name, (_, long_name) in described.items()}}
        return frame

    def to_xarray(self) -> Any:
        """Every day of the timeline as an xarray Dataset along `date`, the 3-hourly
        columns along `three_hour`, the hourly along `hour` and the half-hourly along
        `half_hour` (each interval's start in hours UT). Every variable has `units`
        ("sfu" for the solar indices, "2 nT" for ap and Ap, "K" for Dtc, "1" for pure
        numbers and flags) and `long_name`; the Dataset's attributes name each file
        read (`source_csv`, `source_gfz_2`, ..., `source_msfc`) with its days and
        stamp, and `last_observed` and `first_predicted`.
        Needs xarray: `pip install "sunindex[xarray]"`.
        """
        xr = extra_module("xarray", "xarray", "to_xarray()")
        columns = self._whole_timeline()
        coords: dict[str, Any] = {"date": ("date", columns.pop("date").astype("M8[ns]"), {"long_name": "UTC day"})}
        variables = {}
        for key, values in columns.items():
            units, long_name = VARIABLES[key]
            dims: tuple[str, ...] = ("date",)
            if values.ndim == 2:
                dim = _INTERVALS[values.shape[1]]
                coords[dim] = (dim, np.arange(values.shape[1]) * (24 / values.shape[1]),
                               {"units": "h", "long_name": "start of the interval, hours after 00 UT"})
                dims = ("date", dim)
            variables[key] = (dims, values, {"units": units, "long_name": long_name})
        return xr.Dataset(variables, coords=coords, attrs=self._attrs())

    def _whole_timeline(self) -> dict[str, Any]:
        """`daily` of every day of the timeline, none when the files have no rows."""
        first, last = self._coverage["timeline"] or (0, -1)
        columns: dict[str, Any] = dict(self.daily(np.arange(first, last + 1, dtype=np.int64).view("M8[D]")))
        return columns

    def _attrs(self) -> dict[str, str]:
        return timeline_attrs(self._sources, {"last_observed": self._last_observed,
                                              "first_predicted": self._first_predicted})

    # -- Coverage

    def _warn_of_a_stale_prediction(self) -> None:
        """Warns, the first time the prediction is used, when it is much older than the
        daily rows. list.pop is atomic: threads computing at once warn once between them."""
        try:
            message = self._stale_prediction.pop()
        except IndexError:
            return
        warnings.warn(message, UserWarning, stacklevel=3)  # at the caller of the public method

    def _check_inside(self, kind: str, ticks: Ticks, failed: tuple[int, str] | None) -> None:
        """Raises EpochOutsideError for the first epoch of a `kind` computation that got
        no values, as the native code reports it: its index and the reason's key."""
        if failed is None:
            return
        index, cause = failed
        span = _span_dates(self._coverage.get(kind))
        mean_from = _EPOCH + _dt.timedelta(days=self._prediction.first_full_day())
        raise EpochOutsideError(ticks.text(index), _Failure(cause, kind, span, self._sources["msfc"], mean_from), index)


_MANIFEST_FORMAT = "sunindex manifest 1"


def _with_origins(contents: dict[str, list[Content]], origins: dict[Path, tuple[str, str | None]]) -> SpaceWeather:
    weather = SpaceWeather(contents)
    object.__setattr__(weather, "_origins", origins)
    return weather


def _kinds(kinds: Sequence[str] | None) -> list[str]:
    chosen = list(DEFAULT_KINDS if kinds is None else ([kinds] if isinstance(kinds, str) else kinds))
    unknown = [kind for kind in chosen if kind not in FILE_NAMES]
    if unknown:
        raise ValueError(f"kinds: unknown kind {unknown[0]!r}; the kinds are {', '.join(FILE_NAMES)}")
    return list(dict.fromkeys(chosen))


def _as_of_instant(as_of: Any) -> _dt.datetime:
    """`as_of` as an aware UTC datetime, to the microsecond (a finer epoch towards the past,
    so that a version retrieved after it is never taken); ValueError for one that is none."""
    if isinstance(as_of, _dt.datetime) and as_of.tzinfo is not None:
        return as_of.astimezone(_dt.timezone.utc)
    ticks = to_ticks(as_of)
    if not ticks.scalar or ticks.ticks[0] == np.iinfo(np.int64).min:
        raise ValueError(f"as_of must be one instant, not {as_of!r}"[:300])
    per_microsecond = ticks.ticks_per_day / 86_400_000_000
    tick = int(ticks.ticks[0])
    microseconds = tick // int(per_microsecond) if per_microsecond >= 1 else tick * round(1 / per_microsecond)
    return _dt.datetime(1970, 1, 1, tzinfo=_dt.timezone.utc) + _dt.timedelta(microseconds=microseconds)


def _manifest_entries(manifest: Any) -> list[dict[str, Any]]:
    """The files of a manifest, each checked for the fields `from_manifest` uses."""
    if not isinstance(manifest, Mapping) or manifest.get("format") != _MANIFEST_FORMAT:
        raise ValueError(f"not a manifest of SpaceWeather.manifest(): {manifest!r}"[:300])
    entries = manifest.get("files")
    if not isinstance(entries, list):
        raise ValueError("the manifest's files must be a list")
    kinds = (*FILE_NAMES, "msfc")
    for entry in entries:
        if not (isinstance(entry, Mapping) and entry.get("kind") in kinds and isinstance(entry.get("path"), str)
                and isinstance(entry.get("sha256"), str) and type(entry.get("size")) is int
                and (entry.get("retrieved") is None or isinstance(entry.get("retrieved"), str))):
            raise ValueError(f"not a file of a manifest: {entry!r}"[:300])
    return list(entries)


def _sha256(content: bytes) -> str:
    import hashlib  # slow to import (OpenSSL), and only manifests use it

    return hashlib.sha256(content).hexdigest()


def _matches(content: bytes, entry: Mapping[str, Any]) -> bool:
    return len(content) == entry["size"] and _sha256(content) == str(entry["sha256"])


def _manifest_file(folder: Path, entry: Mapping[str, Any]) -> tuple[Path, bytes]:
    """The bytes a manifest's file names: the cached copy while it is that version, else
    the archived one; OSError naming it otherwise."""
    from . import _archive  # as in `latest`

    copy = folder / FILE_NAMES[entry["kind"]]
    with _suppressed(OSError, ValueError):
        content = read_regular_file(copy)
        if _matches(content, entry):
            return copy, content
    version = _archive.find(folder, entry["kind"], entry["sha256"])
    if version is None:
        raise FileNotFoundError(f"{entry['path']}: the manifest's {entry['kind']} file (SHA-256 {entry['sha256']}) "
                                f"is neither the copy in {folder} nor archived in {_archive.folder_of(folder)}")
    return _archive.content_of(folder, version)


def _manifest_prediction(entry: Mapping[str, Any]) -> tuple[Path, bytes]:
    """The manifest's prediction: the shipped one, or the file it was read from, unchanged."""
    shipped = _bundled_prediction()
    if _matches(shipped[1], entry):
        return shipped
    path = Path(entry["path"])
    content = read_regular_file(path)
    if not _matches(content, entry):
        raise ValueError(f"{path}: the manifest's solar-cycle prediction has changed since (its SHA-256 differs)")
    return path, content


def _checked_contents(contents: Any) -> dict[str, list[Content]]:
    """`contents` with each kind's files as a list; TypeError or ValueError unless it maps
    some of the source keys (and maybe "msfc") to (path, bytes) pairs or lists of them."""
    if not isinstance(contents, Mapping):
        raise TypeError(
            f"SpaceWeather() takes the files' contents, not {type(contents).__name__}; "
            "read files with SpaceWeather.load(csv=..., gfz=..., ...)"
        )
    keys = (*_native.SOURCE_KEYS, "msfc")
    checked: dict[str, list[Content]] = {}
    for key, value in contents.items():
        if key not in keys:
            raise TypeError(f"SpaceWeather(): unknown file key {key!r}; the keys are {', '.join(keys)}")
        pairs = [value] if _is_content(value) else value
        if not (isinstance(pairs, (list, tuple)) and pairs and all(_is_content(pair) for pair in pairs)):
            raise TypeError(f"SpaceWeather(): {key} must be a (path, bytes) pair or a list of them; "
                            "read files with SpaceWeather.load")
        if key == "msfc" and len(pairs) > 1:
            raise ValueError("SpaceWeather(): msfc takes one solar-cycle prediction")
        checked[key] = [(Path(path), content) for path, content in pairs]
    if not set(checked) & set(_native.SOURCE_KEYS):
        raise ValueError(f"SpaceWeather needs at least one of {', '.join(_native.SOURCE_KEYS)}")
    return checked


def _is_content(value: Any) -> bool:
    return isinstance(value, tuple) and len(value) == 2 and isinstance(value[1], bytes)


def _paths(value: Any, name: str) -> list[Path]:
    """The paths `value` gives: one for a str or path-like, those of a sequence, none for None.
    A str is one path, never a sequence of characters; TypeError for anything else."""
    if value is None:
        return []
    if isinstance(value, (str, os.PathLike)):
        value = [value]
    elif isinstance(value, (bytes, bytearray)) or not isinstance(value, Sequence):
        raise TypeError(f"{name} takes a path or a sequence of paths, not {type(value).__name__}")
    paths = []
    for item in value:
        if not isinstance(item, (str, os.PathLike)):
            raise TypeError(f"{name} takes a path or a sequence of paths, not a sequence holding "
                            f"{type(item).__name__}")
        paths.append(Path(os.fspath(item)))
    return paths


def _file_sources(files: Sequence[tuple[str, Path, bytes]], read: Sequence[tuple[str, Any, Any]]) -> dict[str, Source]:
    """Each file as a Source, from what the timeline read of it: a kind's first file under
    its key, the later ones under "key#2", "key#3", ..."""
    sources: dict[str, Source] = {}
    counts: dict[str, int] = {}
    for (key, path, _), (_, span, stamp) in zip(files, read, strict=True):
        counts[key] = counts.get(key, 0) + 1
        name = key if counts[key] == 1 else f"{key}#{counts[key]}"
        first, last = span or (None, None)
        sources[name] = Source(path, _date(first), _date(last), _instant(stamp), key)
    return sources


def _stale_prediction_warning(prediction: Source, daily: tuple[_dt.date, _dt.date] | None) -> list[str]:
    """The warning of a prediction whose first month lies more than a year before the
    end of the daily rows `daily` (none when it does not): a release made years before
    the data predicts the years after them from a cycle long since observed."""
    if daily is None or prediction.first is None:
        return []
    end = daily[1]
    year_before = end.replace(year=end.year - 1, day=28) if (end.month, end.day) == (2, 29) else end.replace(
        year=end.year - 1)
    if prediction.first >= year_before:
        return []
    first = f"{prediction.first.year:04d}-{prediction.first.month:02d}"  # %Y drops a small year's zeros
    return [f"the solar-cycle prediction {prediction.path} starts {first}, more than a year before "
            f"the daily rows end ({end}): a newer release (MSFC publishes one a month) predicts the years ahead"]


def past_end_hint(kind: str, option: str = "forecast_percentile") -> str:
    """What the error of an epoch past `kind`'s daily rows adds, naming the option that
    reaches past them as `option` (the keyword, or the command line's flag)."""
    hints = {
        "msis": f"; past them, {option} gives inputs from the solar-cycle prediction",
        "jb2008": "; JB2008 has no long-term forecast of S10, M10 and Y10",
    }
    return hints.get(kind, "")



def _bundled_prediction() -> tuple[Path, bytes]:
    # A plain path, not importlib.resources (slow to import): the package holds a native
    # module, so it is always a folder of files.
    path = Path(__file__).with_name("data") / BUNDLED_PREDICTION
    return path, path.read_bytes()


def _read(files: Sequence[tuple[str, Path, bytes]], msfc: Content | None, told: _native.Timeline | None = None) -> Read:
    """What the native readers make of `files`, (kind key, path, bytes), and of the
    prediction `msfc`; ValueError names the file a reader refuses. `told` is what the
    reader of the one file of `files` made of it already, when its kind was told."""
    if told is not None:
        assert len(files) == 1, "the files of a timeline are read together"
        return Read(told, _read((), msfc).prediction)
    named = (*files, ("msfc", *msfc)) if msfc else tuple(files)
    with naming_the_file(named):
        return read_native([(key, content) for key, _, content in named])


def _prediction_source(path: Path, prediction: _native.Prediction) -> Source:
    first, last = prediction.span()
    return Source(path, _date(first), _date(last), None, "msfc")


def prediction_source(msfc: PathLike | None = None) -> Source:
    """The solar-cycle prediction `msfc` (default: the one shipped) as a Source:
    its path and the 1st of its first and last months."""
    if msfc is None:
        path, content = _bundled_prediction()
    else:
        path = Path(os.fspath(msfc))
        content = read_regular_file(path)
    prediction = _read((), (path, content)).prediction
    assert prediction is not None  # it was given
    return _prediction_source(path, prediction)


class _Members(NamedTuple):  # as _Failure
    """The percentiles of a forecast call as the native code takes them."""

    percentiles: np.ndarray  # float64, one per member, or one per epoch when paired
    paired: bool
    shape: tuple[int, ...]  # of the result, () for scalars

    def shaped(self, columns: dict[str, np.ndarray]) -> dict[str, Any]:
        """The native rows, (members, epochs) or paired, in the broadcast shape."""
        rows_rank = 1 if self.paired else 2
        shaped = {key: values.reshape(self.shape + values.shape[rows_rank:]) for key, values in columns.items()}
        if self.shape == ():
            return {key: _scalar(values[()]) for key, values in shaped.items()}
        return shaped


def _real_numbers(value: Any, name: str) -> np.ndarray:
    """`value` (a real number, or an array or nested sequence of them) as float64;
    TypeError naming `name` for anything else. NumPy would take True as 1, "50" as
    50 and a timedelta as its ticks."""
    array = np.asarray(value)
    if array.dtype.kind not in "iuf" or any(isinstance(item, (bool, np.bool_)) for item in _scalars(value)):
        raise TypeError(f"{name} must be a real number or an array of them, not {value!r}"[:300])
    return array.astype(np.float64)


def _scalars(value: Any) -> list[Any]:
    """The items of a nested list or tuple; a scalar alone (arrays were checked by dtype)."""
    if isinstance(value, (list, tuple)):
        return [item for part in value for item in _scalars(part)]
    return [value]


def checked_burst_limit(burst_limit: Any) -> float | None:
    """`burst_limit` as a float, or None; TypeError for a value that is no real number,
    ValueError for one not above 0 (NaN turns the filter off without a word; infinity
    replaces only the fluxes <= 0)."""
    if burst_limit is None:
        return None
    if np.ndim(burst_limit) != 0:
        raise TypeError(f"burst_limit must be a real number, not {burst_limit!r}"[:300])
    limit = float(_real_numbers(burst_limit, "burst_limit"))
    if not limit > 0:
        raise ValueError(f"burst_limit must be a number above 0, not {limit!r}")
    return limit


def checked_percentiles(percentile: ArrayLike) -> np.ndarray:
    """`percentile` as float64; ValueError naming the first that is not strictly between
    0 and 100 (NaN included), the one bound of every percentile given anywhere."""
    q = _real_numbers(percentile, "forecast_percentile")
    inside = (q > 0) & (q < 100)
    if not np.all(inside):
        raise ValueError(f"forecast_percentile must lie strictly between 0 and 100, not {float(q[~inside][0])!r}")
    return q


def _members(ticks: Ticks, percentile: ArrayLike) -> tuple[Ticks, _Members]:
    """The epochs and percentiles broadcast together. When the percentiles vary
    only along leading axes and the epochs only along the rest (percentiles of
    shape (M, 1) against epochs (N,)), every member is computed from each
    epoch's one lookup; otherwise the two are paired element by element."""
    q = checked_percentiles(percentile)
    shape = np.broadcast_shapes(ticks.shape, q.shape)
    rank = len(shape)
    epoch_shape = (1,) * (rank - len(ticks.shape)) + ticks.shape
    q_shape = (1,) * (rank - q.ndim) + q.shape
    # The percentiles' axes lead: up to the last one along which they vary.
    lead = max((axis + 1 for axis, extent in enumerate(q_shape) if extent != 1), default=0)
    epochs = ticks.ticks.reshape(epoch_shape)
    paired = any(extent != 1 for extent in epoch_shape[:lead])
    if paired:
        flat = np.broadcast_to(epochs, shape).reshape(-1)
        percentiles = np.broadcast_to(q.reshape(q_shape), shape).reshape(-1)
    else:
        flat = np.broadcast_to(epochs.reshape(epoch_shape[lead:]), shape[lead:]).reshape(-1)
        percentiles = np.broadcast_to(q.reshape(q_shape[:lead]), shape[:lead]).reshape(-1)
    flat_ticks = ticks._replace(ticks=np.ascontiguousarray(flat), shape=flat.shape)
    return flat_ticks, _Members(np.ascontiguousarray(percentiles), paired, shape)


def _shaped(columns: dict[str, np.ndarray], ticks: Ticks) -> dict[str, Any]:
    """The columns shaped like the epochs: scalars for a scalar epoch."""
    if ticks.scalar:
        return {key: _scalar(values[0]) for key, values in columns.items()}
    n = len(ticks.ticks)
    if ticks.shape == (n,):
        return columns
    return {key: values.reshape(ticks.shape + values.shape[1:]) for key, values in columns.items()}


def _scalar(value: Any) -> Any:
    if isinstance(value, np.ndarray):
        return value
    if isinstance(value, np.str_):
        return str(value)
    if isinstance(value, np.floating):
        return float(value)
    if isinstance(value, np.bool_):
        return bool(value)
    return value
