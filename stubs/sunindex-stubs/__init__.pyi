# Type information for the sunindex extension module, installed beside it as a
# stub-only package so that type checkers find it after `pip install sunindex`.
import datetime
from typing import Protocol, TypedDict, final, type_check_only

import numpy as np
from numpy.typing import NDArray

__all__ = ["Sunindex"]

# The names below exist only for type checkers: import them under
# `if typing.TYPE_CHECKING:` to annotate your own code.

@type_check_only
class DateLike(Protocol):
    """Anything with integer year, month and day: datetime.date, datetime.datetime, ..."""

    @property
    def year(self) -> int: ...
    @property
    def month(self) -> int: ...
    @property
    def day(self) -> int: ...

@type_check_only
class Record(TypedDict):
    """The values of one day, as returned by `get` and `get_range`; None marks an absent value."""

    date: datetime.date
    f10_7_obs: float | None
    f10_7_adj: float | None
    f10_7_jb: float | None
    f10_7_jb_81c: float | None
    ap_daily: float | None
    ap_3hr: list[float] | None
    kp_3hr: list[float] | None
    s10_7: float | None
    m10_7: float | None
    y10_7: float | None
    dtc: float | None

@type_check_only
class Columns(TypedDict):
    """Every column of a store, as returned by `to_numpy`; NaN marks an absent value."""

    # datetime.date objects; NumPy makes an empty float64 array of an empty store.
    date: NDArray[np.object_]
    f10_7_obs: NDArray[np.float64]
    f10_7_adj: NDArray[np.float64]
    f10_7_jb: NDArray[np.float64]
    f10_7_jb_81c: NDArray[np.float64]
    ap_daily: NDArray[np.float64]
    s10_7: NDArray[np.float64]
    m10_7: NDArray[np.float64]
    y10_7: NDArray[np.float64]
    dtc: NDArray[np.float64]
    # Shape (N, 8), or (0, 0) for an empty store.
    ap_3hr: NDArray[np.float64]
    kp_3hr: NDArray[np.float64]

@final
class Sunindex:
    @staticmethod
    def from_celestrak_csv(path: str) -> Sunindex: ...
    @staticmethod
    def from_set_solfsmy(path: str) -> Sunindex: ...
    @staticmethod
    def from_set_dtcfile(path: str) -> Sunindex: ...
    def get(self, date: DateLike) -> Record | None: ...
    def get_range(self, start: DateLike, end: DateLike) -> list[Record]: ...
    def merge(self, other: Sunindex) -> None: ...
    def len(self) -> int: ...
    def date_range(self) -> tuple[datetime.date, datetime.date] | None: ...
    def to_numpy(self) -> Columns: ...
    def __len__(self) -> int: ...
