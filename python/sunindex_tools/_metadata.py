"""What each daily column means and is measured in, for the attributes of `to_xarray()`
and `to_pandas()`: the file's numbers travel with their units and their sources."""

from __future__ import annotations

import datetime as _dt
from collections.abc import Mapping
from typing import Any

#: Units as the CF conventions write them ("1" for a pure number or a flag); the
#: solar flux unit (1 sfu = 1e-22 W m-2 Hz-1) as space physics writes it.
_SFU, _AP, _ONE = "sfu", "2 nT", "1"

#: Each column of `SpaceWeather.daily` but the date: its units and its long name.
VARIABLES: dict[str, tuple[str, str]] = {
    "ap": (_AP, "3-hour ap index of each interval"),
    "kp": (_ONE, "3-hour Kp index times 10 of each interval"),
    "dtc": ("K", "JB2008 Dtc temperature change of each hour (DTCFILE)"),
    "f107_data_type": (_ONE, "kind of the F10.7 row: OBS observed, INT interpolated, PRD predicted, PRM monthly"),
    "ssrc": (_ONE, "SOLFSMY source flags of F10, S10, M10 and Y10"),
    "monthly": (_ONE, "the row is a monthly prediction"),
    "f107_source": (_ONE, "kind of file the day's F10.7 came from"),
    "ap_source": (_ONE, "kind of file each 3-hour ap came from"),
    "kp_status": (_ONE, "GFZ flag of the day: 0 Kp preliminary, 1 Kp definitive, 2 Kp and sunspot number "
                        "definitive, -1 no GFZ Kp"),
    "hp30": (_ONE, "GFZ half-hourly Hp30 index of each interval"),
    "ap30": (_AP, "GFZ half-hourly ap30 index of each interval"),
    "hp60": (_ONE, "GFZ hourly Hp60 index of each interval"),
    "ap60": (_AP, "GFZ hourly ap60 index of each interval"),
    "f107_obs": (_SFU, "observed 10.7 cm solar radio flux F10.7"),
    "f107_adj": (_SFU, "F10.7 adjusted to 1 AU"),
    "f107_obs_center81": (_SFU, "81-day centred mean of observed F10.7"),
    "f107_obs_last81": (_SFU, "81-day trailing mean of observed F10.7"),
    "f107_adj_center81": (_SFU, "81-day centred mean of adjusted F10.7"),
    "f107_adj_last81": (_SFU, "81-day trailing mean of adjusted F10.7"),
    "ap_avg": (_AP, "daily planetary equivalent amplitude Ap"),
    "kp_sum": (_ONE, "sum of the eight 3-hour Kp times 10"),
    "cp": (_ONE, "daily planetary character figure Cp"),
    "c9": (_ONE, "daily planetary character figure C9"),
    "isn": (_ONE, "international sunspot number"),
    "bsrn": (_ONE, "Bartels solar rotation number"),
    "nd": (_ONE, "day within the Bartels rotation"),
    "f10": (_SFU, "JB2008 F10.7 index (SOLFSMY F10)"),
    "f81c": (_SFU, "81-day centred mean of F10 (SOLFSMY F81c)"),
    "s10": (_SFU, "JB2008 EUV index S10.7 (SOLFSMY S10)"),
    "s81c": (_SFU, "81-day centred mean of S10 (SOLFSMY S81c)"),
    "m10": (_SFU, "JB2008 MgII index M10.7 (SOLFSMY M10)"),
    "m81c": (_SFU, "81-day centred mean of M10 (SOLFSMY M81c)"),
    "y10": (_SFU, "JB2008 X-ray and Lyman-alpha index Y10.7 (SOLFSMY Y10)"),
    "y81c": (_SFU, "81-day centred mean of Y10 (SOLFSMY Y81c)"),
}


def timeline_attrs(sources: Mapping[str, Any], landmarks: Mapping[str, _dt.date | None]) -> dict[str, str]:
    """The attributes of a whole timeline: each file it was read from (a `Source`) as
    ``source_KEY`` ("gfz#2" as ``source_gfz_2``, a name a netCDF file takes), and the
    `landmarks` days that are known. Text only, so that a Dataset writes to netCDF as it is."""
    attrs = {"title": "daily solar and geomagnetic indices"}
    for name, source in sources.items():
        span = "no rows" if source.first is None else f"{source.first} to {source.last}"
        made = f", made {source.stamp.isoformat(sep=' ')}" if source.stamp else ""
        attrs[f"source_{name.replace('#', '_')}"] = f"{source.path} ({span}{made})"
    attrs.update({key: day.isoformat() for key, day in landmarks.items() if day is not None})
    return attrs
