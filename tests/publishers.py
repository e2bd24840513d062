"""Small files in the publishers' own layouts (GFZ's Kp and Hpo files, SWPC's forecast),
made from a few numbers, for the downloads a test serves."""

import datetime as dt

_GFZ_EPOCH = dt.date(1932, 1, 1)
_BARTELS_EPOCH = dt.date(1832, 2, 8)  # the first day of Bartels rotation 1


def _days(first, count):
    return [first + dt.timedelta(days=d) for d in range(count)]


def gfz_text(first, count, flux=150.0, ap=4, definitive=1):
    """GFZ's Kp_ap_Ap_SN_F107 lines of `count` days from `first`: F10.7 `flux` + the day's
    index, every 3-hour ap `ap` (Kp 1.0)."""
    lines = []
    for index, day in enumerate(_days(first, count)):
        days = (day - _GFZ_EPOCH).days
        rotation, day_of = divmod((day - _BARTELS_EPOCH).days, 27)
        kps = "".join(f"{1.0:7.3f}" for _ in range(8))
        aps = "".join(f"{ap:5d}" for _ in range(8))
        value = flux + index
        lines.append(f"{day:%Y %m %d} {days:5d} {days + 0.5:7.1f} {rotation + 1:4d} {day_of + 1:2d}{kps}{aps}"
                     f"{ap:6d} {100:3d}{value:9.1f}{value:9.1f} {definitive}\n")
    return ("# GFZ Kp_ap_Ap_SN_F107, as the tests make it\n" + "".join(lines)).encode()


def hpo_text(minutes, first, count, hp=1.667, ap=6):
    """GFZ's Hp30_ap30 (`minutes` 30) or Hp60_ap60 (60) lines of `count` days from `first`."""
    lines = []
    for day in _days(first, count):
        days = (day - _GFZ_EPOCH).days
        for start in range(0, 1440, minutes):
            hour, middle = start / 60, (start + minutes / 2) / 60
            lines.append(f"{day:%Y %m %d} {hour:04.1f} {middle:05.2f} {days + start / 1440:11.5f} "
                         f"{days + (start + minutes / 2) / 1440:11.5f} {hp:6.3f} {ap:4d} 0\n")
    return ("# GFZ Hpo, as the tests make it\n" + "".join(lines)).encode()


def swpc_text(first, ap=7, flux=150):
    """SWPC's 45-day forecast of the days from `first`, issued at 21:13 UTC the day before."""
    days = _days(first, 45)

    def block(value):
        pairs = [f"{day:%d%b%y} {value:03d}" for day in days]
        return "".join(" ".join(pairs[i:i + 5]) + "\n" for i in range(0, 45, 5))

    issued = first - dt.timedelta(days=1)
    return (":Product: 45 Day AP Forecast  45DF.txt\n"
            f":Issued: {issued:%Y %b %d} 2113 UTC\n# comment\n45-DAY AP FORECAST\n" + block(ap)
            + "45-DAY F10.7 CM FLUX FORECAST\n" + block(flux) + "FORECASTER:  DY / GATES\n99999\nNNNN\n").encode()
