"""Times pandas on the rolling maximum drawdown and checks zantrix's results.

    pandas_rolling.py DIR WINDOW...

Reads DIR/input.f64 (native doubles) and, for each window, times
pd.Series(...).rolling(window, min_periods=1).max() and the rolling minimum of
the daily drawdown it gives (best of 3), then compares the outcome with
DIR/zantrix_<window>.f64. Prints one line per window:
"pandas <window> <seconds> <agree|DIFFER> <largest absolute difference>".
"""

import sys
import time

import numpy as np
import pandas as pd

REPEATS = 3
TOLERANCE = 1e-12


def rolling_maximum_drawdown(values, window):
    pv = pd.Series(values, name="pv")
    roll_max = pv.rolling(window, min_periods=1).max()
    daily_drawdown = pv / roll_max - 1.0
    return daily_drawdown.rolling(window, min_periods=1).min()


def best_time(values, window):
    best = None
    result = None
    for _ in range(REPEATS):
        result = None
        start = time.perf_counter()
        result = rolling_maximum_drawdown(values, window)
        took = time.perf_counter() - start
        best = took if best is None else min(best, took)
    return best, result.to_numpy()


def compare(expected, actual):
    if expected.shape != actual.shape:
        return False, float("inf")
    missing = np.isnan(expected)
    if not np.array_equal(missing, np.isnan(actual)):
        return False, float("inf")
    if missing.all():
        return True, 0.0
    diff = float(np.max(np.abs(expected[~missing] - actual[~missing])))
    return diff <= TOLERANCE, diff


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: pandas_rolling.py DIR WINDOW...")
    directory = sys.argv[1]
    values = np.fromfile(f"{directory}/input.f64", dtype=np.float64)
    for window in map(int, sys.argv[2:]):
        seconds, expected = best_time(values, window)
        actual = np.fromfile(f"{directory}/zantrix_{window}.f64", dtype=np.float64)
        agree, diff = compare(expected, actual)
        print(f"pandas {window} {seconds:.6f} {'agree' if agree else 'DIFFER'} {diff:.3g}")


if __name__ == "__main__":
    main()
