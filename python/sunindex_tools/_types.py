"""The types of what `SpaceWeather` takes and gives.

Each dict of results is one generic TypedDict: `F` is the type of a float value, `S` of a
text value (and so on), so that one definition serves a single epoch (Python scalars) and
an array of epochs (NumPy arrays shaped like the epochs).
"""

from __future__ import annotations

import datetime as _dt
from collections.abc import Sequence
from typing import Generic, TypedDict, TypeVar, Union

import numpy as np
from numpy.typing import ArrayLike, NDArray

#: One epoch: a `datetime` (aware converted to UTC, naive taken as UTC; a pandas
#: `Timestamp` is one), a `date` (its midnight UTC), an ISO 8601 string or a
#: `numpy.datetime64`.
EpochLike = Union[str, _dt.date, np.datetime64]
#: One epoch or many: also a `datetime64` or ISO 8601 `str` array of any shape, a pandas
#: `DatetimeIndex` or `Series`, or a list of epochs.
EpochsLike = Union[EpochLike, Sequence[EpochLike], ArrayLike]

#: Float values for epochs of shape S: shape S, or S + (n,) for a row per epoch.
Floats = NDArray[np.float64]
#: Text values with a row per epoch: shape S + (n,).
Texts = NDArray[np.str_]

F = TypeVar("F")  # a float value: float, or Floats
S = TypeVar("S")  # a text value: str, or an array of str
D = TypeVar("D")  # a day: numpy.datetime64 of unit D, or an array of them
B = TypeVar("B")  # a flag: bool, or an array of bool
I = TypeVar("I")  # a small integer: int, or an array of int8


class MsisInputs(TypedDict, Generic[F, S]):
    """NRLMSISE-00 / MSIS inputs (see `SpaceWeather.msis_inputs`)."""

    f107: F  # observed F10.7 of the previous UTC day (sfu)
    f107a: F  # F10.7_OBS_CENTER81 of the day (sfu)
    ap: Floats  # (7,) per epoch: daily Ap, ap now, 3, 6, 9 h before, means of 12-33 h and 36-57 h before
    data_type: S  # the least certain F10.7_DATA_TYPE among the days used: "OBS", "INT", "PRD" or ""


class Jb2008Inputs(TypedDict, Generic[F, S]):
    """JB2008 inputs (see `SpaceWeather.jb2008_inputs`), in the model's argument order."""

    f10: F  # SOLFSMY F10 of the previous day
    f10b: F  # its F81c
    s10: F  # S10 of the previous day
    s10b: F  # its S81c
    xm10: F  # M10 of two days back
    xm10b: F  # its M81c
    y10: F  # Y10 of five days back
    y10b: F  # its Y81c
    dstdtc: F  # the hourly Dtc, linear between whole hours (K)
    data_type: S  # the least certain of the four indices' SOLFSMY flags on the days used: "OBS", "INT", "PRD" or ""


class DailyColumns(TypedDict, Generic[F, S, D, B, I]):
    """Every daily column of an epoch's UTC day (see `SpaceWeather.daily`)."""

    date: D
    ap: Floats  # (8,) per epoch: CSV AP1..AP8, 00-03 UT first
    kp: Floats  # (8,) per epoch: CSV KP1..KP8, Kp x 10 as the file writes it
    dtc: Floats  # (24,) per epoch: DTCFILE's hourly Dtc, 00 UT first
    f107_data_type: S  # CSV F10.7_DATA_TYPE: "OBS", "INT", "PRD", "PRM" or ""
    ssrc: S  # SOLFSMY Ssrc, its four source flags
    monthly: B  # the CSV row is a monthly prediction (PRM)
    f107_source: S  # the kind of file the day's flux came from: "gfz", "csv", "txt", "swpc" or ""
    ap_source: Texts  # (8,) per epoch: the kind of file each 3-hour ap came from, as f107_source
    kp_status: I  # GFZ's flag of the day: 0, 1 or 2 (Kp definitive from 1); -1 where GFZ gave no Kp
    hp30: Floats  # (48,) per epoch: GFZ's half-hourly Hp30, 00:00-00:30 UT first
    ap30: Floats  # (48,) per epoch: its ap30
    hp60: Floats  # (24,) per epoch: GFZ's hourly Hp60, 00-01 UT first
    ap60: Floats  # (24,) per epoch: its ap60
    f107_obs: F
    f107_adj: F
    f107_obs_center81: F
    f107_obs_last81: F
    f107_adj_center81: F
    f107_adj_last81: F
    ap_avg: F
    kp_sum: F
    cp: F
    c9: F
    isn: F
    bsrn: F
    nd: F
    f10: F
    f81c: F
    s10: F
    s81c: F
    m10: F
    m81c: F
    y10: F
    y81c: F


class HpoIndices(TypedDict, Generic[F]):
    """GFZ's Hpo indices of the interval holding an epoch (see `SpaceWeather.hpo`)."""

    hp30: F  # Hp30 of the half hour, open-ended (above 9 in strong storms)
    ap30: F  # its ap30
    hp60: F  # Hp60 of the hour
    ap60: F  # its ap60


class PymsisKwargs(TypedDict):
    """The keyword arguments of `pymsis.calculate` (see `SpaceWeather.pymsis_kwargs`)."""

    f107s: Floats  # shape (1,) for one epoch, else the epochs' shape S
    f107as: Floats  # likewise
    aps: Floats  # (1, 7) for one epoch, else S + (7,)


#: The results for one epoch, and for an array of epochs.
MsisInputsAt = MsisInputs[float, str]
MsisInputsArrays = MsisInputs[Floats, NDArray[np.str_]]
Jb2008InputsAt = Jb2008Inputs[float, str]
Jb2008InputsArrays = Jb2008Inputs[Floats, Texts]
DailyAt = DailyColumns[float, str, np.datetime64, bool, int]
DailyArrays = DailyColumns[Floats, NDArray[np.str_], NDArray[np.datetime64], NDArray[np.bool_], NDArray[np.int8]]
HpoAt = HpoIndices[float]
HpoArrays = HpoIndices[Floats]
