"""The Python package against pandas, measured in one Python process.

    PYTHONPATH=BUILD/python /usr/bin/python3 bench/python/bench_python.py

Times, best of a few runs each, and checks that both sides give the same
result:
  - zantrix.core.data._get_data of one instrument's one-minute day files over
    252 and 1,260 days into a DataFrame, against the pandas pipeline of
    bench/history (read_csv per file, concat, sort, text filter,
    to_datetime, dropna);
  - rolling_maximum_drawdown over 10,000,000 values, against the pandas
    rolling maximum and minimum of bench/metrics;
  - DB.select_records of a 100,000-row balance table into a DataFrame, against
    pandas.read_sql_query of the same statement.
Prints one line per measurement with the ratio pandas / zantrix.
"""

import datetime
import importlib.util
import pathlib
import sqlite3
import sys
import tempfile
import time

import numpy as np
import pandas as pd

from zantrix import zantrix_config
from zantrix.core.data import _get_data
from zantrix.core.security import Stock
from zantrix.plugins.analysis.metrics import rolling_maximum_drawdown
from zantrix.plugins.sqlite3.db import DB

BENCH = pathlib.Path(__file__).resolve().parent.parent
BARS_PER_DAY = 390
DRAWDOWN_VALUES = 10_000_000
DRAWDOWN_WINDOW = 252
SELECT_ROWS = 100_000
EVERYTHING = ("1900-01-01 00:00:00", "2100-01-01 00:00:00")


def peer(name):
    """A pandas peer module of another benchmark, bench/<name>.py."""
    spec = importlib.util.spec_from_file_location(pathlib.Path(name).name, BENCH / f"{name}.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def best_of(runs, work):
    best, result = float("inf"), None
    for _ in range(runs):
        result = None
        start = time.perf_counter()
        result = work()
        best = min(best, time.perf_counter() - start)
    return best, result


def write_day_files(directory, days, rng):
    """`days` weekday files of one-minute bars from 2000-01-03 on, as
    bench/history writes them."""
    directory.mkdir(parents=True)
    price = 100.0
    day = datetime.date(2000, 1, 3)
    written = 0
    while written < days:
        if day.weekday() < 5:
            close = price * np.cumprod(1 + rng.normal(0, 0.0005, BARS_PER_DAY))
            open_ = np.concatenate(([price], close[:-1]))
            high = np.maximum(open_, close) * 1.0002
            low = np.minimum(open_, close) * 0.9998
            volume = rng.integers(1, 5001, BARS_PER_DAY)
            start = datetime.datetime.combine(day, datetime.time(9, 30))
            lines = ["time_key,open,high,low,close,volume"]
            for i in range(BARS_PER_DAY):
                t = start + datetime.timedelta(minutes=i + 1)
                lines.append(f"{t:%Y-%m-%d %H:%M:%S},{open_[i]:.2f},{high[i]:.2f},"
                             f"{low[i]:.2f},{close[i]:.2f},{volume[i]}")
            (directory / f"{day:%Y-%m-%d}.csv").write_text("\n".join(lines) + "\n")
            price = close[-1]
            written += 1
        day += datetime.timedelta(days=1)


def history(work, rng):
    pandas_history = peer("history/pandas_history")
    security = Stock("BENCH", "bench")
    rows = []
    for days in (252, 1260):
        root = work / f"history_{days}"
        directory = root / "K_1M" / "BENCH"
        write_day_files(directory, days, rng)
        zantrix_config().DATA_PATH = {"kline": str(root)}
        zantrix_config().TIME_STEP = 60000
        zantrix_config().BAR_CONVENTION = {}
        ours, frame = best_of(3, lambda: _get_data(security, *EVERYTHING, interval="1min"))
        theirs, expected = best_of(3, lambda: pandas_history.load(str(directory), *EVERYTHING))
        pd.testing.assert_frame_equal(frame, expected, check_dtype=False)
        rows.append((f"history load, {days} days ({len(frame):,} bars)", ours, theirs, 6))
    return rows


def drawdown(rng):
    pandas_rolling = peer("metrics/pandas_rolling")
    values = 100 * np.exp(np.cumsum(rng.normal(0, 0.01, DRAWDOWN_VALUES)))
    ours, result = best_of(3, lambda: rolling_maximum_drawdown(values, DRAWDOWN_WINDOW))
    theirs, expected = best_of(
        3, lambda: pandas_rolling.rolling_maximum_drawdown(values, DRAWDOWN_WINDOW))
    np.testing.assert_allclose(result.to_numpy(), expected.to_numpy(), rtol=0, atol=1e-12)
    return [(f"rolling_maximum_drawdown, {DRAWDOWN_VALUES:,} values", ours, theirs, 15)]


def select(work):
    zantrix_config().DB = {"sqlite3": str(work)}
    DB().close()
    start = datetime.datetime(2024, 3, 1, 9, 30)
    with sqlite3.connect(work / "zantrix.db") as connection:
        connection.executemany(
            "INSERT INTO balance (broker_name, broker_environment, broker_account_id, "
            "broker_account, strategy_account_id, strategy_account, strategy_version, "
            "strategy_status, cash, available_cash, unrealized_pnl, update_time, remark) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            (("CQG", "SIMULATE", 1000 + i % 7, f"ACC-{i % 7}", i % 3, "alpha", "1.0", "Running",
              100000.0 + i * 0.25, 90000.0 + i * 0.5, i % 1000 - 500.125,
              f"{start + datetime.timedelta(seconds=i):%Y-%m-%d %H:%M:%S}",
              None if i % 4 == 0 else f"snapshot {i}")
             for i in range(SELECT_ROWS)))
    db = DB()
    connection = sqlite3.connect(work / "zantrix.db")
    ours, frame = best_of(5, lambda: db.select_records("balance"))
    theirs, expected = best_of(
        5, lambda: pd.read_sql_query("SELECT * FROM balance ", connection))
    connection.close()
    db.close()
    assert frame.shape == expected.shape == (SELECT_ROWS, 20)
    pd.testing.assert_series_equal(frame["cash"], expected["cash"])
    assert frame["remark"].isna().sum() == expected["remark"].isna().sum() == SELECT_ROWS // 4
    return [(f"select_records, {SELECT_ROWS:,} rows x 20 columns", ours, theirs, 3)]


def main():
    rng = np.random.default_rng(42)
    with tempfile.TemporaryDirectory() as folder:
        work = pathlib.Path(folder)
        rows = history(work, rng) + drawdown(rng) + select(work)
    print(f"{'':48} {'zantrix s':>10} {'pandas s':>10} {'ratio':>8} {'aim':>6}")
    for name, ours, theirs, aim in rows:
        ratio = theirs / ours
        print(f"{name:48} {ours:10.4f} {theirs:10.4f} {ratio:7.1f}x {aim:5}x"
              f"{'' if ratio >= aim else '  below aim'}")


if __name__ == "__main__":
    sys.exit(main())
