#!/usr/bin/env python3
"""Writes the shipped sample history under examples/data (deterministic).

A stock with nine weeks of one-minute day files and a daily file, a
continuous futures series whose contract rolls twice (one-minute day files and
a daily file), and a futures series stored as multi-contract day files.
"""
import datetime as dt
import os
import random

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "kline")


def trading_days(first, last):
    day = first
    while day <= last:
        if day.weekday() < 5:
            yield day
        day += dt.timedelta(days=1)


def minutes(day, sessions):
    for (h0, m0), (h1, m1) in sessions:
        t = dt.datetime.combine(day, dt.time(h0, m0))
        end = dt.datetime.combine(day, dt.time(h1, m1))
        while t < end:
            t += dt.timedelta(minutes=1)
            yield t


def walk(rng, price, step):
    o = price
    c = max(0.01, o * (1 + rng.gauss(0, step)))
    h = max(o, c) * (1 + abs(rng.gauss(0, step / 2)))
    lo = min(o, c) * (1 - abs(rng.gauss(0, step / 2)))
    return o, h, lo, c


def fmt(x, digits):
    return f"{x:.{digits}f}"


def write(path, lines):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def stock():
    rng = random.Random(700)
    sessions = [((9, 30), (12, 0)), ((13, 0), (16, 0))]
    price = 290.0
    daily = ["time_key,open,high,low,close,volume,value,num_trds"]
    for day in trading_days(dt.date(2024, 3, 1), dt.date(2024, 5, 3)):
        rows = ["time_key,open,high,low,close,volume,value,num_trds"]
        d_open, d_high, d_low, d_vol, d_val, d_trd = price, price, price, 0, 0.0, 0
        for t in minutes(day, sessions):
            o, h, lo, c = walk(rng, price, 0.0008)
            o, h, lo, c = (round(x, 1) for x in (o, h, lo, c))
            volume = rng.randrange(100, 20000, 100)
            trades = rng.randrange(5, 120)
            value = round(volume * (o + c) / 2, 1)
            rows.append(f"{t:%Y-%m-%d %H:%M:%S},{fmt(o,1)},{fmt(h,1)},{fmt(lo,1)},{fmt(c,1)},"
                        f"{volume},{fmt(value,1)},{trades}")
            d_high, d_low = max(d_high, h), min(d_low, lo)
            d_vol, d_val, d_trd = d_vol + volume, d_val + value, d_trd + trades
            price = c
        write(os.path.join(ROOT, "K_1M", "HK.00700", f"{day:%Y-%m-%d}.csv"), rows)
        daily.append(f"{day:%Y-%m-%d} 00:00:00,{fmt(d_open,1)},{fmt(d_high,1)},{fmt(d_low,1)},"
                     f"{fmt(price,1)},{d_vol},{fmt(d_val,1)},{d_trd}")
    write(os.path.join(ROOT, "K_1D", "HK.00700", "ohlcv.csv"), daily)


def contract_of(day):
    # The front month rolls on the second last trading day of the month.
    return {3: "HSIJ24", 4: "HSIK24"}.get(day.month, "HSIM24") if day.day >= 27 else \
        {3: "HSIH24", 4: "HSIJ24"}.get(day.month, "HSIK24")


def futures():
    rng = random.Random(2024)
    sessions = [((9, 15), (12, 0)), ((13, 0), (16, 30))]
    price = 16500.0
    header = "time_key,open,high,low,close,volume,ticker"
    daily = [header]
    previous = None
    for day in trading_days(dt.date(2024, 3, 18), dt.date(2024, 5, 3)):
        ticker = contract_of(day)
        if previous and ticker != previous:
            price *= 1.0 + rng.uniform(-0.004, 0.006)  # the next contract trades at a spread
        previous = ticker
        rows = [header]
        d_open, d_high, d_low, d_vol = round(price), round(price), round(price), 0
        for t in minutes(day, sessions):
            o, h, lo, c = (round(x) for x in walk(rng, price, 0.0006))
            volume = rng.randrange(1, 400)
            rows.append(f"{t:%Y-%m-%d %H:%M:%S},{o},{h},{lo},{c},{volume},{ticker}")
            d_high, d_low, d_vol = max(d_high, h), min(d_low, lo), d_vol + volume
            price = c
        write(os.path.join(ROOT, "K_1M", "HK.HSImain", f"{day:%Y-%m-%d}.csv"), rows)
        daily.append(f"{day:%Y-%m-%d} 00:00:00,{d_open},{d_high},{d_low},{round(price)},{d_vol},"
                     f"{ticker}")
    write(os.path.join(ROOT, "K_1D", "HK.HSImain", "ohlcv.csv"), daily)


def multi_contract():
    rng = random.Random(7)
    sessions = [((9, 15), (12, 0)), ((13, 0), (16, 30))]
    for day in trading_days(dt.date(2024, 3, 25), dt.date(2024, 3, 28)):
        near, far = 16400.0, 16450.0
        groups = ["", "meta"] + ["MHIH24"] * 5 + ["MHIJ24"] * 5
        names = ["time_key", "session"] + ["open", "high", "low", "close", "volume"] * 2
        rows = [",".join(groups), ",".join(names)]
        near_share = 0.8 if day.day < 27 else 0.2
        for t in minutes(day, sessions):
            cells = [f"{t:%Y-%m-%d %H:%M:%S}", "AM" if t.hour < 12 else "PM"]
            closes = []
            for share, base in ((near_share, near), (1 - near_share, far)):
                o, h, lo, c = (round(x) for x in walk(rng, base, 0.0006))
                volume = int(rng.randrange(1, 200) * share) + 1
                cells += [str(o), str(h), str(lo), str(c), str(volume)]
                closes.append(c)
            near, far = closes
            if rng.random() < 0.01:
                cells[7] = ""  # an incomplete row of the near contract
            rows.append(",".join(cells))
        write(os.path.join(ROOT, "K_1M", "HK.MHImain", f"{day:%Y-%m-%d}.csv"), rows)


if __name__ == "__main__":
    stock()
    futures()
    multi_contract()
