"""MSIS inputs for 10^7 epochs with dask.array: one `msis_inputs` call per chunk.

    python examples/msis_dask.py                   # the shipped samples in data/
    python examples/msis_dask.py --full            # the full files (../shared/data, or $SUNINDEX_FULL_DATA)
    python examples/msis_dask.py --scheduler threads -n 1e6

Each chunk of epochs becomes one task. The `SpaceWeather` goes into the task
graph once; with the default "processes" scheduler it reaches each worker
pickled (as the files' bytes) and is rebuilt there. Each block's inputs are
averaged in the worker that made them, so only nine numbers per chunk travel
back: a second reduction over the same inputs would stop dask from fusing the
two steps and ship every block whole. "threads" needs no pickling and is
faster on one machine, since `msis_inputs` releases the interpreter lock.
The example prints the throughput, then checks a few epochs against a
direct call.

Needs the `examples` extra: pip install "sunindex[examples]".
"""

import argparse
import datetime
import os
import pickle
import time
from pathlib import Path

import dask
import dask.array as da
import numpy as np

from sunindex_tools import SpaceWeather

HERE = Path(__file__).resolve().parent
SAMPLES = HERE.parent / "data" / "SW-sample.csv"
FULL = Path(os.environ.get("SUNINDEX_FULL_DATA") or HERE.parent.parent / "shared" / "data") / "SW-All.csv"
COLUMNS = ["f107", "f107a"] + [f"ap[{i}]" for i in range(7)]
HISTORY = datetime.timedelta(days=3)  # an epoch's ap history reaches three days back


def msis_block(epochs, sw):
    """One chunk: its MSIS inputs as (n, 9) columns f107, f107a, ap[0..6]."""
    inputs = sw.msis_inputs(epochs)
    return np.column_stack([inputs["f107"], inputs["f107a"], inputs["ap"]])


def observed_span(sw):
    """The instants [first, end) whose whole ap history lies in observed days."""
    first = np.datetime64(sw.sources["csv"].first + HISTORY, "us")
    end = np.datetime64(sw.last_observed + datetime.timedelta(days=1), "us")
    return first, end


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--full", action="store_true", help=f"use {FULL} instead of the sample")
    ap.add_argument("-n", type=float, default=1e7, help="number of epochs (default 1e7)")
    ap.add_argument("--chunk", type=float, default=1e6, help="epochs per chunk (default 1e6)")
    ap.add_argument("--scheduler", choices=("processes", "threads", "synchronous"), default="processes")
    args = ap.parse_args()
    n, chunk = int(args.n), int(args.chunk)

    if args.full and not FULL.is_file():
        raise SystemExit(f"msis_dask.py: no {FULL}: set SUNINDEX_FULL_DATA to the folder holding SW-All.csv")
    sw = SpaceWeather.load(csv=FULL if args.full else SAMPLES)
    first, end = observed_span(sw)
    print(sw)
    print(f"{n:,} epochs drawn from {first} to {end}, "
          f"chunks of {chunk:,}, {args.scheduler} scheduler; SpaceWeather pickles to {len(pickle.dumps(sw)):,} bytes")

    ticks = da.random.default_rng(2024).integers(first.astype(np.int64), end.astype(np.int64), n, chunks=chunk)
    epochs = ticks.astype("M8[us]")
    inputs = epochs.map_blocks(msis_block, sw, dtype=np.float64, new_axis=1, chunks=(epochs.chunks[0], (9,)))
    with dask.config.set(scheduler=args.scheduler):
        start = time.perf_counter()
        means = da.nanmean(inputs, axis=0).compute()
        seconds = time.perf_counter() - start

        print(f"\n{n:,} epochs in {seconds:.2f} s: {n / seconds:,.0f} epochs/s")
        print(" ".join(f"{c:>8}" for c in COLUMNS))
        print(" ".join(f"{v:8.2f}" for v in means) + "   (means)")

        # A few epochs of the first, middle and last chunk as the workers compute
        # them, then straight from the SpaceWeather here. Slices keep each chunk's
        # steps fused; picking scattered elements would ship whole blocks.
        slices = [slice(start, start + 4) for start in (0, n // 2, n - 4)]
        picked = dask.compute(*(inputs[s] for s in slices), *(epochs[s] for s in slices))
    picked_inputs, picked_epochs = np.concatenate(picked[:3]), np.concatenate(picked[3:])
    direct = msis_block(picked_epochs, sw)
    if not np.array_equal(picked_inputs, direct, equal_nan=True):
        raise SystemExit(f"mismatch against a direct call at {picked_epochs[np.any(picked_inputs != direct, axis=1)]}")
    print(f"\n{picked_epochs.size} epochs checked against a direct msis_inputs call: identical")


if __name__ == "__main__":
    main()
