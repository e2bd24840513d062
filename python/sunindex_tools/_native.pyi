# The native part of sunindex_tools; SpaceWeather is its only caller.
import datetime
from typing import Any, final

import numpy as np
from numpy.typing import NDArray

from sunindex_tools._types import MsisInputsAt

#: The keys of the files a timeline is made from, in load()'s order.
SOURCE_KEYS: tuple[str, ...]
#: The first epoch that got no values, by its index, and why (the reason's key); None if none.
Failed = tuple[int, str] | None

@final
class Timeline:
    def msis(
        self,
        ticks: NDArray[np.int64],
        ticks_per_day: int,
        burst_limit: float | None,
        interpolate: bool,
        prediction: Prediction,
        /,
    ) -> tuple[dict[str, Any], Failed]: ...
    def msis_at(
        self, epoch: datetime.date, burst_limit: float | None, prediction: Prediction, /
    ) -> MsisInputsAt | None: ...
    def jb2008(self, ticks: NDArray[np.int64], ticks_per_day: int, /) -> tuple[dict[str, Any], Failed]: ...
    def daily(self, ticks: NDArray[np.int64], ticks_per_day: int, /) -> tuple[dict[str, Any], Failed]: ...
    def hpo(self, ticks: NDArray[np.int64], ticks_per_day: int, /) -> tuple[dict[str, Any], Failed]: ...
    def summary(self) -> dict[str, Any]: ...
    def msis_forecast(
        self,
        prediction: Prediction,
        ticks: NDArray[np.int64],
        ticks_per_day: int,
        percentiles: NDArray[np.float64],
        burst_limit: float | None,
        paired: bool,
        /,
    ) -> tuple[dict[str, Any], Failed]: ...
    def forecast(
        self,
        prediction: Prediction,
        ticks: NDArray[np.int64],
        ticks_per_day: int,
        percentiles: NDArray[np.float64],
        paired: bool,
        /,
    ) -> tuple[dict[str, Any], Failed]: ...

@final
class Prediction:
    def span(self) -> tuple[int, int]: ...
    def first_full_day(self) -> int: ...

MEAN_HALF_WIDTH: int
LAST_FORECAST_DAY: int

def load(files: tuple[tuple[str, bytes], ...], /) -> Timeline: ...
def utc_microseconds(moment: datetime.date, /) -> int: ...
def parse_epochs(texts: object, /) -> tuple[NDArray[np.int64], str] | None: ...
def load_prediction(content: bytes, /) -> Prediction: ...
def csv_lines(columns: tuple[NDArray[Any], ...], first: int, last: int, /) -> bytes: ...
