"""Loads the shipped sample files, merges them and prints what they hold."""

import datetime
from pathlib import Path

from sunindex import Sunindex
from sunindex_tools import SpaceWeather

DATA = Path(__file__).resolve().parent.parent / "data"
DAY = datetime.date(2024, 5, 11)  # the G5 storm of May 2024, present in all three samples


def describe(name, store):
    first, last = store.date_range()
    print(f"  {name:<22} {len(store):>5} days  {first} .. {last}")


def main():
    print("sunindex demo: shipped sample files")
    celestrak = Sunindex.from_celestrak_csv(str(DATA / "SW-sample.csv"))
    solfsmy = Sunindex.from_set_solfsmy(str(DATA / "SOLFSMY-sample.TXT"))
    dtcfile = Sunindex.from_set_dtcfile(str(DATA / "DTCFILE-sample.TXT"))
    for name, store in (("SW-sample.csv", celestrak), ("SOLFSMY-sample.TXT", solfsmy),
                        ("DTCFILE-sample.TXT", dtcfile)):
        describe(name, store)

    celestrak.merge(solfsmy)
    celestrak.merge(dtcfile)
    print("\nmerged into one store:")
    describe("all three", celestrak)

    print(f"\n{DAY}, merged from the three files:")
    for key, value in celestrak.get(DAY).items():
        if isinstance(value, list):
            value = " ".join(f"{v:g}" for v in value)
        print(f"  {key:<13} {value}")

    week = celestrak.get_range(DAY - datetime.timedelta(days=3), DAY + datetime.timedelta(days=3))
    print("\ndaily Ap and Dtc around it:")
    for record in week:
        print(f"  {record['date']}  Ap {record['ap_daily']:>5g}  Dtc {record['dtc']:>6.1f} K")

    show_model_inputs()

    print("\nA picture of 2024: `make plot` draws F10.7, Ap and Dtc into build/indices.png.")


def show_model_inputs():
    """The inputs of the density models at one epoch, from the same three samples."""
    weather = SpaceWeather.load(csv=DATA / "SW-sample.csv", solfsmy=DATA / "SOLFSMY-sample.TXT",
                                dtcfile=DATA / "DTCFILE-sample.TXT")
    epoch = datetime.datetime(2024, 5, 11, 12, tzinfo=datetime.timezone.utc)
    msis = weather.msis_inputs(epoch)
    print(f"\nNRLMSISE-00 / MSIS inputs at {epoch:%Y-%m-%dT%H:%MZ}:")
    print(f"  f107 {msis['f107']}  f107a {msis['f107a']}  ({msis['data_type']})")
    print(f"  ap   {' '.join(f'{v:g}' for v in msis['ap'])}")
    jb2008 = weather.jb2008_inputs(epoch)
    print(f"JB2008 inputs at {epoch:%Y-%m-%dT%H:%MZ} ({jb2008.pop('data_type')}):")
    for key, value in jb2008.items():
        print(f"  {key:<6} {value:g}")


if __name__ == "__main__":
    main()
