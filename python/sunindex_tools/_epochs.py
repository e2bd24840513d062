"""Epochs of every accepted kind as integer ticks of one NumPy time unit, UTC.

The native code splits ticks into days and slots with integer arithmetic, so
no epoch is ever rounded across a slot or day boundary here: a unit is only
ever changed to a finer one, and only where that is exact, or from one finer
than nanoseconds down to nanoseconds, which rounds towards the past and so
never crosses a boundary (every boundary is a whole nanosecond). Ticks are
always in this machine's byte order, whatever order the epochs came in.
"""

from __future__ import annotations

import datetime as _dt
from typing import Any, NamedTuple

import numpy as np

from . import _native

#: Ticks per day of each unit the native code takes.
TICKS_PER_DAY = {
    "D": 1,
    "h": 24,
    "m": 1_440,
    "s": 86_400,
    "ms": 86_400_000,
    "us": 86_400_000_000,
    "ns": 86_400_000_000_000,
}
_CALENDAR_UNITS = {"Y", "M", "W", "generic"}  # whole days once cast to "D"
_FINER_THAN_NS = {"ps", "fs", "as"}


class Ticks(NamedTuple):  # not a frozen dataclass: its construction would outweigh reading a text
    """Epochs as int64 ticks (NaT as the minimum int64) of `unit`."""

    ticks: np.ndarray  # contiguous, one dimension
    unit: str
    shape: tuple[int, ...]  # of the epochs given; () for a scalar

    @property
    def ticks_per_day(self) -> int:
        return TICKS_PER_DAY[self.unit]

    @property
    def scalar(self) -> bool:
        return self.shape == ()

    def text(self, index: int) -> str:
        """The epoch at `index`, in ISO 8601, for messages."""
        return str(self.ticks[index : index + 1].view(f"M8[{self.unit}]")[0])


def to_ticks(epochs: Any) -> Ticks:
    """Converts `epochs` (see SpaceWeather.msis_inputs) to ticks."""
    if isinstance(epochs, (str, list, tuple)):  # ISO 8601 text, the common case: straight to ticks
        parsed = _native.parse_epochs(epochs)
        if parsed is not None:
            return Ticks(parsed[0], parsed[1], () if isinstance(epochs, str) else parsed[0].shape)
    scalar = _is_scalar(epochs)
    array = _as_datetime64(epochs)
    array = _to_native_unit(array)
    unit = np.datetime_data(array.dtype)[0]
    native = np.dtype(f"M8[{unit}]")  # this machine's byte order: a swapped one reads as other instants
    ticks = np.ascontiguousarray(array.reshape(-1), dtype=native).view(np.int64)
    return Ticks(ticks, unit, () if scalar else array.shape)


def _is_scalar(epochs: Any) -> bool:
    if isinstance(epochs, (str, _dt.date, np.datetime64)):
        return True
    if _is_pandas(epochs):
        return not hasattr(epochs, "__len__")  # Timestamp and NaT have no length
    return isinstance(epochs, np.ndarray) and epochs.ndim == 0


def _is_pandas(value: Any) -> bool:
    return type(value).__module__.partition(".")[0] == "pandas"


def _as_datetime64(epochs: Any) -> np.ndarray:
    """A datetime64 array of the epochs, in any unit, naive UTC."""
    if _is_pandas(epochs):
        epochs = _pandas_to_numpy(epochs)
    if isinstance(epochs, np.ndarray) and epochs.dtype.kind == "M":
        return epochs
    if isinstance(epochs, np.ndarray) and epochs.dtype.kind == "O":
        return _from_objects(epochs.reshape(-1).tolist()).reshape(epochs.shape)
    if isinstance(epochs, np.ndarray) and epochs.dtype.kind == "U":  # read in place, in the native order
        texts = np.ascontiguousarray(epochs.reshape(-1), dtype=epochs.dtype.newbyteorder("="))
        parsed = _native.parse_epochs(texts)
        assert parsed is not None  # such an array is read or refused
        return parsed[0].view(f"M8[{parsed[1]}]").reshape(epochs.shape)
    if isinstance(epochs, np.ndarray):
        raise TypeError(f"epochs must be datetimes, not an array of {epochs.dtype}")
    if _is_scalar(epochs):
        return _from_objects([epochs]).reshape(())
    if isinstance(epochs, (list, tuple)):
        return _from_objects(list(epochs))
    raise TypeError(
        "epochs must be a datetime, date, ISO 8601 string, numpy.datetime64, pandas "
        f"timestamps, or a list of these; got {type(epochs).__name__}"
    )


def _pandas_to_numpy(value: Any) -> Any:
    """A pandas Timestamp, DatetimeIndex or Series as naive-UTC NumPy values."""
    import pandas as pd  # type: ignore[import-untyped,unused-ignore]

    if value is pd.NaT:
        return np.datetime64("NaT", "ns")
    if isinstance(value, pd.Timestamp):
        if value.tzinfo is not None:
            value = value.tz_convert("UTC").tz_localize(None)
        return value.to_datetime64()
    if isinstance(value, pd.Series):
        if isinstance(value.dtype, pd.DatetimeTZDtype):
            value = value.dt.tz_convert("UTC").dt.tz_localize(None)
        return value.to_numpy()
    if isinstance(value, pd.DatetimeIndex):
        if value.tz is not None:
            value = value.tz_convert("UTC").tz_localize(None)
        return value.to_numpy()
    if isinstance(value, pd.Index):
        return value.to_numpy()
    raise TypeError(f"epochs must be pandas timestamps, not {type(value).__name__}")


def _from_objects(items: list[Any]) -> np.ndarray:
    """One datetime64 array of mixed scalar epochs, in the finest unit among them."""
    parsed = _native.parse_epochs(items)  # ISO 8601 strings all, the common case, in one native pass
    if parsed is not None:
        ticks, unit = parsed
        return ticks.view(f"M8[{unit}]")
    values = [_scalar_datetime64(item) for item in items]
    if not values:
        return np.array([], dtype="M8[us]")
    units = [_to_native_unit(np.asarray(v)).dtype for v in values]
    finest = max(units, key=lambda dtype: TICKS_PER_DAY[np.datetime_data(dtype)[0]])
    return np.array([_exact_cast(np.asarray(v), finest) for v in values], dtype=finest)


def _scalar_datetime64(item: Any) -> np.datetime64:
    if isinstance(item, np.datetime64):
        return item
    if _is_pandas(item):
        return np.datetime64(_pandas_to_numpy(item))
    if isinstance(item, _dt.datetime):
        return np.datetime64(_native.utc_microseconds(item), "us")
    if isinstance(item, _dt.date):
        return np.datetime64(item, "D")
    if isinstance(item, str):  # among other kinds of epoch
        parsed = _native.parse_epochs(item)
        assert parsed is not None  # a str is read or refused
        ticks, unit = parsed
        instant: np.datetime64 = ticks.view(f"M8[{unit}]")[0]
        return instant
    raise TypeError(f"not an epoch: {item!r}")


def _to_native_unit(array: np.ndarray) -> np.ndarray:
    """The array in one of TICKS_PER_DAY's units, with a multiplier of one."""
    unit, count = np.datetime_data(array.dtype)
    if unit in _CALENDAR_UNITS:
        return array.astype("M8[D]")
    if unit in _FINER_THAN_NS:
        return array.astype("M8[ns]")
    if count != 1:
        return _exact_cast(array, np.dtype(f"M8[{unit}]"))
    return array


def _exact_cast(array: np.ndarray, dtype: np.dtype) -> np.ndarray:
    """`array` in the finer unit `dtype`; ValueError where that unit cannot hold it."""
    message = f"epoch out of the range of datetime64[{np.datetime_data(dtype)[0]}]"
    try:
        cast = array.astype(dtype)
    except OverflowError:
        raise ValueError(message) from None
    if not np.array_equal(cast.astype(array.dtype), array, equal_nan=True):
        raise ValueError(message)
    return cast
