"""The performance of a simple strategy on the shipped sample, cell by cell.

    PYTHONPATH=build/python python3 examples/python/strategy_metrics.py

Loads the one-minute history of HK.00700, trades a moving-average rule on its
half-hour closes, and prints the strategy's metrics against buy-and-hold. The
cells (# %%) run one after another in an editor that knows them, or as a
script.
"""

# %% The shipped sample's configuration, unless ZANTRIX_CONFIG names another.
import os
import pathlib

os.environ.setdefault("ZANTRIX_CONFIG",
                      str(pathlib.Path(__file__).resolve().parent.parent / "zantrix_config.json"))

import pandas as pd

from zantrix.core.data import _get_data
from zantrix.core.security import Stock
from zantrix.plugins.analysis.metrics import (convert_time, holding_period, information_ratio,
                                              modigliani_ratio, percentile,
                                              rolling_maximum_drawdown, sharpe_ratio)

# %% One-minute bars of the whole sample, then the close of each half hour.
stock = Stock("HK.00700", "Tencent")
bars = _get_data(stock, "2024-03-01 00:00:00", "2024-05-03 23:59:59", interval="1min")
bars["bucket"] = bars["time_key"].dt.strftime("%Y-%m-%d ") + \
    bars["time_key"].dt.strftime("%H:%M:%S").map(convert_time)
closes = bars.groupby("bucket")["close"].last()
closes.index = pd.to_datetime(closes.index)
print(f"{len(bars)} one-minute bars, {len(closes)} half hours "
      f"from {closes.index[0]} to {closes.index[-1]}")

# %% The rule: hold the stock through the next half hour while the close is
# above its average of the last eight half hours.
holding = (closes > closes.rolling(8).mean()).shift(1, fill_value=False)
equity = 1_000_000 * (1 + closes.pct_change().fillna(0) * holding).cumprod()
benchmark = 1_000_000 * closes / closes.iloc[0]

# %% Daily figures: the last value of each day, and its simple return.
daily = pd.DataFrame({"strategy": equity, "benchmark": benchmark}).resample("D").last().dropna()
returns = daily.pct_change().dropna()

# %% Trades: each run of holding is one trade, opened and closed on half hours.
starts = holding & ~holding.shift(1, fill_value=False)
ends = holding & ~holding.shift(-1, fill_value=False)
trades = pd.DataFrame({
    "open_datetime": closes.index[starts.to_numpy()].strftime("%Y-%m-%d %H:%M:%S"),
    "close_datetime": (closes.index[ends.to_numpy()] + pd.Timedelta(minutes=30))
    .strftime("%Y-%m-%d %H:%M:%S")})
trades["minutes"] = trades.apply(holding_period, axis=1)

# %% The metrics.
drawdown = rolling_maximum_drawdown(daily["strategy"], window=20)
figures = {
    "final equity": daily["strategy"].iloc[-1],
    "buy-and-hold equity": daily["benchmark"].iloc[-1],
    "Sharpe ratio": sharpe_ratio(returns["strategy"].to_numpy()),
    "information ratio": information_ratio(returns["strategy"].to_numpy(),
                                           returns["benchmark"].to_numpy()),
    "M2 ratio": modigliani_ratio(returns["strategy"].to_numpy(),
                                 returns["benchmark"].to_numpy()),
    "worst 20-day drawdown": drawdown.min(),
    "day of the worst drawdown": drawdown.idxmin().date(),
    "trades": len(trades),
    "median holding (minutes)": percentile(50)(trades["minutes"]),
    "95th percentile holding (minutes)": percentile(95)(trades["minutes"]),
}
for name, value in figures.items():
    print(f"{name:36} {value:,.4f}" if isinstance(value, float) else f"{name:36} {value}")
