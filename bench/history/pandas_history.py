"""The same intraday load as the history loader, done with pandas.

usage: pandas_history.py DIR DAYS        -> prints "pandas_seconds S" (best of 3)
       pandas_history.py DIR DAYS --csv  -> loads once and writes the table as
                                            CSV to standard output, as
                                            `zantrix history` does
"""
import os
import sys
import time

import pandas as pd


def load(directory, start, end):
    names = sorted(n for n in os.listdir(directory) if ".csv" in n)
    frames = [pd.read_csv(os.path.join(directory, n)) for n in names]
    df = pd.concat(frames)
    df = df.sort_values("time_key")
    df = df[(df["time_key"] >= start) & (df["time_key"] <= end)]
    df["time_key"] = pd.to_datetime(df["time_key"])
    return df.dropna().reset_index(drop=True)


def main():
    directory = os.path.join(sys.argv[1], "kline", "K_1M", "BENCH")
    if len(sys.argv) > 3 and sys.argv[3] == "--csv":
        load(directory, "1900-01-01 00:00:00", "2100-01-01 00:00:00").to_csv(
            sys.stdout, index=False)
        return
    best, rows = float("inf"), 0
    for _ in range(3):
        t = time.perf_counter()
        rows = len(load(directory, "1900-01-01 00:00:00", "2100-01-01 00:00:00"))
        best = min(best, time.perf_counter() - t)
    print(f"pandas_seconds {best}")
    print(f"pandas_rows {rows}")


if __name__ == "__main__":
    main()
